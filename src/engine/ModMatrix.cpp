#include "engine/ModMatrix.h"

#include <algorithm>
#include <cmath>

#include "dsp/SafeMath.h"

namespace corvane {

const uint8_t kModSourceMenu[kModSourceMenuSize] = {
    kSrcOff,
    kSrcVelocity,
    kSrcNote,
    kSrcModWheel,
    kSrcPitchWheel,
    kSrcAftertouch,
    kSrcConst,
    kSrcRandom,
    kSrcArpNote,
    kSrcArpVelocity,
    kSrcFoot,
    kSrcExpression,
    13,
    14,
    15,
    16,
    17,
    18,
    19,
    20,
    21,
    kSrcModEnv,
    kSrcFilterEnv,
    kSrcAmpEnv,
};

const char* const kModSourceLabels[kModSourceMenuSize] = {
    "---",      "Velocity", "Note #",  "MWheel",  "PWheel",  "ATouch",  "Const",      "Random",
    "Arp Note", "Arp Vel",  "Foot",    "Expr",    "LFO 1",   "LFO 2",   "LFO 3",      "LFO1*MW",
    "LFO2*MW",  "LFO3*MW",  "LFO1*AT", "LFO2*AT", "LFO3*AT", "Mod Env", "Filter Env", "Amp Env",
};

const uint8_t kModDestinationMenu[kModDestinationMenuSize] = {
    kDstNone,
    57,
    58,
    59,
    60,
    kDstFilterCutoff,
    kDstFilterReso,
    kDstFilterEnv,
    kDstFilterKeyTrack,
    21,
    22,
    23,
    24,
    kDstAmpAttack,
    kDstAmpHold,
    18,
    19,
    20,
    kDstWheelCurve,
    kDstVelocityCurve,
    34,
    35,
    36,
    43,
    44,
    45,
    kDstPitchSemi,
    kDstPitchFine,
    kDstFxSend,
    kDstPan,
    kDstLevelDb,
    kDstVolume,
};

const char* const kModDestinationLabels[kModDestinationMenuSize] = {
    "---",           "Mod Attack",     "Mod Decay",      "Mod Sustain",   "Mod Relase",
    "Filter Cutoff", "Filter Reso",    "Filter Env",     "Filter KeyTrk", "Filter Attack",
    "Filter Decay",  "Filter Sustain", "Filter Release", "Amp Attack",    "Amp Hold",
    "Amp Decay",     "Amp Sustain",    "Amp Release",    "MWheel Curve",  "Velocity Curve",
    "LFO 1 Rate",    "LFO 2 Rate",     "LFO 3 Rate",     "LFO 1 Phase",   "LFO 2 Phase",
    "LFO 3 Phase",   "Pitch Semi",     "Pitch Fine",     "FX Dry/Wet",    "Pan",
    "Level (dB)",    "Volume",
};

bool modSourceIsUnipolar(int code) {
    switch (code) {
        case kSrcModWheel:
        case kSrcArpVelocity:
        case kSrcBreath:
        case kSrcFoot:
        case kSrcExpression:
        case kSrcAmpEnv:
        case kSrcFilterEnv:
        case kSrcModEnv:
            return true;
        default:
            return false;
    }
}

void ModCurve::setKnee(double x) {
    knee = static_cast<float>(x);
    s1 = static_cast<float>((1.0 - x) / x);
    s2 = static_cast<float>(x / (1.0 - x));
    inUse = true;
}

namespace {

constexpr float kLog2Of10 = 3.32192809f;  // 10^y = 2^(y log2 10)

// Raw codes arrive as plain numbers; anything outside a byte is no code at all.
uint8_t codeOf(float raw) {
    const float c = raw + 0.1f;
    if (!(c >= 0.0f) || c >= 256.0f) return 0;
    return static_cast<uint8_t>(c);
}

int32_t truncToInt(double x) {
    if (!(x > -2147483648.0)) return x != x ? 0 : INT32_MIN;
    if (x >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(x);
}

// Phase set by "LFO n Phase": trunc(k * 2^32), wrapped into the 32-bit cycle.
uint32_t phaseOf(double k) {
    const double p = std::trunc(k * 4294967296.0);
    if (!std::isfinite(p)) return 0;
    return static_cast<uint32_t>(static_cast<int64_t>(std::fmod(p, 4294967296.0)));
}

}  // namespace

void ModMatrix::clear() {
    for (int s = 0; s < kModSlots; ++s) {
        source_[s] = kSrcOff;
        destination_[s] = kDstNone;
        amount_[s] = 0.0;
        steps_[s] = 0;
    }
    count_ = 0;
    wheelCurve = ModCurve();
    velocityCurve = ModCurve();
    breathCurve = ModCurve();
    rebuildActive();
}

void ModMatrix::rebuildActive() {
    int n = 0;
    bool routed = false, usesModEnv = false;
    uint8_t lfos = 0;
    for (int s = std::min(count_, kModSlots) - 1; s >= 0; --s) {
        const int src = source_[s];
        if (src == kSrcOff) continue;
        routed = true;
        if (src == kSrcModEnv) usesModEnv = true;
        if (destination_[s] == kDstNone) continue;
        if (src >= 13 && src <= 21) lfos |= static_cast<uint8_t>(1u << ((src - 13) % 3));
        active_[n++] = static_cast<uint8_t>(s);
    }
    activeCount_ = n;
    routed_ = routed;
    usesModEnv_ = usesModEnv;
    lfosRead_ = lfos;
}

bool ModMatrix::setParameter(int index, float value) {
    if (index >= kModSourceSlot && index < kModSourceSlot + kModSlots) {
        setSource(index - kModSourceSlot, value);
    } else if (index >= kModAmountSlot && index < kModAmountSlot + kModSlots) {
        setAmount(index - kModAmountSlot, value);
    } else if (index >= kModDestinationSlot && index < kModDestinationSlot + kModSlots) {
        setDestination(index - kModDestinationSlot, value);
    } else {
        return false;
    }
    return true;
}

void ModMatrix::setSource(int slot, float raw) {
    if (slot < 0 || slot >= kModSlots) return;
    source_[slot] = codeOf(raw);
    rebuildActive();
}

void ModMatrix::setDestination(int slot, float raw) {
    if (slot < 0 || slot >= kModSlots) return;
    destination_[slot] = codeOf(raw);
    rebuildActive();
}

void ModMatrix::setAmount(int slot, float v) {
    if (slot < 0 || slot >= kModSlots) return;
    // hundredths, kept as an integer so that "Pitch Semi" counts whole semitones exactly
    double h = (2.0 * static_cast<double>(v) - 1.0) * 100.0;
    if (!std::isfinite(h)) h = 0.0;
    const int32_t steps = static_cast<int32_t>(std::clamp(h, -1.0e6, 1.0e6));
    steps_[slot] = steps;
    amount_[slot] = steps / 100.0;
    if (slot + 1 > count_) count_ = slot + 1;
    rebuildActive();
}

float ModMatrix::voiceSource(int code, const ModVoiceSources& v, const ModGlobals& g) const {
    switch (code) {
        case kSrcVelocity: {
            float y = static_cast<float>(v.velocity) / 128.0f;
            if (velocityCurve.inUse) y = velocityCurve.apply(y);
            return (y - 0.5f) * 2.0f;
        }
        case kSrcNote:
            return (v.pitch - 7680.0f) / 7680.0f;
        case kSrcModWheel: {
            float w = static_cast<float>(g.modWheel);
            if (wheelCurve.inUse) w = wheelCurve.apply(w);
            return dsp::unitClamp(w);
        }
        case kSrcPitchWheel:
            return static_cast<float>(g.bend);
        case kSrcAftertouch:
            return static_cast<float>(g.pressure);
        case kSrcRandom:
            return v.randomValue;
        case kSrcConst:
            return 1.0f;
        case kSrcArpNote:
            return v.arpNote;
        case kSrcArpVelocity:
            return v.arpVelocity;
        case kSrcBreath: {
            const float b = static_cast<float>(g.breath);
            return breathCurve.inUse ? breathCurve.apply(b) : b;
        }
        case kSrcFoot:
            return static_cast<float>(g.foot);
        case kSrcExpression:
            return static_cast<float>(g.expression);
        case 13:
        case 14:
        case 15:
            return v.lfo[code - 13];
        case 16:
        case 17:
        case 18:
            return v.lfo[code - 16] * static_cast<float>(g.modWheel);
        case 19:
        case 20:
        case 21:
            return v.lfo[code - 19] * static_cast<float>(g.pressure);
        case kSrcAmpEnv:
            return v.ampEnv;
        case kSrcFilterEnv:
            return v.filterEnv;
        case kSrcModEnv:
            return v.modEnv;
        default:
            return NAN;  // no such source
    }
}

void ModMatrix::voicePass(const ModVoiceSources& v, const ModGlobals& g,
                          VoiceModulation& out) const {
    if (usesModEnv_) out.usesModEnv = true;
    double pitch = 0.0;
    double hold = 0.0;
    for (int i = 0; i < activeCount_; ++i) {
        const int s = active_[i];
        const int src = source_[s];
        const int dst = destination_[s];
        const float value = voiceSource(src, v, g);
        if (std::isnan(value)) continue;  // unknown code: the slot does nothing
        const double x = value;
        const double a = amount_[s];
        const double k = x * a;
        switch (dst) {
            case kDstPitchSemi:
                if (src == kSrcArpNote) {
                    pitch += (std::trunc(x * 128.0) - 1.0) * 128.0;
                } else {
                    pitch += std::trunc(x * 128.0 * steps_[s]);
                }
                break;
            case kDstPitchFine:
                pitch += std::trunc(k * 128.0);
                break;
            case kDstVolume:
                out.level += static_cast<float>(k);
                break;
            case kDstPan:
                out.pan += static_cast<float>(modSourceIsUnipolar(src) ? (2.0 * x - 1.0) * a : k);
                break;
            case kDstFilterCutoff:
                out.cutoff += static_cast<float>(k * std::fabs(a));
                break;
            case kDstFilterEnv:
                out.envAmount += static_cast<float>(k * std::fabs(a));
                break;
            case kDstFilterKeyTrack:
                out.keytrack += static_cast<float>(k);
                break;
            case 17:
                out.ampEnv[0] += static_cast<float>(k);
                break;
            case 18:
                out.ampEnv[1] += static_cast<float>(k);
                break;
            case 19:
                out.ampEnv[2] += static_cast<float>(k);
                break;
            case 20:
                out.ampEnv[3] += static_cast<float>(k);
                break;
            case 21:
                out.filterEnv[0] += static_cast<float>(k);
                break;
            case 22:
                out.filterEnv[1] += static_cast<float>(k);
                break;
            case 23:
                out.filterEnv[2] += static_cast<float>(k);
                break;
            case 24:
                out.filterEnv[3] += static_cast<float>(k);
                break;
            case 57:
                out.modEnv[0] += static_cast<float>(k);
                break;
            case 58:
                out.modEnv[1] += static_cast<float>(k);
                break;
            case 59:
                out.modEnv[2] += static_cast<float>(k);
                break;
            case 60:
                out.modEnv[3] += static_cast<float>(k);
                break;
            case kDstAmpHold:
                hold += std::trunc(k * g.sampleRate * 0.1);
                if (hold < 0.0) hold = 0.0;
                break;
            case 34:
            case 35:
            case 36:
                out.lfoRate[dst - 34] += static_cast<float>(k);
                out.lfoRateSet[dst - 34] = true;
                break;
            case 43:
            case 44:
            case 45:
                if (v.age == 0) {
                    out.lfoPhase[dst - 43] = phaseOf(k);
                    out.lfoPhaseSet[dst - 43] = true;
                }
                break;
            case kDstFxSend:
                out.send += static_cast<float>(k);
                break;
            case kDstLevelDb:
                out.levelFactor *=
                    std::exp2(static_cast<float>(std::min(0.9, 5.0 * k)) * kLog2Of10);
                break;
            default:
                break;  // "Filter Reso", the global-only codes and unknown codes
        }
    }
    out.pitch = truncToInt(pitch);
    out.hold = truncToInt(hold);
}

void ModMatrix::globalPass(const ModVoiceSources& voice0, const ModGlobals& g, bool noteStarted,
                           GlobalModulation& out) {
    out = GlobalModulation();
    double value = 0.0;  // a source without a global value reuses the previous slot's value
    for (int s = count_ - 1; s >= 0; --s) {
        const int src = source_[s];
        if (src == kSrcOff) continue;
        switch (src) {
            case kSrcModWheel:
                value = g.modWheel;
                break;
            case kSrcPitchWheel:
                value = g.bend;
                break;
            case kSrcAftertouch:
                value = g.pressure;
                break;
            case kSrcBreath:
                value = g.breath;
                break;
            case kSrcFoot:
                value = g.foot;
                break;
            case kSrcExpression:
                value = g.expression;
                break;
            case kSrcConst:
                value = 1.0;
                break;
            case kSrcArpVelocity:
                value = g.arpVelocity;
                break;
            case kSrcRandom:
                value = voice0.randomValue;
                break;
            case 13:
            case 14:
            case 15:
                value = voice0.lfo[src - 13];
                break;
            case kSrcAmpEnv:
                value = voice0.ampEnv;
                break;
            case kSrcFilterEnv:
                value = voice0.filterEnv;
                break;
            case kSrcModEnv:
                value = voice0.modEnv;
                break;
            default:
                break;
        }
        const double a = amount_[s];
        switch (destination_[s]) {
            case kDstWheelCurve:
            case kDstVelocityCurve:
            case kDstBreathCurve: {
                const double x = dsp::safeClamp(value * a * 0.5 + 0.5, 0.01, 0.99);
                ModCurve& c = destination_[s] == kDstWheelCurve      ? wheelCurve
                              : destination_[s] == kDstVelocityCurve ? velocityCurve
                                                                     : breathCurve;
                c.setKnee(x);
                break;
            }
            case 35:
                out.lfo2Rate += static_cast<float>(value * a);
                out.lfo2RateSet = true;
                break;
            case 44:
                if (noteStarted) {
                    out.lfo2Phase = phaseOf(value * a);
                    out.lfo2PhaseSet = true;
                }
                break;
            case kDstDelayDepth:
                out.delayDepth += static_cast<float>(value * a * a * a * a);
                break;
            default:
                break;
        }
    }
}

}  // namespace corvane
