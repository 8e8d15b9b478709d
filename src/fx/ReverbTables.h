#pragma once
// The reverb's fixed tables: comb output gains, early-reflection patterns, the diffuse
// network's output rows, the prime lengths, and the comb families of the types.
#include <algorithm>
#include <array>
#include <cstdint>

namespace corvane::reverb {

// Output gains of the combs, left and right: 64 entries for "Diffuse-1", "Hall" and
// "Cathedral", 32 for "Room" (which runs the odd-numbered combs). Magnitudes 0.8..1.0 with
// signs balanced per side and independent between the sides, so the two sums decorrelate;
// the last comb (the longest, with its feedback cut by 0.8) is given a strong weight.
inline constexpr float kCombLeft64[64] = {
    0.9500f,  -0.9850f, -0.9860f, 0.9870f,  -0.9990f, 0.8070f,  -0.8040f, 0.9010f,
    0.9960f,  0.9030f,  -0.8490f, 0.8890f,  0.9320f,  0.9300f,  -0.9310f, -0.9090f,
    -0.9780f, -0.9940f, -0.8620f, 0.8430f,  0.8460f,  -0.8400f, -0.9760f, 0.9460f,
    -0.8280f, 0.9980f,  0.9960f,  0.9670f,  -0.8030f, 0.9250f,  0.9760f,  -0.8860f,
    0.8110f,  -0.9330f, -0.8760f, 0.9010f,  -0.9940f, 0.9200f,  -0.9390f, -0.8090f,
    0.8370f,  -0.8540f, -0.8010f, -0.8730f, 0.8660f,  -0.9970f, 0.8650f,  -0.8070f,
    0.9760f,  0.8440f,  0.8370f,  -0.8670f, -0.8170f, -0.8560f, -0.9310f, -0.8500f,
    0.9550f,  -0.8180f, -0.9630f, -0.8290f, 0.9170f,  0.8790f,  -0.8600f, -3.4000f,
};
inline constexpr float kCombRight64[64] = {
    0.9500f,  0.9667f,  0.9770f,  -0.9800f, -0.9770f, 0.9120f,  -0.9520f, 0.8760f,
    0.9540f,  -0.8620f, 0.9610f,  -0.8180f, 0.9410f,  0.8390f,  0.9080f,  0.8890f,
    -0.8650f, -0.9470f, 0.8950f,  -0.9260f, -0.8500f, 0.9250f,  -0.8810f, 0.8750f,
    -0.8930f, -0.9610f, 0.8120f,  -0.8390f, 0.8130f,  0.9210f,  -0.8730f, 2.0000f,
    -0.9910f, -0.8090f, 0.9490f,  0.9380f,  -0.9850f, -0.8590f, 0.9440f,  -0.9190f,
    -0.9610f, -0.9890f, -0.8130f, 0.9650f,  -0.8210f, -0.9430f, -0.8930f, 0.9550f,
    0.9580f,  0.9830f,  -0.9630f, -0.8270f, -0.8990f, 0.8020f,  -0.9860f, -0.8610f,
    0.9380f,  -0.8300f, 0.8470f,  0.9720f,  0.8920f,  0.9570f,  0.9190f,  -0.9020f,
};
inline constexpr float kCombLeft32[32] = {
    0.9500f,  -0.9850f, -0.9860f, 0.9870f,  -0.8310f, -0.9770f, 0.9160f,  0.8650f,
    -0.8790f, 0.9980f,  -0.9010f, -0.8460f, 0.9620f,  -0.9310f, -0.9980f, -0.8200f,
    0.8950f,  0.9640f,  0.9680f,  -0.9830f, -0.8080f, -0.8590f, 0.8240f,  0.8380f,
    -0.9950f, -0.9170f, 0.9860f,  0.8740f,  0.9730f,  0.8900f,  0.8520f,  5.0000f,
};
inline constexpr float kCombRight32[32] = {
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
inline constexpr int kRoomLeftPos[46] = {
    1693, 1980, 2069, 2160, 2353, 2417, 2664, 2789, 2845, 3002, 3108, 3340, 3432, 3612, 3646, 3832,
    4152, 4217, 4482, 4840, 4892, 4952, 4993, 5026, 5095, 5394, 5483, 5796, 5842, 5883, 6014, 6034,
    6343, 6449, 6487, 6578, 6651, 6712, 6801, 6899, 6973, 6998, 7072, 7153, 7498, 7537,
};
inline constexpr int kRoomRightPos[46] = {
    1609, 1693, 2069, 2137, 2321, 2387, 2537, 2575, 2816, 2837, 2917, 2944, 2987, 3011, 3034, 3275,
    3454, 3627, 3747, 3816, 3926, 4262, 4385, 4583, 4651, 4736, 4992, 5036, 5140, 5343, 5372, 5439,
    5573, 5699, 5976, 6020, 6079, 6142, 6204, 6257, 6467, 6531, 6550, 6633, 6669, 6740,
};
inline constexpr float kRoomLeftGain[44] = {
    0.1640f,  0.0996f,  -0.0200f, 0.1227f,  -0.1119f, -0.0564f, -0.0779f, 0.0918f,  -0.0856f,
    0.0550f,  -0.0916f, 0.0666f,  -0.0589f, 0.0497f,  0.0699f,  0.0520f,  0.0295f,  0.0279f,
    -0.0261f, -0.0321f, -0.0445f, -0.0475f, 0.0422f,  0.0420f,  0.0313f,  0.0382f,  -0.0244f,
    -0.0312f, 0.0375f,  0.0171f,  -0.0177f, -0.0314f, -0.0206f, 0.0213f,  -0.0263f, -0.0165f,
    0.0272f,  0.0224f,  0.0172f,  -0.0177f, 0.0111f,  -0.0198f, 0.0203f,  0.0168f,
};
inline constexpr float kRoomRightGain[44] = {
    0.1200f,  -0.0539f, 0.0543f,  0.0537f,  -0.0856f, -0.0855f, -0.0440f, 0.0905f,  0.0900f,
    0.0865f,  0.0646f,  0.0547f,  0.0378f,  -0.0483f, 0.0921f,  0.0440f,  -0.0737f, -0.0689f,
    0.0693f,  -0.0525f, 0.0391f,  0.0463f,  -0.0262f, -0.0371f, 0.0269f,  0.0310f,  0.0416f,
    0.0392f,  -0.0368f, -0.0433f, 0.0204f,  0.0301f,  -0.0213f, -0.0226f, 0.0173f,  0.0245f,
    -0.0212f, 0.0156f,  0.0265f,  -0.0207f, -0.0128f, -0.0220f, -0.0181f, -0.0260f,
};

// The three late taps of each "Room" side.
inline constexpr float kRoomLeftTail[3] = {0.0162f, -0.0158f, 0.0161f};
inline constexpr float kRoomRightTail[3] = {-0.0159f, 0.0163f, -0.0157f};

// "Hall" and "Cathedral": taps at the first 16 comb lengths, then fixed reflections.
inline constexpr float kHallCombLeft[16] = {
    0.01484f,  0.01539f,  -0.01541f, -0.01542f, -0.01542f, -0.01544f, -0.015f,   -0.01531f,
    -0.01539f, -0.01391f, -0.01547f, -0.01422f, 0.015f,    0.015f,    -0.01484f, -0.01484f};
inline constexpr float kHallCombRight[16] = {
    0.01484f,  -0.0151f,  0.01527f, 0.01531f,  0.01525f,  0.01531f, 0.0153f,   0.01484f,
    -0.01375f, -0.01562f, 0.01562f, -0.01562f, -0.01562f, 0.01562f, -0.01562f, -0.01562f};
inline constexpr int kHallLeftPos[23] = {1394,  1545,  2760,  2835,  6619,  7815,  8044, 8153,
                                         8939,  8975,  9048,  9164,  9480,  9576,  9612, 12180,
                                         12387, 12539, 13753, 14042, 14059, 14139, 16213};
inline constexpr float kHallLeftGain[23] = {
    0.790008f, -0.282511f, 0.39788f,  -0.225021f, 0.178506f,  0.183041f,  0.269866f, -0.1136f,
    0.163575f, 0.072582f,  0.148236f, 0.210556f,  0.160262f,  -0.074949f, 0.141124f, 0.112653f,
    0.095003f, 0.106233f,  0.122935f, 0.110842f,  -0.072162f, 0.162574f,  0.141174f};
inline constexpr int kHallRightPos[19] = {354,   1394,  1545,  2760,  2835, 6387, 6659,
                                          7816,  8044,  8153,  8909,  9053, 9576, 11510,
                                          12175, 12491, 12654, 14058, 17194};
inline constexpr float kHallRightGain[19] = {
    0.79916f,   -0.240909f, 0.894957f, -0.120724f, 0.710723f, 0.148243f, 0.208488f,
    -0.073174f, -0.103855f, 0.367281f, 0.102083f,  0.106125f, 0.239366f, 0.08257f,
    0.080283f,  0.076169f,  0.070502f, 0.207366f,  0.079204f};

// Output combination of the "Diffuse-2" network: two orthogonal Walsh rows (6 and 11, so
// neither is the all-ones row along which the input enters) with slightly uneven weights,
// which keeps the two sides decorrelated and free of the input's direct image.
inline constexpr float kFdnLeft[16] = {0.8f,  0.79f, -0.77f, -0.78f, -0.8f,  -0.78f, 0.79f, 0.77f,
                                       0.79f, 0.8f,  -0.78f, -0.77f, -0.78f, -0.77f, 0.8f,  0.79f};
inline constexpr float kFdnRight[16] = {0.79f,  -0.8f, -0.78f, 0.77f, 0.77f, -0.79f,
                                        -0.8f,  0.78f, -0.8f,  0.78f, 0.77f, -0.79f,
                                        -0.78f, 0.8f,  0.79f,  -0.77f};

inline constexpr float kFdnMakeup = 16.0f;

inline const std::array<int, 3000>& primes() {
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
inline int nextPrime(double x) {
    const auto& p = primes();
    auto it = std::lower_bound(p.begin(), p.end(), x,
                               [](int prime, double v) { return static_cast<double>(prime) < v; });
    return it == p.end() ? p.back() : *it;
}

inline uint32_t nextPow2(uint32_t v) {
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
inline constexpr CombFamily kFullFamily = makeFamily(false);
inline constexpr CombFamily kRoomFamily = makeFamily(true);

}  // namespace corvane::reverb
