#pragma once
// The physical ranges of the slots whose 0..1 value maps onto a rate, a time, a frequency or a
// level. Each range is written here once; the parameter display and the units that apply the
// values both read it, so that the text a host shows is what the sound does.
#include "dsp/SafeMath.h"

namespace corvane {

// low * (high / low)^v for v in 0..1.
struct ExpRangeOf {
    double low;
    double high;
};

// The mapped value in the precision the caller computes in (the effects in float, the
// display and the clocks in double). `v` should already be held to 0..1.
template <typename T>
T mapped(const ExpRangeOf& range, T v) {
    return dsp::expRange(v, static_cast<T>(range.low), static_cast<T>(range.high));
}

inline constexpr ExpRangeOf kLfoFreeRateHz{0.1, 100.0};          // "LFO n Rate", not synced
inline constexpr ExpRangeOf kLfoFadeInSeconds{0.01, 10.01};      // "LFO n Fade In", less 0.01 s
inline constexpr double kLfoFadeInOffset = 0.01;                 // so that 0 means no fade
inline constexpr ExpRangeOf kArpFreeStepsPerSecond{0.1, 100.0};  // "Arp Rate", not synced
inline constexpr ExpRangeOf kPhaserRateHz{0.05, 20.0};           // "FX Phaser Rate"
inline constexpr ExpRangeOf kPhaserFreqHz{200.0, 5000.0};        // "FX Phaser Freq"
inline constexpr ExpRangeOf kReverbDecaySeconds{0.5, 10.0};      // "FX Reverb Decay"
inline constexpr ExpRangeOf kReverbLowCutHz{10.0, 1000.0};       // "FX Reverb Locut"
inline constexpr ExpRangeOf kEqFrequencyHz{10.0, 10000.0};       // "FX EQ-n Freq"
inline constexpr ExpRangeOf kEqQ{0.1, 10.0};                     // "FX EQ-n Q"
inline constexpr double kEqGainRangeDb = 20.0;                   // "FX EQ-n Gain", -20..+20 dB

// "FX Reverb Predly": whole milliseconds 0..100. The small allowance keeps a value stored as
// a float just below a step (0.29f for 29 ms) on that step.
inline int reverbPredelayMs(double v) {
    return v < 0.000001 ? 0 : dsp::truncClamp(v * 100.0 + 0.001, 0, 100);
}

}  // namespace corvane
