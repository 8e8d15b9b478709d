// Loading the REX Shared Library on Windows: the vendor's folder under the common program
// files folder, then the system's library search; critical-error dialogs are suppressed
// during each attempt, and the version comes from the file's version resource.
#include <windows.h>
// shlobj.h needs windows.h first.
#include <shlobj.h>

#include <string>
#include <vector>

#include "platform/RexLibrary.h"
#include "platform/RexLibraryOs.h"

namespace corvane::platform::rexos {
namespace {

constexpr const char* kNames[] = {
    "REX Shared Library Debugging.dll",
    "REX Shared Library Testing.dll",
    "REX Shared Library.dll",
};

// The load code for the system error of a failed LoadLibrary.
int32_t failureCode(DWORD error) {
    switch (error) {
        case ERROR_NOT_ENOUGH_MEMORY:    // 8
        case ERROR_OUTOFMEMORY:          // 14
        case ERROR_TOO_MANY_OPEN_FILES:  // 4
            return kRexLoadOutOfMemory;
        case ERROR_MOD_NOT_FOUND:  // 126
            return kRexLoadNotFound;
        default:
            return kRexLoadCorrupt;
    }
}

HMODULE attempt(const std::string& path, int32_t& code) {
    const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE library = ::LoadLibraryA(path.c_str());
    const DWORD error = library ? ERROR_SUCCESS : ::GetLastError();
    ::SetErrorMode(previous);
    if (!library) code = failureCode(error);
    return library;
}

std::string commonProgramFiles() {
    char folder[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, SHGFP_TYPE_CURRENT,
                                  folder)))
        return {};
    return folder;
}

}  // namespace

int32_t checkSystem() {
    // Windows XP (5.1) or later.
    OSVERSIONINFOEXA wanted{};
    wanted.dwOSVersionInfoSize = sizeof wanted;
    wanted.dwMajorVersion = 5;
    wanted.dwMinorVersion = 1;
    DWORDLONG mask = 0;
    mask = ::VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = ::VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    return ::VerifyVersionInfoA(&wanted, VER_MAJORVERSION | VER_MINORVERSION, mask)
               ? kRexOk
               : kRexSystemTooOld;
}

void* load(const std::string& vendorBase, int32_t& code) {
    std::string base = vendorBase.empty() ? commonProgramFiles() : vendorBase;
    for (char& c : base) {
        if (c == '/') c = '\\';
    }
    if (!base.empty() && base.back() != '\\') base += '\\';
    code = kRexLoadNotFound;
    for (const char* name : kNames) {
        if (!base.empty()) {
            const std::string full = base + "Propellerhead Software\\Rex\\" + name;
            if (full.size() < MAX_PATH) {
                if (HMODULE library = attempt(full, code)) return library;
            }
        }
        if (HMODULE library = attempt(name, code)) return library;
    }
    return nullptr;
}

int32_t version(void* library, int32_t& major, int32_t& minor, int32_t& revision) {
    major = minor = revision = 0;
    char path[MAX_PATH + 1] = {};
    const DWORD n = ::GetModuleFileNameA(static_cast<HMODULE>(library), path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return kRexLoadCorrupt;
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) return kRexOk;
    std::vector<char> data(size);
    if (!::GetFileVersionInfoA(path, 0, size, data.data())) return kRexOk;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
        length < sizeof(VS_FIXEDFILEINFO))
        return kRexOk;
    major = HIWORD(fixed->dwFileVersionMS);
    minor = LOWORD(fixed->dwFileVersionMS);
    revision = HIWORD(fixed->dwFileVersionLS);
    return kRexOk;
}

void* symbol(void* library, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void unload(void* library) {
    if (library) ::FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace corvane::platform::rexos
