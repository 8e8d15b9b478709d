#pragma once
// The X11 backend: the editor's child window on its own display connection, cairo drawing
// into an off-screen image copied to the window in one step, pointer, keyboard and XDND
// file drops. The only place in the editor that speaks to the X server.
#include "editor/NativeWindow.h"

namespace corvane::editor::x11 {

// The X11 window id (a native handle from the host) as the host passes it in effEditOpen.
std::unique_ptr<NativeWindow> createWindow(unsigned long parent, int width, int height,
                                           WindowClient& client);

}  // namespace corvane::editor::x11
