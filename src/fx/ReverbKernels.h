#pragma once
// The reverb's vector kernels: the four-sample comb scan (SSE2, and AVX2 with FMA chosen at
// run time) and the early-reflection tap sums.
#include <atomic>

#include "dsp/CpuFeatures.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

namespace corvane::reverb {

#if defined(__SSE2__)
// One comb over four samples in a vector: x = g r, then the prefix scan of the one-pole
// (two shift-and-add steps with keep and keep^2), plus keep^(1..4) times the carried state.
struct CombScan {
    __m128 k1, k2, kp;
    explicit CombScan(float keep)
        : k1(_mm_set1_ps(keep)),
          k2(_mm_set1_ps(keep * keep)),
          kp(_mm_setr_ps(keep, keep * keep, keep * keep * keep, keep * keep * keep * keep)) {}
    // state: the previous output broadcast to all lanes; on return the last output broadcast
    void step(float* line, __m128 gain, __m128& state, __m128 u, float gl, float gr, __m128& sl,
              __m128& sr) const {
        __m128 x = _mm_mul_ps(gain, _mm_loadu_ps(line));
        x = _mm_add_ps(x, _mm_mul_ps(k1, _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(x), 4))));
        x = _mm_add_ps(x, _mm_mul_ps(k2, _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(x), 8))));
        x = _mm_add_ps(x, _mm_mul_ps(kp, state));
        _mm_storeu_ps(line, _mm_sub_ps(x, u));
        sl = _mm_add_ps(sl, _mm_mul_ps(x, _mm_set1_ps(gl)));
        sr = _mm_add_ps(sr, _mm_mul_ps(x, _mm_set1_ps(gr)));
        state = _mm_shuffle_ps(x, x, _MM_SHUFFLE(3, 3, 3, 3));
    }
};
#endif

#if defined(__GNUC__) && defined(__x86_64__)
#define CORVANE_COMB_AVX 1
#define CORVANE_AVX __attribute__((target("avx2,fma")))

// The same four-sample scan on processors with AVX2 and FMA, two combs to a register (one
// per 128-bit half, where the byte shifts stay).
struct CombScanAvx {
    __m256 k1, k2, kp;
};

CORVANE_AVX inline __m256 pairOf(float lo, float hi) {
    return _mm256_set_m128(_mm_set1_ps(hi), _mm_set1_ps(lo));
}

CORVANE_AVX inline void combPairStep(const CombScanAvx& k, float* lo, float* hi, __m256 gain,
                                     __m256& state, __m256 uv, __m256 wl, __m256 wr, __m256& sl,
                                     __m256& sr) {
    const __m256 r =
        _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(lo)), _mm_loadu_ps(hi), 1);
    __m256 x = _mm256_mul_ps(gain, r);
    x = _mm256_fmadd_ps(k.k1, _mm256_castsi256_ps(_mm256_slli_si256(_mm256_castps_si256(x), 4)), x);
    x = _mm256_fmadd_ps(k.k2, _mm256_castsi256_ps(_mm256_slli_si256(_mm256_castps_si256(x), 8)), x);
    x = _mm256_fmadd_ps(k.kp, state, x);
    const __m256 w = _mm256_sub_ps(x, uv);
    _mm_storeu_ps(lo, _mm256_castps256_ps128(w));
    _mm_storeu_ps(hi, _mm256_extractf128_ps(w, 1));
    sl = _mm256_fmadd_ps(x, wl, sl);
    sr = _mm256_fmadd_ps(x, wr, sr);
    state = _mm256_shuffle_ps(x, x, _MM_SHUFFLE(3, 3, 3, 3));
}

// Four combs over `seg` samples; returns the number of samples done (a multiple of 4).
CORVANE_AVX inline int combQuadAvx(float* const* p, const float* g, float* f, const float* u,
                                   const float* l, const float* r, float* accL, float* accR,
                                   int seg, float keep) {
    const float k3 = keep * keep * keep, k4 = k3 * keep;
    const CombScanAvx k{_mm256_set1_ps(keep), _mm256_set1_ps(keep * keep),
                        _mm256_setr_ps(keep, keep * keep, k3, k4, keep, keep * keep, k3, k4)};
    const __m256 gA = pairOf(g[0], g[1]), gB = pairOf(g[2], g[3]);
    const __m256 lA = pairOf(l[0], l[1]), lB = pairOf(l[2], l[3]);
    const __m256 rA = pairOf(r[0], r[1]), rB = pairOf(r[2], r[3]);
    __m256 vA = pairOf(f[0], f[1]), vB = pairOf(f[2], f[3]);
    int t = 0;
    for (; t + 4 <= seg; t += 4) {
        const __m128 u4 = _mm_loadu_ps(u + t);
        const __m256 uv = _mm256_set_m128(u4, u4);
        __m256 sl = _mm256_setzero_ps(), sr = _mm256_setzero_ps();
        combPairStep(k, p[0] + t, p[1] + t, gA, vA, uv, lA, rA, sl, sr);
        combPairStep(k, p[2] + t, p[3] + t, gB, vB, uv, lB, rB, sl, sr);
        const __m128 sumL = _mm_add_ps(_mm256_castps256_ps128(sl), _mm256_extractf128_ps(sl, 1));
        const __m128 sumR = _mm_add_ps(_mm256_castps256_ps128(sr), _mm256_extractf128_ps(sr, 1));
        _mm_storeu_ps(accL + t, _mm_add_ps(_mm_loadu_ps(accL + t), sumL));
        _mm_storeu_ps(accR + t, _mm_add_ps(_mm_loadu_ps(accR + t), sumR));
    }
    f[0] = _mm256_cvtss_f32(vA);
    f[1] = _mm_cvtss_f32(_mm256_extractf128_ps(vA, 1));
    f[2] = _mm256_cvtss_f32(vB);
    f[3] = _mm_cvtss_f32(_mm256_extractf128_ps(vB, 1));
    return t;
}

inline std::atomic<bool> wideKernelsAllowed{true};

inline bool haveAvx2Fma() {
    static const bool have = dsp::cpuFeatures().avx2 && dsp::cpuFeatures().fma;
    return have && wideKernelsAllowed.load(std::memory_order_relaxed);
}
#endif

// Early reflections: out[i] += sum of g[k] * src[k][i], four taps per pass over the block.
inline __attribute__((always_inline)) void accumulateTaps(float* __restrict out,
                                                          const float* const* src, const float* g,
                                                          int taps, int n) {
    int k = 0;
    for (; k + 4 <= taps; k += 4) {
        const float* __restrict s0 = src[k];
        const float* __restrict s1 = src[k + 1];
        const float* __restrict s2 = src[k + 2];
        const float* __restrict s3 = src[k + 3];
        const float g0 = g[k], g1 = g[k + 1], g2 = g[k + 2], g3 = g[k + 3];
        for (int i = 0; i < n; ++i)
            out[i] += g0 * s0[i] + g1 * s1[i] + g2 * s2[i] + g3 * s3[i];
    }
    for (; k < taps; ++k) {
        const float* __restrict s0 = src[k];
        const float g0 = g[k];
        for (int i = 0; i < n; ++i)
            out[i] += g0 * s0[i];
    }
}

inline void accumulateTapsDefault(float* out, const float* const* src, const float* g, int taps,
                                  int n) {
    accumulateTaps(out, src, g, taps, n);
}

#if defined(CORVANE_COMB_AVX)
CORVANE_AVX inline void accumulateTapsAvx(float* out, const float* const* src, const float* g,
                                          int taps, int n) {
    accumulateTaps(out, src, g, taps, n);
}
#endif

}  // namespace corvane::reverb
