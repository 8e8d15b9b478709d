// The news button in the editor's header. A plug-in built into this test shows the news of a
// loopback server and hands the addresses it would open to the test; the shipped Corvane.so
// keeps its built-in address, which never resolves.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EditorHarness.h"
#include "TestHost.h"
#include "editor/Editor.h"
#include "net/LoopbackServer.h"
#include "net/News.h"
#include "platform/FpEnvironment.h"
#include "platform/OpenUrl.h"
#include "shell/VstSynth.h"

namespace fs = std::filesystem;
using corvane::net::NewsBoard;
using corvane::net::testing::LoopbackServer;
using corvane::net::testing::Reply;
using corvane::testhost::EditorHarness;
using corvane::testhost::Plugin;
using corvane::testhost::Rgb;
using corvane::testhost::Xvfb;
using Clock = std::chrono::steady_clock;

namespace {

// The button at 100 % zoom.
constexpr int kNewsX = 774, kNewsY = 6, kNewsW = 176, kNewsH = 28;
constexpr int kNewsCentre = kNewsX + kNewsW / 2;
constexpr const char* kPath = "/corvane-news.php";

// The columns of the button that hold text: light pixels on its dark fill.
struct Ink {
    int left = -1, right = -1;
    int width() const { return left < 0 ? 0 : right - left + 1; }
    double centre() const { return (left + right) / 2.0; }
};

Ink newsInk(EditorHarness& harness) {
    const int x0 = kNewsX + 3, w = kNewsW - 6, h = kNewsH - 8;
    const std::vector<Rgb> pixels = harness.grab(x0, kNewsY + 4, w, h);
    Ink ink;
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) {
            const Rgb& p = pixels[y * w + x];
            if (p.r + p.g + p.b > 3 * 110) {
                if (ink.left < 0) ink.left = x0 + x;
                ink.right = x0 + x;
                break;
            }
        }
    return ink;
}

// A white key of the on-screen keyboard, painted after the header.
bool keyboardIntact(EditorHarness& harness) {
    const Rgb p = harness.pixel(86, 604);
    return std::abs(p.r - 237) <= 6 && std::abs(p.g - 237) <= 6 && std::abs(p.b - 235) <= 6;
}

// Plug-ins made by this test: their editors show `gBoard` and fetch `gUrl`.
NewsBoard* gBoard = nullptr;
std::string gUrl;

corvane::EditorLink* makeTestEditor(corvane::VstSynth& synth) {
    return new corvane::editor::ADEditor(synth, gBoard, gUrl);
}

vst::AEffect* CORVANE_CDECL testEntry(vst::HostCallback host) {
    corvane::platform::FpEnvironmentGuard fp;
    corvane::setEditorFactory(&makeTestEditor);
    return (new corvane::VstSynth(host))->getAeffect();
}

class NewsButton : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(xvfb_.ok()) << "Xvfb could not be started";
        gBoard = &board_;
        corvane::platform::setUrlOpener(&NewsButton::capture, this);
    }
    void TearDown() override {
        harness_.reset();
        plugin_.reset();
        corvane::platform::setUrlOpener(nullptr, nullptr);
        gBoard = nullptr;
        gUrl.clear();
    }

    // A new plug-in instance with its editor open.
    void openEditor() {
        harness_.reset();
        plugin_.reset();
        std::string error;
        plugin_ = Plugin::create(&testEntry, &error);
        ASSERT_TRUE(plugin_) << error;
        plugin_->start(44100.0, 512);
        harness_ = std::make_unique<EditorHarness>(*plugin_);
        ASSERT_TRUE(harness_->ok());
        ASSERT_TRUE(harness_->open());
    }

    // Pumps the editor until the board has news (at most five seconds), then once more so
    // that the idle call that notices them has painted.
    bool waitForNews() {
        const auto until = Clock::now() + std::chrono::seconds(5);
        while (!board_.news() && Clock::now() < until)
            harness_->idle(10);
        harness_->idle(30);
        return board_.news() != nullptr;
    }

    static bool waitForRequests(const LoopbackServer& server, int count) {
        const auto until = Clock::now() + std::chrono::seconds(5);
        while (server.requestCount() < count && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return server.requestCount() >= count;
    }

    std::vector<std::string> opened() {
        std::lock_guard<std::mutex> lock(mutex_);
        return opened_;
    }

    static bool capture(void* self, const std::string& address) {
        auto* test = static_cast<NewsButton*>(self);
        std::lock_guard<std::mutex> lock(test->mutex_);
        test->opened_.push_back(address);
        return true;
    }

    Xvfb xvfb_;
    NewsBoard board_;
    std::unique_ptr<Plugin> plugin_;
    std::unique_ptr<EditorHarness> harness_;
    std::mutex mutex_;
    std::vector<std::string> opened_;
};

#if CORVANE_NEWS_BUILT

TEST_F(NewsButton, ShowsTheNewsCentredAndAClickOpensItsLink) {
    LoopbackServer server([](const std::string&) {
        return Reply(200, "www.example.org/news/7\nFresh sounds for spring");
    });
    gUrl = server.url(kPath);
    openEditor();
    ASSERT_TRUE(waitForNews());
    ASSERT_EQ(server.requestCount(), 1);
    EXPECT_EQ(server.requests()[0].path, kPath);
    // The text is far wider than "---" and sits in the middle of the button.
    const Ink ink = newsInk(*harness_);
    EXPECT_GT(ink.width(), 100);
    EXPECT_NEAR(ink.centre(), kNewsCentre, 3.0);
    EXPECT_TRUE(keyboardIntact(*harness_));

    harness_->click(kNewsCentre, kNewsY + 14);
    EXPECT_EQ(opened(), std::vector<std::string>{"http://www.example.org/news/7"});
    harness_->click(kNewsCentre, kNewsY + 14);
    EXPECT_EQ(opened().size(), 2u);
    EXPECT_EQ(harness_->errors(), 0);
}

// Text only (its one line feed is the last byte), with bytes that are not UTF-8: the button
// shows it with replacement characters, the rest of the window is drawn, and a click opens
// nothing.
TEST_F(NewsButton, TextWithoutALinkIsShownAndClicksOpenNothing) {
    LoopbackServer server(
        [](const std::string&) { return Reply(200, "Caf\xC3\xA9 \xFF\xFE news, no link\n"); });
    gUrl = server.url(kPath);
    openEditor();
    ASSERT_TRUE(waitForNews());
    EXPECT_GT(newsInk(*harness_).width(), 80);
    EXPECT_TRUE(keyboardIntact(*harness_));
    harness_->click(kNewsCentre, kNewsY + 14);
    harness_->idle(20);
    EXPECT_TRUE(opened().empty());
    EXPECT_EQ(harness_->errors(), 0);
}

TEST_F(NewsButton, LaterEditorsShowTheNewsWithoutANewRequest) {
    LoopbackServer server(
        [](const std::string&) { return Reply(200, "www.example.org\nOne request only"); });
    gUrl = server.url(kPath);
    openEditor();
    ASSERT_TRUE(waitForNews());
    const Ink first = newsInk(*harness_);
    // The same window reopened, then a second plug-in instance: both show the news at once.
    harness_->close();
    ASSERT_TRUE(harness_->open());
    harness_->idle(20);
    EXPECT_EQ(newsInk(*harness_).width(), first.width());
    openEditor();
    harness_->idle(20);
    EXPECT_EQ(newsInk(*harness_).width(), first.width());
    harness_->click(kNewsCentre, kNewsY + 14);
    EXPECT_EQ(opened(), std::vector<std::string>{"http://www.example.org"});
    EXPECT_EQ(server.requestCount(), 1);
}

// A server that takes the request and never answers: closing the window cancels the fetch at
// once, nothing is published afterwards, and no later window asks again.
TEST_F(NewsButton, ClosingTheEditorMidFetchCancelsIt) {
    LoopbackServer server([](const std::string&) { return Reply::silent(); });
    gUrl = server.url(kPath);
    openEditor();
    ASSERT_TRUE(waitForRequests(server, 1));
    harness_->idle(20);
    EXPECT_LE(newsInk(*harness_).width(), 24);  // "---"
    const auto began = Clock::now();
    harness_->close();
    EXPECT_LT(Clock::now() - began, std::chrono::seconds(2));
    EXPECT_TRUE(board_.fetchStarted());
    EXPECT_EQ(board_.news(), nullptr);
    ASSERT_TRUE(harness_->open());
    harness_->idle(50);
    EXPECT_LE(newsInk(*harness_).width(), 24);
    EXPECT_EQ(server.requestCount(), 1);
    harness_->click(kNewsCentre, kNewsY + 14);
    EXPECT_TRUE(opened().empty());
}

TEST_F(NewsButton, PluginDeletedMidFetchWithTheWindowOpen) {
    LoopbackServer server([](const std::string&) { return Reply::silent(); });
    gUrl = server.url(kPath);
    openEditor();
    ASSERT_TRUE(waitForRequests(server, 1));
    plugin_.reset();
    harness_->pluginGone();
    harness_->idle(20);
    EXPECT_EQ(board_.news(), nullptr);
    EXPECT_EQ(harness_->errors(), 0);
}

#endif

// The shipped plug-in asks its built-in address, a reserved name: the button shows "---"
// and a click starts no browser. A stand-in xdg-open first in PATH records any launch.
TEST(NewsButtonShipped, BuiltInAddressShowsDashesAndClicksLaunchNothing) {
    Xvfb xvfb;
    ASSERT_TRUE(xvfb.ok());
    const fs::path dir = fs::temp_directory_path() / ("crvnews" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path launched = dir / "launched";
    {
        std::ofstream script(dir / "xdg-open");
        script << "#!/bin/sh\necho \"$1\" >> '" << launched.string() << "'\n";
    }
    fs::permissions(dir / "xdg-open", fs::perms::owner_all);
    const std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (dir.string() + ":" + oldPath).c_str(), 1);
    // The stand-in is the one a launch finds.
    ASSERT_EQ(std::system("xdg-open probe"), 0);
    ASSERT_TRUE(fs::exists(launched));
    fs::remove(launched);

    std::string error;
    auto plugin = Plugin::load(CORVANE_SO_PATH, &error);
    ASSERT_TRUE(plugin) << error;
    plugin->start(44100.0, 512);
    {
        EditorHarness harness(*plugin);
        ASSERT_TRUE(harness.open());
        harness.idle(100);
        const Ink ink = newsInk(harness);
        EXPECT_GT(ink.width(), 6);  // "---", centred
        EXPECT_LE(ink.width(), 24);
        EXPECT_NEAR(ink.centre(), kNewsCentre, 3.0);
        harness.click(kNewsCentre, kNewsY + 14);
        harness.idle(300);
        EXPECT_EQ(harness.errors(), 0);
    }
    EXPECT_FALSE(fs::exists(launched));
    setenv("PATH", oldPath.c_str(), 1);
    fs::remove_all(dir);
}

}  // namespace
