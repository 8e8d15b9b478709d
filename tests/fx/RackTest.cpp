// The rack pass, the distortion and the EQ bands, and the shared coefficient helpers.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <numbers>

#include "FxTestUtil.h"
#include "dsp/Module.h"
#include "dsp/SafeMath.h"
#include "fx/EffectRack.h"

using corvane::DelayModulation;
using corvane::EffectRack;
using corvane::Random;
using fxtest::Stereo;

namespace {

constexpr double kSr = 44100.0;
constexpr int kDistOn = 119, kEq1On = 120, kEq2On = 121, kDelayOn = 117;

struct Rack {
    Random random;
    EffectRack rack{random};
    DelayModulation mod;
    Rack() {
        rack.prepare(kSr, dsp::kDefaultMaxBlock);
        rack.reset();
    }
    void run(Stereo& s, const int32_t* order = nullptr, int block = 512) {
        static constexpr int32_t kDefault[6] = {0, 1, 2, 3, 4, 5};
        const int32_t* o = order ? order : kDefault;
        fxtest::runBlocks(s, block,
                          [&](int n, float** io) { rack.process(n, io, o, 120.0f, mod); });
    }
};

// Steady-state amplitude: peak over the last `tail` samples.
float tailPeak(const std::vector<float>& v, size_t tail) {
    return fxtest::peak(v, v.size() - tail, v.size());
}

}  // namespace

TEST(EffectRack, EverythingOffPassesTheBusUnchanged) {
    Rack r;
    for (int slot = 79; slot <= 115; ++slot)
        r.rack.setParameter(slot, 0.7f);
    for (int slot = 116; slot <= 121; ++slot)
        r.rack.setParameter(slot, 0.001f);  // not > 0.001
    const Stereo in = fxtest::noise(4096, 3);
    Stereo s = in;
    r.run(s);
    EXPECT_EQ(s.left, in.left);
    EXPECT_EQ(s.right, in.right);
    for (int e = 0; e < 6; ++e)
        EXPECT_FALSE(r.rack.isOn(e));
}

// "LP Only" with colour 1.0 (no filter), drive 1 (pre-gain 0.25 * 16 = 4) and amount 1 is a
// plain gain of 4, so the order can be read off the output exactly.
TEST(EffectRack, OrderRunsDuplicatesTwiceAndSkipsEmptySlots) {
    Rack r;
    r.rack.setParameter(97, 6.0f / 8.0f);
    r.rack.setParameter(98, 1.0f);
    r.rack.setParameter(99, 1.0f);
    r.rack.setParameter(100, 1.0f);
    r.rack.setParameter(kDistOn, 1.0f);
    const Stereo in = fxtest::noise(1024, 4, 0.1f);
    Stereo s = in;
    const int32_t order[6] = {0, 6, 0, -1, INT_MIN, 100};
    r.run(s, order);
    for (size_t i = 0; i < in.size(); ++i) {
        ASSERT_FLOAT_EQ(s.left[i], 16.0f * in.left[i]) << i;
        ASSERT_FLOAT_EQ(s.right[i], 16.0f * in.right[i]) << i;
    }
}

TEST(EffectRack, SwitchedOffDelayKeepsItsLineAndResumes) {
    Rack r;
    r.rack.setParameter(85, 0.0f);   // Simple
    r.rack.setParameter(86, 0.5f);   // no colour
    r.rack.setParameter(87, 0.0f);   // no feedback
    r.rack.setParameter(88, 1.0f);   // wet only
    r.rack.setParameter(89, 0.35f);  // 1/4 = 22050 samples at 120 BPM
    r.rack.setParameter(90, 0.35f);
    r.rack.setParameter(kDelayOn, 1.0f);
    Stereo a(10240);
    a.left[100] = 1.0f;
    r.run(a);  // 10240 samples into the line
    r.rack.setParameter(kDelayOn, 0.0f);
    Stereo off = fxtest::noise(20000, 5);
    const Stereo offIn = off;
    r.run(off);
    EXPECT_EQ(off.left, offIn.left);
    r.rack.setParameter(kDelayOn, 1.0f);
    Stereo b(20480);
    r.run(b);
    // The impulse was written at line time 100 and comes back 22050 line samples later.
    const long at = 100 + 22050 - 10240;
    EXPECT_EQ(fxtest::firstAbove(b.left, 1e-6f), at);
    EXPECT_FLOAT_EQ(b.left[static_cast<size_t>(at)], 1.0f);
}

TEST(Distortion, TypeValueMapsOntoNineTypes) {
    Rack r;
    const std::pair<float, int> cases[] = {{0.0f, 0},   {0.124f, 0},  {0.125f, 1},
                                           {0.999f, 7}, {0.9999f, 7}, {1.0f, 8}};
    for (auto [v, type] : cases) {
        r.rack.setParameter(97, v);
        EXPECT_EQ(r.rack.distortionType(), type) << v;
    }
}

// "LP+Clip": the shaper leaves negative values alone, so with no colour filter the output
// is the input through the 5 Hz DC blocker: z = b0 (x - x1) - a1 z1, with
// K = 2 fs, w = K tan(pi 5 / fs), a1 = (w - K) / (w + K), b0 = K / (w + K).
TEST(Distortion, ClipPassesNegativeInputsLinearlyAndLimitsPositiveOnes) {
    Rack r;
    r.rack.setParameter(97, 1.0f);
    r.rack.setParameter(98, 1.0f);
    r.rack.setParameter(99, 1.0f);  // G = 64 * 0.25 = 16
    r.rack.setParameter(100, 1.0f);
    r.rack.setParameter(kDistOn, 1.0f);
    const double k = 2.0 * kSr;
    const double w = k * std::tan(std::numbers::pi * 5.0 / kSr);
    const double a1 = (w - k) / (w + k), b0 = k / (w + k);

    Stereo s(600);
    const float levels[] = {-0.001f, -0.5f, -3.0f, -250.0f};
    for (size_t i = 0; i < s.size(); ++i)
        s.left[i] = s.right[i] = levels[(i / 150) % 4];
    const Stereo in = s;
    r.run(s, nullptr, 128);
    double x1 = 0.0, z1 = 0.0;
    for (size_t i = 0; i < s.size(); ++i) {
        const double z = b0 * (in.left[i] - x1) - a1 * z1;
        x1 = in.left[i];
        z1 = z;
        ASSERT_NEAR(s.left[i], z, 1e-5 * (1.0 + std::fabs(z))) << i;
    }

    // A large positive step saturates at 0.5 / G before the blocker.
    r.rack.reset();
    Stereo p(1);
    p.left[0] = p.right[0] = 10.0f;
    r.run(p);
    EXPECT_NEAR(p.left[0], b0 * 0.5 / 16.0, 1e-7);
}

// First-order bilinear low-pass and high-pass have a gain of exactly 1/sqrt(2) at their
// corner; "LP Only" / "HP Only" at drive 0.5 (G = 1) run two stages, so a sine at the corner
// comes out at half its level.
TEST(Distortion, ColourFilterCornersSitWhereTheColourPutsThem) {
    struct Case {
        float type, colour;
        double corner;
    };
    const Case cases[] = {{6.0f / 8.0f, 0.5f, 100.0 * std::sqrt(200.0)},
                          {7.0f / 8.0f, 0.5f, std::sqrt(2000.0)},
                          {6.0f / 8.0f, 0.2f, 100.0 * std::pow(200.0, 0.2)}};
    for (const Case& c : cases) {
        Rack r;
        r.rack.setParameter(97, c.type);
        r.rack.setParameter(98, c.colour);
        r.rack.setParameter(99, 0.5f);
        r.rack.setParameter(100, 1.0f);
        r.rack.setParameter(kDistOn, 1.0f);
        Stereo s = fxtest::sine(static_cast<size_t>(kSr), c.corner, kSr);
        r.run(s);
        EXPECT_NEAR(tailPeak(s.left, 8192), 0.5f, 0.005f) << c.corner;
    }
}

// Colour 1.0 with an even type: no filter at all; a 15 kHz sine passes at full level.
TEST(Distortion, ColourAtTopLeavesEvenTypesUnfiltered) {
    Rack r;
    r.rack.setParameter(97, 6.0f / 8.0f);
    r.rack.setParameter(98, 1.0f);
    r.rack.setParameter(99, 0.5f);
    r.rack.setParameter(100, 1.0f);
    r.rack.setParameter(kDistOn, 1.0f);
    const Stereo in = fxtest::sine(4096, 15000.0, kSr, 0.5f);
    Stereo s = in;
    r.run(s);
    for (size_t i = 0; i < s.size(); ++i)
        ASSERT_NEAR(s.left[i], in.left[i], 1e-6f);
}

// After reset the first block starts at the target gains; a change of amount then ramps
// linearly over the next block. Gain-4 "LP Only": output = x (dry + 4 wet).
TEST(Distortion, DryWetStartsAtTargetAndRampsOverABlock) {
    Rack r;
    r.rack.setParameter(97, 6.0f / 8.0f);
    r.rack.setParameter(98, 1.0f);
    r.rack.setParameter(99, 1.0f);
    r.rack.setParameter(100, 0.25f);
    r.rack.setParameter(kDistOn, 1.0f);
    Stereo s(256);
    for (auto& v : s.left)
        v = 1.0f;
    s.right = s.left;
    r.run(s, nullptr, 256);
    EXPECT_FLOAT_EQ(s.left[0], 0.75f + 4.0f * 0.25f);
    EXPECT_FLOAT_EQ(s.left[255], 0.75f + 4.0f * 0.25f);
    r.rack.setParameter(100, 1.0f);
    for (auto& v : s.left)
        v = 1.0f;
    s.right = s.left;
    r.run(s, nullptr, 256);
    for (int n : {0, 64, 128, 255}) {
        const float dry = 0.75f - 0.75f * n / 256.0f, wet = 0.25f + 0.75f * n / 256.0f;
        EXPECT_NEAR(s.left[static_cast<size_t>(n)], dry + 4.0f * wet, 1e-5f) << n;
    }
}

TEST(Equaliser, UnityGainPassesASineForEveryType) {
    for (float type : {0.0f, 0.5f, 1.0f}) {
        for (float freq : {0.0f, 0.5f, 1.0f}) {
            Rack r;
            r.rack.setParameter(101, type);
            r.rack.setParameter(102, freq);
            r.rack.setParameter(103, 0.8f);
            r.rack.setParameter(104, 0.5f);  // 10^0 = 1
            r.rack.setParameter(kEq1On, 1.0f);
            const Stereo in = fxtest::sine(8192, 1234.5, kSr, 0.8f);
            Stereo s = in;
            r.run(s);
            for (size_t i = 0; i < s.size(); ++i)
                ASSERT_NEAR(s.left[i], in.left[i], 1e-6f) << type << " " << freq << " " << i;
        }
    }
}

// Peaking band: the analogue prototype's peak gain g sits, after the (unwarped) bilinear
// transform, at fd = fs / pi * atan(pi f / fs). Shelves: a low shelf has DC gain g, a high
// shelf gain g at Nyquist.
TEST(Equaliser, BandGainsLandWhereTheFiltersPutThem) {
    {
        Rack r;
        r.rack.setParameter(106, 0.0f);
        r.rack.setParameter(107, 0.8f);  // 10 * 1000^0.8 Hz
        r.rack.setParameter(108, 0.75f);
        r.rack.setParameter(109, 1.0f);  // +20 dB
        r.rack.setParameter(kEq2On, 1.0f);
        const double f = 10.0 * std::pow(1000.0, 0.8);
        const double fd = kSr / std::numbers::pi * std::atan(std::numbers::pi * f / kSr);
        Stereo s = fxtest::sine(static_cast<size_t>(kSr), fd, kSr, 0.05f);
        r.run(s);
        EXPECT_NEAR(tailPeak(s.left, 8192), 0.5f, 0.005f);
    }
    {
        Rack r;
        r.rack.setParameter(101, 0.5f);  // low shelf
        r.rack.setParameter(102, 0.5f);
        r.rack.setParameter(104, 0.0f);  // -20 dB
        r.rack.setParameter(kEq1On, 1.0f);
        Stereo s(44100);
        for (auto& v : s.left)
            v = 1.0f;
        s.right = s.left;
        r.run(s);
        EXPECT_NEAR(s.left.back(), 0.1f, 1e-4f);
    }
    {
        Rack r;
        r.rack.setParameter(101, 1.0f);  // high shelf
        r.rack.setParameter(102, 0.5f);
        r.rack.setParameter(104, 0.75f);  // 10^0.5
        r.rack.setParameter(kEq1On, 1.0f);
        Stereo s(44100);
        for (size_t i = 0; i < s.size(); ++i)
            s.left[i] = s.right[i] = (i & 1) ? -0.1f : 0.1f;
        r.run(s);
        EXPECT_NEAR(std::fabs(s.left.back()), 0.1f * std::sqrt(10.0f), 1e-4f);
    }
}

// A corner at or above Nyquist (the delay colour reaches 20 kHz, the reverb damping
// 15 kHz) must still give a stable first-order filter at 22.05 kHz.
TEST(Module, CornersAboveNyquistStayStable) {
    corvane::Module m;
    m.setModuleSampleRate(22050.0);
    for (float f : {10000.0f, 15000.0f, 20000.0f, 1e6f}) {
        float a1 = 0.0f, b0 = 0.0f, b1 = 0.0f;
        m.lowpassCoefs(f, a1, b0);
        EXPECT_LT(std::fabs(a1), 1.0f) << f;
        EXPECT_GT(b0, 0.0f);
        m.highpassCoefs(f, a1, b0);
        EXPECT_LT(std::fabs(a1), 1.0f) << f;
        m.highShelfCoefs(f, 3.0f, a1, b0, b1);
        EXPECT_LT(std::fabs(a1), 1.0f) << f;
    }
    EXPECT_FLOAT_EQ(dsp::expRange(0.5f, 10.0f, 1000.0f), 100.0f);
}

// Values outside 0..1 (a careless host or a damaged patch) are held to the range, so type
// numbers never leave their tables.
TEST(EffectRack, OutOfRangeValuesAreHeldToTheRange) {
    Rack r;
    r.rack.setParameter(97, 5.0f);
    r.rack.setParameter(85, 7.0f);
    r.rack.setParameter(79, -3.0f);
    r.rack.setParameter(91, 100.0f);
    EXPECT_EQ(r.rack.distortionType(), 8);
    EXPECT_EQ(r.rack.delay.type(), 8);
    EXPECT_EQ(r.rack.phaser.type(), 0);
    EXPECT_EQ(r.rack.reverb.type(), 4);
    for (int slot : {116, 117, 118, 119, 120, 121})
        r.rack.setParameter(slot, 2.0f);
    Stereo s = fxtest::noise(2048, 8);
    r.run(s);
    EXPECT_TRUE(std::isfinite(fxtest::peak(s.left, 0, s.size())));
}
