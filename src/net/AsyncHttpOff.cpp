// The fetcher of a build without the news fetch (CORVANE_NEWS=OFF): every fetch fails at
// once, so the news line shows "---" and no request is ever made.
#include <cstdarg>
#include <cstdio>

#include "net/AsyncHttp.h"
#include "platform/MessageBox.h"

namespace corvane::net {

AsyncHttp::AsyncHttp(void* owner) : owner_(owner) {}

AsyncHttp::~AsyncHttp() {
    owner_.store(nullptr, std::memory_order_release);
}

bool AsyncHttp::openSession(Completion completion) {
    completion_ = completion;
    root_ = this;  // a session without a transport
    return true;
}

bool AsyncHttp::start(const char*) {
    if (started_) return false;
    started_ = true;
    setStatus("start failed with error %d: built without the news fetch", 0);
    finish(true);
    return false;
}

void AsyncHttp::finish(bool failed) {
    if (completed_) return;
    completed_ = true;
    error_ = failed;
    endStatus_ = statusText();
    setStatus("Closed");
    if (completion_) completion_(*this);
    finished_.store(true, std::memory_order_release);
}

}  // namespace corvane::net
