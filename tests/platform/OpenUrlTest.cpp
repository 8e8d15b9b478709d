#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/OpenUrl.h"

namespace corvane::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(OpenUrl, AnInstalledOpenerReceivesTheAddressInstead) {
    std::string got;
    setUrlOpener(
        [](void* out, const std::string& address) {
            *static_cast<std::string*>(out) = address;
            return false;
        },
        &got);
    EXPECT_FALSE(openUrl("http://a.example/b"));
    setUrlOpener(nullptr, nullptr);
    EXPECT_EQ(got, "http://a.example/b");
}

// The real launcher runs `xdg-open` from PATH; here PATH leads to a stand-in that records its
// argument after a pause, so nothing is actually opened.
TEST(OpenUrl, TheLauncherIsStartedDetachedWithTheAddressAsOneArgument) {
    std::string tmpl = (fs::temp_directory_path() / "corvane-open-XXXXXX").string();
    const fs::path dir = ::mkdtemp(tmpl.data());
    const fs::path record = dir / "opened";
    {
        std::ofstream script(dir / "xdg-open");
        script << "#!/bin/sh\nsleep 0.4\nprintf '%s' \"$1\" > \"" << record.string()
               << ".tmp\"\nmv \"" << record.string() << ".tmp\" \"" << record.string() << "\"\n";
    }
    ::chmod((dir / "xdg-open").c_str(), 0755);
    const std::string oldPath = ::getenv("PATH") ? ::getenv("PATH") : "/usr/bin:/bin";
    ::setenv("PATH", (dir.string() + ":" + oldPath).c_str(), 1);

    const std::string address = "http://a.example/x?q=$(touch " + (dir / "ran").string() +
                                ") 'quoted' \"double\" `tick`;&|";
    const auto began = Clock::now();
    EXPECT_TRUE(openUrl(address));
    // Not waited for: the stand-in is still sleeping when the call returns.
    EXPECT_LT(Clock::now() - began, 300ms);
    EXPECT_FALSE(fs::exists(record));

    const auto until = Clock::now() + 10s;
    while (!fs::exists(record) && Clock::now() < until)
        std::this_thread::sleep_for(10ms);
    ::setenv("PATH", oldPath.c_str(), 1);
    ASSERT_TRUE(fs::exists(record));
    std::ifstream in(record);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), address);
    EXPECT_FALSE(fs::exists(dir / "ran"));
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace
}  // namespace corvane::platform
