#pragma once
// Modal messages for the user. On Linux a message is one line "CAPTION: TEXT" on stderr.
// Tests may install a sink to capture messages instead.

namespace corvane::platform {

void showMessage(const char* caption, const char* text);

using MessageSink = void (*)(void* context, const char* caption, const char* text);
// Installs a sink that receives every message instead of stderr; null restores stderr.
void setMessageSink(MessageSink sink, void* context);

}  // namespace corvane::platform
