// Loading the sliced-loop library on Windows, in this process: the common program files
// folder and the library search path, the file's version resource and the system's reason
// when nothing loads.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/win32/RexCommonFolder.h"
#include "content/ContentTestUtil.h"
#include "content/RexTestUtil.h"
#include "platform/RexLibrary.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using platform::rexLoadLibrary;

class RexLibraryWin32 : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!common_.blocked().empty()) GTEST_SKIP() << common_.blocked();
        log_ = dir_.path() / "calls.log";
        test::setCallLog(log_);
        platform::setRexVendorFolderForTests(nullptr);  // the system's own folder
    }
    void TearDown() override {
        test::setCallLog({});
        EXPECT_FALSE(platform::rexLibraryLoaded());
    }

    // A build of the stand-in as `name` in the common folder.
    void inCommon(const std::string& variant, const std::string& name = test::rexPlainName()) {
        common_.install(test::standInBuild(variant), name);
    }
    // A build of the stand-in as `name` in a folder on the library search path.
    void onSearchPath(const std::string& variant, const std::string& name = test::rexPlainName()) {
        test::copyStandIn(searchFolder(), variant, name);
    }
    fs::path searchFolder() const { return dir_.path() / "search"; }

    // Loads, notes the loaded library's file and unloads; returns the load's code.
    int32_t loadOnce(std::string* loadedFrom = nullptr) {
        const int32_t code = rexLoadLibrary();
        if (code == platform::kRexOk) {
            if (loadedFrom) *loadedFrom = loadedFile();
            platform::rexUnloadLibrary();
        }
        return code;
    }
    // The full path of the library loaded now, by the stand-in's own account of its name.
    std::string loadedFile() const {
        for (const std::string& name :
             {test::rexDebuggingName(), test::rexTestingName(), test::rexPlainName()}) {
            if (HMODULE m = ::GetModuleHandleA(name.c_str())) {
                char path[MAX_PATH + 1] = {};
                ::GetModuleFileNameA(m, path, MAX_PATH);
                return path;
            }
        }
        return {};
    }
    std::vector<std::string> calls() const { return test::readLines(log_); }

    test::RexCommonFolder common_;
    test::TempDir dir_;
    test::LibrarySearchFolder search_{dir_.path() / "search"};
    fs::path log_;
};

bool sameFile(const std::string& a, const fs::path& b) {
    std::error_code ec;
    return fs::equivalent(fs::path(a), b, ec);
}

TEST_F(RexLibraryWin32, FoundInTheCommonProgramFilesFolderAndLetGoAfterwards) {
    inCommon("plain");
    std::string from;
    ASSERT_EQ(loadOnce(&from), platform::kRexOk);
    EXPECT_TRUE(sameFile(from, common_.folder() / test::rexPlainName())) << from;
    // Unloaded means gone from the process: the next import loads the file afresh.
    EXPECT_EQ(::GetModuleHandleA(test::rexPlainName().c_str()), nullptr);
    const auto log = calls();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "load " + test::rexPlainName());
    EXPECT_EQ(log.back(), "unload " + test::rexPlainName());
}

TEST_F(RexLibraryWin32, EachNameIsTriedInTheCommonFolderThenThroughTheSearchPath) {
    // The same name in both places: the common folder's is taken.
    inCommon("plain");
    onSearchPath("closed");
    std::string from;
    EXPECT_EQ(loadOnce(&from), platform::kRexOk);
    EXPECT_TRUE(sameFile(from, common_.folder() / test::rexPlainName())) << from;

    // An earlier name through the search path comes before a later name in the common
    // folder: here the refused build, so the plain one is never reached.
    onSearchPath("closed", test::rexTestingName());
    EXPECT_EQ(loadOnce(), platform::kRexLoadCorrupt);
    onSearchPath("plain", test::rexTestingName());
    EXPECT_EQ(loadOnce(&from), platform::kRexOk);
    EXPECT_TRUE(sameFile(from, searchFolder() / test::rexTestingName())) << from;

    // The debugging build before the testing build, wherever each is.
    inCommon("plain", test::rexTestingName());
    onSearchPath("plain", test::rexDebuggingName());
    EXPECT_EQ(loadOnce(&from), platform::kRexOk);
    EXPECT_TRUE(sameFile(from, searchFolder() / test::rexDebuggingName())) << from;
}

TEST_F(RexLibraryWin32, TheFileVersionResourceDecides) {
    // The Windows builds of the stand-in carry their version only in the resource: a loader
    // asking the library itself would find no version and refuse even the good ones.
    const struct {
        const char* variant;
        int32_t code;
    } cases[] = {
        {"plain", platform::kRexOk},              // 1.1.1.0, the oldest taken
        {"later", platform::kRexOk},              // 1.2.0.0: a lower revision is no matter
        {"old", platform::kRexLoadTooOld},        // 1.1.0.9: the build number is no matter
        {"new", platform::kRexLoadTooNew},        // 2.0.0.0
        {"noversion", platform::kRexLoadTooOld},  // no resource: major 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.variant);
        inCommon(c.variant);
        EXPECT_EQ(loadOnce(), c.code);
        EXPECT_FALSE(platform::rexLibraryLoaded());
        EXPECT_EQ(::GetModuleHandleA(test::rexPlainName().c_str()), nullptr);
    }
}

TEST_F(RexLibraryWin32, WhenNothingLoadsTheLastAttemptsSystemErrorGivesTheCode) {
    // Nowhere at all: "module not found" for the last bare name.
    EXPECT_EQ(loadOnce(), platform::kRexLoadNotFound);

    // Found through the search path, but a library it needs is nowhere: the system reports
    // that module as not found too.
    {
        const test::LibrarySearchFolder needy(test::standInBuild("needsdep").parent_path());
        EXPECT_EQ(loadOnce(), platform::kRexLoadNotFound);
    }

    // A file that is no library, as the last name tried: corrupt.
    dir_.write("search/" + test::rexPlainName(), std::string("not a library"));
    EXPECT_EQ(loadOnce(), platform::kRexLoadCorrupt);

    // The same file in the common folder only: the bare name is still tried after it, and
    // its "not found" is the last word.
    fs::remove(searchFolder() / test::rexPlainName());
    common_.install(dir_.write("garbage.dll", std::string("not a library")), test::rexPlainName());
    EXPECT_EQ(loadOnce(), platform::kRexLoadNotFound);

    // A library refused after it loaded says why, whatever came before it.
    inCommon("incomplete");
    EXPECT_EQ(loadOnce(), platform::kRexLoadCorrupt);
}

}  // namespace
}  // namespace corvane
