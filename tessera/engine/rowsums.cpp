// rowsums.cpp - the portable column sums and the choice of kernel (see rowsums.h).
#include "rowsums.h"

#include "CpuLevel.h"

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
    switch (toolbox::CurrentCpuLevel()) {
#if defined(__x86_64__) || defined(__i386__)
    case toolbox::CpuLevel::AVX512:
        return SumRowsAVX512;
    case toolbox::CpuLevel::AVX2:
        return SumRowsAVX2;
    case toolbox::CpuLevel::SSE2:
        return SumRowsSSE2;
#endif
    default:
        return SumRowsPortable;
    }
}
