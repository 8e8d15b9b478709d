#include <cstdio>

#include "platform/MessageBox.h"

namespace corvane::platform::detail {

void showNativeMessage(const char* caption, const char* text) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
}

}  // namespace corvane::platform::detail
