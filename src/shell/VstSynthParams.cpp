// Parameters: the host-facing view of the current patch's slots.
#include <cstdio>
#include <cstring>

#include "shell/VstSynth.h"

namespace corvane {

void VstSynth::setParameter(int32_t index, float value) {
    setParameterFromEditor(index, value);
}

void VstSynth::setParameterFromEditor(int32_t index, float value) {
    if (index >= 0 && index < kStoredSlots) engine.currentPatch().slots[index] = value;
    if (index >= 0 && index < kNumSlots) engine.setParameter(index, value);
}

float VstSynth::getParameter(int32_t index) {
    if (index < 0 || index >= kStoredSlots) return 0.0f;
    return engine.currentPatch().slots[index];
}

void VstSynth::setParameterAutomated(int32_t index, float value) {
    setParameter(index, value);
    if (index >= 0 && index < kNumParams)
        callHost(vst::audioMasterAutomate, index, 0, nullptr, value);
    if (index >= 0 && index < kStoredSlots) controllerEcho(index, value);
}

void VstSynth::getParameterLabel(int32_t, char* label) {
    label[0] = 0;
}

void VstSynth::getParameterDisplay(int32_t index, char* text) {
    std::snprintf(text, 8, "%.0f %%", getParameter(index) * 100.0);
}

void VstSynth::getParameterName(int32_t, char* text) {
    text[0] = 0;
}

void VstSynth::applyArpPattern(int) {
    engine.allNotesOff(false);
}

}  // namespace corvane
