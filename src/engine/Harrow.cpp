// The engine's life cycle: construction, the sample rate and the reset.
#include "engine/Harrow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "dsp/SafeMath.h"
#include "patch/BuiltinPatches.h"

namespace corvane {

Harrow::Harrow() : patches(new PatchRecord[kNumPrograms]), rack(random), tables(new EngineTables) {
    fillPatchStore(patches.get(), kNumPrograms);
    prepare(static_cast<float>(sampleRate), dsp::kDefaultMaxBlock);
}

Harrow::~Harrow() = default;

void Harrow::prepare(float fs, int maxBlock) {
    if (!(fs > 0.0f)) return;
    setModuleSampleRate(fs);
    rack.prepare(fs, maxBlock > 0 ? maxBlock : dsp::kDefaultMaxBlock);
    // DC blocker: bilinear one-pole high-pass at 8 Hz.
    const double k = 2.0 * sampleRate;
    const double w = k * std::tan(std::numbers::pi * 8.0 / sampleRate);
    dcA = static_cast<float>((w - k) / (w + k));
    dcB = static_cast<float>(k / (w + k));
    tables->build(sampleRate);
    setModulationSampleRate();
    updateGlideCoef();
    for (Voice& v : voices)
        v.speedPitch = INT32_MIN;  // speeds depend on the host rate
}

void Harrow::reset() {
    releaseRunning = true;
    bendRaw = 0;
    bendUnit = 0.0;
    breath = foot = expression = pressure = 0.0;
    dcX1[0] = dcX1[1] = dcY1[0] = dcY1[1] = 0.0f;
    pendingGlide = 0.0f;
    rack.reset();
    cutoffSmoothed = cutoffTarget;
    for (Voice& v : voices)
        v = Voice{};
    firstNote = true;
    std::memset(heldKeys, 0, sizeof heldKeys);
    std::memset(arpHeld, 0, sizeof arpHeld);
    anyKeyDown = 0;
    lastNote = -1;
    arpClock = 0.0;
    arpNoteA = arpNoteB = -1;
    arpNoteValue = 0.0f;
    arpVelocityValue = 0.5f;
}

}  // namespace corvane
