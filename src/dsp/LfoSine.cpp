#include "dsp/LfoSine.h"

#include <array>
#include <cmath>
#include <numbers>

namespace corvane {

namespace {

std::array<float, kLfoSineSize> buildLfoSine() {
    std::array<float, kLfoSineSize> t{};
    for (int i = 0; i < kLfoSineSize; ++i)
        t[static_cast<size_t>(i)] =
            static_cast<float>(0.999 * std::sin(2.0 * std::numbers::pi * i / 2048.0));
    return t;
}

}  // namespace

const float* lfoSine() {
    static const std::array<float, kLfoSineSize> table = buildLfoSine();
    return table.data();
}

}  // namespace corvane
