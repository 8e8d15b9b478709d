#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "FakeHost.h"

using corvane::NoteEvent;
using corvane::VstSynth;
using namespace corvane::test;

namespace {

std::vector<NoteEvent> queued(const VstSynth& s) {
    return std::vector<NoteEvent>(s.noteList, s.noteList + s.noteCount);
}

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

TEST(MidiNotes, NotesQueueAtTheirOffsetOnAnyChannel) {
    auto s = makeSynth();
    MidiBlock b;
    b.add(0x94, 60, 100, 100).add(0x9F, 64, 90, 7).add(0x83, 60, 64, 200).add(0x90, 64, 0, 300);
    b.add(0xA0, 60, 10, 5).add(0xF8, 0, 0, 5);  // poly pressure and clock: ignored
    b.sendTo(*s);
    const auto notes = queued(*s);
    ASSERT_EQ(notes.size(), 4u);
    expectNote(notes[0], 100, 0x90, 60, 100);
    expectNote(notes[1], 7, 0x90, 64, 90);
    expectNote(notes[2], 200, 0x80, 60, 64);
    expectNote(notes[3], 300, 0x90, 64, 0);
    EXPECT_EQ(s->keyDown[60], 0);
    EXPECT_EQ(s->keyDown[64], 0);  // velocity 0 releases

    MidiBlock().add(0x90, 61, 1).sendTo(*s);
    EXPECT_EQ(s->keyDown[61], 1);
    MidiBlock().add(0x90, 61, 0).sendTo(*s);
    EXPECT_EQ(s->keyDown[61], 0);
    EXPECT_EQ(s->engine.anyKeyDown, 0);
}

TEST(MidiNotes, BlockLoopPlaysEachNoteAtItsFrame) {
    auto s = makeSynth();
    s->setBlockSize(256);
    std::vector<std::pair<int, int>> pieces;  // (frames, offset)
    s->setRenderObserver(
        [](void* c, int frames, int offset) {
            static_cast<std::vector<std::pair<int, int>>*>(c)->emplace_back(frames, offset);
        },
        &pieces);
    MidiBlock().add(0x90, 60, 100, 0).add(0x91, 62, 100, 100).add(0x80, 60, 0, 100).sendTo(*s);
    std::vector<float> l(256), r(256);
    float* out[2] = {l.data(), r.data()};
    s->processReplacing(nullptr, out, 256);
    const std::vector<std::pair<int, int>> expected = {
        {64, 0}, {36, 64}, {64, 100}, {64, 164}, {28, 228}};
    EXPECT_EQ(pieces, expected);
    EXPECT_EQ(s->noteCount, 0);  // emptied at the end of the block
}

TEST(MidiNotes, FullNoteListKeepsReleases) {
    auto s = makeSynth();
    for (int i = 0; i < 300; ++i)
        s->appendNote(0x90, i % 100, i, 100);
    ASSERT_EQ(s->noteCount, VstSynth::kNoteListSize);
    EXPECT_EQ(s->noteList[255].deltaFrames, 255);  // later note-ons were dropped

    // A release takes the place of the latest note-on.
    s->appendNote(0x80, 5, 400, 64);
    ASSERT_EQ(s->noteCount, VstSynth::kNoteListSize);
    expectNote(s->noteList[255], 400, 0x80, 5, 64);
    expectNote(s->noteList[254], 254, 0x90, 54, 100);

    // A list of nothing but releases: a key already released is not queued again; a new
    // key replaces a repeated release.
    s->noteCount = 0;
    for (int i = 0; i < VstSynth::kNoteListSize; ++i)
        s->appendNote(0x80, i % 64, i, 64);
    s->appendNote(0x80, 10, 500, 64);
    EXPECT_EQ(s->noteList[255].deltaFrames, 255);
    s->appendNote(0x90, 100, 501, 0);  // velocity 0 counts as a release
    ASSERT_EQ(s->noteCount, VstSynth::kNoteListSize);
    expectNote(s->noteList[255], 501, 0x90, 100, 0);
    int key100 = 0;
    for (const NoteEvent& e : s->noteList)
        key100 += e.data1 == 100;
    EXPECT_EQ(key100, 1);

    s->noteCount = 0;
    s->appendNote(0x90, 200, 0, 100);
    EXPECT_EQ(s->noteList[0].data1, 127);
}

TEST(MidiNotes, ArpeggiatorTakesHeldKeys) {
    auto s = makeSynth();
    s->engine.arpOn = true;
    s->engine.arpMode = 5;
    s->engine.arpClock = 55.0;
    s->engine.arpTickCounter = 9;
    MidiBlock().add(0x90, 60, 100, 30).add(0x90, 64, 80, 50).sendTo(*s);
    EXPECT_EQ(s->noteCount, 0);  // held keys do not sound by themselves
    EXPECT_EQ(s->engine.arpHeld[60], 100);
    EXPECT_EQ(s->engine.arpHeld[64], 80);
    EXPECT_EQ(s->engine.arpRestartFrame, 30);  // the first key restarts, the second not
    EXPECT_EQ(s->engine.arpClock, 0.0);
    EXPECT_EQ(s->engine.arpTickCounter, 0u);

    MidiBlock().add(0x90, 60, 0, 12).sendTo(*s);
    EXPECT_EQ(s->engine.arpRestartFrame, -1);
    EXPECT_EQ(s->engine.arpHeld[60], 0);
    ASSERT_EQ(s->noteCount, 1);
    expectNote(s->noteList[0], 12, 0x80, 60, 0);  // the release always reaches the voices

    // Modulation mode: keys play normally and every note-on restarts the pattern.
    s->noteCount = 0;
    s->engine.arpMode = 4;
    MidiBlock().add(0x90, 67, 90, 40).sendTo(*s);
    EXPECT_EQ(s->engine.arpRestartFrame, 40);
    ASSERT_EQ(s->noteCount, 1);
    expectNote(s->noteList[0], 40, 0x90, 67, 90);
    EXPECT_EQ(s->engine.arpHeld[67], 90);
}

TEST(MidiNotes, EditorKeyboardNotesAreDrainedByTheNextBlock) {
    auto s = makeSynth();
    s->queueGuiNote(0x90, 48, 100);
    EXPECT_EQ(s->guiQueueWrite, 1);
    std::vector<float> l(64), r(64);
    float* out[2] = {l.data(), r.data()};
    s->processReplacing(nullptr, out, 64);
    EXPECT_EQ(s->guiQueueWrite, 0);
    EXPECT_EQ(s->keyDown[48], 1);

    // More than 128 notes wrap; the drain sees the entries written after the wrap.
    for (int i = 0; i < 130; ++i)
        s->queueGuiNote(0x90, 24 + i % 60, 100);
    EXPECT_EQ(s->guiQueueWrite, 2);
}

TEST(MidiControllers, FixedMeaningsReachTheEngine) {
    auto s = makeSynth();
    controller(*s, 1, 64, 9);
    EXPECT_NEAR(s->engine.modWheelTarget, 64 / 127.0, 1e-7);  // "mWheel" passes a float
    EXPECT_FLOAT_EQ(s->getParameter(113), static_cast<float>(64 / 127.0));  // "mWheel"
    controller(*s, 2, 127);
    controller(*s, 4, 0);
    controller(*s, 11, 100);
    EXPECT_DOUBLE_EQ(s->engine.breath, 1.0);
    EXPECT_DOUBLE_EQ(s->engine.foot, 0.0);
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

    // Mapped controllers store and apply their value: 74 drives "Filter Cutoff".
    controller(*s, 74, 0);
    EXPECT_FLOAT_EQ(s->getParameter(28), 0.0f);
    controller(*s, 74, 127);
    EXPECT_FLOAT_EQ(s->getParameter(28), 1.0f);
    // An unmapped controller does nothing.
    const corvane::PatchRecord before = s->engine.currentPatch();
    controller(*s, 3, 99);
    controller(*s, 127, 99);
    EXPECT_EQ(std::memcmp(&before, &s->engine.currentPatch(), sizeof before), 0);
}

TEST(MidiControllers, PitchBendAndPrograms) {
    auto s = makeSynth();
    MidiBlock().add(0xE3, 0x00, 0x40).sendTo(*s);
    EXPECT_EQ(s->engine.bendRaw, 0);
    EXPECT_DOUBLE_EQ(s->engine.bendUnit, 0.0);
    MidiBlock().add(0xE0, 0x00, 0x00).sendTo(*s);
    EXPECT_EQ(s->engine.bendRaw, -8192);
    EXPECT_DOUBLE_EQ(s->engine.bendUnit, -1.0);
    MidiBlock().add(0xE0, 0x7F, 0x7F).sendTo(*s);
    EXPECT_EQ(s->engine.bendRaw, 8191);
    EXPECT_DOUBLE_EQ(s->engine.bendUnit, 8191 / 8192.0);
    EXPECT_FLOAT_EQ(s->getParameter(363), 0.0f);  // never stored

    MidiBlock().add(0xC7, 5, 0).sendTo(*s);
    EXPECT_EQ(s->engine.currentProgram, 5);
    EXPECT_EQ(s->getProgram(), 5);
    controller(*s, 0, 3);  // bank select selects the current program again
    EXPECT_EQ(s->engine.currentProgram, 5);
    EXPECT_EQ(s->bankIndex, 0);
    MidiBlock().add(0xC0, 0x85, 0).sendTo(*s);
    EXPECT_EQ(s->engine.currentProgram, 5);
}

TEST(MidiLearn, LearnWaitsForAControllerAboveOne) {
    auto s = makeSynth();
    s->learn(5);
    controller(*s, 1, 127);  // the wheel moves but does not complete the learn
    EXPECT_EQ(s->learnParam, 5);
    EXPECT_FLOAT_EQ(s->getParameter(113), 1.0f);
    controller(*s, 74, 127);
    EXPECT_EQ(s->learnParam, -1);
    EXPECT_EQ(s->paramOfCc[74], 5);
    EXPECT_FLOAT_EQ(s->getParameter(5), 1.0f);  // takes the controller's value at once
    EXPECT_EQ(s->ccOfParam[5], 74);
    EXPECT_EQ(s->ccOfParam[28], 255);  // "Filter Cutoff" lost its controller
}

TEST(MidiLearn, SecondControllerOnOneSlotAndForget) {
    auto s = makeSynth();
    s->learn(28);
    controller(*s, 20, 0);
    EXPECT_EQ(s->ccOfParam[42], 255);  // "LFO 2 Shape" gave up controller 20
    EXPECT_EQ(s->ccOfParam[28], 74);   // the higher controller wins the echo
    controller(*s, 74, 127);
    EXPECT_FLOAT_EQ(s->getParameter(28), 1.0f);
    s->setParameterAutomated(28, 1.0f);
    ASSERT_FALSE(hostRecord().sentMidi.empty());
    EXPECT_EQ(hostRecord().sentMidi.back().midiData[1], 74);

    s->forget(28);
    EXPECT_EQ(s->paramOfCc[20], 255);
    EXPECT_EQ(s->paramOfCc[74], 255);
    EXPECT_EQ(s->ccOfParam[28], 255);
    const size_t sent = hostRecord().sentMidi.size();
    s->setParameterAutomated(28, 0.5f);
    EXPECT_EQ(hostRecord().sentMidi.size(), sent);
}

TEST(MidiLearn, FixedControllersKeepTheirMeaning) {
    auto s = makeSynth();
    s->learn(12);  // "Osc Mix", controller 8 by default
    controller(*s, 64, 127);
    EXPECT_EQ(s->engine.sustain, 127);
    EXPECT_FLOAT_EQ(s->getParameter(12), 0.0f);  // the pedal does not move the slot
    EXPECT_EQ(s->ccOfParam[12], 64);             // but the echo uses it
}

TEST(MidiLearn, SlotsBeyondTheMapAndController127) {
    auto s = makeSynth();
    s->learn(7);
    s->learn(300);  // an arpeggiator step cannot be learned: nothing is armed
    EXPECT_EQ(s->learnParam, -1);
    controller(*s, 20, 50);
    EXPECT_EQ(s->paramOfCc[20], 42);
    s->learn(255);
    EXPECT_EQ(s->learnParam, -1);
    s->learn(254);
    EXPECT_EQ(s->learnParam, 254);

    s->learn(10);
    controller(*s, 127, 127);
    EXPECT_EQ(s->paramOfCc[127], 10);
    EXPECT_EQ(s->ccOfParam[10], 127);
    EXPECT_FLOAT_EQ(s->getParameter(10), 1.0f);
    s->forget(10);
    EXPECT_EQ(s->paramOfCc[127], 255);
    EXPECT_EQ(s->ccOfParam[10], 255);
    s->forget(999);  // harmless
    EXPECT_EQ(s->paramOfCc[74], 28);
}

TEST(MidiLearn, DefaultMap) {
    auto s = makeSynth();
    int assigned = 0;
    for (int cc = 0; cc < 128; ++cc)
        assigned += s->paramOfCc[cc] != 255;
    EXPECT_EQ(assigned, 72);
    EXPECT_EQ(s->paramOfCc[74], 28);
    EXPECT_EQ(s->paramOfCc[111], 74);
    EXPECT_EQ(s->paramOfCc[1], 113);
    EXPECT_EQ(s->paramOfCc[47], 115);
    EXPECT_EQ(s->paramOfCc[119], 167);
    EXPECT_EQ(s->ccOfParam[160], 112);
    EXPECT_EQ(s->learnParam, -1);
}
