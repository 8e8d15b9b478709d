#include "dsp/Module.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace corvane {

namespace {

// Pre-warped analogue frequency of the bilinear transform. A corner at or above Nyquist
// (20 kHz at 22.05 kHz, say) would make tan() wrap to a negative value and the filter
// unstable, so the corner is held just below Nyquist.
double prewarp(double k, double f, double sampleRate) {
    const double fc = std::min(f, 0.49 * sampleRate);
    return k * std::tan(std::numbers::pi * fc / sampleRate);
}

}  // namespace

void Module::setModuleSampleRate(double sr) {
    sampleRate = sr;
    phasePerHz = static_cast<float>(4294967296.0 / sr);
}

void Module::lowpassCoefs(float f, float& a1, float& b0) const {
    const double k = 2.0 * sampleRate;
    const double w = prewarp(k, f, sampleRate);
    a1 = static_cast<float>((w - k) / (w + k));
    b0 = static_cast<float>(w / (w + k));
}

void Module::highpassCoefs(float f, float& a1, float& b0) const {
    const double k = 2.0 * sampleRate;
    const double w = prewarp(k, f, sampleRate);
    a1 = static_cast<float>((w - k) / (w + k));
    b0 = static_cast<float>(k / (w + k));
}

void Module::lowShelfCoefs(float f, float g, float& a1, float& b0, float& b1) const {
    const double k = 2.0 * sampleRate;
    const double w = 2.0 * std::numbers::pi * f;
    if (g > 1.0f) {
        a1 = static_cast<float>((w - k) / (k + w));
        b0 = static_cast<float>((k + w * g) / (k + w));
        b1 = static_cast<float>((w * g - k) / (k + w));
    } else {
        const double d = k + w / g;
        a1 = static_cast<float>((w / g - k) / d);
        b0 = static_cast<float>((k + w) / d);
        b1 = static_cast<float>((w - k) / d);
    }
}

void Module::highShelfCoefs(float f, float g, float& a1, float& b0, float& b1) const {
    const double k = 2.0 * sampleRate;
    const double w = prewarp(k, f, sampleRate);
    if (g > 1.0f) {
        a1 = static_cast<float>((w - k) / (w + k));
        b0 = static_cast<float>((w + k * g) / (w + k));
        b1 = static_cast<float>((w - k * g) / (w + k));
    } else {
        const double d = w + k / g;
        a1 = static_cast<float>((w - k / g) / d);
        b0 = static_cast<float>((w + k) / d);
        b1 = static_cast<float>((w - k) / d);
    }
}

void Module::peakCoefs(float f, float g, float q, float& b0, float& b1, float& b2,
                       float& a2) const {
    const double k = 2.0 * sampleRate;
    const double w = 2.0 * std::numbers::pi * f;
    const double d = w * w + k * w / q + k * k;
    b0 = static_cast<float>((w * w + k * g * w / q + k * k) / d);
    b1 = static_cast<float>((2.0 * w * w - 2.0 * k * k) / d);
    b2 = static_cast<float>((w * w - k * g * w / q + k * k) / d);
    a2 = static_cast<float>((w * w - k * w / q + k * k) / d);
}

}  // namespace corvane
