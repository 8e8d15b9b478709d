#include <gtest/gtest.h>

#include "platform/MessageBox.h"
#include "platform/Paths.h"

namespace corvane::platform {
namespace {

TEST(PathsPosix, BackslashesBecomeSlashesAtTheBoundary) {
    EXPECT_EQ(toOsPath("\\tmp\\a b\\c.wav"), "/tmp/a b/c.wav");
    EXPECT_EQ(toOsPath("/tmp/x"), "/tmp/x");
}

TEST(PathsPosix, WithoutASinkMessagesAreStderrLines) {
    void* context = nullptr;
    MessageSink before = messageSink(&context);
    setMessageSink(nullptr, nullptr);
    testing::internal::CaptureStderr();
    showMessage("Error", "File not found (y.sfz)");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: File not found (y.sfz)\n");
    setMessageSink(before, context);
}

}  // namespace
}  // namespace corvane::platform
