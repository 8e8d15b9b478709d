#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

#include "dsp/Random.h"
#include "engine/Filter.h"

using corvane::Filter;
using corvane::FilterState;

namespace {

constexpr double kFs = 44100.0;

struct ConstantEnvelope {
    float level = 0.0f;
    int steps = 0;
    void operator()(float* levels, int n) {
        steps += n;
        for (int i = 0; i < n; ++i)
            levels[i] = level;
    }
};

// Frequency of a table entry as the table defines it.
double entryFrequency(int j) {
    return 1.021974609375 * std::pow(2.0, j / 768.0);
}

// Normalised cutoff that lands on table entry j.
float cutoffOf(int j) {
    return (static_cast<float>(j) + 0.5f) / 11520.0f;
}

// Filters a sine of frequency f (both channels, interleaved, sub-blocks of 64) and returns
// the output amplitude of the left channel measured after `settle` seconds by projecting
// onto the sine and cosine of f.
double gainAt(const Filter& filter, double f, float cutoff, double settle = 1.0,
              double measure = 1.0, float envAmount = 0.0f, float envLevel = 0.0f) {
    FilterState state;
    ConstantEnvelope env{envLevel};
    const int total = static_cast<int>((settle + measure) * kFs);
    const int from = static_cast<int>(settle * kFs);
    const double w = 2.0 * std::numbers::pi * f / kFs;
    double re = 0.0, im = 0.0;
    int counted = 0;
    float buf[128];
    for (int n0 = 0; n0 < total; n0 += 64) {
        for (int i = 0; i < 64; ++i)
            buf[2 * i] = buf[2 * i + 1] = std::sin(w * (n0 + i));
        filter.process(state, cutoff, envAmount, env, buf, buf + 1, 2, 64);
        for (int i = 0; i < 64; ++i) {
            const int n = n0 + i;
            if (n < from) continue;
            re += buf[2 * i] * std::cos(w * n);
            im += buf[2 * i] * std::sin(w * n);
            ++counted;
        }
    }
    return 2.0 * std::hypot(re, im) / counted;
}

}  // namespace

// At the frequency a table entry stands for, the three classic outputs all pass 1/k and the
// band-stop output x - bp leaves |1 - 1/k|: k = 2 (-6.02 dB) at resonance 0, k = 1/16
// (+24.08 dB, Q 16) at resonance 1. Margin 0.5 %.
TEST(Filter, GainsAtTheTableFrequencyFollowTheDamping) {
    Filter filter;
    filter.buildTable(kFs);
    const int j = 7680;
    const double f = entryFrequency(j);
    EXPECT_NEAR(f, 1046.5, 0.01);
    for (float resonance : {0.0f, 1.0f}) {
        filter.setResonance(resonance);
        const double k = 2.0 * std::pow(32.0, -resonance);
        for (int type = 1; type <= 4; ++type) {
            filter.setType(static_cast<float>(type));
            const double expected = type == 3 ? std::fabs(1.0 - 1.0 / k) : 1.0 / k;
            const double settle = resonance > 0.5f ? 1.5 : 0.3;
            EXPECT_NEAR(gainAt(filter, f, cutoffOf(j), settle), expected, expected * 0.005)
                << "type " << type << " resonance " << resonance;
        }
    }
    filter.setResonance(0.0f);
    filter.setType(1.0f);
    EXPECT_NEAR(20.0 * std::log10(gainAt(filter, f, cutoffOf(j), 0.3)), -6.02, 0.05);
}

// Cutoff 0 is the 10 Hz end of the table: -6 dB at 10 Hz, and a 1 kHz sine is ~80 dB down
// (second-order slope: (10/1000)^2). The top end is 20 kHz.
TEST(Filter, TableEndsSitAtTenHertzAndTwentyKilohertz) {
    Filter filter;
    filter.buildTable(kFs);
    filter.setType(1.0f);
    filter.setResonance(0.0f);
    EXPECT_FLOAT_EQ(filter.table()[0], static_cast<float>(std::tan(std::numbers::pi * 10 / kFs)));
    EXPECT_EQ(filter.table()[2527], filter.table()[0]);
    EXPECT_GT(filter.table()[2529], filter.table()[0]);
    EXPECT_EQ(Filter::tableIndex(1.0f), 11519);
    EXPECT_FLOAT_EQ(filter.table()[11519],
                    static_cast<float>(std::tan(std::numbers::pi * 20000 / kFs)));
    EXPECT_EQ(Filter::tableIndex(-0.3f), 0);

    EXPECT_NEAR(gainAt(filter, 10.0, 0.0f, 1.0, 2.0), 0.5, 0.005);
    EXPECT_LT(gainAt(filter, 1000.0, 0.0f, 0.5, 0.5), 2e-4);
}

// Below Nyquist at any sample rate: at 32 kHz the 20 kHz end must not fold into a negative
// coefficient (which would make the filter unstable).
TEST(Filter, LowSampleRateKeepsTheTopBelowNyquist) {
    Filter filter;
    filter.buildTable(32000.0);
    for (int j = 1; j < corvane::kCutoffTableSize; ++j) {
        ASSERT_GT(filter.table()[j], 0.0f);
        ASSERT_GE(filter.table()[j], filter.table()[j - 1]);
    }
}

// Key tracking 1.0 from cutoff 0: key 60 opens to entry 3840 (about 32.7 Hz), key 120 to
// entry 7680 (1046.5 Hz); one semitone of key is 64 entries.
TEST(Filter, KeyTrackingCountsSemitonesFromKeyZero) {
    EXPECT_EQ(Filter::tableIndex(Filter::cutoffTarget(0.0f, 0.0f, 60 * 128.0f, 1.0f)), 3840);
    EXPECT_EQ(Filter::tableIndex(Filter::cutoffTarget(0.0f, 0.0f, 120 * 128.0f, 1.0f)), 7680);
    EXPECT_EQ(Filter::tableIndex(Filter::cutoffTarget(0.0f, 0.0f, 61 * 128.0f, 1.0f)), 3904);
    EXPECT_NEAR(entryFrequency(3840), 32.7, 0.01);
    // half tracking moves half as far; modulation adds on top
    EXPECT_EQ(Filter::tableIndex(Filter::cutoffTarget(0.0f, 0.25f, 120 * 128.0f, 0.5f)),
              3840 + 2880);
}

// The envelope runs once per sample while the filter is on and opens the cutoff by e x a:
// with a full envelope and amount 1 a filter closed at 10 Hz passes 1 kHz unchanged.
TEST(Filter, EnvelopeStepsPerSampleAndOpensTheCutoff) {
    Filter filter;
    filter.buildTable(kFs);
    filter.setType(1.0f);
    EXPECT_NEAR(gainAt(filter, 1000.0, 0.0f, 0.1, 0.5, 1.0f, 1.0f), 1.0, 0.01);

    FilterState s;
    ConstantEnvelope env{0.5f};
    float buf[2 * 48] = {};
    filter.process(s, 0.2f, 1.0f, env, buf, buf + 1, 2, 48);
    EXPECT_EQ(env.steps, 48);
    EXPECT_FLOAT_EQ(s.previousCutoff, 0.2f);
}

// "Off" (and any unknown type): the signal is untouched, the envelope does not move, the ramp
// still remembers its end point.
TEST(Filter, TypeOffPassesTheVoiceAndFreezesTheEnvelope) {
    Filter filter;
    filter.buildTable(kFs);
    for (float type : {0.0f, 7.0f}) {
        filter.setType(type);
        FilterState s;
        ConstantEnvelope env{1.0f};
        float l[64], r[64];
        for (int i = 0; i < 64; ++i) {
            l[i] = static_cast<float>(i) * 0.01f;
            r[i] = -l[i];
        }
        filter.process(s, 0.3f, 1.0f, env, l, r, 1, 64);
        EXPECT_EQ(env.steps, 0);
        for (int i = 0; i < 64; ++i) {
            ASSERT_EQ(l[i], static_cast<float>(i) * 0.01f);
            ASSERT_EQ(r[i], -l[i]);
        }
        EXPECT_FLOAT_EQ(s.previousCutoff, 0.3f);
    }
}

// After an impulse has died away the integrators are exactly 0, not denormal.
TEST(Filter, DecayedStatesAreFlushedToZero) {
    Filter filter;
    filter.buildTable(kFs);
    filter.setType(2.0f);
    filter.setResonance(0.5f);
    FilterState s;
    ConstantEnvelope env;
    std::vector<float> l(64), r(64);
    l[0] = r[0] = 1.0f;
    for (int block = 0; block < 4000; ++block) {
        filter.process(s, 0.6f, 0.0f, env, l.data(), r.data(), 1, 64);
        std::fill(l.begin(), l.end(), 0.0f);
        std::fill(r.begin(), r.end(), 0.0f);
    }
    EXPECT_EQ(s.ic1L, 0.0f);
    EXPECT_EQ(s.ic2L, 0.0f);
    EXPECT_EQ(s.ic1R, 0.0f);
    EXPECT_EQ(s.ic2R, 0.0f);
}

// The result does not depend on how a signal is cut into sub-blocks (odd lengths included)
// as long as the cutoff and envelope stay put; resonant band-pass, margin 1e-5.
TEST(Filter, SubBlockLengthsDoNotChangeTheOutput) {
    Filter filter;
    filter.buildTable(kFs);
    filter.setType(2.0f);
    filter.setResonance(0.8f);
    std::vector<float> x(64 * 63);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(std::sin(0.05 * i));
    std::vector<float> whole = x, cut = x, right(x.size());
    FilterState a, b;
    ConstantEnvelope env{0.3f};
    for (size_t i = 0; i < x.size(); i += 64) {
        filter.process(a, 0.5f, 0.4f, env, whole.data() + i, right.data() + i, 1, 64);
    }
    const int lengths[] = {37, 1, 63, 27, 64, 3};
    for (size_t i = 0, j = 0; i < x.size(); ++j) {
        const int n = std::min<int>(lengths[j % 6], static_cast<int>(x.size() - i));
        filter.process(b, 0.5f, 0.4f, env, cut.data() + i, right.data() + i, 1, n);
        i += n;
    }
    for (size_t i = 0; i < x.size(); ++i)
        ASSERT_NEAR(cut[i], whole[i], 1e-5) << i;
}

// At both ends of the table and full resonance every output stays finite and bounded for a
// full-scale noise input (the peak gain is Q = 16).
TEST(Filter, ExtremeSettingsStayBounded) {
    Filter filter;
    filter.buildTable(kFs);
    filter.setResonance(1.0f);
    corvane::Random random(7);
    for (int type = 1; type <= 4; ++type) {
        filter.setType(static_cast<float>(type));
        for (float cutoff : {0.0f, 1.0f}) {
            FilterState s;
            ConstantEnvelope env;
            float l[64], r[64];
            float peak = 0.0f;
            for (int block = 0; block < 700; ++block) {
                for (int i = 0; i < 64; ++i) {
                    l[i] = static_cast<float>(random.next()) / 16383.5f - 1.0f;
                    r[i] = -l[i];
                }
                filter.process(s, cutoff, 0.0f, env, l, r, 1, 64);
                for (int i = 0; i < 64; ++i)
                    peak = std::max(peak, std::fabs(l[i]));
            }
            EXPECT_TRUE(std::isfinite(peak));
            EXPECT_LT(peak, 64.0f) << "type " << type << " cutoff " << cutoff;
        }
    }
}

// The AVX2 loop (where the processor has it) and the baseline loop compute the same numbers,
// and so do an interleaved buffer and two separate channels.
TEST(Filter, AllLoopsAgreeExactly) {
    Filter wide, base;
    wide.buildTable(kFs);
    base.buildTable(kFs);
    base.useWideKernel(false);
    corvane::Random random(3);
    for (int type = 1; type <= 4; ++type) {
        wide.setType(static_cast<float>(type));
        base.setType(static_cast<float>(type));
        wide.setResonance(0.7f);
        base.setResonance(0.7f);
        FilterState sw, sb, ss;
        float level = 0.0f;
        auto envelope = [&level](float* levels, int n) {
            for (int i = 0; i < n; ++i)
                levels[i] = level = level * 0.999f + 0.001f;
        };
        for (int block = 0; block < 50; ++block) {
            float lw[2 * 61], lb[2 * 61], left[61], right[61];
            for (int i = 0; i < 2 * 61; ++i) {
                lw[i] = lb[i] = static_cast<float>(random.next()) / 16383.5f - 1.0f;
            }
            for (int i = 0; i < 61; ++i) {
                left[i] = lw[2 * i];
                right[i] = lw[2 * i + 1];
            }
            const float target = 0.2f + 0.01f * static_cast<float>(block % 13);
            const float saved = level;
            wide.process(sw, target, 0.3f, envelope, lw, lw + 1, 2, 61);
            level = saved;
            base.process(sb, target, 0.3f, envelope, lb, lb + 1, 2, 61);
            level = saved;
            wide.process(ss, target, 0.3f, envelope, left, right, 1, 61);
            for (int i = 0; i < 2 * 61; ++i)
                ASSERT_EQ(lw[i], lb[i]) << type << " " << block;
            for (int i = 0; i < 61; ++i) {
                ASSERT_EQ(left[i], lw[2 * i]) << type << " " << block;
                ASSERT_EQ(right[i], lw[2 * i + 1]) << type << " " << block;
            }
        }
    }
}

namespace {

// Voices filtered side by side (two or four) end exactly as each filtered on its own:
// outputs, states, envelope steps and the remembered cutoff.
template <int N>
void checkGroupMatchesAlone(Filter& filter, corvane::Random& random) {
    FilterState grouped[N], alone[N];
    float levels[N];
    auto rising = [](float& level) {
        return [&level](float* out, int n) {
            for (int i = 0; i < n; ++i)
                out[i] = level = level * 0.99f + 0.01f;
        };
    };
    using Envelope = decltype(rising(levels[0]));
    std::vector<Envelope> envelopes;
    for (int v = 0; v < N; ++v) {
        levels[v] = 0.2f * static_cast<float>(v);
        envelopes.push_back(rising(levels[v]));
    }
    const int sizes[] = {64, 61, 100, 1, 64};
    for (int block = 0; block < 40; ++block) {
        const int n = sizes[block % 5];
        std::vector<std::vector<float>> data(N), copy(N);
        float targets[N], saved[N], groupLevels[N];
        for (int v = 0; v < N; ++v) {
            data[v].resize(2 * n);
            for (float& x : data[v])
                x = static_cast<float>(random.next()) / 16383.5f - 1.0f;
            copy[v] = data[v];
            targets[v] = 0.3f + 0.02f * static_cast<float>((block + 3 * v) % 7);
            saved[v] = levels[v];
        }
        auto job = [&](int v) {
            return Filter::Job<Envelope>{grouped[v], targets[v], 0.2f - 0.1f * v, envelopes[v],
                                         data[v].data()};
        };
        if constexpr (N == 2) {
            Filter::Job<Envelope> jobs[2] = {job(0), job(1)};
            filter.processGroup<2>(jobs, n);
        } else {
            Filter::Job<Envelope> jobs[4] = {job(0), job(1), job(2), job(3)};
            filter.processGroup<4>(jobs, n);
        }
        for (int v = 0; v < N; ++v) {
            groupLevels[v] = levels[v];
            levels[v] = saved[v];
            filter.process(alone[v], targets[v], 0.2f - 0.1f * v, envelopes[v], copy[v].data(),
                           copy[v].data() + 1, 2, n);
            ASSERT_EQ(groupLevels[v], levels[v]);
            ASSERT_EQ(data[v], copy[v]) << N << " voices, voice " << v << ", block " << block;
            ASSERT_EQ(grouped[v].ic1L, alone[v].ic1L);
            ASSERT_EQ(grouped[v].ic2L, alone[v].ic2L);
            ASSERT_EQ(grouped[v].ic1R, alone[v].ic1R);
            ASSERT_EQ(grouped[v].ic2R, alone[v].ic2R);
            ASSERT_EQ(grouped[v].previousCutoff, alone[v].previousCutoff);
        }
    }
}

TEST(Filter, VoicesSideBySideMatchEachAlone) {
    Filter filter;
    filter.buildTable(kFs);
    filter.setResonance(0.6f);
    corvane::Random random(9);
    for (bool wide : {true, false}) {
        filter.useWideKernel(wide);
        for (int type = 1; type <= 4; ++type) {
            filter.setType(static_cast<float>(type));
            checkGroupMatchesAlone<2>(filter, random);
            checkGroupMatchesAlone<4>(filter, random);
        }
    }
}

}  // namespace
