// blend.cpp - the host's opacity blend; see blend.h for the formula it promises.
//
// When the two rectangles have the same size (every fade of a frame call) each row is
// blended as one run of bytes by the toolbox's opaque blend (PixelBlend.h), the very kernel
// Core Graphics uses for opaque pixels, at the process's one vector level (CpuLevel.h:
// TESSERA_VECTOR caps it, so that the tests run every level on one machine). Its bytes are
// those of BlendByte.
#include "blend.h"

#include <algorithm>

#include "PixelBlend.h"

namespace fxhost {

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
            toolbox::BlendOpaqueBytes(dst.base + y * dst.rowBytes + 4 * std::ptrdiff_t(cx0),
                                      src.base + sy * src.rowBytes +
                                          4 * std::ptrdiff_t(cx0 + shift),
                                      4 * std::size_t(cx1 - cx0), unsigned(op));
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
