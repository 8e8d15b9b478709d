#pragma once
// The voice filter: a zero-delay-feedback (trapezoidal) state-variable filter with low-pass,
// band-pass, band-stop and high-pass outputs. The cutoff is a normalised 0..1 value mapped
// through `cutoffTable` (768 entries per octave); it ramps linearly across a sub-block and
// moves with the filter envelope on every sample.
#include <memory>

#include "engine/FilterKernels.h"

namespace corvane {

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
    // control: the AVX2 loop runs where the processor has it; off forces the baseline loop
    // (tests compare the two)
    void useWideKernel(bool on);
    bool wideKernel() const { return wide_; }
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
    // per frame (2 for an interleaved buffer). `envelope(levels, n)` advances the filter
    // envelope by n samples (at most 64 a call) and writes its level after each step; with the
    // filter off it is not called, the signal is left untouched and only the ramp's end point
    // is remembered.
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

    // One voice's part of processGroup(): its state, cutoff target, envelope amount, envelope
    // and interleaved sub-block.
    template <class Envelope>
    struct Job {
        FilterState& state;
        float target;
        float envAmount;
        Envelope& envelope;
        float* buffer;
    };

    // audio: filters the interleaved sub-blocks of N voices (2 or 4) side by side, so that
    // their independent states advance together. Each voice gets exactly what process()
    // gives it.
    template <int N, class Envelope>
    void processGroup(Job<Envelope>* jobs, int frames) const {
        static_assert(N == 2 || N == 4);
        FilterKernels::Ramp ramps[N];
        for (int v = 0; v < N; ++v) {
            FilterState& s = jobs[v].state;
            ramps[v].start = s.previousCutoff >= -99.0f ? s.previousCutoff : jobs[v].target;
            s.previousCutoff = jobs[v].target;
        }
        if (frames <= 0) return;
        for (int v = 0; v < N; ++v) {
            ramps[v].step = (jobs[v].target - ramps[v].start) / static_cast<float>(frames);
            ramps[v].envAmount = jobs[v].envAmount;
        }
        switch (type_) {
            case kFilterLowpass:
                runGroup<kFilterLowpass, N>(jobs, ramps, frames);
                break;
            case kFilterBandpass:
                runGroup<kFilterBandpass, N>(jobs, ramps, frames);
                break;
            case kFilterBandstop:
                runGroup<kFilterBandstop, N>(jobs, ramps, frames);
                break;
            case kFilterHighpass:
                runGroup<kFilterHighpass, N>(jobs, ramps, frames);
                break;
            default:
                return;
        }
        for (int v = 0; v < N; ++v)
            jobs[v].state.flush();
    }

  private:
    using Ramp = FilterKernels::Ramp;
    template <int Type, class Envelope>
    void run(FilterState& s, float ci, float step, float a, Envelope& envelope, float* left,
             float* right, int stride, int frames) const {
        // An interleaved buffer moves both channels of a frame with one load and one store.
        if (stride == 2 && right == left + 1) {
            const FilterKernels::InterleavedFrames io{left};
            dispatch<Type>(s, ci, step, a, envelope, io, frames);
        } else {
            const FilterKernels::SeparateFrames io{left, right, stride};
            dispatch<Type>(s, ci, step, a, envelope, io, frames);
        }
    }

    template <int Type, class Envelope, class Frames>
    void dispatch(FilterState& s, float ci, float step, float a, Envelope& envelope,
                  const Frames& io, int frames) const {
        if (wide_) {
            runWide<Type>(s, ci, step, a, envelope, io, frames);
        } else {
            FilterKernels::kernel<Type>(table_.get(), k_, s, ci, step, a, envelope, io, frames);
        }
    }

    template <int Type, class Envelope, class Frames>
    CORVANE_FILTER_WIDE_TARGET void runWide(FilterState& s, float ci, float step, float a,
                                            Envelope& envelope, const Frames& io,
                                            int frames) const {
        FilterKernels::kernel<Type>(table_.get(), k_, s, ci, step, a, envelope, io, frames);
    }

    template <int Type, int N, class Envelope>
    void runGroup(Job<Envelope>* jobs, const Ramp* ramps, int frames) const {
        if (wide_) {
            runGroupWide<Type, N>(jobs, ramps, frames);
        } else {
            FilterKernels::kernelGroup<Type, N>(table_.get(), k_, jobs, ramps, frames);
        }
    }

    template <int Type, int N, class Envelope>
    CORVANE_FILTER_WIDE_TARGET void runGroupWide(Job<Envelope>* jobs, const Ramp* ramps,
                                                 int frames) const {
        FilterKernels::kernelGroup<Type, N>(table_.get(), k_, jobs, ramps, frames);
    }

    std::unique_ptr<float[]> table_;
    int type_ = kFilterOff;
    float k_ = 2.0f;
    bool wide_ = false;
};

}  // namespace corvane
