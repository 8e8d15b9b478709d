#include "engine/Harrow.h"

#include <cstring>

#include "shell/BuiltinPatches.h"

namespace corvane {

Harrow::Harrow() : patches(new PatchRecord[kNumPrograms]), rack(random) {
    fillPatchStore(patches.get(), kNumPrograms);
}

Harrow::~Harrow() = default;

void Harrow::setSampleRate(float fs) { setModuleSampleRate(fs); }
void Harrow::reset() {}
void Harrow::allNotesOff(bool) {}
void Harrow::setParameter(int, float) {}
void Harrow::recallPatch() {
    for (int i = 0; i < kStoredSlots; ++i) setParameter(i, currentPatch().slots[i]);
}
void Harrow::applyProgram() {}
void Harrow::clearSampleMap() { map.clear(); }
void Harrow::noteOn(int, int) {}
void Harrow::noteOff(int) {}
void Harrow::runArpeggiator(int) {}
void Harrow::beginBlock() {}
void Harrow::renderVoices(int, float*, float*, float*, float*, int) {}
void Harrow::updateGlobalModulation() {}
void Harrow::processEffects(int frames, float** io, const int32_t* effectOrder, float t) {
    rack.process(frames, io, effectOrder, t, delayModulation);
}
void Harrow::advanceEffectPhase(int frames) {
    delayModulation.phase += delayModulation.phaseIncrement * static_cast<uint32_t>(frames);
}
void Harrow::applyMasterGain(int, float**) {}

}  // namespace corvane
