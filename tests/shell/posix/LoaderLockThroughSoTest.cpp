// Two instances of Corvane.so in one process: while one is stuck in a long load, the other's
// program changes that need no load return at once, and its own loads go ahead. A named
// pipe stands in for an instrument file on a slow disk: its load lasts until the test
// writes it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "TestHost.h"
#include "shell/SineInstrument.h"

using corvane::test::SineInstrument;
using corvane::testhost::MidiMessage;
using corvane::testhost::Plugin;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kBlock = 256;

std::unique_ptr<Plugin> startCorvane() {
    std::string error;
    auto p = Plugin::load(CORVANE_SO_PATH, &error);
    EXPECT_TRUE(p) << error;
    if (p) p->start(SineInstrument::kRate, kBlock);
    return p;
}

MidiMessage message(int status, int d1, int d2) {
    MidiMessage m;
    m.bytes[0] = static_cast<uint8_t>(status);
    m.bytes[1] = static_cast<uint8_t>(d1);
    m.bytes[2] = static_cast<uint8_t>(d2);
    return m;
}

// Runs `work` on a thread; true when it returned within `limit`. The thread is joined
// either way (after `release` has run when it had not returned).
template <typename Work, typename Release>
bool returnsWithin(std::chrono::milliseconds limit, Work work, Release release, double* ms) {
    std::atomic<bool> done{false};
    const auto start = Clock::now();
    std::thread t([&] {
        work();
        *ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        done = true;
    });
    while (!done && Clock::now() - start < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool inTime = done;
    if (!inTime) release();
    t.join();
    return inTime;
}

TEST(LoaderLockThroughSo, AnotherInstancesLongLoadHoldsNothingUp) {
    SineInstrument sine;
    auto slow = startCorvane();
    auto quick = startCorvane();
    ASSERT_TRUE(slow && quick);

    auto sineChunk = quick->getChunk(true);
    sine.placeInto(sineChunk);
    ASSERT_EQ(quick->setChunk(sineChunk.data(), sineChunk.size(), true), 12820);

    // The slow instance's instrument is a pipe nobody writes yet.
    const fs::path dir = fs::temp_directory_path() /
                         ("corvane_pipe_" + std::to_string(static_cast<int>(::getpid())));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path pipe = dir / "slow.sfz";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    auto slowChunk = slow->getChunk(true);
    std::string folder = dir.string() + "/";
    for (char& c : folder)
        if (c == '/') c = '\\';
    std::snprintf(reinterpret_cast<char*>(slowChunk.data() + 40 + 11560), 1000, "%s",
                  folder.c_str());
    std::snprintf(reinterpret_cast<char*>(slowChunk.data() + 40 + 12560), 220, "slow.sfz");
    std::thread loader([&] { slow->setChunk(slowChunk.data(), slowChunk.size(), true); });

    // Once the pipe opens for writing, the slow load is reading it, holding its lock.
    int writer = -1;
    const auto give_up = Clock::now() + std::chrono::seconds(20);
    while ((writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK)) < 0 && Clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GE(writer, 0);
    auto finishSlowLoad = [&] {
        if (writer >= 0) ::close(writer);
        writer = -1;
    };

    // A program change to the current program and a bank select, on the audio thread.
    std::vector<float> l(kBlock), r(kBlock);
    double changeMs = -1.0;
    const bool changeInTime = returnsWithin(
        std::chrono::milliseconds(2000),
        [&] {
            quick->sendMidi({message(0xC0, 0, 0), message(0xB0, 0, 0)});
            quick->process(l.data(), r.data(), kBlock);
        },
        finishSlowLoad, &changeMs);
    EXPECT_TRUE(changeInTime) << "the program change waited for the other instance's load";
    if (changeInTime) {
        EXPECT_LT(changeMs, 200.0);
    }

    // A load of its own goes ahead too.
    double loadMs = -1.0;
    const bool loadInTime = returnsWithin(
        std::chrono::milliseconds(5000),
        [&] { quick->setChunk(sineChunk.data(), sineChunk.size(), true); }, finishSlowLoad,
        &loadMs);
    EXPECT_TRUE(loadInTime) << "a load waited for the other instance's load";

    finishSlowLoad();
    loader.join();
    fs::remove_all(dir);

    // The quick instance still plays its instrument.
    quick->sendMidi({message(0x90, 60, 100)});
    double energy = 0.0;
    for (int b = 0; b < 10; ++b) {
        quick->process(l.data(), r.data(), kBlock);
        quick->sendMidi({});
        for (float x : l)
            energy += double(x) * x;
    }
    EXPECT_GT(energy, 0.0);
}

}  // namespace
