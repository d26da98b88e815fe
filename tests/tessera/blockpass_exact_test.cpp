// Exactness of the optimised mosaic: TesseraGWorld and ThePixelEffect must give, byte for
// byte, what the straightforward algorithm gives: every block of the grid anchored at the
// rectangle's top-left corner, every pixel tested against the source frame and the
// rectangle on its own, 32-bit sums, one truncating division per channel, the alpha of the
// last pixel read. The sweep covers odd frame sizes (whose padded row bytes differ from
// 4 x width), blocks of 1 x 1 up to larger than the frame, regions at and beyond every
// edge, in-place work, and translucent pixels; the opacity step is checked against the
// blend formula over the mosaic.
#include "DataHandling.h"
#include "pixeleffect.h"

#include "QuickDraw.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using tessera_test::ARGB;
using tessera_test::Frame;
using tessera_test::MosaicOracle;
using tessera_test::PixelsOf;

// Pseudo-random but reproducible pixels, with alpha varying so that the "last pixel read"
// rule is visible in every block.
ARGB Noise(int x, int y, int seed) {
    std::uint32_t h = std::uint32_t(x) * 73856093u ^ std::uint32_t(y) * 19349663u ^
                      std::uint32_t(seed) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return ARGB{std::uint8_t(h), std::uint8_t(h >> 8), std::uint8_t(h >> 16),
                std::uint8_t(h >> 24)};
}

// Compares the whole frame, and the bytes between the end of each row and the next row's
// start (the row padding), which no pass may touch.
void ExpectPixels(const Frame& f, const std::vector<ARGB>& want, const char* what) {
    for (int y = 0; y < f.height(); ++y) {
        for (int x = 0; x < f.width(); ++x) {
            if (!(f.at(x, y) == want[size_t(y) * f.width() + x])) {
                ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") is " << f.at(x, y)
                              << ", want " << want[size_t(y) * f.width() + x];
                return;
            }
        }
    }
}

std::vector<std::uint8_t> Padding(const Frame& f) {
    PixMapHandle pm = GetGWorldPixMap(f.get());
    const int rowBytes = GetPixRowBytes(pm);
    std::vector<std::uint8_t> pad;
    for (int y = 0; y < f.height(); ++y) {
        for (int i = 4 * f.width(); i < rowBytes; ++i) {
            pad.push_back(f.pixel(0, y)[i]);
        }
    }
    return pad;
}

void PoisonPadding(const Frame& f) {
    const int rowBytes = GetPixRowBytes(GetGWorldPixMap(f.get()));
    for (int y = 0; y < f.height(); ++y) {
        for (int i = 4 * f.width(); i < rowBytes; ++i) {
            f.pixel(0, y)[i] = std::uint8_t(0xC3 ^ i ^ y);
        }
    }
}

Rect R(int top, int left, int bottom, int right) {
    return Rect{SInt16(top), SInt16(left), SInt16(bottom), SInt16(right)};
}

struct Case {
    int w, h;
    Rect region;
    int bw, bh;
};

std::vector<Case> Sweep() {
    std::vector<Case> cases;
    const int sizes[][2] = {{1, 1}, {3, 2}, {17, 9}, {33, 7}, {64, 48}, {101, 37}};
    const int blocks[][2] = {{1, 1},   {1, 5},   {2, 3},  {7, 4},
                             {16, 16}, {19, 10}, {33, 2}, {200, 90}};
    for (const auto& s : sizes) {
        const int w = s[0], h = s[1];
        const Rect regions[] = {
            R(0, 0, h, w),                                             // the whole frame
            R(h / 4, w / 4, h / 4 + (h + 1) / 2, w / 4 + (w + 1) / 2), // a quarter, inside
            R(-3, -5, h / 2 + 1, w / 2 + 1),                           // over the top-left corner
            R(h / 3, w / 3, h + 9, w + 11), // over the bottom-right corner
            R(1, w - 1, h, w),              // the last column
            R(h - 1, 0, h, w),              // the last row
            R(2, 3, 2, 9),                  // empty
        };
        for (const Rect& region : regions) {
            for (const auto& b : blocks) {
                cases.push_back(Case{w, h, region, b[0], b[1]});
            }
        }
    }
    return cases;
}

TEST(BlockPassExactness, MatchesTheStraightforwardPassEverywhere) {
    int seed = 0;
    for (const Case& c : Sweep()) {
        ++seed;
        Frame src(c.w, c.h), dest(c.w, c.h);
        src.fill([&](int x, int y) { return Noise(x, y, seed); });
        dest.fill([&](int x, int y) { return Noise(x, y, seed + 1000); });
        PoisonPadding(dest);
        const std::vector<std::uint8_t> pad = Padding(dest);
        std::vector<ARGB> want = PixelsOf(dest);
        MosaicOracle(PixelsOf(src), want, c.w, c.h, c.region, c.bw, c.bh);
        TesseraGWorld(src.get(), dest.get(), c.region, SInt16(c.bw), SInt16(c.bh));
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " region (" << c.region.top << ", "
                                        << c.region.left << ", " << c.region.bottom << ", "
                                        << c.region.right << ") blocks " << c.bw << "x" << c.bh);
        ExpectPixels(dest, want, "two buffers");
        EXPECT_EQ(Padding(dest), pad) << "row padding written";

        // In place: each block is read whole before it is written.
        std::vector<ARGB> wantInPlace = PixelsOf(src);
        MosaicOracle(PixelsOf(src), wantInPlace, c.w, c.h, c.region, c.bw, c.bh);
        TesseraGWorld(src.get(), nullptr, c.region, SInt16(c.bw), SInt16(c.bh));
        ExpectPixels(src, wantInPlace, "in place");
    }
}

// Opaque frames (what video gives) with every block size a whole frame can have from the
// sliders, as ThePixelEffect computes it; then the opacity step over the mosaic.
TEST(BlockPassExactness, ThePixelEffectWithOpacityMatchesMosaicThenBlend) {
    const int W = 97, H = 61;
    for (SInt16 s1 : {SInt16(0), SInt16(10), SInt16(50), SInt16(250), SInt16(1000)}) {
        for (SInt16 opacity : {SInt16(0), SInt16(50), SInt16(100)}) {
            Frame src(W, H), dest(W, H);
            src.fill([&](int x, int y) {
                ARGB p = Noise(x, y, s1);
                p.a = 255;
                return p;
            });
            dest.copyFrom(src);
            pluginDataRec config{};
            ResetConfig(&config, true);
            config.sliders[0] = s1;
            config.sliders[1] = SInt16(s1 / 2);
            config.sliders[2] = opacity;
            const int bw = int(double(W) / 1000.0 * s1), bh = int(double(H) / 1000.0 * (s1 / 2));
            const Rect region = R(5, 7, H - 3, W - 2);
            std::vector<ARGB> want = PixelsOf(dest);
            MosaicOracle(PixelsOf(src), want, W, H, region, bw, bh);
            if (opacity > 0) {
                const unsigned A = unsigned(opacity * 255 / 100.0 + 0.5);
                for (int y = 0; y < H; ++y) {
                    for (int x = 0; x < W; ++x) {
                        const ARGB s = src.at(x, y);
                        ARGB& d = want[size_t(y) * W + x];
                        auto blend = [&](unsigned sc, std::uint8_t& dc) {
                            const unsigned v =
                                (sc * A * 255u + dc * (65025u - s.a * A) + 32512u) / 65025u;
                            dc = std::uint8_t(v > 255 ? 255 : v);
                        };
                        blend(s.a, d.a), blend(s.r, d.r), blend(s.g, d.g), blend(s.b, d.b);
                    }
                }
            }
            ThePixelEffect(src.get(), dest.get(), region, true, &config, 0, 1);
            SCOPED_TRACE(testing::Message() << "slider " << s1 << " opacity " << opacity);
            ExpectPixels(dest, want, "ThePixelEffect");
        }
    }
}

// A block taller than 256 rows and one wider than a row's vector groups: the sums stay
// exact however the pass splits its work.
TEST(BlockPassExactness, TallAndWideBlocksOfBrightPixels) {
    const int W = 300, H = 700;
    Frame src(W, H), dest(W, H);
    src.fill([&](int x, int y) {
        ARGB p = Noise(x, y, 7);
        p.r = std::uint8_t(255 - (p.r & 3));
        p.g = 255;
        return p;
    });
    for (const auto& b : {std::pair{W, H}, std::pair{3, 600}, std::pair{299, 257}}) {
        dest.fill([&](int x, int y) { return Noise(x, y, 8); });
        std::vector<ARGB> want = PixelsOf(dest);
        MosaicOracle(PixelsOf(src), want, W, H, R(0, 0, H, W), b.first, b.second);
        TesseraGWorld(src.get(), dest.get(), R(0, 0, H, W), SInt16(b.first), SInt16(b.second));
        SCOPED_TRACE(testing::Message() << "blocks " << b.first << "x" << b.second);
        ExpectPixels(dest, want, "tall blocks");
    }
}

// Averages that land exactly on a whole number and one short of it, for many pixel counts
// (around 257 pixels, where a block's sums stop fitting 16 bits, too), at every brightness up
// to 255: a block of one value must keep it, and the same block with one pixel darker by one
// must round down. A division by reciprocal that is off by the smallest amount fails here.
TEST(BlockPassExactness, AveragesOnAndJustBelowAWholeNumberForManyBlockSizes) {
    const int W = 300, H = 260;
    Frame src(W, H), dest(W, H);
    const int blocks[][2] = {{1, 1},   {2, 1},     {1, 3},     {2, 2},   {3, 5},   {7, 4},
                             {8, 8},   {19, 10},   {3, 85},    {16, 16}, {128, 2}, {257, 1},
                             {1, 256}, {258, 1},   {41, 1},    {16, 17}, {31, 33}, {64, 64},
                             {1, 257}, {300, 256}, {299, 257}, {W, H}};
    for (const bool bright : {false, true}) {
        for (const auto& b : blocks) {
            const int bw = b[0], bh = b[1];
            // Each block's value comes from its position (or is 255); the block's first pixel
            // is one darker in red and blue, and green is the same everywhere in the block.
            src.fill([&](int x, int y) {
                const int bx = x / bw, by = y / bh;
                const std::uint8_t v = bright ? 255 : std::uint8_t(1 + (bx * 37 + by * 11) % 254);
                const bool first = x % bw == 0 && y % bh == 0;
                return ARGB{
                    std::uint8_t(x + y), std::uint8_t(first ? v - 1 : v), v,
                    std::uint8_t(bright ? (first ? 254 : 255) : (first ? 254 - v : 255 - v))};
            });
            dest.fill([&](int x, int y) { return Noise(x, y, 21); });
            std::vector<ARGB> want = PixelsOf(dest);
            MosaicOracle(PixelsOf(src), want, W, H, R(0, 0, H, W), bw, bh);
            TesseraGWorld(src.get(), dest.get(), R(0, 0, H, W), SInt16(bw), SInt16(bh));
            SCOPED_TRACE(testing::Message()
                         << (bright ? "bright " : "") << "blocks " << bw << "x" << bh);
            ExpectPixels(dest, want, "averages at whole numbers");
            if (bw * bh > 1) {
                // The first block's value is 1 (or 255): red and blue fall just short.
                const std::uint8_t alpha = PixelsOf(src)[size_t(bh - 1) * W + bw - 1].a;
                EXPECT_EQ(PixelsOf(dest)[0],
                          bright ? (ARGB{alpha, 254, 255, 254}) : (ARGB{alpha, 0, 1, 253}));
            }
        }
    }
}

// A frame wide enough that a band is worked in several runs of columns, and large enough
// (18 MB) that its writes go past the caches: runs start inside a block when the region
// begins left of the frame, end on a partial block at the right, or hold a single block wider
// than a run; a band taller than 256 rows is streamed as well. In place too.
TEST(BlockPassExactness, WideAndLargeFramesInRunsOfColumns) {
    const int W = 4500, H = 1000;
    Frame src(W, H), dest(W, H);
    src.fill([&](int x, int y) { return Noise(x, y, 11); });
    PoisonPadding(dest);
    struct Wide {
        Rect region;
        int bw, bh;
    };
    const Wide cases[] = {
        {R(0, 0, H, W), 1, 1},        {R(-3, -5, H, W - 1), 7, 3},
        {R(0, 0, H, W), 19, 10},      {R(2, 1000, H - 1, W), 2049, 5},
        {R(0, -100, H, W), 300, 257}, {R(500, 2040, 530, 2100), 4, 4},
    };
    for (const Wide& c : cases) {
        dest.fill([&](int x, int y) { return Noise(x, y, 12); });
        const std::vector<std::uint8_t> pad = Padding(dest);
        std::vector<ARGB> want = PixelsOf(dest);
        MosaicOracle(PixelsOf(src), want, W, H, c.region, c.bw, c.bh);
        TesseraGWorld(src.get(), dest.get(), c.region, SInt16(c.bw), SInt16(c.bh));
        SCOPED_TRACE(testing::Message() << "region (" << c.region.top << ", " << c.region.left
                                        << ", " << c.region.bottom << ", " << c.region.right
                                        << ") blocks " << c.bw << "x" << c.bh);
        ExpectPixels(dest, want, "two buffers");
        EXPECT_EQ(Padding(dest), pad) << "row padding written";
    }
    std::vector<ARGB> wantInPlace = PixelsOf(src);
    MosaicOracle(PixelsOf(src), wantInPlace, W, H, R(0, -5, H, W), 13, 6);
    TesseraGWorld(src.get(), nullptr, R(0, -5, H, W), 13, 6);
    ExpectPixels(src, wantInPlace, "in place");
}

} // namespace
