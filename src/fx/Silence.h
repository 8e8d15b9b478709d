#pragma once
// The effects' test for a silent block: both channels hold nothing but +0.0. An effect whose
// state is at rest turns such a block into the same silence, so it may skip the block and only
// advance what moves on without input (LFO phases, write positions).
#include <cstdint>
#include <cstring>

namespace corvane {

inline bool isSilentBlock(const float* left, const float* right, int frames) {
    uint32_t bits = 0;
    for (int i = 0; i < frames; ++i) {
        uint32_t l, r;
        std::memcpy(&l, left + i, sizeof l);
        std::memcpy(&r, right + i, sizeof r);
        bits |= l | r;
    }
    return bits == 0;
}

}  // namespace corvane
