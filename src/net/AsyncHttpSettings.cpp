// The fetcher's settings and its status line, the same with and without a transport.
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "net/AsyncHttp.h"
#include "platform/MessageBox.h"

namespace corvane::net {

bool AsyncHttp::setTimeout(int milliseconds) {
    if (!root_) {
        platform::showMessage("Error", "No session on set timeout");
        return false;
    }
    connectTimeoutMs_ = milliseconds > 0 ? milliseconds : 0;
    return true;
}

void AsyncHttp::setTransferTimeout(int milliseconds) {
    transferTimeoutMs_ = milliseconds > 0 ? milliseconds : 0;
}

void AsyncHttp::setAnswerLimit(std::size_t bytes) {
    answerLimit_ = bytes;
}

std::string AsyncHttp::statusText() const {
    std::lock_guard<std::mutex> lock(statusMutex_);
    return status_;
}

void AsyncHttp::setStatus(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_ = line;
}

}  // namespace corvane::net
