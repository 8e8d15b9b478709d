#include "fx/CDelay.h"

#include <cmath>

namespace corvane {

CDelay::CDelay() {
    prepare(44100.0, dsp::kDefaultMaxBlock);
}

void CDelay::prepare(double sr, int /*maxBlock: works in chunks of its own*/) {
    if (sr == sampleRate_) return;
    sampleRate_ = sr;
    const int n = static_cast<int>(std::floor(0.05 * sr));
    lineL_ = std::make_unique<CDelayLine>(n, 0.0);
    lineR_ = std::make_unique<CDelayLine>(n, 0.3);
    wetEnabled_ = true;
    setDelay(0.2f);
    setRate(0.15);
    setDepth(1.0f);
    invertWet_ = true;
    setWet(1.0f);
    invertFeedback_ = true;
    setFeedback(0.5f);
    lineL_->setSmoothing(1.0f);
    lineR_->setSmoothing(1.0f);
}

void CDelay::setColour(float v) {
    const float s = 0.95f * v + 0.05f;
    lineL_->setSmoothing(s);
    lineR_->setSmoothing(s);
}

void CDelay::setDelay(float v) {
    const float t = 0.99f * v * v + 0.01f;
    lineL_->setDelay(t);
    lineR_->setDelay(t);
}

void CDelay::setRate(double hz) {
    const double inc = hz / sampleRate_;
    lineL_->setModRate(inc);
    lineR_->setModRate(1.1 * inc);
}

void CDelay::setDepth(float v) {
    lineL_->setModDepth(static_cast<double>(v) * v);
    lineR_->setModDepth(static_cast<double>(v) * v);
}

void CDelay::setWet(float v) {
    wetValue_ = v;
    float wet = v * v;
    if (invertWet_) wet = -wet;
    if (!wetEnabled_) wet = 0.0f;
    lineL_->setWet(wet);
    lineR_->setWet(wet);
}

void CDelay::setPolarity(float p) {
    invertWet_ = p > 0.5f;
    setWet(wetValue_);
}

void CDelay::setFeedback(float v) {
    feedbackValue_ = v;
    float fb = 0.95f * v * v;
    if (invertFeedback_) fb = -fb;
    feedback_ = fb;
    lineL_->setFeedback(fb);
    lineR_->setFeedback(fb);
}

void CDelay::process(float* left, float* right, int frames) noexcept {
    lineL_->process(left, frames);
    lineR_->process(right, frames);
}

}  // namespace corvane
