// The "FX Dist Colour" text names the corner the distortion's colour filter really has: at
// the displayed frequency a quiet sine comes out 3.01 dB below the passband for each
// filter stage the type runs (one for Crunch and Clip, two for the others).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "dsp/Random.h"
#include "fx/EffectRack.h"
#include "patch/ParamInfo.h"

namespace corvane {
namespace {

constexpr double kSr = 44100.0;

// Small-signal gain of the distortion (amount 1, drive 0) at hz: the sine's amplitude over
// the last half second of 1.5 s, by projection onto sine and cosine.
double gainAt(int type, float colour, double hz) {
    Random random;
    EffectRack rack(random);
    rack.prepare(kSr, dsp::kDefaultMaxBlock);
    rack.reset();
    rack.setParameter(97, type / 8.0f);
    rack.setParameter(98, colour);
    rack.setParameter(99, 0.0f);
    rack.setParameter(100, 1.0f);
    constexpr int kBlock = 512, kBlocks = 130;
    constexpr double kAmp = 1e-3;
    std::vector<float> l(kBlock), r(kBlock);
    double re = 0.0, im = 0.0;
    long n = 0, counted = 0;
    for (int b = 0; b < kBlocks; ++b) {
        for (int i = 0; i < kBlock; ++i)
            l[i] = r[i] = static_cast<float>(
                kAmp * std::sin(2.0 * std::numbers::pi * hz * double(n + i) / kSr));
        float* io[2] = {l.data(), r.data()};
        rack.processDistortion(kBlock, io);
        for (int i = 0; i < kBlock; ++i, ++n) {
            if (b < kBlocks - 43) continue;
            const double w = 2.0 * std::numbers::pi * hz * double(n) / kSr;
            re += l[i] * std::cos(w);
            im += l[i] * std::sin(w);
            ++counted;
        }
    }
    return 2.0 * std::hypot(re, im) / double(counted) / kAmp;
}

// The text truncates the corner to whole hertz, so the corner lies between N and N + 1 Hz:
// a high-pass is down more than 3.01 dB per stage at N and less at N + 1, a low-pass the
// other way round. The passband reference sits eight times away from the corner (0.07 dB
// per stage from it, allowed for in the tolerance).
TEST(DistColour, DisplayedFrequencyIsTheFilterCorner) {
    // Stages of the colour filter by type: Crunch 1, Toxic 2, Valve 2, Only 2, Clip 1.
    constexpr int kStages[9] = {1, 1, 2, 2, 2, 2, 2, 2, 1};
    for (int type = 0; type < 9; ++type) {
        for (float colour : {0.4f, 0.7f}) {
            DisplayContext context;
            context.distortionType = type;
            char text[32];
            formatParameterDisplay(98, colour, context, text, sizeof text);
            const double n = std::atof(text);
            ASSERT_GT(n, 0.0) << text;
            const bool lowpass = type % 2 == 0;
            const double reference = lowpass ? n / 8.0 : n * 8.0;
            const double pass = gainAt(type, colour, reference);
            const double atN = 20.0 * std::log10(gainAt(type, colour, n) / pass);
            const double atN1 = 20.0 * std::log10(gainAt(type, colour, n + 1.0) / pass);
            const double corner = -3.01 * kStages[type], tol = 0.12 * kStages[type];
            SCOPED_TRACE(testing::Message() << "type " << type << " colour " << colour << ": "
                                            << text << ", " << atN << " / " << atN1 << " dB");
            if (lowpass) {
                EXPECT_GT(atN, corner - tol);
                EXPECT_LT(atN1, corner + tol);
            } else {
                EXPECT_LT(atN, corner + tol);
                EXPECT_GT(atN1, corner - tol);
            }
            // Within a few tenths of a dB of the corner at the displayed value itself.
            EXPECT_NEAR(atN, corner, 0.35 * kStages[type]);
        }
    }
}

}  // namespace
}  // namespace corvane
