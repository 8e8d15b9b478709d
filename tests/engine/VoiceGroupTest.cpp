#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "EngineTestSupport.h"

namespace corvane::test {
namespace {

// A second engine inside a test.
struct SecondEngine : EngineTest {
    void TestBody() override {}
};

// A stereo loop of noise: every voice of a filtered chord sounds different.
ZoneSpec noiseLoop() {
    ZoneSpec z;
    z.channels = 2;
    Random random(77);
    for (int i = 0; i < 2 * 4000; ++i)
        z.data.push_back(static_cast<float>(random.next()) / 16383.5f - 1.0f);
    z.loopMode = 1;
    z.loopStart = 100.0;
    z.loopEnd = 3900.0;
    return z;
}

void filtered(EngineTest& t) {
    t.set(126, 1.0f);  // low-pass
    t.set(28, 0.35f);  // cutoff
    t.set(29, 0.6f);   // resonance
    t.set(30, 0.4f);   // envelope amount
    t.set(26, 0.5f);   // key tracking
    t.set(22, 0.2f);   // filter envelope attack, decay, sustain
    t.set(23, 0.4f);
    t.set(24, 0.5f);
}

// The filter runs over voices in groups; a chord of any size still sounds like the sum of its
// notes played one at a time (the sum's order differs, hence the tolerance).
TEST(VoiceGroups, FilteredChordIsTheSumOfItsNotes) {
    constexpr int frames = 64 * 12 + 37;
    auto play = [](const std::vector<int>& notes, std::vector<float>& l, std::vector<float>& r) {
        SecondEngine t;
        t.SetUp();
        t.load({noiseLoop()});
        filtered(t);
        for (int note : notes)
            t.engine->noteOn(note, 90);
        t.render(frames);
        l = t.fxL;
        r = t.fxR;
    };
    for (int size : {1, 2, 3, 4, 5, 6, 7, 9}) {
        std::vector<float> sumL(frames, 0.0f), sumR(frames, 0.0f), l, r;
        std::vector<int> chord;
        for (int k = 0; k < size; ++k) {
            chord.push_back(48 + 3 * k);
            play({chord.back()}, l, r);
            for (int i = 0; i < frames; ++i) {
                sumL[i] += l[i];
                sumR[i] += r[i];
            }
        }
        play(chord, l, r);
        float peak = 0.0f;
        for (int i = 0; i < frames; ++i) {
            ASSERT_NEAR(l[i], sumL[i], 1e-5f) << size << " voices, frame " << i;
            ASSERT_NEAR(r[i], sumR[i], 1e-5f) << size << " voices, frame " << i;
            peak = std::max(peak, std::fabs(l[i]));
        }
        EXPECT_GT(peak, 0.05f);  // the chord is not silent
    }
}

// Stereo noise of `frames` frames.
ZoneSpec noise(int frames, unsigned seed, int channels = 2) {
    ZoneSpec z;
    z.channels = channels;
    Random random(seed);
    for (int i = 0; i < channels * frames; ++i)
        z.data.push_back(static_cast<float>(random.next()) / 16383.5f - 1.0f);
    return z;
}

// Zones that take every way through the voice pass: a loop so short that high notes jump it
// several times a frame, a one-shot sample that ends, a mono loop and a plain stereo loop.
std::vector<ZoneSpec> mixedZones() {
    ZoneSpec shortLoop = noise(40, 1);
    shortLoop.loopMode = 1;
    shortLoop.loopStart = 10.25;
    shortLoop.loopEnd = 17.5;
    shortLoop.rootKey = 20;
    shortLoop.loKey = 0;
    shortLoop.hiKey = 59;
    ZoneSpec once = noise(300, 2);
    once.loKey = 60;
    once.hiKey = 79;
    ZoneSpec mono = noise(3000, 3, 1);
    mono.loopMode = 1;
    mono.loopStart = 5.0;
    mono.loopEnd = 2900.0;
    mono.loKey = 80;
    mono.hiKey = 89;
    ZoneSpec loop = noise(3000, 4);
    loop.loopMode = 1;
    loop.loopStart = 100.0;
    loop.loopEnd = 2999.5;
    loop.loKey = 90;
    loop.hiKey = 127;
    return {shortLoop, once, mono, loop};
}

uint32_t bits(float x) {
    uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// The grouped pass gives every voice, and so the buses, exactly what the separate steps give:
// with every filter type and either kernel, loops jumped at any speed, samples that end,
// attacks, releases, pan and send ramps.
TEST(VoiceGroups, GroupedPassGivesTheSameBitsAsTheSeparateSteps) {
    struct Setup {
        int filterType;
        bool wide;
        bool modulated;  // pan from an LFO, the send from a constant, level from velocity
        float attack;
    };
    std::vector<Setup> setups;
    for (int type = 0; type <= 4; ++type)
        for (bool wide : {true, false})
            for (bool modulated : {false, true})
                setups.push_back({type, wide, modulated, type == 2 ? 0.3f : 0.0f});
    for (const Setup& setup : setups) {
        SecondEngine grouped, separate;
        for (SecondEngine* t : {&grouped, &separate}) {
            t->SetUp();
            t->load(mixedZones());
            t->engine->groupVoices = t == &grouped;
            t->engine->filter.useWideKernel(setup.wide);
            t->set(kAmpAttack, setup.attack);
            t->set(kAmpDecay, 0.4f);
            t->set(kAmpSustain, 0.6f);
            t->set(kAmpRelease, 0.3f);
            if (setup.filterType > 0) filtered(*t);
            t->set(126, static_cast<float>(setup.filterType));
            if (setup.modulated) {
                t->set(33 + 18, 2.0f / 3.0f);  // LFO 3: a sine, quite fast
                t->set(34 + 18, 0.7f);
                const float routings[3][3] = {{15, 0.9f, 4}, {7, 0.3f, 86}, {1, 1.0f, 3}};
                for (int i = 0; i < 3; ++i) {
                    t->set(128 + i, routings[i][0]);
                    t->set(160 + i, routings[i][1]);
                    t->set(192 + i, routings[i][2]);
                }
            }
            for (int note = 21; note < 128; note += 3)
                t->engine->noteOn(note, 40 + note / 2);
        }
        auto compare = [&](int frames, const char* phase) {
            grouped.render(frames);
            separate.render(frames);
            for (int i = 0; i < frames; ++i) {
                ASSERT_EQ(bits(grouped.fxL[i]), bits(separate.fxL[i])) << phase << " frame " << i;
                ASSERT_EQ(bits(grouped.fxR[i]), bits(separate.fxR[i])) << phase << " frame " << i;
                ASSERT_EQ(bits(grouped.dryL[i]), bits(separate.dryL[i])) << phase << " frame " << i;
                ASSERT_EQ(bits(grouped.dryR[i]), bits(separate.dryR[i])) << phase << " frame " << i;
            }
        };
        SCOPED_TRACE(::testing::Message() << "filter " << setup.filterType << ", wide "
                                          << setup.wide << ", modulated " << setup.modulated);
        compare(64 * 9 + 37, "held");  // an odd sub-block at the end
        for (int note = 21; note < 128; note += 6) {
            grouped.engine->noteOff(note);
            separate.engine->noteOff(note);
        }
        compare(64 * 30 + 5, "released");
        compare(64 * 2 + 6, "two frames past a four");  // sub-blocks end in every way
        compare(64 + 3, "three frames past a four");
        // The sustain pedal holds released levels (a factor of exactly 1) until it goes up.
        grouped.engine->releaseRunning = separate.engine->releaseRunning = false;
        for (int note = 24; note < 128; note += 6) {
            grouped.engine->noteOff(note);
            separate.engine->noteOff(note);
        }
        compare(64 * 4 + 2, "pedal down");
        grouped.engine->releaseRunning = separate.engine->releaseRunning = true;
        compare(64 * 8, "pedal up");
        for (int k = 0; k < kVoiceSlots; ++k) {
            const Voice& a = grouped.engine->voices[k];
            const Voice& b = separate.engine->voices[k];
            ASSERT_EQ(a.active, b.active) << "voice " << k;
            ASSERT_EQ(a.position, b.position) << "voice " << k;
            ASSERT_EQ(a.amp.stage, b.amp.stage) << "voice " << k;
            ASSERT_EQ(bits(a.amp.level), bits(b.amp.level)) << "voice " << k;
            ASSERT_EQ(bits(a.ic1L), bits(b.ic1L)) << "voice " << k;
            ASSERT_EQ(bits(a.ic2R), bits(b.ic2R)) << "voice " << k;
            ASSERT_EQ(bits(a.prevCutoff), bits(b.prevCutoff)) << "voice " << k;
        }
        // Without AVX2 only filtered voices with everything sent to the effect bus go grouped.
        if (setup.wide || (setup.filterType > 0 && !setup.modulated))
            EXPECT_GT(grouped.engine->groupPasses, 100u);
        else
            EXPECT_EQ(grouped.engine->groupPasses, 0u);
        EXPECT_EQ(separate.engine->groupPasses, 0u);
    }
}

}  // namespace
}  // namespace corvane::test
