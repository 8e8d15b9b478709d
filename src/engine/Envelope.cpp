#include "engine/Envelope.h"

#include <algorithm>

namespace corvane {
namespace {

int index(float setting, float offset) {
    return EngineTables::envIndex(setting + offset);
}

float sustainLevel(float setting, float offset) {
    return std::max(setting + offset, 0.0f);
}

// A tail copy must be gone within a few milliseconds whatever the release setting says:
// index 100 reaches a tenth in about 4.9 ms.
constexpr int kFastReleaseIndex = 100;

}  // namespace

AmpEnvelopeCoefs ampEnvelopeCoefs(const EngineTables& t, const EnvelopeSettings& s,
                                  const float* offsets, int32_t hold, bool fastRelease,
                                  bool pedalDown) {
    AmpEnvelopeCoefs c;
    const int a = index(s.attack, offsets[0]);
    c.attack = a < 1 ? 0.0f : t.envTime[a];
    c.decay = t.envTime[index(s.decay, offsets[1])];
    c.sustain = sustainLevel(s.sustain, offsets[2]);
    int r = index(s.release, offsets[3]);
    if (fastRelease) r = std::min(r, kFastReleaseIndex);
    c.release = pedalDown ? 1.0f : t.envTime[r];
    c.hold = hold > 0 ? static_cast<uint32_t>(hold) : 0u;
    return c;
}

FilterEnvelopeCoefs filterEnvelopeCoefs(const EngineTables& t, const EnvelopeSettings& s,
                                        const float* offsets, bool pedalDown) {
    FilterEnvelopeCoefs c;
    c.attack = t.envTime[index(s.attack, offsets[0])];
    c.decay = t.envTime[index(s.decay, offsets[1])];
    c.sustain = sustainLevel(s.sustain, offsets[2]);
    c.release = pedalDown ? 1.0f : t.envTime[index(s.release, offsets[3])];
    return c;
}

ModEnvelopeCoefs modEnvelopeCoefs(const EngineTables& t, const EnvelopeSettings& s,
                                  const float* offsets, bool pedalDown) {
    ModEnvelopeCoefs c;
    const float attack = s.attack + offsets[0];
    const int a = EngineTables::envIndex(attack);
    c.instant = attack < 0.00001f || a < 1;
    c.attackStep = a < 1 ? 0.0f : t.envRate[a];
    c.decay = t.envTime[index(s.decay, offsets[1])];
    c.sustain = sustainLevel(s.sustain, offsets[2]);
    if (c.sustain > 0.9999f) c.sustain = 1.00001f;  // a full sustain holds the peak exactly
    const int r = index(s.release, offsets[3]);
    c.release = (pedalDown || r >= 1024) ? 1.0f : t.envTime[r];
    return c;
}

// Every sample is scaled by the level before the level moves on, so a timed attack starts
// from silence. An instant attack (setting index 0) is the exception: the level jumps to full
// scale before the first sample, so the note's first sample already plays at full level
// rather than one sample late.
void runAmpEnvelope(EnvelopeState& s, const AmpEnvelopeCoefs& c, uint32_t age, int n, float* env) {
    float level = s.level;
    uint8_t stage = s.stage;
    int i = 0;
    if (stage == kStageAttack) {
        if (c.attack == 0.0f) {
            level = 1.0f;
            stage = kStageDecay;
        } else {
            // The attack runs towards 1 and hands over to the decay at 0.9.
            float r = 1.0f - level;
            while (i < n) {
                env[i++] = level;
                r *= c.attack;
                level = 1.0f - r;
                if (level >= 0.9f) {
                    stage = kStageDecay;
                    break;
                }
            }
        }
    }
    if (i < n && c.hold > age + static_cast<uint32_t>(i)) {
        const uint32_t wait = c.hold - (age + static_cast<uint32_t>(i));
        const int k = wait < static_cast<uint32_t>(n - i) ? static_cast<int>(wait) : n - i;
        std::fill(env + i, env + i + k, level);
        i += k;
    }
    if (stage == kStageDecay) {
        while (i < n) {
            env[i++] = level;
            if (level < c.sustain) {
                stage = kStageSustain;
                break;
            }
            level *= c.decay;
        }
    }
    if (stage == kStageRelease) {
        const float f = c.release;
        for (; i < n; ++i) {
            env[i] = level;
            level *= f;
        }
    }
    std::fill(env + i, env + n, level);  // sustain: the level holds
    s.level = level;
    s.stage = stage;
}

// An instant attack jumps to 1 whatever the voice's age: with a zero attack step the level
// could otherwise never leave 0 once the voice has rendered without the envelope.
void runModEnvelope(EnvelopeState& s, const ModEnvelopeCoefs& c, int n) {
    float level = s.level;
    uint8_t stage = s.stage;
    int i = 0;
    if (stage == kStageAttack) {
        if (c.instant) {
            level = 1.0f;
            stage = kStageDecay;
        } else {
            while (i < n) {
                ++i;
                level += c.attackStep;
                if (level >= 1.0f) {
                    level = 1.0f;
                    stage = kStageDecay;
                    break;
                }
            }
        }
    }
    // A level the factor no longer moves (0, or a release held by the pedal) stays where it
    // is: the remaining steps are skipped.
    if (stage == kStageDecay) {
        if (level * c.decay == level) {
            if (i < n && level < c.sustain) stage = kStageSustain;
        } else {
            for (; i < n; ++i) {
                if (level < c.sustain) {
                    stage = kStageSustain;
                    break;
                }
                level *= c.decay;
            }
        }
    } else if (stage == kStageRelease && level * c.release != level) {
        for (; i < n; ++i)
            level *= c.release;
    }
    s.level = (level < 1e-8f && level > -1e-8f) ? 0.0f : level;
    s.stage = stage;
}

}  // namespace corvane
