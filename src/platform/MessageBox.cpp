#include "platform/MessageBox.h"

#include <atomic>

namespace corvane::platform {
namespace {
std::atomic<MessageSink> gSink{nullptr};
std::atomic<void*> gContext{nullptr};
}  // namespace

void showMessage(const char* caption, const char* text) {
    if (MessageSink sink = gSink.load()) {
        sink(gContext.load(), caption ? caption : "", text ? text : "");
        return;
    }
    detail::showNativeMessage(caption ? caption : "", text ? text : "");
}

void setMessageSink(MessageSink sink, void* context) {
    gContext.store(context);
    gSink.store(sink);
}

MessageSink messageSink(void** context) {
    if (context) *context = gContext.load();
    return gSink.load();
}

}  // namespace corvane::platform
