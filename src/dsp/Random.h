#pragma once
#include <cstdint>

namespace corvane {

// Per-instance random numbers: uniform integers 0..32767 (a 32-bit LCG's high bits).
class Random {
  public:
    explicit Random(uint32_t seed = 22222u) : state_(seed) {}
    void seed(uint32_t s) { state_ = s; }
    int next() {
        state_ = state_ * 1103515245u + 12345u;
        return static_cast<int>((state_ >> 16) & 0x7FFF);
    }

  private:
    uint32_t state_;
};

}  // namespace corvane
