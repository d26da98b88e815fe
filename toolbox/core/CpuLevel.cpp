// CpuLevel.cpp - the processor's vector level, detected once and capped (see CpuLevel.h).
#include "CpuLevel.h"

#include <cstdlib>
#include <string_view>

namespace toolbox {

namespace {

CpuLevel Detected() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512bw"))
        return CpuLevel::AVX512;
    if (__builtin_cpu_supports("avx2"))
        return CpuLevel::AVX2;
    // SSE2 is not a given in a 32-bit x86 build: the kernels ask for it themselves.
    if (__builtin_cpu_supports("sse2"))
        return CpuLevel::SSE2;
#endif
    return CpuLevel::Portable;
}

CpuLevel Cap() {
    const char* env = std::getenv("TESSERA_VECTOR");
    const std::string_view cap = env ? env : "";
    if (cap == "portable")
        return CpuLevel::Portable;
    if (cap == "sse2")
        return CpuLevel::SSE2;
    if (cap == "avx2")
        return CpuLevel::AVX2;
    return CpuLevel::AVX512;
}

} // namespace

CpuLevel CurrentCpuLevel() {
    static const CpuLevel level = [] {
        const CpuLevel found = Detected(), cap = Cap();
        return found < cap ? found : cap;
    }();
    return level;
}

} // namespace toolbox
