// Every effect type at extreme settings and at every supported rate stays finite and
// bounded under noise and impulses; no process call allocates.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "FxTestUtil.h"
#include "dsp/LfoSine.h"
#include "fx/EffectRack.h"

using corvane::DelayModulation;
using corvane::EffectRack;
using corvane::Random;

namespace {

constexpr int kBlock = 512;

// Settings of the effect slots 79..110 for the two extreme variants: everything at the top,
// and "resonant" (colours open, feedback/resonance/drive/amount at 1, slowest rates).
void setExtremes(EffectRack& rack, int variant) {
    for (int slot = 79; slot <= 110; ++slot)
        rack.setParameter(slot, variant == 0 ? 1.0f : 0.0f);
    if (variant == 1) {
        for (int slot : {82, 83, 84, 87, 88, 93, 94, 99, 100, 104, 109})
            rack.setParameter(slot, 1.0f);
        for (int slot : {86, 98})
            rack.setParameter(slot, 0.5f);
        rack.setParameter(92, 1.0f);  // reverb without damping
    }
}

struct Config {
    int effect;
    int type;
};

// The type setting of an effect's type slot.
void setType(EffectRack& rack, const Config& c) {
    switch (c.effect) {
        case EffectRack::kDistortion:
            rack.setParameter(97, c.type / 8.0f);
            break;
        case EffectRack::kEq1:
            rack.setParameter(101, c.type / 2.0f);
            break;
        case EffectRack::kEq2:
            rack.setParameter(106, c.type / 2.0f);
            break;
        case EffectRack::kPhaser:
            rack.setParameter(79, c.type / 6.0f + 0.001f);
            break;
        case EffectRack::kDelay:
            rack.setParameter(85, c.type / 8.0f);
            break;
        default:
            rack.setParameter(91, c.type / 4.0f);
            break;
    }
}

// Runs `seconds` of noise with an impulse of 4 every 50 ms through the configured rack;
// returns the peak output, or infinity at the first non-finite sample.
float drive(EffectRack& rack, const int32_t* order, double sr, double seconds, uint32_t seed) {
    Random noise(seed);
    std::vector<float> l(kBlock), r(kBlock);
    float* io[2] = {l.data(), r.data()};
    DelayModulation mod;
    mod.phaseIncrement = static_cast<uint32_t>(4294967296.0 * 3.0 / sr);
    mod.lfoTable = corvane::lfoSine();
    mod.depth = 0.9f;
    const long blocks = static_cast<long>(seconds * sr / kBlock);
    const long impulseEvery = static_cast<long>(0.05 * sr / kBlock) + 1;
    float peak = 0.0f;
    for (long b = 0; b < blocks; ++b) {
        for (int i = 0; i < kBlock; ++i) {
            l[static_cast<size_t>(i)] = static_cast<float>(noise.next()) / 16383.5f - 1.0f;
            r[static_cast<size_t>(i)] = static_cast<float>(noise.next()) / 16383.5f - 1.0f;
        }
        if (b % impulseEvery == 0) l[0] = r[0] = 4.0f;
        rack.process(kBlock, io, order, 240.0f, mod);
        mod.phase += mod.phaseIncrement * kBlock;
        for (int i = 0; i < kBlock; ++i) {
            const float a = std::max(std::fabs(l[static_cast<size_t>(i)]),
                                     std::fabs(r[static_cast<size_t>(i)]));
            if (!std::isfinite(a)) return INFINITY;
            peak = std::max(peak, a);
        }
    }
    return peak;
}

constexpr int kOnSlot[6] = {119, 120, 121, 116, 117, 118};

}  // namespace

// 36 effect types x 2 variants x 4 rates, 1.5 s each (over 400 s of audio in all), plus the
// whole rack at its most extreme for a full minute. Inputs peak at 4 (impulses) on noise of
// 1; the largest linear gain is an EQ band's 10, so a stable effect stays below 100.
TEST(Stability, EveryEffectTypeStaysFiniteAndBounded) {
    const int typeCount[6] = {9, 3, 3, 7, 9, 5};
    for (double sr : {22050.0, 44100.0, 96000.0, 192000.0}) {
        Random random;
        EffectRack rack(random);
        rack.prepare(sr, dsp::kDefaultMaxBlock);
        for (int effect = 0; effect < 6; ++effect) {
            for (int type = 0; type < typeCount[effect]; ++type) {
                for (int variant = 0; variant < 2; ++variant) {
                    rack.reset();
                    setExtremes(rack, variant);
                    for (int e = 0; e < 6; ++e)
                        rack.setParameter(kOnSlot[e], 0.0f);
                    rack.setParameter(kOnSlot[effect], 1.0f);
                    const Config c{effect, type};
                    setType(rack, c);
                    const int32_t order[6] = {effect, -1, -1, -1, -1, -1};
                    const float p = drive(rack, order, sr, 1.5, 7u + static_cast<uint32_t>(type));
                    ASSERT_LT(p, 100.0f) << "rate " << sr << " effect " << effect << " type "
                                         << type << " variant " << variant;
                }
            }
        }
    }
}

TEST(Stability, WholeRackForAMinute) {
    Random random;
    EffectRack rack(random);
    rack.prepare(44100.0, dsp::kDefaultMaxBlock);
    rack.reset();
    setExtremes(rack, 1);
    rack.setParameter(97, 1.0f);         // LP+Clip
    rack.setParameter(85, 7.0f / 8.0f);  // Diffuse delay
    rack.setParameter(91, 0.25f);        // Diffuse-2
    rack.setParameter(79, 0.5f);         // Flanger+
    for (int slot : kOnSlot)
        rack.setParameter(slot, 1.0f);
    const int32_t order[6] = {3, 4, 5, 0, 1, 2};
    EXPECT_LT(drive(rack, order, 44100.0, 60.0, 99u), 100.0f);
}

// Every process path runs with allocation counting on: all effects, every type, type and
// order changes mid-stream (the reverb applies its type change inside process).
TEST(Allocation, ProcessAllocatesNothing) {
    Random random;
    EffectRack rack(random);
    rack.prepare(48000.0, dsp::kDefaultMaxBlock);
    rack.reset();
    setExtremes(rack, 1);
    for (int slot : kOnSlot)
        rack.setParameter(slot, 1.0f);
    std::vector<float> l(kBlock, 0.1f), r(kBlock, -0.1f);
    float* io[2] = {l.data(), r.data()};
    DelayModulation mod;
    mod.lfoTable = corvane::lfoSine();
    mod.depth = 0.5f;
    mod.phaseIncrement = 1u << 16;
    const int32_t orders[2][6] = {{0, 1, 2, 3, 4, 5}, {5, 5, 4, 3, 3, -1}};
    fxtest::allocationCount = 0;
    fxtest::countAllocations = true;
    ::operator delete(::operator new(16));  // the counter itself works
    ASSERT_EQ(fxtest::allocationCount.load(), 1);
    fxtest::allocationCount = 0;
    for (int step = 0; step < 9; ++step) {
        rack.setParameter(97, step / 8.0f);
        rack.setParameter(85, step / 8.0f);
        rack.setParameter(79, (step % 7) / 6.0f + 0.001f);
        rack.setParameter(91, (step % 5) / 4.0f);
        rack.setParameter(101, (step % 3) / 2.0f);
        rack.setParameter(95, step / 8.0f);
        for (int b = 0; b < 4; ++b) {
            for (int i = 0; i < kBlock; ++i)
                l[static_cast<size_t>(i)] = (i & 7) * 0.05f;
            rack.process(kBlock, io, orders[step & 1], 120.0f, mod);
        }
    }
    fxtest::countAllocations = false;
    EXPECT_EQ(fxtest::allocationCount.load(), 0);
}
