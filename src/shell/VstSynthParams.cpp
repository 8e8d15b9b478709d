// Parameters: the host-facing view of the current patch's slots.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "patch/BuiltinPatches.h"
#include "patch/ParamInfo.h"
#include "shell/VstSynth.h"

namespace corvane {

namespace {
// Texts written straight into a host buffer: 31 characters and the terminator, well inside
// the 64 bytes any host provides.
constexpr size_t kHostTextSize = 32;
}  // namespace

void VstSynth::setParameter(int32_t index, float value) {
    setParameterFromEditor(index, value);
    if (editor_) editor_->parameterChanged(index, value);
}

void VstSynth::editParameter(int32_t index, float value) {
    setParameterFromEditor(index, value);
    if (index >= 0 && index < kNumParams)
        callHost(vst::audioMasterAutomate, index, 0, nullptr, value);
    if (index >= 0 && index < kStoredSlots) controllerEcho(index, value);
}

// The patch keeps the value at once; the engine takes it at the start of the next block, on
// the audio thread, since applying it may rewrite voice and effect state.
void VstSynth::setParameterFromEditor(int32_t index, float value) {
    if (index < 0 || index >= kNumSlots) return;
    if (index < kStoredSlots)
        std::atomic_ref<float>(engine.currentPatch().slots[index])
            .store(value, std::memory_order_relaxed);
    engine.postParameter(index, value);
}

float VstSynth::getParameter(int32_t index) {
    if (index < 0 || index >= kStoredSlots) return 0.0f;
    return std::atomic_ref<float>(engine.currentPatch().slots[index])
        .load(std::memory_order_relaxed);
}

void VstSynth::setParameterAutomated(int32_t index, float value) {
    setParameter(index, value);
    if (index >= 0 && index < kNumParams)
        callHost(vst::audioMasterAutomate, index, 0, nullptr, value);
    if (index >= 0 && index < kStoredSlots) controllerEcho(index, value);
}

void VstSynth::getParameterLabel(int32_t, char* label) {
    if (label) label[0] = 0;
}

void VstSynth::getParameterDisplay(int32_t index, char* text) {
    if (!text) return;
    const float v = getParameter(index);
    formatParameterDisplay(index, v, displayContextOf(engine.currentPatch()), text, kHostTextSize);
}

void VstSynth::getParameterName(int32_t index, char* text) {
    if (!text) return;
    std::snprintf(text, kHostTextSize, "%s", paramInfo(index).name);
}

void VstSynth::applyArpPattern(int k) {
    engine.postAllNotesOff(false);
    if (k <= 0 || k >= kArpPresetCount) return;  // "User Pattern" keeps the patch's own
    const PatchRecord& preset = arpPreset(k);
    setParameter(125, preset.slots[125]);
    for (int slot = 319; slot >= 256; --slot)
        setParameter(slot, preset.slots[slot]);
    for (int slot : {320, 114, 71, 72, 73})
        setParameter(slot, preset.slots[slot]);
}

}  // namespace corvane
