#include "platform/FpControl.h"

namespace corvane::platform {

#if defined(__i386__) || defined(__x86_64__)

FpControl readFpControl() {
    FpControl c;
    __asm__ __volatile__("fnstcw %0" : "=m"(c.x87));
    __asm__ __volatile__("stmxcsr %0" : "=m"(c.mxcsr));
    return c;
}

void writeFpControl(const FpControl& control) {
    __asm__ __volatile__("fldcw %0" : : "m"(control.x87));
    __asm__ __volatile__("ldmxcsr %0" : : "m"(control.mxcsr));
}

FpControl defaultFpControl() {
    FpControl c;
    c.x87 = 0x037F;
    c.mxcsr = 0x1F80;
    return c;
}

#else

FpControl defaultFpControl() {
    return {};
}
FpControl readFpControl() {
    return {};
}
void writeFpControl(const FpControl&) {}

#endif

}  // namespace corvane::platform
