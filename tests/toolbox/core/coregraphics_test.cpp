// Tests of Core Graphics: images and bitmap contexts, placement with the y axis up, the
// identity fast path against the general path, the blend formula on hand-computed pixels,
// global alpha, clearing, rotation, bilinear scaling and the QuickDraw bridge.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "CoreGraphics.h"
#include "ToolboxTesting.h"

namespace {

using Pixel = std::array<UInt8, 4>; // a, r, g, b in memory

Rect R(int top, int left, int bottom, int right) {
    return Rect{SInt16(top), SInt16(left), SInt16(bottom), SInt16(right)};
}

// Premultiplied pattern with varied alpha, so blending differs from copying.
Pixel Pattern(int x, int y) {
    const int a = (x * 37 + y * 91) % 256;
    return Pixel{UInt8(a), UInt8((x * 11 + y) % (a + 1)), UInt8((y * 29) % (a + 1)),
                 UInt8((x * y) % (a + 1))};
}

Pixel Opaque(int x, int y) {
    return Pixel{255, UInt8(x * 20 + y), UInt8(y * 40 + x), UInt8((x * 7) ^ (y * 3))};
}

// Pixels held in memory laid out like a GWorld's (bytes a, r, g, b, padded rows).
struct Frame {
    int width, height, rowBytes;
    std::vector<UInt8> bytes;
    Frame(int w, int h, UInt8 fill = 0)
        : width(w), height(h), rowBytes(4 * w + 20), bytes(size_t(rowBytes * h), fill) {}
    UInt8* At(int x, int y) { return bytes.data() + y * rowBytes + 4 * x; }
    Pixel Get(int x, int y) {
        Pixel p;
        std::memcpy(p.data(), At(x, y), 4);
        return p;
    }
    void Put(int x, int y, Pixel p) { std::memcpy(At(x, y), p.data(), 4); }
    template <typename F> void Fill(F f) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                Put(x, y, f(x, y));
    }
    // Every pixel against want(x, y).
    template <typename F> void Expect(F want) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                ASSERT_EQ(Get(x, y), want(x, y)) << "pixel " << x << "," << y;
    }
};

// A 32-bit GWorld of w x h, to be disposed of by the caller.
GWorldPtr NewWorld(int w, int h) {
    Rect bounds = R(0, 0, h, w);
    GWorldPtr gw = nullptr;
    EXPECT_EQ(NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0), noErr);
    return gw;
}

// Every pixel of a GWorld of w x h against want(x, y).
template <typename F> void ExpectWorld(GWorldPtr gw, int w, int h, F want) {
    PixMapHandle pm = GetGWorldPixMap(gw);
    const auto* base = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pm));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            Pixel p;
            std::memcpy(p.data(), base + y * GetPixRowBytes(pm) + 4 * x, 4);
            ASSERT_EQ(p, want(x, y)) << "pixel " << x << "," << y;
        }
}

class CoreGraphicsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        toolbox::testing::ClearAllocationFailures();
        toolbox::testing::SetCGFastPathEnabled(true);
        before_ = toolbox::testing::GetLiveCounts();
        space_ = CGColorSpaceCreateDeviceRGB();
    }
    void TearDown() override {
        CGColorSpaceRelease(space_);
        toolbox::testing::SetCGFastPathEnabled(true);
        toolbox::testing::ClearAllocationFailures();
        const auto after = toolbox::testing::GetLiveCounts();
        EXPECT_EQ(after.images, before_.images) << "an image leaked";
        EXPECT_EQ(after.contexts, before_.contexts) << "a context leaked";
        EXPECT_EQ(after.colorSpaces, before_.colorSpaces) << "a colour space leaked";
        EXPECT_EQ(after.providers, before_.providers) << "a provider leaked";
        EXPECT_EQ(after.gworlds, before_.gworlds) << "a GWorld leaked";
    }
    CGContextRef Context(Frame& f) {
        return CGBitmapContextCreate(f.bytes.data(), size_t(f.width), size_t(f.height), 8,
                                     size_t(f.rowBytes), space_, kCGImageAlphaPremultipliedFirst);
    }
    CGImageRef Image(Frame& f) {
        CGContextRef c = Context(f);
        CGImageRef image = CGBitmapContextCreateImage(c);
        CGContextRelease(c);
        return image;
    }
    CGImageRef ImageOf(int w, int h, Pixel (*pattern)(int, int)) {
        Frame f(w, h);
        f.Fill(pattern);
        return Image(f);
    }
    toolbox::testing::LiveCounts before_{};
    CGColorSpaceRef space_ = nullptr;
};

// The blend of one pixel, written out from the documented formula.
Pixel Blend(Pixel s, Pixel d, double alpha) {
    const unsigned A = unsigned(std::lround(alpha * 255));
    Pixel out;
    for (int c = 0; c < 4; ++c) {
        const unsigned v = (s[c] * A * 255 + d[c] * (65025 - s[0] * A) + 32512) / 65025;
        out[c] = UInt8(v > 255 ? 255 : v);
    }
    return out;
}

// --- Images and contexts -----------------------------------------------------------------

using ImageTest = CoreGraphicsTest;

TEST_F(ImageTest, ImageFromContextDescribesTheBuffer) {
    Frame f(7, 3);
    CGImageRef image = Image(f);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(CGImageGetWidth(image), 7u);
    EXPECT_EQ(CGImageGetHeight(image), 3u);
    EXPECT_EQ(CGImageGetBitsPerComponent(image), 8u);
    EXPECT_EQ(CGImageGetBitsPerPixel(image), 32u);
    EXPECT_EQ(CGImageGetBytesPerRow(image), size_t(f.rowBytes));
    EXPECT_EQ(CGImageGetAlphaInfo(image), kCGImageAlphaPremultipliedFirst);
    CGImageRef same = CGImageRetain(image);
    EXPECT_EQ(same, image);
    CGImageRelease(same);
    CGImageRelease(image);
    CGImageRelease(nullptr);
}

TEST_F(ImageTest, ImageIsACopyOfThePixelsAtThatMoment) {
    Frame src(4, 4);
    src.Fill(Opaque);
    CGContextRef c = Context(src);
    CGImageRef image = CGBitmapContextCreateImage(c);
    CGImageRef copy = CGImageCreateCopy(image);
    src.Fill([](int, int) { return Pixel{255, 1, 2, 3}; }); // change the buffer afterwards
    Frame dst(4, 4);
    CGContextRef d = Context(dst);
    CGContextDrawImage(d, CGRectMake(0, 0, 4, 4), copy);
    dst.Expect(Opaque);
    CGContextRelease(d);
    CGImageRelease(copy);
    CGImageRelease(image);
    CGContextRelease(c);
}

struct ReleaseLog {
    int calls = 0;
    const void* data = nullptr;
};

TEST_F(ImageTest, ImagesFromProvidersInOtherLayouts) {
    // Straight alpha, little-endian words (bytes b, g, r, a): premultiplied on creation.
    std::vector<UInt8> bgra = {200, 100, 50, 128, /**/ 10, 20, 30, 255};
    ReleaseLog log;
    CGDataProviderRef provider = CGDataProviderCreateWithData(
        &log, bgra.data(), bgra.size(), [](void* info, const void* data, size_t) {
            auto* l = static_cast<ReleaseLog*>(info);
            ++l->calls;
            l->data = data;
        });
    CGImageRef image =
        CGImageCreate(2, 1, 8, 32, 8, space_, kCGImageAlphaFirst | kCGBitmapByteOrder32Little,
                      provider, nullptr, false, kCGRenderingIntentDefault);
    ASSERT_NE(image, nullptr);
    CGDataProviderRelease(provider);
    EXPECT_EQ(log.calls, 1);
    EXPECT_EQ(log.data, bgra.data());
    Frame dst(2, 1);
    CGContextRef c = Context(dst);
    CGContextDrawImage(c, CGRectMake(0, 0, 2, 1), image);
    // 50 * 128 / 255 = 25.1, 100 * 128 / 255 = 50.2, 200 * 128 / 255 = 100.4 (rounded)
    const Pixel first = Blend(Pixel{128, 25, 50, 100}, Pixel{0, 0, 0, 0}, 1.0);
    EXPECT_EQ(dst.Get(0, 0), first);
    EXPECT_EQ(dst.Get(1, 0), (Pixel{255, 30, 20, 10}));
    CGContextRelease(c);
    CGImageRelease(image);
}

// Canonical bytes from a provider that says when its data goes are read in place, through
// padded rows and under scaling, and the provider is held until the last image goes;
// without a release callback, or after CGImageCreateCopy, the image has its own pixels.
TEST_F(ImageTest, CanonicalProvidersAreReadInPlaceAndHeldWhileTheImageLives) {
    Frame src(3, 2);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            std::memcpy(src.At(x, y), Opaque(x, y).data(), 4);
        }
    }
    ReleaseLog log;
    const size_t bytes = size_t(src.rowBytes) + 12;
    CGDataProviderRef lender = CGDataProviderCreateWithData(
        &log, src.bytes.data(), bytes,
        [](void* info, const void*, size_t) { ++static_cast<ReleaseLog*>(info)->calls; });
    CGDataProviderRef copied =
        CGDataProviderCreateWithData(nullptr, src.bytes.data(), bytes, nullptr);
    auto make = [&](CGDataProviderRef p) {
        return CGImageCreate(3, 2, 8, 32, size_t(src.rowBytes), space_,
                             kCGImageAlphaPremultipliedFirst, p, nullptr, false,
                             kCGRenderingIntentDefault);
    };
    CGImageRef inPlace = make(lender), own = make(copied);
    ASSERT_NE(inPlace, nullptr);
    ASSERT_NE(own, nullptr);
    CGDataProviderRelease(lender);
    CGDataProviderRelease(copied);
    EXPECT_EQ(log.calls, 0) << "the image holds its provider";
    CGImageRef snapshot = CGImageCreateCopy(inPlace);
    ASSERT_NE(snapshot, nullptr);

    const Pixel changed{255, 1, 2, 3};
    std::memcpy(src.At(2, 1), changed.data(), 4);
    auto drawn = [&](CGImageRef image, int w, int h, int x, int y) {
        Frame dst(w, h);
        CGContextRef c = Context(dst);
        CGContextDrawImage(c, CGRectMake(0, 0, CGFloat(w), CGFloat(h)), image);
        CGContextRelease(c);
        return dst.Get(x, y);
    };
    EXPECT_EQ(drawn(inPlace, 3, 2, 2, 1), changed);
    EXPECT_EQ(drawn(inPlace, 3, 2, 0, 1), Opaque(0, 1)) << "rows are bytesPerRow apart";
    EXPECT_EQ(drawn(inPlace, 6, 4, 5, 3), changed) << "the scaling path reads in place too";
    EXPECT_EQ(drawn(own, 3, 2, 2, 1), Opaque(2, 1));
    EXPECT_EQ(drawn(snapshot, 3, 2, 2, 1), Opaque(2, 1));
    EXPECT_EQ(drawn(snapshot, 3, 2, 1, 0), Opaque(1, 0));

    CGImageRelease(snapshot);
    CGImageRelease(own);
    EXPECT_EQ(log.calls, 0);
    CGImageRelease(inPlace);
    EXPECT_EQ(log.calls, 1) << "released with the last image";
}

TEST_F(ImageTest, ContextsWriteTheirOwnByteOrder) {
    CGImageRef image = ImageOf(1, 1, [](int, int) { return Pixel{255, 10, 20, 30}; });
    struct Case {
        CGBitmapInfo info;
        Pixel bytes;
    } cases[] = {
        {kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Big, {255, 10, 20, 30}},
        {kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little, {30, 20, 10, 255}},
        {kCGImageAlphaPremultipliedLast, {10, 20, 30, 255}},
        {kCGImageAlphaPremultipliedLast | kCGBitmapByteOrder32Little, {255, 30, 20, 10}},
    };
    for (const Case& k : cases) {
        Pixel out{};
        CGContextRef c = CGBitmapContextCreate(out.data(), 1, 1, 8, 4, space_, k.info);
        ASSERT_NE(c, nullptr);
        CGContextDrawImage(c, CGRectMake(0, 0, 1, 1), image);
        EXPECT_EQ(out, k.bytes) << "layout " << k.info;
        // ...and an image made from it reads them back the same way.
        CGImageRef back = CGBitmapContextCreateImage(c);
        Frame check(1, 1);
        CGContextRef d = Context(check);
        CGContextDrawImage(d, CGRectMake(0, 0, 1, 1), back);
        EXPECT_EQ(check.Get(0, 0), (Pixel{255, 10, 20, 30}));
        CGContextRelease(d);
        CGImageRelease(back);
        CGContextRelease(c);
    }
    CGImageRelease(image);
}

TEST_F(ImageTest, BadDescriptionsMakeNoImageOrContext) {
    std::vector<UInt8> data(64, 0);
    CGDataProviderRef provider = CGDataProviderCreateWithData(nullptr, data.data(), 64, nullptr);
    auto make = [&](size_t w, size_t h, size_t bpc, size_t bpp, size_t bpr, CGBitmapInfo info) {
        return CGImageCreate(w, h, bpc, bpp, bpr, space_, info, provider, nullptr, false,
                             kCGRenderingIntentDefault);
    };
    EXPECT_EQ(make(4, 4, 16, 32, 16, kCGImageAlphaPremultipliedFirst), nullptr);
    EXPECT_EQ(make(4, 4, 8, 24, 16, kCGImageAlphaPremultipliedFirst), nullptr);
    EXPECT_EQ(make(4, 4, 8, 32, 12, kCGImageAlphaPremultipliedFirst), nullptr) << "short rows";
    EXPECT_EQ(make(4, 5, 8, 32, 16, kCGImageAlphaPremultipliedFirst), nullptr) << "short data";
    EXPECT_EQ(make(0, 4, 8, 32, 16, kCGImageAlphaPremultipliedFirst), nullptr);
    EXPECT_EQ(make(4, 4, 8, 32, 16, kCGImageAlphaOnly), nullptr);
    CGImageRef fits = make(4, 4, 8, 32, 16, kCGImageAlphaNoneSkipFirst);
    EXPECT_NE(fits, nullptr);
    CGImageRelease(fits);
    CGDataProviderRelease(provider);
    EXPECT_EQ(
        CGBitmapContextCreate(data.data(), 4, 4, 8, 15, space_, kCGImageAlphaPremultipliedFirst),
        nullptr);
    EXPECT_EQ(
        CGBitmapContextCreate(data.data(), 4, 4, 8, 16, nullptr, kCGImageAlphaPremultipliedFirst),
        nullptr);
    EXPECT_EQ(CGBitmapContextCreate(data.data(), 4, 4, 8, 16, space_, kCGImageAlphaFirst), nullptr);
}

TEST_F(ImageTest, InjectedFailureStopsImagesAndContexts) {
    Frame f(2, 2);
    toolbox::testing::FailNextAllocations(1);
    EXPECT_EQ(Context(f), nullptr);
    CGContextRef c = Context(f);
    ASSERT_NE(c, nullptr);
    toolbox::testing::FailNextAllocations(1);
    EXPECT_EQ(CGBitmapContextCreateImage(c), nullptr);
    CGContextRelease(c);
}

TEST_F(ImageTest, ContextWithItsOwnMemoryStartsClear) {
    CGContextRef c =
        CGBitmapContextCreate(nullptr, 3, 2, 8, 0, space_, kCGImageAlphaPremultipliedFirst);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(CGBitmapContextGetBytesPerRow(c), 12u);
    EXPECT_EQ(CGBitmapContextGetWidth(c), 3u);
    EXPECT_EQ(CGBitmapContextGetHeight(c), 2u);
    const auto* data = static_cast<const UInt8*>(CGBitmapContextGetData(c));
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(data[i], 0);
    CGContextRelease(c);
}

// --- Drawing -----------------------------------------------------------------------------

using DrawImageTest = CoreGraphicsTest;

TEST_F(DrawImageTest, OriginIsBottomLeftWithYUp) {
    // The QuickDraw rectangle top 10, left 20, bottom 30, right 60 of a 200 x 100 frame is the
    // Core Graphics rectangle at (20, 70), size 40 x 20.
    Frame dst(200, 100);
    CGImageRef image = ImageOf(40, 20, Opaque);
    CGContextRef c = Context(dst);
    CGContextDrawImage(c, CGRectMake(20, 70, 40, 20), image);
    dst.Expect([](int x, int y) {
        return x >= 20 && x < 60 && y >= 10 && y < 30 ? Opaque(x - 20, y - 10) : Pixel{0, 0, 0, 0};
    });
    CGContextRelease(c);
    CGImageRelease(image);
}

TEST_F(DrawImageTest, IdentityDrawOfOpaqueImageGivesTheSourceBytes) {
    Frame dst(9, 5, 0x33);
    CGImageRef image = ImageOf(9, 5, Opaque);
    CGContextRef c = Context(dst);
    CGContextDrawImage(c, CGRectMake(0, 0, 9, 5), image);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 9; ++x)
            ASSERT_EQ(dst.Get(x, y), Opaque(x, y));
        for (int i = 4 * 9; i < dst.rowBytes; ++i)
            ASSERT_EQ(dst.bytes[size_t(y * dst.rowBytes + i)], 0x33) << "row padding touched";
    }
    CGContextRelease(c);
    CGImageRelease(image);
}

TEST_F(DrawImageTest, FastPathGivesTheSameBytesAsTheGeneralPath) {
    CGImageRef image = ImageOf(17, 11, Pattern);
    const CGBitmapInfo layouts[] = {kCGImageAlphaPremultipliedFirst,
                                    kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little,
                                    kCGImageAlphaPremultipliedLast};
    for (CGBitmapInfo info : layouts) {
        for (double alpha : {1.0, 0.6, 0.25}) {
            Frame fast(23, 15), general(23, 15);
            auto background = [](int x, int y) { return Opaque(y, x); };
            fast.Fill(background);
            general.Fill(background);
            for (Frame* f : {&fast, &general}) {
                toolbox::testing::SetCGFastPathEnabled(f == &fast);
                CGContextRef c = CGBitmapContextCreate(f->bytes.data(), 23, 15, 8,
                                                       size_t(f->rowBytes), space_, info);
                ASSERT_NE(c, nullptr);
                CGContextSetAlpha(c, CGFloat(alpha));
                CGContextTranslateCTM(c, 2, 1);
                CGContextDrawImage(c, CGRectMake(3, 2, 17, 11), image);
                CGContextRelease(c);
            }
            ASSERT_EQ(fast.bytes, general.bytes) << "alpha " << alpha << ", layout " << info;
            if (info != kCGImageAlphaPremultipliedFirst)
                continue;
            // ...and both follow the formula. Image pixel (0, 0) lands at column 3 + 2,
            // row 15 - (2 + 1) - 11 from the top.
            EXPECT_EQ(fast.Get(5, 1), Blend(Pattern(0, 0), background(5, 1), alpha));
            EXPECT_EQ(fast.Get(10, 6), Blend(Pattern(5, 5), background(10, 6), alpha));
        }
    }
    CGImageRelease(image);
}

TEST_F(DrawImageTest, BlendFollowsTheIntegerFormula) {
    // S = (128, 100, 50, 0), D = (255, 10, 200, 30), alpha 0.5 -> A = 128, keep 65025 - 16384:
    //   a: (128*128*255 + 255*48641 + 32512) / 65025 = 16613887 / 65025 = 255
    //   r: (100*32640 + 10*48641 + 32512) / 65025 = 3782922 / 65025 = 58
    //   g: (50*32640 + 200*48641 + 32512) / 65025 = 11392712 / 65025 = 175
    //   b: (0 + 30*48641 + 32512) / 65025 = 1491742 / 65025 = 22
    Frame src(1, 1), dst(1, 1);
    src.Put(0, 0, Pixel{128, 100, 50, 0});
    dst.Put(0, 0, Pixel{255, 10, 200, 30});
    CGImageRef image = Image(src);
    CGContextRef c = Context(dst);
    CGContextSetAlpha(c, 0.5f);
    CGContextDrawImage(c, CGRectMake(0, 0, 1, 1), image);
    EXPECT_EQ(dst.Get(0, 0), (Pixel{255, 58, 175, 22}));
    // Opaque source, full alpha: the source replaces the destination.
    Frame opaque(1, 1);
    opaque.Put(0, 0, Pixel{255, 9, 8, 7});
    CGImageRef solid = Image(opaque);
    CGContextSetAlpha(c, 1.0f);
    CGContextDrawImage(c, CGRectMake(0, 0, 1, 1), solid);
    EXPECT_EQ(dst.Get(0, 0), (Pixel{255, 9, 8, 7}));
    // Transparent source: the destination stays.
    Frame clear(1, 1);
    CGImageRef nothing = Image(clear);
    CGContextDrawImage(c, CGRectMake(0, 0, 1, 1), nothing);
    EXPECT_EQ(dst.Get(0, 0), (Pixel{255, 9, 8, 7}));
    CGContextRelease(c);
    CGImageRelease(image);
    CGImageRelease(solid);
    CGImageRelease(nothing);
}

TEST_F(DrawImageTest, AlphaZeroLeavesTheDestination) {
    Frame dst(6, 6);
    dst.Fill(Pattern);
    const auto before = dst.bytes;
    CGImageRef image = ImageOf(6, 6, Opaque);
    CGContextRef c = Context(dst);
    CGContextSetAlpha(c, 0.0f);
    CGContextDrawImage(c, CGRectMake(0, 0, 6, 6), image);
    CGContextSetAlpha(c, -3.0f); // clamped to 0
    CGContextDrawImage(c, CGRectMake(1, 1, 3, 3), image);
    EXPECT_EQ(dst.bytes, before);
    CGContextRelease(c);
    CGImageRelease(image);
}

TEST_F(DrawImageTest, OtherBlendModesDrawNothing) {
    Frame dst(2, 2);
    CGImageRef image = ImageOf(2, 2, Opaque);
    CGContextRef c = Context(dst);
    CGContextSetBlendMode(c, 17);
    CGContextDrawImage(c, CGRectMake(0, 0, 2, 2), image);
    EXPECT_EQ(dst.Get(0, 0), (Pixel{0, 0, 0, 0}));
    CGContextSetBlendMode(c, kCGBlendModeNormal);
    CGContextDrawImage(c, CGRectMake(0, 0, 2, 2), image);
    EXPECT_EQ(dst.Get(0, 0), Opaque(0, 0));
    CGContextRelease(c);
    CGImageRelease(image);
}

TEST_F(DrawImageTest, ClearRectZeroesOnlyTheRect) {
    Frame dst(8, 8);
    dst.Fill(Opaque);
    CGContextRef c = Context(dst);
    CGContextSetAlpha(c, 0.3f);                    // does not apply to clearing
    CGContextClearRect(c, CGRectMake(2, 1, 4, 3)); // rows 4..6 from the top, columns 2..5
    dst.Expect([](int x, int y) {
        return x >= 2 && x < 6 && y >= 4 && y < 7 ? Pixel{0, 0, 0, 0} : Opaque(x, y);
    });
    CGContextRelease(c);
}

TEST_F(DrawImageTest, RotationByPiAboutTheCentreTurnsThePictureRound) {
    for (auto [w, h] : {std::pair{8, 6}, std::pair{7, 5}}) {
        Frame dst(w, h);
        CGImageRef image = ImageOf(w, h, Opaque);
        CGContextRef c = Context(dst);
        CGContextSaveGState(c);
        CGContextTranslateCTM(c, w / 2.0f, h / 2.0f);
        CGContextRotateCTM(c, float(M_PI));
        CGContextDrawImage(c, CGRectMake(-w / 2.0f, -h / 2.0f, float(w), float(h)), image);
        CGContextRestoreGState(c);
        dst.Expect([w = w, h = h](int x, int y) { return Opaque(w - 1 - x, h - 1 - y); });
        const CGAffineTransform ctm = CGContextGetCTM(c);
        EXPECT_EQ(ctm.a, 1.0f) << "restore brings the identity back";
        EXPECT_EQ(ctm.tx, 0.0f);
        CGContextRelease(c);
        CGImageRelease(image);
    }
}

TEST_F(DrawImageTest, BilinearScalingOfATwoByTwoImage) {
    // Red grows left to right, green top to bottom; drawn at 4 x 4. Destination centres map
    // to image positions -0.25, 0.25, 0.75, 1.25: edges clamp, the middle two mix 3:1 and 1:3
    // (weights 64/256 and 192/256, rounded at the end: 63.75 -> 64, 191.25 -> 191).
    Frame src(2, 2);
    src.Put(0, 0, Pixel{255, 0, 0, 9});
    src.Put(1, 0, Pixel{255, 255, 0, 9});
    src.Put(0, 1, Pixel{255, 0, 255, 9});
    src.Put(1, 1, Pixel{255, 255, 255, 9});
    CGImageRef image = Image(src);
    Frame dst(4, 4);
    CGContextRef c = Context(dst);
    CGContextDrawImage(c, CGRectMake(0, 0, 4, 4), image);
    const UInt8 ramp[4] = {0, 64, 191, 255};
    dst.Expect([&ramp](int x, int y) { return Pixel{255, ramp[x], ramp[y], 9}; });
    CGContextRelease(c);
    CGImageRelease(image);
}

TEST_F(DrawImageTest, ScaleCTMStretchesLikeALargerRect) {
    CGImageRef image = ImageOf(3, 2, Opaque);
    Frame viaRect(9, 4), viaCTM(9, 4);
    CGContextRef a = Context(viaRect);
    CGContextDrawImage(a, CGRectMake(0, 0, 9, 4), image);
    CGContextRef b = Context(viaCTM);
    CGContextScaleCTM(b, 3, 2);
    CGContextDrawImage(b, CGRectMake(0, 0, 3, 2), image);
    EXPECT_EQ(viaRect.bytes, viaCTM.bytes);
    CGContextRelease(a);
    CGContextRelease(b);
    CGImageRelease(image);
}

TEST_F(DrawImageTest, NegativeSizesDoNotMirrorButTheCTMDoes) {
    CGImageRef image = ImageOf(3, 2, Opaque);
    Frame plain(3, 2), negative(3, 2), flipped(3, 2);
    CGContextRef a = Context(plain), b = Context(negative), c = Context(flipped);
    CGContextDrawImage(a, CGRectMake(0, 0, 3, 2), image);
    CGContextDrawImage(b, CGRectMake(3, 2, -3, -2), image);
    EXPECT_EQ(plain.bytes, negative.bytes);
    CGContextTranslateCTM(c, 3, 0);
    CGContextScaleCTM(c, -1, 1);
    CGContextDrawImage(c, CGRectMake(0, 0, 3, 2), image);
    flipped.Expect([](int x, int y) { return Opaque(2 - x, y); });
    CGContextRelease(a);
    CGContextRelease(b);
    CGContextRelease(c);
    CGImageRelease(image);
}

TEST_F(DrawImageTest, NothingOutsideTheContextIsTouched) {
    // A context over the middle of a larger buffer: drawing far past its edges must not
    // reach the guard pixels around it.
    Frame outer(12, 12, 0x77);
    CGContextRef c = CGBitmapContextCreate(outer.At(2, 2), 8, 8, 8, size_t(outer.rowBytes), space_,
                                           kCGImageAlphaPremultipliedFirst);
    CGImageRef image = ImageOf(4, 4, Opaque);
    CGContextDrawImage(c, CGRectMake(-20, -20, 48, 48), image);
    CGContextTranslateCTM(c, 4, 4);
    CGContextRotateCTM(c, 0.7f);
    CGContextDrawImage(c, CGRectMake(-10, -10, 20, 20), image);
    CGContextClearRect(c, CGRectMake(-100, -100, 200, 200));
    outer.Expect([](int x, int y) {
        return x >= 2 && x < 10 && y >= 2 && y < 10 ? Pixel{0, 0, 0, 0}
                                                    : Pixel{0x77, 0x77, 0x77, 0x77};
    });
    CGContextRelease(c);
    CGImageRelease(image);
}

// --- On QuickDraw ports ------------------------------------------------------------------

using QDBridgeTest = CoreGraphicsTest;

TEST_F(QDBridgeTest, ContextDrawsIntoTheGWorldPixels) {
    GWorldPtr gw = NewWorld(30, 20);
    CGContextRef c = nullptr;
    ASSERT_EQ(QDBeginCGContext(gw, &c), noErr);
    ASSERT_NE(c, nullptr);
    CGContextRef second = nullptr;
    EXPECT_EQ(QDBeginCGContext(gw, &second), paramErr) << "one context at a time";
    CGImageRef image = ImageOf(5, 4, Opaque);
    CGContextDrawImage(c, CGRectMake(10, 20 - 3 - 4, 5, 4), image); // top 3, left 10
    CGContextFlush(c);
    EXPECT_EQ(QDEndCGContext(gw, &c), noErr);
    EXPECT_EQ(c, nullptr);
    CGContextRelease(c);
    ExpectWorld(gw, 30, 20, [](int x, int y) {
        return x >= 10 && x < 15 && y >= 3 && y < 7 ? Opaque(x - 10, y - 3) : Pixel{0, 0, 0, 0};
    });
    EXPECT_EQ(QDEndCGContext(gw, &c), paramErr) << "nothing left to end";
    CGImageRelease(image);
    DisposeGWorld(gw);
}

TEST_F(QDBridgeTest, ContextKeepsToThePortClip) {
    GWorldPtr gw = NewWorld(6, 6);
    CGrafPtr oldPort;
    GDHandle oldDevice;
    GetGWorld(&oldPort, &oldDevice);
    SetGWorld(gw, nullptr);
    Rect clip = R(1, 2, 3, 5);
    ClipRect(&clip);
    SetGWorld(oldPort, oldDevice);
    CGContextRef c = nullptr;
    ASSERT_EQ(QDBeginCGContext(gw, &c), noErr);
    CGImageRef image = ImageOf(6, 6, Opaque);
    CGContextDrawImage(c, CGRectMake(0, 0, 6, 6), image);
    QDEndCGContext(gw, &c);
    ExpectWorld(gw, 6, 6, [](int x, int y) {
        return x >= 2 && x < 5 && y >= 1 && y < 3 ? Opaque(x, y) : Pixel{0, 0, 0, 0};
    });
    CGImageRelease(image);
    DisposeGWorld(gw);
}

TEST_F(QDBridgeTest, BeginFailsCleanlyWithoutMemoryOrPort) {
    CGContextRef c = reinterpret_cast<CGContextRef>(1);
    EXPECT_EQ(QDBeginCGContext(nullptr, &c), paramErr);
    EXPECT_EQ(c, nullptr);
    GWorldPtr gw = NewWorld(2, 2);
    toolbox::testing::FailNextAllocations(1);
    EXPECT_EQ(QDBeginCGContext(gw, &c), memFullErr);
    EXPECT_EQ(c, nullptr);
    ASSERT_EQ(QDBeginCGContext(gw, &c), noErr) << "a failed begin leaves the port free";
    QDEndCGContext(gw, &c);
    DisposeGWorld(gw);
}

TEST_F(QDBridgeTest, DisposingTheGWorldLeavesTheContextDrawingNowhere) {
    GWorldPtr gw = NewWorld(4, 4);
    CGContextRef c = nullptr;
    ASSERT_EQ(QDBeginCGContext(gw, &c), noErr);
    GWorldPtr same = gw;
    Rect bigger = R(0, 0, 8, 8);
    EXPECT_EQ(UpdateGWorld(&same, 32, &bigger, nullptr, nullptr, 0), gwFlagErr)
        << "pixels under a drawing context must not move";
    EXPECT_EQ(QDError(), paramErr);
    DisposeGWorld(gw);
    // Under AddressSanitizer, a write into the freed pixels would fail this test.
    CGImageRef image = ImageOf(4, 4, Opaque);
    CGContextDrawImage(c, CGRectMake(0, 0, 4, 4), image);
    CGContextClearRect(c, CGRectMake(0, 0, 4, 4));
    EXPECT_EQ(CGBitmapContextCreateImage(c), nullptr);
    EXPECT_EQ(CGBitmapContextGetData(c), nullptr);
    CGContextRelease(c);
    CGImageRelease(image);
}

} // namespace
