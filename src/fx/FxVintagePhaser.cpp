#include "fx/FxVintagePhaser.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "dsp/LfoSine.h"
#include "dsp/SafeMath.h"
#include "fx/Silence.h"
#include "patch/ParamRanges.h"

namespace corvane {

FxVintagePhaser::FxVintagePhaser() {
    prepare(44100.0, dsp::kDefaultMaxBlock);
}

void FxVintagePhaser::prepare(double sr, int maxBlock) {
    setModuleSampleRate(sr);
    chorus_.prepare(sr, maxBlock);
}

void FxVintagePhaser::reset() {
    lfoPhase_ = 0;
    for (auto& channel : stages_)
        std::fill(std::begin(channel), std::end(channel), 0.0f);
    lastTap_[0] = lastTap_[1] = 0.0f;
}

void FxVintagePhaser::setParameter(int index, float value) {
    const float v = dsp::unitClamp(value);
    switch (index) {
        case 0: {
            rate_ = static_cast<float>(mapped(kPhaserRateHz, static_cast<double>(v)));
            chorus_.setRate(rate_);
            break;
        }
        case 1:
            freq_ = mapped(kPhaserFreqHz, static_cast<double>(v));
            chorus_.setColour(v);
            break;
        case 2:
            feedback_ = 0.98f * v;
            chorus_.setFeedback(v);
            break;
        case 3:
            wet_ = v;
            dry_ = 1.0f - v;
            chorus_.setWet(v);
            break;
        case 4:
            depth_ = v;
            chorus_.setDepth(v);
            break;
        case 5:
            phaserType_ = dsp::toIndex(6.1f * v, 7);
            switch (phaserType_) {
                case 3:
                    chorus_.setDelay(0.1f), chorus_.setPolarity(0.0f);
                    break;
                case 4:
                    chorus_.setDelay(0.1f), chorus_.setPolarity(1.0f);
                    break;
                case 5:
                    chorus_.setDelay(0.2f), chorus_.setPolarity(0.0f);
                    break;
                case 6:
                    chorus_.setDelay(0.3f), chorus_.setPolarity(0.0f);
                    break;
                default:
                    break;
            }
            break;
        default:
            break;
    }
}

// The stage: a one-pole low-pass z' = z + (in - z) k and out = in - z' - z, which is the
// first-order all-pass (p - z^-1) / (1 - p z^-1) with p = 1 - k. The tap is the last stage.
template <int kStages>
void FxVintagePhaser::runPhaser(int frames, float** io) {
    const float* sine = lfoSine();
    const uint32_t inc = static_cast<uint32_t>(static_cast<int64_t>(phasePerHz * rate_));
    const float fb = feedback_, wet = wet_, dry = dry_;
    const float spread = static_cast<float>(0.75 * depth_ * freq_);
    const float freq = static_cast<float>(freq_);
    const float omega = static_cast<float>(-2.0 * std::numbers::pi / sampleRate);
    for (int start = 0; start < frames; start += kChunk) {
        const int n = std::min(kChunk, frames - start);
        // Both channels see the same sweep, so the coefficients are computed once.
        uint32_t phase = lfoPhase_;
        for (int i = 0; i < n; ++i) {
            const float s = sine[phase >> 21];
            phase += inc;
            const float f = freq + s * spread;
            coef_[i] = 1.0f - std::exp(omega * f);
        }
        lfoPhase_ = phase;
        // Both channels run in one loop so that their stage chains overlap. Written as
        // out = p in - (1 + p) z and z' = p z + k in, each stage puts only one multiply and
        // one subtraction on the path from its input to its output.
        float* bl = io[0] + start;
        float* br = io[1] + start;
        float zl[kStages], zr[kStages];
        for (int s = 0; s < kStages; ++s) {
            zl[s] = stages_[0][s];
            zr[s] = stages_[1][s];
        }
        float tapL = lastTap_[0], tapR = lastTap_[1];
        for (int i = 0; i < n; ++i) {
            const float xl = bl[i], xr = br[i];
            const float k = coef_[i], p = 1.0f - k, q = 1.0f + p;
            float inL = xl - fb * tapL;
            float inR = xr - fb * tapR;
            for (int s = 0; s < kStages; ++s) {
                const float outL = p * inL - q * zl[s];
                const float outR = p * inR - q * zr[s];
                zl[s] = p * zl[s] + k * inL;
                zr[s] = p * zr[s] + k * inR;
                inL = outL;
                inR = outR;
            }
            tapL = inL;
            tapR = inR;
            bl[i] = (xl + tapL) * wet + xl * dry;
            br[i] = (xr + tapR) * wet + xr * dry;
        }
        for (int s = 0; s < kStages; ++s) {
            stages_[0][s] = dsp::flushSmall(zl[s]);
            stages_[1][s] = dsp::flushSmall(zr[s]);
        }
        lastTap_[0] = dsp::flushSmall(tapL);
        lastTap_[1] = dsp::flushSmall(tapR);
    }
}

long FxVintagePhaser::subnormalCount() const {
    return dsp::countSubnormal(&stages_[0][0], 16) + dsp::countSubnormal(lastTap_, 2) +
           chorus_.subnormalCount();
}

bool FxVintagePhaser::rests(int stages) const {
    for (int s = 0; s < stages; ++s)
        if (stages_[0][s] != 0.0f || stages_[1][s] != 0.0f) return false;
    return lastTap_[0] == 0.0f && lastTap_[1] == 0.0f;
}

void FxVintagePhaser::process(int frames, float** io) noexcept {
    if (frames <= 0) return;
    // A phaser at rest leaves a silent block silent; only its sweep moves on.
    rested_ = idleSkipping_ && phaserType_ <= 2 && rests(4 + 2 * phaserType_) &&
              isSilentBlock(io[0], io[1], frames);
    if (rested_) {
        const uint32_t inc = static_cast<uint32_t>(static_cast<int64_t>(phasePerHz * rate_));
        lfoPhase_ += inc * static_cast<uint32_t>(frames);
        return;
    }
    switch (phaserType_) {
        case 0:
            runPhaser<4>(frames, io);
            break;
        case 1:
            runPhaser<6>(frames, io);
            break;
        case 2:
            runPhaser<8>(frames, io);
            break;
        default:
            chorus_.process(io[0], io[1], frames);
            break;
    }
}

}  // namespace corvane
