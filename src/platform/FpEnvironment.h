#pragma once
// The floating-point environment the plug-in computes in, whatever its host has set: every
// exception masked, rounding to nearest, and on SSE flush-to-zero and denormals-are-zero.
// The host's own environment, status flags included, is back when the call returns.
#include <cfenv>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#define CORVANE_HAVE_MXCSR 1
#endif

namespace corvane::platform {

#ifdef CORVANE_HAVE_MXCSR
// All six SSE exceptions masked (0x1F80), round to nearest, flush-to-zero (0x8000) and
// denormals-are-zero (0x0040).
constexpr uint32_t kPluginMxcsr = 0x1F80u | 0x8000u | 0x0040u;
#endif

// Held for the length of every host call that computes: construction, the dispatcher,
// parameter calls and the process calls. Nesting is harmless.
class FpEnvironmentGuard {
  public:
    FpEnvironmentGuard() noexcept {
        std::fegetenv(&saved_);
#ifdef CORVANE_HAVE_MXCSR
        savedMxcsr_ = _mm_getcsr();
#endif
        std::fesetenv(FE_DFL_ENV);
#ifdef CORVANE_HAVE_MXCSR
        _mm_setcsr(kPluginMxcsr);
#endif
    }
    ~FpEnvironmentGuard() {
        std::fesetenv(&saved_);
#ifdef CORVANE_HAVE_MXCSR
        _mm_setcsr(savedMxcsr_);
#endif
    }
    FpEnvironmentGuard(const FpEnvironmentGuard&) = delete;
    FpEnvironmentGuard& operator=(const FpEnvironmentGuard&) = delete;

  private:
    std::fenv_t saved_;
#ifdef CORVANE_HAVE_MXCSR
    uint32_t savedMxcsr_ = 0;
#endif
};

}  // namespace corvane::platform
