// MIDI input, the note list, MIDI learn and the controller echo.
#include <cmath>
#include <cstring>

#include "shell/VstSynth.h"

namespace corvane {

namespace {
constexpr uint8_t kNone = 255;
// Slots 0..254 fit the byte map; 255 means "no slot".
constexpr int kLearnableSlots = 255;

struct DefaultPair {
    int slot;
    int cc;
};

const DefaultPair kDefaultMap[] = {
    {0, 30},    {1, 77},    {2, 33},    {3, 102},   {5, 31},    {6, 78},    {7, 34},    {8, 103},
    {10, 108},  {11, 107},  {12, 8},    {13, 110},  {14, 109},  {15, 71},   {16, 79},   {17, 70},
    {18, 73},   {19, 36},   {20, 37},   {21, 72},   {22, 38},   {23, 39},   {24, 40},   {25, 41},
    {26, 46},   {28, 74},   {29, 42},   {30, 43},   {32, 35},   {33, 15},   {34, 14},   {35, 17},
    {36, 18},   {37, 16},   {42, 20},   {43, 19},   {44, 22},   {45, 23},   {46, 21},   {51, 81},
    {52, 80},   {53, 83},   {54, 84},   {55, 82},   {57, 26},   {58, 27},   {59, 28},   {60, 29},
    {61, 106},  {71, 50},   {72, 52},   {74, 111},  {75, 54},   {76, 53},   {77, 51},   {78, 5},
    {83, 93},   {88, 92},   {94, 91},   {100, 94},  {104, 89},  {109, 90},  {113, 1},   {115, 47},
    {160, 112}, {161, 113}, {162, 114}, {163, 115}, {164, 116}, {165, 117}, {166, 118}, {167, 119},
};
static_assert(sizeof kDefaultMap / sizeof kDefaultMap[0] == 72);

bool isNoteOff(const NoteEvent& e) {
    return (e.status & 0xF0) == 0x80 || (e.data2 & 0x7F) == 0;
}

bool anyHeld(const uint8_t* table) {
    for (int k = 0; k < 128; ++k)
        if (table[k] > 0) return true;
    return false;
}
}  // namespace

int32_t VstSynth::processEvents(vst::VstEvents* events) {
    engine.arpRestartFrame = -1;
    // The block starts here, on the audio thread: values posted since the last block, and
    // those a controller sets below, take effect at once, so that the notes after them in
    // the list are taken by the new settings (the arpeggiator switch among them). While a
    // loader replaces the map it applies them itself.
    const auto applyNow = [this] {
        engine.renderBusy.exchange(1);
        if (!engine.loading.load()) engine.applyPosted();
        engine.renderBusy.exchange(0);
    };
    applyNow();
    if (!events) return 1;
    // The count is read again after every event.
    for (int32_t i = 0; i < events->numEvents; ++i) {
        const vst::VstEvent* e = events->events[i];
        if (!e || e->type != vst::kVstMidiType) continue;
        const auto* m = reinterpret_cast<const vst::VstMidiEvent*>(e);
        const int s = static_cast<uint8_t>(m->midiData[0]) & 0xF0;
        const int d1 = static_cast<uint8_t>(m->midiData[1]);
        const int d2 = static_cast<uint8_t>(m->midiData[2]);
        switch (s) {
            case 0x80:
            case 0x90:
                handleNoteEvent(s, d1, d2, m->deltaFrames, true);
                break;
            case 0xB0:
                handleController(d1, d2);
                applyNow();
                break;
            case 0xC0:
                setProgram(d1 & 0x7F);
                break;
            case 0xD0:
                engine.pressure = (d1 & 0x7F) / 127.0;
                break;
            case 0xE0: {
                const int b = (d2 & 0x7F) * 128 + (d1 & 0x7F) - 8192;
                float u = static_cast<float>(b / 16384.0 + 0.5);
                u = u < 0.0f ? 0.0f : (u > 1.0f ? 1.0f : u);
                setParameter(kPitchBendSlot, u);
                applyNow();
                engine.bendUnit = b / 8192.0;
                engine.bendRaw = b;
                break;
            }
            default:
                break;  // polyphonic pressure and system messages
        }
    }
    return 1;
}

void VstSynth::handleNoteEvent(int status, int d1, int d2, int32_t deltaFrames, bool fromHost) {
    const bool on = status == 0x90 && static_cast<int8_t>(d2) > 0;
    const int key = d1 & 0x7F;
    keyDown[key] = on;
    if (fromHost && editor_) editor_->noteReported(key, on);
    if (!on) {
        uint8_t any = 0;
        for (int k = 0; k < 128; ++k)
            any |= keyDown[k];
        engine.anyKeyDown = any ? 1 : 0;
    }

    // The note list carries the key as held in keyDown: a data byte with its top bit set
    // is read as its low seven bits, so that its note-off finds the same key.
    if (!engine.arpOn) {
        appendNote(status, key, deltaFrames, d2);
        return;
    }
    const bool modulationMode = engine.arpMode == 4;
    bool restart;
    if (fromHost) {
        restart = on && (modulationMode || !anyHeld(engine.arpHeld));
    } else {
        // Editor keyboard: every drained entry restarts the pattern at frame 0 while no key
        // is held, until one finds a held key; after that, no more restarts this block.
        restart = guiArpRestartOpen_ && !anyHeld(engine.arpHeld);
        if (!restart) guiArpRestartOpen_ = false;
    }
    if (restart) {
        engine.arpClock = 0.0;
        engine.arpRestartFrame = deltaFrames;
        engine.arpTickCounter = 0;
    }
    if (on) {
        engine.arpHeld[key] = static_cast<uint8_t>(d2);
        if (modulationMode) appendNote(status, key, deltaFrames, d2);
    } else {
        engine.arpHeld[key] = 0;
        appendNote(modulationMode ? status : 0x80, key, deltaFrames, d2);
    }
}

void VstSynth::handleController(int ccByte, int valueByte) {
    // Data bytes are 7-bit; a byte with its top bit set (a damaged message) is read as its
    // low seven bits, so that no map index or program number can go negative.
    const int cc = ccByte & 0x7F;
    const int v = valueByte & 0x7F;
    const float unit = static_cast<float>(v / 127.0);

    if (learnParam >= 0 && cc > 1) {
        if (learnParam < kLearnableSlots) {
            paramOfCc[cc] = static_cast<uint8_t>(learnParam);
            rebuildCcOfParam();
        }
        learnParam = -1;
    }

    switch (cc) {
        case 0:  // bank select: one bank of 128, so this selects the current program again
            selectProgramIndexed(v * 128 + (engine.currentProgram & 127));
            return;
        case 1:
            engine.modWheelTarget = v / 127.0;
            if (paramOfCc[1] != kNone) setParameter(paramOfCc[1], unit);
            return;
        case 2:
            engine.breath = v / 127.0;
            return;
        case 4:
            engine.foot = v / 127.0;
            return;
        case 11:
            engine.expression = v / 127.0;
            return;
        case 64:
            engine.sustain = static_cast<uint8_t>(v);
            engine.releaseRunning = v < 64;
            return;
        case 123:
            engine.allNotesOff(true);
            engine.arpCurrentStep = 0;
            return;
        default:
            if (paramOfCc[cc] != kNone) setParameter(paramOfCc[cc], unit);
            return;
    }
}

// The list holds 256 events. Once it is full a further note-on is dropped; a note-off is
// never dropped while it matters: it takes the place of the latest queued note-on, so that
// no key is left sounding because its release found no room.
void VstSynth::appendNote(int status, int key, int32_t deltaFrames, int velocity) {
    NoteEvent e;
    e.deltaFrames = deltaFrames;
    e.status = static_cast<uint8_t>(status);
    e.data1 = static_cast<uint8_t>(key > 127 ? 127 : (key < 0 ? 0 : key));
    e.data2 = static_cast<uint8_t>(velocity);
    if (noteCount < 0) noteCount = 0;
    if (noteCount < kNoteListSize) {
        noteList[noteCount++] = e;
        return;
    }
    noteCount = kNoteListSize;
    if (!isNoteOff(e)) return;

    int victim = -1;
    for (int i = kNoteListSize - 1; i >= 0 && victim < 0; --i)
        if (!isNoteOff(noteList[i])) victim = i;
    if (victim < 0) {
        // Only releases are queued. If this key is among them it is released already;
        // otherwise some key is released twice (256 entries, 128 keys), and its later
        // repetition makes room.
        uint8_t seen[128] = {};
        for (int i = 0; i < kNoteListSize; ++i) {
            const int k = noteList[i].data1 & 0x7F;
            if (k == (e.data1 & 0x7F)) return;
            if (seen[k] && victim < 0) victim = i;
            seen[k] = 1;
        }
        if (victim < 0) return;
    }
    std::memmove(&noteList[victim], &noteList[victim + 1],
                 sizeof(NoteEvent) * (kNoteListSize - 1 - victim));
    noteList[kNoteListSize - 1] = e;
}

// Arms MIDI learn for a slot. The byte-wide map holds slots 0..254 only: a request for any
// other slot cancels a waiting learn and arms nothing.
void VstSynth::learn(int slot) {
    learnParam = (slot >= 0 && slot < kLearnableSlots) ? slot : -1;
}

void VstSynth::forget(int slot) {
    if (slot < 0 || slot >= kLearnableSlots) return;
    for (int cc = 0; cc < 128; ++cc)
        if (paramOfCc[cc] == slot) paramOfCc[cc] = kNone;
    rebuildCcOfParam();
}

void VstSynth::setDefaultControllerMap() {
    std::memset(ccOfParam, kNone, sizeof ccOfParam);
    for (const DefaultPair& p : kDefaultMap)
        ccOfParam[p.slot] = static_cast<uint8_t>(p.cc);
    std::memset(paramOfCc, kNone, sizeof paramOfCc);
    for (int cc = 0; cc < 127; ++cc) {
        for (int p = 0; p < kLearnableSlots; ++p) {
            if (ccOfParam[p] == cc) {
                paramOfCc[cc] = static_cast<uint8_t>(p);
                break;
            }
        }
    }
    learnParam = -1;
    rebuildCcOfParam();
}

// ccOfParam follows paramOfCc; where several controllers drive one slot, the highest is
// echoed. Controller 127 takes part like every other (it can be learned).
void VstSynth::rebuildCcOfParam() {
    std::memset(ccOfParam, kNone, sizeof ccOfParam);
    for (int cc = 0; cc < 128; ++cc)
        if (paramOfCc[cc] != kNone) ccOfParam[paramOfCc[cc]] = static_cast<uint8_t>(cc);
}

void VstSynth::controllerEcho(int32_t index, float value) {
    if (index < 0 || index >= kStoredSlots || ccOfParam[index] == kNone) return;
    // The nearest data byte. A value that came in from a controller (byte / 127, held as a
    // float) lies within 1e-5 of its byte, so the echo repeats that byte exactly, and a value
    // set by the host or the editor echoes a byte that reads back as itself: a motorised
    // fader following the echo never creeps. Values outside 0..1 (or NaN) are held to a
    // valid data byte.
    const double scaled = static_cast<double>(value) * 127.0;
    const int data =
        scaled >= 127.0 ? 127 : (scaled > 0.0 ? static_cast<int>(std::lround(scaled)) : 0);
    echoEvent_.deltaFrames = 0;
    echoEvent_.midiData[0] = static_cast<char>(0xB0);
    echoEvent_.midiData[1] = static_cast<char>(ccOfParam[index]);
    echoEvent_.midiData[2] = static_cast<char>(data);
    echoEvent_.midiData[3] = 0;
    sendVstEventsToHost(&echoEvents_);
}

}  // namespace corvane
