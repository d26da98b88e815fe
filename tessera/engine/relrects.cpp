// relrects.cpp - relative rectangles and points (see relrects.h).
#include "relrects.h"

#include "commonprocs.h"

#include <cmath>

namespace {

// origin + T(extent x fraction), kept in range. A NaN product (a damaged fraction) adds
// nothing.
SInt16 RelToPixel(SInt16 origin, double extent, double fraction) {
    double offset = extent * fraction;
    if (std::isnan(offset)) {
        offset = 0;
    }
    return SaturateToSInt16(double(origin) + std::trunc(offset));
}

// (coordinate - origin) / extent. An empty frame has no inside: everything is at its
// origin rather than at an infinite or undefined fraction.
double PixelToRel(SInt16 coordinate, SInt16 origin, double extent) {
    if (extent == 0) {
        return 0;
    }
    return (double(coordinate) - double(origin)) / extent;
}

} // namespace

void InitRelRect(relRect& theRel) {
    theRel = relRect{0.0, 1.0, 0.0, 1.0};
}

Rect Rel2Rect(const relRect& theRel, const Rect& theFrame) {
    const double wid = double(theFrame.right) - theFrame.left;
    const double hig = double(theFrame.bottom) - theFrame.top;
    Rect r;
    r.left = RelToPixel(theFrame.left, wid, theRel.left);
    r.right = RelToPixel(theFrame.left, wid, theRel.right);
    r.top = RelToPixel(theFrame.top, hig, theRel.top);
    r.bottom = RelToPixel(theFrame.top, hig, theRel.bottom);
    return r;
}

relRect Rect2Rel(const Rect& theRect, const Rect& theFrame) {
    const double wid = double(theFrame.right) - theFrame.left;
    const double hig = double(theFrame.bottom) - theFrame.top;
    relRect r;
    r.left = PixelToRel(theRect.left, theFrame.left, wid);
    r.right = PixelToRel(theRect.right, theFrame.left, wid);
    r.top = PixelToRel(theRect.top, theFrame.top, hig);
    r.bottom = PixelToRel(theRect.bottom, theFrame.top, hig);
    return r;
}

relRect SetRelRect(double left, double top, double right, double bottom) {
    relRect r;
    r.left = left;
    r.right = right;
    r.top = top;
    r.bottom = bottom;
    return r;
}

Point Rel2Point(const relPoint& theRel, const Rect& theFrame) {
    const double wid = double(theFrame.right) - theFrame.left;
    const double hig = double(theFrame.bottom) - theFrame.top;
    Point p;
    p.h = RelToPixel(theFrame.left, wid, theRel.horiz);
    p.v = RelToPixel(theFrame.top, hig, theRel.vert);
    return p;
}

relPoint Point2Rel(Point thePoint, const Rect& theFrame) {
    const double wid = double(theFrame.right) - theFrame.left;
    const double hig = double(theFrame.bottom) - theFrame.top;
    relPoint r;
    r.horiz = PixelToRel(thePoint.h, theFrame.left, wid);
    r.vert = PixelToRel(thePoint.v, theFrame.top, hig);
    return r;
}

relRect InterpolateRel(const relRect& from, const relRect& to, double t) {
    relRect r;
    r.left = from.left + (to.left - from.left) * t;
    r.right = from.right + (to.right - from.right) * t;
    r.top = from.top + (to.top - from.top) * t;
    r.bottom = from.bottom + (to.bottom - from.bottom) * t;
    return r;
}
