#pragma once
// The distortion's shaping curves, four values at a time and without library calls: 2^x from
// the exponent bits and a polynomial, so that a block's curves run in vector lanes (on any
// processor: the compiler splits the lanes where it has no vector unit). The one-value forms
// run the same lanes, so that both give the same bits. Against the exact curves (in double)
// the error stays below 2e-7 absolute for tanh and the toxic curve over the whole input
// range, and for the valve curve away from t = 0 (near it the quotient cancels in float and a
// window takes the limit, as with the library's exp: 6e-5 within 0.01 of 0); see
// tests/fx/DistortionCurveTest.cpp.
#include <cstdint>

namespace corvane::curves {

typedef float Float4 __attribute__((vector_size(16)));
typedef int32_t Int4 __attribute__((vector_size(16)));

inline Float4 splat(float x) {
    return Float4{x, x, x, x};
}

inline Float4 abs4(Float4 x) {
    return reinterpret_cast<Float4>(reinterpret_cast<Int4>(x) & 0x7FFFFFFF);
}

// |magnitude| with the sign of `sign`.
inline Float4 copysign4(Float4 magnitude, Float4 sign) {
    const Int4 m = reinterpret_cast<Int4>(abs4(magnitude));
    return reinterpret_cast<Float4>(m | (reinterpret_cast<Int4>(sign) & INT32_MIN));
}

// 2^x, relative error below 2e-7; held to 2^-100 below (so that nothing built from it turns
// subnormal) and to 2^127 above.
inline Float4 exp2Fast(Float4 x) {
    x = x < -100.0f ? splat(-100.0f) : x;
    x = x > 127.0f ? splat(127.0f) : x;
    // Round to the nearest integer with the 1.5 * 2^23 trick; f lies in [-0.5, 0.5].
    const Float4 whole = (x + 12582912.0f) - 12582912.0f;
    const Float4 f = x - whole;
    // 2^f = e^(f ln 2), Taylor to the 7th power: the terms left out stay below 5e-9.
    constexpr float c1 = 0.6931471805599453f, c2 = 0.2402265069591007f, c3 = 0.05550410866482158f,
                    c4 = 0.009618129107628477f, c5 = 0.0013333558146428443f,
                    c6 = 0.0001540353039338161f, c7 = 1.525273380405984e-05f;
    const Float4 p =
        1.0f + f * (c1 + f * (c2 + f * (c3 + f * (c4 + f * (c5 + f * (c6 + f * c7))))));
    const Int4 e = __builtin_convertvector(whole, Int4) + 127;
    return p * reinterpret_cast<Float4>(e << 23);
}

inline Float4 expFast(Float4 x) {
    return exp2Fast(x * 1.4426950408889634f);
}

// tanh(y) as 1 - 2 / (e^(2y) + 1): exactly 0 at 0, exactly +-1 far out.
inline Float4 tanhFast(Float4 y) {
    return 1.0f - 2.0f / (expFast(2.0f * y) + 1.0f);
}

// The toxic curve of |x| at drive G: 0.25 (1 - (1 - |x|) 10^(-G |x|)).
inline Float4 toxic(Float4 ax, float g) {
    constexpr float kLog2of10 = 3.321928094887362f;
    return 0.25f * (1.0f - (1.0f - ax) * exp2Fast(-kLog2of10 * g * ax));
}

// The valve curve t / (1 - e^(-8t)), with its limit 1/8 near t = 0.
inline Float4 valveRaw(Float4 t) {
    const Float4 q = t / (1.0f - expFast(-8.0f * t));
    return abs4(t) < 0.0001f ? splat(0.125f) : q;
}
// Its value at t = 0.25, where the input 0 lands: taken off, so that silence stays silent.
// Written out rather than computed when the library loads: a host may load the plug-in with
// floating-point traps unmasked, and no arithmetic may run outside the plug-in's own calls.
// A test checks that it is exactly valveRaw(0.25).
inline constexpr float kValveRest = 0x1.28118ap-2f;
inline Float4 valve(Float4 t) {
    return valveRaw(t) - kValveRest;
}

// One value through the same lanes.
inline float exp2Fast(float x) {
    return exp2Fast(splat(x))[0];
}
inline float expFast(float x) {
    return expFast(splat(x))[0];
}
inline float tanhFast(float y) {
    return tanhFast(splat(y))[0];
}
inline float toxic(float ax, float g) {
    return toxic(splat(ax), g)[0];
}
inline float valve(float t) {
    return valve(splat(t))[0];
}

}  // namespace corvane::curves
