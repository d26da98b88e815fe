// rowsums_avx2.cpp - the column sums with AVX2, 32 bytes per instruction (see rowsums.h).
#include "rowsums.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace {

__attribute__((target("avx2"))) inline __m256i StartAVX2(const UInt16* sums, bool add) {
    return add ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums))
               : _mm256_setzero_si256();
}

} // namespace

__attribute__((target("avx2"))) void SumRowsAVX2(UInt16* sums, const UInt8* first, SInt32 rowBytes,
                                                 SInt32 rows, size_t n, bool add) {
    size_t i = 0;
    // Two cache lines of each row at a time (eight accumulators of the sixteen registers).
    for (; i + 128 <= n; i += 128) {
        __m256i acc[8];
        for (int k = 0; k < 8; ++k) {
            acc[k] = StartAVX2(sums + i + 16 * k, add);
        }
        const UInt8* p = first + i;
        for (SInt32 r = 0; r < rows; ++r, p += rowBytes) {
            for (int k = 0; k < 8; ++k) {
                acc[k] =
                    _mm256_add_epi16(acc[k], _mm256_cvtepu8_epi16(_mm_loadu_si128(
                                                 reinterpret_cast<const __m128i*>(p + 16 * k))));
            }
        }
        for (int k = 0; k < 8; ++k) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + i + 16 * k), acc[k]);
        }
    }
    for (; i + 32 <= n; i += 32) {
        __m256i lo = StartAVX2(sums + i, add), hi = StartAVX2(sums + i + 16, add);
        const UInt8* p = first + i;
        for (SInt32 r = 0; r < rows; ++r, p += rowBytes) {
            lo = _mm256_add_epi16(
                lo, _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
            hi = _mm256_add_epi16(hi, _mm256_cvtepu8_epi16(_mm_loadu_si128(
                                          reinterpret_cast<const __m128i*>(p + 16))));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + i), lo);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + i + 16), hi);
    }
    // Leave the wide registers clean before narrower (legacy-encoded) code runs: the compiler
    // does not do so before a tail call, and dirty upper halves slow every SSE instruction
    // that follows, here and in the caller.
    _mm256_zeroupper();
    SumRowsSSE2(sums + i, first + i, rowBytes, rows, n - i, add);
}

#endif
