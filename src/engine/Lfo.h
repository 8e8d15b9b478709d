#pragma once
// The three low-frequency oscillators. Each LFO owns its settings and a 2048-point wave table
// (plus one guard entry) rebuilt whenever its shape or skew changes; every voice keeps its own
// phase and sample-and-hold state, so the LFOs of different voices run independently. The
// LFOs are evaluated once per sub-block and voice, never per sample.
#include <cstdint>

#include "dsp/Lifecycle.h"
#include "dsp/Random.h"

namespace corvane {

constexpr int kLfoCount = 3;
constexpr int kLfoTableSize = 2048;
constexpr int kLfoSyncEntries = 27;

enum LfoShape : int {
    kLfoSaw = 0,
    kLfoPulse = 1,
    kLfoSine = 2,
    kLfoSampleHold = 3,
};

// Note lengths of the tempo-synced rates, in 64th notes: dotted, straight and triplet from
// 8 bars down to 1/32.
extern const float kLfoSyncLengths[kLfoSyncEntries];

// One LFO's state inside a voice.
struct LfoVoiceState {
    uint32_t phase = 0;  // a full cycle is 2^32
    float holdTarget = 0.0f;
    float held = 0.0f;
};

class Lfo {
  public:
    // number 0 is LFO 1, whose Saw falls and whose Pulse has square edges; LFOs 2 and 3
    // (numbers 1 and 2) rise briefly before the fall and slope their pulse edges.
    explicit Lfo(int number = 0);

    // control: sample-rate change
    void prepare(double fs, int maxBlock);

    // any thread: the slot values of the LFO's six parameters
    void setShape(float v);   // int(v * 3), rebuilds the table
    void setRate(float v);    // rate recomputed
    void setSkew(float v);    // bends the table, sets the pulse width and the S+H glide
    void setFadeIn(float v);  // 0.01 * 1001^v - 0.01 seconds, off below 1 ms
    void setSync(float v);    // on above 0.00001; rate recomputed
    void setReset(float v);   // on above 0.4

    // audio: once per host block; synced rates follow the tempo and drop any modulation
    void beginBlock(double tempo);
    // audio: rate modulation of a voice pass; `setting` is the rate value plus modulation,
    // clamped to 0..1. The new rate is kept until the parameter is set again (or, synced,
    // until the next block).
    void modulateRate(float setting);

    static double freeRate(float v);                  // 0.1 .. 100 Hz
    static double syncedRate(float v, double tempo);  // tempo in BPM
    // Rate in Hz a setting gives with the current sync switch and tempo.
    double rateFor(float setting) const;
    uint32_t incrementFor(double rateHz) const;

    // Table value at a phase, interpolated between neighbouring points.
    float read(uint32_t phase) const {
        const uint32_t i = phase >> 21;
        const float f = static_cast<float>((phase >> 11) & 1023u) * (1.0f / 1024.0f);
        return table_[i] + (table_[i + 1] - table_[i]) * f;
    }
    // Table value at a phase without interpolation (the global pass reads it this way).
    float readPoint(uint32_t phase) const { return table_[phase >> 21]; }
    // Fade-in factor for a voice `age` samples old: 0..1, 1 when there is no fade.
    float fadeFactor(uint32_t age) const;
    // audio, once per sub-block and voice: the LFO's value before the fade-in (the held
    // value for S+H, which also draws and glides here). `increment` is the phase step per
    // sample this sub-block will use.
    float evaluate(uint32_t phase, float& holdTarget, float& held, uint32_t age, int frames,
                   uint32_t increment, Random& random) const;
    float evaluate(LfoVoiceState& s, uint32_t age, int frames, uint32_t increment,
                   Random& random) const {
        return evaluate(s.phase, s.holdTarget, s.held, age, frames, increment, random);
    }
    // After a sub-block (and for silent voices): the phase moves on by increment * frames.
    static void advance(uint32_t& phase, uint32_t increment, int frames) {
        phase += increment * static_cast<uint32_t>(frames);
    }
    static void advance(LfoVoiceState& s, uint32_t increment, int frames) {
        advance(s.phase, increment, frames);
    }

    int number() const { return number_; }
    int shape() const { return shape_; }
    bool synced() const { return sync_; }
    bool resetOn() const { return reset_; }
    float rateValue() const { return rateValue_; }
    double rate() const { return rate_; }
    uint32_t increment() const { return increment_; }
    float fadeSeconds() const { return fade_; }
    float holdCoefficient() const { return holdCoef_; }
    const float* table() const { return table_; }

  private:
    void rebuildTable();
    void setCurrentRate(double hz);

    int number_;
    int shape_ = kLfoSaw;
    float rateValue_ = 0.0f;
    bool sync_ = false;
    bool reset_ = false;
    float skew_ = 0.0f;
    float fade_ = 0.0f;
    double rate_ = 0.1;
    uint32_t increment_ = 0;
    double tempo_ = 120.0;
    double fs_ = 44100.0;
    float holdCoef_ = 1.0f;
    float table_[kLfoTableSize + 1] = {};
};

}  // namespace corvane
