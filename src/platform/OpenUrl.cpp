#include "platform/OpenUrl.h"

#include <atomic>

#if defined(_WIN32)
#include <shellapi.h>
#include <windows.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;
#endif

namespace corvane::platform {
namespace {
std::atomic<UrlOpener> gOpener{nullptr};
std::atomic<void*> gContext{nullptr};

bool launchBrowser(const std::string& address) {
#if defined(_WIN32)
    auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
#else
    // A short-lived shell puts xdg-open in the background and exits at once; only that shell
    // is reaped, the browser launcher itself is never waited for. The address travels as one
    // argument, never through the shell's parser.
    char sh[] = "sh";
    char dashC[] = "-c";
    char script[] = "xdg-open \"$1\" </dev/null >/dev/null 2>&1 &";
    char name[] = "corvane-open";
    std::string arg = address;
    char* argv[] = {sh, dashC, script, name, arg.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
#endif
}
}  // namespace

bool openUrl(const std::string& address) {
    if (UrlOpener opener = gOpener.load()) return opener(gContext.load(), address);
    return launchBrowser(address);
}

void setUrlOpener(UrlOpener opener, void* context) {
    gContext.store(context);
    gOpener.store(opener);
}

}  // namespace corvane::platform
