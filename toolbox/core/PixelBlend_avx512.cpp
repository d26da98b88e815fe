// PixelBlend_avx512.cpp - the opaque blend with AVX-512, 64 bytes per instruction (see
// PixelBlendKernels.h; the arithmetic is PixelBlend_sse2.cpp's on lanes four times as many). The
// premultiplied row takes sixteen opaque pixels at a time this way and hands any group with
// another alpha to the AVX2 kernel.
#include "PixelBlendKernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace toolbox::detail {

namespace {

// The 512-bit unpacks and packs work within each 128-bit lane, so the bytes keep their order.
__attribute__((target("avx2,avx512f,avx512bw"))) inline __m512i
OpaqueBlend64(__m512i sv, __m512i dv, __m512i a16, __m512i inv16) {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i round = _mm512_set1_epi16(127), recip = _mm512_set1_epi16(short(0x8081));
    const __m512i ml = _mm512_add_epi16(
        _mm512_add_epi16(_mm512_mullo_epi16(_mm512_unpacklo_epi8(sv, zero), a16),
                         _mm512_mullo_epi16(_mm512_unpacklo_epi8(dv, zero), inv16)),
        round);
    const __m512i mh = _mm512_add_epi16(
        _mm512_add_epi16(_mm512_mullo_epi16(_mm512_unpackhi_epi8(sv, zero), a16),
                         _mm512_mullo_epi16(_mm512_unpackhi_epi8(dv, zero), inv16)),
        round);
    return _mm512_packus_epi16(_mm512_srli_epi16(_mm512_mulhi_epu16(ml, recip), 7),
                               _mm512_srli_epi16(_mm512_mulhi_epu16(mh, recip), 7));
}

} // namespace

__attribute__((target("avx2,avx512f,avx512bw"))) void
BlendOpaqueBytesAVX512(UInt8* d, const UInt8* s, size_t n, unsigned A) {
    const __m512i a16 = _mm512_set1_epi16(short(A)), inv16 = _mm512_set1_epi16(short(255u - A));
    size_t i = 0;
    for (; i + 64 <= n; i += 64)
        _mm512_storeu_si512(
            d + i, OpaqueBlend64(_mm512_loadu_si512(s + i), _mm512_loadu_si512(d + i), a16, inv16));
    _mm256_zeroupper();
    BlendOpaqueBytesSSE2(d + i, s + i, n - i, A);
}

__attribute__((target("avx2,avx512f,avx512bw"))) void
BlendPremultipliedRowAVX512(UInt8* d, const UInt8* s, size_t count, unsigned A) {
    const __m512i a16 = _mm512_set1_epi16(short(A)), inv16 = _mm512_set1_epi16(short(255u - A));
    const __m512i alphaBytes = _mm512_set1_epi32(0xFF);
    size_t i = 0;
    for (; i + 16 <= count; i += 16, s += 64, d += 64) {
        const __m512i sv = _mm512_loadu_si512(s);
        if (_mm512_cmpneq_epi32_mask(_mm512_and_si512(sv, alphaBytes), alphaBytes) != 0) {
            BlendPremultipliedRowAVX2(d, s, 16, A);
            continue;
        }
        _mm512_storeu_si512(d, OpaqueBlend64(sv, _mm512_loadu_si512(d), a16, inv16));
    }
    _mm256_zeroupper();
    BlendPremultipliedRowAVX2(d, s, count - i, A);
}

} // namespace toolbox::detail

#endif
