// turn.h - pictures turned by quarter turns, as a display matrix asks.
//
// Owns: TurnPlane, one plane of samples of any size turned clockwise. Promises: target
// sample (x, y) is the source sample that lands there when the source, sw x sh samples, is
// turned `rotation` degrees (90, 180 or 270) clockwise; rows of either may be padded.
// Touches nothing but the two planes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fxhost::media {

template <class Sample>
void TurnPlane(const std::uint8_t* src, std::ptrdiff_t srcStride, int sw, int sh,
               std::uint8_t* dst, std::ptrdiff_t dstStride, int rotation) {
    const bool sideways = rotation == 90 || rotation == 270;
    const int dw = sideways ? sh : sw, dh = sideways ? sw : sh;
    for (int y = 0; y < dh; ++y) {
        std::uint8_t* row = dst + std::ptrdiff_t(y) * dstStride;
        for (int x = 0; x < dw; ++x) {
            int sx, sy;
            if (rotation == 90) {
                sx = y;
                sy = sh - 1 - x;
            } else if (rotation == 270) {
                sx = sw - 1 - y;
                sy = x;
            } else {
                sx = sw - 1 - x;
                sy = sh - 1 - y;
            }
            std::memcpy(row + std::ptrdiff_t(x) * sizeof(Sample),
                        src + std::ptrdiff_t(sy) * srcStride + std::ptrdiff_t(sx) * sizeof(Sample),
                        sizeof(Sample));
        }
    }
}

} // namespace fxhost::media
