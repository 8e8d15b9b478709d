// Sliced loops through the plug-in library as a host loads it: a copy of the plug-in in a
// scratch folder with the stand-in decoding library where that copy finds it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "shell/RexThroughPlugin.h"

namespace corvane::rexplugin {
namespace {

TEST(RexThroughSo, StereoSlicesPlayOnTheirKeysAndTheTriggerKeepsTheTempo) {
    PluginCopy copy;
    CORVANE_SKIP_IF_BLOCKED(copy);
    copy.install("plain");
    auto p = copy.load();
    ASSERT_TRUE(p);
    EXPECT_TRUE(copy.loadLoop(*p, test::LoopFile{}).empty());

    const double unit = unitGain(*p);
    ASSERT_GT(unit, 0.01);
    // Each key plays its own slice: left (i+1)/128, right -(i+1)/256, for 5512 frames.
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        const Output o = hold(*p, 36 + i, 6000);
        for (int64_t f : {64, 2000, 5511}) {
            EXPECT_NEAR(levelOf(o, f, unit), test::sliceLeft(i), 1e-4);
            EXPECT_NEAR(levelOf(o, f, unit, true), test::sliceRight(i), 1e-4);
        }
        EXPECT_EQ(peak(o.left, 5512, 6000), 0.0);
        silenceAll(*p);
    }
    // Keys outside the loop are silent.
    for (int key : {34, 52, 60}) {
        const Output o = hold(*p, key, 2048);
        EXPECT_EQ(peak(o.left, 0, 2048) + peak(o.right, 0, 2048), 0.0) << key;
        silenceAll(*p);
    }
    // Key 35 at 120 BPM: a sixteenth note is 5512.5 frames, so a new slice every 5512.
    {
        const Output o = hold(*p, 35, 17 * 5512);
        for (int k = 0; k < 17; ++k) {
            SCOPED_TRACE(k);
            const int slice = k % 16;
            for (int64_t f : {5512 * k + 70, 5512 * k + 5511}) {
                EXPECT_NEAR(levelOf(o, f, unit), test::sliceLeft(slice), 1e-4);
                EXPECT_NEAR(levelOf(o, f, unit, true), test::sliceRight(slice), 1e-4);
            }
        }
        silenceAll(*p);
    }
    // At 60 BPM each slice has 11025 frames but sounds for 5512: a gap follows.
    p->tempo = 60.0;
    {
        const Output o = hold(*p, 35, 4 * 11025);
        for (int k = 0; k < 4; ++k) {
            SCOPED_TRACE(k);
            EXPECT_NEAR(levelOf(o, 11025 * k + 100, unit), test::sliceLeft(k), 1e-4);
            EXPECT_NEAR(levelOf(o, 11025 * k + 5500, unit), test::sliceLeft(k), 1e-4);
            EXPECT_LT(peak(o.left, 11025 * k + 5600, 11025 * (k + 1)), 1e-6);
        }
    }
}

TEST(RexThroughSo, MonoLoopsPlayOnBothChannelsAndOtherRatesKeepTime) {
    PluginCopy copy;
    CORVANE_SKIP_IF_BLOCKED(copy);
    copy.install("plain");
    auto p = copy.load();
    ASSERT_TRUE(p);
    ASSERT_TRUE(copy.loadLoop(*p, test::LoopFile{}).empty());
    const double unit = unitGain(*p);

    test::LoopFile mono;
    mono.channels = 1;
    ASSERT_TRUE(copy.loadLoop(*p, mono).empty());
    {
        const Output o = hold(*p, 40, 3000);
        EXPECT_NEAR(levelOf(o, 1000, unit), test::sliceLeft(4), 1e-4);
        EXPECT_NEAR(levelOf(o, 1000, unit, true), test::sliceLeft(4), 1e-4);
        silenceAll(*p);
    }

    // 6000 frames at 48 kHz last 5512.5 output frames at its root key.
    test::LoopFile fast;
    fast.rate = 48000;
    fast.frames = 6000;
    ASSERT_TRUE(copy.loadLoop(*p, fast).empty());
    {
        const Output o = hold(*p, 37, 6000);
        EXPECT_NEAR(levelOf(o, 5511, unit), test::sliceLeft(1), 1e-4);
        // Frame 5512 reads at 5999.46: between the last frame and the zero after it.
        const double at = 5512.0 * 48000.0 / 44100.0;
        EXPECT_NEAR(levelOf(o, 5512, unit), test::sliceLeft(1) * (6000.0 - at), 1e-4);
        EXPECT_EQ(peak(o.left, 5513, 6000), 0.0);
        silenceAll(*p);
    }
    // The trigger still changes slice every 5512.5 output frames at 120 BPM.
    {
        const Output o = hold(*p, 35, 16 * 5513);
        for (int k = 0; k < 16; ++k) {
            SCOPED_TRACE(k);
            const int64_t start = std::llround(5512.5 * k);
            EXPECT_NEAR(levelOf(o, start + 100, unit), test::sliceLeft(k), 1e-4);
            EXPECT_NEAR(levelOf(o, start + 5400, unit), test::sliceLeft(k), 1e-4);
        }
    }
}

TEST(RexThroughSo, EveryImportLoadsTheLibraryAfreshTestingBuildFirst) {
    PluginCopy copy;
    CORVANE_SKIP_IF_BLOCKED(copy);
    copy.install("plain");
    copy.install("plain", test::rexTestingName());
    auto p = copy.load();
    ASSERT_TRUE(p);
    test::LoopFile loop;
    loop.slices = 1;
    EXPECT_TRUE(copy.loadLoop(*p, loop).empty());
    EXPECT_TRUE(copy.loadLoop(*p, loop, "again.rx2").empty());
    std::vector<std::string> once = test::loadCalls(test::rexTestingName());
    const std::vector<std::string> import = {
        "REXCreate " + std::to_string(loop.text().size()),
        "REXSetOutputSampleRate 44100",
        "REXGetInfo 36",
        "REXGetCreatorInfo 1280",
        "REXSetOutputSampleRate 44100",
        "REXGetSliceInfo 0 8",
        "REXRenderSlice 0 5512 stereo",
        "REXDelete",
        "Close",
        "unload " + test::rexTestingName(),
    };
    once.insert(once.end(), import.begin(), import.end());
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(test::readLines(copy.log()), twice);
}

TEST(RexThroughSo, EveryMessagePathShowsItsText) {
    const std::string corrupt =
        "REX Error: Couldn't load the REX DLL. The DLL file may be corrupt. Please re-install "
        "REX, then try again. If it still doesn't work after that, call tech support.";
    const std::string tooOld =
        "REX Error: Couldn't load the REX DLL because it is too old. Please update the DLL, then "
        "try again.";
    const struct {
        const char* variant;
        std::string line;
    } refusals[] = {
        {nullptr,
         "REX Error: The REX DLL could not be found. Maybe REX is not installed on this system?"},
        {"old", tooOld},
        {"noversion", tooOld},
        {"new",
         "REX Error: The REX DLL could not be used because it is newer than this application is "
         "expecting. Please update the application, or install an older version of the REX "
         "DLL."},
        {"incomplete", corrupt},
        {"closed", corrupt},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.variant ? r.variant : "none");
        PluginCopy copy;
        CORVANE_SKIP_IF_BLOCKED(copy);
        if (r.variant) copy.install(r.variant);
        auto p = copy.load();
        ASSERT_TRUE(p);
        EXPECT_EQ(copy.loadLoop(*p, test::LoopFile{}), std::vector<std::string>{r.line});
        const Output o = hold(*p, 36, 1024);
        EXPECT_EQ(peak(o.left, 0, 1024), 0.0);
    }

    PluginCopy copy;
    CORVANE_SKIP_IF_BLOCKED(copy);
    copy.install("plain");
    auto p = copy.load();
    ASSERT_TRUE(p);
    ASSERT_TRUE(copy.loadLoop(*p, test::LoopFile{}).empty());
    // A file the library cannot read empties the map, also after a good one.
    test::LoopFile broken;
    broken.extra = {"fail REXCreate 106"};
    EXPECT_EQ(copy.loadLoop(*p, broken),
              std::vector<std::string>{
                  "REX Error: The format of this file is unknown or the file is corrupt."});
    EXPECT_EQ(peak(hold(*p, 36, 1024).left, 0, 1024), 0.0);
    silenceAll(*p);

    test::LoopFile late;
    late.extra = {"fail REXCreate 107"};
    EXPECT_EQ(copy.loadLoop(*p, late),
              std::vector<std::string>{
                  "REX Error: This REX2 file was created by a later version of ReCycle and "
                  "cannot be loaded with this version of the REX DLL. Please update the DLL, "
                  "then try again."});

    // Creator information: 3 is no message; 204 is shown and the loop still loads.
    test::LoopFile noCreator;
    noCreator.extra = {"fail REXGetCreatorInfo 3"};
    EXPECT_TRUE(copy.loadLoop(*p, noCreator).empty());
    test::LoopFile badCreator;
    badCreator.extra = {"fail REXGetCreatorInfo 204"};
    EXPECT_EQ(copy.loadLoop(*p, badCreator),
              std::vector<std::string>{
                  "REX Error: Invalid argument. One of the parameters you supplied is out of "
                  "range. Please check the documentation on this function for more specific "
                  "help."});
    EXPECT_GT(peak(hold(*p, 51, 1024).left, 0, 1024), 0.0);
    silenceAll(*p);

    // A failing slice keeps the slices before it, silently.
    test::LoopFile failing;
    failing.extra = {"fail REXRenderSlice 207 4"};
    EXPECT_TRUE(copy.loadLoop(*p, failing).empty());
    EXPECT_GT(peak(hold(*p, 39, 1024).left, 0, 1024), 0.0);
    silenceAll(*p);
    EXPECT_EQ(peak(hold(*p, 40, 1024).left, 0, 1024), 0.0);
    silenceAll(*p);
}

TEST(RexThroughSo, AHundredSlicesAndHostileAnswersLoadWithoutHarm) {
    PluginCopy copy;
    CORVANE_SKIP_IF_BLOCKED(copy);
    copy.install("plain");
    auto p = copy.load();
    ASSERT_TRUE(p);
    const double unit = [&] {
        EXPECT_TRUE(copy.loadLoop(*p, test::LoopFile{}).empty());
        return unitGain(*p);
    }();
    test::LoopFile hundred;
    hundred.slices = 100;
    hundred.loopTicks = 100 * 3840;
    hundred.extra = {"# " + std::string(100, '.')};
    EXPECT_TRUE(copy.loadLoop(*p, hundred, "Big.RCY").empty());
    {
        const Output o = hold(*p, 127, 2048);
        EXPECT_NEAR(levelOf(o, 1000, unit), test::sliceLeft(91), 1e-3);
        silenceAll(*p);
    }
    for (int key = 0; key < 35; ++key) {
        const Output o = hold(*p, key, 256);
        ASSERT_EQ(peak(o.left, 0, 256), 0.0) << key;
    }
    silenceAll(*p);

    test::LoopFile hostile;
    hostile.slices = 100000;
    hostile.frames = 10;
    hostile.extra = {"slice 0 frames -5", "slice 1 frames 2147483647", "slice 2 frames 16777217",
                     "slice 3 pos -2147483648", "slice 4 pos 2147483647"};
    EXPECT_TRUE(copy.loadLoop(*p, hostile, "drums.Rx2.backup").empty());
    // The trigger runs through all of it, and the hostile slices are silent.
    std::vector<float> l, r;
    p->render(44100, 256, {msg(0x90, 35, 127), msg(0x90, 36, 127), msg(0x90, 37, 127)}, l, r);
    for (float v : l)
        ASSERT_TRUE(std::isfinite(v));
    silenceAll(*p);
    EXPECT_EQ(peak(hold(*p, 36, 512).left, 0, 512), 0.0);
}

}  // namespace
}  // namespace corvane::rexplugin
