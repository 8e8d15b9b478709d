#pragma once
// Every DSP unit (effects, their delay lines, the LFOs, the rack, the engine) has the same
// life cycle:
//   prepare(sampleRate, maxBlock)   control, while the audio thread is stopped: sizes, tables
//                                   and coefficients for this rate;
//   reset()                         silences the state and keeps the settings;
//   process(...) noexcept           audio: allocates nothing, takes no lock, never waits.
// maxBlock is the most frames one process() call gets; units that work in fixed chunks of
// their own do not need it.

namespace dsp {

// The block size units assume until a host says otherwise.
inline constexpr int kDefaultMaxBlock = 4096;

}  // namespace dsp
