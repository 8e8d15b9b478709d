#pragma once
// Four voices from the sample to the mix in one pass: reading with linear interpolation, the
// filter, the amplitude envelope, the gain and send ramps and the sum into the effect bus,
// each voice in two vector lanes (left, right) and nothing written in between. Every lane
// takes exactly the steps its voice takes on its own (readZone(), Filter::process(),
// runAmpEnvelope() and the output of the voice), and the bus receives the four voices one
// after the other at every frame, so the sums are those of voices rendered in turn.
//
// A voice fits when it reads a stereo zone that either loops or does not reach its end in
// this sub-block, its amplitude envelope decays, holds or releases (no timed attack and no
// hold still to wait), and its send either stays at the effect bus or is ramped for all four.
// Compiled into each caller with the caller's instruction set, like the filter's loops.
#include <cstring>

#include "engine/FilterKernels.h"

namespace corvane {

struct VoiceGroupKernel {
    static constexpr int kVoices = 4;

    // One voice's part: filled in before the pass, positions, envelope and filter state
    // read back after it.
    struct Lane {
        const float* data;  // interleaved stereo frames
        double position, speed;
        double limit;     // a position at or past it steps back by `length` (infinite: no loop)
        double length;    // loop length, at least 1
        float level;      // amplitude envelope level
        float factor;     // its factor per sample (decay or release)
        float threshold;  // a level below it stops moving (the sustain)
        bool stopped;     // the level holds (sustain reached)
        float gainL, stepL, gainR, stepR;  // gain ramps: value at frame 0, step per frame
        float send, sendStep;              // effect send ramp (with Send)
        FilterState filter;
        FilterKernels::Ramp ramp;
    };

    typedef float V __attribute__((vector_size(32)));   // left, right of each voice
    typedef float F4 __attribute__((vector_size(16)));  // one value per voice
    typedef double D4 __attribute__((vector_size(32)));
    typedef int I4 __attribute__((vector_size(16)));

    static void spread(const F4& u, V& x) {
        x = __builtin_shufflevector(u, u, 0, 0, 1, 1, 2, 2, 3, 3);
    }

    // Frames from `pos` on that certainly stay below `limit`, at most `most` (as readZone()
    // counts them).
    static int framesBelow(double pos, double limit, double speed, int most) {
        if (!(speed > 0.0)) return 0;
        const double room = (limit - pos) / speed - 2.0;
        if (!(room > 0.0)) return 0;
        return room < most ? static_cast<int>(room) : most;
    }

    // The reading state of the group: positions and speeds side by side.
    struct Reader {
        const float* data[kVoices];
        D4 position, speed;
        double limit[kVoices], length[kVoices];

        // Frames from here on that no voice's loop end can interrupt, at most `most`.
        int safeFrames(int most) const {
            int run = most;
            for (int v = 0; v < kVoices; ++v) {
                const int r = framesBelow(position[v], limit[v], speed[v], most);
                run = r < run ? r : run;
            }
            return run;
        }

        static void blend(const F4* q, const F4& f, V& x) {
            const F4 g = 1.0f - f;
            const F4 lo0 = __builtin_shufflevector(q[0], q[1], 0, 1, 4, 5);
            const F4 lo1 = __builtin_shufflevector(q[2], q[3], 0, 1, 4, 5);
            const F4 hi0 = __builtin_shufflevector(q[0], q[1], 2, 3, 6, 7);
            const F4 hi1 = __builtin_shufflevector(q[2], q[3], 2, 3, 6, 7);
            const V a = __builtin_shufflevector(lo0, lo1, 0, 1, 2, 3, 4, 5, 6, 7);
            const V b = __builtin_shufflevector(hi0, hi1, 0, 1, 2, 3, 4, 5, 6, 7);
            V gv, fv;
            spread(g, gv);
            spread(f, fv);
            x = a * gv + b * fv;
        }

        // A frame no voice's loop end can reach.
        __attribute__((always_inline)) inline void next(V& x) {
            const I4 i = __builtin_convertvector(position, I4);
            const F4 f = __builtin_convertvector(position - __builtin_convertvector(i, D4), F4);
            position += speed;
            F4 q[kVoices];
            for (int v = 0; v < kVoices; ++v)
                std::memcpy(&q[v], data[v] + 2 * i[v], sizeof(F4));
            blend(q, f, x);
        }

        // Any frame: a voice at or past its loop end steps back first, keeping the fraction.
        void nextAtEnd(V& x) {
            F4 q[kVoices], f;
            for (int v = 0; v < kVoices; ++v) {
                double pos = position[v];
                int i = static_cast<int>(pos);
                f[v] = static_cast<float>(pos - i);
                if (pos >= limit[v]) {
                    pos -= length[v];
                    if (pos >= limit[v])
                        pos -= length[v] * (__builtin_floor((pos - limit[v]) / length[v]) + 1.0);
                    i = static_cast<int>(pos);
                }
                std::memcpy(&q[v], data[v] + 2 * i, sizeof(F4));
                position[v] = pos + speed[v];
            }
            blend(q, f, x);
        }
    };

    // The amplitude envelopes, gain and send ramps, and the sums into the buses. Without
    // Send everything goes to the effect bus.
    template <bool Send>
    struct Output {
        F4 level, factor, threshold;
        I4 stopped;
        V gain, step, send, sendStep;
        float* left;
        float* right;
        float* dryLeft;
        float* dryRight;

        __attribute__((always_inline)) static inline void sum(float* bus, int i, const V& w,
                                                              int lane) {
            float x = bus[i];
            x += w[lane];
            x += w[lane + 2];
            x += w[lane + 4];
            x += w[lane + 6];
            bus[i] = x;
        }

        // Frame i of the voices' outputs, scaled; the envelopes move on.
        __attribute__((always_inline)) inline void scale(const V& y, int i, V& w) {
            V e;
            spread(level, e);
            w = y * e * (gain + step * static_cast<float>(i));
            stopped |= level < threshold;
            level = stopped ? level : level * factor;
        }

        // One frame into the buses.
        __attribute__((always_inline)) inline void add(const V& y, int i) {
            V w;
            scale(y, i, w);
            if constexpr (Send) {
                const V s = send + sendStep * static_cast<float>(i);
                const V wet = w * s;
                const V dry = w * (1.0f - s);
                sum(left, i, wet, 0);
                sum(right, i, wet, 1);
                sum(dryLeft, i, dry, 0);
                sum(dryRight, i, dry, 1);
            } else {
                sum(left, i, w, 0);
                sum(right, i, w, 1);
            }
        }

        // Four frames from i on into a pair of buses: turned so that each voice's four
        // frames share a vector, then added voice after voice.
        __attribute__((always_inline)) static inline void sum4(float* busL, float* busR, int i,
                                                               const V* w) {
            const V t0 = __builtin_shufflevector(w[0], w[1], 0, 8, 1, 9, 4, 12, 5, 13);
            const V t1 = __builtin_shufflevector(w[0], w[1], 2, 10, 3, 11, 6, 14, 7, 15);
            const V t2 = __builtin_shufflevector(w[2], w[3], 0, 8, 1, 9, 4, 12, 5, 13);
            const V t3 = __builtin_shufflevector(w[2], w[3], 2, 10, 3, 11, 6, 14, 7, 15);
            // left of voices 0 | 2, right of 0 | 2, left of 1 | 3, right of 1 | 3
            const V l02 = __builtin_shufflevector(t0, t2, 0, 1, 8, 9, 4, 5, 12, 13);
            const V r02 = __builtin_shufflevector(t0, t2, 2, 3, 10, 11, 6, 7, 14, 15);
            const V l13 = __builtin_shufflevector(t1, t3, 0, 1, 8, 9, 4, 5, 12, 13);
            const V r13 = __builtin_shufflevector(t1, t3, 2, 3, 10, 11, 6, 7, 14, 15);
            F4 x, y;
            std::memcpy(&x, busL + i, sizeof x);
            std::memcpy(&y, busR + i, sizeof y);
            x += __builtin_shufflevector(l02, l02, 0, 1, 2, 3);
            x += __builtin_shufflevector(l13, l13, 0, 1, 2, 3);
            x += __builtin_shufflevector(l02, l02, 4, 5, 6, 7);
            x += __builtin_shufflevector(l13, l13, 4, 5, 6, 7);
            y += __builtin_shufflevector(r02, r02, 0, 1, 2, 3);
            y += __builtin_shufflevector(r13, r13, 0, 1, 2, 3);
            y += __builtin_shufflevector(r02, r02, 4, 5, 6, 7);
            y += __builtin_shufflevector(r13, r13, 4, 5, 6, 7);
            std::memcpy(busL + i, &x, sizeof x);
            std::memcpy(busR + i, &y, sizeof y);
        }

        // Frames i .. i + 3 into the buses.
        __attribute__((always_inline)) inline void add4(const V* y, int i) {
            V w[4];
            for (int j = 0; j < 4; ++j)
                scale(y[j], i + j, w[j]);
            if constexpr (Send) {
                V wet[4], dry[4];
                for (int j = 0; j < 4; ++j) {
                    const V s = send + sendStep * static_cast<float>(i + j);
                    wet[j] = w[j] * s;
                    dry[j] = w[j] * (1.0f - s);
                }
                sum4(left, right, i, wet);
                sum4(dryLeft, dryRight, i, dry);
            } else {
                sum4(left, right, i, w);
            }
        }
    };

    // The pass over n frames (at most 64) for filter type Type (kFilterOff: no filter); with
    // Send each voice's send ramp splits it between the effect bus and the dry bus.
    template <int Type, bool Send, class Envelope>
    __attribute__((always_inline)) static inline void run(const float* table, float k, Lane* lanes,
                                                          Envelope* envelopes, int n, float* fxL,
                                                          float* fxR, float* dryL, float* dryR) {
        Reader in;
        Output<Send> out;
        V ic1, ic2;
        for (int v = 0; v < kVoices; ++v) {
            const Lane& l = lanes[v];
            in.data[v] = l.data;
            in.position[v] = l.position;
            in.speed[v] = l.speed;
            in.limit[v] = l.limit;
            in.length[v] = l.length;
            out.level[v] = l.level;
            out.factor[v] = l.factor;
            out.threshold[v] = l.threshold;
            out.stopped[v] = l.stopped ? -1 : 0;
            out.gain[2 * v] = l.gainL;
            out.gain[2 * v + 1] = l.gainR;
            out.step[2 * v] = l.stepL;
            out.step[2 * v + 1] = l.stepR;
            out.send[2 * v] = out.send[2 * v + 1] = l.send;
            out.sendStep[2 * v] = out.sendStep[2 * v + 1] = l.sendStep;
            ic1[2 * v] = l.filter.ic1L;
            ic1[2 * v + 1] = l.filter.ic1R;
            ic2[2 * v] = l.filter.ic2L;
            ic2[2 * v + 1] = l.filter.ic2R;
        }
        out.left = fxL;
        out.right = fxR;
        out.dryLeft = dryL;
        out.dryRight = dryR;

        // Frames go in fours (the filter takes them in pairs); four frames that meet a loop
        // end read the careful way. The last one to three follow one by one.
        int i = 0;
        int safe = in.safeFrames(n);
        if constexpr (Type == kFilterOff) {
            (void)table;
            (void)k;
            (void)envelopes;
            while (i + 3 < n) {
                for (; i + 3 < safe; i += 4) {
                    V x[4];
                    for (int j = 0; j < 4; ++j)
                        in.next(x[j]);
                    out.add4(x, i);
                }
                if (i + 3 >= n) break;
                V x[4];
                for (int j = 0; j < 4; ++j)
                    in.nextAtEnd(x[j]);
                out.add4(x, i);
                i += 4;
                safe = i + in.safeFrames(n - i);
            }
            for (; i < n; ++i) {
                V x;
                in.nextAtEnd(x);
                out.add(x, i);
            }
        } else {
            // The filter's per-sample coefficients, as FilterKernels::kernelGroup() makes them.
            constexpr int N = kVoices;
            constexpr int kChunk = FilterKernels::kChunk;
            alignas(32) int index[N][kChunk];
            for (int v = 0; v < N; ++v)
                FilterKernels::cutoffIndices(lanes[v].ramp.start, lanes[v].ramp.step,
                                             lanes[v].ramp.envAmount, envelopes[v], n, index[v]);
            alignas(32) float g[N * kChunk], qa[N * kChunk], qb[N * kChunk], qc[N * kChunk];
            for (int j = 0; j < n; ++j) {
                for (int v = 0; v < N; ++v)
                    g[N * j + v] = table[index[v][j]];
            }
            for (int j = 0; j < N * n; ++j) {
                const float h = 1.0f / (1.0f + g[j] * (g[j] + k));
                qa[j] = 2.0f * h - 1.0f;
                qb[j] = 2.0f * g[j] * h;
                qc[j] = g[j] * qb[j];
            }
            // Two steps of the filter from frame j on.
            auto pair = [&](int j, const V& x0, const V& x1, V& y0, V& y1) {
                FilterKernels::Step<V> st;
                V a1;
                FilterKernels::spread<N>(qa + N * j, st.a0);
                FilterKernels::spread<N>(qb + N * j, st.b0);
                FilterKernels::spread<N>(qc + N * j, st.c0);
                FilterKernels::spread<N>(qa + N * (j + 1), a1);
                FilterKernels::spread<N>(qb + N * (j + 1), st.b1);
                FilterKernels::spread<N>(qc + N * (j + 1), st.c1);
                FilterKernels::pairProduct(st, a1);
                FilterKernels::twoSteps<Type>(st, x0, x1, k, ic1, ic2, y0, y1);
            };
            while (i + 3 < n) {
                for (; i + 3 < safe; i += 4) {
                    V x[4], y[4];
                    for (int j = 0; j < 4; ++j)
                        in.next(x[j]);
                    pair(i, x[0], x[1], y[0], y[1]);
                    pair(i + 2, x[2], x[3], y[2], y[3]);
                    out.add4(y, i);
                }
                if (i + 3 >= n) break;
                V x[4], y[4];
                for (int j = 0; j < 4; ++j)
                    in.nextAtEnd(x[j]);
                pair(i, x[0], x[1], y[0], y[1]);
                pair(i + 2, x[2], x[3], y[2], y[3]);
                out.add4(y, i);
                i += 4;
                safe = i + in.safeFrames(n - i);
            }
            if (i + 1 < n) {
                V x0, x1, y0, y1;
                in.nextAtEnd(x0);
                in.nextAtEnd(x1);
                pair(i, x0, x1, y0, y1);
                out.add(y0, i);
                out.add(y1, i + 1);
                i += 2;
            }
            if (i < n) {
                V x, y, a, b, c;
                FilterKernels::spread<N>(qa + N * i, a);
                FilterKernels::spread<N>(qb + N * i, b);
                FilterKernels::spread<N>(qc + N * i, c);
                in.nextAtEnd(x);
                FilterKernels::oneStep<Type>(a, b, c, x, k, ic1, ic2, y);
                out.add(y, i);
            }
        }

        for (int v = 0; v < kVoices; ++v) {
            Lane& l = lanes[v];
            l.position = in.position[v];
            l.level = out.level[v];
            l.stopped = out.stopped[v] != 0;
            l.filter.ic1L = ic1[2 * v];
            l.filter.ic1R = ic1[2 * v + 1];
            l.filter.ic2L = ic2[2 * v];
            l.filter.ic2R = ic2[2 * v + 1];
        }
    }
};

}  // namespace corvane
