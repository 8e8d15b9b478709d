#pragma once
// Settings the benchmarks share: a patch-like setting of every effect (slots 79..121, all
// switched off) and the three LFOs with eight matrix routings.
#include "engine/Harrow.h"

namespace bench {

inline constexpr float kEffectSettings[43] = {
    0.0f, 0.4f, 0.5f, 0.6f, 0.8f, 0.7f,   // phaser 79..84
    0.0f, 0.4f, 0.5f, 0.4f, 0.4f, 0.35f,  // delay 85..90
    0.0f, 0.5f, 0.6f, 0.4f, 0.2f, 0.2f,   // reverb 91..96
    0.3f, 0.6f, 0.5f, 0.7f,               // distortion 97..100
    0.0f, 0.5f, 0.5f, 0.7f, 0.0f,         // EQ-1 101..105
    0.5f, 0.8f, 0.5f, 0.3f, 0.0f,         // EQ-2 106..110
    0.0f, 0.0f, 0.0f, 0.0f, 0.0f,         // 111..115
    0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};  // on switches 116..121

// Saw, sine and sample-and-hold LFOs and eight routings of every kind of source.
inline void setLfosAndRoutings(corvane::Harrow& h) {
    const float shapes[3] = {0.0f, 2.0f / 3.0f, 1.0f};  // Saw, Sine, S+H
    for (int k = 0; k < 3; ++k) {
        h.setParameter(33 + 9 * k, shapes[k]);
        h.setParameter(34 + 9 * k, 0.4f + 0.1f * k);
        h.setParameter(35 + 9 * k, 0.5f);
    }
    struct Routing {
        int source;
        float amount;  // slot value: 0.5 is 0
        int destination;
    };
    const Routing routings[8] = {
        {1, 1.0f, 3},     // Velocity -> Volume
        {13, 0.55f, 2},   // LFO 1 -> Pitch Fine
        {14, 0.65f, 5},   // LFO 2 -> Filter Cutoff
        {15, 0.75f, 4},   // LFO 3 -> Pan
        {25, 0.6f, 6},    // Mod Env -> Filter Env
        {6, 0.525f, 88},  // Random -> Level (dB)
        {2, 0.65f, 92},   // Note # -> Filter KeyTrk
        {7, 0.35f, 86},   // Const -> FX Dry/Wet
    };
    for (int i = 0; i < 8; ++i) {
        h.setParameter(128 + i, static_cast<float>(routings[i].source));
        h.setParameter(160 + i, routings[i].amount);
        h.setParameter(192 + i, static_cast<float>(routings[i].destination));
    }
}

}  // namespace bench
