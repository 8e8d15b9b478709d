#include <cmath>

#include "EngineTestSupport.h"

namespace corvane::test {
namespace {

std::vector<float> wave(int frames) {
    std::vector<float> d(frames);
    for (int i = 0; i < frames; ++i)
        d[i] = 0.8f * static_cast<float>(std::sin(0.05 * i + 0.3));
    return d;
}

// The slowest decay to a sustain of 1.0 leaves the level at 0.1^(1/(20 s * fs)) after the
// first sample, 2.6e-6 below 1.
constexpr double kLevelTolerance = 1e-5;

void expectNear(double actual, double expected, const char* what, int i) {
    EXPECT_NEAR(actual, expected, kLevelTolerance * std::fabs(expected) + 1e-7) << what << i;
}

using Playback = EngineTest;

TEST_F(Playback, RootKeyAtHostRateIsTheDataScaledByOutputZoneAndMasterGain) {
    ZoneSpec z;
    z.data = wave(512);
    z.gain = 0.5f;
    load({z});
    set(kVolume, 1.0f);  // master gain 1^2 * 4
    engine->noteOn(60, 64);
    render(256);
    float* out[2] = {fxL.data(), fxR.data()};
    engine->applyMasterGain(256, out);
    for (int i = 0; i < 256; ++i) {
        const double expected = z.data[i] * 0.2 * 0.5 * 4.0;
        expectNear(fxL[i], expected, "left ", i);
        expectNear(fxR[i], expected, "right ", i);
        EXPECT_EQ(dryL[i], 0.0f);  // no routing: everything goes to the effect bus
    }
    EXPECT_EQ(fxL[0], static_cast<float>(z.data[0] * 0.2f * 0.5f * 4.0f));  // instant attack
    EXPECT_EQ(engine->voices[0].position, 256.0);                           // exactly +1 a frame
}

TEST_F(Playback, PitchAndSampleRateSetTheSpeed) {
    ZoneSpec z;
    z.data = wave(1024);
    ZoneSpec z48 = z;
    z48.sampleRate = 48000.0;
    z48.loKey = z48.hiKey = 100;
    z48.rootKey = 100;
    load({z, z48});
    engine->noteOn(72, 64);   // slot 0: an octave up
    engine->noteOn(61, 64);   // slot 1: a semitone up
    engine->noteOn(48, 64);   // slot 2: an octave down
    engine->noteOn(100, 64);  // slot 3: 48 kHz data at its root key
    render(64);
    const Voice* v = engine->voices;
    EXPECT_EQ(v[0].position, 128.0);
    EXPECT_NEAR(v[1].position, 64.0 * std::pow(2.0, 1.0 / 12.0), 64.0 * 1e-6);
    EXPECT_EQ(v[2].position, 32.0);
    EXPECT_NEAR(v[3].position, 64.0 * 48000.0 / 44100.0, 1e-9);

    // Sum of the four voices at frame 1: data[2] (octave up), the semitone's interpolation,
    // the midpoint of data[0] and data[1] (octave down) and the 48 kHz interpolation.
    const double f1 = std::pow(2.0, 1.0 / 12.0) - 1.0;
    const double f3 = 48000.0 / 44100.0 - 1.0;
    const double sum = z.data[2] + (z.data[1] * (1 - f1) + z.data[2] * f1) +
                       0.5 * (z.data[0] + z.data[1]) + (z.data[1] * (1 - f3) + z.data[2] * f3);
    expectNear(fxL[1], 0.2 * sum, "frame ", 1);
}

TEST_F(Playback, StereoLoopWrapsBothChannelsAtTheLoopPoint) {
    ZoneSpec z;
    z.channels = 2;
    for (int i = 0; i < 10; ++i) {
        z.data.push_back(0.01f * i);
        z.data.push_back(-0.1f * i);
    }
    z.loopMode = 1;
    z.loopStart = 2.0;
    z.loopEnd = 8.0;
    load({z});
    engine->noteOn(60, 64);
    render(40);
    for (int k = 0; k < 40; ++k) {
        const int frame = k < 8 ? k : 2 + (k - 8) % 6;
        expectNear(fxL[k], 0.2 * 0.01f * frame, "left ", k);
        expectNear(fxR[k], 0.2 * -0.1f * frame, "right ", k);
    }
}

TEST_F(Playback, OneShotEndsInSilenceButTheVoiceWaitsForItsRelease) {
    ZoneSpec z;
    z.data = wave(100);
    load({z});
    set(kAmpRelease, 0.0f);  // 2 ms to a tenth
    engine->noteOn(60, 64);
    render(300);
    expectNear(fxL[99], 0.2 * z.data[99], "frame ", 99);
    for (int i = 100; i < 300; ++i)
        EXPECT_EQ(fxL[i], 0.0f) << i;
    EXPECT_EQ(activeVoices(), 1);
    engine->noteOff(60);
    run(64);
    EXPECT_EQ(activeVoices(), 1);
    run(2000);  // nine decades of 2 ms are about 800 samples
    EXPECT_EQ(activeVoices(), 0);
}

TEST_F(Playback, RexTriggerStepsThroughSlicesAtTheTempoWithAFadedTail) {
    // Two slices of 7680 ticks (an eighth note): at 120 BPM each lasts 0.25 s = 11025 frames.
    ZoneSpec s0, s1, trigger;
    s0.data.assign(20000, 0.5f);  // longer than its slot: its rest fades under slice 1
    s0.slicePosition = 0;
    s1.data.assign(100, -0.25f);  // shorter than its slot: a gap follows
    s1.slicePosition = 7680;
    s0.loKey = s0.hiKey = 36;
    s1.loKey = s1.hiKey = 37;
    trigger.isLoopTrigger = 1;
    trigger.slicePosition = 15360;
    trigger.loKey = trigger.hiKey = 72;
    trigger.rootKey = 72;
    load({s0, s1, trigger}, 2);
    engine->tempo = 120.0;
    engine->noteOn(72, 64);
    render(2 * 11025 + 64);
    const int change = 11025;
    expectNear(fxL[change - 1], 0.2 * 0.5, "frame ", change - 1);
    for (int k = 0; k < 64; ++k) {
        const double tail = 0.5 * std::pow(0.95, k + 1);
        expectNear(fxL[change + k], 0.2 * (-0.25 + tail), "tail ", k);
        expectNear(fxR[change + k], 0.2 * (-0.25 + tail), "tail right ", k);
    }
    expectNear(fxL[change + 64], 0.2 * -0.25, "frame ", change + 64);
    EXPECT_EQ(fxL[change + 100], 0.0f);  // slice 1 has run out: a gap until slice 0 again
    // Back to slice 0; slice 1 had ended before the change, so no tail this time.
    expectNear(fxL[2 * change], 0.2 * 0.5, "frame ", 2 * change);
    expectNear(fxL[2 * change + 1], 0.2 * 0.5, "frame ", 2 * change + 1);
}

TEST_F(Playback, GlideShrinksThePitchOffsetToATenthInTheGlideTime) {
    ZoneSpec z = constantLoop();
    load({z});
    set(kGlide, 0.5f);  // 1000^0.5 = 31.6 ms, 1394.6 samples, to a tenth
    engine->noteOn(60, 64);
    engine->noteOn(72, 64);
    const Voice& v = engine->voices[1];
    EXPECT_EQ(v.glideOffset, -12.0f * 128.0f);
    run(1408);
    const double expected = -1536.0 * std::pow(0.1, 1408.0 / (std::sqrt(1000.0) * 44.1));
    EXPECT_NEAR(v.glideOffset, expected, 0.02 * std::fabs(expected));
}

}  // namespace
}  // namespace corvane::test
