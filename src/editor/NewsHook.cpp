#include "editor/NewsHook.h"

#include <mutex>

namespace corvane::editor {

namespace {
std::mutex hookMutex;  // user interface threads only; never the audio thread
NewsHook current;
}  // namespace

void setNewsHook(const NewsHook& hook) {
    std::lock_guard<std::mutex> lock(hookMutex);
    current = hook;
}

NewsHook newsHook() {
    std::lock_guard<std::mutex> lock(hookMutex);
    return current;
}

}  // namespace corvane::editor
