// Tests of QuickDraw: GWorld making and bounds, padded row bytes, the pixel lock state, the
// current port, the dispose hook, CopyBits (exact copies, scaling, clipping) and the drawing
// primitives, all on real offscreen buffers.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "QuickDraw.h"
#include "ToolboxTesting.h"

namespace {

using Pixel = std::array<UInt8, 4>; // a, r, g, b as in memory

Rect R(int top, int left, int bottom, int right) {
    return Rect{SInt16(top), SInt16(left), SInt16(bottom), SInt16(right)};
}

UInt8* At(GWorldPtr gw, int x, int y) {
    PixMapHandle pm = GetGWorldPixMap(gw);
    Rect b;
    GetPixBounds(pm, &b);
    return reinterpret_cast<UInt8*>(GetPixBaseAddr(pm)) + (y - b.top) * GetPixRowBytes(pm) +
           4 * (x - b.left);
}

Pixel Get(GWorldPtr gw, int x, int y) {
    Pixel p;
    std::memcpy(p.data(), At(gw, x, y), 4);
    return p;
}

void Put(GWorldPtr gw, int x, int y, Pixel p) {
    std::memcpy(At(gw, x, y), p.data(), 4);
}

// A pattern where every pixel differs from its neighbours in every channel.
Pixel Pattern(int x, int y) {
    return Pixel{UInt8(200 + (x + y) % 50), UInt8(x * 7 + y), UInt8(y * 13 + x * 3),
                 UInt8(x ^ (y * 5))};
}

// Every pixel of a w x h world against want(x, y).
template <typename F> void ExpectImage(GWorldPtr gw, int w, int h, F want) {
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(Get(gw, x, y), want(x, y)) << "pixel " << x << "," << y;
}

// CopyBits of `from` in src to `to` in dst.
void Copy(GWorldPtr src, GWorldPtr dst, Rect from, Rect to, SInt16 mode = srcCopy) {
    CopyBits(GetPortBitMapForCopyBits(src), GetPortBitMapForCopyBits(dst), &from, &to, mode,
             nullptr);
}

class QuickDrawTest : public ::testing::Test {
  protected:
    void SetUp() override {
        toolbox::testing::ClearAllocationFailures();
        GetGWorld(&savedPort_, &savedDevice_);
        liveBefore_ = toolbox::testing::GetLiveCounts().gworlds;
    }
    void TearDown() override {
        for (GWorldPtr gw : made_)
            DisposeGWorld(gw);
        SetGWorld(savedPort_, savedDevice_);
        toolbox::testing::ClearAllocationFailures();
        EXPECT_EQ(toolbox::testing::GetLiveCounts().gworlds, liveBefore_);
    }
    GWorldPtr Make(int width, int height) {
        Rect bounds = R(0, 0, height, width);
        GWorldPtr gw = nullptr;
        EXPECT_EQ(NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0), noErr);
        made_.push_back(gw);
        return gw;
    }
    GWorldPtr MakePattern(int width, int height) {
        GWorldPtr gw = Make(width, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                Put(gw, x, y, Pattern(x, y));
        return gw;
    }
    // Makes `gw` current with black foreground, white background, a normal pen.
    void Use(GWorldPtr gw) {
        SetGWorld(gw, nullptr);
        PenNormal();
    }
    std::vector<GWorldPtr> made_;
    CGrafPtr savedPort_ = nullptr;
    GDHandle savedDevice_ = nullptr;
    long liveBefore_ = 0;
};

// --- GWorlds -----------------------------------------------------------------------------

using GWorldTest = QuickDrawTest;

TEST_F(GWorldTest, KeepsTheBoundsItIsGiven) {
    Rect bounds = R(5, 7, 25, 47);
    GWorldPtr gw = nullptr;
    ASSERT_EQ(NewGWorld(&gw, 0, &bounds, nullptr, nullptr, 0), noErr);
    made_.push_back(gw);
    Rect port;
    GetPortBounds(gw, &port);
    EXPECT_TRUE(EqualRect(&port, &bounds));
    Rect pix;
    GetPixBounds(GetGWorldPixMap(gw), &pix);
    EXPECT_TRUE(EqualRect(&pix, &bounds));
    EXPECT_EQ(GetPixDepth(GetGWorldPixMap(gw)), 32);
    // Offset to (0, 0) first, as callers that want a zero origin do.
    OffsetRect(&bounds, -bounds.left, -bounds.top);
    GWorldPtr zero = nullptr;
    ASSERT_EQ(NewGWorld(&zero, 32, &bounds, nullptr, nullptr, 0), noErr);
    made_.push_back(zero);
    GetPortBounds(zero, &port);
    EXPECT_TRUE(EqualRect(&port, &bounds));
    EXPECT_EQ(port.right, 40);
    EXPECT_EQ(port.bottom, 20);
}

TEST_F(GWorldTest, RowBytesArePaddedAndPixelsStartZero) {
    for (int width : {1, 16, 40, 720, 1921}) {
        GWorldPtr gw = Make(width, 3);
        const SInt32 rowBytes = GetPixRowBytes(GetGWorldPixMap(gw));
        EXPECT_GE(rowBytes, 4 * width + 64) << width;
        EXPECT_EQ(rowBytes % 64, 0) << width;
        ExpectImage(gw, width, 3, [](int, int) { return Pixel{0, 0, 0, 0}; });
    }
}

TEST_F(GWorldTest, RefusesBadDepthsAndSizes) {
    GWorldPtr gw = reinterpret_cast<GWorldPtr>(1);
    Rect ok = R(0, 0, 10, 10);
    EXPECT_EQ(NewGWorld(&gw, 16, &ok, nullptr, nullptr, 0), cDepthErr);
    EXPECT_EQ(gw, nullptr);
    Rect empty = R(0, 0, 0, 10), inverted = R(10, 10, 0, 0);
    EXPECT_EQ(NewGWorld(&gw, 32, &empty, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(NewGWorld(&gw, 32, &inverted, nullptr, nullptr, 0), paramErr);
    Rect tooWide = R(0, -1, 1, 32767); // 32768 pixels
    EXPECT_EQ(NewGWorld(&gw, 32, &tooWide, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(gw, nullptr);
    Rect widest = R(0, 0, 1, 32767);
    ASSERT_EQ(NewGWorld(&gw, 32, &widest, nullptr, nullptr, 0), noErr);
    made_.push_back(gw);
    EXPECT_EQ(QDError(), noErr);
}

TEST_F(GWorldTest, OutOfMemoryGivesNilAndMemFullErr) {
    toolbox::testing::FailNextAllocations(1);
    Rect bounds = R(0, 0, 10, 10);
    GWorldPtr gw = reinterpret_cast<GWorldPtr>(1);
    EXPECT_EQ(NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0), memFullErr);
    EXPECT_EQ(gw, nullptr);
    EXPECT_EQ(QDError(), memFullErr);
    ASSERT_EQ(NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0), noErr);
    made_.push_back(gw);
}

TEST_F(GWorldTest, LockStateIsTrackedAndRestored) {
    GWorldPtr gw = Make(4, 4);
    PixMapHandle pm = GetGWorldPixMap(gw);
    EXPECT_FALSE(GetPixelsState(pm) & pixelsLocked);
    const GWorldFlags unlocked = GetPixelsState(pm);
    EXPECT_TRUE(LockPixels(pm));
    EXPECT_TRUE(GetPixelsState(pm) & pixelsLocked);
    SetPixelsState(pm, unlocked);
    EXPECT_FALSE(GetPixelsState(pm) & pixelsLocked);

    LockPixels(pm);
    const GWorldFlags locked = GetPixelsState(pm);
    LockPixels(pm); // a nested lock
    SetPixelsState(pm, locked);
    EXPECT_TRUE(GetPixelsState(pm) & pixelsLocked) << "a locked buffer stays locked";
    UnlockPixels(pm);
    EXPECT_FALSE(GetPixelsState(pm) & pixelsLocked);
}

TEST_F(GWorldTest, CurrentPortAndDeviceAreSavedAndRestored) {
    GWorldPtr a = Make(2, 2), b = Make(2, 2);
    SetGWorld(a, nullptr);
    CGrafPtr port = nullptr;
    GDHandle device = nullptr;
    GetGWorld(&port, &device);
    EXPECT_EQ(port, a);
    EXPECT_EQ(device, GetGWorldDevice(a));
    SetPort(b);
    GrafPtr now = nullptr;
    GetPort(&now);
    EXPECT_EQ(now, b);
    SetGWorld(port, device);
    GetPort(&now);
    EXPECT_EQ(now, a);
    // Colours belong to the port: changing them in b does not touch a.
    RGBColor red{0xFFFF, 0, 0};
    RGBForeColor(&red);
    SetGWorld(b, nullptr);
    RGBColor fore;
    GetForeColor(&fore);
    EXPECT_EQ(fore.red, 0);
    SetGWorld(a, nullptr);
    GetForeColor(&fore);
    EXPECT_EQ(fore.red, 0xFFFF);
}

TEST_F(GWorldTest, DisposingTheCurrentPortLeavesNoDanglingPort) {
    Rect bounds = R(0, 0, 3, 3);
    GWorldPtr gw = nullptr;
    ASSERT_EQ(NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0), noErr);
    SetGWorld(gw, nullptr);
    DisposeGWorld(gw);
    CGrafPtr port = reinterpret_cast<CGrafPtr>(1);
    GetGWorld(&port, nullptr);
    EXPECT_EQ(port, nullptr);
    PaintRect(&bounds); // with no port, drawing does nothing
    DisposeGWorld(nullptr);
}

struct HookLog {
    int calls = 0;
    GWorldPtr world = nullptr;
    Pixel seen{};
};

TEST_F(GWorldTest, DisposeHookIsCalledOnceBeforeTheFree) {
    Rect bounds = R(0, 0, 2, 2);
    GWorldPtr gw = nullptr;
    ASSERT_EQ(NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0), noErr);
    Put(gw, 1, 1, Pixel{1, 2, 3, 4});
    HookLog log;
    QDSetGWorldDisposeHook(
        gw,
        [](GWorldPtr world, void* refCon) {
            auto* l = static_cast<HookLog*>(refCon);
            ++l->calls;
            l->world = world;
            l->seen = Get(world, 1, 1); // the pixels are still there
        },
        &log);
    DisposeGWorld(gw);
    EXPECT_EQ(log.calls, 1);
    EXPECT_EQ(log.world, gw);
    EXPECT_EQ(log.seen, (Pixel{1, 2, 3, 4}));
}

TEST_F(GWorldTest, HookThatDisposesAgainIsHarmless) {
    Rect bounds = R(0, 0, 2, 2);
    GWorldPtr gw = nullptr;
    ASSERT_EQ(NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0), noErr);
    int calls = 0;
    QDSetGWorldDisposeHook(
        gw,
        [](GWorldPtr world, void* refCon) {
            ++*static_cast<int*>(refCon);
            DisposeGWorld(world); // e.g. a host that frees "its" frame from the hook
        },
        &calls);
    DisposeGWorld(gw);
    EXPECT_EQ(calls, 1);
}

// A disposed GWorld is recognised as stale without its freed memory
// being read (the sanitizer build reports any such read).
TEST_F(GWorldTest, DisposedGWorldIsRefused) {
    Rect bounds = R(0, 0, 3, 3);
    GWorldPtr gw = nullptr;
    ASSERT_EQ(NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0), noErr);
    PixMapHandle pm = GetGWorldPixMap(gw);
    ASSERT_NE(GetPixBaseAddr(pm), nullptr);
    DisposeGWorld(gw);
    EXPECT_EQ(GetGWorldPixMap(gw), nullptr);
    EXPECT_EQ(GetPortPixMap(gw), nullptr);
    DisposeGWorld(gw); // a second disposal is answered, not followed
}

TEST_F(GWorldTest, PortRefConIsKept) {
    GWorldPtr gw = Make(1, 1);
    int marker = 0;
    EXPECT_EQ(QDGetPortRefCon(gw), nullptr);
    QDSetPortRefCon(gw, &marker);
    EXPECT_EQ(QDGetPortRefCon(gw), &marker);
}

TEST_F(GWorldTest, GWorldOverCallerMemoryUsesItsRowBytes) {
    constexpr int w = 3, h = 2, rowBytes = 4 * w + 8;
    std::vector<UInt8> memory(rowBytes * h, 0xEE);
    Rect bounds = R(0, 0, h, w);
    GWorldPtr gw = nullptr;
    ASSERT_EQ(NewGWorldFromPtr(&gw, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0,
                               reinterpret_cast<Ptr>(memory.data()), rowBytes),
              noErr);
    EXPECT_EQ(GetPixRowBytes(GetGWorldPixMap(gw)), rowBytes);
    EXPECT_EQ(At(gw, 1, 1), memory.data() + rowBytes + 4);
    DisposeGWorld(gw); // does not free the caller's memory
    EXPECT_EQ(memory[0], 0xEE);
    GWorldPtr bad = nullptr;
    EXPECT_EQ(NewGWorldFromPtr(&bad, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0,
                               reinterpret_cast<Ptr>(memory.data()), 4 * w - 1),
              paramErr);
}

TEST_F(GWorldTest, UpdateGWorldKeepsThePortAndItsPicture) {
    GWorldPtr gw = MakePattern(4, 3);
    GWorldPtr same = gw;
    Rect bigger = R(0, 0, 5, 6);
    EXPECT_EQ(UpdateGWorld(&same, 32, &bigger, nullptr, nullptr, 0), reallocPix);
    EXPECT_EQ(same, gw);
    Rect bounds;
    GetPortBounds(gw, &bounds);
    EXPECT_TRUE(EqualRect(&bounds, &bigger));
    EXPECT_GE(GetPixRowBytes(GetGWorldPixMap(gw)), 4 * 6 + 64);
    ExpectImage(gw, 4, 3, Pattern);
    EXPECT_EQ(Get(gw, 5, 4), (Pixel{0, 0, 0, 0}));
    toolbox::testing::FailNextAllocations(1);
    Rect other = R(0, 0, 9, 9);
    EXPECT_EQ(UpdateGWorld(&same, 32, &other, nullptr, nullptr, 0), gwFlagErr);
    EXPECT_EQ(QDError(), memFullErr);
    GetPortBounds(gw, &bounds);
    EXPECT_TRUE(EqualRect(&bounds, &bigger)) << "a failed update changes nothing";
}

// --- CopyBits ----------------------------------------------------------------------------

using CopyBitsTest = QuickDrawTest;

TEST_F(CopyBitsTest, EqualSizesCopyBytesExactlyAcrossRowBytes) {
    constexpr int w = 13, h = 7;
    GWorldPtr src = MakePattern(w, h);
    // A destination with a different row length and guard bytes after every row.
    constexpr int rowBytes = 4 * w + 12;
    std::vector<UInt8> memory(rowBytes * h, 0xA5);
    Rect bounds = R(0, 0, h, w);
    GWorldPtr dst = nullptr;
    ASSERT_EQ(NewGWorldFromPtr(&dst, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0,
                               reinterpret_cast<Ptr>(memory.data()), rowBytes),
              noErr);
    made_.push_back(dst);
    Copy(src, dst, bounds, bounds);
    EXPECT_EQ(QDError(), noErr);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(Get(dst, x, y), Pattern(x, y)) << x << "," << y;
        for (int i = 4 * w; i < rowBytes; ++i)
            ASSERT_EQ(memory[y * rowBytes + i], 0xA5) << "row padding written, row " << y;
    }
}

TEST_F(CopyBitsTest, CopiesBetweenOffsetRectangles) {
    GWorldPtr src = MakePattern(10, 10), dst = Make(10, 10);
    Copy(src, dst, R(2, 3, 5, 7), R(6, 0, 9, 4));
    ExpectImage(dst, 10, 10, [](int x, int y) {
        return x < 4 && y >= 6 && y < 9 ? Pattern(x + 3, y - 4) : Pixel{0, 0, 0, 0};
    });
}

TEST_F(CopyBitsTest, ScalesUpByNearestNeighbour) {
    GWorldPtr src = MakePattern(3, 2), dst = Make(6, 4);
    Copy(src, dst, R(0, 0, 2, 3), R(0, 0, 4, 6));
    ExpectImage(dst, 6, 4, [](int x, int y) { return Pattern(x / 2, y / 2); });
}

TEST_F(CopyBitsTest, ScalesDownSamplingPixelCentres) {
    GWorldPtr src = MakePattern(8, 4), dst = Make(4, 2);
    Copy(src, dst, R(0, 0, 4, 8), R(0, 0, 2, 4));
    // Destination pixel i covers source pixels 2i and 2i+1; its centre falls on 2i+1.
    ExpectImage(dst, 4, 2, [](int x, int y) { return Pattern(2 * x + 1, 2 * y + 1); });
}

TEST_F(CopyBitsTest, ClipsToBothBitmapsAtTheEdges) {
    GWorldPtr src = MakePattern(6, 6), dst = Make(6, 6);
    // Destination hangs over the top-left edge, source over the bottom-right one.
    Copy(src, dst, R(3, 3, 9, 9), R(-2, -2, 4, 4));
    // dest (0,0) <- src (5,5); beyond is no source
    ExpectImage(dst, 6, 6, [](int x, int y) {
        return x < 1 && y < 1 ? Pattern(5, 5) : Pixel{0, 0, 0, 0};
    });
    // Scaled, with the destination partly outside: the visible part keeps the full mapping.
    GWorldPtr big = Make(4, 4);
    Copy(src, big, R(0, 0, 6, 6), R(-6, -6, 6, 6)); // 6x6 -> 12x12, only a quarter visible
    ExpectImage(big, 4, 4, [](int x, int y) { return Pattern((x + 6) / 2, (y + 6) / 2); });
}

TEST_F(CopyBitsTest, HonoursTheClipOfTheCurrentDestinationPort) {
    GWorldPtr src = MakePattern(5, 5), dst = Make(5, 5);
    Use(dst);
    Rect clip = R(1, 1, 3, 4);
    ClipRect(&clip);
    Rect all = R(0, 0, 5, 5);
    Copy(src, dst, all, all);
    ExpectImage(dst, 5, 5, [&clip](int x, int y) {
        return PtInRect(Point{SInt16(y), SInt16(x)}, &clip) ? Pattern(x, y) : Pixel{0, 0, 0, 0};
    });
    // A destination that is not the current port is not clipped by it.
    GWorldPtr other = Make(5, 5);
    Copy(src, other, all, all);
    EXPECT_EQ(Get(other, 0, 0), Pattern(0, 0));
}

TEST_F(CopyBitsTest, OverlappingCopyWithinOneBufferReadsTheSourceFirst) {
    GWorldPtr gw = MakePattern(8, 8);
    Copy(gw, gw, R(0, 0, 6, 6), R(2, 1, 8, 7));
    ExpectImage(gw, 8, 8, [](int x, int y) {
        return x >= 1 && x < 7 && y >= 2 ? Pattern(x - 1, y - 2) : Pattern(x, y);
    });
    GWorldPtr scaled = MakePattern(8, 8);
    Copy(scaled, scaled, R(0, 0, 4, 4), R(0, 0, 8, 8));
    ExpectImage(scaled, 8, 8, [](int x, int y) { return Pattern(x / 2, y / 2); });
}

TEST_F(CopyBitsTest, UnsupportedModeDrawsNothingAndSaysSo) {
    GWorldPtr src = MakePattern(2, 2), dst = Make(2, 2);
    Rect all = R(0, 0, 2, 2);
    Copy(src, dst, all, all, srcXor);
    EXPECT_EQ(QDError(), paramErr);
    EXPECT_EQ(Get(dst, 0, 0), (Pixel{0, 0, 0, 0}));
    CopyBits(nullptr, GetPortBitMapForCopyBits(dst), &all, &all, srcCopy, nullptr);
    EXPECT_EQ(QDError(), paramErr);
}

TEST_F(CopyBitsTest, ColoursDoNotTintTheCopy) {
    GWorldPtr src = MakePattern(3, 3), dst = Make(3, 3);
    Use(dst);
    RGBColor green{0, 0xFFFF, 0}, blue{0, 0, 0xFFFF};
    RGBForeColor(&green);
    RGBBackColor(&blue);
    Rect all = R(0, 0, 3, 3);
    Copy(src, dst, all, all);
    EXPECT_EQ(Get(dst, 2, 1), Pattern(2, 1));
}

// --- Drawing -----------------------------------------------------------------------------

using DrawingTest = QuickDrawTest;

const Pixel kNone{0, 0, 0, 0};

// Every pixel of a w x h world, by whether `inside(x, y)` holds.
template <typename F> void ExpectPixels(GWorldPtr gw, int w, int h, Pixel in, Pixel out, F f) {
    ExpectImage(gw, w, h, [&](int x, int y) { return f(x, y) ? in : out; });
}

TEST_F(DrawingTest, PaintRectFillsExactlyTheRectInTheForeColour) {
    GWorldPtr gw = Make(8, 6);
    Use(gw);
    RGBColor c{0x1234, 0xABCD, 0xFF00};
    RGBForeColor(&c);
    Rect r = R(1, 2, 4, 7);
    PaintRect(&r);
    ExpectPixels(gw, 8, 6, Pixel{255, 0x12, 0xAB, 0xFF}, kNone,
                 [](int x, int y) { return x >= 2 && x < 7 && y >= 1 && y < 4; });
}

TEST_F(DrawingTest, FrameRectDrawsThePenWidthInside) {
    GWorldPtr gw = Make(10, 10);
    Use(gw);
    Rect r = R(1, 1, 9, 8);
    FrameRect(&r);
    ExpectPixels(gw, 10, 10, Pixel{255, 0, 0, 0}, kNone, [](int x, int y) {
        const bool in = x >= 1 && x < 8 && y >= 1 && y < 9;
        return in && (x == 1 || x == 7 || y == 1 || y == 8);
    });
    GWorldPtr thick = Make(10, 10);
    Use(thick);
    PenSize(2, 3);
    FrameRect(&r);
    ExpectPixels(thick, 10, 10, Pixel{255, 0, 0, 0}, kNone, [](int x, int y) {
        const bool in = x >= 1 && x < 8 && y >= 1 && y < 9;
        return in && (x < 3 || x >= 6 || y < 4 || y >= 6);
    });
}

TEST_F(DrawingTest, EraseRectUsesTheBackColour) {
    GWorldPtr gw = Make(4, 4);
    Use(gw);
    Rect r = R(0, 0, 2, 4);
    EraseRect(&r);
    ExpectPixels(gw, 4, 4, Pixel{255, 255, 255, 255}, kNone, [](int, int y) { return y < 2; });
}

TEST_F(DrawingTest, InvertRectComplementsColoursAndMakesThemOpaque) {
    GWorldPtr gw = MakePattern(4, 4);
    Use(gw);
    Rect r = R(1, 1, 3, 3);
    InvertRect(&r);
    ExpectImage(gw, 4, 4, [](int x, int y) {
        const Pixel p = Pattern(x, y);
        return x >= 1 && x < 3 && y >= 1 && y < 3
                   ? Pixel{255, UInt8(~p[1]), UInt8(~p[2]), UInt8(~p[3])}
                   : p;
    });
}

TEST_F(DrawingTest, PenModesActOnASolidPen) {
    GWorldPtr gw = MakePattern(6, 1);
    Use(gw);
    RGBColor red{0xFFFF, 0, 0}, blue{0, 0, 0xFFFF};
    RGBForeColor(&red);
    RGBBackColor(&blue);
    const SInt16 modes[6] = {patCopy, srcOr, patXor, patBic, notPatCopy, notPatOr};
    for (int i = 0; i < 6; ++i) {
        PenMode(modes[i]);
        Rect r = R(0, i, 1, i + 1);
        PaintRect(&r);
    }
    const Pixel p2 = Pattern(2, 0);
    EXPECT_EQ(Get(gw, 0, 0), (Pixel{255, 255, 0, 0}));
    EXPECT_EQ(Get(gw, 1, 0), (Pixel{255, 255, 0, 0}));
    EXPECT_EQ(Get(gw, 2, 0), (Pixel{255, UInt8(~p2[1]), UInt8(~p2[2]), UInt8(~p2[3])}));
    EXPECT_EQ(Get(gw, 3, 0), (Pixel{255, 0, 0, 255}));
    EXPECT_EQ(Get(gw, 4, 0), (Pixel{255, 0, 0, 255}));
    EXPECT_EQ(Get(gw, 5, 0), Pattern(5, 0));
}

TEST_F(DrawingTest, XorFrameInvertsEachPixelOnce) {
    GWorldPtr gw = Make(6, 6);
    Use(gw);
    PenMode(patXor);
    PenSize(2, 2);
    Rect r = R(0, 0, 6, 6);
    FrameRect(&r);
    FrameRect(&r); // twice: back to the colours (alpha becomes opaque)
    ExpectPixels(gw, 6, 6, Pixel{255, 0, 0, 0}, kNone,
                 [](int x, int y) { return x < 2 || x >= 4 || y < 2 || y >= 4; });
}

TEST_F(DrawingTest, OvalsAreSymmetricAndInsideTheirRect) {
    GWorldPtr gw = Make(12, 12);
    Use(gw);
    Rect r = R(0, 0, 12, 12);
    FrameOval(&r);
    const Pixel black{255, 0, 0, 0};
    int drawn = 0;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x) {
            const Pixel p = Get(gw, x, y);
            drawn += p == black;
            ASSERT_EQ(p, Get(gw, 11 - x, y)) << "mirror in x at " << x << "," << y;
            ASSERT_EQ(p, Get(gw, x, 11 - y)) << "mirror in y at " << x << "," << y;
            ASSERT_EQ(p, Get(gw, y, x)) << "mirror on the diagonal at " << x << "," << y;
        }
    EXPECT_EQ(Get(gw, 0, 0), kNone) << "corners lie outside the oval";
    EXPECT_EQ(Get(gw, 6, 6), kNone) << "a frame leaves the inside";
    EXPECT_EQ(Get(gw, 0, 6), black);
    EXPECT_EQ(Get(gw, 6, 0), black);
    EXPECT_GT(drawn, 24);
    EXPECT_LT(drawn, 60);

    GWorldPtr solid = Make(12, 12);
    Use(solid);
    PaintOval(&r);
    EXPECT_EQ(Get(solid, 6, 6), black);
    EXPECT_EQ(Get(solid, 11, 11), kNone);
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 12; ++x) {
            if (Get(gw, x, y) == black) {
                ASSERT_EQ(Get(solid, x, y), black) << "the frame lies within the painted oval";
            }
        }
    }
}

TEST_F(DrawingTest, LinesIncludeBothEndsAndMoveThePen) {
    GWorldPtr gw = Make(8, 8);
    Use(gw);
    MoveTo(1, 2);
    LineTo(5, 2);
    LineTo(5, 6);
    Point pen;
    GetPen(&pen);
    EXPECT_EQ(pen.h, 5);
    EXPECT_EQ(pen.v, 6);
    ExpectPixels(gw, 8, 8, Pixel{255, 0, 0, 0}, kNone, [](int x, int y) {
        return (y == 2 && x >= 1 && x <= 5) || (x == 5 && y >= 2 && y <= 6);
    });
    GWorldPtr diag = Make(5, 5);
    Use(diag);
    MoveTo(0, 0);
    LineTo(4, 4);
    ExpectPixels(diag, 5, 5, Pixel{255, 0, 0, 0}, kNone, [](int x, int y) { return x == y; });
}

TEST_F(DrawingTest, ClipRectAndBoundsLimitDrawing) {
    GWorldPtr gw = Make(6, 6);
    Use(gw);
    Rect clip = R(2, 2, 4, 5);
    ClipRect(&clip);
    Rect huge = R(-100, -100, 100, 100);
    PaintRect(&huge);
    Rect got;
    QDGetPortClipRect(gw, &got);
    EXPECT_TRUE(EqualRect(&got, &clip));
    ExpectPixels(gw, 6, 6, Pixel{255, 0, 0, 0}, kNone,
                 [](int x, int y) { return x >= 2 && x < 5 && y >= 2 && y < 4; });
}

TEST_F(DrawingTest, DrawingUsesLocalCoordinatesOfTheBounds) {
    Rect bounds = R(10, 20, 14, 24);
    GWorldPtr gw = nullptr;
    ASSERT_EQ(NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0), noErr);
    made_.push_back(gw);
    Use(gw);
    Rect r = R(11, 21, 12, 22);
    PaintRect(&r);
    EXPECT_EQ(Get(gw, 21, 11), (Pixel{255, 0, 0, 0}));
    EXPECT_EQ(Get(gw, 20, 10), kNone);
}

// --- Rectangle arithmetic ----------------------------------------------------------------

TEST(RectTest, ArithmeticFollowsTheHalfOpenModel) {
    Rect r;
    SetRect(&r, 20, 10, 60, 30); // left, top, right, bottom
    EXPECT_EQ(r.top, 10);
    EXPECT_EQ(r.left, 20);
    EXPECT_EQ(r.bottom, 30);
    EXPECT_EQ(r.right, 60);
    EXPECT_TRUE(PtInRect(Point{10, 20}, &r));
    EXPECT_FALSE(PtInRect(Point{30, 20}, &r)) << "bottom is exclusive";
    EXPECT_FALSE(PtInRect(Point{10, 60}, &r)) << "right is exclusive";
    OffsetRect(&r, -20, -10);
    const Rect moved{0, 0, 20, 40};
    EXPECT_TRUE(EqualRect(&r, &moved));
    Rect in = r;
    InsetRect(&in, 5, 2);
    EXPECT_EQ(in.left, 5);
    EXPECT_EQ(in.right, 35);
    EXPECT_EQ(in.top, 2);
    EXPECT_EQ(in.bottom, 18);
    InsetRect(&in, 20, 0);
    EXPECT_TRUE(EmptyRect(&in));
    EXPECT_EQ(in.left, 0);
    EXPECT_EQ(in.right, 0);
}

TEST(RectTest, SectUnionAndPt2Rect) {
    Rect a{0, 0, 10, 10}, b{5, 5, 20, 15}, out;
    EXPECT_TRUE(SectRect(&a, &b, &out));
    EXPECT_EQ(out.top, 5);
    EXPECT_EQ(out.left, 5);
    EXPECT_EQ(out.bottom, 10);
    EXPECT_EQ(out.right, 10);
    Rect far{50, 50, 60, 60};
    EXPECT_FALSE(SectRect(&a, &far, &out));
    EXPECT_TRUE(EmptyRect(&out));
    Rect touching{10, 0, 20, 10};
    EXPECT_FALSE(SectRect(&a, &touching, &out)) << "sharing an edge is no intersection";
    UnionRect(&a, &b, &out);
    EXPECT_EQ(out.top, 0);
    EXPECT_EQ(out.left, 0);
    EXPECT_EQ(out.bottom, 20);
    EXPECT_EQ(out.right, 15);
    Pt2Rect(Point{30, 40}, Point{10, 5}, &out);
    EXPECT_EQ(out.top, 10);
    EXPECT_EQ(out.left, 5);
    EXPECT_EQ(out.bottom, 30);
    EXPECT_EQ(out.right, 40);
    Point p;
    SetPt(&p, 3, 4);
    EXPECT_EQ(p.h, 3);
    EXPECT_EQ(p.v, 4);
    EXPECT_TRUE(EqualPt(p, Point{4, 3}));
}

} // namespace
