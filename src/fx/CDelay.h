#pragma once
// The stereo flanger/chorus: a pair of gliding delay lines (the right one starts its LFO a
// third of a cycle later and runs 10 % faster). Its feedback is always negative.
#include <memory>

#include "dsp/Lifecycle.h"
#include "fx/CDelayLine.h"

namespace corvane {

class CDelay {
  public:
    CDelay();
    virtual ~CDelay() = default;

    // control, while stopped: rebuilds both lines (50 ms each) and restores the defaults
    void prepare(double sr, int maxBlock);

    // any thread
    void setColour(float v);
    void setDelay(float v);
    void setRate(double hz);
    void setDepth(float v);
    void setWet(float v);
    void setPolarity(float p);
    void setFeedback(float v);

    // audio
    void process(float* left, float* right, int frames) noexcept;

    const CDelayLine& line(int side) const { return side == 0 ? *lineL_ : *lineR_; }
    float feedback() const { return feedback_; }
    long subnormalCount() const { return lineL_->subnormalCount() + lineR_->subnormalCount(); }

  private:
    double sampleRate_ = -1.0;
    std::unique_ptr<CDelayLine> lineL_, lineR_;
    float wetValue_ = 0.0f;
    float feedbackValue_ = 0.0f;
    float feedback_ = 0.0f;
    bool invertWet_ = false;
    bool invertFeedback_ = false;
    bool wetEnabled_ = false;
};

}  // namespace corvane
