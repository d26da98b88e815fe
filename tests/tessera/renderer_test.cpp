// The mosaic renderer and the region path into it: block sizes, averages, the alpha of
// the last pixel read, the grid anchored at the region, partial edge blocks, clipping,
// in-place work, the opacity step with the documented blend, and frames and blocks large
// enough to overflow 16-bit coordinates or 32-bit sums. Expected pixels are computed here
// from the rules, pixel by pixel.
#include "DataHandling.h"
#include "Globals.h"
#include "PlugInCore.h"
#include "TestSupport.h"
#include "callpixelfx.h"
#include "pixeleffect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using tessera_test::ARGB;
using tessera_test::Frame;
using tessera_test::Pattern;

ARGB Opaque(int x, int y) {
    ARGB p = Pattern(x, y);
    p.a = 255;
    return p;
}

pluginDataRec Config(SInt16 s1, SInt16 s2, SInt16 s3, relRect region = {0, 1, 0, 1}) {
    pluginDataRec c{};
    ResetConfig(&c, true);
    c.sliders[0] = s1;
    c.sliders[1] = s2;
    c.sliders[2] = s3;
    c.startRel = region;
    return c;
}

// The block pass over the active rectangle clipped to the frame, through the tests' oracle.
std::vector<ARGB> ExpectedMosaic(const Frame& src, const Frame& destBefore, Rect active, int bw,
                                 int bh) {
    const int W = src.width(), H = src.height();
    std::vector<ARGB> out = tessera_test::PixelsOf(destBefore);
    auto clip = [](int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); };
    const Rect clipped{SInt16(clip(active.top, 0, H)), SInt16(clip(active.left, 0, W)),
                       SInt16(clip(active.bottom, 0, H)), SInt16(clip(active.right, 0, W))};
    tessera_test::MosaicOracle(tessera_test::PixelsOf(src), out, W, H, clipped, bw, bh);
    return out;
}

void ExpectFrame(const Frame& f, const std::vector<ARGB>& expected) {
    int mismatches = 0;
    for (int y = 0; y < f.height() && mismatches < 10; ++y) {
        for (int x = 0; x < f.width() && mismatches < 10; ++x) {
            const ARGB want = expected[size_t(y) * f.width() + x];
            if (!(f.at(x, y) == want)) {
                ADD_FAILURE() << "pixel (" << x << ", " << y << "): " << f.at(x, y) << ", want "
                              << want;
                ++mismatches;
            }
        }
    }
}

// A block size as the rules give it: thousandths of the frame, cut toward zero.
int BS(int extent, int slider) {
    return int(std::trunc((extent / 1000.0) * slider));
}

// The documented normal blend of Core Graphics, premultiplied, for an opacity in percent.
std::uint8_t CGBlend(std::uint8_t s, std::uint8_t sa, std::uint8_t d, int percent) {
    const long A = std::lround(percent / 100.0 * 255);
    const long v = (long(s) * A * 255 + long(d) * (65025 - long(sa) * A) + 32512) / 65025;
    return std::uint8_t(v > 255 ? 255 : v);
}

struct Pair {
    Frame src, dst;
    Pair(int w, int h, ARGB (*fill)(int, int) = Pattern) : src(w, h), dst(w, h) {
        src.fill(fill);
        dst.copyFrom(src);
    }
};

TEST(MosaicBlocks, SizesAreThousandthsOfTheFrameCutTowardZero) {
    Pair p(720, 480);
    pluginDataRec c = Config(10, 10, 0);
    ThePixelEffect(p.src.get(), p.dst.get(), Rect{0, 0, 480, 720}, true, &c, 0, 1);
    // 7.2 x 4.8 -> blocks of 7 x 4: the first block is uniform, its neighbours start at
    // x = 7 and y = 4.
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 7; ++x) {
            EXPECT_EQ(p.dst.at(x, y), p.dst.at(0, 0));
        }
    }
    long long sr = 0;
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 7; ++x) {
            sr += p.src.at(x, y).r;
        }
    }
    EXPECT_EQ(p.dst.at(0, 0).r, sr / 28);
    EXPECT_EQ(p.dst.at(0, 0).a, p.src.at(6, 3).a); // alpha of the last pixel read
    ExpectFrame(p.dst, ExpectedMosaic(p.src, p.src, Rect{0, 0, 480, 720}, 7, 4));
}

TEST(MosaicBlocks, ZeroSlidersGiveSinglePixelBlocksAndAnUnchangedRegion) {
    Pair p(64, 40);
    pluginDataRec c = Config(0, 0, 0);
    ThePixelEffect(p.src.get(), p.dst.get(), Rect{0, 0, 40, 64}, true, &c, 0, 1);
    ExpectFrame(p.dst, ExpectedMosaic(p.src, p.src, Rect{0, 0, 0, 0}, 1, 1));

    pluginDataRec small = Config(15, 24, 0); // 0.96 and 0.96 pixels: cut to 0, then 1
    ThePixelEffect(p.src.get(), p.dst.get(), Rect{0, 0, 40, 64}, true, &small, 0, 1);
    ExpectFrame(p.dst, ExpectedMosaic(p.src, p.src, Rect{0, 0, 0, 0}, 1, 1));
}

TEST(MosaicBlocks, GridIsAnchoredAtTheRegionWithPartialEdgeBlocks) {
    Pair p(100, 60);
    const Rect region{5, 3, 47, 80}; // 77 x 42: not a multiple of 10 x 6
    TesseraGWorld(p.src.get(), p.dst.get(), region, 10, 6);
    ExpectFrame(p.dst, ExpectedMosaic(p.src, p.src, region, 10, 6));
    // The right-most column of blocks is 7 wide and averages only its own pixels.
    long long sg = 0;
    for (int y = 5; y < 11; ++y) {
        for (int x = 73; x < 80; ++x) {
            sg += p.src.at(x, y).g;
        }
    }
    EXPECT_EQ(p.dst.at(73, 5).g, sg / 42);
    EXPECT_EQ(p.dst.at(79, 10).a, p.src.at(79, 10).a);
    EXPECT_EQ(p.dst.at(80, 5), p.src.at(80, 5)); // right of the region: untouched
}

TEST(MosaicBlocks, BlockPassNeverWritesOutsideTheRegion) {
    Pair p(50, 50);
    const ARGB marker{1, 2, 3, 4};
    p.dst.fill([&](int, int) { return marker; });
    const Rect region{10, 10, 30, 35};
    TesseraGWorld(p.src.get(), p.dst.get(), region, 4, 4);
    for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 50; ++x) {
            const bool inside = x >= 10 && x < 35 && y >= 10 && y < 30;
            if (!inside) {
                ASSERT_EQ(p.dst.at(x, y), marker) << x << ", " << y;
            } else {
                ASSERT_FALSE(p.dst.at(x, y) == marker) << x << ", " << y;
            }
        }
    }
}

TEST(MosaicBlocks, RegionPartlyOutsideTheFrameIsClippedFirst) {
    Pair p(80, 60);
    pluginDataRec c = Config(100, 100, 0, relRect{-0.25, 0.5, 0.6, 1.5});
    DoPixelEffect(p.src.get(), p.dst.get(), &c, 0, 1);
    // Rel2Rect gives (-20, 36) .. (40, 90); clipped to (0, 36) .. (40, 60); blocks 8 x 6
    // anchored at (0, 36).
    ExpectFrame(p.dst, ExpectedMosaic(p.src, p.src, Rect{36, 0, 60, 40}, BS(80, 100), BS(60, 100)));

    Pair q(80, 60);
    pluginDataRec gone = Config(100, 100, 0, relRect{1.5, 2.0, 0, 1});
    DoPixelEffect(q.src.get(), q.dst.get(), &gone, 0, 1);
    ExpectFrame(q.dst, ExpectedMosaic(q.src, q.src, Rect{0, 0, 0, 0}, 1, 1)); // nothing
}

// DoPixelEffect makes its destination the source with the region in mosaic, whatever it
// held: a destination of garbage ends as one holding the source. It skips the copy only where
// DoPixelEffectPaintsAll answers yes, so a wrong yes would leave garbage showing.
TEST(MosaicBlocks, PaintsAllOnlyWhenEveryPixelIsOverwritten) {
    struct Case {
        relRect region;
        int srcW, srcH;
        bool all;
    };
    const Case cases[] = {
        {{0, 1, 0, 1}, 80, 60, true},
        {{-0.5, 1.5, -0.25, 1.25}, 80, 60, true}, // larger than the frame, clipped to it
        {{0, 1, 0, 0.99}, 80, 60, false},         // one row short
        {{0.0125, 1, 0, 1}, 80, 60, false},       // one column short
        {{0, 1, 0, 1}, 81, 60, false},            // a source of another size draws nothing
        {{0, 1, 0, 1}, 80, 59, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "region " << c.region.left << ".." << c.region.right
                                        << " x " << c.region.top << ".." << c.region.bottom
                                        << ", source " << c.srcW << "x" << c.srcH);
        Frame src(c.srcW, c.srcH), garbage(80, 60), copied(80, 60);
        src.fill(Pattern);
        garbage.fill([](int, int) { return ARGB{9, 8, 7, 6}; });
        if (c.srcW == 80 && c.srcH == 60) {
            copied.copyFrom(src);
        } else {
            copied.fill([](int, int) { return ARGB{9, 8, 7, 6}; });
        }
        pluginDataRec conf = Config(37, 52, 40, c.region);
        EXPECT_EQ(DoPixelEffectPaintsAll(src.get(), garbage.get(), &conf, 0, 1), c.all);
        DoPixelEffect(src.get(), garbage.get(), &conf, 0, 1);
        DoPixelEffect(src.get(), copied.get(), &conf, 0, 1);
        bool same = true;
        for (int y = 0; y < 60 && same; ++y) {
            for (int x = 0; x < 80 && same; ++x) {
                same = garbage.at(x, y) == copied.at(x, y);
            }
        }
        EXPECT_TRUE(same) << "a pixel of what the destination held survived";
    }
    pluginDataRec conf = Config(37, 52, 0);
    Frame f(8, 8);
    EXPECT_FALSE(DoPixelEffectPaintsAll(nullptr, f.get(), &conf, 0, 1));
    EXPECT_FALSE(DoPixelEffectPaintsAll(f.get(), nullptr, &conf, 0, 1));
    EXPECT_FALSE(DoPixelEffectPaintsAll(f.get(), f.get(), nullptr, 0, 1));
}

TEST(MosaicBlocks, InPlaceWorkGivesTheSameResult) {
    Pair p(90, 70);
    Frame alone(90, 70);
    alone.copyFrom(p.src);
    const Rect region{7, 9, 66, 81};
    TesseraGWorld(p.src.get(), p.dst.get(), region, 9, 5);
    TesseraGWorld(alone.get(), nullptr, region, 9, 5); // nil dest: in place
    ExpectPixels(alone, [&](int x, int y) { return p.dst.at(x, y); });
    pluginDataRec c = Config(100, 100, 0);
    Frame same(90, 70);
    same.copyFrom(p.src);
    ThePixelEffect(same.get(), same.get(), Rect{0, 0, 70, 90}, true, &c, 0, 1);
    ExpectFrame(same, ExpectedMosaic(p.src, p.src, Rect{0, 0, 70, 90}, BS(90, 100), BS(70, 100)));

    // In place with an opacity: the step lays the mosaic (what the source now holds) over
    // itself, as a separate copy of it would be laid.
    pluginDataRec faded = Config(100, 100, 40);
    Frame inPlace(90, 70), mosaic(90, 70), want(90, 70);
    inPlace.copyFrom(p.src);
    ThePixelEffect(inPlace.get(), inPlace.get(), region, true, &faded, 0, 1);
    want.copyFrom(p.src);
    TesseraGWorld(want.get(), nullptr, region, SInt16(BS(90, 100)), SInt16(BS(70, 100)));
    mosaic.copyFrom(want);
    OpacityStep(mosaic.get(), want.get(), 40);
    for (int y = 0; y < 70; ++y) {
        for (int x = 0; x < 90; ++x) {
            ASSERT_EQ(inPlace.at(x, y), want.at(x, y)) << x << ", " << y;
        }
    }
}

TEST(MosaicBlocks, NilSourceDoesNothingAndMismatchedFramesDrawNothing) {
    Pair p(30, 20);
    TesseraGWorld(nullptr, p.dst.get(), Rect{0, 0, 20, 30}, 4, 4);
    TesseraGWorld(nullptr, nullptr, Rect{0, 0, 20, 30}, 4, 4);
    ExpectFrame(p.dst, ExpectedMosaic(p.src, p.src, Rect{0, 0, 0, 0}, 1, 1));

    Frame wider(31, 20);
    wider.fill(Pattern);
    Frame before(31, 20);
    before.copyFrom(wider);
    TesseraGWorld(p.src.get(), wider.get(), Rect{0, 0, 20, 30}, 4, 4);
    ExpectFrame(wider, ExpectedMosaic(before, before, Rect{0, 0, 0, 0}, 1, 1));
}

TEST(MosaicBlocks, PixelStatesAreRestored) {
    Pair p(16, 16);
    UnlockPixels(GetGWorldPixMap(p.src.get()));
    LockPixels(GetGWorldPixMap(p.dst.get()));
    TesseraGWorld(p.src.get(), p.dst.get(), Rect{0, 0, 16, 16}, 4, 4);
    EXPECT_EQ(GetPixelsState(GetGWorldPixMap(p.src.get())) & pixelsLocked, 0u);
    EXPECT_NE(GetPixelsState(GetGWorldPixMap(p.dst.get())) & pixelsLocked, 0u);
}

TEST(MosaicBlocks, BlocksOverSixteenMillionPixelsAverageCorrectly) {
    // 5000 x 3400 = 17,000,000 pixels in one block: the red sum passes 2^32 (and 2^31,
    // where a signed 32-bit sum would already have wrapped). In place, to keep it to one
    // buffer.
    Frame f(5000, 3400);
    PixMapHandle pm = GetGWorldPixMap(f.get());
    auto* base = reinterpret_cast<std::uint8_t*>(GetPixBaseAddr(pm));
    for (int y = 0; y < 3400; ++y) {
        std::uint8_t* p = base + std::ptrdiff_t(y) * GetPixRowBytes(pm);
        for (int x = 0; x < 5000; ++x, p += 4) {
            p[0] = 255;
            p[1] = 255;
            p[2] = (y & 1) ? 0 : 200;
            p[3] = 1;
        }
    }
    pluginDataRec c = Config(1000, 1000, 0);
    ThePixelEffect(f.get(), f.get(), Rect{0, 0, 3400, 5000}, true, &c, 0, 1);
    const ARGB want{255, 255, 100, 1};
    EXPECT_EQ(f.at(0, 0), want);
    EXPECT_EQ(f.at(4999, 3399), want);
    EXPECT_EQ(f.at(2000, 1001), want);
}

TEST(MosaicBlocks, CoordinatesNearTheSixteenBitLimitDoNotWrap) {
    Pair p(32767, 3, Opaque);
    // A column plus a block width passes 32767: the last block is partial, the pass ends.
    const Rect region{0, 32760, 3, 32767};
    TesseraGWorld(p.src.get(), p.dst.get(), region, 10, 10);
    long long sb = 0;
    for (int y = 0; y < 3; ++y) {
        for (int x = 32760; x < 32767; ++x) {
            sb += p.src.at(x, y).b;
        }
    }
    EXPECT_EQ(p.dst.at(32760, 0).b, sb / 21);
    EXPECT_EQ(p.dst.at(32766, 2).b, sb / 21);
    EXPECT_EQ(p.dst.at(32759, 0), p.src.at(32759, 0));

    // Whole-frame blocks through the per-frame entry: 32767 wide, stepping past the limit.
    Pair q(32767, 2, Opaque);
    pluginDataRec c = Config(1000, 1000, 0);
    ThePixelEffect(q.src.get(), q.dst.get(), Rect{0, 0, 2, 32767}, true, &c, 0, 1);
    ExpectFrame(q.dst, ExpectedMosaic(q.src, q.src, Rect{0, 0, 2, 32767}, 32767, 2));
}

TEST(MosaicOpacity, FullOpacityShowsTheUnalteredSource) {
    Pair p(120, 80, Opaque);
    pluginDataRec c = Config(50, 50, 100);
    ThePixelEffect(p.src.get(), p.dst.get(), Rect{0, 0, 80, 120}, true, &c, 0, 1);
    ExpectFrame(p.dst, ExpectedMosaic(p.src, p.src, Rect{0, 0, 0, 0}, 1, 1));
}

TEST(MosaicOpacity, HalfOpacityMixesSourceAndMosaicByTheBlendFormula) {
    Pair p(120, 80, Opaque);
    pluginDataRec c = Config(100, 100, 50, relRect{0.25, 0.75, 0.25, 0.75});
    DoPixelEffect(p.src.get(), p.dst.get(), &c, 0, 1);
    const std::vector<ARGB> mosaic =
        ExpectedMosaic(p.src, p.src, Rect{20, 30, 60, 90}, BS(120, 100), BS(80, 100));
    std::vector<ARGB> want(mosaic.size());
    for (int y = 0; y < 80; ++y) {
        for (int x = 0; x < 120; ++x) {
            const ARGB s = p.src.at(x, y), d = mosaic[size_t(y) * 120 + x];
            want[size_t(y) * 120 + x] =
                ARGB{CGBlend(s.a, s.a, d.a, 50), CGBlend(s.r, s.a, d.r, 50),
                     CGBlend(s.g, s.a, d.g, 50), CGBlend(s.b, s.a, d.b, 50)};
        }
    }
    ExpectFrame(p.dst, want);
    EXPECT_EQ(p.dst.at(0, 0), p.src.at(0, 0)); // the source over its own copy stays itself
}

TEST(MosaicOpacity, ZeroOrNegativeOpacitySkipsTheStep) {
    for (SInt16 opacity : {SInt16(0), SInt16(-20)}) {
        Pair p(40, 30, Opaque);
        pluginDataRec c = Config(100, 100, opacity);
        ThePixelEffect(p.src.get(), p.dst.get(), Rect{0, 0, 30, 40}, true, &c, 0, 1);
        ExpectFrame(p.dst,
                    ExpectedMosaic(p.src, p.src, Rect{0, 0, 30, 40}, BS(40, 100), BS(30, 100)));
    }
}

TEST(MosaicPorts, CurrentPortAndDeviceAreRestored) {
    Pair p(20, 20);
    Frame other(5, 5);
    SetGWorld(other.get(), nullptr);
    CGrafPtr beforePort = nullptr;
    GDHandle beforeDevice = nullptr;
    GetGWorld(&beforePort, &beforeDevice);
    pluginDataRec c = Config(100, 100, 30);
    ThePixelEffect(p.src.get(), p.dst.get(), Rect{0, 0, 20, 20}, true, &c, 0, 1);
    SInt16 opacity = 0;
    DoEffect(&c, nullptr, p.src.get(), p.dst.get(), 3, 0, 0, 10, 0.5f, 0.5f, 0.5f, opacity);
    CGrafPtr afterPort = nullptr;
    GDHandle afterDevice = nullptr;
    GetGWorld(&afterPort, &afterDevice);
    EXPECT_EQ(afterPort, beforePort);
    EXPECT_EQ(afterDevice, beforeDevice);
    SetGWorld(nullptr, nullptr);
}

TEST(RegionPath, EveryFrameOfAClipRendersTheSameRegion) {
    pluginDataRec c = Config(30, 40, 0, relRect{0.1, 0.6, 0.2, 0.9});
    Pair first(200, 100), last(200, 100);
    SInt16 opacity = 0;
    DoEffect(&c, nullptr, first.src.get(), first.dst.get(), 0, 5, 5, 300, 0, 1, 0.3f, opacity);
    DoEffect(&c, nullptr, last.src.get(), last.dst.get(), 299, 5, 5, 300, 1, 0, 0.7f, opacity);
    const std::vector<ARGB> want =
        ExpectedMosaic(first.src, first.src, Rect{20, 20, 90, 120}, BS(200, 30), BS(100, 40));
    ExpectFrame(first.dst, want);
    ExpectFrame(last.dst, want);
}

TEST(RegionPath, PreviewCopiesTheSourceFirstAndUsesTheWorkspace) {
    pluginDataRec c = Config(100, 100, 0, relRect{0.5, 1.0, 0.0, 0.5});
    gConfigWorkSpace.theConfig = &c;
    Frame src(60, 40), dst(60, 40);
    src.fill(Pattern);
    dst.fill([](int, int) { return ARGB{9, 9, 9, 9}; }); // stale preview
    CallPixelEffect(src.get(), dst.get());
    ExpectFrame(dst, ExpectedMosaic(src, src, Rect{0, 30, 20, 60}, BS(60, 100), BS(40, 100)));
    gConfigWorkSpace.theConfig = nullptr;
}

} // namespace
