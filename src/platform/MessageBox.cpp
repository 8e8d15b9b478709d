#include "platform/MessageBox.h"

#include <atomic>
#include <cstdio>

namespace corvane::platform {
namespace {
std::atomic<MessageSink> gSink{nullptr};
std::atomic<void*> gContext{nullptr};
}  // namespace

void showMessage(const char* caption, const char* text) {
    if (MessageSink sink = gSink.load()) {
        sink(gContext.load(), caption, text);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    std::fflush(stderr);
}

void setMessageSink(MessageSink sink, void* context) {
    gContext.store(context);
    gSink.store(sink);
}

}  // namespace corvane::platform
