// rectprocs.h - integer rectangle geometry shared by the renderer, the image helpers and
// the dialog.
//
// Owns: measuring, clipping, centring and proportional fitting of the platform's 16-bit
// rectangles. Promises: no routine normalises an inverted rectangle; proportional fitting
// rounds as trunc(value + 0.5) and, where a result would leave the 16-bit range, stops at
// its limit instead of wrapping.
#pragma once

#include "CoreGraphics.h"
#include "MacTypes.h"

void GetDims(const Rect& theRect, SInt32& wid, SInt32& hig);
void ClipRectToFrame(Rect& theRect, const Rect& theFrame);
void CenterRectInRect(Rect& theRect, const Rect& theBounds);

Rect KeepPropsWithFixedHorizontal(const Rect& inOriginal, const Rect& inNewSize);
Rect KeepPropsWithFixedVertical(const Rect& inOriginal, const Rect& inNewSize);
Rect CalcProportionalRectForFrame(const Rect& inRect, const Rect& inFrame);
Rect CalcProportionalImageForFrame(CGImageRef theImage, const Rect& theFrame);
