// rowsums_sse2.cpp - the column sums with SSE2, 16 bytes per instruction (see rowsums.h).
#include "rowsums.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace {

__attribute__((target("sse2"))) inline __m128i StartSSE2(const UInt16* sums, bool add) {
    return add ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums)) : _mm_setzero_si128();
}

} // namespace

__attribute__((target("sse2"))) void SumRowsSSE2(UInt16* sums, const UInt8* first, SInt32 rowBytes,
                                                 SInt32 rows, size_t n, bool add) {
    const __m128i zero = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 64 <= n; i += 64) { // one cache line of each row at a time
        __m128i acc[8];
        for (int k = 0; k < 8; ++k) {
            acc[k] = StartSSE2(sums + i + 8 * k, add);
        }
        const UInt8* p = first + i;
        for (SInt32 r = 0; r < rows; ++r, p += rowBytes) {
            for (int k = 0; k < 4; ++k) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
                acc[2 * k] = _mm_add_epi16(acc[2 * k], _mm_unpacklo_epi8(v, zero));
                acc[2 * k + 1] = _mm_add_epi16(acc[2 * k + 1], _mm_unpackhi_epi8(v, zero));
            }
        }
        for (int k = 0; k < 8; ++k) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + i + 8 * k), acc[k]);
        }
    }
    for (; i + 16 <= n; i += 16) {
        __m128i lo = StartSSE2(sums + i, add), hi = StartSSE2(sums + i + 8, add);
        const UInt8* p = first + i;
        for (SInt32 r = 0; r < rows; ++r, p += rowBytes) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(v, zero));
            hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(v, zero));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + i), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + i + 8), hi);
    }
    SumRowsPortable(sums + i, first + i, rowBytes, rows, n - i, add);
}

#endif
