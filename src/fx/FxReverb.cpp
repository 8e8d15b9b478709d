#include "fx/FxReverb.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/LfoSine.h"
#include "dsp/SafeMath.h"
#include "fx/ReverbKernels.h"
#include "fx/ReverbTables.h"
#include "patch/ParamRanges.h"

namespace corvane {

using namespace reverb;

FxReverb::FxReverb(Random& random)
    : random_(random),
      pool_(kPoolSize, 0.0f),
      diffuser_{std::vector<float>(kDiffuserSize, 0.0f), std::vector<float>(kDiffuserSize, 0.0f)} {
    prepare(44100.0, dsp::kDefaultMaxBlock);
}

FxReverb::~FxReverb() = default;

void FxReverb::allowWideKernels(bool allow) {
#if defined(CORVANE_COMB_AVX)
    wideKernelsAllowed.store(allow, std::memory_order_relaxed);
#else
    (void)allow;
#endif
}

void FxReverb::prepare(double sr, int /*maxBlock: works in chunks of its own*/) {
    setModuleSampleRate(sr);
    const uint32_t ring =
        nextPow2(std::max<uint32_t>(65536u, static_cast<uint32_t>(0.5 * sr) + 2 * kChunk));
    preRing_.assign(ring + kChunk, 0.0f);  // plus a mirror of the first kChunk entries
    preMask_ = ring - 1;
    preWrite_ = 0;
    setUpLengths();
    recomputeCombGains();
    predelay_ = static_cast<int>(std::floor(predelayMs_ * sampleRate * 0.001));
    lowpassCoefs(15000.0f, dampA1_, dampB0_);
    tapsDirty_.store(true, std::memory_order_relaxed);
    reset();
}

void FxReverb::setUpLengths() {
    const double sr = sampleRate;
    const double s = sr / 44100.0;
    int offset = 0;
    for (int k = 0; k < kCombs; ++k) {
        Comb& c = combs_[k];
        c.length = nextPrime(std::floor(500.0 + (k + 1) * 0.025 / 64.0 * sr));
        c.offset = offset;
        c.pos = 0;
        c.state = 0.0f;
        c.gain = static_cast<float>(std::pow(0.001, c.length / (5.028 * sr)) * 0.9);
        offset += c.length;
    }
    // The network's lines reuse the pool from its start: no type runs both.
    const double sq = std::floor(s * 8192.0) / 8192.0;
    offset = 0;
    for (int j = 0; j < kFdnLines; ++j) {
        FdnLine& l = fdn_[j];
        const int m = static_cast<int>(std::floor((9.5 * 1.4950050115585327 * j + 67.0) * 2.0));
        l.length = nextPrime(primes()[static_cast<size_t>(m)] * sq);
        l.offset = offset;
        l.pos = 0;
        l.state = 0.0f;
        offset += l.length;
    }
    rightDelay_ =
        std::min<uint32_t>(static_cast<uint32_t>(std::floor(99.0 * s)), kRightRingSize - 1);
    diffuserIncrement_ = static_cast<uint32_t>(4294967296.0 / sr * 0.5);
    diffuserLength_[0] = nextPrime(std::floor(0.0058 * sr));
    diffuserLength_[1] = nextPrime(std::floor(0.0057 * sr));
}

void FxReverb::recomputeCombGains() {
    const double t = sampleRate * decayTime_;
    for (int k = 0; k < kCombs; ++k) {
        float g = static_cast<float>(std::pow(0.001, combs_[k].length / t) * damp_);
        if (k == 31 || k == 63) g *= 0.8f;
        combs_[k].gain = g;
    }
}

void FxReverb::reset() {
    std::fill(preRing_.begin(), preRing_.end(), 0.0f);
    std::fill(pool_.begin(), pool_.end(), 0.0f);
    for (auto& d : diffuser_)
        std::fill(d.begin(), d.end(), 0.0f);
    std::fill(std::begin(rightRing_), std::end(rightRing_), 0.0f);
    for (Comb& c : combs_)
        c.pos = 0, c.state = 0.0f;
    for (FdnLine& l : fdn_)
        l.pos = 0, l.state = 0.0f;
    dampX1_ = dampY1_ = lowCutZ1_ = 0.0f;
    diffuserWrite_ = 0;
    diffuserPhase_ = 0;
    silence_ = 10000000;
    gated_ = true;
    wet_ = -1.0f;
    rememberedDelay_ = -1;
}

long FxReverb::subnormalCount() const {
    long n = dsp::countSubnormal(preRing_.data(), static_cast<long>(preRing_.size())) +
             dsp::countSubnormal(pool_.data(), static_cast<long>(pool_.size())) +
             dsp::countSubnormal(rightRing_, kRightRingSize);
    for (const auto& d : diffuser_)
        n += dsp::countSubnormal(d.data(), static_cast<long>(d.size()));
    for (const Comb& c : combs_)
        n += dsp::countSubnormal(&c.state, 1);
    for (const FdnLine& l : fdn_)
        n += dsp::countSubnormal(&l.state, 1);
    const float input[3] = {dampX1_, dampY1_, lowCutZ1_};
    return n + dsp::countSubnormal(input, 3);
}

void FxReverb::setParameter(int index, float value) {
    const float v = dsp::unitClamp(value);
    const int iv = dsp::toIndex(128.0f * v, 129);
    switch (index) {
        case 0:
            requestedType_.store(iv / 32, std::memory_order_relaxed);
            break;
        case 1:
            decayTime_ = mapped(kReverbDecaySeconds, v);
            recomputeCombGains();
            break;
        case 2:
            damp_ = 0.5f * v + 0.5f;
            dampRatio_ = dsp::expRange(v, 0.15f, 1.0f);
            recomputeCombGains();
            break;
        case 4:
            predelayMs_ = reverbPredelayMs(v);
            predelay_ = static_cast<int>(std::floor(predelayMs_ * sampleRate * 0.001));
            tapsDirty_.store(true, std::memory_order_relaxed);
            break;
        case 5:
            highpassCoefs(mapped(kReverbLowCutHz, v), lowCutA1_, lowCutB0_);
            break;
        case 8:
            wetTarget_ = v * v;
            break;
        default:
            break;
    }
}

int FxReverb::clampTap(double pos) const {
    const double maxPos = static_cast<double>(preMask_) - 2.0 * kChunk;
    return static_cast<int>(std::clamp(std::floor(pos), 0.0, maxPos));
}

void FxReverb::applyPendingChanges() {
    const int wanted = requestedType_.load(std::memory_order_relaxed);
    if (wanted != type_) {
        if (wanted == 1) reset();
        type_ = wanted;
        std::fill(std::begin(rightRing_), std::end(rightRing_), 0.0f);
        tapsDirty_.store(true, std::memory_order_relaxed);
    }
    if (tapsDirty_.exchange(false, std::memory_order_relaxed)) setUpTaps();
}

void FxReverb::setUpTaps() {
    const double sr = sampleRate;
    const double s48 = sr / 48000.0;
    const int pd = predelay_;
    tapsL_.count = tapsR_.count = tapsShared_.count = 0;
    erOffset_ = 0;
    const bool room = type_ == 2;
    diffuserLength_[0] = nextPrime(std::floor((room ? 0.0066 : 0.0058) * sr));
    diffuserLength_[1] = nextPrime(std::floor((room ? 0.0065 : 0.0057) * sr));
    auto add = [this](TapSet& set, double pos, float gain) {
        if (set.count >= kMaxTaps) return;
        set.pos[set.count] = clampTap(pos);
        set.gain[set.count] = gain;
        ++set.count;
    };
    if (type_ == 2) {
        for (int i = 0; i < 46; ++i) {
            const float gl = i < 44 ? 0.5f * kRoomLeftGain[i] : kRoomLeftTail[i - 44];
            const float gr = i < 44 ? 0.5f * kRoomRightGain[i] : kRoomRightTail[i - 44];
            add(tapsL_, std::floor((kRoomLeftPos[i] - 1599) * s48) + pd, gl);
            add(tapsR_, std::floor((kRoomRightPos[i] - 1599) * s48) + pd, gr);
        }
        add(tapsL_, std::floor(7960 * s48) + pd, kRoomLeftTail[2]);
        add(tapsR_, std::floor(6999 * s48) + pd, kRoomRightTail[2]);
        double last = 0.0;
        for (int i = 0; i < 128; ++i) {
            last = std::floor(std::pow((i + 1) / 128.0, 0.45) * 0.1 * sr) + pd;
            const float r = static_cast<float>(random_.next());
            const float g =
                static_cast<float>(std::max(1, i)) / 128.0f * (r / 32767.0f - 0.5f) * 0.0625f;
            add(tapsShared_, last, g);
        }
        erOffset_ = static_cast<int>(last) - combs_[0].length - pd - 54;
    } else if (type_ == 3 || type_ == 4) {
        const bool hall = type_ == 3;
        const int o = static_cast<int>(std::floor((hall ? 0.06 : 0.09) * sr));
        const double q = (hall ? 0.6 : 1.0) * s48;
        const float c3 = hall ? 0.5f : 1.0f;
        erOffset_ = o;
        for (int k = 0; k < 16; ++k) {
            add(tapsL_, combs_[k].length + pd + o, kHallCombLeft[k]);
            add(tapsR_, combs_[k].length + pd + o, kHallCombRight[k]);
        }
        for (int i = 0; i < 23; ++i)
            add(tapsL_, std::floor(kHallLeftPos[i] * q) + pd, c3 * kHallLeftGain[i]);
        for (int i = 0; i < 19; ++i)
            add(tapsR_, std::floor(kHallRightPos[i] * q) + pd, c3 * kHallRightGain[i]);
    }
}

void FxReverb::runInputStage(const float* left, const float* right, int n) {
    const float scale = type_ == 1 ? 1.0f : 0.5f;
    const float a1 = dampA1_, b0 = dampB0_, la1 = lowCutA1_, lb0 = lowCutB0_;
    float x1 = dampX1_, y1 = dampY1_, z1 = lowCutZ1_;
    float* ring = preRing_.data();
    for (int i = 0; i < n; ++i) {
        const float x = (left[i] + right[i]) * scale;
        const float y = b0 * (x + x1) - a1 * y1;
        const float z = dsp::flushSmall(lb0 * (y - y1) - la1 * z1);
        x1 = x;
        y1 = dsp::flushSmall(y);
        z1 = z;
        ring[(preWrite_ + static_cast<uint32_t>(i)) & preMask_] = z + 1e-15f;
    }
    // Mirror the ring's first kChunk entries behind its end.
    const uint32_t size = preMask_ + 1;
    for (int i = 0; i < n; ++i) {
        const uint32_t j = (preWrite_ + static_cast<uint32_t>(i)) & preMask_;
        if (j < static_cast<uint32_t>(kChunk)) ring[size + j] = ring[j];
    }
    dampX1_ = x1;
    dampY1_ = y1;
    lowCutZ1_ = z1;
}

void FxReverb::runEarly(int n) {
    std::fill(erL_, erL_ + n, 0.0f);
    std::fill(erR_, erR_ + n, 0.0f);
    std::fill(erShared_, erShared_ + n, 0.0f);
    // The ring's mirrored head makes every tap's stretch of n samples contiguous.
    const float* ring = preRing_.data();
    const TapSet* sets[3] = {&tapsL_, &tapsR_, &tapsShared_};
    float* outs[3] = {erL_, erR_, erShared_};
    const float* src[kMaxTaps];
    for (int s = 0; s < 3; ++s) {
        const TapSet& set = *sets[s];
        const int count = std::min(set.count, kMaxTaps);
        for (int t = 0; t < count; ++t)
            src[t] = ring + ((preWrite_ - static_cast<uint32_t>(set.pos[t])) & preMask_);
#if defined(CORVANE_COMB_AVX)
        if (haveAvx2Fma()) {
            accumulateTapsAvx(outs[s], src, set.gain, count, n);
            continue;
        }
#endif
        accumulateTapsDefault(outs[s], src, set.gain, count, n);
    }
    for (int i = 0; i < n; ++i) {
        erL_[i] += erShared_[i];
        erR_[i] -= erShared_[i];
    }
}

void FxReverb::runOutput(float* left, float* right, int n) {
    const float* sine = lfoSine();
    float* bufL = diffuser_[0].data();
    float* bufR = diffuser_[1].data();
    const int lenL = diffuserLength_[0], lenR = diffuserLength_[1];
    const float gL = diffuserGain_[0], gR = diffuserGain_[1];
    const bool delayRight = type_ != 2;
    const bool early = type_ >= 2;
    int w = diffuserWrite_;
    uint32_t phase = diffuserPhase_;
    float wet = wet_;
    for (int i = 0; i < n; ++i) {
        const float m = 2.0f * sine[phase >> 21];
        phase += diffuserIncrement_;
        const float fl = std::floor(m);
        const int k = static_cast<int>(fl);
        const float f = m - fl;
        const int rl = w - k - lenL, rr = w - k - lenR;
        const float vl = -((1.0f - f) * bufL[rl & (kDiffuserSize - 1)] +
                           f * bufL[(rl - 1) & (kDiffuserSize - 1)]);
        const float vr = -((1.0f - f) * bufR[rr & (kDiffuserSize - 1)] +
                           f * bufR[(rr - 1) & (kDiffuserSize - 1)]);
        bufL[w] = gL * vl + sumL_[i];
        bufR[w] = gR * vr + sumR_[i];
        const float outL = vl - gL * bufL[w];
        const float outR = vr - gR * bufR[w];
        w = (w + 1) & (kDiffuserSize - 1);
        float wl = 0.0625f * outL, wr = 0.0625f * outR;
        if (early) {
            wl += erL_[i];
            wr += erR_[i];
        }
        if (delayRight) {
            rightRing_[rightWrite_] = wr;
            wr = rightRing_[(rightWrite_ - rightDelay_) & (kRightRingSize - 1)];
            rightWrite_ = (rightWrite_ + 1) & (kRightRingSize - 1);
        }
        left[i] = left[i] * (1.0f - wet) + wet * wl;
        right[i] = right[i] * (1.0f - wet) + wet * wr;
        wet += wetStep_;
    }
    wet_ = wet;
    diffuserWrite_ = w;
    diffuserPhase_ = phase;
}

void FxReverb::process(int frames, float** io) noexcept {
    if (frames <= 0) return;
    applyPendingChanges();
    if (type_ < 0) return;
    float* left = io[0];
    float* right = io[1];

    // Silence gate: trailing near-silence is cleaned to 0; a block of silence counts
    // towards the decay time, after which the tail is frozen and nothing runs.
    bool loud = false;
    for (int n = frames - 1; n >= 0; --n) {
        if (std::fabs(left[n]) > 1e-9f || std::fabs(right[n]) > 1e-9f) {
            loud = true;
            break;
        }
        left[n] = 0.0f;
        right[n] = 0.0f;
    }
    if (loud) {
        silence_ = 0;
    } else {
        silence_ = static_cast<int32_t>(
            std::min<int64_t>(static_cast<int64_t>(silence_) + frames, 1 << 30));
        if (static_cast<double>(silence_) > static_cast<double>(decayTime_) * sampleRate) {
            wet_ = -1.0f;
            gated_ = true;
            return;
        }
    }
    gated_ = false;

    static constexpr float kDampFreq[5] = {15000.0f, 7000.0f, 5000.0f, 10000.0f, 8000.0f};
    lowpassCoefs(kDampFreq[type_], dampA1_, dampB0_);

    if (type_ == 1) {
        const double a = dampRatio_;
        // Each line ends in o = gain x + b o' with gain = G (1 - b): a low-pass whose DC gain
        // G / (1 - b) keeps the nominal decay G per pass, so Decay sets the low-frequency
        // decay time at every Damp and Damp only shortens the highs. (With -b in the
        // recursion the DC gain would be G (1 - b) / (1 + b): about 6 dB lost per pass at
        // Damp 0, whatever Decay says.)
        const double tilt = 1.0 - 1.0 / (a * a);
        float total = 0.0f;
        for (FdnLine& l : fdn_) {
            const double e = -3.0 * l.length / (sampleRate * decayTime_);
            const double b = std::min(0.92, e * 0.5756462812423706 * tilt);
            l.gain = static_cast<float>(std::pow(10.0, e) * (1.0 - b) * 0.25);
            l.coef = static_cast<float>(b);
            total += l.gain;
        }
        fdnOutScale_ = std::min(2.0f, 16.0f / total) / 16.0f;
    }

    const int d = std::min(predelay_ + erOffset_ + 1,
                           std::min(65533, static_cast<int>(preMask_) - 2 * kChunk));
    const int delay = std::max(d, 1);
    if (rememberedDelay_ < 0) rememberedDelay_ = delay;
    delayOld_ = rememberedDelay_;
    delayNew_ = delay;

    if (wet_ < 0.0f) {
        wet_ = wetTarget_;
        wetStep_ = 0.0f;
    } else {
        wetStep_ = (wetTarget_ - wet_) / static_cast<float>(frames);
    }

    for (int start = 0; start < frames; start += kChunk) {
        const int n = std::min(kChunk, frames - start);
        runInputStage(left + start, right + start, n);
        if (type_ >= 2) runEarly(n);
        runLateInput(n, start, frames);
        switch (type_) {
            case 1:
                runFdn(n);
                break;
            case 2:
                runCombs(kRoomFamily.index, kRoomFamily.sign, kCombLeft32, kCombRight32,
                         kRoomFamily.count, n);
                break;
            default:
                runCombs(kFullFamily.index, kFullFamily.sign, kCombLeft64, kCombRight64,
                         kFullFamily.count, n);
                break;
        }
        runOutput(left + start, right + start, n);
        preWrite_ = (preWrite_ + static_cast<uint32_t>(n)) & preMask_;
    }

    rememberedDelay_ = delay;
    wet_ = wetTarget_;
    for (Comb& c : combs_)
        c.state = dsp::flushSmall(c.state);
}

}  // namespace corvane
