#include <algorithm>
#include <cmath>
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

}  // namespace
}  // namespace corvane::test
