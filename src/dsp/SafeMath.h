#pragma once
// Conversions of stored and host-set values that stay defined for every float, NaN and
// infinities included. A patch, a chunk or a host may hand over any bit pattern; these are
// the only ways such a value may become an index, a table position or a bounded setting.
// Every comparison is written so that NaN falls to the low end: `v > lo` is false for NaN.
// All functions are pure and may be called from any thread.
#include <cmath>
#include <cstdint>

namespace dsp {

// v limited to lo..hi; NaN gives lo, -inf lo, +inf hi.
template <typename T>
constexpr T safeClamp(T v, T lo, T hi) {
    return v > lo ? (v < hi ? v : hi) : lo;
}

// v limited to 0..1; NaN and -inf give 0, +inf gives 1.
constexpr float unitClamp(float v) {
    return safeClamp(v, 0.0f, 1.0f);
}
constexpr double unitClamp(double v) {
    return safeClamp(v, 0.0, 1.0);
}

// The integer part of v (truncated toward zero) as an index into a table of `count`
// entries: 0 for NaN and anything below 1, count - 1 for anything at or above it.
// `count` must be at least 1.
template <typename T>
constexpr int toIndex(T v, int count) {
    const T last = static_cast<T>(count - 1);
    if (!(v > T(0))) return 0;
    if (!(v < last)) return count - 1;
    return static_cast<int>(v);
}

// The integer part of v (truncated toward zero) limited to lo..hi; NaN gives lo.
template <typename T>
constexpr int truncClamp(T v, int lo, int hi) {
    if (!(v > static_cast<T>(lo))) return lo;
    if (!(v < static_cast<T>(hi))) return hi;
    return static_cast<int>(v);
}

// expRange(v, low, high) = low * (high / low)^v: maps 0..1 onto a rate, time or frequency,
// in the precision of its arguments.
template <typename T>
T expRange(T value, T low, T high) {
    return low * std::pow(high / low, value);
}

// v when it is finite, otherwise `fallback`.
template <typename T>
constexpr T finiteOr(T v, T fallback) {
    return std::isfinite(v) ? v : fallback;
}

// 0 for values whose magnitude is below `limit` (1e-9 for filter, smoother and effect
// states), v otherwise. NaN passes unchanged; callers that may see one clamp first.
// Written with fabs so that it compiles to a compare and a mask, without a branch.
inline float flushSmall(float v, float limit = 1e-9f) {
    return std::fabs(v) < limit ? 0.0f : v;
}
inline double flushSmall(double v, double limit = 1e-9) {
    return std::fabs(v) < limit ? 0.0 : v;
}

// How many of n floats are subnormal (nonzero with all exponent bits clear): the values that
// make arithmetic slow on most processors. For diagnostics and tests; not for the audio path.
inline long countSubnormal(const float* v, long n) {
    long count = 0;
    for (long i = 0; i < n; ++i)
        count += std::fpclassify(v[i]) == FP_SUBNORMAL ? 1 : 0;
    return count;
}
inline long countSubnormal(double v) {
    return std::fpclassify(v) == FP_SUBNORMAL ? 1 : 0;
}

}  // namespace dsp
