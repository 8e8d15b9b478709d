#pragma once
// The reverb: five types built from one input stage (damping low-pass, low cut, pre-delay
// ring), early reflection taps into the pre-delay ring, a late part of damped feedback combs
// ("Diffuse-1", "Room", "Hall", "Cathedral") or a 16-line Hadamard feedback delay network
// ("Diffuse-2"), and two modulated all-pass diffusers on the way out. A silence gate stops
// all work once the input has been silent for longer than the decay time.
#include <atomic>
#include <cstdint>
#include <vector>

#include "dsp/Lifecycle.h"
#include "dsp/Module.h"
#include "dsp/Random.h"

namespace corvane {

class FxReverb : public Module {
  public:
    static constexpr int kCombs = 64;
    static constexpr int kFdnLines = 16;
    static constexpr int kPoolSize = 262144;
    static constexpr int kDiffuserSize = 4096;
    static constexpr int kRightRingSize = 1024;
    static constexpr int kMaxTaps = 176;
    static constexpr int kChunk = 256;

    explicit FxReverb(Random& random);
    ~FxReverb() override;
    FxReverb(const FxReverb&) = delete;
    FxReverb& operator=(const FxReverb&) = delete;

    // control, while stopped (allocates: the pre-delay ring grows with the rate)
    virtual void prepare(double sr, int maxBlock);
    virtual void reset();
    // any thread: 0 type, 1 decay, 2 damp, 4 pre-delay, 5 low cut, 8 amount
    virtual void setParameter(int index, float value);
    // audio: io[0], io[1] in place
    virtual void process(int frames, float** io) noexcept;

    // control: lets the AVX2/FMA kernels run where the processor has them (the default);
    // false keeps every instance on the baseline SSE2 code
    static void allowWideKernels(bool allow);

    int type() const { return requestedType_.load(std::memory_order_relaxed); }
    int predelaySamples() const { return predelay_; }
    int earlyOffset() const { return erOffset_; }
    int combLength(int k) const { return combs_[k].length; }
    int fdnLength(int j) const { return fdn_[j].length; }
    int diffuserLength(int side) const { return diffuserLength_[side]; }
    bool gated() const { return gated_; }
    // Subnormal values in the lines, rings, diffusers and filter states (diagnostics).
    long subnormalCount() const;

  private:
    struct Comb {
        int offset = 0, length = 1, pos = 0;
        float gain = 0.0f, state = 0.0f;
    };
    struct FdnLine {
        int offset = 0, length = 1, pos = 0;
        float gain = 0.0f, coef = 0.0f, state = 0.0f;
    };
    struct TapSet {
        int count = 0;
        int pos[kMaxTaps] = {};
        float gain[kMaxTaps] = {};
    };

    void setUpLengths();
    void setUpTaps();
    void applyPendingChanges();
    void recomputeCombGains();
    int clampTap(double pos) const;
    void runInputStage(const float* left, const float* right, int n);
    void runEarly(int n);
    void runLateInput(int n, int blockPos, int blockFrames);
    void runCombs(const int* index, const float* sign, const float* gainL, const float* gainR,
                  int count, int n);
    void runFdn(int n);
    void runOutput(float* left, float* right, int n);

    Random& random_;
    // Type and pre-delay changes arrive on any thread; the audio thread applies them at the
    // next block (reset for "Diffuse-2", tap set-up, random taps drawn from random_), so
    // buffers, taps and the generator are only ever touched by one thread at a time.
    std::atomic<int> requestedType_{-1};
    std::atomic<bool> tapsDirty_{false};
    int type_ = -1;
    int predelayMs_ = 0;
    int predelay_ = 0;
    int erOffset_ = 0;
    float decayTime_ = 5.028f;
    float damp_ = 0.9f;
    float dampRatio_ = 1.0f;
    float wetTarget_ = 0.0f;
    float wet_ = -1.0f;
    float wetStep_ = 0.0f;
    float lowCutA1_ = 0.0f, lowCutB0_ = 1.0f;
    float dampA1_ = 0.0f, dampB0_ = 1.0f;
    float dampX1_ = 0.0f, dampY1_ = 0.0f, lowCutZ1_ = 0.0f;

    std::vector<float> preRing_;
    uint32_t preMask_ = 0;
    uint32_t preWrite_ = 0;
    int rememberedDelay_ = -1;
    int delayOld_ = 0, delayNew_ = 0;

    TapSet tapsL_, tapsR_, tapsShared_;  // shared taps: added left, subtracted right

    std::vector<float> pool_;
    Comb combs_[kCombs];
    FdnLine fdn_[kFdnLines];
    float fdnOutScale_ = 0.125f;

    std::vector<float> diffuser_[2];
    int diffuserLength_[2] = {1, 1};
    int diffuserWrite_ = 0;
    uint32_t diffuserPhase_ = 0;
    uint32_t diffuserIncrement_ = 0;
    float diffuserGain_[2] = {0.69f, 0.7f};

    float rightRing_[kRightRingSize] = {};
    uint32_t rightWrite_ = 0;
    uint32_t rightDelay_ = 99;

    int32_t silence_ = 10000000;
    bool gated_ = true;

    // chunk scratch
    float late_[kChunk] = {};
    float erL_[kChunk] = {}, erR_[kChunk] = {}, erShared_[kChunk] = {};
    float sumL_[kChunk] = {}, sumR_[kChunk] = {};
};

}  // namespace corvane
