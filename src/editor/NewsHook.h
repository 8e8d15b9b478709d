#pragma once
// The editor's news button: its text and what a click does come from whoever provides the
// news (any thread may set the hook before editors open; the text is read on the user
// interface thread at every repaint).
namespace corvane::editor {

struct NewsHook {
    const char* (*text)(void* context) = nullptr;  // null or returning null: "---"
    void (*clicked)(void* context) = nullptr;
    void* context = nullptr;
};

void setNewsHook(const NewsHook& hook);
NewsHook newsHook();

}  // namespace corvane::editor
