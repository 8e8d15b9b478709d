#pragma once
// The floating-point environment the plug-in computes in, whatever its host has set: every
// exception masked, rounding to nearest, the x87 unit at extended precision, and on SSE
// flush-to-zero and denormals-are-zero. The host's own environment, status flags included,
// is back when the call returns. The control registers are saved and written directly as
// well: not every C runtime's fenv keeps MXCSR or the x87 precision.
#include <cfenv>
#include <cstdint>

#include "platform/FpControl.h"

namespace corvane::platform {

// All six SSE exceptions masked (0x1F80), round to nearest, flush-to-zero (0x8000) and
// denormals-are-zero (0x0040).
constexpr uint32_t kPluginMxcsr = 0x1F80u | 0x8000u | 0x0040u;

inline FpControl pluginFpControl() {
    FpControl c = defaultFpControl();
    c.mxcsr = kPluginMxcsr;
    return c;
}

// Held for the length of every host call that computes: construction, the dispatcher,
// parameter calls and the process calls. Nesting is harmless.
class FpEnvironmentGuard {
  public:
    FpEnvironmentGuard() noexcept : savedControl_(readFpControl()) {
        std::fegetenv(&saved_);
        std::fesetenv(FE_DFL_ENV);
        writeFpControl(pluginFpControl());
    }
    ~FpEnvironmentGuard() {
        std::fesetenv(&saved_);
        writeFpControl(savedControl_);
    }
    FpEnvironmentGuard(const FpEnvironmentGuard&) = delete;
    FpEnvironmentGuard& operator=(const FpEnvironmentGuard&) = delete;

  private:
    std::fenv_t saved_;
    FpControl savedControl_;
};

}  // namespace corvane::platform
