#include <io.h>
#include <windows.h>

#include "platform/Process.h"

namespace corvane::platform {

std::string executableFolder() {
    char path[MAX_PATH + 1] = {};
    const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return ".";
    std::string s(path, n);
    const size_t cut = s.find_last_of("\\/");
    return cut == std::string::npos ? std::string(".") : s.substr(0, cut);
}

bool stderrIsTerminal() {
    return ::_isatty(2) != 0;
}

std::string pluginFileName(const std::string& baseName) {
    return baseName + ".dll";
}

}  // namespace corvane::platform
