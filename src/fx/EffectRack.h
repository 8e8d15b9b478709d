#pragma once
// The effect rack: six effects run over the effect bus in the user's order. Distortion and
// the two EQ bands live here; the phaser/chorus, the delay and the reverb are processors of
// their own. An effect that is switched off is not called and keeps its state.
#include <cstdint>

#include "dsp/Lifecycle.h"
#include "dsp/Module.h"
#include "dsp/Random.h"
#include "fx/DelayModulation.h"
#include "fx/DistortionCurves.h"
#include "fx/FxDelay.h"
#include "fx/FxReverb.h"
#include "fx/FxVintagePhaser.h"

namespace corvane {

class EffectRack {
  public:
    // Effect numbers as the order slots name them.
    enum Effect { kDistortion = 0, kEq1, kEq2, kPhaser, kDelay, kReverb, kEffectCount };
    // Engine slots of the effect parameters and on switches.
    static constexpr int kFirstSlot = 79;
    static constexpr int kLastSlot = 121;

    explicit EffectRack(Random& random);
    // control, while stopped
    void prepare(double sr, int maxBlock);
    void reset();
    // any thread: engine slots 79..121 (effect parameters and on switches)
    void setParameter(int index, float value);
    // audio: processes io[0], io[1] in place in the order given (values outside 0..5 skip;
    // a null order runs the default order 0..5)
    void process(int frames, float** io, const int32_t* effectOrder, float tempo,
                 const DelayModulation& mod) noexcept;

    // audio: the two effects that have no processor object of their own
    void processDistortion(int frames, float** io);
    void processEq(int band, int frames, float** io);

    // control, while stopped: with `on` (the default) an effect whose state is at rest skips
    // a silent block, which it would leave silent; off, every block is computed (tests
    // compare the two).
    void setIdleSkipping(bool on);
    // Whether the effect's last block was skipped at rest (or gated, for the reverb).
    bool rested(int effect) const;

    bool isOn(int effect) const;
    int distortionType() const { return distType_; }
    // Subnormal values in every effect's state, switched on or not (diagnostics).
    long subnormalCount() const;

    FxVintagePhaser phaser;
    FxDelay delay;
    FxReverb reverb;

  private:
    struct DistortionState {
        float s1 = 0.0f, y1 = 0.0f, s2 = 0.0f, y2 = 0.0f;
    };
    struct EqState {
        float x1 = 0.0f, y1 = 0.0f, x2 = 0.0f, y2 = 0.0f;
    };
    struct Band {
        int type = 0;
        float frequency = 1000.0f;
        float q = 1.0f;
        float gain = 1.0f;
        EqState state[2];
    };
    struct DistortionCoefs {
        float a1, b0, b1;  // colour stage
        float g, s;        // pre-gain and crunch scale
        float dcA1, dcB0;  // DC blocker of the clip type
    };
    template <int kFamily>
    static curves::Float4 shape4(curves::Float4 x, const DistortionCoefs& c);
    template <int kFamily>
    static float shape(float x, const DistortionCoefs& c);
    template <int kFamily>
    static float filterShaped(float u, DistortionState& st, const DistortionCoefs& c);
    template <int kFamily>
    static float distortSample(float x, DistortionState& st, const DistortionCoefs& c);
    template <int kFamily>
    void runDistortion(float** io, const DistortionCoefs& c, float dryStep, float wetStep,
                       int frames);
    // True when the state of the family is at rest: a silent block would leave it so and
    // come out silent.
    template <int kFamily>
    bool distortionRests(const DistortionCoefs& c) const;
    // The units themselves; with `maySkip` a silent block leaves a unit at rest untouched.
    void distortBlock(int frames, float** io, bool maySkip);
    void eqBlock(int band, int frames, float** io, bool maySkip);

    Module filters_;  // sample rate and coefficient helpers for distortion and EQ
    // on flags: phaser, delay, reverb, distortion, EQ-1, EQ-2
    uint8_t fxOn_[6] = {};
    int distType_ = 0;
    float distColour_ = 1.0f, distDrive_ = 0.0f, distAmount_ = 0.0f;
    float dryGain_ = -1.0f, wetGain_ = 0.0f;
    DistortionState distState_[2];
    Band bands_[2];
    bool idleSkipping_ = true;
    bool rested_[3] = {};  // distortion, EQ-1, EQ-2
};

}  // namespace corvane
