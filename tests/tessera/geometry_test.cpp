// Rectangle geometry and relative rectangles: measuring, clipping, centring,
// proportional fitting, and the conversions between relative and pixel coordinates,
// including values that only a damaged preferences file would hold.
#include "rectprocs.h"
#include "relrects.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

void ExpectRect(const Rect& r, int top, int left, int bottom, int right) {
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.bottom, bottom);
    EXPECT_EQ(r.right, right);
}

constexpr Rect kNTSC{0, 0, 480, 720};

TEST(RectGeometry, GetDimsMeasuresWidthAndHeight) {
    SInt32 wid = 0, hig = 0;
    GetDims(Rect{10, 20, 30, 60}, wid, hig);
    EXPECT_EQ(wid, 40);
    EXPECT_EQ(hig, 20);
    GetDims(Rect{-32768, -32768, 32767, 32767}, wid, hig); // wider than 16 bits can hold
    EXPECT_EQ(wid, 65535);
    EXPECT_EQ(hig, 65535);
}

TEST(RectGeometry, ClipRectToFrameMovesEachEdgeIntoTheFrame) {
    Rect r{-10, -5, 50, 900};
    ClipRectToFrame(r, kNTSC);
    ExpectRect(r, 0, 0, 50, 720);

    Rect outside{600, 800, 700, 900};
    ClipRectToFrame(outside, kNTSC);
    ExpectRect(outside, 480, 720, 480, 720); // empty, on the nearest corner

    Rect inverted{100, 300, 50, 200}; // not normalised
    ClipRectToFrame(inverted, kNTSC);
    ExpectRect(inverted, 100, 300, 50, 200);
}

TEST(RectGeometry, CenterRectInRectUsesIntegerCentres) {
    Rect r{0, 0, 10, 31};
    CenterRectInRect(r, Rect{0, 0, 10, 101});
    EXPECT_EQ(r.left, 35);
    EXPECT_EQ(r.right, 66);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.bottom, 10);
}

TEST(RectGeometry, ProportionalFittingFollowsOrientationOnly) {
    const Rect picture{0, 0, 900, 1000}; // 1000 x 900
    ExpectRect(CalcProportionalRectForFrame(picture, Rect{0, 0, 480, 720}), 0, 0, 648, 720);
    ExpectRect(CalcProportionalRectForFrame(picture, Rect{0, 0, 720, 480}), 0, 0, 432, 480);

    const Rect square{0, 0, 400, 400};
    ExpectRect(CalcProportionalRectForFrame(square, Rect{0, 0, 480, 720}), 0, 0, 480, 480);
    ExpectRect(CalcProportionalRectForFrame(square, Rect{0, 0, 480, 480}), 0, 0, 480, 480);

    const Rect upright{0, 0, 1000, 500}; // 500 x 1000 in a wide frame: the height rules
    ExpectRect(CalcProportionalRectForFrame(upright, Rect{0, 0, 480, 720}), 0, 0, 480, 240);
}

TEST(RectGeometry, KeepPropsRoundsHalfUpAndKeepsTheFixedEdges) {
    // 3 x 2 original, new width 100: height 66.67 rounds to 67.
    ExpectRect(KeepPropsWithFixedHorizontal(Rect{0, 0, 2, 3}, Rect{5, 7, 20, 107}), 5, 7, 72, 107);
    // New height 50: width 75.
    ExpectRect(KeepPropsWithFixedVertical(Rect{0, 0, 2, 3}, Rect{5, 7, 55, 8}), 5, 7, 55, 82);
}

TEST(RectGeometry, KeepPropsWithDegenerateOriginals) {
    const Rect newSize{0, 0, 50, 80};
    // Zero width: horizontal fitting gives the new size back; vertical gives zero width.
    ExpectRect(KeepPropsWithFixedHorizontal(Rect{0, 0, 10, 0}, newSize), 0, 0, 50, 80);
    ExpectRect(KeepPropsWithFixedVertical(Rect{0, 0, 10, 0}, newSize), 0, 0, 50, 0);
    // Zero height: vertical fitting gives the new size back; horizontal a flat rectangle.
    ExpectRect(KeepPropsWithFixedVertical(Rect{0, 0, 0, 10}, newSize), 0, 0, 50, 80);
    ExpectRect(KeepPropsWithFixedHorizontal(Rect{0, 0, 0, 10}, newSize), 0, 0, 0, 80);
}

TEST(RectGeometry, ProportionalResultsStopAtTheCoordinateLimit) {
    // A 1 x 1000 sliver fitted to a 30000-pixel-wide frame would be 30,000,000 high.
    const Rect r = KeepPropsWithFixedHorizontal(Rect{0, 0, 1000, 1}, Rect{0, 0, 10, 30000});
    EXPECT_EQ(r.bottom, 32767);
}

TEST(RelativeRects, WholeFrameRoundTrips) {
    relRect whole;
    InitRelRect(whole);
    EXPECT_EQ(whole.left, 0.0);
    EXPECT_EQ(whole.right, 1.0);
    EXPECT_EQ(whole.top, 0.0);
    EXPECT_EQ(whole.bottom, 1.0);
    ExpectRect(Rel2Rect(whole, kNTSC), 0, 0, 480, 720);

    const relRect back = Rect2Rel(kNTSC, kNTSC);
    EXPECT_EQ(back.left, 0.0);
    EXPECT_EQ(back.right, 1.0);
    EXPECT_EQ(back.top, 0.0);
    EXPECT_EQ(back.bottom, 1.0);
}

TEST(RelativeRects, Rel2RectCutsTowardZero) {
    relRect r = SetRelRect(0.5, 0, 1, 1);
    EXPECT_EQ(Rel2Rect(r, Rect{0, 0, 480, 721}).left, 360); // 360.5 cut

    r = SetRelRect(-0.01, 0, 1, 1);
    EXPECT_EQ(Rel2Rect(r, kNTSC).left, -7); // -7.2 cut toward zero, not -8

    r = SetRelRect(0.25, 0, 1, 1);
    EXPECT_EQ(Rel2Rect(r, Rect{0, 20, 480, 740}).left, 200);
}

TEST(RelativeRects, SetRelRectTakesLeftTopRightBottom) {
    const relRect r = SetRelRect(0.1, 0.2, 0.3, 0.4);
    EXPECT_EQ(r.left, 0.1);
    EXPECT_EQ(r.top, 0.2);
    EXPECT_EQ(r.right, 0.3);
    EXPECT_EQ(r.bottom, 0.4);
}

TEST(RelativeRects, Rect2RelMeasuresFromTheFrameOrigin) {
    const relRect r = Rect2Rel(Rect{120, 180, 360, 540}, kNTSC);
    EXPECT_DOUBLE_EQ(r.left, 0.25);
    EXPECT_DOUBLE_EQ(r.right, 0.75);
    EXPECT_DOUBLE_EQ(r.top, 0.25);
    EXPECT_DOUBLE_EQ(r.bottom, 0.75);

    const relRect inverted = Rect2Rel(Rect{0, 540, 10, 180}, kNTSC);
    EXPECT_GT(inverted.left, inverted.right); // no normalisation

    const relRect offset = Rect2Rel(Rect{20, 30, 40, 50}, Rect{10, 10, 110, 210});
    EXPECT_DOUBLE_EQ(offset.left, 0.1);
    EXPECT_DOUBLE_EQ(offset.top, 0.1);
}

TEST(RelativeRects, ConvertingBackAndForthMayComeBackOneLess) {
    // The quotient can lie just below the exact fraction; a cut then loses a pixel. The
    // conversion must never come back more than one off, nor above the original.
    int lower = 0;
    for (SInt16 x = 0; x <= 720; ++x) {
        const relRect r = Rect2Rel(Rect{0, x, 480, 720}, kNTSC);
        const SInt16 back = Rel2Rect(r, kNTSC).left;
        EXPECT_TRUE(back == x || back == x - 1) << x;
        lower += back != x;
    }
    EXPECT_GT(lower, 0);
}

TEST(RelativeRects, PointsConvertLikeRectangleEdges) {
    const Point p = Rel2Point(relPoint{0.5, 0.25}, Rect{10, 20, 110, 220});
    EXPECT_EQ(p.h, 120);
    EXPECT_EQ(p.v, 35);
    const relPoint back = Point2Rel(Point{35, 120}, Rect{10, 20, 110, 220});
    EXPECT_DOUBLE_EQ(back.horiz, 0.5);
    EXPECT_DOUBLE_EQ(back.vert, 0.25);
}

TEST(RelativeRects, DamagedValuesSaturateInsteadOfWrapping) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    relRect r = SetRelRect(-inf, nan, 1e300, inf);
    Rect px = Rel2Rect(r, Rect{0, 10, 480, 730});
    EXPECT_EQ(px.left, -32768);
    EXPECT_EQ(px.top, 0); // NaN adds nothing to the frame's top
    EXPECT_EQ(px.right, 32767);
    EXPECT_EQ(px.bottom, 32767);

    r = SetRelRect(45.6, -45.6, 46.0, 0);
    px = Rel2Rect(r, kNTSC); // 32832 and -21888: the first would wrap in 16 bits
    EXPECT_EQ(px.left, 32767);
    EXPECT_EQ(px.top, -21888);

    const Point p = Rel2Point(relPoint{nan, -inf}, kNTSC);
    EXPECT_EQ(p.h, 0);
    EXPECT_EQ(p.v, -32768);
}

TEST(RelativeRects, EmptyFramesGiveTheOriginInsteadOfDividingByZero) {
    const relRect r = Rect2Rel(Rect{5, 5, 10, 10}, Rect{0, 0, 0, 0});
    EXPECT_EQ(r.left, 0.0);
    EXPECT_EQ(r.bottom, 0.0);
    const relPoint p = Point2Rel(Point{5, 5}, Rect{0, 0, 0, 100});
    EXPECT_EQ(p.vert, 0.0);
    EXPECT_DOUBLE_EQ(p.horiz, 0.05);
}

} // namespace
