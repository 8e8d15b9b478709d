#include "fx/CDelayLine.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "dsp/SafeMath.h"

namespace corvane {

namespace {

// Zero and denormal values (all exponent bits clear) count as 0.
float zeroIfTiny(float v) {
    return std::fabs(v) < FLT_MIN ? 0.0f : v;
}

// One step of a control smoother: 1 % of the way to the target, landing on it once closer
// than 1e-9.
float glide(float x, float target) {
    const float next = x + (target - x) * 0.01f;
    return std::fabs(target - next) < 1e-9f ? target : next;
}

}  // namespace

CDelayLine::CDelayLine(int capacity, double initialPhase)
    : capacity_(std::max(capacity, 5)), initialPhase_(initialPhase) {
    for (LineBlock& b : blocks_) {
        b.samples.assign(static_cast<size_t>(capacity_ + 10), 0.0f);
        b.positions.assign(static_cast<size_t>(capacity_ + 10), -1.0);
    }
    setDelay(0.2);
    rest();
}

void CDelayLine::setSmoothing(float s) {
    smoothing_ = dsp::safeClamp(s, 0.05f, 1.0f);
}
void CDelayLine::setFeedback(float f) {
    feedbackTarget_ = zeroIfTiny(dsp::safeClamp(f, -1.0f, 1.0f));
}
void CDelayLine::setWet(float w) {
    wetTarget_ = zeroIfTiny(dsp::safeClamp(w, -1.0f, 1.0f));
}

void CDelayLine::setDelay(double t) {
    const double n = capacity_;
    t = dsp::unitClamp(t);
    rateTarget_ = 1.0 / (((1.0 - 2.0 / n) * 0.99 * t + 2.0 / n) * n);
}

void CDelayLine::rest() {
    wet_ = 0.0f;
    for (LineBlock& b : blocks_) {
        b.count = 0;
        b.readIndex = 0;
        for (int i = 0; i < kPrefix; ++i) {
            b.samples[static_cast<size_t>(i)] = 0.0f;
            b.positions[static_cast<size_t>(i)] = static_cast<double>(i - kPrefix) * 1e-3;
        }
    }
    writePhase_ = 0.0;
    lfoPhase_ = initialPhase_;
    feedback_ = feedbackTarget_;
    rate_ = rateTarget_;
    inputGain_ = 0.0f;
    out_ = 0.0f;
    resting_ = true;
}

void CDelayLine::append(LineBlock& b, float value, double position) {
    // A cycle holds at most capacity + 2 stamps; the guard keeps rounding from overrunning.
    const int slot = kPrefix + b.count;
    if (slot >= static_cast<int>(b.samples.size())) return;
    b.samples[static_cast<size_t>(slot)] = value;
    b.positions[static_cast<size_t>(slot)] = position;
    ++b.count;
}

void CDelayLine::process(float* buffer, int frames) noexcept {
    if (std::fabs(wet_) < 1e-5f && std::fabs(wetTarget_) < 1e-5f) {
        // Every silent call rests the line again, so that delay, feedback and rate set
        // meanwhile are taken up at once when the wet level returns.
        rest();
        return;
    }
    resting_ = false;
    const double minStep = 1.0 / capacity_;
    for (int n = 0; n < frames; ++n) {
        const float x = buffer[n];

        // a. triangle LFO shaped by a smoothstep into a speed factor >= 1
        const double phi = lfoPhase_;
        const double tri = phi < 0.5 ? 2.0 * phi : 1.0 - 2.0 * (phi - 0.5);
        const double speed = std::max(1.0, modDepth_ * tri * tri * (3.0 - 2.0 * tri) + 1.0);
        lfoPhase_ += lfoIncrement_;
        if (lfoPhase_ > 1.0) lfoPhase_ -= 1.0;

        // b. read the previous cycle at the current write phase
        LineBlock& rb = blocks_[1 - writeBlock_];
        float value = 0.0f;
        {
            const float* s = rb.samples.data() + kPrefix;
            const double* p = rb.positions.data() + kPrefix;
            int i = rb.readIndex;
            while (i < rb.count && p[i] < writePhase_)
                ++i;
            rb.readIndex = i;
            if (i < rb.count) {
                const double p0 = p[i - 1], p1 = p[i];
                if (p1 == p0) {
                    value = s[i - 1];
                } else {
                    const double t = (writePhase_ - p0) / (p1 - p0);
                    value = static_cast<float>(s[i - 1] + (s[i] - s[i - 1]) * t);
                }
            }
        }

        // c. output smoothing; a state that has died away below 1e-9 rests at 0
        out_ = dsp::flushSmall(out_ + (value - out_) * smoothing_);

        // d./e. advance the write phase; at the end of a cycle the blocks swap roles. The
        // sample of this step is stamped in both cycles' coordinates across the boundary.
        const float lineInput = dsp::flushSmall(x * inputGain_ + feedback_ * out_);
        const double step = dsp::safeClamp(rate_ * speed, minStep, 0.2);
        writePhase_ += step;
        if (writePhase_ >= 1.0) {
            LineBlock& wb = blocks_[writeBlock_];
            for (int k = 0; k < kPrefix; ++k) {
                const size_t from = static_cast<size_t>(rb.count + k);  // last three, prefix-based
                wb.samples[static_cast<size_t>(k)] = rb.samples[from];
                wb.positions[static_cast<size_t>(k)] = rb.positions[from] - 1.0;
            }
            append(wb, lineInput, writePhase_);
            wb.readIndex = 0;
            writeBlock_ = 1 - writeBlock_;
            blocks_[writeBlock_].count = 0;
            writePhase_ -= 1.0;
        }
        append(blocks_[writeBlock_], lineInput, writePhase_);

        // f. mix
        buffer[n] = x + wet_ * out_;

        // g. control smoothing; each smoother lands on its target once within 1e-9 of it,
        // so that none creeps towards a zero target through subnormal values
        rate_ += (rateTarget_ - rate_) * 0.001;
        if (std::fabs(rateTarget_ - rate_) < 1e-8) rate_ = rateTarget_;
        wet_ = glide(wet_, wetTarget_);
        inputGain_ = glide(inputGain_, 1.0f);
        feedback_ = glide(feedback_, feedbackTarget_);
    }
}

long CDelayLine::subnormalCount() const {
    long n = dsp::countSubnormal(rate_) + dsp::countSubnormal(lfoPhase_);
    const float smoothers[5] = {feedback_, wet_, inputGain_, out_, smoothing_};
    n += dsp::countSubnormal(smoothers, 5);
    for (const LineBlock& b : blocks_)
        n += dsp::countSubnormal(b.samples.data(), static_cast<long>(b.samples.size()));
    return n;
}

}  // namespace corvane
