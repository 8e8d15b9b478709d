#pragma once
// The voice filter's loops: the per-sample coefficients from the cutoff table, the two-step
// update of the state-variable filter, one voice at a time (left and right side by side) or
// a group of voices in vector lanes. Compiled into each caller with the caller's
// instruction set (the AVX2 copies carry a target attribute).
#include <cstdint>
#include <cstring>

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

struct FilterKernels {
    // A voice's cutoff ramp: its start, its step per sample and the envelope amount.
    struct Ramp {
        float start, step, envAmount;
    };

    // Left and right side by side: both channels share every coefficient.
    typedef float Pair __attribute__((vector_size(8)));
    // N voices side by side: left and right of the first voice, then of the second, ...
    template <int N>
    struct Lanes {
        typedef float type __attribute__((vector_size(8 * N)));
    };

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
    template <int Type, class V>
    static void output(const V& x, const V& bp, const V& lp, float k, V& y) {
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

    static constexpr int kChunk = 64;

    // The coefficients a, b, c (below) of each sample of one chunk of one voice.
    struct Chunk {
        alignas(16) float ca[kChunk], cb[kChunk], cc[kChunk];
    };

    // The table index of each sample's cutoff: the ramp's value before its step plus the
    // envelope's level after it times the envelope amount.
    template <class Envelope>
    __attribute__((always_inline)) static inline void cutoffIndices(float ci, float step, float a,
                                                                    Envelope& envelope, int n,
                                                                    int* index) {
        constexpr float kTop = static_cast<float>(kCutoffTableSize - 1);
        alignas(16) float e[kChunk];
        envelope(e, n);
        for (int i = 0; i < n; ++i) {
            float x = (e[i] * a + (ci + step * static_cast<float>(i))) *
                      static_cast<float>(kCutoffTableSize);
            x = x > 0.0f ? x : 0.0f;  // also NaN
            x = x < kTop ? x : kTop;
            index[i] = static_cast<int>(x);
        }
    }

    // Computes a chunk's per-sample coefficients.
    //
    // The textbook update
    //   bp = h ic1 + g h (x - ic2), lp = ic2 + g bp, ic1' = 2 bp - ic1, ic2' = 2 lp - ic2
    // with h = 1 / (1 + g (g + k)) is the linear step
    //   ic1' = a ic1 + b (x - ic2), ic2' = ic2 + b ic1 + c (x - ic2)
    // with a = 2h - 1, b = 2gh, c = gb; the outputs follow from bp = (ic1 + ic1') / 2 and
    // lp = (ic2 + ic2') / 2. Two steps are taken at once through their product (pairProduct()),
    // so that the states wait on one multiplication and two additions per pair of samples; the
    // state in between only feeds the outputs.
    template <class Envelope>
    __attribute__((always_inline)) static inline void coefficients(const float* table, float k,
                                                                   float ci, float step, float a,
                                                                   Envelope& envelope, int n,
                                                                   Chunk& c) {
        alignas(16) float g[kChunk];
        alignas(16) int index[kChunk];
        cutoffIndices(ci, step, a, envelope, n, index);
        for (int i = 0; i < n; ++i)
            g[i] = table[index[i]];
        for (int i = 0; i < n; ++i) {
            const float h = 1.0f / (1.0f + g[i] * (g[i] + k));
            c.ca[i] = 2.0f * h - 1.0f;
            c.cb[i] = 2.0f * g[i] * h;
            c.cc[i] = g[i] * c.cb[i];
        }
    }

    // The coefficients of samples 2j and 2j + 1 (pair j) in the lanes of V: for one voice a
    // value in both lanes, for a group each voice's values in its two lanes.
    template <class V>
    struct Step {
        V a0, b0, c0, b1, c1, m11, m12, m21, m22, p1, p2;
    };
    static void fill(const float* x, int i, Pair& v) { v = Pair{x[i], x[i]}; }

    // The two-step product from the coefficients of both samples (those of the second sample
    // but a1 already in s). Off the states' path, it runs in the loop that carries them.
    template <class V>
    __attribute__((always_inline)) static inline void pairProduct(Step<V>& s, const V& a1) {
        const V a0 = s.a0, b0 = s.b0, c0 = s.c0, b1 = s.b1, c1 = s.c1;
        s.m11 = a1 * a0 - b1 * b0;
        s.m12 = b1 * c0 - a1 * b0 - b1;
        s.m21 = b1 * a0 + b0 - c1 * b0;
        s.m22 = c1 * c0 - b1 * b0 - c1 - c0;  // less 1: the increment
        s.p1 = a1 * b0 - b1 * c0;
        s.p2 = b1 * b0 + c0 - c1 * c0;
    }

    // Two steps from the states ic1, ic2 with inputs x0, x1; y0, y1 receive the outputs.
    template <int Type, class V>
    __attribute__((always_inline)) static inline void twoSteps(const Step<V>& c, const V& x0,
                                                               const V& x1, float k, V& ic1, V& ic2,
                                                               V& y0, V& y1) {
        const V d0 = x0 - ic2;
        const V mid1 = c.a0 * ic1 + c.b0 * d0;
        const V mid2 = (ic2 + c.b0 * ic1) + c.c0 * d0;
        const V next1 = (c.m11 * ic1 + (c.p1 * x0 + c.b1 * x1)) + c.m12 * ic2;
        const V next2 = (ic2 + (c.p2 * x0 + c.c1 * x1)) + (c.m21 * ic1 + c.m22 * ic2);
        output<Type>(x0, 0.5f * (ic1 + mid1), 0.5f * (ic2 + mid2), k, y0);
        output<Type>(x1, 0.5f * (mid1 + next1), 0.5f * (mid2 + next2), k, y1);
        ic1 = next1;
        ic2 = next2;
    }

    // The single step of an odd chunk's last sample.
    template <int Type, class V>
    __attribute__((always_inline)) static inline void oneStep(const V& a, const V& b, const V& c,
                                                              const V& x, float k, V& ic1, V& ic2,
                                                              V& y) {
        const V d = x - ic2;
        const V n1 = a * ic1 + b * d;
        const V n2 = (ic2 + b * ic1) + c * d;
        output<Type>(x, 0.5f * (ic1 + n1), 0.5f * (ic2 + n2), k, y);
        ic1 = n1;
        ic2 = n2;
    }

    // The loop itself, compiled into each caller with the caller's instruction set.
    template <int Type, class Envelope, class Frames>
    __attribute__((always_inline)) static inline void kernel(const float* table, float k,
                                                             FilterState& s, float ci, float step,
                                                             float a, Envelope& envelope, Frames io,
                                                             int frames) {
        Chunk c;
        Pair ic1 = {s.ic1L, s.ic1R}, ic2 = {s.ic2L, s.ic2R};
        for (int done = 0; done < frames; done += kChunk) {
            const int n = frames - done < kChunk ? frames - done : kChunk;
            coefficients(table, k, ci, step, a, envelope, n, c);
            int i = 0;
            for (; i + 1 < n; i += 2) {
                Step<Pair> st;
                Pair a1;
                fill(c.ca, i, st.a0);
                fill(c.cb, i, st.b0);
                fill(c.cc, i, st.c0);
                fill(c.ca, i + 1, a1);
                fill(c.cb, i + 1, st.b1);
                fill(c.cc, i + 1, st.c1);
                pairProduct(st, a1);
                Pair x0, x1, y0, y1;
                io.load(done + i, x0);
                io.load(done + i + 1, x1);
                twoSteps<Type>(st, x0, x1, k, ic1, ic2, y0, y1);
                io.store(done + i, y0);
                io.store(done + i + 1, y1);
            }
            if (i < n) {
                Pair x, y, ca, cb, cc;
                fill(c.ca, i, ca);
                fill(c.cb, i, cb);
                fill(c.cc, i, cc);
                io.load(done + i, x);
                oneStep<Type>(ca, cb, cc, x, k, ic1, ic2, y);
                io.store(done + i, y);
            }
            ci += step * static_cast<float>(n);
        }
        s.ic1L = ic1[0];
        s.ic2L = ic2[0];
        s.ic1R = ic1[1];
        s.ic2R = ic2[1];
    }

    // The coefficients of a sample, one per voice, each into both lanes of its voice.
    template <int N, class V>
    static void spread(const float* q, V& x) {
        typename Lanes<N / 2>::type u;
        std::memcpy(&u, q, sizeof u);
        if constexpr (N == 2) {
            x = __builtin_shufflevector(u, u, 0, 0, 1, 1);
        } else {
            x = __builtin_shufflevector(u, u, 0, 0, 1, 1, 2, 2, 3, 3);
        }
    }

    // Frame i of the voices' interleaved buffers side by side, and back.
    template <int N, class V>
    static void loadFrames(float* const* buffers, int i, V& x) {
        Pair p[N];
        for (int v = 0; v < N; ++v)
            std::memcpy(&p[v], buffers[v] + 2 * i, sizeof(Pair));
        if constexpr (N == 2) {
            x = __builtin_shufflevector(p[0], p[1], 0, 1, 2, 3);
        } else {
            typedef float Quad __attribute__((vector_size(16)));
            const Quad lo = __builtin_shufflevector(p[0], p[1], 0, 1, 2, 3);
            const Quad hi = __builtin_shufflevector(p[2], p[3], 0, 1, 2, 3);
            x = __builtin_shufflevector(lo, hi, 0, 1, 2, 3, 4, 5, 6, 7);
        }
    }
    template <int N, class V>
    static void storeFrames(float* const* buffers, int i, const V& y) {
        float out[2 * N];
        std::memcpy(out, &y, sizeof out);
        for (int v = 0; v < N; ++v)
            std::memcpy(buffers[v] + 2 * i, out + 2 * v, sizeof(Pair));
    }

    // The loop of a group of voices, compiled into each caller with the caller's instruction
    // set. The per-sample coefficients are those coefficients() gives, computed for all the
    // voices at once.
    template <int Type, int N, class Job>
    __attribute__((always_inline)) static inline void kernelGroup(const float* table, float k,
                                                                  Job* jobs, const Ramp* ramps,
                                                                  int frames) {
        typedef typename Lanes<N>::type V;
        V ic1, ic2;
        float ci[N];
        for (int v = 0; v < N; ++v) {
            const FilterState& s = jobs[v].state;
            ic1[2 * v] = s.ic1L;
            ic1[2 * v + 1] = s.ic1R;
            ic2[2 * v] = s.ic2L;
            ic2[2 * v + 1] = s.ic2R;
            ci[v] = ramps[v].start;
        }
        for (int done = 0; done < frames; done += kChunk) {
            const int n = frames - done < kChunk ? frames - done : kChunk;
            alignas(32) int index[N][kChunk];
            for (int v = 0; v < N; ++v)
                cutoffIndices(ci[v], ramps[v].step, ramps[v].envAmount, jobs[v].envelope, n,
                              index[v]);
            alignas(32) float g[N * kChunk], qa[N * kChunk], qb[N * kChunk], qc[N * kChunk];
            for (int i = 0; i < n; ++i) {
                for (int v = 0; v < N; ++v)
                    g[N * i + v] = table[index[v][i]];
            }
            for (int i = 0; i < N * n; ++i) {
                const float h = 1.0f / (1.0f + g[i] * (g[i] + k));
                qa[i] = 2.0f * h - 1.0f;
                qb[i] = 2.0f * g[i] * h;
                qc[i] = g[i] * qb[i];
            }
            float* buffers[N];
            for (int v = 0; v < N; ++v)
                buffers[v] = jobs[v].buffer + 2 * done;
            auto lanes = [](const float* q, int i, V& x) { spread<N>(q + N * i, x); };
            int i = 0;
            for (; i + 1 < n; i += 2) {
                Step<V> st;
                V a1;
                lanes(qa, i, st.a0);
                lanes(qb, i, st.b0);
                lanes(qc, i, st.c0);
                lanes(qa, i + 1, a1);
                lanes(qb, i + 1, st.b1);
                lanes(qc, i + 1, st.c1);
                pairProduct(st, a1);
                V x0, x1, y0, y1;
                loadFrames<N>(buffers, i, x0);
                loadFrames<N>(buffers, i + 1, x1);
                twoSteps<Type>(st, x0, x1, k, ic1, ic2, y0, y1);
                storeFrames<N>(buffers, i, y0);
                storeFrames<N>(buffers, i + 1, y1);
            }
            if (i < n) {
                V x, y, a, b, c;
                lanes(qa, i, a);
                lanes(qb, i, b);
                lanes(qc, i, c);
                loadFrames<N>(buffers, i, x);
                oneStep<Type>(a, b, c, x, k, ic1, ic2, y);
                storeFrames<N>(buffers, i, y);
            }
            for (int v = 0; v < N; ++v)
                ci[v] += ramps[v].step * static_cast<float>(n);
        }
        for (int v = 0; v < N; ++v) {
            FilterState& s = jobs[v].state;
            s.ic1L = ic1[2 * v];
            s.ic1R = ic1[2 * v + 1];
            s.ic2L = ic2[2 * v];
            s.ic2R = ic2[2 * v + 1];
        }
    }
};

}  // namespace corvane
