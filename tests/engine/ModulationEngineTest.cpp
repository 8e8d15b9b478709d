// The LFOs, the matrix and the filter inside the engine's voice render.
#include <cmath>
#include <numbers>

#include "engine/EngineTestSupport.h"

namespace corvane::test {
namespace {

enum : int {
    kFilterSustain = 24,
    kFilterKeytrack = 26,
    kFilterCutoff = 28,
    kFilterResonance = 29,
    kFilterEnvAmt = 30,
    kLfo1Shape = 33,
    kLfo1Rate = 34,
    kLfo1Skew = 35,
    kLfo1Sync = 37,
    kLfo1Reset = 38,
    kLfo2Rate = 43,
    kFilterType = 126,
};

// One cycle of a sine in 100 frames, looped: 441 Hz at the root key when the zone's rate is
// the host's.
ZoneSpec sineLoop(double zoneRate = kRate) {
    ZoneSpec z;
    for (int i = 0; i < 100; ++i)
        z.data.push_back(std::sin(2.0 * std::numbers::pi * i / 100.0));
    z.loopMode = 1;
    z.loopStart = 0.0;
    z.loopEnd = 100.0;
    z.sampleRate = zoneRate;
    return z;
}

// Frequency of the rising zero crossings of x[from..to).
double frequency(const std::vector<float>& x, int from, int to) {
    double first = -1.0, last = -1.0;
    int crossings = 0;
    for (int i = from + 1; i < to; ++i) {
        if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
            const double t = (i - 1) + x[i - 1] / (x[i - 1] - x[i]);
            if (first < 0.0) first = t;
            last = t;
            ++crossings;
        }
    }
    return crossings > 1 ? (crossings - 1) * kRate / (last - first) : 0.0;
}

// Amplitude of x[from..to) at frequency f (projection onto sine and cosine).
double amplitude(const std::vector<float>& x, int from, int to, double f) {
    const double w = 2.0 * std::numbers::pi * f / kRate;
    double re = 0.0, im = 0.0;
    for (int i = from; i < to; ++i) {
        re += x[i] * std::cos(w * i);
        im += x[i] * std::sin(w * i);
    }
    return 2.0 * std::hypot(re, im) / (to - from);
}

void route(EngineTest& t, int slot, int source, int amountHundredths, int destination) {
    t.set(128 + slot, static_cast<float>(source) + 0.000001f);
    const double v = (amountHundredths / 100.0 + 1.0) / 2.0;
    t.set(160 + slot, static_cast<float>(v + (amountHundredths < 0 ? -0.00002 : 0.00002)));
    t.set(192 + slot, static_cast<float>(destination) + 0.000001f);
}

}  // namespace

class ModulationEngineTest : public EngineTest {};

// LFO 1 as a square (Pulse, skew 0.5) at 0.5 Hz into "Pitch Semi" at 0.12: the first second
// plays an octave up (882 Hz), the second an octave down (220.5 Hz). Margin 0.5 %.
TEST_F(ModulationEngineTest, LfoOnPitchSemiSwingsTwelveSemitones) {
    load({sineLoop()});
    set(kLfo1Shape, 1.0f / 3.0f);
    set(kLfo1Skew, 0.5f);
    set(kLfo1Rate, static_cast<float>(std::log(5.0) / std::log(1000.0)));  // 0.5 Hz
    set(kLfo1Reset, 1.0f);
    route(*this, 0, 13, 12, 1);
    engine->noteOn(60, 100);
    render(88200);
    EXPECT_NEAR(frequency(fxL, 8820, 35280), 882.0, 4.4);
    EXPECT_NEAR(frequency(fxL, 52920, 79380), 220.5, 1.1);
}

// "Arp Note" reads 0.5 with the arpeggiator off: +63 semitones whatever the amount. Key 0 on a
// zone rooted at 60 then sounds 3 semitones above the root: 441 * 2^(3/12) = 524.4 Hz.
TEST_F(ModulationEngineTest, ArpNoteWithTheArpeggiatorOffTransposesBy63Semitones) {
    load({sineLoop()});
    route(*this, 0, 8, 0, 1);
    engine->noteOn(0, 100);
    render(22050);
    EXPECT_NEAR(frequency(fxL, 2205, 22050), 441.0 * std::pow(2.0, 0.25), 2.6);
}

// Key tracking 1.0 from cutoff 0: key 120 opens the low-pass to 1046.5 Hz, where a sine passes
// at 1/k = 0.5 (resonance 0). The zone's rate is chosen so that key 120 plays 1046.5 Hz.
// With the type "Off" the same note is untouched and the filter envelope stays at rest.
TEST_F(ModulationEngineTest, KeyTrackedLowpassAndFilterOff) {
    const double f = 1.021974609375 * 1024.0;  // table entry 7680
    ZoneSpec z = sineLoop(f * 100.0 / 32.0);   // root 60, key 120 is 32 times faster
    load({z});
    set(kFilterCutoff, 0.0f);
    set(kFilterKeytrack, 1.0f);
    set(kFilterResonance, 0.0f);
    set(kFilterEnvAmt, 0.0f);
    set(kFilterSustain, 1.0f);  // the envelope holds its 0.9 peak
    set(kFilterType, 1.0f);
    engine->noteOn(120, 100);
    render(44100);
    EXPECT_NEAR(amplitude(fxL, 22050, 44100, f) / 0.2, 0.5, 0.005);
    EXPECT_NEAR(engine->voices[0].filterEnv.level, 0.9f, 0.01f);  // attack ran

    engine->reset();
    set(kFilterType, 0.0f);
    engine->noteOn(120, 100);
    render(44100);
    EXPECT_NEAR(amplitude(fxL, 22050, 44100, f) / 0.2, 1.0, 0.005);
    EXPECT_EQ(engine->voices[0].filterEnv.level, 0.0f);
    EXPECT_EQ(engine->voices[0].filterEnv.stage, kStageAttack);
}

// A new voice continues LFO 1 from the voice rendered last unless "LFO 1 Reset" is on.
TEST_F(ModulationEngineTest, LfoOneRunsOnIntoNewVoicesUnlessReset) {
    load({constantLoop()});
    set(kLfo1Rate, 0.5f);
    engine->noteOn(60, 100);
    run(6400);
    engine->noteOn(62, 100);
    EXPECT_NE(engine->voices[0].lfoPhase[0], 0u);
    EXPECT_EQ(engine->voices[1].lfoPhase[0], engine->voices[0].lfoPhase[0]);
    run(640);
    EXPECT_EQ(engine->voices[1].lfoPhase[0], engine->voices[0].lfoPhase[0]);
    set(kLfo1Reset, 1.0f);
    engine->noteOn(64, 100);
    EXPECT_EQ(engine->voices[2].lfoPhase[0], 0u);
}

// beginBlock follows the host tempo for synced LFOs; the global pass hands the delay LFO 2's
// increment and table, the depth (source x amount^4) and, after a note-on, LFO 2's phase.
TEST_F(ModulationEngineTest, BlockStartAndGlobalPass) {
    load({constantLoop()});
    set(kLfo1Sync, 1.0f);
    set(kLfo1Rate, 10.0f / 26.0f);  // one bar
    engine->tempo = 60.0;
    engine->beginBlock();
    EXPECT_EQ(engine->lfoIncrement[0], static_cast<uint32_t>(0.25 * 4294967296.0 / kRate));

    set(kLfo2Rate, 1.0f);
    route(*this, 1, 7, 50, 46);   // Const -> delay depth at 0.5
    route(*this, 0, 7, -25, 44);  // Const -> "LFO 2 Phase" at -0.25
    engine->updateGlobalModulation();
    const DelayModulation& d = engine->delayModulation;
    EXPECT_FLOAT_EQ(d.depth, 0.0625f);
    EXPECT_EQ(d.phaseIncrement, static_cast<uint32_t>(100.0 * 4294967296.0 / kRate));
    EXPECT_EQ(d.lfoTable, engine->lfos[1].table());
    EXPECT_EQ(d.phase, 0u);  // no note yet
    engine->noteOn(60, 100);
    engine->updateGlobalModulation();
    EXPECT_EQ(d.phase, 0xC0000000u);
}

}  // namespace corvane::test
