#include "engine/Harrow.h"

#include <cstring>

#include "shell/BuiltinPatches.h"

namespace corvane {

Harrow::Harrow() : patches(new PatchRecord[kNumPrograms]) {
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
void Harrow::noteOn(int, int) {}
void Harrow::noteOff(int) {}
void Harrow::runArpeggiator(int) {}
void Harrow::beginBlock() {}
void Harrow::renderVoices(int, float*, float*, float*, float*, int) {}
void Harrow::updateGlobalModulation() {}
void Harrow::processEffects(int, float**, const int32_t*, float) {}
void Harrow::advanceEffectPhase(int) {}
void Harrow::applyMasterGain(int, float**) {}
void Harrow::selectProgram(int program) { currentProgram = program & 127; }
void Harrow::loadFromPath(const char*) {}
void Harrow::setBankFolder(const char*) {}

}  // namespace corvane
