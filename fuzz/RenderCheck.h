#pragma once
// After a fuzzed restore: plays a few notes through a small looped tone and traps unless
// every rendered sample is finite. Whatever the restored slots hold, the output must stay
// a number.
#include <cmath>
#include <cstdint>

#include "content/SampleZone.h"
#include "shell/VstSynth.h"

namespace fuzzcheck {

constexpr int kBlock = 256;

// A one-zone instrument when the restore left none, so that the voices have something to
// play (the fuzzed file names rarely name a readable instrument).
inline void ensureTone(corvane::VstSynth& s) {
    corvane::SampleMap& map = s.engine.map;
    if (!map.empty()) return;
    s.engine.clearSampleMap();
    if (!map.beginZones(1)) return;
    corvane::SampleZone* z = map.appendZone();
    if (!z) return;
    constexpr int kFrames = 400;
    z->data = corvane::allocSampleData(kFrames, 256 * 2 * sizeof(float));
    if (!z->data) return;
    for (int i = 0; i < kFrames; ++i)
        z->data[i] = static_cast<float>(0.8 * std::sin(2.0 * M_PI * 4.0 * i / kFrames));
    z->frameCount = kFrames;
    z->loopMode = 1;
    z->loopEnd = kFrames;
    z->bitsPerSample = 32;
}

inline void sendNotes(corvane::VstSynth& s, int status, const int* keys, int count) {
    struct {
        int32_t numEvents;
        intptr_t reserved;
        vst::VstEvent* events[8];
    } block{};
    vst::VstMidiEvent midi[8]{};
    for (int i = 0; i < count && i < 8; ++i) {
        midi[i].type = vst::kVstMidiType;
        midi[i].byteSize = sizeof midi[i];
        midi[i].deltaFrames = 37 * i;
        midi[i].midiData[0] = static_cast<char>(status);
        midi[i].midiData[1] = static_cast<char>(keys[i]);
        midi[i].midiData[2] = 100;
        block.events[i] = reinterpret_cast<vst::VstEvent*>(&midi[i]);
        block.numEvents = i + 1;
    }
    s.processEvents(reinterpret_cast<vst::VstEvents*>(&block));
}

inline void renderAndCheck(corvane::VstSynth& s) {
    static float left[kBlock], right[kBlock];
    float* out[2] = {left, right};
    ensureTone(s);
    static const int kKeys[4] = {36, 60, 67, 84};
    sendNotes(s, 0x90, kKeys, 4);
    for (int b = 0; b < 4; ++b) {
        if (b == 3) sendNotes(s, 0x80, kKeys, 4);
        s.processReplacing(nullptr, out, kBlock);
        for (int i = 0; i < kBlock; ++i)
            if (!std::isfinite(left[i]) || !std::isfinite(right[i])) __builtin_trap();
    }
}

// The plug-in object the targets share, set up as a host would before playing.
inline intptr_t host(vst::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == vst::audioMasterVersion ? 2400 : 0;
}

inline corvane::VstSynth& synth() {
    static corvane::VstSynth* s = [] {
        auto* p = new corvane::VstSynth(&host);
        p->setSampleRate(44100.0f);
        p->setBlockSize(kBlock);
        return p;
    }();
    return *s;
}

}  // namespace fuzzcheck
