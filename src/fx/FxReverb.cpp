#include "fx/FxReverb.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "dsp/CpuFeatures.h"
#include "dsp/LfoSine.h"
#include "dsp/SafeMath.h"
#include "patch/ParamRanges.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

namespace corvane {

namespace {

// Output gains of the combs, left and right: 64 entries for "Diffuse-1", "Hall" and
// "Cathedral", 32 for "Room" (which runs the odd-numbered combs). Magnitudes 0.8..1.0 with
// signs balanced per side and independent between the sides, so the two sums decorrelate;
// the last comb (the longest, with its feedback cut by 0.8) is given a strong weight.
constexpr float kCombLeft64[64] = {
    0.9500f,  -0.9850f, -0.9860f, 0.9870f,  -0.9990f, 0.8070f,  -0.8040f, 0.9010f,
    0.9960f,  0.9030f,  -0.8490f, 0.8890f,  0.9320f,  0.9300f,  -0.9310f, -0.9090f,
    -0.9780f, -0.9940f, -0.8620f, 0.8430f,  0.8460f,  -0.8400f, -0.9760f, 0.9460f,
    -0.8280f, 0.9980f,  0.9960f,  0.9670f,  -0.8030f, 0.9250f,  0.9760f,  -0.8860f,
    0.8110f,  -0.9330f, -0.8760f, 0.9010f,  -0.9940f, 0.9200f,  -0.9390f, -0.8090f,
    0.8370f,  -0.8540f, -0.8010f, -0.8730f, 0.8660f,  -0.9970f, 0.8650f,  -0.8070f,
    0.9760f,  0.8440f,  0.8370f,  -0.8670f, -0.8170f, -0.8560f, -0.9310f, -0.8500f,
    0.9550f,  -0.8180f, -0.9630f, -0.8290f, 0.9170f,  0.8790f,  -0.8600f, -3.4000f,
};
constexpr float kCombRight64[64] = {
    0.9500f,  0.9667f,  0.9770f,  -0.9800f, -0.9770f, 0.9120f,  -0.9520f, 0.8760f,
    0.9540f,  -0.8620f, 0.9610f,  -0.8180f, 0.9410f,  0.8390f,  0.9080f,  0.8890f,
    -0.8650f, -0.9470f, 0.8950f,  -0.9260f, -0.8500f, 0.9250f,  -0.8810f, 0.8750f,
    -0.8930f, -0.9610f, 0.8120f,  -0.8390f, 0.8130f,  0.9210f,  -0.8730f, 2.0000f,
    -0.9910f, -0.8090f, 0.9490f,  0.9380f,  -0.9850f, -0.8590f, 0.9440f,  -0.9190f,
    -0.9610f, -0.9890f, -0.8130f, 0.9650f,  -0.8210f, -0.9430f, -0.8930f, 0.9550f,
    0.9580f,  0.9830f,  -0.9630f, -0.8270f, -0.8990f, 0.8020f,  -0.9860f, -0.8610f,
    0.9380f,  -0.8300f, 0.8470f,  0.9720f,  0.8920f,  0.9570f,  0.9190f,  -0.9020f,
};
constexpr float kCombLeft32[32] = {
    0.9500f,  -0.9850f, -0.9860f, 0.9870f,  -0.8310f, -0.9770f, 0.9160f,  0.8650f,
    -0.8790f, 0.9980f,  -0.9010f, -0.8460f, 0.9620f,  -0.9310f, -0.9980f, -0.8200f,
    0.8950f,  0.9640f,  0.9680f,  -0.9830f, -0.8080f, -0.8590f, 0.8240f,  0.8380f,
    -0.9950f, -0.9170f, 0.9860f,  0.8740f,  0.9730f,  0.8900f,  0.8520f,  5.0000f,
};
constexpr float kCombRight32[32] = {
    0.9500f,  0.9667f, 0.9770f, -0.9800f, -0.9020f, -0.8080f, 0.9270f,  -0.8160f,
    0.9470f,  0.9560f, 0.9020f, 0.8110f,  0.9010f,  -0.8760f, 0.9900f,  0.8270f,
    0.9710f,  0.9990f, 0.9460f, -0.9630f, -0.8390f, -0.9960f, 0.8980f,  0.9910f,
    -0.9830f, 0.8330f, 0.9580f, -0.9860f, 0.8130f,  0.8700f,  -0.9510f, 8.0000f,
};
// "Room" early reflections, in samples at 48 kHz (1599 is subtracted, so the first left
// reflection comes 2 ms after the pre-delay). The first entries are the room's strongest
// reflections; the rest spread with growing density up to about 125 ms (left) and 107 ms
// (right), the two sides on different patterns. Gains (halved when used) fall off roughly
// exponentially with the reflection time, with uncorrelated signs.
constexpr int kRoomLeftPos[46] = {
    1693, 1980, 2069, 2160, 2353, 2417, 2664, 2789, 2845, 3002, 3108, 3340, 3432, 3612, 3646, 3832,
    4152, 4217, 4482, 4840, 4892, 4952, 4993, 5026, 5095, 5394, 5483, 5796, 5842, 5883, 6014, 6034,
    6343, 6449, 6487, 6578, 6651, 6712, 6801, 6899, 6973, 6998, 7072, 7153, 7498, 7537,
};
constexpr int kRoomRightPos[46] = {
    1609, 1693, 2069, 2137, 2321, 2387, 2537, 2575, 2816, 2837, 2917, 2944, 2987, 3011, 3034, 3275,
    3454, 3627, 3747, 3816, 3926, 4262, 4385, 4583, 4651, 4736, 4992, 5036, 5140, 5343, 5372, 5439,
    5573, 5699, 5976, 6020, 6079, 6142, 6204, 6257, 6467, 6531, 6550, 6633, 6669, 6740,
};
constexpr float kRoomLeftGain[44] = {
    0.1640f,  0.0996f,  -0.0200f, 0.1227f,  -0.1119f, -0.0564f, -0.0779f, 0.0918f,  -0.0856f,
    0.0550f,  -0.0916f, 0.0666f,  -0.0589f, 0.0497f,  0.0699f,  0.0520f,  0.0295f,  0.0279f,
    -0.0261f, -0.0321f, -0.0445f, -0.0475f, 0.0422f,  0.0420f,  0.0313f,  0.0382f,  -0.0244f,
    -0.0312f, 0.0375f,  0.0171f,  -0.0177f, -0.0314f, -0.0206f, 0.0213f,  -0.0263f, -0.0165f,
    0.0272f,  0.0224f,  0.0172f,  -0.0177f, 0.0111f,  -0.0198f, 0.0203f,  0.0168f,
};
constexpr float kRoomRightGain[44] = {
    0.1200f,  -0.0539f, 0.0543f,  0.0537f,  -0.0856f, -0.0855f, -0.0440f, 0.0905f,  0.0900f,
    0.0865f,  0.0646f,  0.0547f,  0.0378f,  -0.0483f, 0.0921f,  0.0440f,  -0.0737f, -0.0689f,
    0.0693f,  -0.0525f, 0.0391f,  0.0463f,  -0.0262f, -0.0371f, 0.0269f,  0.0310f,  0.0416f,
    0.0392f,  -0.0368f, -0.0433f, 0.0204f,  0.0301f,  -0.0213f, -0.0226f, 0.0173f,  0.0245f,
    -0.0212f, 0.0156f,  0.0265f,  -0.0207f, -0.0128f, -0.0220f, -0.0181f, -0.0260f,
};

// The three late taps of each "Room" side.
constexpr float kRoomLeftTail[3] = {0.0162f, -0.0158f, 0.0161f};
constexpr float kRoomRightTail[3] = {-0.0159f, 0.0163f, -0.0157f};

// "Hall" and "Cathedral": taps at the first 16 comb lengths, then fixed reflections.
constexpr float kHallCombLeft[16] = {
    0.01484f,  0.01539f,  -0.01541f, -0.01542f, -0.01542f, -0.01544f, -0.015f,   -0.01531f,
    -0.01539f, -0.01391f, -0.01547f, -0.01422f, 0.015f,    0.015f,    -0.01484f, -0.01484f};
constexpr float kHallCombRight[16] = {
    0.01484f,  -0.0151f,  0.01527f, 0.01531f,  0.01525f,  0.01531f, 0.0153f,   0.01484f,
    -0.01375f, -0.01562f, 0.01562f, -0.01562f, -0.01562f, 0.01562f, -0.01562f, -0.01562f};
constexpr int kHallLeftPos[23] = {1394,  1545,  2760,  2835,  6619,  7815,  8044, 8153,
                                  8939,  8975,  9048,  9164,  9480,  9576,  9612, 12180,
                                  12387, 12539, 13753, 14042, 14059, 14139, 16213};
constexpr float kHallLeftGain[23] = {
    0.790008f, -0.282511f, 0.39788f,  -0.225021f, 0.178506f,  0.183041f,  0.269866f, -0.1136f,
    0.163575f, 0.072582f,  0.148236f, 0.210556f,  0.160262f,  -0.074949f, 0.141124f, 0.112653f,
    0.095003f, 0.106233f,  0.122935f, 0.110842f,  -0.072162f, 0.162574f,  0.141174f};
constexpr int kHallRightPos[19] = {354,  1394, 1545, 2760,  2835,  6387,  6659,  7816,  8044, 8153,
                                   8909, 9053, 9576, 11510, 12175, 12491, 12654, 14058, 17194};
constexpr float kHallRightGain[19] = {0.79916f,  -0.240909f, 0.894957f,  -0.120724f, 0.710723f,
                                      0.148243f, 0.208488f,  -0.073174f, -0.103855f, 0.367281f,
                                      0.102083f, 0.106125f,  0.239366f,  0.08257f,   0.080283f,
                                      0.076169f, 0.070502f,  0.207366f,  0.079204f};

// Output combination of the "Diffuse-2" network: two orthogonal Walsh rows (6 and 11, so
// neither is the all-ones row along which the input enters) with slightly uneven weights,
// which keeps the two sides decorrelated and free of the input's direct image.
constexpr float kFdnLeft[16] = {0.8f,  0.79f, -0.77f, -0.78f, -0.8f,  -0.78f, 0.79f, 0.77f,
                                0.79f, 0.8f,  -0.78f, -0.77f, -0.78f, -0.77f, 0.8f,  0.79f};
constexpr float kFdnRight[16] = {0.79f, -0.8f, -0.78f, 0.77f,  0.77f,  -0.79f, -0.8f, 0.78f,
                                 -0.8f, 0.78f, 0.77f,  -0.79f, -0.78f, 0.8f,   0.79f, -0.77f};

constexpr float kFdnMakeup = 16.0f;

const std::array<int, 3000>& primes() {
    static const std::array<int, 3000> table = [] {
        std::array<int, 3000> p{};
        int n = 0;
        for (int c = 2; n < 3000; ++c) {
            bool prime = true;
            for (int i = 0; i < n && p[static_cast<size_t>(i)] * p[static_cast<size_t>(i)] <= c;
                 ++i)
                if (c % p[static_cast<size_t>(i)] == 0) {
                    prime = false;
                    break;
                }
            if (prime) p[static_cast<size_t>(n++)] = c;
        }
        return p;
    }();
    return table;
}

// The first prime not below x (the largest tabled prime beyond the table).
int nextPrime(double x) {
    const auto& p = primes();
    auto it = std::lower_bound(p.begin(), p.end(), x,
                               [](int prime, double v) { return static_cast<double>(prime) < v; });
    return it == p.end() ? p.back() : *it;
}

uint32_t nextPow2(uint32_t v) {
    uint32_t p = 1;
    while (p < v)
        p <<= 1;
    return p;
}

// Comb index lists, write signs (+1: f - u, -1: u - f) and their gain tables per family.
struct CombFamily {
    int index[64];
    float sign[64];
    int count;
};

constexpr CombFamily makeFamily(bool room) {
    CombFamily f{};
    f.count = room ? 32 : 64;
    for (int j = 0; j < f.count; ++j) {
        const int k = room ? 2 * j + 1 : j;
        f.index[j] = k;
        if (room)
            f.sign[j] = (k & 2) ? -1.0f : 1.0f;
        else
            f.sign[j] = (k & 1) ? 1.0f : -1.0f;
    }
    return f;
}
constexpr CombFamily kFullFamily = makeFamily(false);
constexpr CombFamily kRoomFamily = makeFamily(true);

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
CORVANE_AVX int combQuadAvx(float* const* p, const float* g, float* f, const float* u,
                            const float* l, const float* r, float* accL, float* accR, int seg,
                            float keep) {
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

std::atomic<bool> wideKernelsAllowed{true};

bool haveAvx2Fma() {
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

void accumulateTapsDefault(float* out, const float* const* src, const float* g, int taps, int n) {
    accumulateTaps(out, src, g, taps, n);
}

#if defined(CORVANE_COMB_AVX)
CORVANE_AVX void accumulateTapsAvx(float* out, const float* const* src, const float* g, int taps,
                                   int n) {
    accumulateTaps(out, src, g, taps, n);
}
#endif

}  // namespace

FxReverb::FxReverb(Random& random)
    : random_(random),
      pool_(kPoolSize, 0.0f),
      diffuser_{std::vector<float>(kDiffuserSize, 0.0f), std::vector<float>(kDiffuserSize, 0.0f)} {
    setSampleRate(44100.0);
}

FxReverb::~FxReverb() = default;

void FxReverb::allowWideKernels(bool allow) {
#if defined(CORVANE_COMB_AVX)
    wideKernelsAllowed.store(allow, std::memory_order_relaxed);
#else
    (void)allow;
#endif
}

void FxReverb::setSampleRate(double sr) {
    setModuleSampleRate(sr);
    const uint32_t ring =
        nextPow2(std::max<uint32_t>(65536u, static_cast<uint32_t>(0.5 * sr) + 2 * kChunk));
    preRing_.assign(ring + kChunk, 0.0f);  // plus a mirror of the first kChunk entries
    preMask_ = ring - 1;
    preWrite_ = 0;
    setUpLengths();
    recomputeCombGains();
    predelay_ = static_cast<int>(std::floor(predelayMs_ * sampleRate * 0.001));
    lowpassCoefs(15000.0f, dampA1_, dampB0_);
    tapsDirty_.store(true, std::memory_order_relaxed);
    reset();
}

void FxReverb::setUpLengths() {
    const double sr = sampleRate;
    const double s = sr / 44100.0;
    int offset = 0;
    for (int k = 0; k < kCombs; ++k) {
        Comb& c = combs_[k];
        c.length = nextPrime(std::floor(500.0 + (k + 1) * 0.025 / 64.0 * sr));
        c.offset = offset;
        c.pos = 0;
        c.state = 0.0f;
        c.gain = static_cast<float>(std::pow(0.001, c.length / (5.028 * sr)) * 0.9);
        offset += c.length;
    }
    // The network's lines reuse the pool from its start: no type runs both.
    const double sq = std::floor(s * 8192.0) / 8192.0;
    offset = 0;
    for (int j = 0; j < kFdnLines; ++j) {
        FdnLine& l = fdn_[j];
        const int m = static_cast<int>(std::floor((9.5 * 1.4950050115585327 * j + 67.0) * 2.0));
        l.length = nextPrime(primes()[static_cast<size_t>(m)] * sq);
        l.offset = offset;
        l.pos = 0;
        l.state = 0.0f;
        offset += l.length;
    }
    rightDelay_ =
        std::min<uint32_t>(static_cast<uint32_t>(std::floor(99.0 * s)), kRightRingSize - 1);
    diffuserIncrement_ = static_cast<uint32_t>(4294967296.0 / sr * 0.5);
    diffuserLength_[0] = nextPrime(std::floor(0.0058 * sr));
    diffuserLength_[1] = nextPrime(std::floor(0.0057 * sr));
}

void FxReverb::recomputeCombGains() {
    const double t = sampleRate * decayTime_;
    for (int k = 0; k < kCombs; ++k) {
        float g = static_cast<float>(std::pow(0.001, combs_[k].length / t) * damp_);
        if (k == 31 || k == 63) g *= 0.8f;
        combs_[k].gain = g;
    }
}

void FxReverb::reset() {
    std::fill(preRing_.begin(), preRing_.end(), 0.0f);
    std::fill(pool_.begin(), pool_.end(), 0.0f);
    for (auto& d : diffuser_)
        std::fill(d.begin(), d.end(), 0.0f);
    std::fill(std::begin(rightRing_), std::end(rightRing_), 0.0f);
    for (Comb& c : combs_)
        c.pos = 0, c.state = 0.0f;
    for (FdnLine& l : fdn_)
        l.pos = 0, l.state = 0.0f;
    dampX1_ = dampY1_ = lowCutZ1_ = 0.0f;
    diffuserWrite_ = 0;
    diffuserPhase_ = 0;
    silence_ = 10000000;
    gated_ = true;
    wet_ = -1.0f;
    rememberedDelay_ = -1;
}

long FxReverb::subnormalCount() const {
    long n = dsp::countSubnormal(preRing_.data(), static_cast<long>(preRing_.size())) +
             dsp::countSubnormal(pool_.data(), static_cast<long>(pool_.size())) +
             dsp::countSubnormal(rightRing_, kRightRingSize);
    for (const auto& d : diffuser_)
        n += dsp::countSubnormal(d.data(), static_cast<long>(d.size()));
    for (const Comb& c : combs_)
        n += dsp::countSubnormal(&c.state, 1);
    for (const FdnLine& l : fdn_)
        n += dsp::countSubnormal(&l.state, 1);
    const float input[3] = {dampX1_, dampY1_, lowCutZ1_};
    return n + dsp::countSubnormal(input, 3);
}

void FxReverb::setParameter(int index, float value) {
    const float v = dsp::unitClamp(value);
    const int iv = dsp::toIndex(128.0f * v, 129);
    switch (index) {
        case 0:
            requestedType_.store(iv / 32, std::memory_order_relaxed);
            break;
        case 1:
            decayTime_ = mapped(kReverbDecaySeconds, v);
            recomputeCombGains();
            break;
        case 2:
            damp_ = 0.5f * v + 0.5f;
            dampRatio_ = dsp::expRange(v, 0.15f, 1.0f);
            recomputeCombGains();
            break;
        case 4:
            predelayMs_ = reverbPredelayMs(v);
            predelay_ = static_cast<int>(std::floor(predelayMs_ * sampleRate * 0.001));
            tapsDirty_.store(true, std::memory_order_relaxed);
            break;
        case 5:
            highpassCoefs(mapped(kReverbLowCutHz, v), lowCutA1_, lowCutB0_);
            break;
        case 8:
            wetTarget_ = v * v;
            break;
        default:
            break;
    }
}

int FxReverb::clampTap(double pos) const {
    const double maxPos = static_cast<double>(preMask_) - 2.0 * kChunk;
    return static_cast<int>(std::clamp(std::floor(pos), 0.0, maxPos));
}

void FxReverb::applyPendingChanges() {
    const int wanted = requestedType_.load(std::memory_order_relaxed);
    if (wanted != type_) {
        if (wanted == 1) reset();
        type_ = wanted;
        std::fill(std::begin(rightRing_), std::end(rightRing_), 0.0f);
        tapsDirty_.store(true, std::memory_order_relaxed);
    }
    if (tapsDirty_.exchange(false, std::memory_order_relaxed)) setUpTaps();
}

void FxReverb::setUpTaps() {
    const double sr = sampleRate;
    const double s48 = sr / 48000.0;
    const int pd = predelay_;
    tapsL_.count = tapsR_.count = tapsShared_.count = 0;
    erOffset_ = 0;
    const bool room = type_ == 2;
    diffuserLength_[0] = nextPrime(std::floor((room ? 0.0066 : 0.0058) * sr));
    diffuserLength_[1] = nextPrime(std::floor((room ? 0.0065 : 0.0057) * sr));
    auto add = [this](TapSet& set, double pos, float gain) {
        if (set.count >= kMaxTaps) return;
        set.pos[set.count] = clampTap(pos);
        set.gain[set.count] = gain;
        ++set.count;
    };
    if (type_ == 2) {
        for (int i = 0; i < 46; ++i) {
            const float gl = i < 44 ? 0.5f * kRoomLeftGain[i] : kRoomLeftTail[i - 44];
            const float gr = i < 44 ? 0.5f * kRoomRightGain[i] : kRoomRightTail[i - 44];
            add(tapsL_, std::floor((kRoomLeftPos[i] - 1599) * s48) + pd, gl);
            add(tapsR_, std::floor((kRoomRightPos[i] - 1599) * s48) + pd, gr);
        }
        add(tapsL_, std::floor(7960 * s48) + pd, kRoomLeftTail[2]);
        add(tapsR_, std::floor(6999 * s48) + pd, kRoomRightTail[2]);
        double last = 0.0;
        for (int i = 0; i < 128; ++i) {
            last = std::floor(std::pow((i + 1) / 128.0, 0.45) * 0.1 * sr) + pd;
            const float r = static_cast<float>(random_.next());
            const float g =
                static_cast<float>(std::max(1, i)) / 128.0f * (r / 32767.0f - 0.5f) * 0.0625f;
            add(tapsShared_, last, g);
        }
        erOffset_ = static_cast<int>(last) - combs_[0].length - pd - 54;
    } else if (type_ == 3 || type_ == 4) {
        const bool hall = type_ == 3;
        const int o = static_cast<int>(std::floor((hall ? 0.06 : 0.09) * sr));
        const double q = (hall ? 0.6 : 1.0) * s48;
        const float c3 = hall ? 0.5f : 1.0f;
        erOffset_ = o;
        for (int k = 0; k < 16; ++k) {
            add(tapsL_, combs_[k].length + pd + o, kHallCombLeft[k]);
            add(tapsR_, combs_[k].length + pd + o, kHallCombRight[k]);
        }
        for (int i = 0; i < 23; ++i)
            add(tapsL_, std::floor(kHallLeftPos[i] * q) + pd, c3 * kHallLeftGain[i]);
        for (int i = 0; i < 19; ++i)
            add(tapsR_, std::floor(kHallRightPos[i] * q) + pd, c3 * kHallRightGain[i]);
    }
}

void FxReverb::runInputStage(const float* left, const float* right, int n) {
    const float scale = type_ == 1 ? 1.0f : 0.5f;
    const float a1 = dampA1_, b0 = dampB0_, la1 = lowCutA1_, lb0 = lowCutB0_;
    float x1 = dampX1_, y1 = dampY1_, z1 = lowCutZ1_;
    float* ring = preRing_.data();
    for (int i = 0; i < n; ++i) {
        const float x = (left[i] + right[i]) * scale;
        const float y = b0 * (x + x1) - a1 * y1;
        const float z = dsp::flushSmall(lb0 * (y - y1) - la1 * z1);
        x1 = x;
        y1 = dsp::flushSmall(y);
        z1 = z;
        ring[(preWrite_ + static_cast<uint32_t>(i)) & preMask_] = z + 1e-15f;
    }
    // Mirror the ring's first kChunk entries behind its end.
    const uint32_t size = preMask_ + 1;
    for (int i = 0; i < n; ++i) {
        const uint32_t j = (preWrite_ + static_cast<uint32_t>(i)) & preMask_;
        if (j < static_cast<uint32_t>(kChunk)) ring[size + j] = ring[j];
    }
    dampX1_ = x1;
    dampY1_ = y1;
    lowCutZ1_ = z1;
}

void FxReverb::runEarly(int n) {
    std::fill(erL_, erL_ + n, 0.0f);
    std::fill(erR_, erR_ + n, 0.0f);
    std::fill(erShared_, erShared_ + n, 0.0f);
    // The ring's mirrored head makes every tap's stretch of n samples contiguous.
    const float* ring = preRing_.data();
    const TapSet* sets[3] = {&tapsL_, &tapsR_, &tapsShared_};
    float* outs[3] = {erL_, erR_, erShared_};
    const float* src[kMaxTaps];
    for (int s = 0; s < 3; ++s) {
        const TapSet& set = *sets[s];
        const int count = std::min(set.count, kMaxTaps);
        for (int t = 0; t < count; ++t)
            src[t] = ring + ((preWrite_ - static_cast<uint32_t>(set.pos[t])) & preMask_);
#if defined(CORVANE_COMB_AVX)
        if (haveAvx2Fma()) {
            accumulateTapsAvx(outs[s], src, set.gain, count, n);
            continue;
        }
#endif
        accumulateTapsDefault(outs[s], src, set.gain, count, n);
    }
    for (int i = 0; i < n; ++i) {
        erL_[i] += erShared_[i];
        erR_[i] -= erShared_[i];
    }
}

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

void FxReverb::runOutput(float* left, float* right, int n) {
    const float* sine = lfoSine();
    float* bufL = diffuser_[0].data();
    float* bufR = diffuser_[1].data();
    const int lenL = diffuserLength_[0], lenR = diffuserLength_[1];
    const float gL = diffuserGain_[0], gR = diffuserGain_[1];
    const bool delayRight = type_ != 2;
    const bool early = type_ >= 2;
    int w = diffuserWrite_;
    uint32_t phase = diffuserPhase_;
    float wet = wet_;
    for (int i = 0; i < n; ++i) {
        const float m = 2.0f * sine[phase >> 21];
        phase += diffuserIncrement_;
        const float fl = std::floor(m);
        const int k = static_cast<int>(fl);
        const float f = m - fl;
        const int rl = w - k - lenL, rr = w - k - lenR;
        const float vl = -((1.0f - f) * bufL[rl & (kDiffuserSize - 1)] +
                           f * bufL[(rl - 1) & (kDiffuserSize - 1)]);
        const float vr = -((1.0f - f) * bufR[rr & (kDiffuserSize - 1)] +
                           f * bufR[(rr - 1) & (kDiffuserSize - 1)]);
        bufL[w] = gL * vl + sumL_[i];
        bufR[w] = gR * vr + sumR_[i];
        const float outL = vl - gL * bufL[w];
        const float outR = vr - gR * bufR[w];
        w = (w + 1) & (kDiffuserSize - 1);
        float wl = 0.0625f * outL, wr = 0.0625f * outR;
        if (early) {
            wl += erL_[i];
            wr += erR_[i];
        }
        if (delayRight) {
            rightRing_[rightWrite_] = wr;
            wr = rightRing_[(rightWrite_ - rightDelay_) & (kRightRingSize - 1)];
            rightWrite_ = (rightWrite_ + 1) & (kRightRingSize - 1);
        }
        left[i] = left[i] * (1.0f - wet) + wet * wl;
        right[i] = right[i] * (1.0f - wet) + wet * wr;
        wet += wetStep_;
    }
    wet_ = wet;
    diffuserWrite_ = w;
    diffuserPhase_ = phase;
}

void FxReverb::process(int frames, float** io) {
    if (frames <= 0) return;
    applyPendingChanges();
    if (type_ < 0) return;
    float* left = io[0];
    float* right = io[1];

    // Silence gate: trailing near-silence is cleaned to 0; a block of silence counts
    // towards the decay time, after which the tail is frozen and nothing runs.
    bool loud = false;
    for (int n = frames - 1; n >= 0; --n) {
        if (std::fabs(left[n]) > 1e-9f || std::fabs(right[n]) > 1e-9f) {
            loud = true;
            break;
        }
        left[n] = 0.0f;
        right[n] = 0.0f;
    }
    if (loud) {
        silence_ = 0;
    } else {
        silence_ = static_cast<int32_t>(
            std::min<int64_t>(static_cast<int64_t>(silence_) + frames, 1 << 30));
        if (static_cast<double>(silence_) > static_cast<double>(decayTime_) * sampleRate) {
            wet_ = -1.0f;
            gated_ = true;
            return;
        }
    }
    gated_ = false;

    static constexpr float kDampFreq[5] = {15000.0f, 7000.0f, 5000.0f, 10000.0f, 8000.0f};
    lowpassCoefs(kDampFreq[type_], dampA1_, dampB0_);

    if (type_ == 1) {
        const double a = dampRatio_;
        // Each line ends in o = gain x + b o' with gain = G (1 - b): a low-pass whose DC gain
        // G / (1 - b) keeps the nominal decay G per pass, so Decay sets the low-frequency
        // decay time at every Damp and Damp only shortens the highs. (With -b in the
        // recursion the DC gain would be G (1 - b) / (1 + b): about 6 dB lost per pass at
        // Damp 0, whatever Decay says.)
        const double tilt = 1.0 - 1.0 / (a * a);
        float total = 0.0f;
        for (FdnLine& l : fdn_) {
            const double e = -3.0 * l.length / (sampleRate * decayTime_);
            const double b = std::min(0.92, e * 0.5756462812423706 * tilt);
            l.gain = static_cast<float>(std::pow(10.0, e) * (1.0 - b) * 0.25);
            l.coef = static_cast<float>(b);
            total += l.gain;
        }
        fdnOutScale_ = std::min(2.0f, 16.0f / total) / 16.0f;
    }

    const int d = std::min(predelay_ + erOffset_ + 1,
                           std::min(65533, static_cast<int>(preMask_) - 2 * kChunk));
    const int delay = std::max(d, 1);
    if (rememberedDelay_ < 0) rememberedDelay_ = delay;
    delayOld_ = rememberedDelay_;
    delayNew_ = delay;

    if (wet_ < 0.0f) {
        wet_ = wetTarget_;
        wetStep_ = 0.0f;
    } else {
        wetStep_ = (wetTarget_ - wet_) / static_cast<float>(frames);
    }

    for (int start = 0; start < frames; start += kChunk) {
        const int n = std::min(kChunk, frames - start);
        runInputStage(left + start, right + start, n);
        if (type_ >= 2) runEarly(n);
        runLateInput(n, start, frames);
        switch (type_) {
            case 1:
                runFdn(n);
                break;
            case 2:
                runCombs(kRoomFamily.index, kRoomFamily.sign, kCombLeft32, kCombRight32,
                         kRoomFamily.count, n);
                break;
            default:
                runCombs(kFullFamily.index, kFullFamily.sign, kCombLeft64, kCombRight64,
                         kFullFamily.count, n);
                break;
        }
        runOutput(left + start, right + start, n);
        preWrite_ = (preWrite_ + static_cast<uint32_t>(n)) & preMask_;
    }

    rememberedDelay_ = delay;
    wet_ = wetTarget_;
    for (Comb& c : combs_)
        c.state = dsp::flushSmall(c.state);
}

}  // namespace corvane
