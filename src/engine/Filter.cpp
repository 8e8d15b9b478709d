#include "engine/Filter.h"

#include "dsp/CpuFeatures.h"
#include "dsp/SafeMath.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace corvane {

void FilterState::flush() {
    ic1L = dsp::flushSmall(ic1L);
    ic2L = dsp::flushSmall(ic2L);
    ic1R = dsp::flushSmall(ic1R);
    ic2R = dsp::flushSmall(ic2R);
}

Filter::Filter() : table_(new float[kCutoffTableSize]) {
    buildTable(44100.0);
    useWideKernel(true);
}

void Filter::useWideKernel(bool on) {
#if CORVANE_FILTER_WIDE
    wide_ = on && dsp::cpuFeatures().avx2;
#else
    (void)on;
    wide_ = false;
#endif
}

void Filter::buildTable(double fs) {
    for (int j = 0; j < kCutoffTableSize; ++j) {
        double f = 1.021974609375 * std::pow(2.0, j / 768.0);
        f = std::clamp(f, 10.0, 20000.0);
        // At low sample rates 20 kHz lies beyond Nyquist, where tan() turns negative and
        // the filter would explode; keep the top just below Nyquist instead.
        f = std::min(f, 0.49 * fs);
        table_[j] = static_cast<float>(std::tan(std::numbers::pi * f / fs));
    }
}

void Filter::setType(float raw) {
    // a raw number from the patch; anything that is no type 1..4 leaves the voices unfiltered
    const float x = raw + 0.0000001f;
    type_ = !(x > 0.0f) ? kFilterOff : (x >= 100.0f ? 100 : static_cast<int>(x));
}

void Filter::setResonance(float v) {
    k_ = static_cast<float>(2.0 * std::pow(32.0, -v));
}

}  // namespace corvane
