// The reverb: type selection, pre-delay, the silence gate, type changes and the amount.
#include <gtest/gtest.h>

#include <cmath>

#include "FxTestUtil.h"
#include "fx/FxReverb.h"

using corvane::FxReverb;
using corvane::Random;
using fxtest::Stereo;

namespace {

struct Reverb {
    Random random;
    FxReverb r{random};
    explicit Reverb(double sr = 44100.0, float type = 0.0f, float decay = 0.0f,
                    float predelay = 0.0f, float amount = 1.0f) {
        r.prepare(sr, dsp::kDefaultMaxBlock);
        r.reset();
        r.setParameter(0, type);
        r.setParameter(1, decay);
        r.setParameter(2, 0.5f);
        r.setParameter(4, predelay);
        r.setParameter(5, 0.0f);
        r.setParameter(8, amount);
    }
    void run(Stereo& s, int block = 512) {
        fxtest::runBlocks(s, block, [&](int n, float** io) { r.process(n, io); });
    }
    float runPeak(Stereo& s, int block = 512) {
        run(s, block);
        return std::max(fxtest::peak(s.left, 0, s.size()), fxtest::peak(s.right, 0, s.size()));
    }
};

bool isPrime(int n) {
    if (n < 2) return false;
    for (int d = 2; d * d <= n; ++d)
        if (n % d == 0) return false;
    return true;
}

}  // namespace

TEST(Reverb, TypeValueSelectsTheFiveTypes) {
    Reverb a;
    const std::pair<float, int> cases[] = {{0.0f, 0},  {0.25f, 1}, {0.5f, 2},
                                           {0.74f, 2}, {0.99f, 3}, {1.0f, 4}};
    for (auto [v, type] : cases) {
        a.r.setParameter(0, v);
        EXPECT_EQ(a.r.type(), type) << v;
    }
}

TEST(Reverb, LineLengthsArePrimeAtEveryRate) {
    for (double sr : {22050.0, 44100.0, 48000.0, 96000.0, 192000.0}) {
        Reverb a(sr);
        for (int k = 0; k < FxReverb::kCombs; ++k)
            ASSERT_TRUE(isPrime(a.r.combLength(k))) << k;
        for (int j = 0; j < FxReverb::kFdnLines; ++j)
            ASSERT_TRUE(isPrime(a.r.fdnLength(j))) << j;
        EXPECT_TRUE(isPrime(a.r.diffuserLength(0)));
        EXPECT_TRUE(isPrime(a.r.diffuserLength(1)));
        // comb 0: the first prime from floor(500 + 0.025 / 64 * fs)
        const int base = static_cast<int>(std::floor(500.0 + 0.025 / 64.0 * sr));
        EXPECT_GE(a.r.combLength(0), base);
        for (int n = base; n < a.r.combLength(0); ++n)
            EXPECT_FALSE(isPrime(n));
    }
}

// "Room" reads its first right reflection at floor((1609 - 1599) * fs / 48000) + pre-delay
// (9 samples at 44.1 kHz) and its right side has no output delay, so the first sound on the
// right marks the pre-delay: 0.5 gives floor(0.05 * fs) = 2205 samples.
TEST(Reverb, PredelayHalfwayIsFiftyMilliseconds) {
    for (float predelay : {0.0f, 0.5f}) {
        Reverb a(44100.0, 0.5f, 0.3f, predelay);
        Stereo s(4096);
        s.left[0] = s.right[0] = 1.0f;
        a.run(s);
        const long expected = 9 + (predelay > 0.0f ? 2205 : 0);
        EXPECT_EQ(a.r.predelaySamples(), predelay > 0.0f ? 2205 : 0);
        EXPECT_EQ(fxtest::firstAbove(s.right, 1e-6f), expected) << predelay;
    }
    Reverb b(96000.0, 0.0f, 0.3f, 0.5f);
    EXPECT_EQ(b.r.predelaySamples(), 4800);
}

// Decay value 0 is T = 0.5 s = 22050 samples. After the last loud block the tail plays on
// for 43 silent blocks of 512 (22016 samples); the 44th exceeds T and is left alone. When
// sound returns, the reverb resumes exactly where it froze: compare with a twin that never
// saw the gated block.
TEST(Reverb, SilenceGateFreezesTheTailAndResumesIt) {
    Reverb a(44100.0, 0.0f, 0.0f), b(44100.0, 0.0f, 0.0f);
    Stereo loud = fxtest::noise(512, 21, 0.5f);
    Stereo loudB = loud;
    a.run(loud);
    b.run(loudB);
    for (int blk = 0; blk < 43; ++blk) {
        Stereo sa(512), sb(512);
        a.run(sa);
        b.run(sb);
        ASSERT_FALSE(a.r.gated()) << blk;
        if (blk == 42) {
            EXPECT_GT(fxtest::peak(sa.left, 0, 512), 1e-5f);
        }
    }
    Stereo gatedBlock(512);
    a.run(gatedBlock);
    EXPECT_TRUE(a.r.gated());
    EXPECT_EQ(fxtest::peak(gatedBlock.left, 0, 512), 0.0f);
    EXPECT_EQ(fxtest::peak(gatedBlock.right, 0, 512), 0.0f);

    Stereo wake(512), wakeB(512);
    wake.left[0] = wakeB.left[0] = 1e-6f;
    a.run(wake);
    b.run(wakeB);
    EXPECT_FALSE(a.r.gated());
    EXPECT_GT(fxtest::peak(wake.left, 0, 512), 1e-5f);  // the tail, far above the input
    EXPECT_EQ(wake.left, wakeB.left);
    EXPECT_EQ(wake.right, wakeB.right);
}

TEST(Reverb, SameTypeKeepsTheTailAndDiffuse2StartsClean) {
    Reverb a(44100.0, 0.0f, 1.0f);
    Stereo s = fxtest::noise(4096, 22, 0.5f);
    a.run(s);
    a.r.setParameter(0, 0.0f);  // same type again
    Stereo tail(2048);
    tail.left[0] = 1e-6f;
    a.run(tail);
    EXPECT_GT(fxtest::peak(tail.left, 0, tail.size()), 1e-3f);

    a.r.setParameter(0, 0.25f);  // "Diffuse-2" resets everything first
    Stereo fresh(8192);
    fresh.left[0] = 1e-6f;
    a.run(fresh);
    EXPECT_EQ(a.r.type(), 1);
    EXPECT_LT(fxtest::peak(fresh.left, 0, fresh.size()), 1e-5f);
}

// Amount 0: after the first block's jump to the target the output is the input.
TEST(Reverb, NoAmountPassesInput) {
    for (float type : {0.0f, 0.25f, 0.5f, 0.75f, 1.0f}) {
        Reverb a(44100.0, type, 0.5f, 0.3f, 0.0f);
        const Stereo in = fxtest::noise(8192, 23);
        Stereo s = in;
        a.run(s);
        EXPECT_EQ(s.left, in.left) << type;
        EXPECT_EQ(s.right, in.right) << type;
    }
}

// Every type decays: a burst's tail after 3 x T is 60 dB * 3 below its start, and the two
// sides differ (the structure is stereo, not a copied mono signal).
TEST(Reverb, EveryTypeDecaysAndIsStereo) {
    for (float type : {0.0f, 0.25f, 0.5f, 0.75f, 1.0f}) {
        Reverb a(44100.0, type, 0.0f, 0.0f);  // T = 0.5 s
        Stereo s(44100 * 2);
        Stereo burst = fxtest::noise(2048, 24, 0.5f);
        std::copy(burst.left.begin(), burst.left.end(), s.left.begin());
        std::copy(burst.right.begin(), burst.right.end(), s.right.begin());
        a.run(s);
        const float early = fxtest::peak(s.left, 4096, 12000);
        const float late = fxtest::peak(s.left, 4096 + 66150, 4096 + 70000);
        EXPECT_GT(early, 1e-3f) << type;
        EXPECT_LT(late, early * 1e-3f) << type;
        EXPECT_NE(s.left, s.right) << type;
    }
}

// The wide (AVX2/FMA) and the baseline kernels compute the same reverb, up to rounding.
TEST(Reverb, WideAndBaselineKernelsAgree) {
    for (float type : {0.0f, 0.5f, 0.75f}) {
        Stereo wide = fxtest::noise(20000, 25, 0.5f), narrow = wide;
        Reverb a(44100.0, type, 0.5f, 0.1f);
        a.run(wide);
        FxReverb::allowWideKernels(false);
        Reverb b(44100.0, type, 0.5f, 0.1f);
        b.run(narrow);
        FxReverb::allowWideKernels(true);
        float worst = 0.0f;
        for (size_t i = 0; i < wide.size(); ++i)
            worst = std::max(worst, std::fabs(wide.left[i] - narrow.left[i]));
        EXPECT_LT(worst, 1e-4f * fxtest::peak(wide.left, 0, wide.size())) << type;
    }
}
