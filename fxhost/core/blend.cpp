// blend.cpp - the host's opacity blend; see blend.h for the formula it promises.
//
// When the two rectangles have the same size (every fade of a frame call) each row is
// blended as one run of bytes, 16, 32 or 64 at a time, the widest the processor runs, chosen
// once at run time (FXHOST_VECTOR=portable, sse2 or avx2 caps the choice, so that the tests
// run every level on one machine). The numerator src * op + dst * (255 - op) + 127 is at most
// 65152, so it fits a 16-bit lane, and x / 255 for every x below 65536 is (x * 0x8081) >> 23:
// the bytes are those of BlendByte.
#include "blend.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define FXHOST_X86 1
#endif

namespace fxhost {

namespace {

void BlendRunPortable(const std::uint8_t* s, std::uint8_t* d, std::size_t n, int op) {
    for (std::size_t i = 0; i < n; ++i) {
        d[i] = BlendByte(s[i], d[i], op);
    }
}

#if defined(FXHOST_X86)
// A function of its own, not a lambda: a lambda does not take on its caller's target, and
// SSE2 is not a given in a 32-bit x86 build.
__attribute__((target("sse2"))) inline __m128i Lanes4(__m128i sv, __m128i dv, __m128i keep,
                                                      __m128i give) {
    const __m128i half = _mm_set1_epi16(127), recip = _mm_set1_epi16(short(0x8081));
    const __m128i m =
        _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(sv, keep), _mm_mullo_epi16(dv, give)), half);
    return _mm_srli_epi16(_mm_mulhi_epu16(m, recip), 7);
}

__attribute__((target("sse2"))) void BlendRunSSE2(const std::uint8_t* s, std::uint8_t* d,
                                                  std::size_t n, int op) {
    std::size_t i = 0;
    const __m128i zero = _mm_setzero_si128();
    const __m128i keep = _mm_set1_epi16(short(op)), give = _mm_set1_epi16(short(255 - op));
    for (; i + 16 <= n; i += 16) {
        const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        const __m128i lo =
            Lanes4(_mm_unpacklo_epi8(sv, zero), _mm_unpacklo_epi8(dv, zero), keep, give);
        const __m128i hi =
            Lanes4(_mm_unpackhi_epi8(sv, zero), _mm_unpackhi_epi8(dv, zero), keep, give);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(lo, hi));
    }
    BlendRunPortable(s + i, d + i, n - i, op);
}

// The 256- and 512-bit unpacks and packs work within each 128-bit lane, so a pack undoes the
// unpack it follows and the bytes keep their order.
__attribute__((target("avx2"))) inline __m256i Lanes8(__m256i sv, __m256i dv, __m256i keep,
                                                      __m256i give) {
    const __m256i m = _mm256_add_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(sv, keep), _mm256_mullo_epi16(dv, give)),
        _mm256_set1_epi16(127));
    return _mm256_srli_epi16(_mm256_mulhi_epu16(m, _mm256_set1_epi16(short(0x8081))), 7);
}

__attribute__((target("avx2,avx512f,avx512bw"))) inline __m512i
Lanes16(__m512i sv, __m512i dv, __m512i keep, __m512i give) {
    const __m512i m = _mm512_add_epi16(
        _mm512_add_epi16(_mm512_mullo_epi16(sv, keep), _mm512_mullo_epi16(dv, give)),
        _mm512_set1_epi16(127));
    return _mm512_srli_epi16(_mm512_mulhi_epu16(m, _mm512_set1_epi16(short(0x8081))), 7);
}

__attribute__((target("avx2"))) void BlendRunAVX2(const std::uint8_t* s, std::uint8_t* d,
                                                  std::size_t n, int op) {
    std::size_t i = 0;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i keep = _mm256_set1_epi16(short(op)), give = _mm256_set1_epi16(short(255 - op));
    for (; i + 32 <= n; i += 32) {
        const __m256i sv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        const __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        const __m256i lo =
            Lanes8(_mm256_unpacklo_epi8(sv, zero), _mm256_unpacklo_epi8(dv, zero), keep, give);
        const __m256i hi =
            Lanes8(_mm256_unpackhi_epi8(sv, zero), _mm256_unpackhi_epi8(dv, zero), keep, give);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), _mm256_packus_epi16(lo, hi));
    }
    _mm256_zeroupper(); // clean upper halves before the legacy-encoded SSE2 tail
    BlendRunSSE2(s + i, d + i, n - i, op);
}

__attribute__((target("avx2,avx512f,avx512bw"))) void
BlendRunAVX512(const std::uint8_t* s, std::uint8_t* d, std::size_t n, int op) {
    std::size_t i = 0;
    const __m512i zero = _mm512_setzero_si512();
    const __m512i keep = _mm512_set1_epi16(short(op)), give = _mm512_set1_epi16(short(255 - op));
    for (; i + 64 <= n; i += 64) {
        const __m512i sv = _mm512_loadu_si512(s + i);
        const __m512i dv = _mm512_loadu_si512(d + i);
        const __m512i lo =
            Lanes16(_mm512_unpacklo_epi8(sv, zero), _mm512_unpacklo_epi8(dv, zero), keep, give);
        const __m512i hi =
            Lanes16(_mm512_unpackhi_epi8(sv, zero), _mm512_unpackhi_epi8(dv, zero), keep, give);
        _mm512_storeu_si512(d + i, _mm512_packus_epi16(lo, hi));
    }
    _mm256_zeroupper();
    BlendRunSSE2(s + i, d + i, n - i, op);
}
#endif

using BlendRunFn = void (*)(const std::uint8_t*, std::uint8_t*, std::size_t, int);

BlendRunFn ChooseBlendRun() {
    const char* cap = std::getenv("FXHOST_VECTOR");
    const std::string_view limit = cap ? cap : "";
    if (limit == "portable") {
        return BlendRunPortable;
    }
#if defined(FXHOST_X86)
    __builtin_cpu_init();
    if (limit != "sse2" && limit != "avx2" && __builtin_cpu_supports("avx512bw")) {
        return BlendRunAVX512;
    }
    if (limit != "sse2" && __builtin_cpu_supports("avx2")) {
        return BlendRunAVX2;
    }
    if (__builtin_cpu_supports("sse2")) {
        return BlendRunSSE2;
    }
#endif
    return BlendRunPortable;
}

void BlendRun(const std::uint8_t* s, std::uint8_t* d, std::size_t n, int op) {
    static const BlendRunFn run = ChooseBlendRun();
    run(s, d, n, op);
}

} // namespace

void BlendImage(const PixelImage& src, const PixelRect& srcRect, const PixelImage& dst,
                const PixelRect& dstRect, int op) {
    op = std::clamp(op, 0, 255);
    const int sw = srcRect.right - srcRect.left, sh = srcRect.bottom - srcRect.top;
    const int dw = dstRect.right - dstRect.left, dh = dstRect.bottom - dstRect.top;
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || op == 0) {
        return;
    }
    const int y0 = std::max(dstRect.top, 0), y1 = std::min(dstRect.bottom, dst.height);
    const int x0 = std::max(dstRect.left, 0), x1 = std::min(dstRect.right, dst.width);
    if (sw == dw && sh == dh) {
        // One to one: source column x - dstRect.left + srcRect.left, kept inside the source.
        const int shift = srcRect.left - dstRect.left;
        const int cx0 = std::max(x0, -shift), cx1 = std::min(x1, src.width - shift);
        for (int y = y0; y < y1 && cx0 < cx1; ++y) {
            const int sy = srcRect.top + (y - dstRect.top);
            if (sy < 0 || sy >= src.height) {
                continue;
            }
            BlendRun(src.base + sy * src.rowBytes + 4 * std::ptrdiff_t(cx0 + shift),
                     dst.base + y * dst.rowBytes + 4 * std::ptrdiff_t(cx0),
                     4 * std::size_t(cx1 - cx0), op);
        }
        return;
    }
    for (int y = y0; y < y1; ++y) {
        const int sy = srcRect.top + int(std::int64_t(y - dstRect.top) * sh / dh);
        if (sy < 0 || sy >= src.height) {
            continue;
        }
        const std::uint8_t* srow = src.base + sy * src.rowBytes;
        std::uint8_t* drow = dst.base + y * dst.rowBytes;
        for (int x = x0; x < x1; ++x) {
            const int sx = srcRect.left + int(std::int64_t(x - dstRect.left) * sw / dw);
            if (sx < 0 || sx >= src.width) {
                continue;
            }
            const std::uint8_t* s = srow + 4 * sx;
            std::uint8_t* d = drow + 4 * x;
            for (int c = 0; c < 4; ++c) {
                d[c] = BlendByte(s[c], d[c], op);
            }
        }
    }
}

} // namespace fxhost
