#include "EngineTestSupport.h"

namespace corvane::test {
namespace {

using Robustness = EngineTest;

TEST_F(Robustness, LoopEndBeyondTheDataLoopsAtTheLastFrame) {
    ZoneSpec z;
    z.data.assign(100, 1.0f);
    z.loopMode = 1;
    z.loopStart = 10.0;
    z.loopEnd = 1000.0;  // past the data and its 256 frames of slack
    load({z});
    engine->noteOn(60, 64);
    render(1000);
    for (int i = 0; i < 1000; ++i)
        ASSERT_NEAR(fxL[i], 0.2f, 1e-5) << i;
    EXPECT_LT(engine->voices[0].position, 101.0);
}

TEST_F(Robustness, SpeedAboveTheLoopLengthStaysInsideTheLoop) {
    ZoneSpec z;
    for (int i = 0; i < 64; ++i)
        z.data.push_back(i < 40 || i >= 42 ? 0.0f : 1.0f);
    z.loopMode = 1;
    z.loopStart = 40.0;
    z.loopEnd = 42.0;  // two frames of 1.0
    z.sampleRate = 4.0 * kRate;
    load({z});
    engine->noteOn(84, 64);  // two octaves up at four times the rate: 16 frames a frame
    render(256);
    for (int i = 3; i < 256; ++i)
        ASSERT_NEAR(fxL[i], 0.2f, 1e-5) << i;
    EXPECT_LT(engine->voices[0].position, 42.0 + 16.0);
}

TEST_F(Robustness, OneShotPositionFarPastTheEndStaysSilent) {
    ZoneSpec z;
    z.data.assign(100, 1.0f);
    load({z});
    engine->noteOn(60, 64);
    engine->voices[0].position = 3.0e9;  // beyond any int
    render(64);
    for (float x : fxL)
        EXPECT_EQ(x, 0.0f);
}

TEST_F(Robustness, LongRenderCallsAreSplitIntoSubBlocks) {
    load({constantLoop()});
    set(kAmpAttack, 0.3f);
    engine->noteOn(60, 64);
    render(192);
    const std::vector<float> pieces = fxL;
    engine->reset();
    engine->noteOn(60, 64);
    std::vector<float> l(192, 0.0f), r(192, 0.0f), dl(192, 0.0f), dr(192, 0.0f);
    engine->renderVoices(192, l.data(), r.data(), dl.data(), dr.data(), 0);
    EXPECT_EQ(l, pieces);
}

TEST_F(Robustness, AllNotesOffInMonoModeForgetsTheHeldKeys) {
    load({constantLoop()});
    set(kMonoMode, 1.0f);
    set(kAmpRelease, 1.0f);
    engine->noteOn(60, 64);
    engine->noteOn(64, 64);
    engine->allNotesOff(false);
    EXPECT_TRUE(engine->voices[0].released);
    engine->noteOn(67, 64);  // retriggers the released voice
    engine->noteOff(67);
    EXPECT_TRUE(engine->voices[0].released);  // not handed back to a forgotten key
    EXPECT_EQ(engine->voices[0].pitch, 67.0f * 128.0f);
}

}  // namespace
}  // namespace corvane::test
