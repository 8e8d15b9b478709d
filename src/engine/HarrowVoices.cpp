// The voice pool: starting, stealing, releasing and silencing voices.
#include "engine/Harrow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "dsp/SafeMath.h"

namespace corvane {

void Harrow::releasePlayingVoices() {
    for (int i = 0; i < kPlayingVoices; ++i)
        if (voices[i].active) voices[i].released = 1;
}

void Harrow::allNotesOff(bool hard) {
    std::memset(arpHeld, 0, sizeof arpHeld);
    anyKeyDown = 0;
    if (hard) {
        reset();
        return;
    }
    // Mono mode's held keys go too: a stale one would turn a later note-off into a pitch
    // change instead of a release.
    std::memset(heldKeys, 0, sizeof heldKeys);
    releasePlayingVoices();
}

void Harrow::clearSampleMap() {
    map.clear();
    loadedZones_.store(0);
    for (Voice& v : voices)
        v = Voice{};
}

// ---- notes ----

void Harrow::startVoice(int slot, int note, int velocity) {
    Voice& v = voices[slot];
    v = Voice{};
    v.note = static_cast<int8_t>(note);
    v.velocity = static_cast<int8_t>(velocity);
    v.pitch = static_cast<float>(note * 128);
    v.active = 1;
    v.prevGainL = v.prevGainR = -1.0f;
    v.prevCutoff = -1000.0f;
    v.glideOffset = pendingGlide;
    v.randomValue = static_cast<float>(random.next()) / 16383.0f - 1.0f;
    v.lfoPhase[0] = lfoReset[0] ? 0u : runningLfo1Phase;
    v.position = 0.0;
    v.zone = map.findZone(note, velocity);
    if (v.zone && v.zone->isLoopTrigger && map.sliceCount >= 1) {
        v.sliceIndex = 0;
        v.sliceEnd = map.sliceDurationSamples(*v.zone, 0, tempo);
    }
}

// The first free playing slot, or the slot of a stolen voice: released voices go first,
// then the oldest; equal ages go to the higher slot.
int Harrow::chooseVoice() {
    const int count = std::clamp(voiceCount, 1, kPlayingVoices);
    for (int i = 0; i < count; ++i)
        if (!voices[i].active) return i;
    int victim = -1;
    for (int i = 0; i < count; ++i)
        if (voices[i].released && (victim < 0 || voices[i].age >= voices[victim].age)) victim = i;
    if (victim < 0) {
        victim = 0;
        for (int i = 1; i < count; ++i)
            if (voices[i].age >= voices[victim].age) victim = i;
    }
    stealInto(victim);
    return victim;
}

// The stolen sound moves to the tail ring and fades out there instead of cutting off.
void Harrow::stealInto(int slot) {
    Voice& tail = voices[kPlayingVoices + tailSlot];
    tail = voices[slot];
    tail.released = 1;
    tail.fastRelease = 1;
    tailSlot = (tailSlot + 1) % kTailVoices;
}

void Harrow::noteOn(int note, int velocity) {
    if (map.empty()) return;
    note &= 0x7F;
    velocity &= 0x7F;
    noteStarted = true;
    if (!monoMode || arpOn) {
        if (!firstNote) {
            pendingGlide = static_cast<float>(lastNote * 128 - note * 128);
        } else {
            pendingGlide = 0.0f;
            firstNote = false;
        }
        lastNote = note;
        startVoice(monoMode ? 0 : chooseVoice(), note, velocity);
    } else {
        heldKeys[note] = 1;
        Voice& v0 = voices[0];
        if (!v0.active) {
            pendingGlide = 0.0f;
            firstNote = true;
            startVoice(0, note, velocity);
        } else if (v0.released) {
            // Retrigger in place: the sample restarts, the envelopes attack again from their
            // current levels and the zone stays the one the voice was playing.
            v0.amp.stage = v0.filterEnv.stage = v0.modEnv.stage = kStageAttack;
            v0.glideOffset = 0.0f;
            v0.age = 0;
            v0.note = static_cast<int8_t>(note);
            v0.velocity = static_cast<int8_t>(velocity);
            v0.pitch = static_cast<float>(note * 128);
            v0.position = 0.0;
            v0.released = 0;
            if (v0.zone && v0.zone->isLoopTrigger && map.sliceCount >= 1) {
                v0.sliceIndex = 0;
                v0.tailCount = 0;
                v0.sliceEnd = map.sliceDurationSamples(*v0.zone, 0, tempo);
            }
        } else {
            // Legato: glide from where voice 0 sounds now; nothing restarts.
            const float from = v0.pitch + v0.glideOffset;
            const float to = static_cast<float>(note * 128);
            const int count = std::clamp(voiceCount, 1, kPlayingVoices);
            for (int i = 0; i < count; ++i) {
                voices[i].glideOffset = from - to;
                voices[i].pitch = to;
            }
        }
        firstNote = false;
        lastNote = note;
    }
    anyKeyDown = 1;
}

void Harrow::noteOff(int note) {
    if (map.empty()) return;
    note &= 0x7F;
    if (!monoMode || arpOn) {
        for (int i = 0; i < kPlayingVoices; ++i)
            if (voices[i].active && voices[i].note == note) voices[i].released = 1;
        return;
    }
    heldKeys[note] = 0;
    if (note != lastNote) return;
    for (int k = 127; k >= 0; --k) {
        if (!heldKeys[k]) continue;
        const float from = voices[0].pitch + voices[0].glideOffset;
        const float to = static_cast<float>(k * 128);
        const int count = std::clamp(voiceCount, 1, kPlayingVoices);
        for (int i = 0; i < count; ++i) {
            voices[i].pitch = to;
            voices[i].glideOffset = from - to;
        }
        lastNote = k;
        return;
    }
    releasePlayingVoices();
}

}  // namespace corvane
