#pragma once
// The voice filter: a zero-delay-feedback (trapezoidal) state-variable filter with low-pass,
// band-pass, band-stop and high-pass outputs. The cutoff is a normalised 0..1 value mapped
// through `cutoffTable` (768 entries per octave); it ramps linearly across a sub-block and
// moves with the filter envelope on every sample.
#include <cstdint>
#include <cstring>
#include <memory>

// On x86 the filter loop also exists compiled for AVX2, chosen at run time.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define CORVANE_FILTER_WIDE 1
#define CORVANE_FILTER_WIDE_TARGET __attribute__((target("avx2")))
#else
#define CORVANE_FILTER_WIDE 0
#define CORVANE_FILTER_WIDE_TARGET
#endif

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

  private:
    template <int Type, class Envelope>
    void run(FilterState& s, float ci, float step, float a, Envelope& envelope, float* left,
             float* right, int stride, int frames) const {
        // An interleaved buffer moves both channels of a frame with one load and one store.
        if (stride == 2 && right == left + 1) {
            const InterleavedFrames io{left};
            dispatch<Type>(s, ci, step, a, envelope, io, frames);
        } else {
            const SeparateFrames io{left, right, stride};
            dispatch<Type>(s, ci, step, a, envelope, io, frames);
        }
    }

    template <int Type, class Envelope, class Frames>
    void dispatch(FilterState& s, float ci, float step, float a, Envelope& envelope,
                  const Frames& io, int frames) const {
        if (wide_) {
            runWide<Type>(s, ci, step, a, envelope, io, frames);
        } else {
            kernel<Type>(s, ci, step, a, envelope, io, frames);
        }
    }

    template <int Type, class Envelope, class Frames>
    CORVANE_FILTER_WIDE_TARGET void runWide(FilterState& s, float ci, float step, float a,
                                            Envelope& envelope, const Frames& io,
                                            int frames) const {
        kernel<Type>(s, ci, step, a, envelope, io, frames);
    }

    // Left and right side by side: both channels share every coefficient.
    typedef float Pair __attribute__((vector_size(8)));

    // Frame i of two channel pointers `stride` floats apart per frame.
    struct SeparateFrames {
        float* left;
        float* right;
        int stride;
        void load(int i, Pair& x) const { x = Pair{left[i * stride], right[i * stride]}; }
        void store(int i, const Pair& y) const {
            left[i * stride] = y[0];
            right[i * stride] = y[1];
        }
    };
    // Frame i of an interleaved buffer.
    struct InterleavedFrames {
        float* data;
        void load(int i, Pair& x) const { std::memcpy(&x, data + 2 * i, sizeof x); }
        void store(int i, const Pair& y) const { std::memcpy(data + 2 * i, &y, sizeof y); }
    };

    // Output of the filter type from the input, band-pass and low-pass (vectors travel by
    // reference: a vector passed by value changes the calling convention on 32-bit x86).
    template <int Type>
    static void output(const Pair& x, const Pair& bp, const Pair& lp, float k, Pair& y) {
        if constexpr (Type == kFilterLowpass) {
            y = lp;
        } else if constexpr (Type == kFilterBandpass) {
            y = bp;
        } else if constexpr (Type == kFilterBandstop) {
            y = x - bp;
        } else {
            y = x - k * bp - lp;
        }
    }

    // The loop itself, compiled into each caller with the caller's instruction set.
    template <int Type, class Envelope, class Frames>
    __attribute__((always_inline)) inline void kernel(FilterState& s, float ci, float step, float a,
                                                      Envelope& envelope, Frames io,
                                                      int frames) const {
        constexpr int kChunk = 64;
        constexpr float kTop = static_cast<float>(kCutoffTableSize - 1);
        constexpr int kPairs = kChunk / 2;
        alignas(16) float g[kChunk], ca[kChunk], cb[kChunk], cc[kChunk];
        alignas(16) float m11[kPairs], m12[kPairs], m21[kPairs], m22[kPairs], p1[kPairs],
            p2[kPairs];
        alignas(16) int index[kChunk];
        const float* table = table_.get();
        const float k = k_;
        Pair ic1 = {s.ic1L, s.ic1R}, ic2 = {s.ic2L, s.ic2R};
        for (int done = 0; done < frames; done += kChunk) {
            const int n = frames - done < kChunk ? frames - done : kChunk;
            // The envelope's level at each sample; the cutoff of sample i is the ramp's value
            // before its step plus that level times the envelope amount.
            envelope(g, n);
            for (int i = 0; i < n; ++i) {
                float x = (g[i] * a + (ci + step * static_cast<float>(i))) *
                          static_cast<float>(kCutoffTableSize);
                x = x > 0.0f ? x : 0.0f;  // also NaN
                x = x < kTop ? x : kTop;
                index[i] = static_cast<int>(x);
            }
            for (int i = 0; i < n; ++i)
                g[i] = table[index[i]];
            // The textbook update
            //   bp = h ic1 + g h (x - ic2), lp = ic2 + g bp, ic1' = 2 bp - ic1, ic2' = 2 lp - ic2
            // with h = 1 / (1 + g (g + k)) is the linear step
            //   ic1' = a ic1 + b (x - ic2), ic2' = ic2 + b ic1 + c (x - ic2)
            // with a = 2h - 1, b = 2gh, c = gb; the outputs follow from bp = (ic1 + ic1') / 2
            // and lp = (ic2 + ic2') / 2. Two steps are taken at once through their product, so
            // that the states wait on one multiplication and two additions per pair of samples;
            // the state in between only feeds the outputs.
            for (int i = 0; i < n; ++i) {
                const float h = 1.0f / (1.0f + g[i] * (g[i] + k));
                ca[i] = 2.0f * h - 1.0f;
                cb[i] = 2.0f * g[i] * h;
                cc[i] = g[i] * cb[i];
            }
            // The two-step coefficients depend on the cutoff alone: they are computed for the
            // whole chunk ahead of the loop that carries the states.
            const int pairs = n / 2;
            for (int j = 0; j < pairs; ++j) {
                const float a0 = ca[2 * j], b0 = cb[2 * j], c0 = cc[2 * j];
                const float a1 = ca[2 * j + 1], b1 = cb[2 * j + 1], c1 = cc[2 * j + 1];
                m11[j] = a1 * a0 - b1 * b0;
                m12[j] = b1 * c0 - a1 * b0 - b1;
                m21[j] = b1 * a0 + b0 - c1 * b0;
                m22[j] = c1 * c0 - b1 * b0 - c1 - c0;  // less 1: the increment
                p1[j] = a1 * b0 - b1 * c0;
                p2[j] = b1 * b0 + c0 - c1 * c0;
            }
            int i = 0;
            for (int j = 0; j < pairs; ++j, i += 2) {
                const float a0 = ca[i], b0 = cb[i], c0 = cc[i];
                const float b1 = cb[i + 1], c1 = cc[i + 1];
                Pair x0, x1;
                io.load(done + i, x0);
                io.load(done + i + 1, x1);
                const Pair d0 = x0 - ic2;
                const Pair mid1 = a0 * ic1 + b0 * d0;
                const Pair mid2 = (ic2 + b0 * ic1) + c0 * d0;
                const Pair next1 = (m11[j] * ic1 + (p1[j] * x0 + b1 * x1)) + m12[j] * ic2;
                const Pair next2 = (ic2 + (p2[j] * x0 + c1 * x1)) + (m21[j] * ic1 + m22[j] * ic2);
                Pair y0, y1;
                output<Type>(x0, 0.5f * (ic1 + mid1), 0.5f * (ic2 + mid2), k, y0);
                output<Type>(x1, 0.5f * (mid1 + next1), 0.5f * (mid2 + next2), k, y1);
                ic1 = next1;
                ic2 = next2;
                io.store(done + i, y0);
                io.store(done + i + 1, y1);
            }
            if (i < n) {
                Pair x;
                io.load(done + i, x);
                const Pair d = x - ic2;
                const Pair n1 = ca[i] * ic1 + cb[i] * d;
                const Pair n2 = (ic2 + cb[i] * ic1) + cc[i] * d;
                Pair y;
                output<Type>(x, 0.5f * (ic1 + n1), 0.5f * (ic2 + n2), k, y);
                ic1 = n1;
                ic2 = n2;
                io.store(done + i, y);
            }
            ci += step * static_cast<float>(n);
        }
        s.ic1L = ic1[0];
        s.ic2L = ic2[0];
        s.ic1R = ic1[1];
        s.ic2R = ic2[1];
    }

    std::unique_ptr<float[]> table_;
    int type_ = kFilterOff;
    float k_ = 2.0f;
    bool wide_ = false;
};

}  // namespace corvane
