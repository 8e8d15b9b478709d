// The tempo-synced delay: lengths, echo times and levels, types, colour and modulation.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "FxTestUtil.h"
#include "dsp/LfoSine.h"
#include "fx/FxDelay.h"

using corvane::DelayModulation;
using corvane::FxDelay;
using fxtest::Stereo;

namespace {

// Rate value selecting note-table step i (i = floor(v * 20.001)).
float rateFor(int i) {
    return static_cast<float>(i) / 20.0f;
}

struct Delay {
    FxDelay d;
    explicit Delay(double sr = 44100.0, float type = 0.0f, float feedback = 0.0f, int stepL = 7,
                   int stepR = 7, float colour = 0.5f, float amount = 1.0f) {
        d.prepare(sr, dsp::kDefaultMaxBlock);
        d.reset();
        d.setParameter(0, type);
        d.setParameter(1, feedback);
        d.setParameter(2, rateFor(stepL));
        d.setParameter(3, rateFor(stepR));
        d.setParameter(6, colour);
        d.setParameter(7, amount);
    }
    void run(Stereo& s, float tempo = 120.0f, const DelayModulation* mod = nullptr,
             int block = 512) {
        fxtest::runBlocks(s, block, [&](int n, float** io) { d.process(n, io, tempo, mod); });
    }
};

}  // namespace

TEST(Delay, LengthsFollowTheNoteTableAndTheTempo) {
    Delay a;
    Stereo s(64);
    a.run(s, 120.0f);
    EXPECT_EQ(a.d.lengthLeft(), 22050);  // 64 units of 44100 * 0.9375 / 120
    a.d.setParameter(2, rateFor(0));     // "1/1*": 384 units = 264600 at 60 BPM
    a.d.setParameter(3, rateFor(20));    // "1/64T": floor(8/3 * 689.0625) = 1837
    a.run(s, 60.0f);
    EXPECT_EQ(a.d.lengthLeft(), FxDelay::kRingLength - 2);
    EXPECT_EQ(a.d.lengthRight(), 1837);
    a.d.setParameter(2, 1.0f);  // top of the range is the last step
    a.run(s, 60.0f);
    EXPECT_EQ(a.d.lengthLeft(), 1837);

    Delay b(48000.0);
    b.run(s, 120.0f);
    EXPECT_EQ(b.d.lengthLeft(), 24000);

    // A host without a tempo must not break the lengths.
    for (float tempo : {0.0f, -5.0f, std::numeric_limits<float>::quiet_NaN(), 1e9f}) {
        b.run(s, tempo);
        EXPECT_GE(b.d.lengthLeft(), 1);
        EXPECT_LE(b.d.lengthLeft(), FxDelay::kRingLength - 2);
    }
}

// "Simple", feedback 0.5, unfiltered, wet only: an impulse returns after 22050 samples at
// level 1, then again at 44100 with -0.5 (the line writes x - feedback * y).
TEST(Delay, SimpleEchoesAtTheNoteLengthWithInvertedFeedback) {
    Delay a(44100.0, 0.0f, 0.5f);
    Stereo s(70000);
    s.left[0] = 1.0f;
    a.run(s);
    EXPECT_EQ(fxtest::firstAbove(s.left, 1e-9f), 22050);
    EXPECT_FLOAT_EQ(s.left[22050], 1.0f);
    EXPECT_FLOAT_EQ(s.left[44100], -0.5f);
    EXPECT_FLOAT_EQ(s.left[66150], 0.25f);
    EXPECT_EQ(fxtest::peak(s.left, 22051, 44100), 0.0f);  // unfiltered: nothing in between
    EXPECT_EQ(fxtest::peak(s.right, 0, s.size()), 0.0f);
}

// With the right line twice as long the right feedback is feedback^2, so both lines lose
// the same level per second.
TEST(Delay, RightFeedbackMatchesTheLeftDecayRate) {
    Delay a(44100.0, 0.0f, 0.5f, 10, 7);  // 1/8 left (11025), 1/4 right (22050)
    Stereo s(50000);
    s.right[0] = 1.0f;
    a.run(s);
    EXPECT_FLOAT_EQ(s.right[22050], 1.0f);
    EXPECT_FLOAT_EQ(s.right[44100], -0.25f);
}

TEST(Delay, ColourCentreIsUnfilteredAndSidesFilter) {
    for (float colour : {0.49f, 0.5f, 0.51f}) {
        Delay a(44100.0, 0.0f, 0.0f, 13, 13, colour);  // 1/16 = 5512 samples
        Stereo s(8192);
        s.left[0] = 1.0f;
        a.run(s);
        const size_t at = 5512;
        if (colour == 0.5f) {
            EXPECT_FLOAT_EQ(s.left[at], 1.0f);
            EXPECT_EQ(s.left[at + 1], 0.0f);
        } else {
            EXPECT_LT(s.left[at], 1.0f) << colour;
            EXPECT_NE(s.left[at + 1], 0.0f) << colour;
        }
    }
    // Back at the centre after a filtered stretch: no leftover state may ring on.
    Delay a(44100.0, 0.0f, 0.0f, 13, 13, 0.2f);
    Stereo s = fxtest::noise(20000, 9);
    a.run(s);
    a.d.setParameter(6, 0.5f);
    Stereo quiet(30000);
    a.run(quiet);
    EXPECT_EQ(fxtest::peak(quiet.left, 5600, quiet.size()), 0.0f);
}

// Ping-pong: the mono input enters the left line, whose echo sounds on the right (pan 0.5
// sends it there alone); the right line, fed from the left, answers on the left.
TEST(Delay, PingPongAlternatesSides) {
    Delay a(44100.0, 1.0f / 8.0f, 1.0f);
    ASSERT_EQ(a.d.type(), 1);
    Stereo s(70000);
    s.left[0] = 1.0f;
    a.run(s);
    EXPECT_FLOAT_EQ(s.right[22050], 0.5f);
    EXPECT_EQ(s.left[22050], 0.0f);
    EXPECT_FLOAT_EQ(s.left[44100], -0.5f);
    EXPECT_EQ(s.right[44100], 0.0f);
    EXPECT_FLOAT_EQ(s.right[66150], 0.5f);
}

TEST(Delay, DiffuseTypesSevenAndEightSoundTheSame) {
    Delay a(44100.0, 7.0f / 8.0f, 0.7f, 12, 9, 0.3f, 0.6f);
    Delay b(44100.0, 1.0f, 0.7f, 12, 9, 0.3f, 0.6f);
    EXPECT_EQ(a.d.type(), 7);
    EXPECT_EQ(b.d.type(), 8);
    Stereo sa = fxtest::noise(60000, 11);
    Stereo sb = sa;
    a.run(sa);
    b.run(sb);
    EXPECT_EQ(sa.left, sb.left);
    EXPECT_EQ(sa.right, sb.right);
}

// Amount 0 passes the input bit for bit while the lines go on filling.
TEST(Delay, NoAmountPassesInputAndKeepsFilling) {
    Delay a(44100.0, 0.0f, 0.0f, 7, 7, 0.5f, 0.0f);
    Stereo s(6000);
    s.left[100] = 1.0f;
    const Stereo in = s;
    a.run(s);
    EXPECT_EQ(s.left, in.left);
    a.d.setParameter(7, 1.0f);
    Stereo t(20000);
    a.run(t);
    EXPECT_EQ(fxtest::firstAbove(t.left, 1e-9f), 100 + 22050 - 6000);
    EXPECT_FLOAT_EQ(t.left[100 + 22050 - 6000], 1.0f);
}

// The LFO moves the read position by m * 0.5 * lengthL * depth. A constant wave makes the
// offset exact: m = 1, depth 0.1 puts the echo 1102.5 samples late, split over two samples.
// However deep the modulation, the read stays between 1 and ringLength - 2 samples back.
TEST(Delay, ModulationShiftsTheReadAndStaysInsideTheRing) {
    std::vector<float> up(corvane::kLfoSineSize, 1.0f), down(corvane::kLfoSineSize, -1.0f);
    DelayModulation mod;
    mod.phaseIncrement = 12345;
    mod.lfoTable = up.data();
    mod.depth = 0.1f;
    {
        Delay a;
        Stereo s(24000);
        s.left[0] = 1.0f;
        a.run(s, 120.0f, &mod);
        EXPECT_NEAR(s.left[23152], 0.5f, 1e-6f);
        EXPECT_NEAR(s.left[23153], 0.5f, 1e-6f);
        EXPECT_EQ(fxtest::firstAbove(s.left, 1e-6f), 23152);
    }
    {
        Delay a;
        mod.depth = 1e6f;
        Stereo s(FxDelay::kRingLength);
        s.left[0] = 1.0f;
        a.run(s, 120.0f, &mod);
        EXPECT_EQ(fxtest::firstAbove(s.left, 1e-6f), FxDelay::kRingLength - 2);
    }
    {
        Delay a;
        mod.lfoTable = down.data();
        Stereo s(64);
        s.left[0] = 1.0f;
        a.run(s, 120.0f, &mod);
        EXPECT_EQ(fxtest::firstAbove(s.left, 1e-6f), 1);
        EXPECT_FLOAT_EQ(s.left[1], 1.0f);
    }
    {
        // The shared sine with depth 0 or a broken depth leaves the lengths fixed.
        Delay a;
        mod.lfoTable = corvane::lfoSine();
        mod.phase = 0x40000000u;
        for (float depth : {0.0f, std::numeric_limits<float>::quiet_NaN()}) {
            mod.depth = depth;
            a.d.reset();
            Stereo s(22100);
            s.left[0] = 1.0f;
            a.run(s, 120.0f, &mod);
            EXPECT_FLOAT_EQ(s.left[22050], 1.0f);
        }
    }
}
