#pragma once
// The window-system side of the editor: a child window inside the host's window, its events
// and its double-buffered painting. One backend per window system implements it.
#include <cstdint>
#include <memory>

#include "editor/Canvas.h"

namespace corvane::editor {

enum Modifier : unsigned { kShift = 1, kControl = 2, kAlt = 4 };

// Keys the editor handles by themselves; any other key arrives as its text.
enum class Key {
    none,
    left,
    right,
    up,
    down,
    pageUp,
    pageDown,
    home,
    end,
    tab,
    enter,
    escape,
    backspace,
    del,
    character
};

struct MouseEvent {
    double x = 0, y = 0;  // window pixels
    int button = 1;       // 1 left, 2 middle, 3 right
    unsigned modifiers = 0;
    uint32_t timeMs = 0;
};

class WindowClient {
  public:
    virtual ~WindowClient() = default;
    virtual void paint(Canvas& canvas) = 0;
    virtual void mouseDown(const MouseEvent& e) = 0;
    virtual void mouseUp(const MouseEvent& e) = 0;
    virtual void mouseMove(const MouseEvent& e) = 0;
    virtual void wheel(const MouseEvent& e, double steps) = 0;  // positive: away from the user
    virtual void keyDown(Key key, const char* text, unsigned modifiers) = 0;
    virtual void fileDropped(const char* path) = 0;  // a local path
    virtual void mouseLeft() = 0;
};

class NativeWindow {
  public:
    virtual ~NativeWindow() = default;
    // Handles every pending event and repaints when something was invalidated.
    virtual void pump() = 0;
    virtual void invalidate() = 0;
    virtual void resize(int width, int height) = 0;
    virtual bool ok() const = 0;
};

// Creates the child window of parent (the host's native handle); null when it cannot.
std::unique_ptr<NativeWindow> createNativeWindow(void* parent, int width, int height,
                                                 WindowClient& client);

}  // namespace corvane::editor
