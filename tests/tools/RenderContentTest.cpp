// corvane-render and the content it is given: instruments that cannot play end the run with
// their cause instead of a silent file, the tool says what it did without a song, warns
// about clipped PCM files, and reaches every stored slot of a program by name or number.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

#ifdef CORVANE_RENDER_PATH

#include "RenderToolRun.h"

namespace {

using namespace corvane::rendertest;

const std::string kDemo = CORVANE_DEMO_DIR;
const std::string kDemoMidi = kDemo + "/demo.mid";
constexpr int kContentStatus = 3;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The stored value of `slot` in a program file the tool saved: the file header (60 bytes),
// the chunk header (40) and the record's name fields (512) come before the slots.
float storedSlot(const std::string& fxp, int slot) {
    float v = NAN;
    const size_t at = 60 + 40 + 512 + 4 * static_cast<size_t>(slot);
    if (fxp.size() >= at + 4) std::memcpy(&v, fxp.data() + at, 4);
    return v;
}

// The frequency of a sine with the same ratio of slope to level: a brightness figure.
double rmsFrequency(const Wav& w) {
    double level = 0.0, slope = 0.0;
    for (size_t f = 1; f < w.frames(); ++f)
        for (int c = 0; c < w.channels; ++c) {
            const double x = w.samples[f * w.channels + c];
            const double d = x - w.samples[(f - 1) * w.channels + c];
            level += x * x;
            slope += d * d;
        }
    return level > 0.0 ? std::sqrt(slope / level) * w.rate / (2.0 * M_PI) : 0.0;
}

class RenderContent : public RenderTool {
  protected:
    void SetUp() override {
        RenderTool::SetUp();
        fs::copy_file(kDemo + "/samples/kick.wav", dir / "kick.wav");
    }
    // Renders the demo song through an instrument in the test's folder.
    ToolRun play(const std::string& sfz, std::vector<std::string> more = {}) {
        std::vector<std::string> args = {"--instrument", sfz,       "--midi", kDemoMidi, "--out",
                                         "x.wav",        "--tempo", "240",    "--tail",  "0"};
        args.insert(args.end(), more.begin(), more.end());
        return run(args);
    }
};

}  // namespace

TEST_F(RenderContent, InstrumentsThatCannotPlayEndTheRunWithTheirCause) {
    writeText(dir / "groups.sfz",
              "#include \"regions.sfz\"\n<group> lokey=0 hikey=127\nsample=kick.wav\n");
    writeText(dir / "flac.sfz", "<region> sample=kick.wav key=36\n<region> sample=Pad C4.FLAC\n");
    writeText(dir / "missing.sfz",
              "<region> sample=missing.wav\n<region> sample=kick.wav lokey=36 hikey=36\n");

    ToolRun r = play("groups.sfz");
    EXPECT_EQ(r.status, kContentStatus) << r.err;
    EXPECT_TRUE(contains(r.err, (dir / "groups.sfz").string() + " has no <region>")) << r.err;
    EXPECT_FALSE(fs::exists(dir / "x.wav")) << "rendered although nothing could play";

    // A region with a FLAC sample stays silent: named with its region, the others play on.
    r = play("flac.sfz");
    EXPECT_EQ(r.status, kContentStatus) << r.err;
    EXPECT_TRUE(contains(r.err, "flac.sfz, region 2: sample Pad C4.FLAC is FLAC")) << r.err;
    EXPECT_FALSE(contains(r.err, "region 1")) << r.err;

    // A missing sample, reported by the plug-in, with the path as this system spells it.
    r = play("missing.sfz");
    EXPECT_EQ(r.status, kContentStatus) << r.err;
    EXPECT_TRUE(contains(r.err, "Error: File not found (" + (dir / "missing.wav").string() + ")"))
        << r.err;
    EXPECT_EQ(r.err.find('\\'), std::string::npos) << "a stored path reached the user: " << r.err;
    EXPECT_TRUE(contains(r.err, "did not load completely")) << r.err;
    EXPECT_FALSE(fs::exists(dir / "x.wav"));

    // Saving stops too: a program must not be written from an instrument that did not load.
    r = run({"--instrument", "missing.sfz", "--save-program", "m.fxp"});
    EXPECT_EQ(r.status, kContentStatus) << r.err;
    EXPECT_FALSE(fs::exists(dir / "m.fxp"));

    // The user may go on: the causes are still shown, the playable part is rendered.
    r = play("missing.sfz", {"--allow-silence"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "File not found")) << r.err;
    Wav w;
    ASSERT_TRUE(readWav(dir / "x.wav", w));
    EXPECT_GT(peakOf(w, 0, w.frames()), 0.01f) << "the kick on key 36 did not play";
}

TEST_F(RenderContent, ProgramWhoseInstrumentIsGoneFails) {
    // A unique name: the plug-in also looks in the folders around the stored one.
    fs::create_directory(dir / "kit-folder");
    fs::copy_file(dir / "kick.wav", dir / "kit-folder/kick.wav");
    writeText(dir / "kit-folder/corvane-gone-kit.sfz", "<region> sample=kick.wav\n");
    ToolRun r =
        run({"--instrument", "kit-folder/corvane-gone-kit.sfz", "--save-program", "kit.fxp"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run({"--program", "kit.fxp", "--midi", kDemoMidi, "--out", "kit.wav", "--tempo", "240"});
    ASSERT_EQ(r.status, 0) << r.err;

    fs::remove_all(dir / "kit-folder");
    fs::remove(dir / "kit.wav");
    r = run({"--program", "kit.fxp", "--midi", kDemoMidi, "--out", "kit.wav", "--tempo", "240"});
    EXPECT_EQ(r.status, kContentStatus) << r.err;
    EXPECT_TRUE(contains(r.err, "the program's instrument " +
                                    (dir / "kit-folder/corvane-gone-kit.sfz").string() +
                                    " is missing"))
        << r.err;
    EXPECT_FALSE(fs::exists(dir / "kit.wav"));

    // The same when the program comes out of a bank.
    r = run({"--program", "kit.fxp", "--save-bank", "kit.fxb", "--allow-silence"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run({"--bank", "kit.fxb", "--select", "0", "--midi", kDemoMidi, "--out", "kit.wav"});
    EXPECT_EQ(r.status, kContentStatus) << r.err;
}

TEST_F(RenderContent, SilentRenderIsNoSuccess) {
    // Keys the demo song never plays.
    writeText(dir / "low.sfz", "<region> sample=kick.wav lokey=0 hikey=10\n");
    ToolRun r = play("low.sfz");
    EXPECT_EQ(r.status, kContentStatus) << r.err;
    EXPECT_TRUE(contains(r.err, "the output is silent")) << r.err;
    EXPECT_TRUE(contains(r.out, "-inf dBFS (silent)")) << r.out;
    EXPECT_TRUE(fs::exists(dir / "x.wav")) << "the silent file is kept for a look";

    r = play("low.sfz", {"--allow-silence"});
    EXPECT_EQ(r.status, 0) << r.err;

    // No instrument at all: said before anything is rendered.
    fs::remove(dir / "x.wav");
    r = run({"--midi", kDemoMidi, "--out", "x.wav"});
    EXPECT_EQ(r.status, kContentStatus) << r.err;
    EXPECT_TRUE(contains(r.err, "names no instrument")) << r.err;
    EXPECT_FALSE(fs::exists(dir / "x.wav"));
}

TEST_F(RenderContent, WithoutASongTheToolSaysWhatItDid) {
    const std::string sfz = kDemo + "/demo.sfz";
    ToolRun r = run({"--instrument", sfz});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "loaded " + fs::canonical(sfz).string() +
                                    " (7 regions) into program 0 \"Init Patch\"\n"))
        << r.out;
    EXPECT_TRUE(contains(r.out, "nothing was played or saved")) << r.out;

    r = run({"--instrument", sfz, "--set", "Filter Type=1", "--save-program", "demo.fxp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "set 126 Filter Type to 1")) << r.out;
    EXPECT_TRUE(contains(r.out, "saved program \"Init Patch\" to demo.fxp\n")) << r.out;
    EXPECT_FALSE(contains(r.out, "nothing was")) << r.out;

    r = run({"--instrument", sfz, "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(RenderContent, PcmOutputWarnsWhenItClips) {
    const std::vector<std::string> loud = {
        "--program", kDemo + "/demo.fxp", "--midi", kDemoMidi, "--set",
        "Volume=1",  "--tempo",           "240",    "--tail",  "0"};
    auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), loud.begin(), loud.end());
        return run(more);
    };
    ToolRun r = with({"--format", "pcm16", "--out", "p16.wav", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "warning: ")) << r.err;
    EXPECT_TRUE(contains(r.err, "clipped in the 16-bit file")) << r.err;
    Wav w;
    ASSERT_TRUE(readWav(dir / "p16.wav", w));
    EXPECT_GE(peakOf(w, 0, w.frames()), 32767.0f / 32768.0f) << "the file did not reach full scale";

    r = with({"--format", "pcm24", "--out", "p24.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "clipped in the 24-bit file")) << r.err;

    // A float file keeps the samples past full scale: nothing to warn about.
    r = with({"--out", "f.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_TRUE(readWav(dir / "f.wav", w));
    EXPECT_GT(peakOf(w, 0, w.frames()), 1.0f) << "the test needs a render past full scale";

    // At its own level the demo stays inside full scale.
    r = run({"--format", "pcm16", "--out", "d.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

TEST_F(RenderContent, SetReachesEveryStoredSlotByNameOrNumber) {
    ToolRun r = run({"--list-params", "--all"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 337);
    for (const char* line : {" 39  Reserved#39 ", "110  Reserved#110 ", " 28  Filter Cutoff ",
                             "126  Filter Type ", "116  FX Phaser On ", "128  ModSrc1#128 ",
                             "144  ModSrc1#144 ", "287  Arp32 ", "336  GraphEnv B Loop "})
        EXPECT_TRUE(contains(r.out, line)) << line;
    // Every listed name is one --set accepts: none is shared.
    std::set<std::string> names;
    const std::regex row(R"(^ *(\d+)  (\S+(?: \S+)*)  +\S.* \(([^)]*)\)$)");
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, row)) << line;
        EXPECT_TRUE(names.insert(m[2]).second) << "shared name " << m[2];
    }
    r = run({"--list-params"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 111);

    // Switches, types, matrix rows and arpeggiator steps reach the stored program.
    r = run({"--set", "Filter Type=4", "--set", "FX Reverb On=1", "--set", "ModSrc2#129=13",
             "--set", "193=5", "--set", "Arp5=0.25", "--set", "Reserved#39=0.5", "--set",
             "Filter Cutoff#28=0.125", "--set", "Volume=0.75", "--save-program", "s.fxp"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string fxp = slurp(dir / "s.fxp");
    EXPECT_EQ(storedSlot(fxp, 126), 4.0f);
    EXPECT_EQ(storedSlot(fxp, 118), 1.0f);
    EXPECT_EQ(storedSlot(fxp, 129), 13.0f);
    EXPECT_EQ(storedSlot(fxp, 193), 5.0f);
    EXPECT_EQ(storedSlot(fxp, 260), 0.25f);
    EXPECT_EQ(storedSlot(fxp, 39), 0.5f);
    EXPECT_EQ(storedSlot(fxp, 28), 0.125f);
    EXPECT_EQ(storedSlot(fxp, 74), 0.75f);

    // A shared name alone is not enough; the message names the choices.
    r = run({"--set", "ModSrc1=3"});
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(contains(r.err, "ModSrc1#128, ModSrc1#144")) << r.err;
}

TEST_F(RenderContent, DemoProgramFilterFollowsTheCutoff) {
    ToolRun r = run({"--program", kDemo + "/demo.fxp", "--list-params", "--all"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(\n126  Filter Type .*\(1\)\n)")))
        << "the demo program's filter is off";

    double brightness[2] = {0.0, 0.0};
    const char* cutoffs[2] = {"Filter Cutoff=0.15", "Filter Cutoff=0.9"};
    for (int i = 0; i < 2; ++i) {
        r = run({"--program", kDemo + "/demo.fxp", "--midi", kDemoMidi, "--set", cutoffs[i],
                 "--out", "c.wav", "--tempo", "240", "--tail", "0"});
        ASSERT_EQ(r.status, 0) << r.err;
        Wav w;
        ASSERT_TRUE(readWav(dir / "c.wav", w));
        brightness[i] = rmsFrequency(w);
    }
    // Measured: about 330 Hz against 900 Hz.
    EXPECT_LT(brightness[0], 0.6 * brightness[1])
        << brightness[0] << " Hz against " << brightness[1] << " Hz";
}

#endif  // CORVANE_RENDER_PATH
