#pragma once
// The voice filter: a zero-delay-feedback (trapezoidal) state-variable filter with low-pass,
// band-pass, band-stop and high-pass outputs. The cutoff is a normalised 0..1 value mapped
// through `cutoffTable` (768 entries per octave); it ramps linearly across a sub-block and
// moves with the filter envelope on every sample.
#include <cstdint>
#include <memory>

namespace corvane {

constexpr int kCutoffTableSize = 11520;

// Values of the `Filter Type` slot.
enum FilterType : int {
    kFilterOff = 0,
    kFilterLowpass = 1,
    kFilterBandpass = 2,
    kFilterBandstop = 3,
    kFilterHighpass = 4,
};

// Per-voice filter state: two integrators per channel and the cutoff reached at the end of
// the previous sub-block.
struct FilterState {
    float ic1L = 0.0f, ic2L = 0.0f, ic1R = 0.0f, ic2R = 0.0f;
    // Below -99 the next sub-block starts at its target without a ramp.
    float previousCutoff = -1000.0f;

    // Voice start: silent integrators, no ramp yet.
    void start() {
        clear();
        previousCutoff = -1000.0f;
    }
    // Type change: only the integrators are emptied.
    void clear() { ic1L = ic2L = ic1R = ic2R = 0.0f; }
    // States below 1e-9 in magnitude become exactly 0 (once per sub-block).
    void flush();
};

// Engine-wide filter settings and the cutoff table. The type and damping are read from here
// by every voice at each sub-block.
class Filter {
  public:
    Filter();

    // control: rebuilt on every sample-rate change
    void buildTable(double fs);
    // any thread: one plain store each
    void setType(float raw);     // raw 0..4 as stored in the slot
    void setResonance(float v);  // k = 2 * 32^-v, Q 0.5..16
    int type() const { return type_; }
    float damping() const { return k_; }
    const float* table() const { return table_.get(); }

    // Cutoff target of one sub-block: the smoothed `Filter Cutoff`, the modulation and the
    // key tracking (1.0 moves one semitone per semitone counted from key 0).
    static float cutoffTarget(float cutoffSmoothed, float cutoffModulation, float pitch,
                              float keyTrack) {
        return cutoffSmoothed + cutoffModulation + pitch * keyTrack / 23040.0f;
    }
    // Table index of a normalised cutoff, limited to the table.
    static int tableIndex(float cutoff) {
        float x = cutoff * static_cast<float>(kCutoffTableSize);
        if (!(x > 0.0f)) return 0;  // also catches NaN
        if (x >= static_cast<float>(kCutoffTableSize - 1)) return kCutoffTableSize - 1;
        return static_cast<int>(x);
    }

    // audio: filters one sub-block in place. `left` and `right` advance by `stride` floats
    // per frame (2 for an interleaved buffer). `envelope()` advances the filter envelope by
    // one sample and returns its level; with the filter off it is not called, the signal is
    // left untouched and only the ramp's end point is remembered.
    template <class Envelope>
    void process(FilterState& s, float target, float envAmount, Envelope& envelope, float* left,
                 float* right, int stride, int frames) const {
        const float start = s.previousCutoff >= -99.0f ? s.previousCutoff : target;
        s.previousCutoff = target;
        if (frames <= 0) return;
        const float step = (target - start) / static_cast<float>(frames);
        switch (type_) {
            case kFilterLowpass:
                run<kFilterLowpass>(s, start, step, envAmount, envelope, left, right, stride,
                                    frames);
                break;
            case kFilterBandpass:
                run<kFilterBandpass>(s, start, step, envAmount, envelope, left, right, stride,
                                     frames);
                break;
            case kFilterBandstop:
                run<kFilterBandstop>(s, start, step, envAmount, envelope, left, right, stride,
                                     frames);
                break;
            case kFilterHighpass:
                run<kFilterHighpass>(s, start, step, envAmount, envelope, left, right, stride,
                                     frames);
                break;
            default:
                return;
        }
        s.flush();
    }

  private:
    template <int Type, class Envelope>
    void run(FilterState& s, float ci, float step, float a, Envelope& envelope, float* left,
             float* right, int stride, int frames) const {
        const float* table = table_.get();
        const float k = k_;
        float ic1L = s.ic1L, ic2L = s.ic2L, ic1R = s.ic1R, ic2R = s.ic2R;
        for (int i = 0; i < frames; ++i) {
            const float e = envelope();
            const float g = table[tableIndex(e * a + ci)];
            ci += step;
            const float h = 1.0f / (1.0f + g * (g + k));
            const float xL = left[i * stride];
            const float xR = right[i * stride];
            const float bpL = h * ic1L + g * h * (xL - ic2L);
            const float bpR = h * ic1R + g * h * (xR - ic2R);
            const float lpL = ic2L + g * bpL;
            const float lpR = ic2R + g * bpR;
            ic1L = 2.0f * bpL - ic1L;
            ic1R = 2.0f * bpR - ic1R;
            ic2L = 2.0f * lpL - ic2L;
            ic2R = 2.0f * lpR - ic2R;
            if constexpr (Type == kFilterLowpass) {
                left[i * stride] = lpL;
                right[i * stride] = lpR;
            } else if constexpr (Type == kFilterBandpass) {
                left[i * stride] = bpL;
                right[i * stride] = bpR;
            } else if constexpr (Type == kFilterBandstop) {
                left[i * stride] = xL - bpL;
                right[i * stride] = xR - bpR;
            } else {
                left[i * stride] = xL - k * bpL - lpL;
                right[i * stride] = xR - k * bpR - lpR;
            }
        }
        s.ic1L = ic1L;
        s.ic2L = ic2L;
        s.ic1R = ic1R;
        s.ic2R = ic2R;
    }

    std::unique_ptr<float[]> table_;
    int type_ = kFilterOff;
    float k_ = 2.0f;
};

}  // namespace corvane
