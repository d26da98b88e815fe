// blend.h - drawing one 32-bit image over another with an opacity.
//
// Owns: the pixel arithmetic behind the host's Blit callback. Promises, per byte (alpha,
// red, green and blue alike), with op clamped to 0..255:
//     out = (src * op + dst * (255 - op) + 127) / 255      (integer division)
// so 255 gives exactly the source and 0 leaves the destination untouched. The source
// rectangle is mapped onto the destination rectangle by nearest pixel when their sizes
// differ; the destination rectangle is clipped to the destination image, and source
// positions outside the source image are skipped.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fxhost {

struct PixelRect { // half-open, like the toolbox's Rect: [left, right) x [top, bottom)
    int top, left, bottom, right;
};

struct PixelImage {
    std::uint8_t* base;
    std::ptrdiff_t rowBytes;
    int width, height;
};

inline std::uint8_t BlendByte(std::uint8_t src, std::uint8_t dst, int op) {
    return std::uint8_t((src * op + dst * (255 - op) + 127) / 255);
}

// Draws srcRect of src over dstRect of dst with opacity op (0..255).
void BlendImage(const PixelImage& src, const PixelRect& srcRect, const PixelImage& dst,
                const PixelRect& dstRect, int op);

} // namespace fxhost
