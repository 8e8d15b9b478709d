#include "EngineTestSupport.h"

namespace corvane::test {
namespace {

using VoicePool = EngineTest;

// Forty notes, each one sub-block older than the next: slot i holds note 40 + i.
void holdForty(EngineTest& t, Harrow& e, bool spaced) {
    for (int i = 0; i < 40; ++i) {
        e.noteOn(40 + i, 64);
        if (spaced) t.render(64);
    }
}

TEST_F(VoicePool, FortyFirstNoteStealsTheOldestWhichFadesInTheTailRing) {
    load({constantLoop()});
    set(kAmpRelease, 1.0f);  // 20 s: the tail must fade fast anyway
    holdForty(*this, *engine, true);
    ASSERT_EQ(activeVoices(), 40);
    const float before = engine->voices[0].amp.level;

    engine->noteOn(100, 64);
    const Voice& slot0 = engine->voices[0];
    const Voice& tail = engine->voices[kPlayingVoices];
    EXPECT_EQ(slot0.note, 100);
    EXPECT_EQ(slot0.age, 0u);
    EXPECT_TRUE(tail.active && tail.released && tail.fastRelease);
    EXPECT_EQ(tail.note, 40);
    EXPECT_EQ(tail.amp.level, before);  // continues where the stolen voice was

    // Capped release: a tenth in 2 * 10000^(100/1024) ms = 4.91 ms = 217 samples.
    run(256);
    EXPECT_GT(tail.amp.level, 0.0f);
    EXPECT_LT(tail.amp.level, 0.1f * before);
    run(2048);  // nine decades take about 1950 samples
    EXPECT_FALSE(tail.active);
    EXPECT_EQ(activeVoices(), 40);
}

TEST_F(VoicePool, ReleasedVoiceIsStolenBeforeAnOlderHeldOne) {
    load({constantLoop()});
    set(kAmpRelease, 1.0f);
    holdForty(*this, *engine, true);
    engine->noteOff(45);  // slot 5, younger than slots 0..4
    render(64);
    ASSERT_TRUE(engine->voices[5].active);
    engine->noteOn(100, 64);
    EXPECT_EQ(engine->voices[5].note, 100);
    EXPECT_EQ(engine->voices[0].note, 40);
    EXPECT_EQ(engine->voices[kPlayingVoices].note, 45);
}

TEST_F(VoicePool, EqualAgesGoToTheHigherSlot) {
    load({constantLoop()});
    holdForty(*this, *engine, false);
    engine->noteOn(100, 64);
    EXPECT_EQ(engine->voices[39].note, 100);
    EXPECT_EQ(engine->voices[kPlayingVoices].note, 79);
}

TEST_F(VoicePool, SameKeyTwiceGivesTwoVoicesAndOneNoteOffReleasesBoth) {
    load({constantLoop()});
    engine->noteOn(60, 64);
    engine->noteOn(60, 100);
    EXPECT_EQ(activeVoices(), 2);
    engine->noteOff(60);
    EXPECT_TRUE(engine->voices[0].released && engine->voices[1].released);
}

TEST_F(VoicePool, PolyCountLimitsNewNotesAndBadValuesStayInThePool) {
    load({constantLoop()});
    set(kPoly, 0.0f);  // 8 voices
    for (int i = 0; i < 9; ++i)
        engine->noteOn(40 + i, 64);
    EXPECT_EQ(activeVoices(), 9);  // 8 playing and one tail
    EXPECT_EQ(engine->voices[8].active, 0);
    set(kPoly, 50.0f);
    EXPECT_EQ(engine->voiceCount, 40);
    set(kPoly, -3.0f);
    EXPECT_EQ(engine->voiceCount, 8);
}

TEST_F(VoicePool, VoicesAboveALoweredCountSoundOnlyWithAVoiceBelowIt) {
    load({constantLoop()});
    for (int i = 0; i < 12; ++i)
        engine->noteOn(40 + i, 64);
    set(kPoly, 0.0f);  // 8 voices: slots 8..11 are above the count
    for (int i = 0; i < 8; ++i)
        engine->voices[i] = Voice{};
    const uint32_t age = engine->voices[10].age;
    render(64);
    EXPECT_EQ(engine->voices[10].age, age);  // waits untouched
    for (float x : fxL)
        EXPECT_EQ(x, 0.0f);
    engine->noteOn(60, 64);  // slot 0
    render(64);
    EXPECT_EQ(engine->voices[10].age, age + 64);
    EXPECT_NEAR(fxL[10], 5 * 0.2f, 1e-5);  // slots 0, 8, 9, 10, 11
}

TEST_F(VoicePool, EmptyMapIgnoresNotesAndUnmatchedKeysHoldASilentSlot) {
    engine->noteOn(60, 64);
    EXPECT_EQ(activeVoices(), 0);
    load({constantLoop(0, 50)});
    engine->noteOn(60, 64);
    EXPECT_EQ(activeVoices(), 1);
    EXPECT_EQ(engine->voices[0].zone, nullptr);
    render(64);
    EXPECT_EQ(engine->voices[0].age, 0u);  // skipped, never ends by itself
    for (float x : fxL)
        EXPECT_EQ(x, 0.0f);
    engine->clearSampleMap();
    EXPECT_EQ(activeVoices(), 0);
}

using MonoMode = EngineTest;

TEST_F(MonoMode, LegatoGlidesWithoutRetriggerAndReturnsToTheHeldKey) {
    load({constantLoop()});
    set(kMonoMode, 1.0f);
    set(kGlide, 0.5f);
    const Voice& v = engine->voices[0];
    engine->noteOn(60, 64);
    run(640);
    const double positionBefore = v.position;
    EXPECT_EQ(v.glideOffset, 0.0f);  // the first note starts without glide

    engine->noteOn(64, 64);  // legato
    EXPECT_EQ(activeVoices(), 1);
    EXPECT_EQ(v.pitch, 64.0f * 128.0f);
    EXPECT_EQ(v.glideOffset, -4.0f * 128.0f);
    EXPECT_EQ(v.age, 640u);  // no retrigger
    EXPECT_EQ(v.position, positionBefore);
    run(640);
    const float offsetNow = v.glideOffset;
    EXPECT_GT(offsetNow, -512.0f);
    EXPECT_LT(offsetNow, 0.0f);

    engine->noteOff(64);  // back to 60, gliding from where the voice sounds now
    EXPECT_EQ(v.pitch, 60.0f * 128.0f);
    EXPECT_NEAR(v.glideOffset, 4.0f * 128.0f + offsetNow, 1e-3);
    EXPECT_FALSE(v.released);
    EXPECT_EQ(v.age, 1280u);

    engine->noteOff(60);
    EXPECT_TRUE(v.released);
}

TEST_F(MonoMode, ReleasedVoiceRetriggersFromTheStartKeepingItsZoneAndLevel) {
    ZoneSpec low = constantLoop(0, 61);
    ZoneSpec high = constantLoop(62, 127);
    high.gain = 0.5f;
    load({low, high});
    set(kMonoMode, 1.0f);
    set(kAmpAttack, 0.5f);  // 200 ms to 0.9
    set(kAmpRelease, 1.0f);
    const Voice& v = engine->voices[0];
    engine->noteOn(60, 64);
    run(44100);
    engine->noteOff(60);
    run(640);
    ASSERT_TRUE(v.released);
    const float level = v.amp.level;
    const SampleZone* zone = v.zone;

    engine->noteOn(62, 64);
    EXPECT_FALSE(v.released);
    EXPECT_EQ(v.amp.stage, kStageAttack);
    EXPECT_EQ(v.amp.level, level);  // the attack continues from the current level
    EXPECT_EQ(v.position, 0.0);
    EXPECT_EQ(v.age, 0u);
    EXPECT_EQ(v.zone, zone);  // no new zone choice
    render(64);
    EXPECT_NEAR(fxL[0], 0.2 * level, 1e-6);
    EXPECT_GT(fxL[63], fxL[0]);  // attacking again
}

}  // namespace
}  // namespace corvane::test
