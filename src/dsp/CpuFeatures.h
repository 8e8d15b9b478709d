#pragma once
// Which vector kernels this processor can run, asked once at run time. The wide kernels are
// compiled with a target attribute beside the baseline ones; callers pick one per block.
// Any thread; the answers never change during a run.

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define CORVANE_X86_DISPATCH 1
#else
#define CORVANE_X86_DISPATCH 0
#endif

namespace dsp {

struct CpuFeatures {
    bool avx2 = false;
    bool fma = false;
};

inline const CpuFeatures& cpuFeatures() {
    static const CpuFeatures features = [] {
        CpuFeatures f;
#if CORVANE_X86_DISPATCH
        __builtin_cpu_init();
        f.avx2 = __builtin_cpu_supports("avx2");
        f.fma = __builtin_cpu_supports("fma");
#endif
        return f;
    }();
    return features;
}

}  // namespace dsp
