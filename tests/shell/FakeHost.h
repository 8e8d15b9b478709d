#pragma once
// A minimal host for driving the plug-in object directly: answers the version query and
// records what the plug-in tells it (automation and MIDI sent back).
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "shell/VstSynth.h"

namespace corvane::test {

struct HostRecord {
    std::vector<std::pair<int32_t, float>> automated;
    std::vector<vst::VstMidiEvent> sentMidi;
};

inline HostRecord& hostRecord() {
    static HostRecord record;
    return record;
}

inline intptr_t fakeHost(vst::AEffect*, int32_t opcode, int32_t index, intptr_t, void* ptr,
                         float opt) {
    switch (opcode) {
        case vst::audioMasterVersion:
            return 2400;
        case vst::audioMasterAutomate:
            hostRecord().automated.emplace_back(index, opt);
            return 0;
        case vst::audioMasterProcessEvents: {
            const auto* events = static_cast<const vst::VstEvents*>(ptr);
            for (int32_t i = 0; i < events->numEvents; ++i)
                hostRecord().sentMidi.push_back(
                    *reinterpret_cast<const vst::VstMidiEvent*>(events->events[i]));
            return 1;
        }
        default:
            return 0;
    }
}

inline std::unique_ptr<VstSynth> makeSynth() {
    hostRecord() = HostRecord{};
    return std::make_unique<VstSynth>(&fakeHost);
}

// One MIDI message as the host delivers it.
struct MidiBlock {
    static constexpr size_t kMaxEvents = 1024;
    struct Block {  // the VstEvents layout with room for kMaxEvents pointers
        int32_t numEvents;
        intptr_t reserved;
        vst::VstEvent* events[kMaxEvents];
    };
    std::vector<vst::VstMidiEvent> midi;
    std::unique_ptr<Block> block = std::make_unique<Block>();

    MidiBlock() { midi.reserve(kMaxEvents); }
    MidiBlock& add(int status, int d1, int d2, int32_t deltaFrames = 0) {
        vst::VstMidiEvent e{};
        e.type = vst::kVstMidiType;
        e.byteSize = sizeof e;
        e.deltaFrames = deltaFrames;
        e.midiData[0] = static_cast<char>(status);
        e.midiData[1] = static_cast<char>(d1);
        e.midiData[2] = static_cast<char>(d2);
        if (midi.size() < kMaxEvents) midi.push_back(e);
        return *this;
    }
    vst::VstEvents* events() {
        block->numEvents = static_cast<int32_t>(midi.size());
        block->reserved = 0;
        for (size_t i = 0; i < midi.size(); ++i)
            block->events[i] = reinterpret_cast<vst::VstEvent*>(&midi[i]);
        return reinterpret_cast<vst::VstEvents*>(block.get());
    }
    void sendTo(VstSynth& synth) { synth.processEvents(events()); }
};

}  // namespace corvane::test
