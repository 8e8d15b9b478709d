#include "fx/FxDelay.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/SafeMath.h"
#include "fx/Silence.h"

namespace corvane {

namespace {

// Note values in 1/256 notes: dotted, straight and triplet from 1/1 down to 1/64.
constexpr double kNoteMultiplier[21] = {384.0, 256.0, 512.0 / 3.0, 192.0, 128.0, 256.0 / 3.0,
                                        96.0,  64.0,  128.0 / 3.0, 48.0,  32.0,  64.0 / 3.0,
                                        24.0,  16.0,  32.0 / 3.0,  12.0,  8.0,   16.0 / 3.0,
                                        6.0,   4.0,   8.0 / 3.0};

// Pan amount of the left line for the ping-pong types 1..5; the right line uses the negative.
constexpr float kPingPongPan[6] = {0.0f, 0.5f, 0.375f, 0.25f, 0.125f, 0.05f};

// A modulated read is held between 1 and ringLength - 2 samples behind the write index, so
// both interpolation points always lie inside the written history of the ring.
constexpr float kMaxDelay = static_cast<float>(FxDelay::kRingLength - 2);

float leftGain(float pan) {
    return pan > 0.0f ? 1.0f - 2.0f * pan : 1.0f;
}
float rightGain(float pan) {
    return pan < 0.0f ? 1.0f + 2.0f * pan : 1.0f;
}

struct TapPosition {
    uint32_t whole;
    float fraction;
};

// The delay in samples, at a resolution of 1/1024 sample.
TapPosition tapPosition(float delay) {
    float d = delay > 1.0f ? delay : 1.0f;  // also maps NaN to 1
    d = d < kMaxDelay ? d : kMaxDelay;
    const int q = static_cast<int>(d * 1024.0f);
    return {static_cast<uint32_t>(q >> 10), static_cast<float>(q & 1023) * (1.0f / 1024.0f)};
}

float readTap(const float* ring, uint32_t writePos, TapPosition p) {
    return ring[(writePos - p.whole) & FxDelay::kRingMask] * (1.0f - p.fraction) +
           ring[(writePos - p.whole - 1u) & FxDelay::kRingMask] * p.fraction;
}

}  // namespace

// The global LFO 2 as the delay steps it through one block: a local copy of the phase.
struct FxDelay::Wobble {
    uint32_t phase = 0;
    uint32_t increment = 0;
    const float* table = nullptr;
    float scale = 0.0f;  // 0.5 * lengthL * depth

    float next() {
        const uint32_t k = phase >> 21;
        const float frac = static_cast<float>((phase >> 5) & 0xFFFFu) * (1.0f / 65536.0f);
        const float m = table[k + 1] * frac + table[k] * (1.0f - frac);
        phase += increment;
        return m * scale;
    }

    // The echoes of both lines at write index w: at the whole lengths, or, modulated, at the
    // lengths moved by the next wobble step and read between samples.
    template <bool kModulated>
    __attribute__((always_inline)) void taps(const float* ringA, const float* ringB, uint32_t w,
                                             int lengthA, int lengthB, float& tapA, float& tapB) {
        if constexpr (kModulated) {
            const float off = next();
            tapA = readTap(ringA, w, tapPosition(static_cast<float>(lengthA) + off));
            tapB = readTap(ringB, w, tapPosition(static_cast<float>(lengthB) + off));
        } else {
            tapA = ringA[(w - static_cast<uint32_t>(lengthA)) & kRingMask];
            tapB = ringB[(w - static_cast<uint32_t>(lengthB)) & kRingMask];
        }
    }
};

// One step of the colour filter on an echo; the state keeps the flushed output.
__attribute__((always_inline)) inline float FxDelay::Colour::step(float x, float a1, float b0,
                                                                  float b1) {
    const float y = b0 * x + b1 * x1 - a1 * y1;
    x1 = x;
    y1 = dsp::flushSmall(y);
    return y;
}

FxDelay::FxDelay()
    : ringL_(new float[kRingLength]()),
      ringR_(new float[kRingLength]()),
      diffuserMemory_(new float[4 * kDiffuserLength]()) {
    for (int i = 0; i < 4; ++i)
        diffusers_[i].buf = diffuserMemory_.get() + i * kDiffuserLength;
    prepare(44100.0, dsp::kDefaultMaxBlock);
}

FxDelay::~FxDelay() = default;

void FxDelay::prepare(double sr, int /*maxBlock: works in chunks of its own*/) {
    setModuleSampleRate(static_cast<float>(sr));
    srScale_ = static_cast<float>(sampleRate / 44100.0);
    const float lengths[4] = {100.0f, 292.0f, 80.0f, 290.1f};
    for (int i = 0; i < 4; ++i) {
        diffusers_[i].length =
            std::clamp(static_cast<int>(std::floor(lengths[i] * srScale_)), 1, kDiffuserLength);
        diffusers_[i].pos = 0;
    }
}

void FxDelay::reset() {
    std::memset(ringL_.get(), 0, sizeof(float) * kRingLength);
    std::memset(ringR_.get(), 0, sizeof(float) * kRingLength);
    std::memset(diffuserMemory_.get(), 0, sizeof(float) * 4 * kDiffuserLength);
    for (Diffuser& d : diffusers_)
        d.pos = 0;
    colourL_ = Colour{};
    colourR_ = Colour{};
    zeroRun_ = kRingLength;
    zeroRunType_ = delayType_;
}

void FxDelay::setParameter(int index, float value) {
    const float v = dsp::unitClamp(value);
    const int iv = dsp::toIndex(v * 128.0f, 129);
    switch (index) {
        case 0:
            delayType_ = iv / 16;
            break;
        case 1:
            feedback_ = v;
            break;
        case 2:
            rateL_ = v;
            break;
        case 3:
            rateR_ = v;
            break;
        case 6: {
            // Centre: the echoes pass unfiltered. The filter becomes y = x outright (rather
            // than y = x + x1 - y1), so a state left by an earlier setting cannot ring on as
            // a tone at Nyquist.
            if (iv == 64) {
                colourA1_ = 0.0f;
                colourB0_ = 1.0f;
                colourB1_ = 0.0f;
                break;
            }
            const float u = static_cast<float>(iv - 64) / 64.01f;
            float a1 = 0.0f, b0 = 1.0f;
            if (u <= 0.0f) {
                lowpassCoefs(dsp::expRange(u + 1.0f, 200.0f, 20000.0f), a1, b0);
                colourB1_ = b0;
            } else {
                highpassCoefs(dsp::expRange(u, 20.0f, 15000.0f), a1, b0);
                colourB1_ = -b0;
            }
            colourA1_ = a1;
            colourB0_ = b0;
            break;
        }
        case 7:
            wet_ = v * v;
            break;
        default:
            break;
    }
}

void FxDelay::computeLengths(float tempo) {
    // A missing or absurd host tempo must not divide by zero: hold it to 1..10000 BPM.
    const double bpm =
        std::isfinite(tempo) ? std::clamp(static_cast<double>(tempo), 1.0, 1e4) : 120.0;
    const double unit = sampleRate * 0.9375 / bpm;  // a 1/256 note in samples
    auto length = [unit](float rate) {
        const int i = dsp::toIndex(dsp::unitClamp(rate) * 20.001f, 21);
        const double len = std::floor(kNoteMultiplier[i] * unit);
        return static_cast<int>(std::clamp(len, 1.0, static_cast<double>(kRingLength - 2)));
    };
    lengthL_ = length(rateL_);
    lengthR_ = length(rateR_);
}

namespace {

// Two all-passes in series with coefficient 0.2 (the negated form).
inline float diffuse(float* buf, int& pos, int length, float x) {
    const float d = buf[pos];
    const float w = dsp::flushSmall(x - 0.2f * d);
    const float out = -(d + 0.2f * w);
    buf[pos] = w;
    pos = pos + 1 == length ? 0 : pos + 1;
    return out;
}

}  // namespace

// The simple type, or with kDiffused the diffuse ones: each echo passes two all-passes
// before the colour filter.
template <bool kModulated, bool kDiffused>
void FxDelay::processSimple(int frames, float** io, Wobble& wob) {
    float* left = io[0];
    float* right = io[1];
    float* ringL = ringL_.get();
    float* ringR = ringR_.get();
    const float wet = wet_, dry = 1.0f - wet_;
    const float fb = feedback_;
    const float fbR = std::pow(fb, static_cast<float>(lengthR_) / static_cast<float>(lengthL_));
    const float a1 = colourA1_, b0 = colourB0_, b1 = colourB1_;
    const int lenL = lengthL_, lenR = lengthR_;
    Colour cl = colourL_, cr = colourR_;
    Diffuser d0 = diffusers_[0], d1 = diffusers_[1], d2 = diffusers_[2], d3 = diffusers_[3];
    uint32_t w = writePos_;
    for (int n = 0; n < frames; ++n) {
        float tapL, tapR;
        wob.taps<kModulated>(ringL, ringR, w, lenL, lenR, tapL, tapR);
        if constexpr (kDiffused) {
            tapL = diffuse(d1.buf, d1.pos, d1.length, diffuse(d0.buf, d0.pos, d0.length, tapL));
            tapR = diffuse(d3.buf, d3.pos, d3.length, diffuse(d2.buf, d2.pos, d2.length, tapR));
        }
        const float yL = cl.step(tapL, a1, b0, b1);
        const float yR = cr.step(tapR, a1, b0, b1);
        const float inL = left[n], inR = right[n];
        left[n] = inL * dry + yL * wet;
        right[n] = inR * dry + yR * wet;
        ringL[w] = dsp::flushSmall(inL - fb * yL);
        ringR[w] = dsp::flushSmall(inR - fbR * yR);
        w = (w + 1) & kRingMask;
    }
    writePos_ = w;
    colourL_ = cl;
    colourR_ = cr;
    if constexpr (kDiffused) {
        diffusers_[0].pos = d0.pos;
        diffusers_[1].pos = d1.pos;
        diffusers_[2].pos = d2.pos;
        diffusers_[3].pos = d3.pos;
    }
}

template <bool kModulated>
void FxDelay::processPingPong(int frames, float** io, Wobble& wob) {
    float* left = io[0];
    float* right = io[1];
    float* ringL = ringL_.get();
    float* ringR = ringR_.get();
    const float wet = wet_, dry = 1.0f - wet_;
    const float fb = feedback_;
    const float a1 = colourA1_, b0 = colourB0_, b1 = colourB1_;
    const float panL = kPingPongPan[delayType_], panR = -panL;
    const float lToL = wet * leftGain(panL), lToR = wet * rightGain(panL);
    const float rToL = wet * leftGain(panR), rToR = wet * rightGain(panR);
    const int lenL = lengthL_, lenR = lengthR_;
    Colour cl = colourL_;
    uint32_t w = writePos_;
    for (int n = 0; n < frames; ++n) {
        float tapL, tapR;
        wob.taps<kModulated>(ringL, ringR, w, lenL, lenR, tapL, tapR);
        const float yL = cl.step(tapL, a1, b0, b1);
        const float inL = left[n], inR = right[n];
        left[n] = inL * dry + yL * lToL + tapR * rToL;
        right[n] = inR * dry + yL * lToR + tapR * rToR;
        ringL[w] = dsp::flushSmall((inL + inR) * 0.5f - fb * tapR);
        ringR[w] = dsp::flushSmall(-fb * yL);
        w = (w + 1) & kRingMask;
    }
    writePos_ = w;
    colourL_ = cl;
}

template <bool kModulated>
void FxDelay::processMultiTap(int frames, float** io, Wobble& wob) {
    float* left = io[0];
    float* right = io[1];
    float* ring = ringL_.get();
    const float wet = wet_, dry = 1.0f - wet_;
    const float fbM =
        0.5f * std::pow(feedback_, static_cast<float>(lengthR_) / static_cast<float>(lengthL_));
    const float a1 = colourA1_, b0 = colourB0_, b1 = colourB1_;
    const int lenL = lengthL_, lenR = lengthR_;
    Colour ca = colourL_, cb = colourR_;
    uint32_t w = writePos_;
    for (int n = 0; n < frames; ++n) {
        float tapA, tapB;
        wob.taps<kModulated>(ring, ring, w, lenL, lenR, tapA, tapB);
        const float yA = ca.step(tapA, a1, b0, b1);
        const float yB = cb.step(tapB, a1, b0, b1);
        const float inL = left[n], inR = right[n];
        left[n] = inL * dry + (0.95f * yA + 0.05f * yB) * wet;
        right[n] = inR * dry + yB * wet;
        ring[w] = dsp::flushSmall((inL + inR) * 0.5f + (yA + yB) * fbM);
        w = (w + 1) & kRingMask;
    }
    writePos_ = w;
    colourL_ = ca;
    colourR_ = cb;
}

template <bool kModulated>
void FxDelay::dispatch(int frames, float** io, Wobble& wob) {
    switch (delayType_) {
        case 0:
            processSimple<kModulated, false>(frames, io, wob);
            break;
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
            processPingPong<kModulated>(frames, io, wob);
            break;
        case 6:
            processMultiTap<kModulated>(frames, io, wob);
            break;
        default:
            processSimple<kModulated, true>(frames, io, wob);
            break;
    }
}

long FxDelay::subnormalCount() const {
    const float colour[4] = {colourL_.x1, colourL_.y1, colourR_.x1, colourR_.y1};
    return dsp::countSubnormal(ringL_.get(), kRingLength) +
           dsp::countSubnormal(ringR_.get(), kRingLength) +
           dsp::countSubnormal(diffuserMemory_.get(), 4 * kDiffuserLength) +
           dsp::countSubnormal(colour, 4);
}

bool FxDelay::rests(bool modulated) const {
    const bool pingPong = delayType_ >= 1 && delayType_ <= 5;
    if (colourL_.x1 != 0.0f || colourL_.y1 != 0.0f) return false;
    if (!pingPong && (colourR_.x1 != 0.0f || colourR_.y1 != 0.0f)) return false;
    // A wobbling read may reach anywhere in the ring.
    const int reach = modulated ? kRingLength : std::max(lengthL_, lengthR_);
    if (zeroRun_ < reach) return false;
    if (delayType_ >= 7) {
        for (const Diffuser& d : diffusers_)
            for (int i = 0; i < d.length; ++i)
                if (d.buf[i] != 0.0f) return false;
    }
    return true;
}

void FxDelay::skipSilentBlock(int frames) {
    const bool bothRings = delayType_ != 6;
    if (zeroRun_ < kRingLength) {
        // The zeros the block would have written; once the whole ring holds zeros they are
        // there already.
        uint32_t w = writePos_;
        for (int left = frames; left > 0;) {
            const int n = std::min(left, static_cast<int>(kRingLength - w));
            std::memset(ringL_.get() + w, 0, sizeof(float) * static_cast<size_t>(n));
            if (bothRings) std::memset(ringR_.get() + w, 0, sizeof(float) * static_cast<size_t>(n));
            w = (w + static_cast<uint32_t>(n)) & kRingMask;
            left -= n;
        }
    }
    writePos_ = (writePos_ + static_cast<uint32_t>(frames)) & kRingMask;
    zeroRun_ = std::min(kRingLength, zeroRun_ + frames);
    if (delayType_ >= 7) {
        for (Diffuser& d : diffusers_)
            d.pos = static_cast<int>((static_cast<int64_t>(d.pos) + frames) % d.length);
        // the last echo out of the all-passes: -(0 + 0.2 * 0)
        colourL_.x1 = colourR_.x1 = -0.0f;
    }
}

void FxDelay::countZeroWrites(uint32_t start, int frames) {
    const bool bothRings = delayType_ != 6;
    const float* ringL = ringL_.get();
    const float* ringR = ringR_.get();
    int run = 0;
    for (int n = frames - 1; n >= 0; --n) {
        const uint32_t i = (start + static_cast<uint32_t>(n)) & kRingMask;
        if (ringL[i] != 0.0f || (bothRings && ringR[i] != 0.0f)) break;
        ++run;
    }
    zeroRun_ = run == frames ? std::min(kRingLength, zeroRun_ + frames) : run;
}

void FxDelay::process(int frames, float** io, float tempo, const DelayModulation* mod) noexcept {
    if (frames <= 0) return;
    computeLengths(tempo);
    if (delayType_ != zeroRunType_) {
        zeroRun_ = 0;
        zeroRunType_ = delayType_;
    }
    const bool modulated = mod != nullptr && mod->lfoTable != nullptr && mod->depth != 0.0f &&
                           std::isfinite(mod->depth);
    rested_ = idleSkipping_ && rests(modulated) && isSilentBlock(io[0], io[1], frames);
    if (rested_) {
        skipSilentBlock(frames);
        return;
    }
    const uint32_t start = writePos_;
    Wobble wob;
    if (modulated) {
        wob.phase = mod->phase;
        wob.increment = mod->phaseIncrement;
        wob.table = mod->lfoTable;
        wob.scale = 0.5f * static_cast<float>(lengthL_) * mod->depth;
        dispatch<true>(frames, io, wob);
    } else {
        dispatch<false>(frames, io, wob);
    }
    colourL_.y1 = dsp::flushSmall(colourL_.y1);
    colourR_.y1 = dsp::flushSmall(colourR_.y1);
    countZeroWrites(start, frames);
}

}  // namespace corvane
