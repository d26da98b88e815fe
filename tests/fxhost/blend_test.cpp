// Tests of the host's opacity blend (the Blit callback's arithmetic).
#include "blend.h"

#include <gtest/gtest.h>

#include <vector>

using namespace fxhost;

namespace {

struct Image {
    int w, h;
    std::ptrdiff_t rb;
    std::vector<std::uint8_t> bytes;
    Image(int w_, int h_, std::uint8_t fill)
        : w(w_), h(h_), rb(4 * w_ + 12), bytes(rb * h_, fill) {}
    PixelImage view() { return PixelImage{bytes.data(), rb, w, h}; }
    std::uint8_t* at(int x, int y) { return bytes.data() + y * rb + 4 * x; }
};

} // namespace

TEST(Blend, OpacityEndsAndMiddle) {
    Image src(3, 2, 200), dst(3, 2, 100);
    const PixelRect all{0, 0, 2, 3};
    BlendImage(src.view(), all, dst.view(), all, 0);
    EXPECT_EQ(*dst.at(1, 1), 100) << "opacity 0 leaves the destination";
    BlendImage(src.view(), all, dst.view(), all, 128);
    // (200*128 + 100*127 + 127) / 255 = 38427 / 255 = 150
    EXPECT_EQ(*dst.at(2, 1), 150);
    BlendImage(src.view(), all, dst.view(), all, 255);
    EXPECT_EQ(*dst.at(0, 0), 200) << "opacity 255 gives the source exactly";
}

TEST(Blend, EveryByteIncludingAlphaAndRowPaddingUntouched) {
    Image src(2, 1, 0), dst(2, 1, 255);
    const PixelRect all{0, 0, 1, 2};
    BlendImage(src.view(), all, dst.view(), all, 64);
    // (0*64 + 255*191 + 127) / 255 = 191
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(dst.at(1, 0)[c], 191);
    }
    EXPECT_EQ(dst.bytes[8], 255) << "padding after the row is not written";
}

TEST(Blend, OpacityOutsideRangeIsClamped) {
    Image src(1, 1, 10), dst(1, 1, 90);
    BlendImage(src.view(), {0, 0, 1, 1}, dst.view(), {0, 0, 1, 1}, 1000);
    EXPECT_EQ(*dst.at(0, 0), 10);
    BlendImage(src.view(), {0, 0, 1, 1}, dst.view(), {0, 0, 1, 1}, -5);
    EXPECT_EQ(*dst.at(0, 0), 10);
}

TEST(Blend, DestinationRectangleIsClippedAndSourceScaled) {
    Image src(2, 2, 0), dst(4, 4, 0);
    *src.at(1, 1) = 255; // alpha byte of the bottom-right source pixel
    // The 2x2 source is drawn into a 4x4 rectangle that hangs one pixel off the image.
    BlendImage(src.view(), {0, 0, 2, 2}, dst.view(), {1, 1, 5, 5}, 255);
    EXPECT_EQ(*dst.at(0, 0), 0) << "outside the destination rectangle";
    EXPECT_EQ(*dst.at(2, 2), 0) << "maps to source (0,0)";
    EXPECT_EQ(*dst.at(3, 3), 255) << "maps to source (1,1)";
}
