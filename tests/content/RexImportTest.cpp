// Importing sliced loops through the stand-in decoding library, inside the test process:
// the zones made, the calls made and every message.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "content/ContentTestUtil.h"
#include "content/RexImport.h"
#include "content/RexTestUtil.h"
#include "engine/Harrow.h"
#include "platform/RexLibrary.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using test::LoopFile;
using test::sliceLeft;
using test::sliceRight;

class RexImport : public ::testing::Test {
  protected:
    void SetUp() override {
        vendor_ = dir_.path() / "vendor";
        fs::create_directories(vendor_);
        log_ = dir_.path() / "calls.log";
        test::setCallLog(log_);
        platform::setRexVendorFolderForTests(vendor_.string().c_str());
    }
    void TearDown() override {
        platform::setRexVendorFolderForTests(nullptr);
        test::setCallLog({});
        EXPECT_FALSE(platform::rexLibraryLoaded());
    }

    void install(const std::string& variant, const std::string& name = test::rexPlainName()) {
        test::installStandIn(vendor_, variant, name);
    }
    // Writes the loop and loads it into the engine's map the way the editor does.
    void load(const LoopFile& loop, const std::string& name = "loop.rx2") {
        dir_.write("Loops/" + name, loop.text());
        engine_.loadFromPath((dir_.path() / "Loops" / name).string().c_str());
    }
    std::vector<std::string> calls() const { return test::readLines(log_); }
    void forgetCalls() const { fs::remove(log_); }

    // The one message shown, which must be a REX error.
    std::string onlyMessage() const {
        EXPECT_EQ(messages_.messages.size(), 1u);
        if (messages_.messages.empty()) return {};
        EXPECT_EQ(messages_.messages[0].caption, "REX Error");
        return messages_.messages[0].text;
    }

    test::TempDir dir_;
    fs::path vendor_, log_;
    Harrow engine_;
    test::MessageCapture messages_;
};

TEST_F(RexImport, SixteenStereoSlicesLieOnKeys36To51WithTheLoopTriggerOn35) {
    install("plain");
    load(LoopFile{});
    const SampleMap& map = engine_.map;
    EXPECT_TRUE(messages_.messages.empty());
    ASSERT_EQ(map.zoneCount, 17);
    EXPECT_EQ(map.sliceCount, 16);
    for (int i = 0; i < 16; ++i) {
        const SampleZone& z = map.zones[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(z.loKey, 36 + i);
        EXPECT_EQ(z.hiKey, 36 + i);
        EXPECT_EQ(z.rootKey, 36 + i);
        EXPECT_EQ(z.loVel, 0);
        EXPECT_EQ(z.hiVel, 127);
        EXPECT_EQ(z.channels, 2);
        EXPECT_EQ(z.frameCount, 5512);
        EXPECT_EQ(z.slicePosition, 3840 * i);
        EXPECT_EQ(z.bitsPerSample, 32);
        EXPECT_EQ(z.sampleRate, 44100.0);
        EXPECT_EQ(z.isLoopTrigger, 0);
        EXPECT_EQ(z.loopMode, 0);
        EXPECT_EQ(z.gain, 1.0f);
        ASSERT_NE(z.data, nullptr);
        for (int f : {0, 1, 2760, 5511}) {
            EXPECT_EQ(z.data[2 * f], sliceLeft(i));
            EXPECT_EQ(z.data[2 * f + 1], sliceRight(i));
        }
        // 256 silent frames follow the slice.
        for (int f = 5512; f < 5512 + 256; ++f)
            ASSERT_TRUE(z.data[2 * f] == 0.0f && z.data[2 * f + 1] == 0.0f) << f;
    }
    const SampleZone& trigger = map.zones[16];
    EXPECT_EQ(trigger.loKey, 35);
    EXPECT_EQ(trigger.hiKey, 35);
    EXPECT_EQ(trigger.rootKey, 35);
    EXPECT_EQ(trigger.isLoopTrigger, 1);
    EXPECT_EQ(trigger.data, nullptr);
    EXPECT_EQ(trigger.frameCount, 0);
    EXPECT_EQ(trigger.slicePosition, 61440);
    EXPECT_EQ(trigger.channels, 2);
    EXPECT_EQ(trigger.sampleRate, 44100.0);
    for (int key = 24; key < 84; ++key)
        EXPECT_EQ(map.keyMap[key - 24], key >= 35 && key <= 51 ? 1 : 0) << key;
    // A sixteenth note at 120 BPM: 5512.5 frames, rounded down by the 0.4999999.
    EXPECT_EQ(map.sliceDurationSamples(trigger, 0, 120.0), 5512);
    EXPECT_EQ(map.sliceDurationSamples(trigger, 15, 60.0), 11025);
}

TEST_F(RexImport, MonoAndFortyEightKilohertzLoops) {
    install("plain");
    LoopFile mono;
    mono.channels = 1;
    mono.slices = 3;
    load(mono);
    ASSERT_EQ(engine_.map.zoneCount, 4);
    for (int i = 0; i < 3; ++i) {
        const SampleZone& z = engine_.map.zones[i];
        EXPECT_EQ(z.channels, 1);
        ASSERT_NE(z.data, nullptr);
        EXPECT_EQ(z.data[0], sliceLeft(i));
        EXPECT_EQ(z.data[5511], sliceLeft(i));
        for (int f = 5512; f < 5512 + 256; ++f)
            ASSERT_EQ(z.data[f], 0.0f) << f;
    }
    EXPECT_EQ(engine_.map.zones[3].channels, 1);

    // Slices are rendered at the loop's own rate, after the information was read at 44.1k.
    forgetCalls();
    LoopFile fast;
    fast.rate = 48000;
    fast.frames = 6000;
    fast.slices = 2;
    load(fast);
    ASSERT_EQ(engine_.map.zoneCount, 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(engine_.map.zones[i].sampleRate, 48000.0);
    EXPECT_EQ(engine_.map.zones[0].frameCount, 6000);
    const auto log = calls();
    const auto at44 = std::find(log.begin(), log.end(), "REXSetOutputSampleRate 44100");
    const auto at48 = std::find(log.begin(), log.end(), "REXSetOutputSampleRate 48000");
    const auto firstSlice = std::find(log.begin(), log.end(), "REXGetSliceInfo 0 8");
    EXPECT_TRUE(at44 < at48 && at48 < firstSlice && firstSlice != log.end());
}

TEST_F(RexImport, OneImportLoadsCallsInOrderAndUnloads) {
    install("plain");
    LoopFile loop;
    loop.slices = 2;
    const std::string text = loop.text();
    load(loop);
    load(loop);  // afresh: loaded and unloaded again
    std::vector<std::string> once = test::loadCalls(test::rexPlainName());
    const std::vector<std::string> import = {
        "REXCreate " + std::to_string(text.size()),
        "REXSetOutputSampleRate 44100",
        "REXGetInfo 36",
        "REXGetCreatorInfo 1280",
        "REXSetOutputSampleRate 44100",
        "REXGetSliceInfo 0 8",
        "REXRenderSlice 0 5512 stereo",
        "REXGetSliceInfo 1 8",
        "REXRenderSlice 1 5512 stereo",
        "REXDelete",
        "Close",
        "unload " + test::rexPlainName(),
    };
    once.insert(once.end(), import.begin(), import.end());
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(calls(), twice);
}

TEST_F(RexImport, TheTestingBuildIsFoundBeforeThePlainOne) {
    install("plain");
    install("plain", test::rexTestingName());
    load(LoopFile{});
    EXPECT_EQ(engine_.map.zoneCount, 17);
    const auto log = calls();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], "load " + test::rexTestingName());
    EXPECT_EQ(std::count(log.begin(), log.end(), "load " + test::rexPlainName()), 0);
}

TEST_F(RexImport, ALaterMinorVersionLoadsWhateverItsRevision) {
    install("later");  // 1.2.0: above 1.1.1 though its third number is lower
    load(LoopFile{});
    EXPECT_TRUE(messages_.messages.empty());
    EXPECT_EQ(engine_.map.zoneCount, 17);
}

TEST_F(RexImport, LibrariesRefusedAtLoadShowWhyAndLoadNothing) {
    const std::string corrupt =
        "Couldn't load the REX DLL. The DLL file may be corrupt. Please re-install REX, then try "
        "again. If it still doesn't work after that, call tech support.";
    const std::string tooOld =
        "Couldn't load the REX DLL because it is too old. Please update the DLL, then try again.";
    const struct {
        const char* variant;
        std::string text;
    } cases[] = {
        {nullptr, "The REX DLL could not be found. Maybe REX is not installed on this system?"},
        {"old", tooOld},
        {"noversion", tooOld},
        {"new",
         "The REX DLL could not be used because it is newer than this application is "
         "expecting. Please update the application, or install an older version of the "
         "REX DLL."},
        {"incomplete", corrupt},
        {"closed", corrupt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.variant ? c.variant : "none");
        fs::remove_all(vendor_);
        fs::create_directories(vendor_);
        forgetCalls();
        if (c.variant) install(c.variant);
        messages_.messages.clear();
        load(LoopFile{});
        EXPECT_EQ(onlyMessage(), c.text);
        EXPECT_EQ(engine_.map.zoneCount, 0);
        EXPECT_FALSE(platform::rexLibraryLoaded());
        const auto log = calls();
        // A refused library was let go again and never asked to decode anything.
        if (c.variant) {
            EXPECT_EQ(log.back(), "unload " + test::rexPlainName());
            EXPECT_EQ(std::count(log.begin(), log.end(), "Close"), 0);
            EXPECT_EQ(std::count_if(log.begin(), log.end(),
                                    [](const std::string& l) { return l.rfind("REXC", 0) == 0; }),
                      0);
        }
    }
}

TEST_F(RexImport, AFileTheLibraryCannotReadLeavesTheMapEmpty) {
    install("plain");
    load(LoopFile{});
    ASSERT_EQ(engine_.map.zoneCount, 17);
    dir_.write("Loops/broken.rex", std::string("not a loop at all"));
    engine_.loadFromPath((dir_.path() / "Loops" / "broken.rex").string().c_str());
    EXPECT_EQ(onlyMessage(), "The format of this file is unknown or the file is corrupt.");
    EXPECT_EQ(engine_.map.zoneCount, 0);
    EXPECT_EQ(engine_.map.sliceCount, 0);
    EXPECT_EQ(engine_.map.findZone(36, 100), nullptr);
    const auto log = calls();
    EXPECT_EQ(std::count(log.begin(), log.end(), "REXDelete"), 1);  // only the good loop's
    EXPECT_EQ(log.back(), "unload " + test::rexPlainName());
}

TEST_F(RexImport, LibraryErrorsBeforeTheSlicesShowTheirTextAndStop) {
    install("plain");
    const struct {
        const char* line;
        std::string text;
        bool deleted;
    } cases[] = {
        {"fail REXCreate 105",
         "The operation could not be completed because there is too little free memory. Quit "
         "some other application, then try again.",
         false},
        {"fail REXCreate 107",
         "This REX2 file was created by a later version of ReCycle and cannot be loaded with "
         "this version of the REX DLL. Please update the DLL, then try again.",
         false},
        {"fail REXCreate 108",
         "This ReCycle file cannot be used because its \"Bars\" and \"Beats\" settings have not "
         "been set.",
         false},
        {"fail REXCreate 42",
         "Undefined error. If this happens, you've found a bug in the REX DLL.", false},
        {"fail REXCreate 300", "Unknown error 300 from the REX DLL.", false},
        {"fail REXCreate -7", "Unknown error -7 from the REX DLL.", false},
        {"fail REXSetOutputSampleRate 206 44100",
         "Invalid sample rate. The sample rate must be in the range 11025 Hz - 1000000 Hz, "
         "inclusive.",
         true},
        {"fail REXGetInfo 203",
         "Invalid size. The fSize field of the REXInfo or REXSliceInfo structure was not set up "
         "correctly. Please set the field to \"sizeof(REXInfo)\" or \"sizeof(REXSliceInfo)\" "
         "prior to the function call.",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        messages_.messages.clear();
        forgetCalls();
        LoopFile loop;
        loop.extra = {c.line};
        load(loop);
        EXPECT_EQ(onlyMessage(), c.text);
        EXPECT_EQ(engine_.map.zoneCount, 0);
        const auto log = calls();
        EXPECT_EQ(std::count(log.begin(), log.end(), "REXDelete"), c.deleted ? 1 : 0);
        EXPECT_EQ(std::count(log.begin(), log.end(), "REXGetSliceInfo 0 8"), 0);
        EXPECT_EQ(log.back(), "unload " + test::rexPlainName());
    }
}

TEST_F(RexImport, CreatorInformationAndTheSecondRateOnlyWarn) {
    install("plain");
    LoopFile noCreator;
    noCreator.extra = {"fail REXGetCreatorInfo 3"};
    load(noCreator);
    EXPECT_TRUE(messages_.messages.empty());
    EXPECT_EQ(engine_.map.zoneCount, 17);

    LoopFile badCreator;
    badCreator.extra = {"fail REXGetCreatorInfo 204"};
    load(badCreator);
    EXPECT_EQ(onlyMessage(),
              "Invalid argument. One of the parameters you supplied is out of range. Please check "
              "the documentation on this function for more specific help.");
    EXPECT_EQ(engine_.map.zoneCount, 17);

    messages_.messages.clear();
    LoopFile badRate;
    badRate.rate = 48000;
    badRate.extra = {"fail REXSetOutputSampleRate 210 48000"};
    load(badRate);
    EXPECT_EQ(onlyMessage(),
              "Invalid tempo. The preview tempo must be in the range 20 BPM - 450 BPM, inclusive.");
    EXPECT_EQ(engine_.map.zoneCount, 17);
}

TEST_F(RexImport, AFailingSliceKeepsTheEarlierOnesWithoutAMessage) {
    install("plain");
    LoopFile info;
    info.extra = {"fail REXGetSliceInfo 205 5"};
    load(info);
    EXPECT_TRUE(messages_.messages.empty());
    ASSERT_EQ(engine_.map.zoneCount, 6);
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(engine_.map.zones[i].data, nullptr);
    EXPECT_EQ(engine_.map.zones[5].data, nullptr);
    EXPECT_EQ(engine_.map.zones[5].loKey, 41);
    EXPECT_EQ(engine_.map.sliceCount, 0);  // no loop trigger without the whole loop
    EXPECT_EQ(engine_.map.findZone(35, 100), nullptr);
    EXPECT_EQ(engine_.map.keyMap[40 - 24], 1);
    EXPECT_EQ(engine_.map.keyMap[41 - 24], 0);

    LoopFile render;
    render.extra = {"fail REXRenderSlice 207 2"};
    load(render);
    EXPECT_TRUE(messages_.messages.empty());
    ASSERT_EQ(engine_.map.zoneCount, 3);
    EXPECT_EQ(engine_.map.zones[2].data, nullptr);
    EXPECT_EQ(engine_.map.zones[2].frameCount, 0);
    const auto log = calls();
    EXPECT_EQ(log.back(), "unload " + test::rexPlainName());
}

TEST_F(RexImport, SlicesPastKey127OnlyPlayThroughTheTrigger) {
    install("plain");
    LoopFile loop;
    loop.slices = 100;
    loop.frames = 100;
    loop.loopTicks = 100 * 3840;
    // A real file holds far more than a byte per slice; this one is padded to hold 100.
    loop.extra = {"# " + std::string(100, '.')};
    load(loop);
    const SampleMap& map = engine_.map;
    ASSERT_EQ(map.zoneCount, 101);
    EXPECT_EQ(map.sliceCount, 100);
    const SampleZone* top = map.findZone(127, 100);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top - map.zones, 91);
    // No key reaches slices 92..99, nor does any key below 36 other than the trigger's.
    for (int key = 0; key < 128; ++key) {
        const SampleZone* z = map.findZone(key, 100);
        if (key == 35) {
            EXPECT_TRUE(z && z->isLoopTrigger);
        } else if (key < 35) {
            EXPECT_EQ(z, nullptr) << key;
        } else {
            ASSERT_NE(z, nullptr);
            EXPECT_EQ(z - map.zones, key - 36);
        }
    }
    EXPECT_NE(map.zones[99].data, nullptr);  // still played by the trigger
    EXPECT_EQ(map.keyMap[0], 0);             // key 24 stays unmarked
    EXPECT_EQ(map.keyMap[59], 1);
    EXPECT_EQ(map.sliceDurationSamples(map.zones[100], 99, 120.0), 5512);
}

TEST_F(RexImport, HostileAnswersAreBounded) {
    install("plain");
    LoopFile loop;
    loop.slices = 100000;
    loop.frames = 10;
    loop.extra = {"slice 1 frames -5", "slice 2 frames 2147483647", "slice 3 frames 16777217",
                  "slice 4 frames 0", "slice 5 pos -2147483648"};
    const size_t bytes = loop.text().size();
    load(loop);
    EXPECT_TRUE(messages_.messages.empty());
    const SampleMap& map = engine_.map;
    // No more slices than the file has bytes.
    ASSERT_EQ(map.zoneCount, int32_t(bytes) + 1);
    EXPECT_EQ(map.sliceCount, int32_t(bytes));
    EXPECT_NE(map.zones[0].data, nullptr);
    for (int i : {1, 2, 3}) {
        EXPECT_EQ(map.zones[i].data, nullptr) << i;
        EXPECT_EQ(map.zones[i].frameCount, 0);
        EXPECT_EQ(map.zones[i].slicePosition, 3840 * i);
    }
    EXPECT_NE(map.zones[4].data, nullptr);
    EXPECT_EQ(map.zones[4].frameCount, 0);
    EXPECT_EQ(map.zones[5].slicePosition, INT32_MIN);
    const SampleZone& trigger = map.zones[map.zoneCount - 1];
    EXPECT_TRUE(trigger.isLoopTrigger);
    // Slice 5 starts at the lowest tick there is: its span is longer than any frame count.
    EXPECT_EQ(map.sliceDurationSamples(trigger, 5, 120.0), INT32_MAX);
    EXPECT_EQ(map.sliceDurationSamples(trigger, 4, 120.0), INT32_MIN);
    const auto log = calls();
    EXPECT_EQ(std::count(log.begin(), log.end(), "REXRenderSlice 2 2147483647 stereo"), 0);

    // A rate the library would itself refuse, and a negative slice count.
    messages_.messages.clear();
    LoopFile backwards;
    backwards.rate = -44100;
    load(backwards);
    EXPECT_EQ(onlyMessage(),
              "Invalid sample rate. The sample rate must be in the range 11025 Hz - 1000000 Hz, "
              "inclusive.");
    EXPECT_EQ(engine_.map.zoneCount, 0);
    messages_.messages.clear();
    LoopFile none;
    none.slices = -3;
    load(none);
    EXPECT_TRUE(messages_.messages.empty());
    EXPECT_EQ(engine_.map.zoneCount, 0);
    EXPECT_EQ(engine_.map.sliceCount, 0);
}

TEST_F(RexImport, TheExtensionCountsAnywhereInTheNameInAnyCase) {
    install("plain");
    load(LoopFile{}, "Big.RCY");
    EXPECT_EQ(engine_.map.zoneCount, 17);
    load(LoopFile{}, "drums.Rx2.backup");
    EXPECT_EQ(engine_.map.zoneCount, 17);
    load(LoopFile{}, "old.rEx");
    EXPECT_EQ(engine_.map.zoneCount, 17);
    EXPECT_TRUE(messages_.messages.empty());
}

TEST_F(RexImport, LoadsNestAndCallsNeedTheLibrary) {
    platform::RexHandle handle = nullptr;
    platform::RexInfo info{};
    EXPECT_EQ(platform::rexCreate(&handle, "x", 1), platform::kRexNotLoaded);
    EXPECT_EQ(platform::rexGetInfo(handle, 36, &info), platform::kRexNotLoaded);
    install("plain");
    ASSERT_EQ(platform::rexLoadLibrary(), platform::kRexOk);
    EXPECT_EQ(platform::rexNestingCount(), 1);
    // An import while the library is held elsewhere is refused and gives its count back.
    load(LoopFile{});
    EXPECT_EQ(onlyMessage(),
              "The REX DLL is already loaded. You may not nest calls to REXLoadDLL().");
    EXPECT_EQ(engine_.map.zoneCount, 0);
    EXPECT_EQ(platform::rexNestingCount(), 1);
    EXPECT_TRUE(platform::rexLibraryLoaded());
    EXPECT_EQ(platform::rexLoadLibrary(), platform::kRexAlreadyLoaded);
    platform::rexUnloadLibrary();
    EXPECT_TRUE(platform::rexLibraryLoaded());
    platform::rexUnloadLibrary();
    EXPECT_FALSE(platform::rexLibraryLoaded());
    platform::rexUnloadLibrary();  // one too many does nothing
    EXPECT_EQ(platform::rexNestingCount(), 0);
    EXPECT_EQ(platform::rexSetOutputSampleRate(handle, 44100), platform::kRexNotLoaded);
    const auto log = calls();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Open " + test::rexPlainName()), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "Close"), 1);
}

}  // namespace
}  // namespace corvane
