// Phasers and the gliding-line flanger/chorus.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>

#include "FxTestUtil.h"
#include "fx/FxVintagePhaser.h"

using corvane::FxVintagePhaser;
using fxtest::Stereo;

namespace {

constexpr double kSr = 44100.0;

struct Phaser {
    FxVintagePhaser p;
    Phaser(float type, float amount, float feedback = 0.0f, float depth = 0.0f, float freq = 0.5f,
           float rate = 0.5f) {
        p.prepare(kSr, dsp::kDefaultMaxBlock);
        p.reset();
        p.setParameter(5, type);
        p.setParameter(0, rate);
        p.setParameter(1, freq);
        p.setParameter(2, feedback);
        p.setParameter(3, amount);
        p.setParameter(4, depth);
    }
    void run(Stereo& s, int block = 512) {
        fxtest::runBlocks(s, block, [&](int n, float** io) { p.process(n, io); });
    }
};

// Frequency response of x + A(w)^stages for the stage all-pass A = (p - z^-1)/(1 - p z^-1).
double phaserGain(double hz, double centre, int stages) {
    const double p = std::exp(-2.0 * std::numbers::pi * centre / kSr);
    const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * hz / kSr);
    const std::complex<double> a = (p - z1) / (1.0 - p * z1);
    return std::abs(1.0 + std::pow(a, stages));
}

}  // namespace

TEST(Phaser, TypeValueSelectsPhasersAndChoruses) {
    Phaser a(0.0f, 1.0f);
    EXPECT_EQ(a.p.type(), 0);
    a.p.setParameter(5, 0.5f);  // floor(3.05)
    EXPECT_EQ(a.p.type(), 3);
    a.p.setParameter(5, 1.0f);
    EXPECT_EQ(a.p.type(), 6);
}

TEST(Phaser, NoAmountPassesTheInputUnchanged) {
    for (float type : {0.0f, 1.0f / 6.0f, 2.0f / 6.0f}) {
        Phaser a(type, 0.0f, 1.0f, 1.0f, 1.0f, 1.0f);
        const Stereo in = fxtest::noise(10000, 31);
        Stereo s = in;
        a.run(s);
        EXPECT_EQ(s.left, in.left) << type;
        EXPECT_EQ(s.right, in.right) << type;
    }
}

// An even number of all-pass stages passes DC with gain +1 whatever the sweep, so with
// feedback f = 0.98 v the tap settles at x / (1 + f) and the output at x + x / (1 + f).
TEST(Phaser, DcSettlesThroughTheFeedbackLoop) {
    for (float type : {0.0f, 1.0f / 6.0f, 2.0f / 6.0f}) {
        Phaser a(type, 1.0f, 0.5f, 0.0f);
        Stereo s(20000);
        for (auto& v : s.left)
            v = 1.0f;
        s.right = s.left;
        a.run(s);
        EXPECT_NEAR(s.left.back(), 1.0f + 1.0f / 1.49f, 1e-3f) << type;
    }
}

// Depth 0: a static notch pattern around "FX Phaser Freq" (1000 Hz at 0.5). The deepest
// notch of 1 + A^4 below 5 kHz is found from the transfer function; a sine there vanishes,
// while one at a peak comes out doubled.
TEST(Phaser, StaticNotchesAtDepthZero) {
    const double centre = 200.0 * std::sqrt(25.0);
    double notch = 0.0, best = 10.0;
    for (double hz = 20.0; hz < 5000.0; hz += 0.25) {
        const double g = phaserGain(hz, centre, 4);
        if (g < best) best = g, notch = hz;
    }
    ASSERT_LT(best, 1e-3);
    Phaser a(0.0f, 1.0f, 0.0f, 0.0f, 0.5f);
    Stereo s = fxtest::sine(44100, notch, kSr);
    a.run(s);
    EXPECT_LT(fxtest::peak(s.left, 30000, 44100), 0.01f);

    Phaser b(0.0f, 1.0f, 0.0f, 0.0f, 0.5f);
    Stereo t = fxtest::sine(44100, 50.0, kSr);  // near DC: A^4 close to +1
    b.run(t);
    EXPECT_NEAR(fxtest::peak(t.left, 30000, 44100), phaserGain(50.0, centre, 4), 0.01);
}

TEST(Chorus, FeedbackIsNegativeForEverySetting) {
    Phaser a(0.5f, 1.0f);
    EXPECT_FLOAT_EQ(a.p.chorus().feedback(), -0.0f);  // after the patch's 0
    for (float type : {0.5f, 4.0f / 6.0f, 5.0f / 6.0f, 1.0f}) {
        a.p.setParameter(5, type);
        for (int i = 1; i <= 100; ++i) {
            const float v = i / 100.0f;
            a.p.setParameter(2, v);
            ASSERT_LT(a.p.chorus().feedback(), 0.0f) << type << " " << v;
            ASSERT_FLOAT_EQ(a.p.chorus().feedback(), -0.95f * v * v);
        }
    }
    a.p.prepare(48000.0, dsp::kDefaultMaxBlock);  // rebuilt lines start from the defaults
    EXPECT_FLOAT_EQ(a.p.chorus().feedback(), -0.2375f);
    EXPECT_EQ(a.p.chorus().line(0).capacity(), 2400);
    EXPECT_EQ(a.p.chorus().line(1).capacity(), 2400);
}

// "Chorus I" at 44.1 kHz: a cycle of 2 + 0.99 * (2205 - 2) * 0.0496 = 110.18 samples. A
// sample is stamped with the write phase after that sample's advance and read back before
// the advance, so it returns one cycle plus one sample later: 111.18 (split between two
// neighbouring samples), with no speed modulation, no smoothing and no feedback.
// "Flanger-" answers with the opposite sign after 2 + 0.99 * 2203 * 0.0199 + 1 = 46.40.
TEST(Chorus, ImpulseReturnsAfterOneCycle) {
    struct Case {
        float type;
        double delay;
        float sign;
    };
    for (const Case& c : {Case{5.0f / 6.0f, 111.18, 1.0f}, Case{4.0f / 6.0f, 46.40, -1.0f}}) {
        Phaser a(c.type, 1.0f, 0.0f, 0.0f, 1.0f);
        Stereo warm(30000);
        a.run(warm);  // input gain, wet and rate settle
        Stereo s(400);
        s.left[0] = 1.0f;
        a.run(s, 64);
        double sum = 0.0, moment = 0.0;
        for (size_t i = 1; i < s.size(); ++i) {
            sum += s.left[i];
            moment += s.left[i] * static_cast<double>(i);
        }
        EXPECT_NEAR(sum, c.sign, 0.02) << c.type;
        EXPECT_NEAR(moment / sum, c.delay, 0.1) << c.type;
    }
}

// Amount 0 on a chorus type: the line rests and the buffer passes untouched; after a
// stretch with sound, the wet level glides down and the line goes back to rest.
TEST(Chorus, NoAmountRestsTheLine) {
    Phaser a(1.0f, 0.0f, 0.5f, 0.5f);
    const Stereo in = fxtest::noise(4096, 33);
    Stereo s = in;
    a.run(s);
    EXPECT_EQ(s.left, in.left);
    EXPECT_TRUE(a.p.chorus().line(0).resting());
    a.p.setParameter(3, 1.0f);
    Stereo wet = fxtest::noise(4096, 34);
    a.run(wet);
    EXPECT_FALSE(a.p.chorus().line(0).resting());
    a.p.setParameter(3, 0.0f);
    Stereo fade = fxtest::noise(4096, 35);
    a.run(fade);  // 0.99^n falls below 1e-5 after about 1150 samples
    EXPECT_TRUE(a.p.chorus().line(0).resting());
    const Stereo after = fxtest::noise(1024, 36);
    Stereo t = after;
    a.run(t);
    EXPECT_EQ(t.left, after.left);
    EXPECT_EQ(t.right, after.right);
}

namespace {

// Sum and centre of gravity of s.left over [from, to).
std::pair<double, double> echoAt(const Stereo& s, size_t from, size_t to) {
    double sum = 0.0, moment = 0.0;
    for (size_t i = from; i < to && i < s.size(); ++i) {
        sum += s.left[i];
        moment += s.left[i] * static_cast<double>(i);
    }
    return {sum, sum != 0.0 ? moment / sum : 0.0};
}

}  // namespace

// Type and feedback changed while the amount is 0 are what the line plays as soon as the
// amount comes back: the line rests on every silent call, taking up its targets. A
// "Chorus I" line silenced and switched to "Flanger+" with feedback 0.9 answers an impulse
// at the flanger's 46.40 samples (see above), and its second echo comes back scaled by the
// feedback -0.95 * 0.81 = -0.7695 times the wet level's rise between the two echoes
// (wet after n samples: 1 - 0.99^n).
TEST(Chorus, ChangesWhileSilentAreHeardWhenTheAmountReturns) {
    Phaser a(5.0f / 6.0f, 1.0f, 0.0f, 0.0f, 1.0f);
    Stereo warm = fxtest::noise(30000, 41, 0.3f);
    a.run(warm);
    a.p.setParameter(3, 0.0f);
    Stereo fade(8192);
    a.run(fade);
    ASSERT_TRUE(a.p.chorus().line(0).resting());
    a.p.setParameter(5, 3.0f / 6.1f + 0.001f);  // "Flanger+"
    a.p.setParameter(2, 0.9f);
    Stereo quiet(2048);
    a.run(quiet);
    a.p.setParameter(3, 1.0f);
    constexpr size_t kAt = 150;
    Stereo s(600);
    s.left[kAt] = 1.0f;
    a.run(s, 64);
    const auto [first, firstAt] = echoAt(s, kAt + 30, kAt + 70);
    const auto [second, secondAt] = echoAt(s, kAt + 75, kAt + 120);
    EXPECT_NEAR(firstAt - kAt, 46.40, 0.2);
    EXPECT_NEAR(secondAt - kAt, 2 * 46.40, 0.5);
    auto wet = [](double n) { return 1.0 - std::pow(0.99, n); };
    EXPECT_NEAR(second / first, -0.7695 * wet(kAt + 2 * 46.4) / wet(kAt + 46.4), 0.02);
}
