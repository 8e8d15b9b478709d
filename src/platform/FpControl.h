#pragma once
// The processor's floating-point control registers as a host leaves them: the x87 control
// word and, with SSE, MXCSR. For tests that play a host with unusual settings; on
// processors without these registers both read 0 and writes do nothing.
#include <cstdint>

namespace corvane::platform {

struct FpControl {
    uint16_t x87 = 0;    // precision, rounding and exception masks of the x87 unit
    uint32_t mxcsr = 0;  // rounding, exception masks, flush-to-zero and denormals-are-zero
};

// Any thread; acts on the calling thread's registers.
FpControl readFpControl();
void writeFpControl(const FpControl& control);
// The settings a process starts with: x87 at extended precision, rounding to nearest, every
// exception masked; SSE the same without flush-to-zero or denormals-are-zero.
FpControl defaultFpControl();

// x87 control word fields.
constexpr uint16_t kX87PrecisionMask = 0x0300;  // 00 single, 10 double, 11 extended
constexpr uint16_t kX87RoundingMask = 0x0C00;   // 00 nearest, 01 down, 10 up, 11 toward zero
constexpr uint32_t kMxcsrRoundingMask = 0x6000;

}  // namespace corvane::platform
