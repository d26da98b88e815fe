// PixelBlend_avx2.cpp - the blends with AVX2, 32 bytes per instruction (see PixelBlendKernels.h;
// the arithmetic is PixelBlend_sse2.cpp's on lanes twice as many). The 256-bit unpacks and packs
// work within each 128-bit half, so a pack undoes the unpack it follows and the order holds.
#include "PixelBlendKernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace toolbox::detail {

namespace {

__attribute__((target("avx2"))) inline __m256i OpaqueLanes(__m256i s16, __m256i d16, __m256i a16,
                                                           __m256i inv16) {
    const __m256i m = _mm256_add_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(s16, a16), _mm256_mullo_epi16(d16, inv16)),
        _mm256_set1_epi16(127));
    return _mm256_srli_epi16(_mm256_mulhi_epu16(m, _mm256_set1_epi16(short(0x8081))), 7);
}

__attribute__((target("avx2"))) inline __m256i Div65025x8(__m256i x) {
    const __m256i mul = _mm256_set1_epi32(int(kDivMul));
    const __m256i high = _mm256_set_epi32(-1, 0, -1, 0, -1, 0, -1, 0);
    const __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(x, mul), kDivShift);
    const __m256i odd =
        _mm256_srli_epi64(_mm256_mul_epu32(_mm256_srli_epi64(x, 32), mul), kDivShift - 32);
    return _mm256_or_si256(even, _mm256_and_si256(odd, high));
}

__attribute__((target("avx2"))) inline __m256i PremultipliedLanes(__m256i s16, __m256i d16,
                                                                  __m256i keep16, __m256i a255) {
    const __m256i bias = _mm256_set1_epi32(32512);
    const __m256i p1l = _mm256_mullo_epi16(s16, a255), p1h = _mm256_mulhi_epu16(s16, a255);
    const __m256i p2l = _mm256_mullo_epi16(d16, keep16), p2h = _mm256_mulhi_epu16(d16, keep16);
    const __m256i x0 = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_unpacklo_epi16(p1l, p1h), _mm256_unpacklo_epi16(p2l, p2h)), bias);
    const __m256i x1 = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_unpackhi_epi16(p1l, p1h), _mm256_unpackhi_epi16(p2l, p2h)), bias);
    return _mm256_packs_epi32(Div65025x8(x0), Div65025x8(x1));
}

// Eight pixels at s into d.
__attribute__((target("avx2"))) inline void Premultiplied8(UInt8* d, const UInt8* s, unsigned A) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i a16 = _mm256_set1_epi16(short(A));
    const __m256i sv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
    const __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d));
    const __m256i sl = _mm256_unpacklo_epi8(sv, zero), sh = _mm256_unpackhi_epi8(sv, zero);
    const __m256i dl = _mm256_unpacklo_epi8(dv, zero), dh = _mm256_unpackhi_epi8(dv, zero);
    const __m256i alphaBytes = _mm256_set1_epi32(0xFF);
    __m256i out;
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_and_si256(sv, alphaBytes), alphaBytes)) ==
        -1) {
        const __m256i inv16 = _mm256_set1_epi16(short(255u - A));
        out = _mm256_packus_epi16(OpaqueLanes(sl, dl, a16, inv16), OpaqueLanes(sh, dh, a16, inv16));
    } else {
        const __m256i a255 = _mm256_set1_epi16(short(A * 255u));
        const __m256i full = _mm256_set1_epi16(short(65025u));
        const __m256i al = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(sl, 0), 0);
        const __m256i ah = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(sh, 0), 0);
        const __m256i kl = _mm256_sub_epi16(full, _mm256_mullo_epi16(al, a16));
        const __m256i kh = _mm256_sub_epi16(full, _mm256_mullo_epi16(ah, a16));
        out = _mm256_packus_epi16(PremultipliedLanes(sl, dl, kl, a255),
                                  PremultipliedLanes(sh, dh, kh, a255));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), out);
}

} // namespace

__attribute__((target("avx2"))) void BlendOpaqueBytesAVX2(UInt8* d, const UInt8* s, size_t n,
                                                          unsigned A) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i a16 = _mm256_set1_epi16(short(A)), inv16 = _mm256_set1_epi16(short(255u - A));
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i sv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        const __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        const __m256i lo =
            OpaqueLanes(_mm256_unpacklo_epi8(sv, zero), _mm256_unpacklo_epi8(dv, zero), a16, inv16);
        const __m256i hi =
            OpaqueLanes(_mm256_unpackhi_epi8(sv, zero), _mm256_unpackhi_epi8(dv, zero), a16, inv16);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), _mm256_packus_epi16(lo, hi));
    }
    _mm256_zeroupper(); // clean upper halves before the legacy-encoded SSE2 tail
    BlendOpaqueBytesSSE2(d + i, s + i, n - i, A);
}

__attribute__((target("avx2"))) void BlendPremultipliedRowAVX2(UInt8* d, const UInt8* s,
                                                               size_t count, unsigned A) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8, s += 32, d += 32)
        Premultiplied8(d, s, A);
    _mm256_zeroupper();
    BlendPremultipliedRowSSE2(d, s, count - i, A);
}

} // namespace toolbox::detail

#endif
