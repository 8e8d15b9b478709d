// MIDI input, the note list, MIDI learn and the controller echo.
#include <cstring>

#include "shell/VstSynth.h"

namespace corvane {

int32_t VstSynth::processEvents(vst::VstEvents* events) {
    if (!events) return 1;
    for (int32_t i = 0; i < events->numEvents; ++i) {
        const vst::VstEvent* e = events->events[i];
        if (!e || e->type != vst::kVstMidiType) continue;
        const auto* m = reinterpret_cast<const vst::VstMidiEvent*>(e);
        const int s = static_cast<uint8_t>(m->midiData[0]) & 0xF0;
        const int d1 = static_cast<uint8_t>(m->midiData[1]);
        const int d2 = static_cast<uint8_t>(m->midiData[2]);
        if (s == 0x80 || s == 0x90)
            handleNoteEvent(s, d1, d2, m->deltaFrames, true);
        else if (s == 0xB0)
            handleController(d1, d2);
    }
    return 1;
}

void VstSynth::handleNoteEvent(int status, int d1, int d2, int32_t deltaFrames, bool) {
    const bool on = status == 0x90 && static_cast<int8_t>(d2) > 0;
    keyDown[d1 & 0x7F] = on;
    appendNote(status, d1, deltaFrames, d2);
}

void VstSynth::handleController(int cc, int) {
    if (cc == 123) engine.allNotesOff(true);
}

void VstSynth::appendNote(int status, int key, int32_t deltaFrames, int velocity) {
    if (noteCount >= kNoteListSize) return;
    NoteEvent& e = noteList[noteCount++];
    e.deltaFrames = deltaFrames;
    e.status = static_cast<uint8_t>(status);
    e.data1 = static_cast<uint8_t>(key > 127 ? 127 : key);
    e.data2 = static_cast<uint8_t>(velocity);
}

void VstSynth::learn(int slot) {
    learnParam = slot;
}
void VstSynth::forget(int) {}

void VstSynth::setDefaultControllerMap() {
    std::memset(ccOfParam, 255, sizeof ccOfParam);
    std::memset(paramOfCc, 255, sizeof paramOfCc);
    learnParam = -1;
}

void VstSynth::rebuildCcOfParam() {}
void VstSynth::controllerEcho(int32_t, float) {}

}  // namespace corvane
