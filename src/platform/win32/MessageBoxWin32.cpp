#include <windows.h>

#include "platform/MessageBox.h"

namespace corvane::platform::detail {

void showNativeMessage(const char* caption, const char* text) {
    ::MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONERROR);
}

}  // namespace corvane::platform::detail
