// PixelBlendKernels.h - the blend kernels of each instruction set, for PixelBlend.cpp's choice
// only.
//
// Promises: each kernel gives the bytes of the portable one of its kind (see PixelBlend.h). The
// x86 kernels exist only in x86 builds; each is compiled for its own instruction set alone,
// so nothing wider runs on a processor that lacks it. A kernel finishes its row's tail
// itself (with a narrower kernel), so the caller never splits a row.
#pragma once

#include "MacTypes.h"

#include <algorithm>
#include <cstddef>

namespace toolbox::detail {

// x / 65025 for every x the premultiplied formula can produce (below 2^25: at most
// 2 * 255 * 65025 + 32512): x * kDivMul >> kDivShift is exact for x below 1.45e9.
constexpr unsigned kDivShift = 45;
constexpr UInt64 kDivMul = ((UInt64(1) << kDivShift) + 65025 - 1) / 65025;
static_assert(kDivMul < (UInt64(1) << 32), "the multiplier must fit one 32-bit lane");

inline unsigned Div65025(unsigned x) {
    return unsigned((UInt64(x) * kDivMul) >> kDivShift);
}

inline UInt8 BlendOpaqueByte(unsigned s, unsigned d, unsigned A) {
    return UInt8((s * A + d * (255u - A) + 127u) / 255u);
}

// One pixel of the premultiplied formula; the tail of the vector loops.
inline void BlendPremultipliedPixel(UInt8* d, const UInt8* s, unsigned A) {
    const unsigned keep = 65025u - unsigned(s[0]) * A;
    for (int ch = 0; ch < 4; ++ch) {
        const unsigned v = Div65025(unsigned(s[ch]) * A * 255u + unsigned(d[ch]) * keep + 32512u);
        d[ch] = UInt8(std::min(255u, v));
    }
}

void BlendOpaqueBytesPortable(UInt8* d, const UInt8* s, size_t n, unsigned A);
void BlendPremultipliedRowPortable(UInt8* d, const UInt8* s, size_t count, unsigned A);
#if defined(__x86_64__) || defined(__i386__)
void BlendOpaqueBytesSSE2(UInt8* d, const UInt8* s, size_t n, unsigned A);
void BlendOpaqueBytesAVX2(UInt8* d, const UInt8* s, size_t n, unsigned A);
void BlendOpaqueBytesAVX512(UInt8* d, const UInt8* s, size_t n, unsigned A);
void BlendPremultipliedRowSSE2(UInt8* d, const UInt8* s, size_t count, unsigned A);
void BlendPremultipliedRowAVX2(UInt8* d, const UInt8* s, size_t count, unsigned A);
void BlendPremultipliedRowAVX512(UInt8* d, const UInt8* s, size_t count, unsigned A);
#endif

} // namespace toolbox::detail
