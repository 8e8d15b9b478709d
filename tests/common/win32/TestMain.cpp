// The test programs' main on Windows: user messages that no test captures are written to
// stderr as "CAPTION: TEXT" lines, as on Linux, instead of waiting in a message box.
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/MessageBox.h"

namespace {
void toStderr(void*, const char* caption, const char* text) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
}
}  // namespace

int main(int argc, char** argv) {
    corvane::platform::setMessageSink(&toStderr, nullptr);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
