#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "common/Scratch.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/Threads.h"

namespace corvane::platform {
namespace {

TEST(PathsWin32, StoredPathsPassWithDriveLettersAndBackslashes) {
    EXPECT_EQ(toOsPath("C:\\Samples\\a b\\c.wav"), "C:\\Samples\\a b\\c.wav");
    EXPECT_EQ(toOsPath("C:/Samples/kit.sfz"), "C:\\Samples\\kit.sfz");
    EXPECT_EQ(toOsPath("\\\\server\\share\\kit.sfz"), "\\\\server\\share\\kit.sfz");
}

TEST(PathsWin32, TheSystemFolderIsSeenThroughItsDriveLetter) {
    EXPECT_TRUE(pathExists("C:\\windows"));
    EXPECT_TRUE(isDirectory("C:\\windows\\"));
    EXPECT_TRUE(isDirectory("c:/WINDOWS"));  // case and slashes as the system allows
    EXPECT_FALSE(isDirectory("C:\\windows\\system32\\kernel32.dll"));
    const std::vector<std::string> top = listSubfolders("C:\\");
    EXPECT_NE(
        std::find_if(top.begin(), top.end(),
                     [](const std::string& n) { return _stricmp(n.c_str(), "windows") == 0; }),
        top.end());
    EXPECT_TRUE(listSubfolders("Q:\\no such drive\\").empty());
}

TEST(PathsWin32, FilesOpenOnlyAsFilesAndWriteBack) {
    const std::filesystem::path root = test::makeScratchFolder("corvane-win32");
    const std::string folder = root.string();
    ASSERT_EQ(folder[1], ':');  // the temporary folder lies on a drive
    std::FILE* out = openWrite(folder + "\\kit.sfz");
    ASSERT_NE(out, nullptr);
    std::fputs("<region>", out);
    std::fclose(out);
    std::FILE* in = openRead(folder + "\\kit.sfz");
    ASSERT_NE(in, nullptr);
    char text[16] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text, in), 8u);
    std::fclose(in);
    EXPECT_STREQ(text, "<region>");
    EXPECT_EQ(openRead(folder), nullptr);
    EXPECT_EQ(openRead(folder + "\\none.sfz"), nullptr);
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
}

TEST(PathsWin32, ProgramFolderAndSleep) {
    const std::string exe = executableFolder();
    EXPECT_TRUE(isDirectory(exe)) << exe;
    EXPECT_EQ(pluginFileName("Corvane"), "Corvane.dll");
    const auto start = std::chrono::steady_clock::now();
    sleepMs(20);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(15));
}

}  // namespace
}  // namespace corvane::platform
