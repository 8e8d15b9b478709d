#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "engine/ModMatrix.h"

using namespace corvane;

namespace {

// Slot value of an amount in hundredths, nudged away from zero so that the truncation of the
// stored mapping lands on the intended step.
float amountValue(double amount) {
    return static_cast<float>((amount + 1.0) / 2.0 + (amount < 0.0 ? -0.00002 : 0.00002));
}

void route(ModMatrix& m, int slot, int source, double amount, int destination) {
    m.setParameter(kModSourceSlot + slot, static_cast<float>(source) + 0.000001f);
    m.setParameter(kModAmountSlot + slot, amountValue(amount));
    m.setParameter(kModDestinationSlot + slot, static_cast<float>(destination) + 0.000001f);
}

// Amplitude factor of the "Volume" and "Level (dB)" results, as the output stage forms it.
float amplitude(const VoiceModulation& m) {
    const float l = 1.0f + std::max(m.level, -1.0f);
    return l * l * m.levelFactor;
}

VoiceModulation pass(const ModMatrix& m, const ModVoiceSources& v, const ModGlobals& g = {}) {
    VoiceModulation out;
    m.voicePass(v, g, out);
    return out;
}

}  // namespace

// The init patch's only routing: Velocity -> Volume at +1.00 (slot values 1.000001 each and
// destination 3.000001). Factor (1 + (v/128 - 0.5) * 2)^2.
TEST(ModMatrix, InitPatchVelocityToVolume) {
    ModMatrix m;
    m.setParameter(128, 1.000001f);
    m.setParameter(160, 1.000001f);
    for (int s = 161; s <= 183; ++s)
        m.setParameter(s, 0.5f);
    m.setParameter(192, 3.000001f);
    EXPECT_EQ(m.count(), 24);
    EXPECT_EQ(m.amount(0), 1.0);
    EXPECT_EQ(m.amount(5), 0.0);
    ModVoiceSources v;
    v.velocity = 127;
    EXPECT_NEAR(amplitude(pass(m, v)), 3.9377, 0.0001);  // (1 + 0.984375)^2
    v.velocity = 64;
    EXPECT_NEAR(amplitude(pass(m, v)), 1.0, 1e-6);
    v.velocity = 1;
    EXPECT_NEAR(amplitude(pass(m, v)), 0.000244, 0.000001);  // (1/64)^2
    // "Volume" below -1 stops at silence rather than coming back up
    route(m, 1, kSrcConst, -1.0, kDstVolume);
    EXPECT_EQ(amplitude(pass(m, v)), 0.0f);
}

// Pitch counts 1/128 semitone. "Pitch Semi" takes whole hundredths of the amount as
// semitones; "Arp Note" transposes by trunc(value * 128) - 1 semitones whatever the amount.
TEST(ModMatrix, PitchSemiFineAndArpNote) {
    ModMatrix m;
    route(m, 0, kSrcLfo1, 0.12, kDstPitchSemi);
    ModVoiceSources v;
    v.lfo[0] = 1.0f;
    EXPECT_EQ(pass(m, v).pitch, 12 * 128);
    v.lfo[0] = -1.0f;
    EXPECT_EQ(pass(m, v).pitch, -12 * 128);
    v.lfo[0] = 0.5f;
    EXPECT_EQ(pass(m, v).pitch, 6 * 128);

    // amounts whose hundredths are not exact in binary still give whole semitones
    for (int h : {29, 57, 58, -29}) {
        route(m, 0, kSrcConst, h / 100.0, kDstPitchSemi);
        EXPECT_EQ(pass(m, v).pitch, h * 128) << h;
    }

    route(m, 0, kSrcArpNote, 0.0, kDstPitchSemi);
    v.arpNote = 0.5f;  // arpeggiator off
    EXPECT_EQ(pass(m, v).pitch, 63 * 128);

    route(m, 0, kSrcConst, -1.0, kDstPitchFine);  // at most one semitone
    EXPECT_EQ(pass(m, v).pitch, -128);
}

// Cutoff and envelope amount take amount x |amount|: -0.5 closes by 0.25 of the range.
TEST(ModMatrix, CutoffAmountsAreSquaredWithTheirSign) {
    ModMatrix m;
    route(m, 0, kSrcConst, -0.5, kDstFilterCutoff);
    route(m, 1, kSrcModWheel, 0.5, kDstFilterEnv);
    route(m, 2, kSrcConst, -0.3, kDstFilterKeyTrack);
    ModGlobals g;
    g.modWheel = 0.5;
    VoiceModulation out = pass(m, ModVoiceSources(), g);
    EXPECT_NEAR(out.cutoff, -0.25, 1e-6);
    EXPECT_NEAR(out.envAmount, 0.125, 1e-6);
    EXPECT_NEAR(out.keytrack, -0.3, 1e-6);  // key tracking is linear
    route(m, 0, kSrcNote, -0.5, kDstFilterCutoff);
    ModVoiceSources v;
    v.pitch = 120 * 128;  // "Note #" +1
    EXPECT_NEAR(pass(m, v, g).cutoff, -0.25, 1e-6);
}

// Pan: a unipolar source is re-centred (wheel 0 fully left, 1 fully right); a bipolar one adds
// source x amount. The output stage clamps to -1..+1.
TEST(ModMatrix, PanFromTheModWheelAndFromBipolarSources) {
    ModMatrix m;
    route(m, 0, kSrcModWheel, 1.0, kDstPan);
    ModGlobals g;
    for (double w : {0.0, 0.25, 0.5, 1.0}) {
        g.modWheel = w;
        EXPECT_NEAR(pass(m, ModVoiceSources(), g).pan, 2.0 * w - 1.0, 1e-6) << w;
    }
    route(m, 0, kSrcPitchWheel, 0.5, kDstPan);
    g.bend = -1.0;
    EXPECT_NEAR(pass(m, ModVoiceSources(), g).pan, -0.5, 1e-6);
    g.bend = 0.0;
    EXPECT_NEAR(pass(m, ModVoiceSources(), g).pan, 0.0, 1e-6);
}

// "MWheel Curve" from "Const" at -0.8: knee 0.1, so the wheel at 0.1 reads 0.9 and the upper
// line runs from (0.1, 0.9) to (1, 1). The curve stays until the matrix is cleared.
TEST(ModMatrix, ModWheelCurveKnee) {
    ModMatrix m;
    route(m, 1, kSrcConst, -0.8, kDstWheelCurve);
    route(m, 0, kSrcModWheel, 1.0, kDstVolume);
    ModGlobals g;
    g.modWheel = 0.1;
    EXPECT_NEAR(pass(m, ModVoiceSources(), g).level, 0.1, 1e-6);  // not in use yet
    GlobalModulation gm;
    m.globalPass(ModVoiceSources(), g, false, gm);
    EXPECT_NEAR(m.wheelCurve.knee, 0.1, 1e-6);
    EXPECT_NEAR(pass(m, ModVoiceSources(), g).level, 0.9, 1e-5);
    g.modWheel = 0.55;
    EXPECT_NEAR(pass(m, ModVoiceSources(), g).level, 0.95, 1e-5);
    g.modWheel = 0.05;
    EXPECT_NEAR(pass(m, ModVoiceSources(), g).level, 0.45, 1e-5);
    // "LFO*MW" uses the wheel as received, not the curve
    route(m, 0, 16, 1.0, kDstVolume);
    ModVoiceSources v;
    v.lfo[0] = 1.0f;
    EXPECT_NEAR(pass(m, v, g).level, 0.05, 1e-6);

    // a knee at the extreme is held inside 0.01..0.99
    route(m, 1, kSrcConst, 1.0, kDstVelocityCurve);
    m.globalPass(ModVoiceSources(), g, false, gm);
    EXPECT_NEAR(m.velocityCurve.knee, 0.99, 1e-6);
    m.clear();
    EXPECT_FALSE(m.wheelCurve.inUse);
    EXPECT_EQ(m.count(), 0);
}

// The global pass reads no voice: a source without a global value (here "Velocity") reuses
// the value of the slot visited before it (slots run from the highest down). The delay depth
// sums source x amount^4; "LFO 2 Phase" moves the global phase only after a note started.
TEST(ModMatrix, GlobalPassReusesThePreviousSlotsValue) {
    ModMatrix m;
    route(m, 2, kSrcConst, 0.5, kDstDelayDepth);
    route(m, 1, kSrcVelocity, -0.8, kDstWheelCurve);
    route(m, 0, kSrcLfo1 + 1, 0.5, 44);  // LFO 2 -> "LFO 2 Phase"
    route(m, 3, kSrcRandom, 1.0, 35);    // Random -> "LFO 2 Rate"
    ModVoiceSources voice0;
    voice0.randomValue = -0.4f;
    voice0.lfo[1] = 0.5f;
    GlobalModulation gm;
    m.globalPass(voice0, ModGlobals(), false, gm);
    EXPECT_NEAR(gm.delayDepth, 0.0625, 1e-7);
    EXPECT_NEAR(m.wheelCurve.knee, 0.1, 1e-6);  // Const's 1.0 reused
    EXPECT_TRUE(gm.lfo2RateSet);
    EXPECT_NEAR(gm.lfo2Rate, -0.4, 1e-6);
    EXPECT_FALSE(gm.lfo2PhaseSet);
    m.globalPass(voice0, ModGlobals(), true, gm);
    EXPECT_TRUE(gm.lfo2PhaseSet);
    EXPECT_EQ(gm.lfo2Phase, 0x40000000u);  // 0.5 x 0.5 of a cycle
}

// Hold in samples, floored at 0 after each routing (slot 1 is visited before slot 0); the
// "Level (dB)" factor is capped at +18 dB and reaches -100 dB at k = -1; LFO phases are set
// only at age 0; "Filter Reso" moves nothing.
TEST(ModMatrix, HoldLevelPhaseAndReso) {
    ModMatrix m;
    route(m, 1, kSrcConst, -1.0, kDstAmpHold);
    route(m, 0, kSrcConst, 0.5, kDstAmpHold);
    ModGlobals g;
    EXPECT_EQ(pass(m, ModVoiceSources(), g).hold, 2205);

    route(m, 0, kSrcConst, 1.0, kDstLevelDb);
    route(m, 1, kSrcConst, 0.0, kDstFilterReso);
    EXPECT_NEAR(pass(m, ModVoiceSources()).levelFactor, std::pow(10.0, 0.9), 1e-4);
    route(m, 0, kSrcConst, -1.0, kDstLevelDb);
    EXPECT_NEAR(pass(m, ModVoiceSources()).levelFactor, 1e-5, 1e-9);

    route(m, 0, kSrcConst, -0.25, kDstLfo1Phase + 2);
    route(m, 1, kSrcConst, 1.0, kDstFilterReso);
    ModVoiceSources v;
    VoiceModulation out = pass(m, v);
    EXPECT_TRUE(out.lfoPhaseSet[2]);
    EXPECT_EQ(out.lfoPhase[2], 0xC0000000u);
    v.age = 64;
    out = pass(m, v);
    EXPECT_FALSE(out.lfoPhaseSet[2]);
    // nothing else moved
    EXPECT_EQ(out.pitch, 0);
    EXPECT_EQ(amplitude(out), 1.0f);
    EXPECT_EQ(out.cutoff, 0.0f);
    EXPECT_EQ(out.envAmount, 0.0f);
    EXPECT_EQ(out.keytrack, 0.0f);
    EXPECT_EQ(out.pan, 0.0f);
    EXPECT_EQ(out.send, 1.0f);
}

// Only slots up to the highest amount set count; raw codes outside a byte are "off".
TEST(ModMatrix, EvaluatedSlotsAndCodes) {
    ModMatrix m;
    route(m, 2, kSrcConst, 0.5, kDstVolume);
    m.setParameter(kModSourceSlot + 10, 7.0f);  // no amount: slot 10 is not evaluated
    m.setParameter(kModDestinationSlot + 10, 3.0f);
    EXPECT_EQ(m.count(), 3);
    EXPECT_NEAR(pass(m, ModVoiceSources()).level, 0.5, 1e-6);
    m.setParameter(kModSourceSlot + 2, 300.0f);
    EXPECT_EQ(m.source(2), 0);
    m.setParameter(kModSourceSlot + 2, -4.0f);
    EXPECT_EQ(m.source(2), 0);
    m.setParameter(kModSourceSlot + 2, 24.0f);  // no source has code 24
    EXPECT_NEAR(pass(m, ModVoiceSources()).level, 0.0, 1e-6);
    EXPECT_FALSE(m.setParameter(kModSourceSlot + kModSlots, 1.0f));

    // no menu offers a code twice
    for (int i = 0; i < kModDestinationMenuSize; ++i)
        for (int j = i + 1; j < kModDestinationMenuSize; ++j)
            EXPECT_NE(kModDestinationMenu[i], kModDestinationMenu[j]) << i << " " << j;
    for (int i = 0; i < kModSourceMenuSize; ++i)
        for (int j = i + 1; j < kModSourceMenuSize; ++j)
            EXPECT_NE(kModSourceMenu[i], kModSourceMenu[j]) << i << " " << j;
}

// The voice pass walks a list of the slots in use, rebuilt by every change: a slot joins it
// once it has a source, a destination and an amount in the evaluated range, leaves it when
// any of them goes, and a later amount beyond the others takes the earlier slots back in.
// What the slots read (the modulation envelope, the LFOs) follows the same changes.
TEST(ModMatrix, SlotsInUseFollowEveryChange) {
    ModMatrix m;
    ModVoiceSources v;
    v.lfo[0] = 0.5f;
    v.lfo[1] = 0.25f;
    v.lfo[2] = -1.0f;
    v.modEnv = 0.75f;
    EXPECT_FALSE(m.routed());
    EXPECT_EQ(m.lfosRead(), 0);

    // Source and destination without an amount: past the evaluated slots.
    m.setParameter(kModSourceSlot + 5, static_cast<float>(kSrcLfo1 + 1) + 0.000001f);
    m.setParameter(kModDestinationSlot + 5, static_cast<float>(kDstVolume) + 0.000001f);
    EXPECT_FALSE(m.routed());
    EXPECT_EQ(pass(m, v).level, 0.0f);
    // An amount in slot 7 brings slot 5 into the evaluated range.
    route(m, 7, kSrcModEnv, 1.0, kDstNone);
    EXPECT_TRUE(m.routed());
    EXPECT_TRUE(pass(m, v).usesModEnv);  // read, though it moves nothing
    EXPECT_EQ(m.lfosRead(), 0b010);
    EXPECT_NEAR(pass(m, v).level, 0.0, 1e-6);  // slot 5's amount is still 0
    m.setParameter(kModAmountSlot + 5, amountValue(0.5));
    EXPECT_NEAR(pass(m, v).level, 0.125, 1e-6);

    // LFO 3 times the mod wheel reads LFO 3; taking the source away stops the reading.
    route(m, 0, kSrcLfo1Wheel + 2, 1.0, kDstPan);
    EXPECT_EQ(m.lfosRead(), 0b110);
    ModGlobals g;
    g.modWheel = 0.5;
    EXPECT_NEAR(pass(m, v, g).pan, -0.5, 1e-6);
    m.setParameter(kModSourceSlot + 0, 0.0f);
    EXPECT_EQ(m.lfosRead(), 0b010);
    EXPECT_EQ(pass(m, v, g).pan, 0.0f);
    // Without a destination the slot moves nothing and reads no LFO.
    m.setParameter(kModDestinationSlot + 5, 0.0f);
    EXPECT_EQ(m.lfosRead(), 0);
    EXPECT_EQ(pass(m, v).level, 0.0f);
    m.setParameter(kModDestinationSlot + 5, static_cast<float>(kDstVolume) + 0.000001f);
    EXPECT_NEAR(pass(m, v).level, 0.125, 1e-6);

    // Slots add up from the highest down, as before the list: two pitch routings whose sum
    // depends on nothing but their values.
    route(m, 3, kSrcConst, 0.5, kDstPitchFine);
    route(m, 1, kSrcConst, -0.25, kDstPitchFine);
    EXPECT_EQ(pass(m, v).pitch, 64 - 32);

    m.clear();
    EXPECT_FALSE(m.routed());
    EXPECT_EQ(m.lfosRead(), 0);
    EXPECT_FALSE(pass(m, v).usesModEnv);
    EXPECT_EQ(pass(m, v).level, 0.0f);
}
