// Exactness of the host's one-to-one blend (the rows of a fade's Blit): every (source byte,
// destination byte) pair under every opacity, and rectangles at offsets and partly outside
// either image, against out = (src * op + dst * (255 - op) + 127) / 255 computed plainly.
#include "blend.h"

#include <gtest/gtest.h>

#include <vector>

using namespace fxhost;

namespace {

std::uint8_t Plain(int s, int d, int op) {
    return std::uint8_t((s * op + d * (255 - op) + 127) / 255);
}

struct Pixels {
    int w, h;
    std::ptrdiff_t rb;
    std::vector<std::uint8_t> bytes;
    Pixels(int w_, int h_) : w(w_), h(h_), rb(4 * w_ + 8), bytes(size_t(rb * h_)) {}
    PixelImage view() { return PixelImage{bytes.data(), rb, w, h}; }
};

TEST(BlendExactness, EveryPairUnderEveryOpacity) {
    // Row s of the source holds the byte s everywhere; column d of the destination holds d.
    Pixels src(64, 256), start(64, 256);
    for (int y = 0; y < 256; ++y) {
        for (int i = 0; i < 4 * 64; ++i) {
            src.bytes[size_t(y * src.rb + i)] = std::uint8_t(y);
            start.bytes[size_t(y * start.rb + i)] = std::uint8_t((i + 3 * y) & 255);
        }
    }
    const PixelRect all{0, 0, 256, 64};
    for (int op = 0; op <= 255; ++op) {
        Pixels dst = start;
        BlendImage(src.view(), all, dst.view(), all, op);
        for (int y = 0; y < 256; ++y) {
            for (int i = 0; i < int(dst.rb); ++i) {
                const std::uint8_t was = start.bytes[size_t(y * start.rb + i)];
                const std::uint8_t want = i < 4 * 64 ? Plain(y, was, op) : was;
                ASSERT_EQ(dst.bytes[size_t(y * dst.rb + i)], want)
                    << "op " << op << " s " << y << " d " << int(was) << " byte " << i;
            }
        }
    }
}

TEST(BlendExactness, OffsetAndClippedRectangles) {
    Pixels src(21, 5), start(23, 6);
    for (size_t i = 0; i < src.bytes.size(); ++i) {
        src.bytes[i] = std::uint8_t(i * 29 + 7);
    }
    for (size_t i = 0; i < start.bytes.size(); ++i) {
        start.bytes[i] = std::uint8_t(i * 53 + 1);
    }
    for (int sl = -4; sl <= 6; ++sl) {
        for (int dl = -5; dl <= 7; dl += 3) {
            const PixelRect s{-1, sl, 19, sl + 20}, d{1, dl, 21, dl + 20};
            Pixels dst = start;
            BlendImage(src.view(), s, dst.view(), d, 77);
            for (int y = 0; y < dst.h; ++y) {
                for (int x = 0; x < dst.w; ++x) {
                    const int sx = x - dl + sl, sy = y - 1 - 1;
                    const bool covered = x >= dl && x < dl + 20 && y >= 1 && y < 21 && sx >= 0 &&
                                         sx < src.w && sy >= 0 && sy < src.h;
                    for (int c = 0; c < 4; ++c) {
                        const std::uint8_t was = start.bytes[size_t(y * start.rb + 4 * x + c)];
                        const std::uint8_t want =
                            covered ? Plain(src.bytes[size_t(sy * src.rb + 4 * sx + c)], was, 77)
                                    : was;
                        ASSERT_EQ(dst.bytes[size_t(y * dst.rb + 4 * x + c)], want)
                            << "source left " << sl << " dest left " << dl << " at " << x << ","
                            << y;
                    }
                }
            }
        }
    }
}

} // namespace
