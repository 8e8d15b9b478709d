// The output stage: the effect rack, the master gain ramp and the DC blocker.
#include "engine/Harrow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "dsp/SafeMath.h"

namespace corvane {

void Harrow::processEffects(int frames, float** io, const int32_t* order, float t) {
    rack.process(frames, io, order, t, delayModulation);
}

void Harrow::advanceEffectPhase(int frames) {
    delayModulation.phase += delayModulation.phaseIncrement * static_cast<uint32_t>(frames);
}

void Harrow::applyMasterGain(int frames, float** outputs) {
    if (frames <= 0) return;
    if (lastMasterGain < 0.0f) lastMasterGain = masterGain;
    float step = (masterGain - lastMasterGain) / static_cast<float>(frames);
    step = dsp::flushSmall(step);
    for (int ch = 0; ch < 2; ++ch) {
        float* out = outputs[ch];
        float g = lastMasterGain;
        for (int i = 0; i < frames; ++i) {
            out[i] *= g;
            g += step;
        }
        if (dcBlock) {
            // One-pole high-pass at 8 Hz.
            float x1 = dcX1[ch], y1 = dcY1[ch];
            const float a = dcA, b = dcB;
            for (int i = 0; i < frames; ++i) {
                const float x = out[i];
                const float y = (x - x1) * b - y1 * a;
                x1 = x;
                y1 = y;
                out[i] = y;
            }
            dcX1[ch] = dsp::flushSmall(x1);
            dcY1[ch] = dsp::flushSmall(y1);
        }
    }
    lastMasterGain = masterGain;
}

}  // namespace corvane
