#pragma once
#include <cstdint>

namespace corvane {

// Base of the engine and the effect processors: the sample rate and the shared
// first-order and peaking filter coefficient helpers.
class Module {
  public:
    virtual ~Module() = default;

    void setModuleSampleRate(double sr);

    void lowpassCoefs(float f, float& a1, float& b0) const;
    void highpassCoefs(float f, float& a1, float& b0) const;
    void lowShelfCoefs(float f, float g, float& a1, float& b0, float& b1) const;
    void highShelfCoefs(float f, float g, float& a1, float& b0, float& b1) const;
    void peakCoefs(float f, float g, float q, float& b0, float& b1, float& b2, float& a2) const;

    double sampleRate = 44100.0;
    float phasePerHz = static_cast<float>(4294967296.0 / 44100.0);
};

}  // namespace corvane
