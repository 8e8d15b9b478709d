#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/SharedLibrary.h"

namespace corvane::platform {

namespace {

std::string systemErrorText(DWORD code) {
    char text[512] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, text, sizeof text - 1, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return "system error " + std::to_string(code) + (s.empty() ? "" : " (" + s + ")");
}

int WINAPI messageBoxToStderr(HWND, LPCSTR text, LPCSTR caption, UINT) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    std::fflush(stderr);
    return IDOK;
}

}  // namespace

void* loadSharedLibrary(const std::string& osPath, std::string* error) {
    HMODULE library = ::LoadLibraryA(osPath.c_str());
    if (!library && error)
        *error = "cannot load " + osPath + ": " + systemErrorText(::GetLastError());
    return reinterpret_cast<void*>(library);
}

void* sharedLibrarySymbol(void* library, const char* name) {
    if (!library) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void unloadSharedLibrary(void* library) {
    if (library) ::FreeLibrary(static_cast<HMODULE>(library));
}

// Rewrites the library's import of user32's MessageBoxA so that it reaches stderr.
void routeLibraryMessagesToStderr(void* library) {
    if (!library) return;
    auto* base = static_cast<unsigned char*>(library);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return;
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return;
    for (auto* imp = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         imp->Name != 0; ++imp) {
        if (::lstrcmpiA(reinterpret_cast<const char*>(base + imp->Name), "user32.dll") != 0)
            continue;
        if (imp->OriginalFirstThunk == 0) continue;
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), "MessageBoxA") != 0)
                continue;
            DWORD old = 0;
            if (!::VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                                  &old))
                return;
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(&messageBoxToStderr);
            ::VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
        }
    }
}

}  // namespace corvane::platform
