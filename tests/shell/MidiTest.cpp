// MIDI input on the plug-in object: the note list, the arpeggiator's held keys, the
// controllers' engine values and MIDI learn. Heard through the library: SoundThroughSoTest.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "FakeHost.h"

using corvane::NoteEvent;
using corvane::VstSynth;
using namespace corvane::test;

namespace {

void expectNote(const NoteEvent& e, int32_t frame, int status, int key, int velocity) {
    EXPECT_EQ(e.deltaFrames, frame);
    EXPECT_EQ(e.status, status);
    EXPECT_EQ(e.data1, key);
    EXPECT_EQ(e.data2, velocity);
}

void controller(VstSynth& s, int cc, int value, int channel = 0) {
    MidiBlock().add(0xB0 | channel, cc, value).sendTo(s);
}

}  // namespace

TEST(MidiNotes, NotesQueueWithTheirOffsetsOnAnyChannel) {
    auto s = makeSynth();
    MidiBlock b;
    b.add(0x94, 60, 100, 100).add(0x9F, 64, 90, 7).add(0x83, 60, 64, 200).add(0x90, 64, 0, 300);
    b.add(0xA0, 60, 10, 5).add(0xF8, 0, 0, 5);  // poly pressure, clock: ignored
    b.sendTo(*s);
    ASSERT_EQ(s->noteCount, 4);
    expectNote(s->noteList[0], 100, 0x90, 60, 100);
    expectNote(s->noteList[1], 7, 0x90, 64, 90);
    expectNote(s->noteList[2], 200, 0x80, 60, 64);
    expectNote(s->noteList[3], 300, 0x90, 64, 0);
    EXPECT_EQ(s->keyDown[60] | s->keyDown[64], 0);  // velocity 0 releases too
    EXPECT_EQ(s->engine.anyKeyDown, 0);
}

TEST(MidiNotes, FullNoteListKeepsItsReleases) {
    auto s = makeSynth();
    for (int i = 0; i < 300; ++i)
        s->appendNote(0x90, i % 100, i, 100);
    ASSERT_EQ(s->noteCount, VstSynth::kNoteListSize);
    EXPECT_EQ(s->noteList[255].deltaFrames, 255);  // later note-ons were dropped
    s->appendNote(0x80, 5, 400, 64);               // replaces the latest note-on
    ASSERT_EQ(s->noteCount, VstSynth::kNoteListSize);
    expectNote(s->noteList[255], 400, 0x80, 5, 64);
    expectNote(s->noteList[254], 254, 0x90, 54, 100);

    // Only releases queued: a key released already is not queued again, a new key takes
    // the place of a repeated release.
    s->noteCount = 0;
    for (int i = 0; i < VstSynth::kNoteListSize; ++i)
        s->appendNote(0x80, i % 64, i, 64);
    s->appendNote(0x80, 10, 500, 64);
    EXPECT_EQ(s->noteList[255].deltaFrames, 255);
    s->appendNote(0x90, 100, 501, 0);
    expectNote(s->noteList[255], 501, 0x90, 100, 0);
    EXPECT_EQ(s->noteCount, VstSynth::kNoteListSize);
}

TEST(MidiNotes, ArpeggiatorTakesTheHeldKeys) {
    auto s = makeSynth();
    s->engine.arpOn = true;
    s->engine.arpMode = 5;
    s->engine.arpClock = 55.0;
    s->engine.arpTickCounter = 9;
    MidiBlock().add(0x90, 60, 100, 30).add(0x90, 64, 80, 50).sendTo(*s);
    EXPECT_EQ(s->noteCount, 0);  // held keys do not sound by themselves
    EXPECT_EQ(s->engine.arpHeld[60], 100);
    EXPECT_EQ(s->engine.arpHeld[64], 80);
    EXPECT_EQ(s->engine.arpRestartFrame, 30);  // only the first key restarts
    EXPECT_EQ(s->engine.arpClock, 0.0);
    EXPECT_EQ(s->engine.arpTickCounter, 0u);

    MidiBlock().add(0x90, 60, 0, 12).sendTo(*s);
    EXPECT_EQ(s->engine.arpHeld[60], 0);
    ASSERT_EQ(s->noteCount, 1);
    expectNote(s->noteList[0], 12, 0x80, 60, 0);  // releases always reach the voices

    s->noteCount = 0;
    s->engine.arpMode = 4;  // modulation: keys play, and each one restarts
    MidiBlock().add(0x90, 67, 90, 40).sendTo(*s);
    EXPECT_EQ(s->engine.arpRestartFrame, 40);
    ASSERT_EQ(s->noteCount, 1);
    expectNote(s->noteList[0], 40, 0x90, 67, 90);
}

TEST(MidiNotes, KeyByteWithTopBitSetIsReadAsItsLowSevenBits) {
    auto s = makeSynth();
    MidiBlock().add(0x90, 0x85, 100, 3).add(0x80, 0x85, 64, 9).sendTo(*s);
    ASSERT_EQ(s->noteCount, 2);
    expectNote(s->noteList[0], 3, 0x90, 5, 100);  // key 5, as keyDown sees it
    expectNote(s->noteList[1], 9, 0x80, 5, 64);
    EXPECT_EQ(s->keyDown[5], 0);
    EXPECT_EQ(s->keyDown[127], 0);

    // The same through the arpeggiator's note-off path.
    s->noteCount = 0;
    s->engine.arpOn = true;
    s->engine.arpMode = 5;
    MidiBlock().add(0x90, 0xBC, 100, 0).sendTo(*s);
    EXPECT_EQ(s->engine.arpHeld[60], 100);
    MidiBlock().add(0x80, 0xBC, 64, 5).sendTo(*s);
    ASSERT_EQ(s->noteCount, 1);
    expectNote(s->noteList[0], 5, 0x80, 60, 64);
}

TEST(ControllerEcho, RepeatsEveryIncomingByteAndSettlesOnOtherValues) {
    auto s = makeSynth();
    auto echoOf = [&](float value) {
        s->setParameterAutomated(28, value);  // "Filter Cutoff", controller 74
        return static_cast<int>(hostRecord().sentMidi.back().midiData[2]);
    };
    // A value learned from a controller goes back out as the byte that brought it.
    for (int v = 0; v < 128; ++v) {
        controller(*s, 74, v);
        ASSERT_EQ(echoOf(s->getParameter(28)), v) << "controller value " << v;
    }
    // A value set by the host echoes the nearest byte, and that byte coming back in
    // echoes itself again: a fader following the echo stays where it is.
    for (int i = 0; i <= 1000; ++i) {
        const float value = static_cast<float>(i) / 1000.0f;
        const int echoed = echoOf(value);
        ASSERT_LE(std::fabs(echoed - value * 127.0f), 0.5f) << value;
        controller(*s, 74, echoed);
        ASSERT_EQ(echoOf(s->getParameter(28)), echoed) << value;
    }
}

TEST(MidiControllers, FixedMeaningsReachTheEngine) {
    auto s = makeSynth();
    controller(*s, 1, 64, 9);
    EXPECT_NEAR(s->engine.modWheelTarget, 64 / 127.0, 1e-7);
    EXPECT_FLOAT_EQ(s->getParameter(113), 64 / 127.0f);  // "mWheel" follows
    controller(*s, 2, 127);
    controller(*s, 11, 100);
    EXPECT_DOUBLE_EQ(s->engine.breath, 1.0);
    EXPECT_DOUBLE_EQ(s->engine.expression, 100 / 127.0);
    controller(*s, 64, 127);
    EXPECT_EQ(s->engine.sustain, 127);
    EXPECT_FALSE(s->engine.releaseRunning);
    controller(*s, 64, 63);
    EXPECT_TRUE(s->engine.releaseRunning);
    MidiBlock().add(0xD5, 127, 0).sendTo(*s);
    EXPECT_DOUBLE_EQ(s->engine.pressure, 1.0);
    s->engine.arpCurrentStep = 7;
    controller(*s, 123, 0);
    EXPECT_EQ(s->engine.arpCurrentStep, 0);

    MidiBlock().add(0xE3, 0x00, 0x40).sendTo(*s);
    EXPECT_EQ(s->engine.bendRaw, 0);
    EXPECT_EQ(s->engine.bendUnit, 0.0);
    MidiBlock().add(0xE0, 0x00, 0x00).sendTo(*s);
    EXPECT_EQ(s->engine.bendRaw, -8192);
    EXPECT_EQ(s->engine.bendUnit, -1.0);
    MidiBlock().add(0xE0, 0x7F, 0x7F).sendTo(*s);
    EXPECT_EQ(s->engine.bendRaw, 8191);
    EXPECT_EQ(s->engine.bendUnit, 8191 / 8192.0);

    const corvane::PatchRecord before = s->engine.currentPatch();
    controller(*s, 3, 99);  // unassigned
    controller(*s, 127, 99);
    EXPECT_EQ(std::memcmp(&before, &s->engine.currentPatch(), sizeof before), 0);
}

TEST(MidiLearn, ArmedLearnTakesTheNextControllerAboveOne) {
    auto s = makeSynth();
    EXPECT_EQ(s->paramOfCc[74], 28);  // default map
    EXPECT_EQ(s->ccOfParam[160], 112);
    s->learn(5);
    controller(*s, 1, 127);  // the wheel moves, learn stays armed
    EXPECT_EQ(s->learnParam, 5);
    EXPECT_FLOAT_EQ(s->getParameter(113), 1.0f);
    controller(*s, 74, 127);
    EXPECT_EQ(s->learnParam, -1);
    EXPECT_EQ(s->paramOfCc[74], 5);
    EXPECT_FLOAT_EQ(s->getParameter(5), 1.0f);  // takes the value at once
    EXPECT_EQ(s->ccOfParam[28], 255);           // "Filter Cutoff" lost controller 74

    s->learn(12);  // a fixed-meaning controller is recorded for the echo only
    controller(*s, 64, 127);
    EXPECT_EQ(s->engine.sustain, 127);
    EXPECT_FLOAT_EQ(s->getParameter(12), 0.0f);
    EXPECT_EQ(s->ccOfParam[12], 64);  // the higher of 8 and 64
}

TEST(MidiLearn, TwoControllersOnOneSlotAndForget) {
    auto s = makeSynth();
    s->learn(28);
    controller(*s, 20, 0);
    EXPECT_EQ(s->ccOfParam[42], 255);  // "LFO 2 Shape" gave up controller 20
    controller(*s, 74, 127);           // 74 still drives the slot too
    EXPECT_FLOAT_EQ(s->getParameter(28), 1.0f);
    s->setParameterAutomated(28, 1.0f);
    EXPECT_EQ(hostRecord().sentMidi.back().midiData[1], 74);  // the higher one echoes

    s->forget(28);
    EXPECT_EQ(s->paramOfCc[20], 255);
    EXPECT_EQ(s->paramOfCc[74], 255);
    const size_t sent = hostRecord().sentMidi.size();
    s->setParameterAutomated(28, 0.5f);
    EXPECT_EQ(hostRecord().sentMidi.size(), sent);
}

TEST(MidiLearn, SlotsBeyondTheByteMapAndController127) {
    auto s = makeSynth();
    s->learn(7);
    s->learn(300);  // cannot be held in the map: nothing stays armed
    EXPECT_EQ(s->learnParam, -1);
    controller(*s, 20, 50);
    EXPECT_EQ(s->paramOfCc[20], 42);
    s->learn(255);
    EXPECT_EQ(s->learnParam, -1);

    s->learn(10);
    controller(*s, 127, 127);
    EXPECT_EQ(s->ccOfParam[10], 127);
    EXPECT_FLOAT_EQ(s->getParameter(10), 1.0f);
    s->forget(10);  // forget reaches controller 127 as well
    EXPECT_EQ(s->paramOfCc[127], 255);
    EXPECT_EQ(s->ccOfParam[10], 255);
}
