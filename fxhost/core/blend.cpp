// blend.cpp - the host's opacity blend; see blend.h for the formula it promises.
//
// When the two rectangles have the same size (every fade of a frame call) each row is
// blended as one run of bytes, 16 at a time where the processor has SSE2. The numerator
// src * op + dst * (255 - op) + 127 is at most 65152, so it fits a 16-bit lane, and x / 255
// for every x below 65536 is (x * 0x8081) >> 23: the bytes are those of BlendByte.
#include "blend.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace fxhost {

namespace {

void BlendRun(const std::uint8_t* s, std::uint8_t* d, std::size_t n, int op) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i keep = _mm_set1_epi16(short(op)), give = _mm_set1_epi16(short(255 - op));
    const __m128i half = _mm_set1_epi16(127), recip = _mm_set1_epi16(short(0x8081));
    auto lanes = [&](__m128i sv, __m128i dv) {
        const __m128i m = _mm_add_epi16(
            _mm_add_epi16(_mm_mullo_epi16(sv, keep), _mm_mullo_epi16(dv, give)), half);
        return _mm_srli_epi16(_mm_mulhi_epu16(m, recip), 7);
    };
    for (; i + 16 <= n; i += 16) {
        const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        const __m128i lo = lanes(_mm_unpacklo_epi8(sv, zero), _mm_unpacklo_epi8(dv, zero));
        const __m128i hi = lanes(_mm_unpackhi_epi8(sv, zero), _mm_unpackhi_epi8(dv, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; i < n; ++i) {
        d[i] = BlendByte(s[i], d[i], op);
    }
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
