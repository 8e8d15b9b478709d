#pragma once
// The colour filter of the nine distortion types, read by the effect and by the parameter
// display alike, so that the text shows the corner the filter runs at.
#include "dsp/SafeMath.h"

namespace corvane {

struct DistortionColourRange {
    bool lowpass;  // low-pass colour filter; otherwise high-pass
    float low;     // corner in Hz at colour 0
    float high;    // corner in Hz at colour 1
};

// By type: "LP+Crunch", "HP+Crunch", "LP+Toxic", "HP+Toxic", "LP+Valve", "HP+Valve",
// "LP Only", "HP Only", "LP+Clip". Even types low-pass, odd types high-pass.
inline constexpr DistortionColourRange kDistortionColour[9] = {
    {true, 100.0f, 20000.0f}, {false, 1.0f, 2000.0f},   {true, 100.0f, 20000.0f},
    {false, 1.0f, 2000.0f},   {true, 100.0f, 20000.0f}, {false, 1.0f, 2000.0f},
    {true, 100.0f, 20000.0f}, {false, 1.0f, 2000.0f},   {true, 100.0f, 20000.0f}};

// Any thread: the corner in Hz of the colour filter of `type` (held to 0..8) at colour
// 0..1, computed exactly as the effect computes it.
inline float distortionColourHz(int type, float colour) {
    const DistortionColourRange& r = kDistortionColour[dsp::safeClamp(type, 0, 8)];
    return dsp::expRange(dsp::unitClamp(colour), r.low, r.high);
}

}  // namespace corvane
