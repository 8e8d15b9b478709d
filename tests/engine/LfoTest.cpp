#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "engine/Lfo.h"

using corvane::Lfo;
using corvane::LfoVoiceState;
using corvane::Random;

namespace {

constexpr double kFs = 44100.0;
constexpr float kSine = 2.0f / 3.0f;  // slot value of "Sine"
constexpr float kHold = 1.0f;         // slot value of "S+H"

// Runs one voice's LFO sub-block by sub-block (64 frames) for `seconds` and returns the
// frequency of its rising zero crossings (interpolated between sub-blocks).
double measuredFrequency(Lfo& lfo, double seconds, double tempo = 120.0) {
    LfoVoiceState s;
    Random random;
    uint32_t age = 0;
    float previous = 0.0f;
    double first = -1.0, last = -1.0;
    int crossings = 0;
    const int blocks = static_cast<int>(seconds * kFs / 64);
    for (int b = 0; b < blocks; ++b) {
        lfo.beginBlock(tempo);
        const float v = lfo.evaluate(s, age, 64, lfo.increment(), random);
        if (b > 0 && previous < 0.0f && v >= 0.0f) {
            const double t = (b - 1 + previous / (previous - v)) * 64.0 / kFs;
            if (first < 0.0) first = t;
            last = t;
            ++crossings;
        }
        previous = v;
        Lfo::advance(s, lfo.increment(), 64);
        age += 64;
    }
    return crossings > 1 ? (crossings - 1) / (last - first) : 0.0;
}

}  // namespace

// Free rates span 0.1 to 100 Hz; measured over 10 and 200 cycles, within 0.5 %.
TEST(Lfo, FreeRateRunsFromATenthToAHundredHertz) {
    Lfo lfo(0);
    lfo.prepare(kFs, dsp::kDefaultMaxBlock);
    lfo.setShape(kSine);
    lfo.setSkew(0.5f);
    lfo.setRate(0.0f);
    EXPECT_NEAR(measuredFrequency(lfo, 105.0), 0.1, 0.0005);
    lfo.setRate(1.0f);
    EXPECT_NEAR(measuredFrequency(lfo, 2.0), 100.0, 0.5);
    lfo.setRate(0.5f);  // geometric middle: 0.1 * 1000^0.5
    EXPECT_NEAR(measuredFrequency(lfo, 10.0), 3.1623, 0.016);
}

// Synced: one bar (64 sixty-fourths, entry 10) at 120 BPM is 0.5 Hz; the rate follows the
// tempo at the next block, and a modulated rate lasts only until then.
TEST(Lfo, SyncedRateFollowsTheTempoPerBlock) {
    Lfo lfo(1);
    lfo.prepare(kFs, dsp::kDefaultMaxBlock);
    lfo.setShape(kSine);
    lfo.setSkew(0.5f);
    lfo.setSync(1.0f);
    const float oneBar = 10.0f / 26.0f;
    lfo.setRate(oneBar);
    EXPECT_NEAR(measuredFrequency(lfo, 12.0, 120.0), 0.5, 0.0025);
    EXPECT_NEAR(measuredFrequency(lfo, 20.0, 60.0), 0.25, 0.00125);
    EXPECT_NEAR(Lfo::syncedRate(1.0f, 120.0), 120.0 / (3.75 * 1.333), 1e-6);  // 1/32 triplet

    lfo.beginBlock(120.0);
    lfo.modulateRate(oneBar + 3.0f / 26.0f);  // one group faster: a half note, 1 Hz
    EXPECT_NEAR(lfo.rate(), 1.0, 1e-6);
    lfo.beginBlock(120.0);
    EXPECT_NEAR(lfo.rate(), 0.5, 1e-6);

    // a free LFO keeps its modulated rate across blocks until the slot is set again
    lfo.setSync(0.0f);
    lfo.modulateRate(1.5f);  // clamped to 1
    lfo.beginBlock(120.0);
    EXPECT_NEAR(lfo.rate(), 100.0, 1e-9);
    lfo.setRate(0.0f);
    EXPECT_NEAR(lfo.rate(), 0.1, 1e-9);
}

// A fade-in of 0.5 s scales the LFO by age / 22050, constant within each sub-block.
TEST(Lfo, FadeInGrowsLinearlyInSubBlockSteps) {
    Lfo lfo(0);
    lfo.prepare(kFs, dsp::kDefaultMaxBlock);
    lfo.setFadeIn(static_cast<float>(std::log(51.0) / std::log(1001.0)));  // 0.5 s
    EXPECT_NEAR(lfo.fadeSeconds(), 0.5f, 1e-5f);
    float previous = -1.0f;
    for (uint32_t age = 0; age < 30000; age += 64) {
        const float f = lfo.fadeFactor(age);
        EXPECT_NEAR(f, std::min(1.0, age / 22050.0), 1e-4) << age;
        if (age > 0 && age < 22050) {
            EXPECT_NEAR(f - previous, 64.0 / 22050.0, 1e-4);
        }
        previous = f;
    }
    lfo.setFadeIn(0.0f);  // 0.01 * 1001^0 - 0.01 = 0: no fade
    EXPECT_EQ(lfo.fadeFactor(0), 1.0f);
    lfo.setFadeIn(0.00001f);  // below a millisecond counts as none
    EXPECT_EQ(lfo.fadeFactor(0), 1.0f);
}

// Skew 0.5 leaves the shapes unbent; other skews bend Saw and Sine by a power curve and move
// the pulse edge. LFO 1's Saw falls from +1; LFOs 2 and 3 rise over 128 points first.
TEST(Lfo, TablesByShapeAndSkew) {
    Lfo one(0), two(1);
    for (Lfo* l : {&one, &two}) {
        l->prepare(kFs, dsp::kDefaultMaxBlock);
        l->setSkew(0.5f);
        l->setShape(0.0f);
    }
    EXPECT_NEAR(one.table()[0], 32767.0 / 32768.0, 1e-6);
    EXPECT_NEAR(one.table()[512], 0.5, 1e-3);
    EXPECT_NEAR(one.table()[1024], 0.0, 1e-4);
    EXPECT_NEAR(one.table()[2047], -1.0, 2e-3);
    EXPECT_FLOAT_EQ(two.table()[0], -1.0f);
    EXPECT_FLOAT_EQ(two.table()[64], 0.0f);
    EXPECT_FLOAT_EQ(two.table()[128], 1.0f);
    EXPECT_FLOAT_EQ(two.table()[1088], 0.0f);
    // skew 0: exponent 0.25 lifts the middle of the ramp to 2 * 0.5^0.25 - 1
    one.setSkew(0.0f);
    EXPECT_NEAR(one.table()[1024], 2.0 * std::pow(0.5, 0.25) - 1.0, 1e-4);
    one.setSkew(1.0f);
    EXPECT_NEAR(one.table()[1024], 2.0 * std::pow(0.5, 4.0) - 1.0, 1e-4);

    one.setShape(1.0f / 3.0f);  // Pulse
    two.setShape(1.0f / 3.0f);
    one.setSkew(0.5f);
    two.setSkew(0.5f);
    int high = 0;
    for (int i = 0; i < 2048; ++i)
        high += one.table()[i] > 0.0f;
    EXPECT_EQ(high, 1024);
    EXPECT_EQ(one.table()[1023], 1.0f);
    EXPECT_EQ(one.table()[1024], -1.0f);
    EXPECT_FLOAT_EQ(two.table()[1023], 1.0f);  // sloped edges on LFO 2
    EXPECT_FLOAT_EQ(two.table()[1024], 1.0f - 1.0f / 32.0f);
    EXPECT_FLOAT_EQ(two.table()[1087], -1.0f);
    EXPECT_FLOAT_EQ(two.table()[1984], -1.0f + 1.0f / 32.0f);
    EXPECT_FLOAT_EQ(two.table()[2047], 1.0f);
    one.setSkew(0.0f);  // narrowest pulse: 8 points
    EXPECT_EQ(one.table()[7], 1.0f);
    EXPECT_EQ(one.table()[8], -1.0f);

    one.setShape(kSine);
    one.setSkew(0.5f);
    EXPECT_NEAR(one.table()[256], 0.999 * std::sin(std::numbers::pi / 4), 1e-6);
    EXPECT_NEAR(one.table()[1536], -0.999, 1e-6);
    one.setSkew(1.0f);  // exponent 2 keeps the sign
    EXPECT_NEAR(one.table()[1536], -0.999 * 0.999, 1e-6);
    // interpolation between points, and across the guard entry at the end of the cycle
    one.setSkew(0.5f);
    EXPECT_EQ(one.table()[2048], one.table()[0]);
    const uint32_t half = (256u << 21) + (1u << 20);
    EXPECT_NEAR(one.read(half), (one.table()[256] + one.table()[257]) / 2, 1e-6);
    EXPECT_NEAR(one.read(0xFFFFFFFFu), 0.0, 2e-3);
}

// S+H draws a target at age 0 and whenever the phase wraps inside a sub-block. Skew 0 jumps
// to it (glide frequency 100 kHz); skew 1 glides by 1 - e^(-2 pi / fs) per sub-block.
TEST(Lfo, SampleAndHoldJumpsAtSkewZeroAndGlidesAtSkewOne) {
    Lfo lfo(2);
    lfo.prepare(kFs, dsp::kDefaultMaxBlock);
    lfo.setShape(kHold);
    lfo.setSkew(0.0f);
    lfo.setRate(1.0f);  // 100 Hz: a wrap every ~7 sub-blocks
    Random random;
    LfoVoiceState s;
    uint32_t age = 0;
    int draws = 0;
    float lastTarget = 2.0f;
    for (int b = 0; b < 700; ++b) {
        const bool wraps = uint64_t{s.phase} + uint64_t{lfo.increment()} * 64 >= (1ull << 32);
        const float v = lfo.evaluate(s, age, 64, lfo.increment(), random);
        EXPECT_NEAR(v, s.holdTarget, 1e-5);
        if (s.holdTarget != lastTarget) ++draws;
        EXPECT_EQ(s.holdTarget != lastTarget, b == 0 || wraps) << b;
        lastTarget = s.holdTarget;
        Lfo::advance(s, lfo.increment(), 64);
        age += 64;
    }
    EXPECT_NEAR(draws, 101, 1);  // 1 s at 100 Hz plus the draw at age 0

    lfo.setSkew(1.0f);
    const double coef = 1.0 - std::exp(-2.0 * std::numbers::pi / kFs);
    EXPECT_NEAR(lfo.holdCoefficient(), coef, 1e-9);
    LfoVoiceState g;
    const float first = lfo.evaluate(g, 0, 64, 0, random);
    EXPECT_NEAR(first, coef * g.holdTarget, 1e-9);
    for (int b = 1; b < 1000; ++b)
        lfo.evaluate(g, 64u * b, 64, 0, random);
    EXPECT_NEAR(g.held, g.holdTarget * (1.0 - std::pow(1.0 - coef, 1000)), 1e-5);
}
