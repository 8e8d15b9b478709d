#pragma once
// Curves shared by every voice, rebuilt on each sample-rate change.

namespace corvane {

struct EngineTables {
    static constexpr int kPitchRatioSize = 10753;  // 2^(i/1536): 128 steps a semitone, 7 octaves
    static constexpr int kPitchRatioLimit = 10750;
    static constexpr int kEnvSize = 1025;  // envelope time settings 0..1024

    // Per-sample factor bringing a level to a tenth in 2 ms .. 20 s.
    float envTime[kEnvSize];
    // Per-sample step climbing from 0 to 1 in 2 ms .. 20 s.
    float envRate[kEnvSize];
    float pitchRatio[kPitchRatioSize];
    // 0.95^(k+1): the fade of a REX slice's tail.
    float sliceFade[64];

    void build(double sampleRate);

    // Frequency ratio of a pitch difference in 1/128 semitone; 0.5 beyond about 84 semitones.
    float ratio(int d) const {
        if (d >= 0 && d <= kPitchRatioLimit) return pitchRatio[d];
        if (d < 0 && d >= -kPitchRatioLimit) return 1.0f / pitchRatio[-d];
        return 0.5f;
    }

    // Envelope table index of a time setting: trunc(v * 1024) within 0..1024.
    static int envIndex(float v) {
        const float x = v * 1024.0f;
        if (!(x >= 1.0f)) return 0;  // also NaN
        if (x >= 1024.0f) return 1024;
        return static_cast<int>(x);
    }
};

}  // namespace corvane
