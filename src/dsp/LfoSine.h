#pragma once

namespace corvane {

// The process-wide sine table read by the phaser, the reverb's output diffusers and the
// modulation code: 2049 floats, entry i = 0.999 * sin(2 pi i / 2048), the last entry closing
// the period. Index it with the top 11 bits of a 32-bit phase (phase >> 21).
// Any thread; the table is built on first use and never changes.
const float* lfoSine();

inline constexpr int kLfoSineSize = 2049;

}  // namespace corvane
