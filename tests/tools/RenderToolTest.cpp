// corvane-render as a user runs it: the demo, a real SFZ instrument played from a MIDI file
// with a tempo change, program files that round-trip, and clear failures on bad input.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "MidiFile.h"

namespace fs = std::filesystem;

#ifdef CORVANE_RENDER_PATH

#include "RenderToolRun.h"

namespace {

using namespace corvane::rendertest;

const std::string kHandclap =
    std::string(CORVANE_SHARED_DIR) + "/content/body-percussion/Programs/body_handclap.sfz";

}  // namespace

TEST_F(RenderTool, DemoRendersWithoutArgumentsAndTwiceTheSame) {
    ToolRun r = run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("rendered "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("x realtime), peak "), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find('\r'), std::string::npos) << "no progress bar when not on a terminal";
    Wav first;
    ASSERT_TRUE(readWav(dir / "demo.wav", first));
    EXPECT_EQ(first.channels, 2);
    EXPECT_EQ(first.rate, 44100);
    EXPECT_GT(peakOf(first, 0, first.frames()), 0.01f) << "the demo is silent";

    const std::string bytes = slurp(dir / "demo.wav");
    fs::rename(dir / "demo.wav", dir / "first.wav");
    r = run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(slurp(dir / "demo.wav") == bytes) << "two renders of the demo differ";
}

TEST_F(RenderTool, ArpeggioDemoPlaysSixteenthsFromHeldChords) {
    // The phrase holds one chord a bar; the program's arpeggiator plays 1/16 notes at 112 BPM
    // with a rest on every eighth step, so every eighth 1/16 slot falls quiet.
    const std::string demo = CORVANE_DEMO_DIR;
    ToolRun r = run({"--program", demo + "/arp.fxp", "--midi", demo + "/arp.mid", "--out",
                     "arp.wav", "--tail", "0.5"});
    ASSERT_EQ(r.status, 0) << r.err;
    Wav w;
    ASSERT_TRUE(readWav(dir / "arp.wav", w));
    const double step = 44100 * 60.0 / 112.0 / 4.0;
    float loudest = 0.0f, quietest = 1.0f, rests = 0.0f;
    for (int k = 0; k < 64; ++k) {
        // The later part of each slot, clear of the swing and the release before it.
        const float p = peakOf(w, size_t((k + 0.5) * step), size_t((k + 0.9) * step));
        if (k % 8 == 7) {
            rests = std::max(rests, p);
        } else {
            loudest = std::max(loudest, p);
            quietest = std::min(quietest, p);
        }
    }
    // Held chords would sound through every slot; the rests leave only the effect tails.
    EXPECT_GT(loudest, 0.03f);
    EXPECT_GT(quietest, 0.3f * loudest) << "a step did not sound";
    EXPECT_LT(rests, 0.5f * quietest) << "a rest sounded";
}

TEST_F(RenderTool, HandclapOnsetsFollowTheTempoMap) {
    if (!fs::exists(kHandclap)) GTEST_SKIP() << kHandclap << " is not there";
    // Eight claps, two quarters apart: four at 70 BPM, then 60 BPM from the fifth on.
    // At 480 ticks per quarter a note at quarter q lies at q * 60/70 s while q <= 8, and at
    // 8 * 60/70 + (q - 8) s after the change.
    std::vector<corvane::render::MidiWriteEvent> notes;
    std::vector<double> seconds;
    for (int i = 0; i < 8; ++i) {
        const int q = 2 * i;
        notes.push_back({static_cast<uint64_t>(q) * 480, 0x90, 60, 100});
        notes.push_back({static_cast<uint64_t>(q) * 480 + 120, 0x80, 60, 0});
        seconds.push_back(q <= 8 ? q * 60.0 / 70.0 : 8 * 60.0 / 70.0 + (q - 8));
    }
    writeFile(dir / "claps.mid",
              corvane::render::buildMidiFile(480, {{0, 70.0}, {8 * 480, 60.0}}, notes));
    ToolRun r = run(
        {"--instrument", kHandclap, "--midi", "claps.mid", "--out", "claps.wav", "--block", "500"});
    ASSERT_EQ(r.status, 0) << r.err;
    Wav out;
    ASSERT_TRUE(readWav(dir / "claps.wav", out));
    ASSERT_EQ(out.rate, 44100);

    // The velocity 100 clap is the last region of its layer: handclap_vl2_rr6.wav, played at
    // its own pitch (root key 60) and rate. Its attack reaches 2 % of its peak at frame `lead`.
    Wav clap;
    ASSERT_TRUE(
        readWav(fs::path(kHandclap).parent_path() / "../Samples/body/handclap_vl2_rr6.wav", clap));
    ASSERT_EQ(clap.rate, 44100);
    const long lead =
        firstFrameAbove(clap, 0, clap.frames(), 0.02f * peakOf(clap, 0, clap.frames()));
    ASSERT_GE(lead, 0);

    for (size_t i = 0; i < seconds.size(); ++i) {
        const long note = std::lround(seconds[i] * 44100.0);
        const size_t from = static_cast<size_t>(std::max(0L, note - 2000));
        const size_t to = i + 1 < seconds.size()
                              ? static_cast<size_t>(std::lround(seconds[i + 1] * 44100.0) - 2000)
                              : out.frames();
        const float peak = peakOf(out, from, to);
        ASSERT_GT(peak, 0.001f) << "clap " << i << " is missing";
        const long onset = firstFrameAbove(out, from, to, 0.02f * peak);
        EXPECT_NEAR(onset, note + lead, 1) << "clap " << i;
    }
}

TEST_F(RenderTool, EventsAndTimeInfoFollowTheTempoMap) {
    // 120 BPM, then 90 BPM from quarter 2 (480 ticks per quarter); note-ons on every quarter.
    // At 48 kHz: quarters 0..2 lie at 0, 24000, 48000; quarter 3 at 48000 + 2/3 s = 80000,
    // quarter 4 at 112000.
    std::vector<corvane::render::MidiWriteEvent> notes;
    for (int q = 0; q < 5; ++q) {
        notes.push_back({static_cast<uint64_t>(q) * 480, 0x90, static_cast<uint8_t>(60 + q), 90});
        notes.push_back(
            {static_cast<uint64_t>(q) * 480 + 240, 0x80, static_cast<uint8_t>(60 + q), 0});
    }
    writeFile(dir / "tempo.mid",
              corvane::render::buildMidiFile(480, {{0, 120.0}, {960, 90.0}}, notes));
    ToolRun r = run({"--plugin", CORVANE_PROBE_PATH, "--midi", "tempo.mid", "--out", "probe.wav",
                     "--rate", "48000", "--block", "1000", "--tail", "0.1"});
    ASSERT_EQ(r.status, 0) << r.err;
    Wav w;
    ASSERT_TRUE(readWav(dir / "probe.wav", w));
    ASSERT_EQ(w.channels, 2);
    // The song ends with the last note-off at quarter 4.5, 2.5 quarters of 0.666667 s after
    // the change at 1 s; 0.1 s of tail follow, and the tool renders whole frames.
    EXPECT_EQ(w.frames(), static_cast<size_t>(std::ceil((1.0 + 2.5 * 0.666667 + 0.1) * 48000.0)));

    const long expected[] = {0, 24000, 48000, 80000, 112000};
    std::vector<long> onsets;
    for (size_t f = 0; f < w.frames(); ++f)
        if (w.samples[2 * f] != 0.0f) {
            onsets.push_back(static_cast<long>(f));
            EXPECT_EQ(w.samples[2 * f], 60.0f + static_cast<float>(onsets.size() - 1));
        }
    EXPECT_EQ(onsets, std::vector<long>(std::begin(expected), std::end(expected)));

    for (size_t block = 0; block + 1 < w.frames(); block += 1000) {
        const double t = block / 48000.0;
        // The file stores 90 BPM as 666667 microseconds per quarter.
        const double bpm = t < 1.0 ? 120.0 : 60e6 / 666667.0;
        const double quarters = t < 1.0 ? t * 2.0 : 2.0 + (t - 1.0) * bpm / 60.0;
        EXPECT_FLOAT_EQ(w.samples[2 * block + 1], static_cast<float>(bpm)) << "block at " << block;
        EXPECT_NEAR(w.samples[2 * block + 3], quarters, 1e-5) << "block at " << block;
    }

    // A fixed tempo replaces the map, for the events and the time info alike.
    r = run({"--plugin", CORVANE_PROBE_PATH, "--midi", "tempo.mid", "--out", "fixed.wav", "--rate",
             "48000", "--block", "1000", "--tail", "0", "--tempo", "60"});
    ASSERT_EQ(r.status, 0) << r.err;
    Wav fixed;
    ASSERT_TRUE(readWav(dir / "fixed.wav", fixed));
    EXPECT_EQ(fixed.frames(), 4.5 * 48000);
    EXPECT_EQ(fixed.samples[2 * 48000 * 3], 63.0f);  // quarter 3 at 3 s
    EXPECT_FLOAT_EQ(fixed.samples[2 * 96000 + 1], 60.0f);
    EXPECT_NEAR(fixed.samples[2 * 96000 + 3], 2.0, 1e-5);
}

TEST_F(RenderTool, SavedProgramLoadsBackToTheSameSound) {
    if (!fs::exists(kHandclap)) GTEST_SKIP() << kHandclap << " is not there";
    const std::string demoMidi = std::string(CORVANE_DEMO_DIR) + "/demo.mid";
    ToolRun r = run({"--instrument", kHandclap, "--set", "Filter Cutoff=0.4", "--set", "29=0.6",
                     "--save-program", "clap.fxp", "--save-bank", "clap.fxb", "--midi", demoMidi,
                     "--out", "a.wav", "--tail", "0.5"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run({"--program", "clap.fxp", "--midi", demoMidi, "--out", "b.wav", "--tail", "0.5"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run({"--bank", "clap.fxb", "--select", "0", "--midi", demoMidi, "--out", "c.wav", "--tail",
             "0.5"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string a = slurp(dir / "a.wav");
    Wav wav;
    ASSERT_TRUE(readWav(dir / "a.wav", wav));
    EXPECT_GT(peakOf(wav, 0, wav.frames()), 0.001f);
    EXPECT_TRUE(a == slurp(dir / "b.wav")) << "the program file did not restore the sound";
    EXPECT_TRUE(a == slurp(dir / "c.wav")) << "the bank file did not restore the sound";

    // The program file carries the published header and the plug-in's chunk.
    const std::string fxp = slurp(dir / "clap.fxp");
    ASSERT_EQ(fxp.size(), 60u + 12820u);
    EXPECT_EQ(fxp.substr(0, 4), "CcnK");
    EXPECT_EQ(fxp.substr(8, 4), "FPCh");
    EXPECT_EQ(fxp.substr(16, 4), "CRVN");
    EXPECT_EQ(slurp(dir / "clap.fxb").size(), 160u + 1635880u);

    // The parameters as saved: 0.4 and 0.6 read back through --list-params.
    r = run({"--program", "clap.fxp", "--list-params"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 111);
    EXPECT_NE(r.out.find(" 28  Filter Cutoff"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(0.4)"), std::string::npos);
    EXPECT_NE(r.out.find("(0.6)"), std::string::npos);
}

TEST_F(RenderTool, OutputFormatsAndRates) {
    const std::string demoMidi = std::string(CORVANE_DEMO_DIR) + "/demo.mid";
    ToolRun r = run({"--instrument", std::string(CORVANE_DEMO_DIR) + "/demo.sfz", "--midi",
                     demoMidi, "--format", "pcm16", "--rate", "22050", "--out", "p.wav", "--tail",
                     "0", "--tempo", "240", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    Wav w;
    ASSERT_TRUE(readWav(dir / "p.wav", w));
    EXPECT_EQ(w.rate, 22050);
    // At 240 BPM the demo's last notes start at quarter 32 (after 8 bars) and end at quarter
    // 34: 8.5 s, with no tail after them.
    corvane::render::MidiSong song;
    std::string error;
    ASSERT_TRUE(corvane::render::loadMidiFile(demoMidi, song, error, 240.0)) << error;
    EXPECT_EQ(w.frames(), static_cast<size_t>(std::ceil(song.endSeconds * 22050 - 1e-6)));
    EXPECT_NEAR(song.endSeconds, 8.5, 1e-9);
}

TEST_F(RenderTool, BadInputFailsWithOneClearLine) {
    const std::string demoMidi = std::string(CORVANE_DEMO_DIR) + "/demo.mid";
    writeFile(dir / "bad.mid", {'M', 'T', 'h', 'd', 0,   0, 0, 6, 0, 0, 0,    1, 0,
                                96,  'M', 'T', 'r', 'k', 0, 0, 0, 9, 0, 0x90, 60});
    writeFile(dir / "bad.fxp", {'C', 'c', 'n', 'K', 0, 0, 0, 9});
    writeFile(dir / "notes.txt", {'h', 'i'});
    const std::vector<std::vector<std::string>> cases = {
        {"--midi", "missing.mid"},
        {"--midi", "bad.mid"},
        {"--midi", "."},
        {"--midi", demoMidi, "--set", "No Such Knob=0.5"},
        {"--midi", demoMidi, "--set", "Volume=1.5"},
        {"--midi", demoMidi, "--set", "Volume=loud"},
        {"--midi", demoMidi, "--set", "337=0.5"},
        {"--midi", demoMidi, "--set", "Reserved=0.5"},
        {"--midi", demoMidi, "--set", "Filter Type=2e9"},
        {"--list-params", "--all", "--plugin", CORVANE_PROBE_PATH, "--set", "1=0.5"},
        {"--all"},
        {"--midi", demoMidi, "--plugin", "/nonexistent/Plugin.so"},
        {"--midi", demoMidi, "--plugin", "notes.txt"},
        {"--program", "missing.fxp"},
        {"--program", "bad.fxp"},
        {"--bank", "bad.fxp"},
        {"--instrument", "missing.sfz"},
        {"--instrument", "notes.txt"},
        {"--midi", demoMidi, "--out", "/nonexistent/folder/x.wav"},
        {"--midi", demoMidi, "--block", "0"},
        {"--midi", demoMidi, "--rate", "fast"},
        {"--midi", demoMidi, "--format", "mp3"},
        {"--select", "3"},
        {"--frobnicate"},
        {"--midi"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.size() > 1 ? args[0] + " " + args[1] + " " + args.back() : args[0]);
        expectOneLineError(run(args));
    }
}

TEST_F(RenderTool, PlaysOtherPluginsToo) {
    // Our host side against a build we did not write, when the package is installed.
    const char* amsynth = "/usr/lib/vst/amsynth_vst.so";
    if (!fs::exists(amsynth)) GTEST_SKIP() << "amsynth is not installed";
    const std::string demoMidi = std::string(CORVANE_DEMO_DIR) + "/demo.mid";
    // What a third-party plug-in leaks is not ours to report (sanitizer builds).
    ToolRun r = run({"--plugin", amsynth, "--midi", demoMidi, "--out", "am.wav", "--tail", "0.5"},
                    "ASAN_OPTIONS=detect_leaks=0");
    ASSERT_EQ(r.status, 0) << r.err;
    Wav w;
    ASSERT_TRUE(readWav(dir / "am.wav", w));
    EXPECT_GT(peakOf(w, 0, w.frames()), 0.001f);
}

#endif  // CORVANE_RENDER_PATH
