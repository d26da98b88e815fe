// rectprocs.cpp - integer rectangle geometry (see rectprocs.h).
#include "rectprocs.h"

#include "commonprocs.h"

#include <cmath>

void GetDims(const Rect& theRect, SInt32& wid, SInt32& hig) {
    wid = SInt32(theRect.right) - SInt32(theRect.left);
    hig = SInt32(theRect.bottom) - SInt32(theRect.top);
}

void ClipRectToFrame(Rect& theRect, const Rect& theFrame) {
    auto clamp = [](SInt16& edge, SInt16 low, SInt16 high) {
        if (edge < low) {
            edge = low;
        }
        if (edge > high) {
            edge = high;
        }
    };
    clamp(theRect.left, theFrame.left, theFrame.right);
    clamp(theRect.right, theFrame.left, theFrame.right);
    clamp(theRect.top, theFrame.top, theFrame.bottom);
    clamp(theRect.bottom, theFrame.top, theFrame.bottom);
}

void CenterRectInRect(Rect& theRect, const Rect& theBounds) {
    SInt32 rw, rh, bw, bh;
    GetDims(theRect, rw, rh);
    GetDims(theBounds, bw, bh);
    const SInt64 dh = (SInt64(theBounds.left) + bw / 2) - (SInt64(theRect.left) + rw / 2);
    const SInt64 dv = (SInt64(theBounds.top) + bh / 2) - (SInt64(theRect.top) + rh / 2);
    theRect.left = SaturateToSInt16(theRect.left + dh);
    theRect.right = SaturateToSInt16(theRect.right + dh);
    theRect.top = SaturateToSInt16(theRect.top + dv);
    theRect.bottom = SaturateToSInt16(theRect.bottom + dv);
}

Rect KeepPropsWithFixedHorizontal(const Rect& inOriginal, const Rect& inNewSize) {
    const double deltaX = double(inOriginal.right) - inOriginal.left;
    const double deltaY = double(inOriginal.bottom) - inOriginal.top;
    const double newX = double(inNewSize.right) - inNewSize.left;
    if (deltaX == 0) {
        return inNewSize;
    }
    Rect result = inNewSize;
    if (deltaY == 0) {
        // A flat original has no height to keep in proportion: the result is flat too.
        result.bottom = result.top;
        return result;
    }
    const double prop = deltaX / deltaY;
    const double newY = newX / prop;
    result.bottom = SaturateToSInt16(double(inNewSize.top) + std::trunc(newY + 0.5));
    return result;
}

Rect KeepPropsWithFixedVertical(const Rect& inOriginal, const Rect& inNewSize) {
    const double deltaX = double(inOriginal.right) - inOriginal.left;
    const double deltaY = double(inOriginal.bottom) - inOriginal.top;
    const double newY = double(inNewSize.bottom) - inNewSize.top;
    if (deltaY == 0) {
        return inNewSize;
    }
    const double prop = deltaX / deltaY;
    const double newX = prop * newY;
    Rect result = inNewSize;
    result.right = SaturateToSInt16(double(inNewSize.left) + std::trunc(newX + 0.5));
    return result;
}

Rect CalcProportionalRectForFrame(const Rect& inRect, const Rect& inFrame) {
    SInt32 iWid, iHig, wid, hig;
    GetDims(inRect, iWid, iHig);
    const Rect imageBounds{0, 0, SaturateToSInt16(SInt64(iHig)), SaturateToSInt16(SInt64(iWid))};
    GetDims(inFrame, wid, hig);
    const Rect theNewBounds{0, 0, SaturateToSInt16(SInt64(hig)), SaturateToSInt16(SInt64(wid))};
    if (wid > hig) {
        return iWid > iHig ? KeepPropsWithFixedHorizontal(imageBounds, theNewBounds)
                           : KeepPropsWithFixedVertical(imageBounds, theNewBounds);
    }
    return iHig > iWid ? KeepPropsWithFixedVertical(imageBounds, theNewBounds)
                       : KeepPropsWithFixedHorizontal(imageBounds, theNewBounds);
}

Rect CalcProportionalImageForFrame(CGImageRef theImage, const Rect& theFrame) {
    const SInt64 w = SInt64(CGImageGetWidth(theImage));
    const SInt64 h = SInt64(CGImageGetHeight(theImage));
    const Rect imageRect{0, 0, SaturateToSInt16(h), SaturateToSInt16(w)};
    return CalcProportionalRectForFrame(imageRect, theFrame);
}
