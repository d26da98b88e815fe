// rowsums.cpp - the portable column sums and the choice of kernel (see rowsums.h).
#include "rowsums.h"

#include <cstdlib>
#include <string_view>

void SumRowsPortable(UInt16* sums, const UInt8* first, SInt32 rowBytes, SInt32 rows, size_t n,
                     bool add) {
    for (size_t i = 0; i < n; ++i) {
        UInt32 sum = add ? sums[i] : 0;
        const UInt8* p = first + i;
        for (SInt32 r = 0; r < rows; ++r, p += rowBytes) {
            sum += *p;
        }
        sums[i] = UInt16(sum);
    }
}

SumRowsFn ChooseSumRows() {
    const char* cap = std::getenv("TESSERA_VECTOR");
    const std::string_view limit = cap ? cap : "";
    if (limit == "portable") {
        return SumRowsPortable;
    }
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (limit != "sse2" && limit != "avx2" && __builtin_cpu_supports("avx512bw")) {
        return SumRowsAVX512;
    }
    if (limit != "sse2" && __builtin_cpu_supports("avx2")) {
        return SumRowsAVX2;
    }
    if (__builtin_cpu_supports("sse2")) {
        return SumRowsSSE2;
    }
#endif
    return SumRowsPortable;
}
