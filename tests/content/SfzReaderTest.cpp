#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "content/ContentTestUtil.h"
#include "content/SfzReader.h"

namespace corvane {
namespace {

// Records the sample paths the regions ask for. A path containing "missing" does not
// open; one containing "looped" carries a sampler loop 5..49 as a WAV file would.
struct Samples {
    std::vector<std::string> paths;

    static bool open(void* context, const std::string& path, SampleZone& zone) {
        static_cast<Samples*>(context)->paths.push_back(path);
        if (path.find("missing") != std::string::npos) return false;
        if (path.find("looped") != std::string::npos) {
            zone.loopStart = 5;
            zone.loopEnd = 50;
            zone.loopMode = 1;
        }
        zone.frameCount = 1;
        return true;
    }
};

struct Parsed {
    SampleMap map;
    Samples samples;
    test::MessageCapture messages;

    explicit Parsed(const std::string& text, const char* directory = "C:\\Inst\\") {
        std::strcpy(map.sampleDirectory, directory);
        readSfzText(text.data(), text.size(), map, &Samples::open, &samples);
    }
    const SampleZone& zone(int i) const { return map.zones[i]; }
};

TEST(SfzReader, RegionsTakeOnlyTheirOwnTextGroupsIncluded) {
    Parsed p(
        "<group> lovel=0 hivel=64\n"
        "<region> lokey=36 hikey=48 pitch_keycenter=c3\n"
        "<group> lovel=10 hivel=64\n"
        "<region> // lokey=40\n"
        "<region>\n");
    ASSERT_EQ(p.map.zoneCount, 3);
    const SampleZone& a = p.zone(0);
    EXPECT_EQ(a.loKey, 36);
    EXPECT_EQ(a.hiKey, 48);
    EXPECT_EQ(a.rootKey, 48);
    EXPECT_EQ(a.loVel, 10);  // the group line after it belongs to its text
    EXPECT_EQ(a.hiVel, 64);
    EXPECT_EQ(p.zone(1).loKey, 40);  // comments are searched too
    EXPECT_EQ(p.zone(1).loVel, 0);
    const SampleZone& c = p.zone(2);  // untouched defaults
    EXPECT_EQ(c.loKey, 0);
    EXPECT_EQ(c.hiKey, 127);
    EXPECT_EQ(c.rootKey, 60);
    EXPECT_EQ(c.gain, 1.0f);
    EXPECT_EQ(c.data, nullptr);
    // Keys 36..48 and (zone 1) 40..127 and (zone 2) 0..127: the whole table.
    for (uint8_t k : p.map.keyMap)
        EXPECT_EQ(k, 1);
}

TEST(SfzReader, NoRegionTagGivesAnEmptyMap) {
    Parsed p("<group> sample=a.wav lokey=3\n<Region> lokey=4\n");
    EXPECT_EQ(p.map.zoneCount, 0);
    EXPECT_TRUE(p.samples.paths.empty());
}

TEST(SfzReader, KeysReadIntegersAndNoteNames) {
    struct Case {
        const char* value;
        int key;
    } cases[] = {{"c4", 60},   {"C4", 60},  {"c#4", 61}, {"c-1", 0}, {"g9", 127}, {"db4", 61},
                 {"a0", 21},   {"B#3", 60}, {"x5", 72},  {"62", 62}, {"+5", 5},   {"-3", -3},
                 {"200", -56}, {"--5", 0},  {"", 0},     {"4x", 4}};
    for (const Case& c : cases) {
        Parsed p(std::string("<region>lokey=") + c.value + "\r\n");
        EXPECT_EQ(p.zone(0).loKey, c.key) << c.value;
    }
    // hikey=200 stores -56: the zone can never be chosen.
    Parsed p("<region>hikey=200");
    EXPECT_EQ(p.map.findZone(60, 100), nullptr);
}

TEST(SfzReader, FlatNoteNamesReadAsTheMatchingSharps) {
    // C flat and F flat are B and E, C flat one octave number below its letter's.
    struct Case {
        const char* value;
        int key;
    } cases[] = {{"Bb3", 58},  {"a#3", 58}, {"Eb2", 39}, {"d#2", 39},  {"Bb6", 94},
                 {"bb-1", 10}, {"Ab0", 20}, {"DB4", 61}, {"gb9", 126}, {"Cb4", 59},
                 {"B3", 59},   {"Fb4", 64}, {"E4", 64},  {"cb-1", -1}};
    for (const Case& c : cases) {
        Parsed p(std::string("<region>pitch_keycenter=") + c.value + " hikey=" + c.value);
        EXPECT_EQ(p.zone(0).rootKey, c.key) << c.value;
        EXPECT_EQ(p.zone(0).hiKey, c.key) << c.value;
    }
}

TEST(SfzReader, OpcodesMatchInsideLongerNames) {
    Parsed p("<region>sw_lokey=30 xfin_hivel=90 sw_hikey=50");
    EXPECT_EQ(p.zone(0).loKey, 30);
    EXPECT_EQ(p.zone(0).hiKey, 50);
    EXPECT_EQ(p.zone(0).hiVel, 90);
}

TEST(SfzReader, TuningAddsUpAndLevelsConvert) {
    Parsed a("<region>transpose=2 tune=-50");
    EXPECT_EQ(a.zone(0).tune, 256 - 64);
    Parsed b("<region>tune=1 lokey=1 tune=-1");
    EXPECT_EQ(b.zone(0).tune, 1 - 1);  // 128/100 and -128/100 truncate to 1 and -1
    Parsed c("<region>volume=-6 pan=-37.5");
    EXPECT_NEAR(c.zone(0).gain, 0.5011872, 1e-6);
    EXPECT_EQ(c.zone(0).pan, -37.5f);
    Parsed d("<region>volume=-6 volume=+6 pan=12,5");
    EXPECT_NEAR(d.zone(0).gain, 1.9952623, 1e-6);  // the later one wins
    EXPECT_EQ(d.zone(0).pan, 12.0f);               // reading stops at the comma
    Parsed e("<region>volume=abc pan=.5 lovel=x hivel=70");
    EXPECT_EQ(e.zone(0).gain, 1.0f);  // 0 dB
    EXPECT_EQ(e.zone(0).pan, 0.5f);
    EXPECT_EQ(e.zone(0).loVel, 0);
    EXPECT_EQ(e.zone(0).hiVel, 70);
    Parsed f("<region>volume=100000");
    EXPECT_NEAR(f.zone(0).gain, 251.18864f, 1e-3);  // held at +48 dB, never infinite
}

TEST(SfzReader, SampleNamesResolveAgainstTheInstrumentFolder) {
    Parsed p(
        "<region>sample=drums\\kick.wav lokey=36\n"
        "<region>sample=C:/Samples/kick.WAV\n"
        "<region>sample=../Samples/body/clap.wav\r\n"
        "<region>sample=Grand Piano C4.wav\n"
        "<region>sample=/abs/snare.Wav\n"
        "<region>sample=my.kick.wav\n"
        "<region>sample=kick.aif\n"
        "<region>sample=kick\n");
    ASSERT_EQ(p.map.zoneCount, 8);
    EXPECT_EQ(p.zone(0).loKey, 36);  // the name ends after "wav"
    const std::vector<std::string> expected = {
        "C:\\Inst\\drums\\kick.wav",
        "C:\\Samples\\kick.WAV",
        "C:\\Inst\\..\\Samples\\body\\clap.wav",
        "C:\\Inst\\Grand Piano C4.wav",
        "\\abs\\snare.Wav",  // a leading slash is absolute here
    };
    EXPECT_EQ(p.samples.paths, expected);
    EXPECT_TRUE(p.messages.messages.empty());
}

TEST(SfzReader, SameFileInTwoRegionsIsOpenedTwice) {
    Parsed p("<region>sample=a.wav<region>sample=a.wav");
    EXPECT_EQ(p.samples.paths.size(), 2u);
}

TEST(SfzReader, MissingSampleIsReportedOncePerRegion) {
    Parsed p("<region>sample=missing.wav lokey=5\n<region>sample=missing.wav\n", "D:\\Kit\\");
    ASSERT_EQ(p.messages.messages.size(), 2u);
    EXPECT_EQ(p.messages.messages[0].caption, "Error");
    EXPECT_EQ(p.messages.messages[0].text, "File not found (D:\\Kit\\missing.wav)");
    ASSERT_EQ(p.map.zoneCount, 2);
    EXPECT_EQ(p.zone(0).loKey, 5);
    EXPECT_EQ(p.zone(0).frameCount, 0);
}

TEST(SfzReader, MissingSampleFileOnDiskGivesTheMessage) {
    test::TempDir dir;
    SampleMap map;
    std::strcpy(map.sampleDirectory, (test::stored(dir.path()) + "\\").c_str());
    test::MessageCapture messages;
    const std::string text = "<region>sample=Samples/none.wav\n";
    readSfzText(text.data(), text.size(), map);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text,
              "File not found (" + test::stored(dir.path()) + "\\Samples\\none.wav)");
    EXPECT_EQ(map.zoneCount, 1);
}

TEST(SfzReader, LoopOpcodesOverrideTheSampleFileWhereverTheyStand) {
    Parsed a("<region>loop_start=100 loopstart=100 loopend=199 loopmode=loop_continuous");
    EXPECT_EQ(a.zone(0).loopStart, 100.0);
    EXPECT_EQ(a.zone(0).loopEnd, 200.0);
    EXPECT_EQ(a.zone(0).loopMode, 1);
    Parsed b("<region>loopmode=no_loop loopend=30 sample=looped.wav");
    EXPECT_EQ(b.zone(0).loopMode, 1);  // no_loop does not switch the file's loop off
    EXPECT_EQ(b.zone(0).loopStart, 5.0);
    EXPECT_EQ(b.zone(0).loopEnd, 31.0);
    Parsed c("<region>loopmode=loop_continuously loopstart=99999999999");
    EXPECT_EQ(c.zone(0).loopMode, 0);
    EXPECT_EQ(c.zone(0).loopStart, 4294967295.0);
}

TEST(SfzReader, OnlyTheFirstMillionBytesAreRead) {
    std::string text = "<region>lokey=7\n";
    text.resize(1000000 - 15, ' ');
    text += "<region>lokey=12";  // the limit falls after "lokey=1"
    text += "<region>lokey=9";
    Parsed p(text);
    ASSERT_EQ(p.map.zoneCount, 2);
    EXPECT_EQ(p.zone(0).loKey, 7);
    EXPECT_EQ(p.zone(1).loKey, 1);
}

}  // namespace
}  // namespace corvane
