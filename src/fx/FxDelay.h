#pragma once
// The tempo-synchronised stereo delay: two 2^18-sample rings whose lengths are note values
// of the host tempo, nine types (simple, five ping-pongs, multi-tap, two diffuse), a colour
// filter on the echoes and a wobble of the read position by the engine's global LFO 2.
#include <cstdint>
#include <memory>

#include "dsp/Lifecycle.h"
#include "dsp/Module.h"
#include "fx/DelayModulation.h"

namespace corvane {

class FxDelay : public Module {
  public:
    static constexpr int kRingLength = 1 << 18;
    static constexpr uint32_t kRingMask = kRingLength - 1;
    static constexpr int kDiffuserLength = 4096;

    FxDelay();
    ~FxDelay() override;
    FxDelay(const FxDelay&) = delete;
    FxDelay& operator=(const FxDelay&) = delete;

    // control, while stopped
    virtual void prepare(double sr, int maxBlock);
    virtual void reset();
    // any thread: 0 type, 1 feedback, 2 rate left, 3 rate right, 6 colour, 7 amount
    virtual void setParameter(int index, float value);
    // audio: io[0], io[1] in place; tempo in BPM; mod may be null (no wobble)
    virtual void process(int frames, float** io, float tempo, const DelayModulation* mod) noexcept;
    // control, while stopped: whether a delay whose lines and filters are at rest skips
    // silent blocks, moving only its positions on (the default)
    void setIdleSkipping(bool on) { idleSkipping_ = on; }
    // Whether the last block was skipped at rest (diagnostics).
    bool rested() const { return rested_; }

    // Delay lengths in samples as used by the last block.
    int lengthLeft() const { return lengthL_; }
    int lengthRight() const { return lengthR_; }
    int type() const { return delayType_; }
    // Subnormal values in the rings, the diffusers and the colour states (diagnostics).
    long subnormalCount() const;

  private:
    struct Colour {
        float x1 = 0.0f, y1 = 0.0f;
        inline float step(float x, float a1, float b0, float b1);
    };
    struct Diffuser {
        float* buf = nullptr;
        int pos = 0;
        int length = 1;
    };
    struct Wobble;

    void computeLengths(float tempo);
    template <bool kModulated, bool kDiffused>
    void processSimple(int frames, float** io, Wobble& wob);
    template <bool kModulated>
    void processPingPong(int frames, float** io, Wobble& wob);
    template <bool kModulated>
    void processMultiTap(int frames, float** io, Wobble& wob);
    template <bool kModulated>
    void dispatch(int frames, float** io, Wobble& wob);
    // Rest: every echo a block can read is 0 and so are the colour (and diffuser) states.
    bool rests(bool modulated) const;
    void skipSilentBlock(int frames);
    // Counts the zeros written at the end of a block that started at write index `start`.
    void countZeroWrites(uint32_t start, int frames);

    float srScale_ = 1.0f;
    std::unique_ptr<float[]> ringL_, ringR_;
    std::unique_ptr<float[]> diffuserMemory_;
    Diffuser diffusers_[4];
    uint32_t writePos_ = 0;
    int lengthL_ = 1, lengthR_ = 1;
    int delayType_ = 0;
    float feedback_ = 0.0f;
    float rateL_ = 0.0f, rateR_ = 0.0f;
    float wet_ = 0.0f;
    float colourA1_ = 0.0f, colourB0_ = 1.0f, colourB1_ = 0.0f;
    Colour colourL_, colourR_;
    bool idleSkipping_ = true;
    bool rested_ = false;
    // Consecutive zeros (at most a ring's length) written to the lines in use up to the write
    // index, counted since the type was last changed.
    int zeroRun_ = kRingLength;
    int zeroRunType_ = 0;
};

}  // namespace corvane
