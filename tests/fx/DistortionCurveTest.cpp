// The distortion's fast curves against the exact ones computed in double: the largest error
// over each curve's range stays within the bound the header states, silence maps exactly to
// silence, and the far ends saturate instead of overflowing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "FxTestUtil.h"
#include "dsp/Random.h"
#include "fx/DistortionCurves.h"
#include "fx/EffectRack.h"

namespace c = corvane::curves;

namespace {

// The largest |fast - exact| over n + 1 points from lo to hi, each error divided by
// `scale(exact)`.
template <typename Fast, typename Exact, typename Scale>
double largestError(double lo, double hi, int n, Fast fast, Exact exact, Scale scale) {
    double worst = 0.0;
    for (int i = 0; i <= n; ++i) {
        const float x = static_cast<float>(lo + (hi - lo) * i / n);
        const double e = exact(static_cast<double>(x));
        worst = std::max(worst, std::fabs(static_cast<double>(fast(x)) - e) / scale(e));
    }
    return worst;
}

const auto kAbsolute = [](double) { return 1.0; };

TEST(DistortionCurves, Exp2StaysWithinItsRelativeError) {
    const double worst = largestError(
        -99.0, 126.9, 2000000, [](float x) { return c::exp2Fast(x); },
        [](double x) { return std::exp2(x); }, [](double e) { return e; });
    EXPECT_LT(worst, 2e-7);
    EXPECT_EQ(c::exp2Fast(0.0f), 1.0f);
    EXPECT_EQ(c::exp2Fast(10.0f), 1024.0f);
    // Held at the ends: nothing subnormal, nothing infinite.
    EXPECT_EQ(c::exp2Fast(-1000.0f), std::exp2(-100.0f));
    EXPECT_TRUE(std::isfinite(c::exp2Fast(1000.0f)));
    EXPECT_TRUE(std::isnormal(c::expFast(-1e30f)));
}

TEST(DistortionCurves, TanhStaysWithinItsError) {
    const double worst = largestError(
        -20.0, 20.0, 2000000, [](float y) { return c::tanhFast(y); },
        [](double y) { return std::tanh(y); }, kAbsolute);
    EXPECT_LT(worst, 2e-7);
    EXPECT_EQ(c::tanhFast(0.0f), 0.0f);
    EXPECT_EQ(c::tanhFast(1e6f), 1.0f);
    EXPECT_EQ(c::tanhFast(-1e6f), -1.0f);
}

TEST(DistortionCurves, ToxicStaysWithinItsErrorAtEveryDrive) {
    for (float g : {1.0f, 2.5f, 8.0f, 23.0f, 64.0f}) {
        SCOPED_TRACE(g);
        const double worst = largestError(
            0.0, 4.0, 400000, [g](float ax) { return c::toxic(ax, g); },
            [g](double ax) { return 0.25 * (1.0 - (1.0 - ax) * std::pow(10.0, -g * ax)); },
            kAbsolute);
        EXPECT_LT(worst, 2e-7);
        EXPECT_EQ(c::toxic(0.0f, g), 0.0f);
    }
}

TEST(DistortionCurves, ValveStaysWithinItsErrorAndRestsAtZero) {
    // The exact curve less its value at t = 0.25, where the input 0 lands.
    auto exact = [](double t) {
        return (std::fabs(t) < 0.0001 ? 0.125 : t / (1.0 - std::exp(-8.0 * t))) -
               0.25 / (1.0 - std::exp(-2.0));
    };
    // Far out the curve runs like t itself: the error is relative there. Within 0.01 of
    // t = 0 the quotient cancels in float, and within 1e-4 the curve takes its limit 1/8,
    // which is off by up to 5e-5 at the window's edge (the curve computed with the
    // library's exp shares both).
    auto fast = [](float t) { return c::valve(t); };
    auto scale = [](double e) { return std::max(1.0, std::fabs(e)); };
    EXPECT_LT(largestError(-40.0, -0.01, 1000000, fast, exact, scale), 2e-7);
    EXPECT_LT(largestError(0.01, 40.0, 1000000, fast, exact, scale), 2e-7);
    EXPECT_LT(largestError(-0.01, 0.01, 100000, fast, exact, scale), 6e-5);
    volatile float quarter = 0.25f;  // computed now, not folded by the compiler
    EXPECT_EQ(c::valveRaw(c::splat(quarter))[0], c::kValveRest);
    EXPECT_EQ(c::valve(0.25f), 0.0f);
    EXPECT_TRUE(std::isfinite(c::valve(-1e30f)));
    EXPECT_TRUE(std::isfinite(c::valve(1e30f)));
}

}  // namespace

namespace {

// The rack computes a block's curves four samples at a time in chunks of 256 frames: how a
// signal is cut into blocks must not show in the output. With the amount held (no ramp after
// the first block), one long block and odd short ones give the same bits for every type.
TEST(DistortionCurves, BlockLengthsDoNotShowInTheOutput) {
    const fxtest::Stereo signal = fxtest::noise(3001, 11, 0.8f);
    for (int type = 0; type < 9; ++type) {
        SCOPED_TRACE(type);
        std::vector<float> outputs[2][2];
        for (int way = 0; way < 2; ++way) {
            corvane::Random random;
            corvane::EffectRack rack(random);
            rack.prepare(44100.0, dsp::kDefaultMaxBlock);
            rack.reset();
            rack.setParameter(97, type / 8.0f + 0.001f);
            rack.setParameter(98, 0.4f);
            rack.setParameter(99, 0.7f);
            rack.setParameter(100, 0.6f);
            std::vector<float> l = signal.left, r = signal.right;
            const int lengths[2][4] = {{3001, 0, 0, 0}, {1, 7, 258, 255}};
            int done = 0;
            for (int k = 0; done < 3001; k = (k + 1) % 4) {
                const int n = std::min(way == 0 ? lengths[0][0] : lengths[1][k], 3001 - done);
                float* io[2] = {l.data() + done, r.data() + done};
                rack.processDistortion(n, io);
                done += n;
            }
            outputs[way][0] = l;
            outputs[way][1] = r;
        }
        EXPECT_EQ(outputs[0][0], outputs[1][0]);
        EXPECT_EQ(outputs[0][1], outputs[1][1]);
    }
}

}  // namespace
