// PixelBlend.cpp - the portable blends and the choice of kernel (see PixelBlend.h,
// PixelBlendKernels.h).
#include "PixelBlend.h"

#include <cstring>

#include "CpuLevel.h"
#include "PixelBlendKernels.h"

namespace toolbox {

namespace detail {

void BlendOpaqueBytesPortable(UInt8* d, const UInt8* s, size_t n, unsigned A) {
    for (size_t i = 0; i < n; ++i)
        d[i] = BlendOpaqueByte(s[i], d[i], A);
}

void BlendPremultipliedRowPortable(UInt8* d, const UInt8* s, size_t count, unsigned A) {
    for (size_t i = 0; i < count; ++i, s += 4, d += 4) {
        if (A == 255 && s[0] == 255) {
            std::memcpy(d, s, 4); // the formula reduces to the source exactly
            continue;
        }
        BlendPremultipliedPixel(d, s, A);
    }
}

} // namespace detail

namespace {

using RowFn = void (*)(UInt8*, const UInt8*, size_t, unsigned);

struct Kernels {
    RowFn opaqueBytes, premultipliedRow;
};

Kernels Choose() {
    using namespace detail;
    switch (CurrentCpuLevel()) {
#if defined(__x86_64__) || defined(__i386__)
    case CpuLevel::AVX512:
        return {BlendOpaqueBytesAVX512, BlendPremultipliedRowAVX512};
    case CpuLevel::AVX2:
        return {BlendOpaqueBytesAVX2, BlendPremultipliedRowAVX2};
    case CpuLevel::SSE2:
        return {BlendOpaqueBytesSSE2, BlendPremultipliedRowSSE2};
#endif
    default:
        return {BlendOpaqueBytesPortable, BlendPremultipliedRowPortable};
    }
}

const Kernels& Chosen() {
    static const Kernels kernels = Choose();
    return kernels;
}

} // namespace

void BlendOpaqueBytes(UInt8* d, const UInt8* s, size_t n, unsigned A) {
    Chosen().opaqueBytes(d, s, n, A);
}

void BlendPremultipliedRow(UInt8* d, const UInt8* s, size_t count, unsigned A) {
    Chosen().premultipliedRow(d, s, count, A);
}

} // namespace toolbox
