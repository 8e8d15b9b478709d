#include "shell/EditorLink.h"

#include <atomic>

namespace corvane {

namespace {
std::atomic<EditorFactory> factory{nullptr};
}

void setEditorFactory(EditorFactory f) {
    factory.store(f);
}

EditorFactory editorFactory() {
    return factory.load();
}

}  // namespace corvane
