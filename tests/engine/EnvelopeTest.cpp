#include <cmath>

#include "EngineTestSupport.h"
#include "engine/Envelope.h"

namespace corvane::test {
namespace {

using Envelopes = EngineTest;

// Runs until the amplitude envelope leaves its attack; returns the frames rendered.
int framesToDecayStage(EngineTest& t, const Voice& v, int limit) {
    int frames = 0;
    while (v.amp.stage == kStageAttack && frames < limit) {
        t.run(64);
        frames += 64;
    }
    return frames;
}

TEST_F(Envelopes, SlowestAttackReachesNinetyPercentAfterTwentySeconds) {
    load({constantLoop()});
    set(kAmpAttack, 1.0f);
    engine->noteOn(60, 64);
    render(64);
    EXPECT_EQ(fxL[0], 0.0f);  // a timed attack starts from silence
    const int frames = 64 + framesToDecayStage(*this, engine->voices[0], 30 * 44100);
    // The float per-sample factor 0.99999739 is accurate to about 1%, over 882000 steps.
    EXPECT_NEAR(frames / kRate, 20.0, 0.4);
    EXPECT_NEAR(engine->voices[0].amp.level, 0.9f, 1e-4);
}

TEST_F(Envelopes, SustainIsTheSquareOfItsSettingAndZeroEndsAHeldNote) {
    load({constantLoop()});
    set(kAmpDecay, 0.0f);  // 2 ms to a tenth: per-sample factor 0.1^(1/88.2) = 0.9742
    set(kAmpSustain, 0.5f);
    engine->noteOn(60, 64);
    render(1024);
    const Voice& v = engine->voices[0];
    EXPECT_EQ(v.amp.stage, kStageSustain);
    EXPECT_LE(v.amp.level, 0.25f);
    EXPECT_GE(v.amp.level, 0.25f * 0.974f);
    EXPECT_NEAR(fxL[1023], 0.2f * v.amp.level, 1e-7);

    set(kAmpSustain, 0.0f);
    engine->noteOn(62, 64);
    run(2048);  // nine decades of 2 ms
    EXPECT_FALSE(engine->voices[1].active);
    EXPECT_TRUE(engine->voices[0].active);
}

TEST_F(Envelopes, SustainPedalHoldsAReleasedLevelUntilItGoesUp) {
    load({constantLoop()});
    set(kAmpAttack, 0.5f);  // 200 ms
    engine->noteOn(60, 64);
    run(4410);  // 100 ms into the attack
    const Voice& v = engine->voices[0];
    engine->releaseRunning = false;  // pedal down
    engine->noteOff(60);
    run(64);
    const float held = v.amp.level;
    EXPECT_TRUE(v.released);
    run(44100);
    EXPECT_EQ(v.amp.level, held);
    EXPECT_EQ(v.amp.stage, kStageRelease);

    engine->releaseRunning = true;  // pedal up: release 0.5 is 200 ms to a tenth
    run(8820);
    EXPECT_NEAR(v.amp.level, 0.1f * held, 0.01f * held);
}

TEST(EnvelopeCurves, HoldDelaysTheDecayAfterAnInstantAttack) {
    EngineTables t;
    t.build(kRate);
    EnvelopeSettings s{0.0f, 0.0f, 0.0f, 0.0f};
    const float none[4] = {};
    const AmpEnvelopeCoefs c = ampEnvelopeCoefs(t, s, none, 100, false, false);
    EnvelopeState st;
    float env[64];
    runAmpEnvelope(st, c, 0, 64, env);
    runAmpEnvelope(st, c, 64, 64, env);
    for (int i = 0; i < 36; ++i)
        EXPECT_EQ(env[i], 1.0f) << i;  // samples 64..99 still held
    EXPECT_LT(env[37], 1.0f);
    EXPECT_EQ(st.stage, kStageDecay);
}

TEST(EnvelopeCurves, ModulationEnvelopeRampsLinearlyAndHoldsFullSustainAndRelease) {
    EngineTables t;
    t.build(kRate);
    EnvelopeSettings s{0.5f, 0.5f, 1.0f, 1.0f};  // attack 200 ms as a straight line
    const float none[4] = {};
    const ModEnvelopeCoefs c = modEnvelopeCoefs(t, s, none, false);
    EnvelopeState st;
    runModEnvelope(st, c, 64);
    EXPECT_NEAR(st.level, 64.0 / 8820.0, 1e-6);
    for (int i = 0; i < 200; ++i)
        runModEnvelope(st, c, 64);
    EXPECT_EQ(st.level, 1.0f);  // sustain 1.0 keeps the peak
    EXPECT_EQ(st.stage, kStageSustain);
    st.stage = kStageRelease;  // Mod Release 1.0 never falls
    for (int i = 0; i < 100; ++i)
        runModEnvelope(st, c, 64);
    EXPECT_EQ(st.level, 1.0f);
}

TEST(EnvelopeCurves, FilterEnvelopePeaksAtNinetyPercentAndItsZeroAttackIsTwoMilliseconds) {
    EngineTables t;
    t.build(kRate);
    EnvelopeSettings s{0.0f, 0.5f, 1.0f, 0.5f};
    const float none[4] = {};
    EnvelopeState st;
    FilterEnvelopeRun run(st, filterEnvelopeCoefs(t, s, none, false));
    const float first = run.next();
    EXPECT_NEAR(first, 1.0 - std::pow(0.1, 1.0 / 88.2), 1e-5);  // not instant
    float e = first;
    for (int i = 0; i < 1000; ++i)
        e = run.next();
    run.finish();
    EXPECT_GE(e, 0.9f);
    EXPECT_LT(e, 0.95f);  // a sustain above 0.9 holds the level where the attack ended
    EXPECT_EQ(st.stage, kStageSustain);
}

// The block form of the filter envelope takes exactly the steps of the per-sample form, across
// every stage change and through blocks of any length.
TEST(EnvelopeCurves, FilterEnvelopeBlocksMatchSingleSteps) {
    EngineTables t;
    t.build(kRate);
    const float none[4] = {};
    for (bool pedalDown : {false, true}) {
        for (float sustain : {0.0f, 0.3f, 1.0f}) {
            const EnvelopeSettings s{0.1f, 0.2f, sustain, 0.15f};
            const FilterEnvelopeCoefs c = filterEnvelopeCoefs(t, s, none, pedalDown);
            EnvelopeState blockState, stepState;
            const int sizes[] = {64, 1, 37, 64, 2, 63};
            for (int block = 0; block < 600; ++block) {
                if (block == 400) blockState.stage = stepState.stage = kStageRelease;
                const int n = sizes[block % 6];
                float levels[64];
                FilterEnvelopeRun blockRun(blockState, c), stepRun(stepState, c);
                blockRun.run(levels, n);
                for (int i = 0; i < n; ++i)
                    ASSERT_EQ(levels[i], stepRun.next()) << block << " " << i;
                blockRun.finish();
                stepRun.finish();
                ASSERT_EQ(blockState.stage, stepState.stage) << block;
                ASSERT_EQ(blockState.level, stepState.level) << block;
            }
            EXPECT_EQ(blockState.stage, kStageRelease);
        }
    }
}

// A modulation envelope resting at 0 in its decay still enters the sustain when one is set.
TEST(EnvelopeCurves, ModEnvelopeAtZeroStillReachesItsSustain) {
    EngineTables t;
    t.build(kRate);
    const float none[4] = {};
    EnvelopeState st{kStageDecay, 0.0f};
    runModEnvelope(st, modEnvelopeCoefs(t, EnvelopeSettings{0.0f, 0.5f, 0.0f, 0.5f}, none, false),
                   64);
    EXPECT_EQ(st.stage, kStageDecay);
    EXPECT_EQ(st.level, 0.0f);
    runModEnvelope(st, modEnvelopeCoefs(t, EnvelopeSettings{0.0f, 0.5f, 0.25f, 0.5f}, none, false),
                   64);
    EXPECT_EQ(st.stage, kStageSustain);
    EXPECT_EQ(st.level, 0.0f);
}

}  // namespace
}  // namespace corvane::test
