#include "shell/AudioEffectBase.h"

#include "platform/FpEnvironment.h"
#include "shell/Text.h"

#include <cstring>
#include <exception>

namespace corvane {

AudioEffectBase::AudioEffectBase(vst::HostCallback host, int32_t numPrograms, int32_t numParams)
    : audioMaster(host) {
    std::memset(&effect_, 0, sizeof effect_);
    effect_.magic = vst::kEffectMagic;
    effect_.dispatcher = &dispatcherProc;
    effect_.process = &processProc;
    effect_.setParameter = &setParameterProc;
    effect_.getParameter = &getParameterProc;
    effect_.numPrograms = numPrograms;
    effect_.numParams = numParams;
    effect_.numInputs = 1;
    effect_.numOutputs = 2;
    effect_.ioRatio = 1.0f;
    effect_.object = this;
    effect_.uniqueID = vst::fourCC('N', 'o', 'E', 'f');
    effect_.version = 1;
    effect_.processReplacing = &processReplacingProc;
}

AudioEffectBase::~AudioEffectBase() = default;

AudioEffectBase* AudioEffectBase::fromAeffect(vst::AEffect* e) {
    return e ? static_cast<AudioEffectBase*>(e->object) : nullptr;
}

void AudioEffectBase::setFlag(int32_t flag, bool on) {
    if (on)
        effect_.flags |= flag;
    else
        effect_.flags &= ~flag;
}

void AudioEffectBase::resume() {
    if (effect_.flags & vst::effFlagsIsSynth) callHost(vst::audioMasterWantMidi, 0, 1);
}

void AudioEffectBase::setParameterAutomated(int32_t index, float value) {
    setParameter(index, value);
    callHost(vst::audioMasterAutomate, index, 0, nullptr, value);
}

int32_t AudioEffectBase::getPlugCategory() {
    return (effect_.flags & vst::effFlagsIsSynth) ? vst::kPlugCategSynth : 0;
}

intptr_t AudioEffectBase::callHost(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                   float opt) {
    return audioMaster ? audioMaster(&effect_, opcode, index, value, ptr, opt) : 0;
}

bool AudioEffectBase::getHostVendorString(char* text) {
    text[0] = 0;
    const bool ok = callHost(vst::audioMasterGetVendorString, 0, 0, text) != 0;
    text[63] = 0;
    return ok;
}

vst::VstTimeInfo* AudioEffectBase::getTimeInfo(int32_t filter) {
    return reinterpret_cast<vst::VstTimeInfo*>(
        callHost(vst::audioMasterGetTime, 0, filter, nullptr));
}

bool AudioEffectBase::sendVstEventsToHost(vst::VstEvents* events) {
    return callHost(vst::audioMasterProcessEvents, 0, 0, events) == 1;
}

intptr_t AudioEffectBase::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                   float opt) {
    // Text buffers: hosts give at least 64 bytes for names in practice; we never write
    // more than 64 bytes, and the callees keep their texts to 31 characters.
    char text[256];
    switch (opcode) {
        case vst::effOpen:
            open();
            return 0;
        case vst::effClose:
            close();
            delete this;
            return 1;
        case vst::effSetProgram:
            if (value >= 0) setProgram(static_cast<int32_t>(value));
            return 0;
        case vst::effGetProgram:
            return getProgram();
        case vst::effSetProgramName:
            if (ptr) setProgramName(static_cast<const char*>(ptr));
            return 0;
        case vst::effGetProgramName:
            text[0] = 0;
            getProgramName(text);
            copyText(static_cast<char*>(ptr), text, 32);
            return 0;
        case vst::effGetParamLabel:
            text[0] = 0;
            getParameterLabel(index, text);
            copyText(static_cast<char*>(ptr), text, 64);
            return 0;
        case vst::effGetParamDisplay:
            text[0] = 0;
            getParameterDisplay(index, text);
            copyText(static_cast<char*>(ptr), text, 64);
            return 0;
        case vst::effGetParamName:
            text[0] = 0;
            getParameterName(index, text);
            copyText(static_cast<char*>(ptr), text, 64);
            return 0;
        case vst::effSetSampleRate:
            setSampleRate(opt);
            return 0;
        case vst::effSetBlockSize:
            setBlockSize(static_cast<int32_t>(value));
            return 0;
        case vst::effMainsChanged:
            if (value)
                resume();
            else
                suspend();
            return 0;
        case vst::effIdentify:
            return vst::fourCC('N', 'v', 'E', 'f');
        case vst::effGetChunk:
            if (!ptr) return 0;
            return getChunk(static_cast<void**>(ptr), index != 0);
        case vst::effSetChunk:
            if (!ptr) return 0;
            return setChunk(ptr, static_cast<int32_t>(value), index != 0);
        case vst::effProcessEvents:
            return ptr ? processEvents(static_cast<vst::VstEvents*>(ptr)) : 0;
        case vst::effCanBeAutomated:
            return 1;
        case vst::effGetProgramNameIndexed:
            if (!ptr) return 0;
            text[0] = 0;
            if (!getProgramNameIndexed(static_cast<int32_t>(value), index, text)) return 0;
            copyText(static_cast<char*>(ptr), text, 32);
            return 1;
        case vst::effGetOutputProperties:
            return ptr ? getOutputProperties(index, static_cast<vst::VstPinProperties*>(ptr)) : 0;
        case vst::effGetPlugCategory:
            return getPlugCategory();
        case vst::effGetEffectName:
            text[0] = 0;
            if (!getEffectName(text)) return 0;
            copyText(static_cast<char*>(ptr), text, 32);
            return 1;
        case vst::effGetVendorString:
            text[0] = 0;
            if (!getVendorString(text)) return 0;
            copyText(static_cast<char*>(ptr), text, 64);
            return 1;
        case vst::effGetProductString:
            text[0] = 0;
            if (!getProductString(text)) return 0;
            copyText(static_cast<char*>(ptr), text, 64);
            return 1;
        case vst::effGetVendorVersion:
            return getVendorVersion();
        case vst::effVendorSpecific:
            return vendorSpecific(index, value, ptr, opt);
        case vst::effCanDo:
            return ptr ? canDo(static_cast<const char*>(ptr)) : 0;
        case vst::effEditGetRect:
            if (!ptr) return 0;
            return editGetRect(static_cast<vst::ERect**>(ptr)) ? 1 : 0;
        case vst::effEditOpen:
            return editOpen(ptr) ? 1 : 0;
        case vst::effEditClose:
            editClose();
            return 0;
        case vst::effEditIdle:
            editIdle();
            return 0;
        case vst::effGetVstVersion:
            return vst::kVersion;
        default:
            return 0;
    }
}

intptr_t AudioEffectBase::dispatcherProc(vst::AEffect* e, int32_t opcode, int32_t index,
                                         intptr_t value, void* ptr, float opt) {
    AudioEffectBase* self = fromAeffect(e);
    if (!self) return 0;
    platform::FpEnvironmentGuard fp;
    try {
        return self->dispatch(opcode, index, value, ptr, opt);
    } catch (...) {
        return 0;  // nothing thrown may reach the host
    }
}

void AudioEffectBase::processProc(vst::AEffect* e, float** in, float** out, int32_t frames) {
    // The old accumulating call, which 2.4 hosts never make for a plug-in that can
    // replace: it is answered with the replacing call rather than left unanswered.
    processReplacingProc(e, in, out, frames);
}

void AudioEffectBase::processReplacingProc(vst::AEffect* e, float** in, float** out,
                                           int32_t frames) {
    AudioEffectBase* self = fromAeffect(e);
    if (!self || !out || !out[0] || !out[1] || frames <= 0) return;
    platform::FpEnvironmentGuard fp;
    self->processReplacing(in, out, frames);
}

void AudioEffectBase::setParameterProc(vst::AEffect* e, int32_t index, float value) {
    if (AudioEffectBase* self = fromAeffect(e)) {
        platform::FpEnvironmentGuard fp;
        self->setParameter(index, value);
    }
}

float AudioEffectBase::getParameterProc(vst::AEffect* e, int32_t index) {
    AudioEffectBase* self = fromAeffect(e);
    if (!self) return 0.0f;
    platform::FpEnvironmentGuard fp;
    return self->getParameter(index);
}

}  // namespace corvane
