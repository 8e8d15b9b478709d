// The reverb's late part: the input of the late stage, the comb bank (four combs at a time)
// and the 16-line diffuse network.
#include "fx/FxReverb.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/LfoSine.h"
#include "dsp/SafeMath.h"
#include "fx/ReverbKernels.h"
#include "fx/ReverbTables.h"
#include "patch/ParamRanges.h"

namespace corvane {

using namespace reverb;

void FxReverb::runLateInput(int n, int blockPos, int blockFrames) {
    const float* ring = preRing_.data();
    if (delayOld_ == delayNew_) {
        const uint32_t start = preWrite_ - static_cast<uint32_t>(delayNew_);
        for (int i = 0; i < n; ++i)
            late_[i] = ring[(start + static_cast<uint32_t>(i)) & preMask_];
        return;
    }
    const uint32_t a = preWrite_ - static_cast<uint32_t>(delayOld_);
    const uint32_t b = preWrite_ - static_cast<uint32_t>(delayNew_);
    const float step = 1.0f / static_cast<float>(blockFrames);
    for (int i = 0; i < n; ++i) {
        const float t = static_cast<float>(blockPos + i) * step;
        const uint32_t ui = static_cast<uint32_t>(i);
        late_[i] = ring[(a + ui) & preMask_] * (1.0f - t) + ring[(b + ui) & preMask_] * t;
    }
}

// Four combs at a time, so that their one-pole recursions overlap in the pipeline. A chunk
// is shorter than every comb, so a sample read this chunk was written in an earlier one; the
// chunk is cut where any of the four lines wraps, so the inner loop runs on plain pointers.
void FxReverb::runCombs(const int* index, const float* sign, const float* gainL, const float* gainR,
                        int count, int n) {
    std::fill(sumL_, sumL_ + n, 0.0f);
    std::fill(sumR_, sumR_ + n, 0.0f);
    const float keep = 1.0f - damp_;
    float* pool = pool_.data();
    for (int g = 0; g < count; g += 4) {
        Comb& c0 = combs_[index[g]];
        Comb& c1 = combs_[index[g + 1]];
        Comb& c2 = combs_[index[g + 2]];
        Comb& c3 = combs_[index[g + 3]];
        // The write sign is applied when the line is read back (the line holds f - u), which
        // gives the same recursion with one multiply less.
        const float g0 = c0.gain * sign[g], g1 = c1.gain * sign[g + 1];
        const float g2 = c2.gain * sign[g + 2], g3 = c3.gain * sign[g + 3];
        const float l0 = gainL[g], l1 = gainL[g + 1], l2 = gainL[g + 2], l3 = gainL[g + 3];
        const float r0 = gainR[g], r1 = gainR[g + 1], r2 = gainR[g + 2], r3 = gainR[g + 3];
        float f0 = c0.state, f1 = c1.state, f2 = c2.state, f3 = c3.state;
        int i = 0;
        while (i < n) {
            const int seg = std::min({n - i, c0.length - c0.pos, c1.length - c1.pos,
                                      c2.length - c2.pos, c3.length - c3.pos});
            float* p0 = pool + c0.offset + c0.pos;
            float* p1 = pool + c1.offset + c1.pos;
            float* p2 = pool + c2.offset + c2.pos;
            float* p3 = pool + c3.offset + c3.pos;
            const float* u = late_ + i;
            float* accL = sumL_ + i;
            float* accR = sumR_ + i;
            int t = 0;
#if defined(CORVANE_COMB_AVX)
            if (seg >= 4 && haveAvx2Fma()) {
                float* lines[4] = {p0, p1, p2, p3};
                const float gains[4] = {g0, g1, g2, g3};
                const float outL[4] = {l0, l1, l2, l3}, outR[4] = {r0, r1, r2, r3};
                float state[4] = {f0, f1, f2, f3};
                t = combQuadAvx(lines, gains, state, u, outL, outR, accL, accR, seg, keep);
                f0 = state[0];
                f1 = state[1];
                f2 = state[2];
                f3 = state[3];
            }
#endif
#if defined(__SSE2__)
            // Four samples at a time: the one-pole recursion f[t] = keep f[t-1] + g r[t] as a
            // prefix scan inside the vector, carried from the last lane of the previous four.
            if (seg - t >= 4) {
                const CombScan scan(keep);
                __m128 v0 = _mm_set1_ps(f0), v1 = _mm_set1_ps(f1);
                __m128 v2 = _mm_set1_ps(f2), v3 = _mm_set1_ps(f3);
                const __m128 gv0 = _mm_set1_ps(g0), gv1 = _mm_set1_ps(g1);
                const __m128 gv2 = _mm_set1_ps(g2), gv3 = _mm_set1_ps(g3);
                for (; t + 4 <= seg; t += 4) {
                    const __m128 uv = _mm_loadu_ps(u + t);
                    __m128 sl = _mm_loadu_ps(accL + t), sr = _mm_loadu_ps(accR + t);
                    scan.step(p0 + t, gv0, v0, uv, l0, r0, sl, sr);
                    scan.step(p1 + t, gv1, v1, uv, l1, r1, sl, sr);
                    scan.step(p2 + t, gv2, v2, uv, l2, r2, sl, sr);
                    scan.step(p3 + t, gv3, v3, uv, l3, r3, sl, sr);
                    _mm_storeu_ps(accL + t, sl);
                    _mm_storeu_ps(accR + t, sr);
                }
                f0 = _mm_cvtss_f32(v0);
                f1 = _mm_cvtss_f32(v1);
                f2 = _mm_cvtss_f32(v2);
                f3 = _mm_cvtss_f32(v3);
            }
#endif
            for (; t < seg; ++t) {
                const float ut = u[t];
                f0 = f0 * keep + g0 * p0[t];
                f1 = f1 * keep + g1 * p1[t];
                f2 = f2 * keep + g2 * p2[t];
                f3 = f3 * keep + g3 * p3[t];
                p0[t] = f0 - ut;
                p1[t] = f1 - ut;
                p2[t] = f2 - ut;
                p3[t] = f3 - ut;
                accL[t] += f0 * l0 + f1 * l1 + f2 * l2 + f3 * l3;
                accR[t] += f0 * r0 + f1 * r1 + f2 * r2 + f3 * r3;
            }
            for (Comb* c : {&c0, &c1, &c2, &c3}) {
                c->pos += seg;
                if (c->pos >= c->length) c->pos -= c->length;
            }
            i += seg;
        }
        c0.state = f0;
        c1.state = f1;
        c2.state = f2;
        c3.state = f3;
    }
}

// The 16-line network. Each line ends in an absorbing one-pole whose gain includes the 1/4
// that makes the unnormalised Hadamard transform orthogonal; the transform is the fast
// Walsh-Hadamard butterfly in natural order (strides 1, 2, 4, 8), and line j is written with
// transformed value j plus the late input. The two output sums read the transformed values
// (they carry the lines' own level) through the kFdnLeft / kFdnRight rows, scaled by the
// output scale times kFdnMakeup (16, one per line); that brings "Diffuse-2" to the loudness
// of "Diffuse-1" for the same decay.
void FxReverb::runFdn(int n) {
    float* pool = pool_.data();
    const float scale = fdnOutScale_ * kFdnMakeup;
    alignas(16) float gain[kFdnLines], coef[kFdnLines], st[kFdnLines];
    for (int j = 0; j < kFdnLines; ++j) {
        gain[j] = fdn_[j].gain;
        coef[j] = fdn_[j].coef;
        st[j] = fdn_[j].state;
    }
    int i = 0;
    while (i < n) {
        // Cut the chunk where any line wraps, so the lines are read through plain pointers.
        int seg = n - i;
        float* p[kFdnLines];
        for (int j = 0; j < kFdnLines; ++j) {
            seg = std::min(seg, fdn_[j].length - fdn_[j].pos);
            p[j] = pool + fdn_[j].offset + fdn_[j].pos;
        }
        const float* u = late_ + i;
#if defined(__SSE2__)
        __m128 g[4], c[4], s[4], wl[4], wr[4];
        for (int k = 0; k < 4; ++k) {
            g[k] = _mm_load_ps(gain + 4 * k);
            c[k] = _mm_load_ps(coef + 4 * k);
            s[k] = _mm_load_ps(st + 4 * k);
            wl[k] = _mm_loadu_ps(kFdnLeft + 4 * k);
            wr[k] = _mm_loadu_ps(kFdnRight + 4 * k);
        }
        const __m128 alt1 = _mm_setr_ps(1.0f, -1.0f, 1.0f, -1.0f);
        const __m128 alt2 = _mm_setr_ps(1.0f, 1.0f, -1.0f, -1.0f);
        for (int t = 0; t < seg; ++t) {
            __m128 h[4];
            for (int k = 0; k < 4; ++k) {
                const __m128 r =
                    _mm_setr_ps(p[4 * k][t], p[4 * k + 1][t], p[4 * k + 2][t], p[4 * k + 3][t]);
                s[k] = _mm_add_ps(_mm_mul_ps(g[k], r), _mm_mul_ps(c[k], s[k]));
                // butterflies of stride 1 and 2 inside the vector
                __m128 v = s[k];
                v = _mm_add_ps(_mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 2, 0, 0)),
                               _mm_mul_ps(_mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 1, 1)), alt1));
                v = _mm_add_ps(_mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 0, 1, 0)),
                               _mm_mul_ps(_mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 2, 3, 2)), alt2));
                h[k] = v;
            }
            // strides 4 and 8 across the vectors
            for (int a : {0, 2}) {
                const __m128 x = h[a], y = h[a + 1];
                h[a] = _mm_add_ps(x, y);
                h[a + 1] = _mm_sub_ps(x, y);
            }
            for (int a : {0, 1}) {
                const __m128 x = h[a], y = h[a + 2];
                h[a] = _mm_add_ps(x, y);
                h[a + 2] = _mm_sub_ps(x, y);
            }
            __m128 al = _mm_setzero_ps(), ar = _mm_setzero_ps();
            const __m128 uv = _mm_set1_ps(u[t]);
            alignas(16) float w[kFdnLines];
            for (int k = 0; k < 4; ++k) {
                al = _mm_add_ps(al, _mm_mul_ps(h[k], wl[k]));
                ar = _mm_add_ps(ar, _mm_mul_ps(h[k], wr[k]));
                _mm_store_ps(w + 4 * k, _mm_add_ps(h[k], uv));
            }
            for (int j = 0; j < kFdnLines; ++j)
                p[j][t] = w[j];
            // horizontal sums of both sides at once
            const __m128 lo = _mm_unpacklo_ps(al, ar), hi = _mm_unpackhi_ps(al, ar);
            const __m128 pair = _mm_add_ps(lo, hi);  // l0+l2, r0+r2, l1+l3, r1+r3
            const __m128 both = _mm_add_ps(pair, _mm_movehl_ps(pair, pair));
            alignas(16) float out[4];
            _mm_store_ps(out, both);
            sumL_[i + t] = out[0] * scale;
            sumR_[i + t] = out[1] * scale;
        }
        for (int k = 0; k < 4; ++k)
            _mm_store_ps(st + 4 * k, s[k]);
#else
        for (int t = 0; t < seg; ++t) {
            float o[kFdnLines];
            for (int j = 0; j < kFdnLines; ++j) {
                o[j] = gain[j] * p[j][t] + coef[j] * st[j];
                st[j] = o[j];
            }
            for (int h = 1; h < kFdnLines; h <<= 1)
                for (int a = 0; a < kFdnLines; a += 2 * h)
                    for (int b = a; b < a + h; ++b) {
                        const float x = o[b], y = o[b + h];
                        o[b] = x + y;
                        o[b + h] = x - y;
                    }
            float accL = 0.0f, accR = 0.0f;
            for (int j = 0; j < kFdnLines; ++j) {
                accL += kFdnLeft[j] * o[j];
                accR += kFdnRight[j] * o[j];
                p[j][t] = o[j] + u[t];
            }
            sumL_[i + t] = accL * scale;
            sumR_[i + t] = accR * scale;
        }
#endif
        for (FdnLine& l : fdn_) {
            l.pos += seg;
            if (l.pos >= l.length) l.pos -= l.length;
        }
        i += seg;
    }
    for (int j = 0; j < kFdnLines; ++j)
        fdn_[j].state = dsp::flushSmall(st[j]);
}

}  // namespace corvane
