// The text a host shows for a value and what the sound does with it come from one range:
// parse the display text and compare it with the unit that applies the value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "dsp/Random.h"
#include "engine/Lfo.h"
#include "fx/FxReverb.h"
#include "patch/ParamInfo.h"

namespace corvane {
namespace {

double shown(int slot, float v) {
    char text[64];
    formatParameterDisplay(slot, v, DisplayContext{}, text, sizeof text);
    return std::strtod(text, nullptr);
}

TEST(DisplayMatchesSound, ReverbPredelayInWholeMillisecondsAtEveryStep) {
    Random random;
    FxReverb reverb(random);
    reverb.prepare(44100.0, dsp::kDefaultMaxBlock);
    // Every step, and the floats just below and above each step's exact value: a host that
    // stores 29 ms as 0.29f, or one ulp under it, sees and hears the same 29 ms.
    for (int ms = 0; ms <= 100; ++ms) {
        const float exact = static_cast<float>(ms / 100.0);
        for (float v : {std::nextafter(exact, 0.0f), exact, std::nextafter(exact, 1.0f)}) {
            if (v < 0.0f || v > 1.0f) continue;
            reverb.setParameter(4, v);
            const double shownMs = shown(95, v);
            EXPECT_EQ(reverb.predelaySamples(),
                      static_cast<int>(std::floor(shownMs * 44100.0 * 0.001)))
                << "value " << v << " shows " << shownMs << " ms";
            EXPECT_NEAR(shownMs, ms, 0.0) << "value " << v;
        }
    }
}

TEST(DisplayMatchesSound, LfoRateShowsTheFrequencyItRunsAt) {
    // 0.1 Hz at 0, 100 Hz at 1, 0.1 * 1000^v between (3.16 Hz at the middle).
    for (float v : {0.0f, 0.25f, 0.5f, 0.8f, 1.0f}) {
        const double hz = Lfo::freeRate(v);
        EXPECT_NEAR(hz, 0.1 * std::pow(1000.0, v), 1e-9);
        EXPECT_NEAR(shown(34, v), hz, 0.05 + 1e-9) << v;  // shown to one decimal
    }
}

}  // namespace
}  // namespace corvane
