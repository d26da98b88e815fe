// PixelBlend_sse2.cpp - the blends with SSE2, 16 bytes per instruction (see PixelBlendKernels.h).
//
// The products are formed on 16-bit lanes. The opaque blend's numerator s A + d (255 - A)
// + 127 is at most 65152, so it fits one lane, and x / 255 for every x below 65536 is
// (x * 0x8081) >> 23. The premultiplied formula forms s * 255A and d * keep from their low
// and high halves (unsigned 16 x 16 -> 32 bits) and sums and divides on 32-bit lanes. Every
// step is exact; the packs saturate only where the formula takes min(255, v).
//
// An opaque source pixel (alpha 255, every video frame) reduces the premultiplied formula to
// the opaque blend: keep = 255 (255 - A), and with m = A s + (255 - A) d = 255 k + r the
// quotient is k + (r >= 128) = (m + 127) / 255. Groups of pixels that are all opaque take
// that shorter road; any other group takes the whole formula.
#include "PixelBlendKernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace toolbox::detail {

namespace {

// Functions of their own, not lambdas: a lambda does not take on its caller's target.
__attribute__((target("sse2"))) inline __m128i OpaqueLanes(__m128i s16, __m128i d16, __m128i a16,
                                                           __m128i inv16) {
    const __m128i m = _mm_add_epi16(
        _mm_add_epi16(_mm_mullo_epi16(s16, a16), _mm_mullo_epi16(d16, inv16)), _mm_set1_epi16(127));
    return _mm_srli_epi16(_mm_mulhi_epu16(m, _mm_set1_epi16(short(0x8081))), 7);
}

__attribute__((target("sse2"))) inline __m128i Div65025x4(__m128i x) {
    const __m128i mul = _mm_set1_epi32(int(kDivMul));
    const __m128i high = _mm_set_epi32(-1, 0, -1, 0);
    const __m128i even = _mm_srli_epi64(_mm_mul_epu32(x, mul), kDivShift);
    const __m128i odd = _mm_srli_epi64(_mm_mul_epu32(_mm_srli_epi64(x, 32), mul), kDivShift - 32);
    return _mm_or_si128(even, _mm_and_si128(odd, high));
}

// s16, d16: two pixels as eight 16-bit channels; keep16 their 65025 - sa * A.
__attribute__((target("sse2"))) inline __m128i PremultipliedLanes(__m128i s16, __m128i d16,
                                                                  __m128i keep16, __m128i a255) {
    const __m128i bias = _mm_set1_epi32(32512);
    const __m128i p1l = _mm_mullo_epi16(s16, a255), p1h = _mm_mulhi_epu16(s16, a255);
    const __m128i p2l = _mm_mullo_epi16(d16, keep16), p2h = _mm_mulhi_epu16(d16, keep16);
    const __m128i x0 = _mm_add_epi32(
        _mm_add_epi32(_mm_unpacklo_epi16(p1l, p1h), _mm_unpacklo_epi16(p2l, p2h)), bias);
    const __m128i x1 = _mm_add_epi32(
        _mm_add_epi32(_mm_unpackhi_epi16(p1l, p1h), _mm_unpackhi_epi16(p2l, p2h)), bias);
    return _mm_packs_epi32(Div65025x4(x0), Div65025x4(x1));
}

// Four pixels with any alpha; alpha is channel 0 of each, spread over the pixel's lanes.
__attribute__((target("sse2"))) inline __m128i Premultiplied4(__m128i sl, __m128i sh, __m128i dl,
                                                              __m128i dh, unsigned A) {
    const __m128i a16 = _mm_set1_epi16(short(A));
    const __m128i a255 = _mm_set1_epi16(short(A * 255u));
    const __m128i full = _mm_set1_epi16(short(65025u));
    const __m128i al = _mm_shufflehi_epi16(_mm_shufflelo_epi16(sl, 0), 0);
    const __m128i ah = _mm_shufflehi_epi16(_mm_shufflelo_epi16(sh, 0), 0);
    const __m128i kl = _mm_sub_epi16(full, _mm_mullo_epi16(al, a16));
    const __m128i kh = _mm_sub_epi16(full, _mm_mullo_epi16(ah, a16));
    return _mm_packus_epi16(PremultipliedLanes(sl, dl, kl, a255),
                            PremultipliedLanes(sh, dh, kh, a255));
}

} // namespace

__attribute__((target("sse2"))) void BlendOpaqueBytesSSE2(UInt8* d, const UInt8* s, size_t n,
                                                          unsigned A) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i a16 = _mm_set1_epi16(short(A)), inv16 = _mm_set1_epi16(short(255u - A));
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        const __m128i lo =
            OpaqueLanes(_mm_unpacklo_epi8(sv, zero), _mm_unpacklo_epi8(dv, zero), a16, inv16);
        const __m128i hi =
            OpaqueLanes(_mm_unpackhi_epi8(sv, zero), _mm_unpackhi_epi8(dv, zero), a16, inv16);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(lo, hi));
    }
    BlendOpaqueBytesPortable(d + i, s + i, n - i, A);
}

__attribute__((target("sse2"))) void BlendPremultipliedRowSSE2(UInt8* d, const UInt8* s,
                                                               size_t count, unsigned A) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i a16 = _mm_set1_epi16(short(A)), inv16 = _mm_set1_epi16(short(255u - A));
    const __m128i alphaBytes = _mm_set1_epi32(0xFF);
    size_t i = 0;
    for (; i + 4 <= count; i += 4, s += 16, d += 16) {
        const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
        const __m128i sl = _mm_unpacklo_epi8(sv, zero), sh = _mm_unpackhi_epi8(sv, zero);
        const __m128i dl = _mm_unpacklo_epi8(dv, zero), dh = _mm_unpackhi_epi8(dv, zero);
        const bool opaque =
            _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(sv, alphaBytes), alphaBytes)) == 0xFFFF;
        const __m128i out = opaque ? _mm_packus_epi16(OpaqueLanes(sl, dl, a16, inv16),
                                                      OpaqueLanes(sh, dh, a16, inv16))
                                   : Premultiplied4(sl, sh, dl, dh, A);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), out);
    }
    for (; i < count; ++i, s += 4, d += 4)
        BlendPremultipliedPixel(d, s, A);
}

} // namespace toolbox::detail

#endif
