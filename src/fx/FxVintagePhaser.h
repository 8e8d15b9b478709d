#pragma once
// The modulation effect: three phasers (4, 6 or 8 first-order all-pass stages swept by a
// sine LFO) and four flanger/chorus types run by a CDelay.
#include <cstdint>

#include "dsp/Lifecycle.h"
#include "dsp/Module.h"
#include "fx/CDelay.h"

namespace corvane {

class FxVintagePhaser : public Module {
  public:
    FxVintagePhaser();

    // control, while stopped
    virtual void prepare(double sr, int maxBlock);
    virtual void reset();
    // any thread: 0 rate, 1 freq, 2 feedback, 3 amount, 4 depth, 5 type
    void setParameter(int index, float value);
    // audio: io[0], io[1] in place
    void process(int frames, float** io) noexcept;
    // control, while stopped: whether a phaser at rest skips silent blocks (the default)
    void setIdleSkipping(bool on) { idleSkipping_ = on; }
    // Whether the last block was skipped at rest (diagnostics).
    bool rested() const { return rested_; }

    int type() const { return phaserType_; }
    const CDelay& chorus() const { return chorus_; }
    // Subnormal values among the stage states and the chorus lines (diagnostics).
    long subnormalCount() const;

  private:
    static constexpr int kChunk = 256;
    template <int kStages>
    void runPhaser(int frames, float** io);
    // The first `stages` stage states and the taps are 0: silence stays silence.
    bool rests(int stages) const;

    int phaserType_ = 0;
    float rate_ = 0.05f;
    double freq_ = 200.0;
    float feedback_ = 0.0f;
    float wet_ = 0.0f, dry_ = 1.0f;
    float depth_ = 0.0f;
    uint32_t lfoPhase_ = 0;
    float stages_[2][8] = {};
    float lastTap_[2] = {};
    float coef_[kChunk] = {};  // the per-sample stage coefficient k, shared by both channels
    CDelay chorus_;
    bool idleSkipping_ = true;
    bool rested_ = false;
};

}  // namespace corvane
