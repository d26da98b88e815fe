// rowsums_avx512.cpp - the column sums with AVX-512BW, 64 bytes per instruction (see rowsums.h).
#include "rowsums.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace {

__attribute__((target("avx2,avx512f,avx512bw"))) inline __m512i StartAVX512(const UInt16* sums,
                                                                            bool add) {
    return add ? _mm512_loadu_si512(sums) : _mm512_setzero_si512();
}

} // namespace

__attribute__((target("avx2,avx512f,avx512bw"))) void
SumRowsAVX512(UInt16* sums, const UInt8* first, SInt32 rowBytes, SInt32 rows, size_t n, bool add) {
    size_t i = 0;
    // Four cache lines of each row at a time: each row is visited in runs of 256 bytes.
    for (; i + 256 <= n; i += 256) {
        __m512i acc[8];
        for (int k = 0; k < 8; ++k) {
            acc[k] = StartAVX512(sums + i + 32 * k, add);
        }
        const UInt8* p = first + i;
        for (SInt32 r = 0; r < rows; ++r, p += rowBytes) {
            for (int k = 0; k < 8; ++k) {
                acc[k] =
                    _mm512_add_epi16(acc[k], _mm512_cvtepu8_epi16(_mm256_loadu_si256(
                                                 reinterpret_cast<const __m256i*>(p + 32 * k))));
            }
        }
        for (int k = 0; k < 8; ++k) {
            _mm512_storeu_si512(sums + i + 32 * k, acc[k]);
        }
    }
    for (; i + 64 <= n; i += 64) {
        __m512i lo = StartAVX512(sums + i, add), hi = StartAVX512(sums + i + 32, add);
        const UInt8* p = first + i;
        for (SInt32 r = 0; r < rows; ++r, p += rowBytes) {
            lo = _mm512_add_epi16(
                lo, _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))));
            hi = _mm512_add_epi16(hi, _mm512_cvtepu8_epi16(_mm256_loadu_si256(
                                          reinterpret_cast<const __m256i*>(p + 32))));
        }
        _mm512_storeu_si512(sums + i, lo);
        _mm512_storeu_si512(sums + i + 32, hi);
    }
    _mm256_zeroupper(); // as in SumRowsAVX2
    SumRowsAVX2(sums + i, first + i, rowBytes, rows, n - i, add);
}

#endif
