// relrects.h - positions relative to a frame and their conversion to pixels.
//
// Owns: the relative rectangle and point (0 = the frame's left or top edge, 1 = its right
// or bottom edge) and their conversion to and from the platform's pixel rectangles and
// points. Promises: fractions become pixels by truncation toward zero; a result that
// would leave the 16-bit coordinate range (a damaged or extreme region) stops at the
// range's limit, and NaN counts as 0, so any stored value gives a usable rectangle.
// Results are not clipped to the frame.
#pragma once

#include "MacTypes.h"
#include "PluginDefines.h"

void InitRelRect(relRect& theRel);
Rect Rel2Rect(const relRect& theRel, const Rect& theFrame);
relRect Rect2Rel(const Rect& theRect, const Rect& theFrame);
relRect SetRelRect(double left, double top, double right, double bottom);
// The rectangle the fraction t of the way from `from` to `to`: from + (to - from) x t for
// each coordinate, in 64-bit floating point. t = 0 gives `from` exactly; t = 1 gives `to`
// up to the rounding of the difference (a coordinate may come out one unit in the last place
// below it, and a pixel edge that Rel2Rect cuts from it one pixel short).
relRect InterpolateRel(const relRect& from, const relRect& to, double t);
Point Rel2Point(const relPoint& theRel, const Rect& theFrame);
relPoint Point2Rel(Point thePoint, const Rect& theFrame);
