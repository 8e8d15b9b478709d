#include "engine/Lfo.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "dsp/SafeMath.h"
#include "patch/ParamRanges.h"

namespace corvane {

const float kLfoSyncLengths[kLfoSyncEntries] = {
    768.0f, 512.0f, 341.333f, 384.0f, 256.0f, 170.667f, 192.0f, 128.0f, 85.333f,
    96.0f,  64.0f,  42.667f,  48.0f,  32.0f,  21.333f,  24.0f,  16.0f,  10.667f,
    12.0f,  8.0f,   5.333f,   6.0f,   4.0f,   2.667f,   3.0f,   2.0f,   1.333f,
};

namespace {
// Slot values arrive unchecked; keep every conversion inside its table.
float unit(float v) {
    return dsp::unitClamp(v);
}
}  // namespace

Lfo::Lfo(int number) : number_(number) {
    setRate(0.0f);
    rebuildTable();
}

void Lfo::prepare(double fs, int /*maxBlock: works in chunks of its own*/) {
    fs_ = fs > 0.0 ? fs : 44100.0;
    setSkew(skew_);
    setCurrentRate(rate_);
}

void Lfo::setShape(float v) {
    shape_ = static_cast<int>(unit(v) * 3.0f);
    rebuildTable();
}

void Lfo::setRate(float v) {
    rateValue_ = v;
    setCurrentRate(rateFor(v));
}

void Lfo::setSkew(float v) {
    skew_ = v;
    const double f = std::pow(100000.0, 1.0 - unit(v));
    holdCoef_ = static_cast<float>(1.0 - std::exp(-2.0 * std::numbers::pi * f / fs_));
    rebuildTable();
}

void Lfo::setFadeIn(float v) {
    const float seconds = static_cast<float>(
        mapped(kLfoFadeInSeconds, static_cast<double>(unit(v))) - kLfoFadeInOffset);
    fade_ = seconds < 0.001f ? 0.0f : seconds;
}

void Lfo::setSync(float v) {
    sync_ = v > 0.00001f;
    setCurrentRate(rateFor(rateValue_));
}

void Lfo::setReset(float v) {
    reset_ = v > 0.4f;
}

void Lfo::beginBlock(double tempo) {
    tempo_ = tempo;
    if (sync_) setCurrentRate(syncedRate(rateValue_, tempo));
}

void Lfo::modulateRate(float setting) {
    setCurrentRate(rateFor(dsp::unitClamp(setting)));
}

double Lfo::freeRate(float v) {
    return mapped(kLfoFreeRateHz, static_cast<double>(unit(v)));
}

double Lfo::syncedRate(float v, double tempo) {
    const int entry = static_cast<int>(unit(v) * 26.001f);
    return tempo / (3.75 * kLfoSyncLengths[std::min(entry, kLfoSyncEntries - 1)]);
}

double Lfo::rateFor(float setting) const {
    return sync_ ? syncedRate(setting, tempo_) : freeRate(setting);
}

uint32_t Lfo::incrementFor(double rateHz) const {
    const double step = rateHz * 4294967296.0 / fs_;
    // A tempo far outside any host's range must not overflow the phase step.
    if (!(step > 0.0)) return 0;
    if (step >= 4294967295.0) return 4294967295u;
    return static_cast<uint32_t>(step);
}

void Lfo::setCurrentRate(double hz) {
    rate_ = hz;
    increment_ = incrementFor(hz);
}

float Lfo::fadeFactor(uint32_t age) const {
    if (fade_ <= 0.0f) return 1.0f;
    const float f = static_cast<float>(age) / (fade_ * static_cast<float>(fs_));
    return std::min(1.0f, f);
}

float Lfo::evaluate(uint32_t phase, float& holdTarget, float& held, uint32_t age, int frames,
                    uint32_t increment, Random& random) const {
    if (shape_ != kLfoSampleHold) return read(phase);
    const uint64_t end = static_cast<uint64_t>(phase) +
                         static_cast<uint64_t>(increment) * static_cast<uint64_t>(frames);
    if (age == 0 || end >= (uint64_t{1} << 32)) {
        holdTarget = static_cast<float>(random.next()) * 2.0f / 32767.0f - 1.0f;
    }
    held += holdCoef_ * (holdTarget - held);
    if (std::fabs(held) < 1e-9f) held = 0.0f;
    return held;
}

void Lfo::rebuildTable() {
    const double v = unit(skew_);
    float* t = table_;
    switch (shape_) {
        case kLfoSaw: {
            const double s1 = 0.25 * std::pow(16.0, v);
            for (int i = 0; i < kLfoTableSize; ++i) {
                double r;
                if (number_ == 0) {
                    // a 16-bit ramp falling from +1 to -1
                    r = std::trunc(32767.0 - i * 65534.0 / 2048.0) / 32768.0;
                } else if (i <= 128) {
                    r = -1.0 + i / 64.0;  // rises over the first 128 points
                } else {
                    r = 1.0 - (i - 128) / 960.0;  // falls over the other 1920
                }
                t[i] = static_cast<float>(2.0 * std::pow((r + 1.0) * 0.5, s1) - 1.0);
            }
            break;
        }
        case kLfoPulse: {
            const int high = static_cast<int>(v * 2032.0) + 8;
            for (int i = 0; i < kLfoTableSize; ++i)
                t[i] = i < high ? 1.0f : -1.0f;
            if (number_ != 0) {
                // sloped edges: 64 points down after the high run, 64 up at the end
                for (int k = 0; k < 64 && high + k < kLfoTableSize; ++k) {
                    t[high + k] = 1.0f - static_cast<float>(k + 1) / 32.0f;
                }
                for (int k = 0; k < 64; ++k) {
                    t[kLfoTableSize - 64 + k] = -1.0f + static_cast<float>(k + 1) / 32.0f;
                }
            }
            break;
        }
        case kLfoSine: {
            const double s2 = 0.5 * std::pow(4.0, v);
            for (int i = 0; i < kLfoTableSize; ++i) {
                const double x = 0.999 * std::sin(2.0 * std::numbers::pi * i / 2048.0);
                const double m = std::pow(std::fabs(x), s2);
                t[i] = static_cast<float>(x < 0.0 ? -m : m);
            }
            t[kLfoTableSize] = t[0];
            break;
        }
        default:
            break;  // S+H does not read the table
    }
}

}  // namespace corvane
