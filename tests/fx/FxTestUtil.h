#pragma once
// Shared helpers of the effect tests: signal makers, block runners and measurements.
#include <atomic>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <vector>

#include "dsp/Random.h"

namespace fxtest {

// Heap allocations seen while counting is on (operator new is replaced in this binary).
extern std::atomic<bool> countAllocations;
extern std::atomic<long> allocationCount;

struct Stereo {
    std::vector<float> left, right;
    explicit Stereo(size_t n = 0) : left(n, 0.0f), right(n, 0.0f) {}
    size_t size() const { return left.size(); }
};

inline Stereo noise(size_t n, uint32_t seed, float level = 1.0f) {
    corvane::Random r(seed);
    Stereo s(n);
    for (size_t i = 0; i < n; ++i) {
        s.left[i] = (static_cast<float>(r.next()) / 16383.5f - 1.0f) * level;
        s.right[i] = (static_cast<float>(r.next()) / 16383.5f - 1.0f) * level;
    }
    return s;
}

inline Stereo sine(size_t n, double hz, double sr, float level = 1.0f) {
    Stereo s(n);
    for (size_t i = 0; i < n; ++i) {
        const float v =
            level * static_cast<float>(std::sin(2.0 * std::numbers::pi * hz * double(i) / sr));
        s.left[i] = v;
        s.right[i] = v;
    }
    return s;
}

// Runs `process(frames, io)` over the signal in blocks of `block` frames, in place.
template <typename F>
void runBlocks(Stereo& s, int block, F&& process) {
    for (size_t start = 0; start < s.size(); start += static_cast<size_t>(block)) {
        const int n =
            static_cast<int>(std::min<size_t>(static_cast<size_t>(block), s.size() - start));
        float* io[2] = {s.left.data() + start, s.right.data() + start};
        process(n, io);
    }
}

// Peak magnitude of v over [from, to).
inline float peak(const std::vector<float>& v, size_t from, size_t to) {
    float p = 0.0f;
    for (size_t i = from; i < to && i < v.size(); ++i)
        p = std::max(p, std::fabs(v[i]));
    return p;
}

// First index whose magnitude exceeds the threshold, or -1.
inline long firstAbove(const std::vector<float>& v, float threshold) {
    for (size_t i = 0; i < v.size(); ++i)
        if (std::fabs(v[i]) > threshold) return static_cast<long>(i);
    return -1;
}

}  // namespace fxtest
