#include "engine/EngineTables.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace corvane {

void EngineTables::build(double fs) {
    for (int i = 0; i < kEnvSize; ++i) {
        const double ms = 2.0 * std::pow(10000.0, i / 1024.0);
        envTime[i] = static_cast<float>(std::pow(0.1, 1000.0 / (ms * fs)));
        envRate[i] = static_cast<float>(1.0 / (ms * fs / 1000.0));
    }
    for (int i = 0; i < kPitchRatioSize; ++i)
        pitchRatio[i] = static_cast<float>(std::pow(2.0, i / 1536.0));
    for (int k = 0; k < 64; ++k)
        sliceFade[k] = static_cast<float>(std::pow(0.95, k + 1));
}

}  // namespace corvane
