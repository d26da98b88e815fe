// Offscreen buffers and image drawing: buffers made at (0, 0), copies with and without
// scaling, images of a buffer's pixels, and drawing images into buffers at a rectangle
// with opacity and clearing, in the coordinates the conversion promises.
#include "CGglue.h"
#include "TestSupport.h"
#include "ToolboxTesting.h"
#include "gworldprocs.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using tessera_test::ARGB;
using tessera_test::Frame;

ARGB Opaque(int x, int y) {
    ARGB p = tessera_test::Pattern(x, y);
    p.a = 255;
    return p;
}

TEST(Buffers, AllocateRectGWorldPutsTheFrameAtTheOrigin) {
    QDErr err = 1;
    GWorldPtr gw = AllocateRectGWorld(Rect{5, 7, 25, 47}, &err);
    ASSERT_NE(gw, nullptr);
    EXPECT_EQ(err, noErr);
    const Rect r = GetPortRect(gw);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.bottom, 20);
    EXPECT_EQ(r.right, 40);
    EXPECT_NE(GetPixelsState(GetGWorldPixMap(gw)) & pixelsLocked, 0u); // locked for life
    DisposeGWorld(gw);
}

TEST(Buffers, AllocationFailuresGiveNilAndTheReason) {
    QDErr err = noErr;
    EXPECT_EQ(AllocateRectGWorld(Rect{0, 0, 0, 10}, &err), nullptr); // empty
    EXPECT_NE(err, noErr);
    toolbox::testing::FailNextAllocations(1, memFullErr);
    EXPECT_EQ(AllocateRectGWorld(Rect{0, 0, 10, 10}, &err), nullptr);
    EXPECT_EQ(err, memFullErr);
    LockGWorld(nullptr); // harmless
}

TEST(Buffers, Source2TargetCopiesExactlyOrScalesToTheTarget) {
    Frame src(8, 6), same(8, 6), big(16, 12);
    src.fill(Opaque);
    Source2Target(src.get(), same.get());
    ExpectPixels(same, [&](int x, int y) { return src.at(x, y); });
    Source2Target(src.get(), big.get());
    ExpectPixels(big, [&](int x, int y) { return src.at(x / 2, y / 2); });
    Source2Target(nullptr, big.get()); // nothing happens
    Source2Target(src.get(), nullptr);
}

TEST(Images, GWorld2CGImageHasTheBuffersSizeAndPixels) {
    Frame f(9, 5);
    f.fill(Opaque);
    CGImageRef image = GWorld2CGImage(f.get());
    ASSERT_NE(image, nullptr);
    SInt32 w = 0, h = 0;
    GetImageDims(image, w, h);
    EXPECT_EQ(w, 9);
    EXPECT_EQ(h, 5);
    Frame g(9, 5);
    DrawCGImageInQDRect(g.get(), image, GetPortRect(g.get()), 0, false);
    ExpectPixels(g, [&](int x, int y) { return f.at(x, y); });
    CGImageRelease(image);
}

// The image that reads a buffer in place shows what the buffer holds when it is drawn, and
// the overlap test tells buffers that share memory from those that do not.
TEST(Images, InPlaceImagesReadTheBufferAndOverlapsAreFound) {
    Frame f(9, 5), g(9, 5);
    f.fill(Opaque);
    CGImageRef image = GWorld2CGImageInPlace(f.get());
    ASSERT_NE(image, nullptr);
    SInt32 w = 0, h = 0;
    GetImageDims(image, w, h);
    EXPECT_EQ(w, 9);
    EXPECT_EQ(h, 5);
    const ARGB changed{255, 7, 8, 9};
    f.set(8, 4, changed);
    DrawCGImageInQDRect(g.get(), image, GetPortRect(g.get()), 0, false);
    EXPECT_EQ(g.at(8, 4), changed);
    EXPECT_EQ(g.at(3, 2), f.at(3, 2));
    CGImageRelease(image);

    EXPECT_TRUE(GWorldPixelsOverlap(f.get(), f.get()));
    EXPECT_FALSE(GWorldPixelsOverlap(f.get(), g.get()));
    // Three buffers over one block of ten rows: rows 0-4, rows 5-9 and rows 3-6.
    const SInt32 rowBytes = 4 * 9 + 12;
    std::vector<char> memory(size_t(rowBytes) * 10);
    const Rect five{0, 0, 5, 9}, four{0, 0, 4, 9};
    GWorldPtr top = nullptr, bottom = nullptr, middle = nullptr;
    ASSERT_EQ(NewGWorldFromPtr(&top, k32ARGBPixelFormat, &five, nullptr, nullptr, 0, memory.data(),
                               rowBytes),
              noErr);
    ASSERT_EQ(NewGWorldFromPtr(&bottom, k32ARGBPixelFormat, &five, nullptr, nullptr, 0,
                               memory.data() + 5 * rowBytes, rowBytes),
              noErr);
    ASSERT_EQ(NewGWorldFromPtr(&middle, k32ARGBPixelFormat, &four, nullptr, nullptr, 0,
                               memory.data() + 3 * rowBytes, rowBytes),
              noErr);
    EXPECT_FALSE(GWorldPixelsOverlap(top, bottom)) << "one ends where the other begins";
    EXPECT_TRUE(GWorldPixelsOverlap(top, middle));
    EXPECT_TRUE(GWorldPixelsOverlap(middle, bottom));
    EXPECT_TRUE(GWorldPixelsOverlap(bottom, middle));
    DisposeGWorld(top);
    DisposeGWorld(bottom);
    DisposeGWorld(middle);
}

TEST(Drawing, QDRectToGCRectFlipsTheVerticalAxis) {
    const CGRect r = QDRectToGCRect(Rect{10, 20, 30, 60}, Rect{0, 0, 100, 200});
    EXPECT_EQ(r.origin.x, 20);
    EXPECT_EQ(r.origin.y, 70);
    EXPECT_EQ(r.size.width, 40);
    EXPECT_EQ(r.size.height, 20);
}

TEST(Drawing, ImageLandsInThePlatformRectangle) {
    Frame src(4, 2), dst(20, 10);
    src.fill([](int, int) { return ARGB{255, 200, 100, 50}; });
    dst.fill([](int, int) { return ARGB{255, 0, 0, 0}; });
    CGImageRef image = GWorld2CGImage(src.get());
    DrawCGImageInQDRect(dst.get(), image, Rect{2, 3, 4, 7}, 0, false); // top 2, left 3
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 20; ++x) {
            const bool inside = x >= 3 && x < 7 && y >= 2 && y < 4;
            EXPECT_EQ(dst.at(x, y).r, inside ? 200 : 0) << x << ", " << y;
        }
    }
    DrawCGImageInQDRect(dst.get(), nullptr, Rect{0, 0, 10, 20}, 0, false); // nil: nothing
    EXPECT_EQ(dst.at(0, 0).r, 0);
    CGImageRelease(image);
}

TEST(Drawing, OpacityMinusOneIsFullAndZeroLeavesTheBuffer) {
    Frame src(6, 6), dst(6, 6);
    src.fill(Opaque);
    const ARGB grey{255, 90, 90, 90};
    dst.fill([&](int, int) { return grey; });
    CGImageRef image = GWorld2CGImage(src.get());
    DrawCGImageInQDRectWithAlpha(dst.get(), image, GetPortRect(dst.get()), 0, false, 0.0, 0);
    EXPECT_EQ(dst.at(3, 3), grey);
    DrawCGImageInQDRectWithAlpha(dst.get(), image, GetPortRect(dst.get()), 0, false, -1.0, 0);
    EXPECT_EQ(dst.at(3, 3), src.at(3, 3));
    CGImageRelease(image);
}

TEST(Drawing, ClearFirstKeepsAPartlyTransparentImageFromMixing) {
    Frame src(4, 4), dst(4, 4), mixed(4, 4);
    src.fill([](int, int) { return ARGB{128, 64, 32, 16}; }); // premultiplied, half covered
    dst.fill([](int, int) { return ARGB{255, 255, 255, 255}; });
    mixed.copyFrom(dst);
    CGImageRef image = GWorld2CGImage(src.get());
    DrawCGImageInQDRect(dst.get(), image, GetPortRect(dst.get()), 0, true);
    DrawCGImageInQDRect(mixed.get(), image, GetPortRect(mixed.get()), 0, false);
    EXPECT_EQ(dst.at(1, 1), src.at(1, 1));       // cleared to transparent, then the image alone
    EXPECT_GT(mixed.at(1, 1).r, src.at(1, 1).r); // without clearing, the white shows through
    CGImageRelease(image);
}

} // namespace
