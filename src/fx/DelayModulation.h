#pragma once
#include <cstdint>

namespace corvane {

// What the engine's global modulation pass hands the delay once per block: the global
// LFO 2 (phase, increment per sample, wave table) and the modulation depth.
struct DelayModulation {
    uint32_t phaseIncrement = 0;
    uint32_t phase = 0;
    const float* lfoTable = nullptr;  // 2048 points plus a guard entry
    float depth = 0.0f;
};

}  // namespace corvane
