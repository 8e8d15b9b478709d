#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "FakeHost.h"
#include "shell/BuiltinPatches.h"
#include "shell/ParamInfo.h"

using corvane::VstSynth;
using namespace corvane::test;

namespace {

std::string display(VstSynth& s, int slot, float value) {
    s.setParameter(slot, value);
    char text[64];
    std::memset(text, 0x55, sizeof text);
    s.getParameterDisplay(slot, text);
    return text;
}

// Writes the stored value directly, for values the engine is not meant to receive.
std::string displayStored(VstSynth& s, int slot, float value) {
    s.engine.currentPatch().slots[slot] = value;
    char text[64];
    std::memset(text, 0x55, sizeof text);
    s.getParameterDisplay(slot, text);
    return text;
}

std::string name(VstSynth& s, int slot) {
    char text[64] = {};
    s.getParameterName(slot, text);
    return text;
}

}  // namespace

TEST(ParamNames, HostAndInternalSlotsCarryTheirNames) {
    auto s = makeSynth();
    EXPECT_EQ(name(*s, 0), "Osc 1 Shape");
    EXPECT_EQ(name(*s, 28), "Filter Cutoff");
    EXPECT_EQ(name(*s, 74), "Volume");
    EXPECT_EQ(name(*s, 110), "Reserved");
    EXPECT_EQ(name(*s, 111), "FM Mode");
    EXPECT_EQ(name(*s, 125), "Arp Mode");
    EXPECT_EQ(name(*s, 143), "ModSrc16");
    EXPECT_EQ(name(*s, 144), "ModSrc1");  // the family of sixteen runs twice
    EXPECT_EQ(name(*s, 223), "ModDst16");
    EXPECT_EQ(name(*s, 287), "Arp32");
    EXPECT_EQ(name(*s, 288), "ArpFinger1");
    EXPECT_EQ(name(*s, 322), "PatchCategory");
    EXPECT_EQ(name(*s, 328), "Effect order - slot 6");
    EXPECT_EQ(name(*s, 332), "GraphEnv A Loop");
    EXPECT_EQ(name(*s, 337), "GraphEnv A Length");
    EXPECT_EQ(name(*s, 357), "Bottom View 1 selection");
    EXPECT_EQ(name(*s, 363), "FX Select");
    EXPECT_EQ(name(*s, 364), "");
    EXPECT_EQ(name(*s, -1), "");
    EXPECT_EQ(corvane::paramInfo(0).steps, 3);
    EXPECT_EQ(corvane::paramInfo(97).steps, 1);
    EXPECT_EQ(corvane::paramInfo(96).steps, 128);
}

TEST(ParamDisplay, EachRuleFormatsItsValues) {
    auto s = makeSynth();
    struct Case {
        int slot;
        float value;
        const char* text;
    } cases[] = {
        {0, 0.0f, "Saw"},         {0, 0.34f, "Pulse"},
        {5, 0.67f, "Sine"},       {0, 1.0f, "Wavetbl"},
        {1, 0.5f, "0"},           {1, 1.0f, "+36"},
        {6, 0.0f, "-36"},         {2, 0.5f, "0.0 ct"},
        {7, 1.0f, "100.0 ct"},    {10, 0.5f, "Pulse"},
        {10, 1.0f, "Triangle"},   {31, 0.75f, "+50 %"},
        {31, 0.25f, "-50 %"},     {33, 1.0f, "S+H"},
        {51, 0.4f, "Pulse"},      {34, 0.5f, "3.2 Hz"},
        {52, 1.0f, "100.0 Hz"},   {36, 0.0f, "Off"},
        {45, 1.0f, "10.00 s"},    {73, 0.5f, "0 %"},
        {73, 1.0f, "+75 %"},      {79, 0.5f, "Flanger+"},
        {79, 1.0f, "Chorus II"},  {80, 0.0f, "0.05 Hz"},
        {80, 1.0f, "20.00 Hz"},   {85, 0.125f, "Ping-Pong"},
        {85, 1.0f, "Diffuse"},    {86, 0.505f, "0"},
        {86, 1.0f, "+64"},        {89, 0.5f, "1/8"},
        {90, 1.0f, "1/64T"},      {91, 1.0f, "Cathedral"},
        {93, 0.0f, "0.5 s"},      {93, 1.0f, "10.0 s"},
        {95, 0.0f, "0 ms"},       {95, 1.0f, "100 ms"},
        {96, 0.5f, "100 Hz"},     {97, 0.5f, "LP+Valve"},
        {97, 1.0f, "LP+Clip"},    {101, 0.0f, "Peaking"},
        {106, 0.5f, "Lo Shelf"},  {101, 1.0f, "Hi Shelf"},
        {102, 0.5f, "316 Hz"},    {107, 1.0f, "10000 Hz"},
        {103, 0.5f, "1.0"},       {104, 0.5f, "+0.0 dB"},
        {104, 0.25f, "-10.0 dB"}, {109, 1.0f, "+20.0 dB"},
        {74, 0.5f, "50 %"},       {110, 0.5f, "50 %"},
        {200, 0.25f, "25 %"},     {72, 0.5f, "0/32"},
        {72, 1.0f, "+31/32"},     {77, 0.5f, "50 %"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(display(*s, c.slot, c.value), c.text) << "slot " << c.slot << " at " << c.value;
}

TEST(ParamDisplay, TextsThatDependOnOtherSwitches) {
    auto s = makeSynth();
    s->setParameter(46, 1.0f);  // LFO 2 Sync on
    EXPECT_EQ(display(*s, 43, 1.0f), "1/32T");
    EXPECT_EQ(display(*s, 43, 0.0f), "8/1*");
    EXPECT_EQ(display(*s, 34, 0.5f), "3.2 Hz");  // LFO 1 stays free

    // The distortion colour follows the distortion type.
    s->setParameter(97, 0.0f);
    EXPECT_EQ(display(*s, 98, 0.0f), "100 Hz");
    EXPECT_EQ(display(*s, 98, 1.0f), "20000 Hz");
    s->setParameter(97, 0.375f);  // type 3
    EXPECT_EQ(display(*s, 98, 0.0f), "17 Hz");
    EXPECT_EQ(display(*s, 98, 1.0f), "280 Hz");
    s->setParameter(97, 1.0f);  // type 8
    EXPECT_EQ(display(*s, 98, 0.0f), "1 Hz");
    EXPECT_EQ(display(*s, 98, 1.0f), "2000 Hz");

    // The arpeggiator rate reads as a note value while synced (the init patch is).
    EXPECT_EQ(display(*s, 71, 0.65f), "1/32");
    EXPECT_EQ(display(*s, 71, 0.51f), "1/16");
    s->setParameter(114, 0.0f);
    EXPECT_EQ(display(*s, 71, 0.0f), "0.10 Hz");
}

TEST(ParamDisplay, OutOfRangeValuesStillWriteABoundedText) {
    auto s = makeSynth();
    EXPECT_EQ(displayStored(*s, 97, 2.0f), "LP+Clip");
    EXPECT_EQ(displayStored(*s, 97, -1.0f), "LP+Crunch");
    EXPECT_EQ(displayStored(*s, 89, 7.0f), "1/64T");
    EXPECT_EQ(displayStored(*s, 85, std::numeric_limits<float>::quiet_NaN()), "Simple");

    const float values[] = {-1e38f,
                            -1.0f,
                            0.0f,
                            0.5f,
                            1.0f,
                            3.0f,
                            1e38f,
                            std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN()};
    for (int slot = 0; slot < corvane::kNumSlots; ++slot) {
        for (float v : values) {
            if (slot < corvane::kStoredSlots) s->engine.currentPatch().slots[slot] = v;
            char text[64];
            std::memset(text, 0x55, sizeof text);
            s->getParameterDisplay(slot, text);
            const size_t len = strnlen(text, sizeof text);
            ASSERT_GT(len, 0u) << "slot " << slot;
            ASSERT_LT(len, 32u) << "slot " << slot;
            for (size_t i = 32; i < sizeof text; ++i)
                ASSERT_EQ(static_cast<unsigned char>(text[i]), 0x55) << "slot " << slot;

            std::memset(text, 0x55, sizeof text);
            s->getParameterName(slot, text);
            ASSERT_LT(strnlen(text, sizeof text), 32u);
            ASSERT_EQ(static_cast<unsigned char>(text[32]), 0x55);
        }
    }
}

TEST(ParamValues, StoreApplyAndReport) {
    auto s = makeSynth();
    EXPECT_FLOAT_EQ(s->getParameter(74), 0.365001f);
    EXPECT_EQ(display(*s, 74, s->getParameter(74)), "37 %");
    char label[64] = "x";
    s->getParameterLabel(28, label);
    EXPECT_STREQ(label, "");

    // Pitch bend is not a stored value.
    const corvane::PatchRecord before = s->engine.currentPatch();
    s->setParameter(363, 0.5f);
    s->setParameter(400, 0.5f);
    s->setParameter(-3, 0.5f);
    EXPECT_EQ(std::memcmp(&before, &s->engine.currentPatch(), sizeof before), 0);

    // Values are kept as given, and follow the current program.
    s->setParameter(28, 1.7f);
    EXPECT_FLOAT_EQ(s->getParameter(28), 1.7f);
    s->setProgram(9);
    EXPECT_FLOAT_EQ(s->getParameter(28), 1.0f);
    s->setParameter(28, 0.25f);
    EXPECT_FLOAT_EQ(s->engine.patches[9].slots[28], 0.25f);
    EXPECT_FLOAT_EQ(s->engine.patches[0].slots[28], 1.7f);
}

TEST(ParamValues, AutomationTellsTheHostAndEchoesTheController) {
    auto s = makeSynth();
    s->setParameterAutomated(28, 0.5f);  // Filter Cutoff, controller 74
    ASSERT_EQ(hostRecord().automated.size(), 1u);
    EXPECT_EQ(hostRecord().automated[0].first, 28);
    EXPECT_FLOAT_EQ(hostRecord().automated[0].second, 0.5f);
    ASSERT_EQ(hostRecord().sentMidi.size(), 1u);
    const vst::VstMidiEvent& e = hostRecord().sentMidi[0];
    EXPECT_EQ(e.type, vst::kVstMidiType);
    EXPECT_EQ(e.byteSize, 32);
    EXPECT_EQ(e.deltaFrames, 0);
    EXPECT_EQ(static_cast<uint8_t>(e.midiData[0]), 0xB0);
    EXPECT_EQ(e.midiData[1], 74);
    EXPECT_EQ(e.midiData[2], 63);  // 0.5 * 127 truncated

    // An internal slot is echoed but not automated; a slot without controller is silent.
    s->setParameterAutomated(113, 1.0f);
    EXPECT_EQ(hostRecord().automated.size(), 1u);
    ASSERT_EQ(hostRecord().sentMidi.size(), 2u);
    EXPECT_EQ(hostRecord().sentMidi[1].midiData[1], 1);
    EXPECT_EQ(hostRecord().sentMidi[1].midiData[2], 127);
    s->setParameterAutomated(4, 0.5f);
    EXPECT_EQ(hostRecord().automated.size(), 2u);
    EXPECT_EQ(hostRecord().sentMidi.size(), 2u);
    // An out-of-range value still sends a valid data byte.
    s->setParameterAutomated(28, 3.0f);
    EXPECT_EQ(hostRecord().sentMidi.back().midiData[2], 127);
    s->setParameterAutomated(28, -1.0f);
    EXPECT_EQ(hostRecord().sentMidi.back().midiData[2], 0);
}

TEST(Programs, NewInstanceNamesEveryProgramInitPatch) {
    auto s = makeSynth();
    char text[64];
    for (int i = 0; i < 128; ++i) {
        ASSERT_TRUE(s->getProgramNameIndexed(0, i, text));
        ASSERT_STREQ(text, "Init Patch");
    }
    EXPECT_FALSE(s->getProgramNameIndexed(0, 128, text));
}

TEST(ArpPresets, PatternMenuWritesOnlyArpeggiatorSlots) {
    auto s = makeSynth();
    const corvane::PatchRecord before = s->engine.currentPatch();
    s->applyArpPattern(1);  // "Bass Roller 1"
    const corvane::PatchRecord& after = s->engine.currentPatch();
    EXPECT_FLOAT_EQ(after.slots[125], 5.0f);
    EXPECT_FLOAT_EQ(after.slots[320], 0.230003f);
    EXPECT_FLOAT_EQ(after.slots[71], 0.655f);
    EXPECT_FLOAT_EQ(after.slots[72], 0.88f);
    EXPECT_FLOAT_EQ(after.slots[260], 0.1078f);
    EXPECT_FLOAT_EQ(after.slots[295], 0.115f);
    auto isArpSlot = [](int i) {
        return i == 71 || i == 72 || i == 73 || i == 114 || i == 125 || (i >= 256 && i <= 320);
    };
    for (int i = 0; i < corvane::kStoredSlots; ++i) {
        if (!isArpSlot(i)) {
            ASSERT_EQ(before.slots[i], after.slots[i]) << "slot " << i;
        }
    }
    EXPECT_STREQ(after.name, "Init Patch");

    s->applyArpPattern(13);  // "Stabs 2"
    EXPECT_FLOAT_EQ(after.slots[125], 6.0f);
    EXPECT_FLOAT_EQ(after.slots[320], 0.515f);
    EXPECT_FLOAT_EQ(after.slots[71], 0.51f);
    EXPECT_FLOAT_EQ(after.slots[72], 0.425f);
    for (int i = 256; i < 288; ++i)
        ASSERT_FLOAT_EQ(after.slots[i], 0.105f);
    EXPECT_FLOAT_EQ(after.slots[294], 0.12f);

    // "User Pattern" and entries outside the menu leave the patch alone.
    const corvane::PatchRecord held = s->engine.currentPatch();
    s->applyArpPattern(0);
    s->applyArpPattern(21);
    s->applyArpPattern(-1);
    EXPECT_EQ(std::memcmp(&held, &s->engine.currentPatch(), sizeof held), 0);
}

TEST(ArpPresets, EveryPresetIsPlayable) {
    const char* names[] = {"User Pattern", "Bass Roller 1", "Bass Roller 2", "Duo 1",    "Duo 2",
                           "Duo 3",        "Duo 4",         "Duo 5",         "Harp-ish", "Riff 1",
                           "Riff 2",       "Riff 3",        "Stabs 1",       "Stabs 2",  "Stabs 3",
                           "Octaver 1",    "Octaver 2",     "Octaver 3",     "Skippy",   "Vel Echo",
                           "Vel Rise"};
    const int modes[] = {5, 5, 5, 6, 6, 6, 6, 6, 2, 5, 5, 5, 6, 6, 6, 5, 5, 5, 5, 0, 0};
    for (int k = 0; k < corvane::kArpPresetCount; ++k) {
        const corvane::PatchRecord& p = corvane::arpPreset(k);
        EXPECT_STREQ(p.name, names[k]);
        EXPECT_EQ(p.slots[125], static_cast<float>(modes[k])) << names[k];
        EXPECT_EQ(p.slots[114], 1.0f) << names[k];
        const int steps = static_cast<int>(p.slots[320] * 31) + 1;
        EXPECT_TRUE(steps >= 1 && steps <= 32) << names[k];
        const int rate = static_cast<int>(p.slots[71] * 20.01);
        EXPECT_TRUE(rate >= 0 && rate <= 20) << names[k];
        bool sounds = false;  // at least one step inside the pattern starts a note
        for (int i = 0; i < steps; ++i) {
            const float v = p.slots[256 + i];
            ASSERT_TRUE(v >= 0.0f && v <= 1.0f);
            ASSERT_TRUE(p.slots[288 + i] >= 0.0f && p.slots[288 + i] <= 1.0f);
            const int code = static_cast<int>(v * 128);
            sounds = sounds || (code >= 1 && code <= 127);
        }
        EXPECT_TRUE(sounds) << names[k];
    }
    EXPECT_STREQ(corvane::kCategoryNames[0], "Category: Arpeggiated");
    EXPECT_STREQ(corvane::kCategoryNames[9], "Category: Sound Effects");
    EXPECT_STREQ(corvane::kCategoryNames[12], "Category: Wind");
}
