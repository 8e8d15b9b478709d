// Values set from a control thread reach the patch at once and the engine at the start of
// the next block, on the audio thread: switches that rewrite voice state (Mono Mode, Filter
// Type, the arpeggiator patterns' release) never touch voices while a block may render.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "content/SampleMap.h"
#include "shell/FakeHost.h"

namespace corvane::test {
namespace {

constexpr int kBlock = 128;

class PostedParameterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        synth = makeSynth();
        synth->setSampleRate(44100.0f);
        synth->setBlockSize(kBlock);
        // One looped one-second zone over the whole keyboard.
        SampleMap& map = synth->engine.map;
        ASSERT_TRUE(map.beginZones(1));
        SampleZone* z = map.appendZone();
        ASSERT_NE(z, nullptr);
        const int frames = 44100;
        z->data = allocSampleData(frames, 256 * 2 * sizeof(float));
        std::fill(z->data, z->data + frames, 0.25f);
        z->frameCount = frames;
        z->channels = 1;
        z->rootKey = 60;
        z->loKey = 0;
        z->hiKey = 127;
        z->sampleRate = 44100.0;
        z->loopMode = 1;
        z->loopStart = 0;
        z->loopEnd = frames - 1;
        for (auto [slot, v] : {std::pair{321, 1.0f}, {20, 1.0f}, {74, 0.5f}, {126, 1.0f}})
            synth->setParameter(slot, v);
        render();
    }

    void render() {
        float l[kBlock], r[kBlock];
        float* out[2] = {l, r};
        synth->processReplacing(nullptr, out, kBlock);
    }

    int active() const {
        int n = 0;
        for (int i = 0; i < kPlayingVoices; ++i)
            n += synth->engine.voices[i].active != 0;
        return n;
    }
    int released() const {
        int n = 0;
        for (int i = 0; i < kPlayingVoices; ++i)
            n += synth->engine.voices[i].active && synth->engine.voices[i].released;
        return n;
    }

    // Sets values on a thread of its own, as a host's automation or editor thread does.
    void setFromControlThread(std::vector<std::pair<int, float>> values) {
        std::thread t([&] {
            for (auto [slot, v] : values)
                synth->setParameter(slot, v);
        });
        t.join();
    }

    std::unique_ptr<VstSynth> synth;
};

TEST_F(PostedParameterTest, StructuralSwitchesWaitForTheNextBlock) {
    MidiBlock midi;
    for (int k = 0; k < 10; ++k)
        midi.add(0x90, 50 + k, 100);
    midi.sendTo(*synth);
    render();
    ASSERT_EQ(active(), 10);
    const float filterState = synth->engine.voices[0].ic1L;
    ASSERT_NE(filterState, 0.0f);

    // Mono Mode on (a reset) and another filter type (state cleared): the patch and the
    // host see the values at once; the voices are untouched until the audio thread runs.
    setFromControlThread({{127, 1.0f}, {126, 2.0f}});
    EXPECT_EQ(synth->getParameter(127), 1.0f);
    EXPECT_EQ(synth->getParameter(126), 2.0f);
    EXPECT_FALSE(synth->engine.monoMode);
    EXPECT_EQ(active(), 10);
    EXPECT_EQ(synth->engine.voices[0].ic1L, filterState);

    render();
    EXPECT_TRUE(synth->engine.monoMode);
    EXPECT_EQ(synth->engine.filterType, 2);
    EXPECT_EQ(active(), 0);  // the reset took every voice
}

TEST_F(PostedParameterTest, LaterValuesReplaceEarlierOnesAndArpPatternsReleaseInTheBlock) {
    MidiBlock midi;
    for (int k = 0; k < 4; ++k)
        midi.add(0x90, 60 + k, 100);
    midi.sendTo(*synth);
    render();
    ASSERT_EQ(active(), 4);

    setFromControlThread({{74, 0.1f}, {74, 0.2f}, {74, 0.5f}});
    std::thread editor([&] { synth->applyArpPattern(0); });
    editor.join();
    EXPECT_EQ(released(), 0);
    render();
    EXPECT_EQ(released(), 4);
    EXPECT_FLOAT_EQ(synth->engine.masterGain, 0.5f * 0.5f * 4.0f);
}

}  // namespace
}  // namespace corvane::test
