// Exactness of the vectorised image blend: drawing an image at its own size with a global
// alpha must give, byte for byte, the documented integer formula
//     out = min(255, (S * A * 255 + D * (65025 - Sa * A) + 32512) / 65025)
// computed here the plain way. The cases sweep every (source alpha, source channel) pair
// for every global alpha, every destination byte for the opacities the plug-in uses, and
// the row shapes that exercise the vector loops' tails: odd widths, padded rows, offsets
// that are not a multiple of the vector width, clipping, and the bytes around the target.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CoreGraphics.h"
#include "CpuLevel.h"
#include "ToolboxTesting.h"

namespace {

UInt8 Reference(unsigned s, unsigned d, unsigned sa, unsigned A) {
    const unsigned v = (s * A * 255u + d * (65025u - sa * A) + 32512u) / 65025u;
    return UInt8(v > 255u ? 255u : v);
}

// Rows of bytes a, r, g, b with row bytes beyond 4 * width, so that stride errors and
// writes past a row's end show in the padding.
struct Buffer {
    size_t width, height, rowBytes;
    std::vector<UInt8> bytes;
    Buffer(size_t w, size_t h, size_t pad, UInt8 fill)
        : width(w), height(h), rowBytes(4 * w + pad), bytes(rowBytes * h, fill) {}
    UInt8* At(size_t x, size_t y) { return bytes.data() + y * rowBytes + 4 * x; }
};

class CGBlendExactness : public ::testing::Test {
  protected:
    void SetUp() override {
        toolbox::testing::SetCGFastPathEnabled(true);
        space_ = CGColorSpaceCreateDeviceRGB();
    }
    void TearDown() override {
        CGColorSpaceRelease(space_);
        toolbox::testing::SetCGFastPathEnabled(true);
    }
    CGImageRef ImageOf(Buffer& b) {
        CGContextRef c = Context(b);
        CGImageRef image = CGBitmapContextCreateImage(c);
        CGContextRelease(c);
        return image;
    }
    CGContextRef Context(Buffer& b) {
        return CGBitmapContextCreate(b.bytes.data(), b.width, b.height, 8, b.rowBytes, space_,
                                     kCGImageAlphaPremultipliedFirst);
    }
    // Draws `image` at its own size with its top-left pixel at (left, top) of `dest`.
    void Draw(Buffer& dest, CGImageRef image, long left, long top, unsigned A) {
        CGContextRef c = Context(dest);
        ASSERT_NE(c, nullptr);
        CGContextSetAlpha(c, CGFloat(A / 255.0));
        const double h = double(CGImageGetHeight(image));
        CGContextDrawImage(c,
                           CGRectMake(CGFloat(left), CGFloat(double(dest.height) - top - h),
                                      CGFloat(CGImageGetWidth(image)), CGFloat(h)),
                           image);
        CGContextRelease(c);
    }
    CGColorSpaceRef space_ = nullptr;
};

// A 256 x 256 image whose pixel (s, sa) has alpha sa and the channels s, 255 - s and
// s ^ 0xA5: every pair of source alpha and source channel value, in each channel.
Buffer AllSourcePairs() {
    Buffer src(256, 256, 12, 0);
    for (size_t sa = 0; sa < 256; ++sa)
        for (size_t s = 0; s < 256; ++s) {
            UInt8* p = src.At(s, sa);
            p[0] = UInt8(sa), p[1] = UInt8(s), p[2] = UInt8(255 - s), p[3] = UInt8(s ^ 0xA5);
        }
    return src;
}

TEST_F(CGBlendExactness, EverySourcePairUnderEveryGlobalAlpha) {
    Buffer src = AllSourcePairs();
    CGImageRef image = ImageOf(src);
    ASSERT_NE(image, nullptr);
    const UInt8 fixedDests[] = {0, 1, 2, 127, 128, 129, 253, 254, 255};
    for (unsigned A = 1; A <= 255; ++A) {
        for (int round = 0; round <= int(sizeof fixedDests); ++round) {
            Buffer dest(256, 256, 12, 0);
            for (size_t y = 0; y < 256; ++y)
                for (size_t x = 0; x < 256; ++x)
                    for (int ch = 0; ch < 4; ++ch)
                        dest.At(x, y)[ch] = round < int(sizeof fixedDests)
                                                ? fixedDests[round]
                                                : UInt8(x * 7 + y * 13 + ch * 71 + A);
            const Buffer before = dest;
            Draw(dest, image, 0, 0, A);
            for (size_t y = 0; y < 256; ++y)
                for (size_t x = 0; x < 256; ++x)
                    for (int ch = 0; ch < 4; ++ch) {
                        const unsigned s = src.At(x, y)[ch];
                        const unsigned d = before.bytes[y * before.rowBytes + 4 * x + ch];
                        const UInt8 want = Reference(s, d, unsigned(y), A);
                        if (dest.At(x, y)[ch] != want) {
                            CGImageRelease(image);
                            FAIL() << "A " << A << " sa " << y << " s " << s << " d " << d
                                   << " channel " << ch << ": " << int(dest.At(x, y)[ch])
                                   << ", want " << int(want);
                        }
                    }
        }
    }
    CGImageRelease(image);
}

// Every (source alpha, source byte, destination byte) triple at the global alphas that
// the plug-in's opacities and fades produce most: 50% and the ends of the range.
TEST_F(CGBlendExactness, EveryTripleAtCommonAlphas) {
    Buffer src = AllSourcePairs();
    CGImageRef image = ImageOf(src);
    ASSERT_NE(image, nullptr);
    for (unsigned A : {1u, 128u, 254u, 255u}) {
        for (unsigned d = 0; d < 256; ++d) {
            Buffer dest(256, 256, 12, UInt8(d));
            Draw(dest, image, 0, 0, A);
            for (size_t y = 0; y < 256; ++y)
                for (size_t x = 0; x < 256; ++x)
                    for (int ch = 0; ch < 4; ++ch) {
                        const UInt8 want = Reference(src.At(x, y)[ch], d, unsigned(y), A);
                        if (dest.At(x, y)[ch] != want) {
                            CGImageRelease(image);
                            FAIL() << "A " << A << " sa " << y << " d " << d << " channel " << ch;
                        }
                    }
        }
    }
    CGImageRelease(image);
}

// Opaque sources (every video frame) take a shorter road through 16-bit arithmetic: every
// (source byte, destination byte) pair under every global alpha.
TEST_F(CGBlendExactness, OpaqueSourcesEveryPairUnderEveryGlobalAlpha) {
    Buffer src(256, 256, 4, 0), start(256, 256, 4, 0);
    for (size_t y = 0; y < 256; ++y)
        for (size_t x = 0; x < 256; ++x) {
            UInt8* p = src.At(x, y);
            p[0] = 255, p[1] = UInt8(x), p[2] = UInt8(255 - x), p[3] = UInt8(x ^ 0x3C);
            for (int ch = 0; ch < 4; ++ch)
                start.At(x, y)[ch] = UInt8(ch == 0 ? y : y ^ (ch * 0x55));
        }
    CGImageRef image = ImageOf(src);
    ASSERT_NE(image, nullptr);
    for (unsigned A = 1; A <= 255; ++A) {
        Buffer dest = start;
        Draw(dest, image, 0, 0, A);
        for (size_t y = 0; y < 256; ++y)
            for (size_t x = 0; x < 256; ++x)
                for (int ch = 0; ch < 4; ++ch) {
                    const UInt8 d = start.At(x, y)[ch];
                    const UInt8 want = Reference(src.At(x, y)[ch], d, 255, A);
                    if (dest.At(x, y)[ch] != want) {
                        CGImageRelease(image);
                        FAIL() << "A " << A << " s " << int(src.At(x, y)[ch]) << " d " << int(d)
                               << " channel " << ch;
                    }
                }
    }
    CGImageRelease(image);
}

// Rows of opaque pixels with one translucent pixel at each position in turn: the groups
// that hold it take the general formula, the others the opaque road, and both must agree
// with the formula wherever the group boundaries fall.
TEST_F(CGBlendExactness, OneTranslucentPixelAnywhereInAnOpaqueRow) {
    const size_t w = 41;
    for (size_t odd = 0; odd <= w; ++odd) { // odd == w: the row is wholly opaque
        Buffer src(w, 2, 8, 0);
        for (size_t y = 0; y < 2; ++y)
            for (size_t x = 0; x < w; ++x) {
                UInt8* p = src.At(x, y);
                const bool translucent = x == odd && y == 1;
                p[0] = translucent ? 77 : 255;
                for (int ch = 1; ch < 4; ++ch)
                    p[ch] = UInt8((x * 53 + y * 7 + ch * 29) % (p[0] + 1u));
            }
        CGImageRef image = ImageOf(src);
        ASSERT_NE(image, nullptr);
        Buffer dest(w + 5, 2, 8, 0);
        for (size_t i = 0; i < dest.bytes.size(); ++i)
            dest.bytes[i] = UInt8(i * 101 + 3);
        const Buffer before = dest;
        Draw(dest, image, 2, 0, 128);
        for (size_t y = 0; y < 2; ++y)
            for (size_t i = 0; i < dest.rowBytes; ++i) {
                const size_t x = i / 4;
                const UInt8 was = before.bytes[y * dest.rowBytes + i];
                const bool covered = x >= 2 && x < w + 2;
                const UInt8 want =
                    covered ? Reference(src.At(x - 2, y)[i % 4], was, src.At(x - 2, y)[0], 128)
                            : was;
                ASSERT_EQ(dest.bytes[y * dest.rowBytes + i], want)
                    << "translucent at " << odd << ", row " << y << " byte " << i;
            }
        CGImageRelease(image);
    }
}

// Odd widths around the vector widths (4 and 8 pixels), placed at every offset within
// one vector and partly outside the context, against the formula and against the general
// (sampling) path; nothing outside the covered pixels changes, padding included.
TEST_F(CGBlendExactness, RowShapesTailsOffsetsAndClipping) {
    for (size_t w = 1; w <= 19; ++w) {
        for (size_t h : {size_t(1), size_t(3)}) {
            Buffer src(w, h, 4 * (w % 3), 0);
            for (size_t y = 0; y < h; ++y)
                for (size_t x = 0; x < w; ++x) {
                    UInt8* p = src.At(x, y);
                    p[0] = UInt8(40 + 23 * x + 61 * y);
                    for (int ch = 1; ch < 4; ++ch)
                        p[ch] = UInt8((x * 31 + y * 17 + ch * 5) % (p[0] + 1u));
                }
            CGImageRef image = ImageOf(src);
            ASSERT_NE(image, nullptr);
            for (long left = -3; left <= 9; ++left) {
                const long top = long(w % 2) - 1; // sometimes one row above the context
                Buffer fast(24, 4, 8, 0), general(24, 4, 8, 0);
                for (size_t i = 0; i < fast.bytes.size(); ++i)
                    fast.bytes[i] = general.bytes[i] = UInt8(i * 37 + 11);
                const Buffer before = fast;
                Draw(fast, image, left, top, 128);
                toolbox::testing::SetCGFastPathEnabled(false);
                Draw(general, image, left, top, 128);
                toolbox::testing::SetCGFastPathEnabled(true);
                ASSERT_EQ(fast.bytes, general.bytes) << "w " << w << " left " << left;
                for (size_t y = 0; y < fast.height; ++y)
                    for (size_t i = 0; i < fast.rowBytes; ++i) {
                        const long x = long(i / 4) - left, sy = long(y) - top;
                        const bool covered =
                            i < 4 * fast.width && x >= 0 && x < long(w) && sy >= 0 && sy < long(h);
                        const UInt8 was = before.bytes[y * fast.rowBytes + i];
                        const UInt8 want =
                            covered ? Reference(src.At(size_t(x), size_t(sy))[i % 4], was,
                                                src.At(size_t(x), size_t(sy))[0], 128)
                                    : was;
                        ASSERT_EQ(fast.bytes[y * fast.rowBytes + i], want)
                            << "w " << w << " h " << h << " left " << left << " byte " << i
                            << " row " << y;
                    }
            }
            CGImageRelease(image);
        }
    }
}

// The image is its own copy of the context's pixels, made without a clearing pass: its
// bytes are those of the source, rows packed, and later writes to the source don't show.
TEST_F(CGBlendExactness, ImageSnapshotKeepsTheBytesAtCreation) {
    Buffer src(13, 5, 20, 0);
    for (size_t i = 0; i < src.bytes.size(); ++i)
        src.bytes[i] = UInt8(i * 13 + 1);
    src.bytes[0] = 255; // an opaque first pixel: its bytes are copied over as they are
    Buffer expected = src;
    CGImageRef image = ImageOf(src);
    ASSERT_NE(image, nullptr);
    std::memset(src.bytes.data(), 0x5A, src.bytes.size());
    Buffer dest(13, 5, 20, 0);
    Draw(dest, image, 0, 0, 255);
    for (size_t y = 0; y < 5; ++y)
        for (size_t i = 0; i < 4 * 13; ++i)
            ASSERT_EQ(dest.At(0, y)[i],
                      Reference(expected.At(0, y)[i], 0, expected.At(i / 4, y)[0], 255))
                << "row " << y << " byte " << i;
    CGImageRelease(image);
}

} // namespace

// The sweep runs this program once per cap: a cap that were not honoured would test the
// widest kernels every time and leave the narrower ones untested.
TEST_F(CGBlendExactness, RunsNoWiderThanTheEnvironmentAllows) {
    const char* cap = std::getenv("TESSERA_VECTOR");
    if (cap == nullptr)
        GTEST_SKIP() << "no cap: the widest level this processor runs";
    const std::string want = cap;
    const toolbox::CpuLevel level = toolbox::CurrentCpuLevel();
    if (want == "portable") {
        EXPECT_EQ(level, toolbox::CpuLevel::Portable);
    } else if (want == "sse2") {
        EXPECT_LE(level, toolbox::CpuLevel::SSE2);
    } else if (want == "avx2") {
        EXPECT_LE(level, toolbox::CpuLevel::AVX2);
    }
}
