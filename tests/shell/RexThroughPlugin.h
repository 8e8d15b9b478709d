#pragma once
// Sliced loops through the plug-in library as a host loads it: a copy of the plug-in in a
// scratch folder, and the stand-in decoding library where that copy finds it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "TestHost.h"
#include "content/ContentTestUtil.h"
#include "content/RexTestUtil.h"

namespace corvane::rexplugin {

namespace fs = std::filesystem;
using testhost::MidiMessage;
using testhost::Plugin;

constexpr double kRate = 44100.0;

// A folder where a plug-in copy finds the stand-in library while this object lives: on
// Linux the vendor's folder beside the plug-in; on Windows a folder on this process's
// library search path (the plug-in searches the common program files folder first, which
// must then hold no library: a real one there makes blocked() say so). One implementation
// per system (shell/<os>/StandInFolder*.cpp).
class StandInFolder {
  public:
    explicit StandInFolder(const fs::path& pluginFolder);
    ~StandInFolder();
    StandInFolder(const StandInFolder&) = delete;
    StandInFolder& operator=(const StandInFolder&) = delete;

    const fs::path& path() const { return path_; }
    // Empty, or why this machine cannot run the test.
    const std::string& blocked() const { return blocked_; }

  private:
    fs::path path_;
    std::string blocked_;
    std::shared_ptr<void> guard_;
};

// The lines of the text.
inline std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// A copy of the plug-in library in a scratch folder; the stand-in goes where it looks.
class PluginCopy {
  public:
    PluginCopy() : folder_(dir_.path() / "plugin") {
        fs::create_directories(dir_.path() / "plugin");
        fs::copy_file(CORVANE_SO_PATH, plugin());
        test::setCallLog(log());
    }
    ~PluginCopy() { test::setCallLog({}); }
    fs::path plugin() const {
        return dir_.path() / "plugin" / fs::path(CORVANE_SO_PATH).filename();
    }
    fs::path log() const { return dir_.path() / "calls.log"; }
    const std::string& blocked() const { return folder_.blocked(); }
    void install(const std::string& variant, const std::string& name = test::rexPlainName()) {
        test::copyStandIn(folder_.path(), variant, name);
    }
    std::unique_ptr<Plugin> load() const {
        std::string error;
        auto p = Plugin::load(plugin().string(), &error);
        EXPECT_TRUE(p) << error;
        if (p) p->start(kRate, 256);
        return p;
    }
    // Writes the loop file and puts it into the current program as a host restores a
    // session; returns what the plug-in reported on stderr meanwhile (its messages).
    std::vector<std::string> loadLoop(Plugin& p, const test::LoopFile& loop,
                                      const std::string& name = "loop.rx2") const {
        dir_.write("Loops/" + name, loop.text());
        auto chunk = p.getChunk(true);
        char* record = reinterpret_cast<char*>(chunk.data() + 40);
        std::snprintf(record + 11560, 1000, "%s\\", test::stored(dir_.path() / "Loops").c_str());
        std::snprintf(record + 12560, 220, "%s", name.c_str());
        testing::internal::CaptureStderr();
        EXPECT_EQ(p.setChunk(chunk.data(), chunk.size(), true), 12820);
        return splitLines(testing::internal::GetCapturedStderr());
    }
    const test::TempDir& dir() const { return dir_; }

  private:
    test::TempDir dir_;
    StandInFolder folder_;
};

#define CORVANE_SKIP_IF_BLOCKED(copy) \
    if (!(copy).blocked().empty()) GTEST_SKIP() << (copy).blocked()

inline MidiMessage msg(int status, int d1, int d2, int32_t frame = 0) {
    MidiMessage m;
    m.deltaFrames = frame;
    m.bytes[0] = static_cast<uint8_t>(status);
    m.bytes[1] = static_cast<uint8_t>(d1);
    m.bytes[2] = static_cast<uint8_t>(d2);
    return m;
}

struct Output {
    std::vector<float> left, right;
};

// Plays `key` from frame 0 and renders `frames` frames while it is held.
inline Output hold(Plugin& p, int key, int64_t frames) {
    Output out;
    p.render(frames, 256, {msg(0x90, key, 127)}, out.left, out.right);
    return out;
}

// The stand-in's slices are constants, so each output frame is the slice's value times the
// one gain of the default patch; `unit` is that gain, measured on slice 0's left channel.
inline double levelOf(const Output& o, int64_t frame, double unit, bool right = false) {
    return (right ? o.right : o.left)[static_cast<size_t>(frame)] / unit;
}

inline double unitGain(Plugin& p) {
    const Output o = hold(p, 36, 600);
    std::vector<float> l, r;
    p.render(4096, 256, {msg(0xB0, 123, 0)}, l, r);
    return o.left[300] / test::sliceLeft(0);
}

inline void silenceAll(Plugin& p) {
    std::vector<float> l, r;
    p.render(256, 256, {msg(0xB0, 123, 0)}, l, r);
    p.render(4096, 256, {}, l, r);
}

inline double peak(const std::vector<float>& s, size_t from, size_t to) {
    double m = 0.0;
    for (size_t i = from; i < to && i < s.size(); ++i)
        m = std::max(m, std::fabs(double(s[i])));
    return m;
}

// The messages of the REX Error box, as the plug-in reports them on stderr.
inline std::string rexError(const std::string& text) {
    return "REX Error: " + text;
}

}  // namespace corvane::rexplugin
