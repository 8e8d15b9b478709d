// The reverb's decay rates and output levels: "Diffuse-2" decays at the rate Decay sets
// for every Damp setting, and the five types answer one input at comparable levels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#include "FxTestUtil.h"
#include "fx/FxReverb.h"

using corvane::FxReverb;
using corvane::Random;
using fxtest::Stereo;

namespace {

constexpr double kSr = 44100.0;

struct Reverb {
    Random random;
    FxReverb r{random};
    Reverb(float type, float decay, float damp) {
        r.prepare(kSr, dsp::kDefaultMaxBlock);
        r.reset();
        r.setParameter(0, type);
        r.setParameter(1, decay);
        r.setParameter(2, damp);
        r.setParameter(4, 0.0f);
        r.setParameter(5, 0.0f);
        r.setParameter(8, 1.0f);  // the output is the wet signal alone
    }
    void run(Stereo& s) {
        fxtest::runBlocks(s, 512, [&](int n, float** io) { r.process(n, io); });
    }
};

// The Decay setting whose decay time is t seconds: t = 0.5 * 20^v.
float decayFor(double t) {
    return static_cast<float>(std::log(t / 0.5) / std::log(20.0));
}

// Level in dB of both channels over [from, to) seconds.
double levelDb(const Stereo& s, double from, double to) {
    double sum = 0.0;
    const size_t a = static_cast<size_t>(from * kSr), b = static_cast<size_t>(to * kSr);
    for (size_t i = a; i < b && i < s.size(); ++i)
        sum += double(s.left[i]) * s.left[i] + double(s.right[i]) * s.right[i];
    return 10.0 * std::log10(sum / (2.0 * double(b - a)) + 1e-30);
}

// Least-squares slope in dB per second of the 50 ms levels between two times.
double decaySlope(const Stereo& s, double from, double to) {
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    int n = 0;
    for (double t = from; t + 0.05 <= to; t += 0.05, ++n) {
        const double y = levelDb(s, t, t + 0.05);
        sx += t;
        sy += y;
        sxx += t * t;
        sxy += t * y;
    }
    return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

// A 200 Hz burst of 0.1 s, then silence.
Stereo lowBurst(double seconds) {
    Stereo s(static_cast<size_t>(seconds * kSr));
    for (size_t i = 0; i < static_cast<size_t>(0.2 * kSr); ++i)
        s.left[i] = s.right[i] =
            static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 50.0 * i / kSr));
    return s;
}

}  // namespace

// The absorbing one-pole of each "Diffuse-2" line is o = g x + b o' (a low-pass whose DC gain
// g / (1 - b) restores the line's nominal decay), so low frequencies die away at 60 dB per
// Decay time whatever Damp says, while Damp shortens the highs. (Written as o = g x - b o',
// the filter would lose 6 dB per pass at DC with Damp 0: some 260 dB/s at a 1 s Decay.)
TEST(ReverbDecay, Diffuse2LowsDecayAtTheDecayTimeForEveryDamp) {
    for (float damp : {0.0f, 0.5f, 1.0f}) {
        for (double t : {1.0, 2.0, 4.0}) {
            Reverb a(0.25f, decayFor(t), damp);
            Stereo s = lowBurst(0.3 + t);
            a.run(s);
            // The silence gate holds the tail from t seconds after the burst on.
            EXPECT_NEAR(decaySlope(s, 0.2, 0.2 + 0.8 * t), -60.0 / t, 0.12 * 60.0 / t)
                << "damp " << damp << " decay " << t << " s";
        }
    }
}

TEST(ReverbDecay, Diffuse2DampShortensTheHighs) {
    auto noiseSlope = [](float damp) {
        Reverb a(0.25f, decayFor(2.0), damp);
        Stereo n = fxtest::noise(static_cast<size_t>(1.2 * kSr), 5, 0.3f);
        for (size_t i = static_cast<size_t>(0.1 * kSr); i < n.size(); ++i)
            n.left[i] = n.right[i] = 0.0f;
        a.run(n);
        return decaySlope(n, 0.2, 1.0);
    };
    const double open = noiseSlope(1.0f), damped = noiseSlope(0.0f);
    EXPECT_NEAR(open, -30.0, 2.0);
    EXPECT_LT(damped, 1.08 * open);
}

// One input (a quarter second of noise at 0.3, then silence), init-patch Decay and Damp,
// amount 1: the wet level of each type over three seconds. "Diffuse-2" keeps a make-up of
// 16 on its output sums; without it the type sat 24 dB below the other four.
TEST(ReverbLevels, EveryTypeAnswersOneInputAtAComparableLevel) {
    double level[5];
    for (int type = 0; type < 5; ++type) {
        Reverb a(type / 4.0f, 0.58f, 0.51f);
        Stereo s = fxtest::noise(static_cast<size_t>(3.0 * kSr), 5, 0.3f);
        for (size_t i = static_cast<size_t>(0.25 * kSr); i < s.size(); ++i)
            s.left[i] = s.right[i] = 0.0f;
        a.run(s);
        level[type] = levelDb(s, 0.0, 3.0);
        std::printf("reverb type %d: %.1f dB\n", type, level[type]);
    }
    for (int type = 1; type < 5; ++type)
        EXPECT_NEAR(level[type], level[0], 6.0) << type;
}
