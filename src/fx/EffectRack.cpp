#include "fx/EffectRack.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/SafeMath.h"
#include "fx/DistortionCurves.h"
#include "fx/Silence.h"
#include "patch/DistortionColour.h"
#include "patch/ParamRanges.h"

namespace corvane {

namespace {

constexpr int32_t kDefaultOrder[6] = {0, 1, 2, 3, 4, 5};
// Index of an effect's on flag in fxOn_ (phaser, delay, reverb, distortion, EQ-1, EQ-2).
constexpr int kOnFlag[6] = {3, 4, 5, 0, 1, 2};

// Shaper families of the nine distortion types.
enum Family { kCrunch, kToxic, kValve, kPlain, kClip };

}  // namespace

EffectRack::EffectRack(Random& random) : reverb(random) {
    prepare(44100.0, dsp::kDefaultMaxBlock);
}

void EffectRack::prepare(double sr, int maxBlock) {
    filters_.setModuleSampleRate(sr);
    phaser.prepare(sr, maxBlock);
    delay.prepare(sr, maxBlock);
    reverb.prepare(sr, maxBlock);
}

void EffectRack::reset() {
    phaser.reset();
    delay.reset();
    reverb.reset();
    for (DistortionState& s : distState_)
        s = DistortionState{};
    for (Band& b : bands_)
        for (EqState& s : b.state)
            s = EqState{};
    dryGain_ = -1.0f;
}

bool EffectRack::isOn(int effect) const {
    return effect >= 0 && effect < kEffectCount && fxOn_[kOnFlag[effect]] != 0;
}

void EffectRack::setParameter(int index, float value) {
    const float v = dsp::unitClamp(value);
    static constexpr int kPhaserIndex[6] = {5, 0, 1, 2, 3, 4};  // slots 79..84
    static constexpr int kDelayIndex[6] = {0, 6, 1, 7, 2, 3};   // slots 85..90
    static constexpr int kReverbIndex[6] = {0, 2, 1, 8, 4, 5};  // slots 91..96
    if (index >= 79 && index <= 84) {
        phaser.setParameter(kPhaserIndex[index - 79], v);
    } else if (index >= 85 && index <= 90) {
        delay.setParameter(kDelayIndex[index - 85], v);
    } else if (index >= 91 && index <= 96) {
        reverb.setParameter(kReverbIndex[index - 91], v);
    } else if (index == 97) {
        distType_ = dsp::toIndex(v * 8.0f, 9);
    } else if (index == 98) {
        distColour_ = v;
    } else if (index == 99) {
        distDrive_ = v;
    } else if (index == 100) {
        distAmount_ = v;
    } else if ((index >= 101 && index <= 104) || (index >= 106 && index <= 109)) {
        Band& b = bands_[index >= 106 ? 1 : 0];
        switch ((index - 101) % 5) {
            case 0:
                b.type = dsp::toIndex(v * 2.01f, 3);
                break;
            case 1:
                b.frequency = mapped(kEqFrequencyHz, v);
                break;
            case 2:
                b.q = mapped(kEqQ, v);
                break;
            case 3:
                b.gain =
                    std::pow(10.0f, (2.0f * v - 1.0f) * static_cast<float>(kEqGainRangeDb / 20.0));
                break;
            default:
                break;
        }
    } else if (index >= 116 && index <= 121) {
        fxOn_[index - 116] = v > 0.001f ? 1 : 0;
    }
}

// The curve of the crunch, toxic and valve families, four samples at a time.
template <int kFamily>
inline curves::Float4 EffectRack::shape4(curves::Float4 x, const DistortionCoefs& c) {
    const float g = c.g;
    if constexpr (kFamily == kCrunch) {
        return curves::tanhFast(g * x) * c.s;
    } else if constexpr (kFamily == kToxic) {
        // Odd-symmetric: 0.25 (1 - (1 - |x|) 10^(-G |x|)) with the sign of x.
        return curves::copysign4(curves::toxic(curves::abs4(x), g), x);
    } else {
        return curves::valve(g * x + 0.25f) / g;
    }
}

// The shaper of the crunch, toxic, valve and plain families, ahead of their filters.
template <int kFamily>
inline float EffectRack::shape(float x, const DistortionCoefs& c) {
    if constexpr (kFamily == kPlain) {
        return c.g * x;
    } else {
        return shape4<kFamily>(curves::splat(x), c)[0];
    }
}

// The filters after the shaper: the colour stage, and for all but crunch a second one.
template <int kFamily>
inline float EffectRack::filterShaped(float u, DistortionState& st, const DistortionCoefs& c) {
    const float a1 = c.a1, b0 = c.b0, b1 = c.b1;
    const float y = b0 * u + b1 * st.s1 - a1 * st.y1;
    st.s1 = u;
    st.y1 = y;
    if constexpr (kFamily == kCrunch) {
        return y;
    } else {
        const float z = b0 * y + b1 * st.s2 - a1 * st.y2;
        st.s2 = y;
        st.y2 = z;
        return z;
    }
}

// One channel's sample through the shaper and filters of a family.
template <int kFamily>
inline float EffectRack::distortSample(float x, DistortionState& st, const DistortionCoefs& c) {
    if constexpr (kFamily == kClip) {
        const float a1 = c.a1, b0 = c.b0, b1 = c.b1, g = c.g;
        const float y = b0 * x + b1 * st.s1 - a1 * st.y1;
        st.s1 = x;
        st.y1 = y;
        // Only positive excursions are shaped; negative ones pass linearly.
        float t = g * y;
        if (t > 1.0f / 3.0f) {
            const float e = 2.0f - 3.0f * t;
            t = t < 2.0f / 3.0f ? (3.0f - e * e) / 6.0f : 0.5f;
        }
        t = t / g;
        const float z = c.dcB0 * (t - st.s2) - c.dcA1 * st.y2;
        st.s2 = t;
        st.y2 = z;
        return z;
    } else {
        return filterShaped<kFamily>(shape<kFamily>(x, c), st, c);
    }
}

// Both channels in one loop, so that their filter chains overlap. The curves of a chunk are
// computed ahead of the filters in a loop of their own, which runs in vector lanes.
template <int kFamily>
void EffectRack::runDistortion(float** io, const DistortionCoefs& c, float dryStep, float wetStep,
                               int frames) {
    constexpr bool kCurved = kFamily == kCrunch || kFamily == kToxic || kFamily == kValve;
    constexpr int kChunk = 256;
    float* left = io[0];
    float* right = io[1];
    DistortionState sl = distState_[0], sr = distState_[1];
    float dry = dryGain_, wet = wetGain_;
    alignas(16) float ul[kCurved ? kChunk : 4], ur[kCurved ? kChunk : 4];
    for (int start = 0; start < frames; start += kChunk) {
        const int n = std::min(kChunk, frames - start);
        float* bl = left + start;
        float* br = right + start;
        if constexpr (kCurved) {
            for (int i = 0; i < n; i += 4) {
                // The last group may reach past the chunk's end: its extra lanes shape zeros
                // that nothing reads.
                curves::Float4 xl = {}, xr = {};
                const int lanes = std::min(4, n - i);
                std::memcpy(&xl, bl + i, sizeof(float) * static_cast<size_t>(lanes));
                std::memcpy(&xr, br + i, sizeof(float) * static_cast<size_t>(lanes));
                const curves::Float4 yl = shape4<kFamily>(xl, c);
                const curves::Float4 yr = shape4<kFamily>(xr, c);
                std::memcpy(ul + i, &yl, sizeof yl);
                std::memcpy(ur + i, &yr, sizeof yr);
            }
        }
        for (int i = 0; i < n; ++i) {
            const float xl = bl[i], xr = br[i];
            float ol, orr;
            if constexpr (kCurved) {
                ol = filterShaped<kFamily>(ul[i], sl, c);
                orr = filterShaped<kFamily>(ur[i], sr, c);
            } else {
                ol = distortSample<kFamily>(xl, sl, c);
                orr = distortSample<kFamily>(xr, sr, c);
            }
            bl[i] = xl * dry + ol * wet;
            br[i] = xr * dry + orr * wet;
            dry += dryStep;
            wet += wetStep;
        }
    }
    for (DistortionState* st : {&sl, &sr}) {
        st->s1 = dsp::flushSmall(st->s1);
        st->y1 = dsp::flushSmall(st->y1);
        st->s2 = dsp::flushSmall(st->s2);
        st->y2 = dsp::flushSmall(st->y2);
    }
    distState_[0] = sl;
    distState_[1] = sr;
}

// Rest needs the state at 0 and a silent sample to come out silent from there, which keeps
// the state at 0 (the valve curve passes exactly through 0).
template <int kFamily>
bool EffectRack::distortionRests(const DistortionCoefs& c) const {
    for (const DistortionState& s : distState_) {
        if (s.s1 != 0.0f || s.y1 != 0.0f) return false;
        if (kFamily != kCrunch && (s.s2 != 0.0f || s.y2 != 0.0f)) return false;
    }
    DistortionState st;
    const float y = distortSample<kFamily>(0.0f, st, c);
    return y == 0.0f && st.s1 == 0.0f && st.y1 == 0.0f && st.s2 == 0.0f && st.y2 == 0.0f;
}

void EffectRack::setIdleSkipping(bool on) {
    idleSkipping_ = on;
    phaser.setIdleSkipping(on);
    delay.setIdleSkipping(on);
}

bool EffectRack::rested(int effect) const {
    switch (effect) {
        case kDistortion:
        case kEq1:
        case kEq2:
            return rested_[effect];
        case kPhaser:
            return phaser.rested();
        case kDelay:
            return delay.rested();
        case kReverb:
            return reverb.gated();
        default:
            return false;
    }
}

void EffectRack::processDistortion(int frames, float** io) {
    distortBlock(frames, io, false);
}

void EffectRack::distortBlock(int frames, float** io, bool maySkip) {
    if (frames <= 0) return;
    const int type = distType_;
    const float colour = distColour_, drive = distDrive_, amount = distAmount_;
    DistortionCoefs c{0.0f, 1.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f};
    if (kDistortionColour[type].lowpass) {
        // Fully open, the low-pass steps aside and the signal passes unchanged.
        if (colour <= 0.999f) {
            filters_.lowpassCoefs(distortionColourHz(type, colour), c.a1, c.b0);
            c.b1 = c.b0;
        }
    } else {
        filters_.highpassCoefs(distortionColourHz(type, colour), c.a1, c.b0);
        c.b1 = -c.b0;
    }
    int family = kPlain;
    switch (type) {
        case 0:
        case 1:
            family = kCrunch;
            c.g = dsp::expRange(drive, 1.0f, 64.0f);
            c.s = dsp::expRange(drive, 1.0f, 16.0f) / c.g;
            break;
        case 2:
        case 3:
            family = kToxic;
            c.g = dsp::expRange(drive, 1.0f, 64.0f);
            break;
        case 4:
        case 5:
            family = kValve;
            c.g = dsp::expRange(drive, 1.0f, 64.0f) * 0.5f;
            break;
        case 6:
        case 7:
            family = kPlain;
            c.g = dsp::expRange(drive, 0.25f, 4.0f);
            break;
        default:
            family = kClip;
            c.g = dsp::expRange(drive, 1.0f, 64.0f) * 0.25f;
            filters_.highpassCoefs(5.0f, c.dcA1, c.dcB0);
            break;
    }
    const float targetDry = 1.0f - amount, targetWet = amount;
    rested_[0] = false;
    if (maySkip && idleSkipping_) {
        bool rests = false;
        switch (family) {
            case kCrunch:
                rests = distortionRests<kCrunch>(c);
                break;
            case kToxic:
                rests = distortionRests<kToxic>(c);
                break;
            case kValve:
                rests = distortionRests<kValve>(c);
                break;
            case kPlain:
                rests = distortionRests<kPlain>(c);
                break;
            default:
                rests = distortionRests<kClip>(c);
                break;
        }
        rested_[0] = rests && isSilentBlock(io[0], io[1], frames);
        if (rested_[0]) {
            dryGain_ = targetDry;
            wetGain_ = targetWet;
            return;
        }
    }
    if (dryGain_ < 0.0f) {
        dryGain_ = targetDry;
        wetGain_ = targetWet;
    }
    const float dryStep = (targetDry - dryGain_) / static_cast<float>(frames);
    const float wetStep = (targetWet - wetGain_) / static_cast<float>(frames);
    switch (family) {
        case kCrunch:
            runDistortion<kCrunch>(io, c, dryStep, wetStep, frames);
            break;
        case kToxic:
            runDistortion<kToxic>(io, c, dryStep, wetStep, frames);
            break;
        case kValve:
            runDistortion<kValve>(io, c, dryStep, wetStep, frames);
            break;
        case kPlain:
            runDistortion<kPlain>(io, c, dryStep, wetStep, frames);
            break;
        default:
            runDistortion<kClip>(io, c, dryStep, wetStep, frames);
            break;
    }
    dryGain_ = targetDry;
    wetGain_ = targetWet;
}

void EffectRack::processEq(int band, int frames, float** io) {
    eqBlock(band, frames, io, false);
}

void EffectRack::eqBlock(int band, int frames, float** io, bool maySkip) {
    if (frames <= 0 || band < 0 || band > 1) return;
    Band& b = bands_[band];
    const int type = b.type;
    rested_[1 + band] = false;
    if (maySkip && idleSkipping_) {
        // The shelves keep only the first-order half of the state.
        const EqState &sl = b.state[0], &sr = b.state[1];
        const bool rests =
            sl.x1 == 0.0f && sl.y1 == 0.0f && sr.x1 == 0.0f && sr.y1 == 0.0f &&
            (type != 0 || (sl.x2 == 0.0f && sl.y2 == 0.0f && sr.x2 == 0.0f && sr.y2 == 0.0f));
        rested_[1 + band] = rests && isSilentBlock(io[0], io[1], frames);
        if (rested_[1 + band]) return;
    }
    // Both channels run in one loop, so that their recursions overlap. The feedback terms
    // are summed first: at unity gain they cancel exactly and the band passes x bit for bit.
    EqState l = b.state[0], r = b.state[1];
    float* bl = io[0];
    float* br = io[1];
    if (type == 0) {
        float b0, b1, b2, a2;
        filters_.peakCoefs(b.frequency, b.gain, b.q, b0, b1, b2, a2);
        for (int n = 0; n < frames; ++n) {
            const float xl = bl[n], xr = br[n];
            const float yl = b0 * xl + (b1 * (l.x1 - l.y1) + (b2 * l.x2 - a2 * l.y2));
            const float yr = b0 * xr + (b1 * (r.x1 - r.y1) + (b2 * r.x2 - a2 * r.y2));
            l = EqState{xl, yl, l.x1, l.y1};
            r = EqState{xr, yr, r.x1, r.y1};
            bl[n] = yl;
            br[n] = yr;
        }
    } else if (type == 1 || type == 2) {
        float a1, b0, b1;
        if (type == 1)
            filters_.lowShelfCoefs(b.frequency, b.gain, a1, b0, b1);
        else
            filters_.highShelfCoefs(b.frequency, b.gain, a1, b0, b1);
        for (int n = 0; n < frames; ++n) {
            const float xl = bl[n], xr = br[n];
            const float yl = b0 * xl + (b1 * l.x1 - a1 * l.y1);
            const float yr = b0 * xr + (b1 * r.x1 - a1 * r.y1);
            l.x1 = xl;
            l.y1 = yl;
            r.x1 = xr;
            r.y1 = yr;
            bl[n] = yl;
            br[n] = yr;
        }
    } else {
        return;
    }
    for (EqState* st : {&l, &r})
        *st = EqState{dsp::flushSmall(st->x1), dsp::flushSmall(st->y1), dsp::flushSmall(st->x2),
                      dsp::flushSmall(st->y2)};
    b.state[0] = l;
    b.state[1] = r;
}

long EffectRack::subnormalCount() const {
    long n = phaser.subnormalCount() + delay.subnormalCount() + reverb.subnormalCount();
    for (const DistortionState& s : distState_) {
        const float v[4] = {s.s1, s.y1, s.s2, s.y2};
        n += dsp::countSubnormal(v, 4);
    }
    for (const Band& b : bands_)
        for (const EqState& s : b.state) {
            const float v[4] = {s.x1, s.y1, s.x2, s.y2};
            n += dsp::countSubnormal(v, 4);
        }
    return n;
}

void EffectRack::process(int frames, float** io, const int32_t* effectOrder, float tempo,
                         const DelayModulation& mod) noexcept {
    if (frames <= 0) return;
    const int32_t* order = effectOrder != nullptr ? effectOrder : kDefaultOrder;
    for (int slot = 0; slot < 6; ++slot) {
        const int32_t e = order[slot];
        if (!isOn(e)) continue;
        switch (e) {
            case kDistortion:
                distortBlock(frames, io, true);
                break;
            case kEq1:
                eqBlock(0, frames, io, true);
                break;
            case kEq2:
                eqBlock(1, frames, io, true);
                break;
            case kPhaser:
                phaser.process(frames, io);
                break;
            case kDelay:
                delay.process(frames, io, tempo, &mod);
                break;
            default:
                reverb.process(frames, io);
                break;
        }
    }
}

}  // namespace corvane
