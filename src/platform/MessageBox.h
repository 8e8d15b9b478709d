#pragma once
// Modal messages for the user. On Windows a message box (error icon, owned by no window); on
// Linux one line "CAPTION: TEXT" on stderr. Tests may install a sink to capture messages
// instead.

namespace corvane::platform {

// Any thread. Blocks until the user dismisses the box (Windows).
void showMessage(const char* caption, const char* text);

using MessageSink = void (*)(void* context, const char* caption, const char* text);
// Installs a sink that receives every message instead of the user; null restores the box
// (Windows) or stderr (Linux).
void setMessageSink(MessageSink sink, void* context);
// The sink installed now (null when none), and its context.
MessageSink messageSink(void** context);

namespace detail {
// The operating system's own way of showing a message (per-OS source file).
void showNativeMessage(const char* caption, const char* text);
}  // namespace detail

}  // namespace corvane::platform
