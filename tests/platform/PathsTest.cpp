#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "common/Scratch.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"

namespace corvane::platform {
namespace {

namespace fs = std::filesystem;

struct Scratch {
    Scratch() : root(test::makeScratchFolder("corvane-paths")) {}
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    std::string storedRoot() const {
        std::string s = root.string();
        std::replace(s.begin(), s.end(), '/', '\\');
        return s;
    }
    fs::path root;
};

TEST(Paths, AbsoluteFormsAndTheBoundaryConversion) {
    EXPECT_TRUE(isAbsolutePath("C:\\Samples"));
    EXPECT_TRUE(isAbsolutePath("\\home\\me"));
    EXPECT_TRUE(isAbsolutePath("/home/me"));
    EXPECT_FALSE(isAbsolutePath("Samples\\kick.wav"));
    EXPECT_FALSE(isAbsolutePath(""));
}

TEST(Paths, StoredPathsReachTheFileSystem) {
    Scratch s;
    fs::create_directories(s.root / "Kits" / "New");
    fs::create_directories(s.root / "Kits" / "Old");
    std::ofstream(s.root / "Kits" / "kit.sfz") << "<region>";
    const std::string kits = s.storedRoot() + "\\Kits";
    EXPECT_TRUE(pathExists(kits + "\\kit.sfz"));
    EXPECT_FALSE(pathExists(kits + "\\none.sfz"));
    EXPECT_TRUE(isDirectory(kits));
    EXPECT_FALSE(isDirectory(kits + "\\kit.sfz"));
    std::vector<std::string> subs = listSubfolders(kits + "\\");
    std::sort(subs.begin(), subs.end());
    EXPECT_EQ(subs, (std::vector<std::string>{"New", "Old"}));
    EXPECT_TRUE(listSubfolders(kits + "\\Gone").empty());

    std::FILE* f = openRead(kits + "\\kit.sfz");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_EQ(openRead(kits + "\\New"), nullptr);  // a folder is not a file
    EXPECT_EQ(openRead(kits + "\\none.sfz"), nullptr);
}

TEST(Paths, MessagesGoToTheSinkWhileOneIsSet) {
    struct Seen {
        std::string line;
    } seen;
    setMessageSink(
        [](void* c, const char* caption, const char* text) {
            static_cast<Seen*>(c)->line = std::string(caption) + ": " + text;
        },
        &seen);
    showMessage("Error", "File not found (x.sfz)");
    void* context = nullptr;
    EXPECT_NE(messageSink(&context), nullptr);
    EXPECT_EQ(context, &seen);
    setMessageSink(nullptr, nullptr);
    EXPECT_EQ(seen.line, "Error: File not found (x.sfz)");
    EXPECT_EQ(messageSink(&context), nullptr);
}

}  // namespace
}  // namespace corvane::platform
