#include "StderrCapture.h"

#include <unistd.h>

#include <cstdint>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#include <sanitizer/common_interface_defs.h>
#define CORVANE_SANITIZER_REPORTS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#include <sanitizer/common_interface_defs.h>
#define CORVANE_SANITIZER_REPORTS 1
#endif
#endif

namespace corvane::render {

namespace {
// A sanitizer report ends the process; it must reach the real stderr, not the temporary
// file nobody reads after that.
void sendSanitizerReportsTo([[maybe_unused]] int fd) {
#ifdef CORVANE_SANITIZER_REPORTS
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
#endif
}
}  // namespace

StderrCapture::StderrCapture() {
    std::fflush(stderr);
    std::FILE* file = std::tmpfile();
    if (!file) return;
    savedFd_ = ::dup(2);
    const int consoleFd = savedFd_ >= 0 ? ::dup(savedFd_) : -1;
    console_ = consoleFd >= 0 ? ::fdopen(consoleFd, "w") : nullptr;
    if (!console_ || ::dup2(::fileno(file), 2) < 0) {
        if (console_) std::fclose(console_);
        if (savedFd_ >= 0) ::close(savedFd_);
        console_ = nullptr;
        savedFd_ = -1;
        std::fclose(file);
        return;
    }
    std::setvbuf(console_, nullptr, _IONBF, 0);
    file_ = file;
    sendSanitizerReportsTo(savedFd_);
}

StderrCapture::~StderrCapture() {
    if (!file_) return;
    const std::string rest = take();
    ::dup2(savedFd_, 2);
    sendSanitizerReportsTo(2);
    ::close(savedFd_);
    std::fclose(console_);
    std::fclose(file_);
    std::fputs(rest.c_str(), stderr);
    std::fflush(stderr);
}

// fd 2 and the temporary file share one file position: reading moves it, so the reading
// goes on to the end, where the next write then lands.
std::string StderrCapture::take() {
    if (!file_) return {};
    std::fflush(stderr);
    const int fd = ::fileno(file_);
    if (::lseek(fd, readTo_, SEEK_SET) < 0) return {};
    std::string text;
    char buffer[4096];
    for (;;) {
        const auto got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
    }
    readTo_ += static_cast<long>(text.size());
    ::lseek(fd, readTo_, SEEK_SET);
    return text;
}

}  // namespace corvane::render
