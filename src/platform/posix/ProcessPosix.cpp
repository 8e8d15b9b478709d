#include <unistd.h>

#include <filesystem>

#include "platform/Process.h"

namespace corvane::platform {

std::string executableFolder() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : self.parent_path().string();
}

bool stderrIsTerminal() {
    return ::isatty(STDERR_FILENO) != 0;
}

std::string pluginFileName(const std::string& baseName) {
    return baseName + ".so";
}

}  // namespace corvane::platform
