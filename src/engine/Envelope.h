#pragma once
// The three envelopes of a voice: multiplicative one-pole curves whose per-sample factors
// are looked up once per sub-block, so no exponential runs per sample.
#include <cstdint>

#include "engine/EngineTables.h"
#include "engine/Voice.h"

namespace corvane {

// Parameter values of one envelope (0..1; the sustain already squared).
struct EnvelopeSettings {
    float attack = 0.0f;
    float decay = 0.0f;
    float sustain = 0.0f;
    float release = 0.0f;
};

struct AmpEnvelopeCoefs {
    float attack;  // 0: instant attack
    float decay;
    float sustain;
    float release;  // 1.0 while the sustain pedal is down
    uint32_t hold;  // stages after the attack wait until the voice's age reaches it
};

struct FilterEnvelopeCoefs {
    float attack;
    float decay;
    float sustain;
    float release;
};

struct ModEnvelopeCoefs {
    float attackStep;  // 0 for an instant attack
    float decay;
    float sustain;
    float release;
    bool instant;
};

AmpEnvelopeCoefs ampEnvelopeCoefs(const EngineTables& t, const EnvelopeSettings& s,
                                  const float* offsets, int32_t hold, bool fastRelease,
                                  bool pedalDown);
FilterEnvelopeCoefs filterEnvelopeCoefs(const EngineTables& t, const EnvelopeSettings& s,
                                        const float* offsets, bool pedalDown);
ModEnvelopeCoefs modEnvelopeCoefs(const EngineTables& t, const EnvelopeSettings& s,
                                  const float* offsets, bool pedalDown);

// Runs the amplitude envelope over n samples: env[i] receives the level that scales sample
// i (taken before the level moves on). `age` is the voice's age at the first sample.
void runAmpEnvelope(EnvelopeState& s, const AmpEnvelopeCoefs& c, uint32_t age, int n, float* env);

// Advances the modulation envelope over n samples (its level is read by the matrix at the
// start of the next sub-block). Levels below 1e-8 become 0 afterwards.
void runModEnvelope(EnvelopeState& s, const ModEnvelopeCoefs& c, int n);

// The filter envelope, one sample at a time inside the filter loop:
//   FilterEnvelopeRun run(voice.filterEnv, coefs);
//   for (...) { const float e = run.next(); ... }
//   run.finish();
class FilterEnvelopeRun {
  public:
    FilterEnvelopeRun(EnvelopeState& s, const FilterEnvelopeCoefs& c)
        : s_(s), c_(c), level_(s.level), r_(1.0f - s.level), stage_(s.stage) {}

    float next() {
        switch (stage_) {
            case kStageAttack:
                r_ *= c_.attack;
                level_ = 1.0f - r_;
                if (level_ >= 0.9f) stage_ = kStageDecay;
                break;
            case kStageDecay:
                if (level_ > c_.sustain)
                    level_ *= c_.decay;
                else
                    stage_ = kStageSustain;
                break;
            case kStageSustain:
                break;
            default:
                level_ *= c_.release;
                break;
        }
        return level_;
    }

    // n calls of next() at once, writing each level: every stage runs in its own loop, and
    // a level that no longer moves (sustain, a release at 0 or held by the pedal) is copied.
    void run(float* levels, int n) {
        int i = 0;
        if (stage_ == kStageAttack) {
            while (i < n) {
                r_ *= c_.attack;
                level_ = 1.0f - r_;
                levels[i++] = level_;
                if (level_ >= 0.9f) {
                    stage_ = kStageDecay;
                    break;
                }
            }
        }
        if (stage_ == kStageDecay) {
            while (i < n) {
                if (!(level_ > c_.sustain)) {
                    stage_ = kStageSustain;
                    break;
                }
                level_ *= c_.decay;
                levels[i++] = level_;
            }
        } else if (stage_ > kStageSustain && level_ * c_.release != level_) {
            for (; i < n; ++i) {
                level_ *= c_.release;
                levels[i] = level_;
            }
        }
        for (; i < n; ++i)
            levels[i] = level_;
    }

    // Stores the state back; a level below 1e-8 becomes 0.
    void finish() {
        s_.level = (level_ < 1e-8f && level_ > -1e-8f) ? 0.0f : level_;
        s_.stage = stage_;
    }

  private:
    EnvelopeState& s_;
    FilterEnvelopeCoefs c_;
    float level_;
    float r_;
    uint8_t stage_;
};

}  // namespace corvane
