#include <windows.h>

#include <string>

std::string standInFileName() {
    HMODULE self = nullptr;
    char path[MAX_PATH + 1] = {};
    if (!::GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&standInFileName), &self) ||
        ::GetModuleFileNameA(self, path, MAX_PATH) == 0)
        return "?";
    const std::string full = path;
    const size_t cut = full.find_last_of("\\/");
    return cut == std::string::npos ? full : full.substr(cut + 1);
}
