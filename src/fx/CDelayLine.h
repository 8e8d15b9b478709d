#pragma once
// A short delay line whose read speed glides: every sample is stamped with the write phase
// of its cycle and read back when the write phase reaches the same stamp one cycle later.
// Changing the cycle rate makes the old samples play faster or slower, bending their pitch
// like tape. Used in pairs by CDelay for the flanger and chorus types.
#include <vector>

namespace corvane {

class CDelayLine {
  public:
    // capacity: samples per cycle at the longest delay (at least 5); initialPhase 0..1 of
    // the triangle LFO. Allocates; control thread only.
    CDelayLine(int capacity, double initialPhase);
    virtual ~CDelayLine() = default;
    CDelayLine(CDelayLine&&) = default;
    CDelayLine& operator=(CDelayLine&&) = default;

    // any thread: plain stores of targets, taken up by the smoothing in process()
    void setSmoothing(float s);
    void setModDepth(double d) { modDepth_ = d > 0.0 ? (d < 1.0 ? d : 1.0) : 0.0; }
    // increment: LFO cycles per sample, held to 0..0.5 (NaN gives 0)
    void setModRate(double increment) {
        lfoIncrement_ = increment > 0.0 ? (increment < 0.5 ? increment : 0.5) : 0.0;
    }
    void setFeedback(float f);
    void setWet(float w);
    // t 0..1: one cycle lasts 2 + 0.99 * (capacity - 2) * t samples
    void setDelay(double t);

    // audio: buffer in place
    void process(float* buffer, int frames) noexcept;

    int capacity() const { return capacity_; }
    // Subnormal values among the line's contents, smoothers and states (diagnostics).
    long subnormalCount() const;
    bool resting() const { return resting_; }

  private:
    // One cycle of stamped samples, behind a prefix of three entries carried over from the
    // previous cycle (their stamps shifted by -1) so that reads near the cycle start can
    // interpolate across the boundary.
    struct LineBlock {
        std::vector<float> samples;
        std::vector<double> positions;
        int count = 0;
        int readIndex = 0;
    };
    static constexpr int kPrefix = 3;

    void rest();
    void append(LineBlock& b, float value, double position);

    int capacity_;
    LineBlock blocks_[2];
    int writeBlock_ = 0;
    double writePhase_ = 0.0;
    double rateTarget_ = 0.0, rate_ = 0.0;
    double lfoPhase_ = 0.0, lfoIncrement_ = 0.6 / 44100.0;
    double initialPhase_;
    double modDepth_ = 0.0;
    float feedbackTarget_ = 0.8f, feedback_ = 0.8f;
    float wetTarget_ = 0.0f, wet_ = 0.0f;
    float inputGain_ = 0.0f;
    float smoothing_ = 0.05f;
    float out_ = 0.0f;
    bool resting_ = true;
};

}  // namespace corvane
