// Whatever a chunk or a host puts into a slot (NaN, infinities, values far outside 0..1),
// Corvane.so keeps rendering finite audio. A non-finite stored value is read as the init
// patch's value of that slot.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "SineInstrument.h"
#include "TestHost.h"

using corvane::test::SineInstrument;
using corvane::testhost::MidiMessage;
using corvane::testhost::Plugin;

namespace {

constexpr int kSlots = 337;
constexpr int kBlock = 256;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
// The on switches of phaser, delay, reverb, distortion, EQ-1 and EQ-2.
constexpr int kOnSwitches[6] = {116, 117, 118, 119, 120, 121};

std::unique_ptr<Plugin> loadCorvane() {
    std::string error;
    auto p = Plugin::load(CORVANE_SO_PATH, &error);
    EXPECT_TRUE(p) << error;
    if (p) p->start(SineInstrument::kRate, kBlock);
    return p;
}

float* slotsOf(std::vector<uint8_t>& chunk) {
    return reinterpret_cast<float*>(chunk.data() + 40 + 512);
}

MidiMessage noteOn(int key, int frame) {
    MidiMessage m;
    m.deltaFrames = frame;
    m.bytes[0] = 0x90;
    m.bytes[1] = static_cast<uint8_t>(key);
    m.bytes[2] = 100;
    return m;
}

// A chord held for `blocks` host blocks; both channels, interleaved block by block.
std::vector<float> playChord(Plugin& p, int blocks) {
    std::vector<float> out, l(kBlock), r(kBlock);
    p.sendMidi({noteOn(48, 0), noteOn(60, 10), noteOn(67, 100), noteOn(72, 200)});
    for (int b = 0; b < blocks; ++b) {
        if (b > 0) p.sendMidi({});
        p.process(l.data(), r.data(), kBlock);
        out.insert(out.end(), l.begin(), l.end());
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

// Index of the first non-finite sample, or -1.
long firstNonFinite(const std::vector<float>& s) {
    for (size_t i = 0; i < s.size(); ++i)
        if (!std::isfinite(s[i])) return static_cast<long>(i);
    return -1;
}

// The current program's chunk with the sine instrument and every slot set by `fill`.
template <typename Fill>
std::vector<uint8_t> chunkWith(Plugin& p, const SineInstrument& sine, Fill fill) {
    std::vector<uint8_t> chunk = p.getChunk(true);
    sine.placeInto(chunk);
    float* slots = slotsOf(chunk);
    for (int s = 0; s < kSlots; ++s)
        fill(s, slots[s]);
    return chunk;
}

TEST(HostileValuesThroughSo, EverySlotPoisonedStillRendersFiniteAudio) {
    SineInstrument sine;
    const float poisons[] = {kNaN, -kNaN, kInf, -kInf, -1.0f, 2.0f, 1e30f, -1e30f, 0.999999f};
    for (float poison : poisons) {
        for (bool effectsOn : {false, true}) {
            auto p = loadCorvane();
            ASSERT_TRUE(p);
            auto chunk = chunkWith(*p, sine, [&](int s, float& v) {
                v = poison;
                if (effectsOn)
                    for (int on : kOnSwitches)
                        if (s == on) v = 1.0f;
            });
            ASSERT_EQ(p->setChunk(chunk.data(), chunk.size(), true), 12820);
            const auto out = playChord(*p, 24);
            EXPECT_EQ(firstNonFinite(out), -1) << "poison " << poison << " effects " << effectsOn;
        }
    }
}

TEST(HostileValuesThroughSo, EachSlotAloneAtNaNOrInfinityStaysFinite) {
    SineInstrument sine;
    auto p = loadCorvane();
    ASSERT_TRUE(p);
    // The init patch with every effect on, a reverb tail and a delay that feeds back.
    auto base = chunkWith(*p, sine, [](int s, float& v) {
        for (int on : kOnSwitches)
            if (s == on) v = 1.0f;
        if (s == 87) v = 0.9f;
    });
    for (float poison : {kNaN, kInf, -kInf, -1.0f, 2.0f, 1e30f, -1e30f}) {
        for (int slot = 0; slot < kSlots; ++slot) {
            auto chunk = base;
            slotsOf(chunk)[slot] = poison;
            ASSERT_EQ(p->setChunk(chunk.data(), chunk.size(), true), 12820);
            const auto out = playChord(*p, 3);
            EXPECT_EQ(firstNonFinite(out), -1) << "slot " << slot << " at " << poison;
        }
    }
    // Host-set values take the same road for the 111 parameters.
    for (float poison : {kNaN, -kInf, 1e30f, -5.0f}) {
        ASSERT_EQ(p->setChunk(base.data(), base.size(), true), 12820);
        for (int slot = 0; slot < 111; ++slot)
            p->setParameter(slot, poison);
        ASSERT_EQ(firstNonFinite(playChord(*p, 8)), -1) << poison;
    }
}

// NaN in a slot plays exactly as the init patch's value there would: the chunk with NaN in
// every slot but the switches sounds bit for bit like the init patch with those switches.
TEST(HostileValuesThroughSo, NonFiniteStoredValuesReadAsTheInitPatch) {
    SineInstrument sine;
    auto initDefaults = loadCorvane();
    auto poisoned = loadCorvane();
    ASSERT_TRUE(initDefaults && poisoned);
    auto keepSwitches = [](int s) {
        for (int on : kOnSwitches)
            if (s == on) return true;
        return false;
    };
    auto a = chunkWith(*initDefaults, sine, [&](int s, float& v) {
        if (keepSwitches(s)) v = 1.0f;
    });
    auto b = chunkWith(*poisoned, sine, [&](int s, float& v) {
        v = keepSwitches(s) ? 1.0f : (s % 2 ? kNaN : kInf);
    });
    // Slots 323..328 hold the effect order: the default order is what the init patch plays.
    ASSERT_EQ(initDefaults->setChunk(a.data(), a.size(), true), 12820);
    ASSERT_EQ(poisoned->setChunk(b.data(), b.size(), true), 12820);
    const auto expected = playChord(*initDefaults, 16);
    const auto heard = playChord(*poisoned, 16);
    ASSERT_EQ(firstNonFinite(heard), -1);
    double energy = 0.0;
    for (float x : expected)
        energy += double(x) * x;
    EXPECT_GT(energy, 1.0);
    EXPECT_EQ(heard, expected);
}

}  // namespace
