// Parameter storage, display bounds, automation and the arpeggiator presets, on the
// plug-in object. Names and display rules as a host reads them: SurfaceThroughSoTest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "FakeHost.h"
#include "content/SampleMap.h"
#include "patch/BuiltinPatches.h"

using corvane::PatchRecord;
using namespace corvane::test;

TEST(ParamDisplay, AnyStoredValueGivesATextWithinThirtyTwoBytes) {
    auto s = makeSynth();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float values[] = {
        -1e38f, -1.0f, 0.0f, 0.5f, 1.0f, 3.0f, 1e38f, nan, std::numeric_limits<float>::infinity()};
    for (int slot = 0; slot < corvane::kNumSlots; ++slot) {
        for (float v : values) {
            if (slot < corvane::kStoredSlots) s->engine.currentPatch().slots[slot] = v;
            char text[64];
            std::memset(text, 0x55, sizeof text);
            s->getParameterDisplay(slot, text);
            const size_t len = strnlen(text, sizeof text);
            ASSERT_TRUE(len > 0 && len < 32) << "slot " << slot << " value " << v;
            ASSERT_EQ(static_cast<unsigned char>(text[32]), 0x55) << "slot " << slot;
        }
    }
    // Values outside 0..1 take the nearest list entry.
    auto stored = [&](int slot, float v) {
        s->engine.currentPatch().slots[slot] = v;
        char text[64];
        s->getParameterDisplay(slot, text);
        return std::string(text);
    };
    EXPECT_EQ(stored(97, 2.0f), "LP+Clip");
    EXPECT_EQ(stored(97, -1.0f), "LP+Crunch");
    EXPECT_EQ(stored(89, 7.0f), "1/64T");
    EXPECT_EQ(stored(85, nan), "Simple");
}

TEST(ParamValues, PitchBendAndForeignSlotsStoreNothing) {
    auto s = makeSynth();
    const PatchRecord before = s->engine.currentPatch();
    s->setParameter(363, 0.5f);
    s->setParameter(400, 0.5f);
    s->setParameter(-3, 0.5f);
    EXPECT_EQ(std::memcmp(&before, &s->engine.currentPatch(), sizeof before), 0);
    // Values are kept as given, in the current program.
    s->setParameter(28, 1.7f);
    s->setProgram(9);
    s->setParameter(28, 0.25f);
    EXPECT_FLOAT_EQ(s->engine.patches[9].slots[28], 0.25f);
    EXPECT_FLOAT_EQ(s->engine.patches[0].slots[28], 1.7f);
}

TEST(ParamValues, AutomationTellsTheHostAndEchoesTheController) {
    auto s = makeSynth();
    s->setParameterAutomated(28, 0.5f);  // "Filter Cutoff", controller 74
    ASSERT_EQ(hostRecord().automated.size(), 1u);
    EXPECT_EQ(hostRecord().automated[0], std::make_pair(28, 0.5f));
    ASSERT_EQ(hostRecord().sentMidi.size(), 1u);
    const vst::VstMidiEvent& e = hostRecord().sentMidi[0];
    EXPECT_EQ(e.type, vst::kVstMidiType);
    EXPECT_EQ(e.byteSize, 32);
    EXPECT_EQ(e.deltaFrames, 0);
    EXPECT_EQ(static_cast<uint8_t>(e.midiData[0]), 0xB0);
    EXPECT_EQ(e.midiData[1], 74);
    EXPECT_EQ(e.midiData[2], 64);  // 0.5 * 127, to the nearest byte

    s->setParameterAutomated(113, 1.0f);  // internal: echoed, not automated
    EXPECT_EQ(hostRecord().automated.size(), 1u);
    EXPECT_EQ(hostRecord().sentMidi.back().midiData[1], 1);
    EXPECT_EQ(hostRecord().sentMidi.back().midiData[2], 127);
    s->setParameterAutomated(4, 0.5f);  // no controller: automated, not echoed
    EXPECT_EQ(hostRecord().automated.size(), 2u);
    EXPECT_EQ(hostRecord().sentMidi.size(), 2u);
    s->setParameterAutomated(28, 3.0f);  // still a valid data byte
    EXPECT_EQ(hostRecord().sentMidi.back().midiData[2], 127);
    s->setParameterAutomated(28, -1.0f);
    EXPECT_EQ(hostRecord().sentMidi.back().midiData[2], 0);
}

TEST(ArpPresets, PatternMenuWritesOnlyArpeggiatorSlots) {
    auto s = makeSynth();
    const PatchRecord before = s->engine.currentPatch();
    const PatchRecord& after = s->engine.currentPatch();
    s->applyArpPattern(1);  // "Bass Roller 1"
    EXPECT_EQ(after.slots[125], 5.0f);
    EXPECT_FLOAT_EQ(after.slots[320], 0.230003f);
    EXPECT_FLOAT_EQ(after.slots[72], 0.88f);
    EXPECT_FLOAT_EQ(after.slots[260], 0.1078f);
    EXPECT_FLOAT_EQ(after.slots[295], 0.115f);
    for (int i = 0; i < corvane::kStoredSlots; ++i) {
        const bool arp =
            i == 71 || i == 72 || i == 73 || i == 114 || i == 125 || (i >= 256 && i <= 320);
        if (!arp) {
            ASSERT_EQ(before.slots[i], after.slots[i]) << "slot " << i;
        }
    }
    s->applyArpPattern(13);  // "Stabs 2"
    EXPECT_EQ(after.slots[125], 6.0f);
    EXPECT_FLOAT_EQ(after.slots[320], 0.515f);
    EXPECT_FLOAT_EQ(after.slots[71], 0.51f);
    EXPECT_FLOAT_EQ(after.slots[287], 0.105f);
    EXPECT_FLOAT_EQ(after.slots[294], 0.12f);

    const PatchRecord held = after;  // "User Pattern" and unknown entries change nothing
    for (int k : {0, 21, -1})
        s->applyArpPattern(k);
    EXPECT_EQ(std::memcmp(&held, &after, sizeof held), 0);
}

TEST(ArpPresets, EveryPresetPlaysSomething) {
    const int modes[] = {5, 5, 5, 6, 6, 6, 6, 6, 2, 5, 5, 5, 6, 6, 6, 5, 5, 5, 5, 0, 0};
    EXPECT_STREQ(corvane::arpPreset(8).name, "Harp-ish");
    EXPECT_STREQ(corvane::arpPreset(20).name, "Vel Rise");
    for (int k = 0; k < corvane::kArpPresetCount; ++k) {
        const PatchRecord& p = corvane::arpPreset(k);
        EXPECT_EQ(p.slots[125], modes[k]) << p.name;
        EXPECT_EQ(p.slots[114], 1.0f) << p.name;
        const int steps = static_cast<int>(p.slots[320] * 31) + 1;
        const int rate = static_cast<int>(p.slots[71] * 20.01);
        EXPECT_TRUE(steps >= 1 && steps <= 32 && rate >= 0 && rate <= 20) << p.name;
        bool sounds = false;  // some step of the pattern starts a note
        for (int i = 0; i < steps; ++i) {
            const int code = static_cast<int>(p.slots[256 + i] * 128);
            sounds = sounds || (code >= 1 && code <= 127);
        }
        EXPECT_TRUE(sounds) << p.name;
    }
    EXPECT_STREQ(corvane::kCategoryNames[9], "Category: Sound Effects");
    EXPECT_STREQ(corvane::kCategoryNames[12], "Category: Wind");
}

namespace {
struct CountingSink : corvane::EngineClient {
    explicit CountingSink(corvane::VstSynth* s) : synth(s) {}
    corvane::VstSynth* synth;
    int noteOns = 0;
    void programValue(int index, float value) override { synth->setParameter(index, value); }
    void arpNote(int status, int key, int32_t frame, int velocity) override {
        if (status == 0x90 && velocity > 0) ++noteOns;
        synth->appendNote(status, key, frame, velocity);
    }
};
}  // namespace

TEST(ArpPresets, EveryPresetIsHeardOnAHeldChord) {
    for (int k = 1; k < corvane::kArpPresetCount; ++k) {
        auto s = makeSynth();
        s->setBlockSize(512);
        corvane::SampleMap& map = s->engine.map;
        ASSERT_TRUE(map.beginZones(1));
        corvane::SampleZone* z = map.appendZone();
        z->data = corvane::allocSampleData(1000, 256 * 2 * sizeof(float));
        std::fill(z->data, z->data + 1000, 0.5f);
        z->frameCount = 1000;
        z->channels = 1;
        z->loopMode = 1;
        z->loopEnd = 1000.0;
        z->bitsPerSample = 32;
        z->rootKey = 60;
        z->sampleRate = 44100.0;
        z->gain = 1.0f;
        CountingSink sink{s.get()};
        s->engine.client = &sink;
        s->engine.recallPatch();  // the init patch's envelopes and volume
        s->setParameter(115, 1.0f);
        s->applyArpPattern(k);
        MidiBlock().add(0x90, 48, 100, 0).add(0x90, 52, 90, 0).add(0x90, 55, 80, 0).sendTo(*s);
        std::vector<float> l(512), r(512);
        float* io[2] = {l.data(), r.data()};
        double peak = 0.0;
        int mostSounding = 0;
        for (int block = 0; block < 4 * 44100 / 512; ++block) {
            s->processReplacing(nullptr, io, 512);
            for (float x : l)
                peak = std::max(peak, double(std::fabs(x)));
            int sounding = 0;
            for (const corvane::Voice& v : s->engine.voices)
                sounding += v.active && !v.released;
            mostSounding = std::max(mostSounding, sounding);
        }
        const PatchRecord& p = corvane::arpPreset(k);
        EXPECT_GT(peak, 0.01) << p.name;
        if (p.slots[125] == 2.0f) {
            EXPECT_EQ(sink.noteOns, 16) << p.name;  // the run, once
        } else {
            EXPECT_GE(sink.noteOns, 8) << p.name;
        }
        if (p.slots[125] == 6.0f && std::strcmp(p.name, "Duo 3") != 0) {
            EXPECT_GE(mostSounding, 2) << p.name;  // two lanes at once ("Duo 3" alternates)
        }
    }
}
