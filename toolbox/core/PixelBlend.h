// PixelBlend.h - the blends of 32-bit pixels that Core Graphics and the host's Blit share.
//
// Owns: the row kernels, one per instruction set, chosen at CurrentCpuLevel (CpuLevel.h).
// Promises: every level gives exactly the bytes of the portable formulas below, for every
// input, so a picture does not depend on the processor it was made on.
#pragma once

#include "MacTypes.h"

#include <cstddef>

namespace toolbox {

// The opaque blend over n bytes, each byte on its own (alpha, red, green and blue alike),
// with A in 0..255:  d = (s * A + d * (255 - A) + 127) / 255   (integer division).
void BlendOpaqueBytes(UInt8* d, const UInt8* s, size_t n, unsigned A);

// Source-over of `count` premultiplied pixels in the order A, R, G, B, at global alpha A
// in 0..255: per channel d = min(255, (s * A * 255 + d * (65025 - sa * A) + 32512) / 65025),
// sa being the source pixel's alpha. An opaque source pixel gives the opaque blend exactly.
void BlendPremultipliedRow(UInt8* d, const UInt8* s, size_t count, unsigned A);

} // namespace toolbox
