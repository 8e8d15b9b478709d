#pragma once
// One voice record of the engine's pool, and the per-sub-block result of its modulation.
#include <cstdint>

#include "content/SampleZone.h"

namespace corvane {

constexpr int kPlayingVoices = 40;  // slots 0..39 take new notes
constexpr int kTailVoices = 8;      // slots 40..47 hold stolen voices while they fade
constexpr int kVoiceSlots = kPlayingVoices + kTailVoices;
constexpr int kSubBlockFrames = 64;   // frames rendered per voice pass at most
constexpr int kSliceTailFrames = 64;  // REX: frames of the previous slice faded under the next

enum EnvelopeStage : uint8_t {
    kStageAttack = 0,
    kStageDecay = 1,
    kStageSustain = 2,
    kStageRelease = 3
};

struct EnvelopeState {
    uint8_t stage = kStageAttack;
    float level = 0.0f;
};

struct Voice {
    int32_t active = 0;
    int32_t released = 0;     // note-off received; the envelopes run their release
    int32_t fastRelease = 0;  // a tail copy: the amplitude release is capped short
    uint32_t age = 0;         // samples rendered since note-on
    int8_t note = 0;
    int8_t velocity = 0;
    float pitch = 0.0f;        // note * 128, in 1/128 semitone
    float glideOffset = 0.0f;  // pitch still to glide, 1/128 semitone
    float randomValue = 0.0f;  // -1..+1, drawn at note-on

    // LFOs: phase accumulators (a cycle is 2^32) and sample-and-hold state.
    uint32_t lfoPhase[3] = {};
    float holdTarget[3] = {};
    float holdValue[3] = {};

    // Output ramps; a negative left gain means the voice has not rendered yet.
    float prevGainL = -1.0f;
    float prevGainR = -1.0f;
    float prevSend = 1.0f;
    float prevCutoff = -1000.0f;  // below -99: no cutoff ramp yet

    const SampleZone* zone = nullptr;  // null: the voice holds its slot but plays nothing
    double position = 0.0;             // frames into the zone being read
    // The speed last computed and the pitch difference it was computed for.
    double speed = 0.0;
    int32_t speedPitch = INT32_MIN;

    // REX loop trigger: the slice being read, its length at the tempo and the faded tail of
    // the previous slice.
    int32_t sliceIndex = 0;
    int32_t sliceEnd = 0;
    int32_t tailCount = 0;
    float tailL[kSliceTailFrames] = {};
    float tailR[kSliceTailFrames] = {};

    EnvelopeState amp;
    EnvelopeState filterEnv;
    EnvelopeState modEnv;

    // State-variable filter integrators, left and right.
    float ic1L = 0.0f, ic2L = 0.0f, ic1R = 0.0f, ic2R = 0.0f;
};

// What the modulation pass hands the rest of a voice's sub-block. The defaults are the
// values without any routing, so a voice renders correctly when nothing fills it in.
struct VoiceModulation {
    int32_t pitch = 0;         // 1/128 semitone, added to the note and the bend
    float level = 0.0f;        // amplitude scaled by (1 + max(level, -1))^2
    float levelFactor = 1.0f;  // product of the level factors
    float pan = 0.0f;          // -1 left .. +1 right, clamped by the output stage
    float send = 1.0f;         // share sent to the effect bus, clamped to 0..1
    float cutoff = 0.0f;       // added to the smoothed cutoff
    float envAmount = 0.0f;    // added to the filter envelope amount
    float keytrack = 0.0f;     // added to the filter key tracking
    // Offsets to the envelope settings: attack, decay, sustain, release.
    float ampEnv[4] = {};
    float filterEnv[4] = {};
    float modEnv[4] = {};
    int32_t hold = 0;           // amplitude hold, samples since note-on
    float lfoRate[3] = {};      // offsets to the LFO rate settings
    bool lfoRateSet[3] = {};    // some routing moves that LFO's rate
    uint32_t lfoPhase[3] = {};  // phase an LFO restarts from (voice age 0 only)
    bool lfoPhaseSet[3] = {};
    bool usesModEnv = false;  // some routing reads the modulation envelope
};

}  // namespace corvane
