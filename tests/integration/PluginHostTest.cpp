// The plug-in as a host sees it: loaded from Corvane.so through the test host.
#include <gtest/gtest.h>

#include <cmath>

#include "TestHost.h"

using corvane::testhost::Plugin;

namespace {
std::unique_ptr<Plugin> loadCorvane(const corvane::testhost::HostOptions& options = {}) {
    std::string error;
    auto p = Plugin::load(CORVANE_SO_PATH, &error, options);
    EXPECT_TRUE(p) << error;
    return p;
}
}  // namespace

TEST(PluginHost, DeclaresItselfAsAStereoSynthWithChunks) {
    auto p = loadCorvane();
    ASSERT_TRUE(p);
    vst::AEffect* e = p->effect();
    EXPECT_EQ(e->magic, vst::kEffectMagic);
    EXPECT_EQ(e->uniqueID, vst::fourCC('C', 'R', 'V', 'N'));
    EXPECT_EQ(e->numInputs, 0);
    EXPECT_EQ(e->numOutputs, 2);
    EXPECT_EQ(e->numPrograms, 128);
    EXPECT_EQ(e->numParams, 111);
    EXPECT_EQ(e->version, 1);
    EXPECT_TRUE(e->flags & vst::effFlagsCanReplacing);
    EXPECT_TRUE(e->flags & vst::effFlagsProgramChunks);
    EXPECT_TRUE(e->flags & vst::effFlagsIsSynth);
#if CORVANE_EDITOR
    EXPECT_TRUE(e->flags & vst::effFlagsHasEditor);
#else
    EXPECT_FALSE(e->flags & vst::effFlagsHasEditor);
#endif
    EXPECT_EQ(p->dispatch(vst::effGetVstVersion), 2400);
    EXPECT_EQ(p->dispatch(vst::effGetPlugCategory), vst::kPlugCategSynth);
    EXPECT_EQ(p->dispatch(vst::effGetVendorVersion), 1);
    EXPECT_EQ(p->dispatch(vst::effGetTailSize), 0);
    EXPECT_EQ(p->dispatch(vst::effCanBeAutomated, 5), 1);
    EXPECT_EQ(p->dispatch(999), 0);  // unknown opcodes answer 0
}

TEST(PluginHost, NamesPinsAndCapabilities) {
    auto p = loadCorvane();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->effectName(), "Corvane");
    EXPECT_EQ(p->productString(), "Corvane");
    EXPECT_EQ(p->vendorString(), "Tessel Audio");
    int32_t flags = 0;
    bool ok = false;
    EXPECT_EQ(p->outputLabel(0, &flags, &ok), "Vstx 1");
    EXPECT_TRUE(ok);
    EXPECT_EQ(flags, vst::kVstPinIsActive | vst::kVstPinIsStereo);
    EXPECT_EQ(p->outputLabel(1, &flags, &ok), "Vstx 2");
    EXPECT_TRUE(ok);
    p->outputLabel(2, &flags, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(p->canDo("receiveVstEvents"), 1);
    EXPECT_EQ(p->canDo("receiveVstMidiEvent"), 1);
    EXPECT_EQ(p->canDo("receiveVstTimeInfo"), 1);
    EXPECT_EQ(p->canDo("sendVstMidiEvent"), -1);
}

TEST(PluginHost, HostTooOldGetsNoPlugin) {
    corvane::testhost::HostOptions old;
    old.versionAnswer = 0;
    std::string error;
    EXPECT_FALSE(Plugin::load(CORVANE_SO_PATH, &error, old));
}

TEST(PluginHost, NewInstanceHoldsTheInitPatchEverywhere) {
    auto p = loadCorvane();
    ASSERT_TRUE(p);
    p->start(44100.0, 512);
    for (int i = 0; i < 128; ++i) {
        bool ok = false;
        EXPECT_EQ(p->programNameIndexed(i, &ok), "Init Patch") << i;
        EXPECT_TRUE(ok);
    }
    bool ok = true;
    p->programNameIndexed(128, &ok);
    EXPECT_FALSE(ok);
    EXPECT_FLOAT_EQ(p->getParameter(74), 0.365001f);
    EXPECT_TRUE(p->wantsMidi);  // resume asks the host for MIDI
}

TEST(PluginHost, ProgramNumbersWrapAtOneHundredTwentyEight) {
    auto p = loadCorvane();
    ASSERT_TRUE(p);
    p->start(44100.0, 512);
    p->setProgram(130);
    EXPECT_EQ(p->program(), 2);
}

TEST(PluginHost, LongProgramNameIsCutTo31Characters) {
    auto p = loadCorvane();
    ASSERT_TRUE(p);
    p->start(44100.0, 512);
    const std::string forty(40, 'x');
    p->dispatch(vst::effSetProgramName, 0, 0, const_cast<char*>(forty.c_str()));
    EXPECT_EQ(p->programName(), std::string(31, 'x'));
}

TEST(PluginHost, EmptyInstrumentRendersSilenceWhateverIsPlayed) {
    auto p = loadCorvane();
    ASSERT_TRUE(p);
    p->start(44100.0, 256);
    std::vector<float> l, r;
    std::vector<corvane::testhost::MidiMessage> midi;
    for (int k = 0; k < 8; ++k)
        midi.push_back({k * 30, {0x90, static_cast<uint8_t>(48 + k), 100}});
    p->render(4096, 256, midi, l, r);
    EXPECT_EQ(corvane::testhost::energy(l), 0.0);
    EXPECT_EQ(corvane::testhost::energy(r), 0.0);
}
