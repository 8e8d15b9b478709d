// A tiny VST 2.4 instrument for the render tool's tests: it turns what the host tells it into
// audio, so a render shows exactly when events arrived and what time info the host gave.
//   left channel:  0 everywhere, except the key number of each note-on at its frame;
//   right channel: the host tempo (BPM) on the first frame of each block, the position in
//                  quarter notes at the block's start on the other frames.
#include <cstring>

#include "vst/VstAbi.h"

namespace {

struct Probe {
    vst::AEffect effect;
    vst::HostCallback host;
    int noteFrame[64];
    int noteKey[64];
    int noteCount;
};

Probe* probeOf(vst::AEffect* e) {
    return static_cast<Probe*>(e->object);
}

intptr_t dispatcher(vst::AEffect* e, int32_t opcode, int32_t, intptr_t, void* ptr, float) {
    Probe* p = probeOf(e);
    switch (opcode) {
        case vst::effClose:
            delete p;
            return 1;
        case vst::effProcessEvents: {
            const auto* events = static_cast<const vst::VstEvents*>(ptr);
            for (int32_t i = 0; i < events->numEvents && p->noteCount < 64; ++i) {
                const vst::VstEvent* ev = events->events[i];
                if (ev->type != vst::kVstMidiType) continue;
                const auto* m = reinterpret_cast<const vst::VstMidiEvent*>(ev);
                if ((m->midiData[0] & 0xF0) == 0x90 && m->midiData[2] != 0) {
                    p->noteFrame[p->noteCount] = m->deltaFrames;
                    p->noteKey[p->noteCount++] = m->midiData[1];
                }
            }
            return 1;
        }
        case vst::effGetVstVersion:
            return vst::kVersion;
        case vst::effGetPlugCategory:
            return vst::kPlugCategSynth;
        case vst::effCanDo:
            return std::strcmp(static_cast<const char*>(ptr), "receiveVstMidiEvent") == 0 ? 1 : -1;
        default:
            return 0;
    }
}

void processReplacing(vst::AEffect* e, float**, float** out, int32_t frames) {
    Probe* p = probeOf(e);
    const auto* time = reinterpret_cast<const vst::VstTimeInfo*>(p->host(
        e, vst::audioMasterGetTime, 0, vst::kVstTempoValid | vst::kVstPpqPosValid, nullptr, 0.0f));
    for (int32_t i = 0; i < frames; ++i) {
        out[0][i] = 0.0f;
        out[1][i] = time ? static_cast<float>(i == 0 ? time->tempo : time->ppqPos) : -1.0f;
    }
    for (int i = 0; i < p->noteCount; ++i)
        if (p->noteFrame[i] >= 0 && p->noteFrame[i] < frames)
            out[0][p->noteFrame[i]] = static_cast<float>(p->noteKey[i]);
    p->noteCount = 0;
}

void process(vst::AEffect*, float**, float**, int32_t) {}
void setParameter(vst::AEffect*, int32_t, float) {}
float getParameter(vst::AEffect*, int32_t) {
    return 0.0f;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) vst::AEffect* VSTPluginMain(
    vst::HostCallback host) {
    if (!host || host(nullptr, vst::audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    Probe* p = new Probe{};
    p->host = host;
    vst::AEffect& e = p->effect;
    e.magic = vst::kEffectMagic;
    e.dispatcher = &dispatcher;
    e.process = &process;
    e.setParameter = &setParameter;
    e.getParameter = &getParameter;
    e.numOutputs = 2;
    e.flags = vst::effFlagsCanReplacing | vst::effFlagsIsSynth;
    e.object = p;
    e.uniqueID = vst::fourCC('P', 'r', 'b', 'e');
    e.version = 1;
    e.processReplacing = &processReplacing;
    return &e;
}
