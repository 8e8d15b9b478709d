// Loading the sliced-loop library on Windows, in this process: the common program files
// folder and the library search path, the file's version resource and the system's reason
// when nothing loads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/Scratch.h"
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

// Run by AWindowsOlderThanXpIsRefused in a copy of this program that Wine shows an older
// Windows: the library lies ready, and the load gives the code that the parent expects.
TEST(RexLibraryWin32System, DISABLED_ChildLoadsOnTheSystemItWasGiven) {
    const char* expect = std::getenv("CORVANE_REX_CHILD_EXPECT");
    ASSERT_NE(expect, nullptr);
    test::TempDir dir;
    test::installStandIn(dir.path(), "plain");
    platform::setRexVendorFolderForTests(dir.path().string().c_str());
    const int32_t code = rexLoadLibrary();
    if (code == platform::kRexOk) platform::rexUnloadLibrary();
    platform::setRexVendorFolderForTests(nullptr);
    EXPECT_EQ(code, std::atoi(expect));
}

// Runs a copy of this program that Wine tells it runs on the given Windows version (a
// per-program setting of Wine's), with the child test above; returns its output and sets
// `exitCode`.
std::string runOn(const char* windowsVersion, int32_t expect, const fs::path& folder,
                  DWORD& exitCode) {
    char self[MAX_PATH + 1] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string name = test::uniqueName("corvane-on-" + std::string(windowsVersion)) + ".exe";
    const fs::path copy = folder / name;
    fs::copy_file(self, copy);
    const std::string key = "Software\\Wine\\AppDefaults\\" + name;
    HKEY handle = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                          &handle, nullptr) != ERROR_SUCCESS)
        return "cannot create the registry key " + key;
    ::RegSetValueExA(handle, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(windowsVersion),
                     DWORD(strlen(windowsVersion) + 1));
    ::RegCloseKey(handle);

    const fs::path output = folder / (name + ".txt");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = ::CreateFileA(output.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION process{};
    std::string command = "\"" + copy.string() +
                          "\" --gtest_also_run_disabled_tests "
                          "--gtest_filter=RexLibraryWin32System.DISABLED_*";
    ::_putenv(("CORVANE_REX_CHILD_EXPECT=" + std::to_string(expect)).c_str());
    exitCode = 255;
    if (::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                         &startup, &process)) {
        ::WaitForSingleObject(process.hProcess, 60000);
        ::GetExitCodeProcess(process.hProcess, &exitCode);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::_putenv("CORVANE_REX_CHILD_EXPECT=");
    ::CloseHandle(out);
    ::RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    std::ifstream in(output);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(RexLibraryWin32System, AWindowsOlderThanXpIsRefused) {
    // Only Wine lets a test choose the Windows version that a program sees.
    if (!::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        GTEST_SKIP() << "not running under Wine";
    test::TempDir dir;
    const struct {
        const char* windows;
        int32_t code;
    } cases[] = {{"win2k", platform::kRexSystemTooOld}, {"winxp", platform::kRexOk}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.windows);
        DWORD exitCode = 0;
        const std::string output = runOn(c.windows, c.code, dir.path(), exitCode);
        EXPECT_EQ(exitCode, 0u) << output;
        EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
    }
}

}  // namespace
}  // namespace corvane
