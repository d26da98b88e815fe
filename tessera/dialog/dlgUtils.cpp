// dlgUtils.cpp - region geometry and preview drawing; see dlgUtils.h.
#include "dlgUtils.h"

#include "DataHandling.h"
#include "Globals.h"
#include "carbonmacros.h"
#include "commonprocs.h"
#include "gworldprocs.h"
#include "rectprocs.h"
#include "relrects.h"

namespace {

Rect HandleSquare(SInt16 h, SInt16 v) {
    Rect r;
    SetRect(&r, SInt16(h - cHandleSize), SInt16(v - cHandleSize), SInt16(h + cHandleSize),
            SInt16(v + cHandleSize));
    return r;
}

Point MakePoint(SInt32 h, SInt32 v) {
    Point p;
    p.h = SaturateToSInt16(SInt64(h));
    p.v = SaturateToSInt16(SInt64(v));
    return p;
}

// Half way to middle grey: still the colour's hue, plainly weaker than the colour itself.
RGBColor DimmedColor(const RGBColor& c) {
    return RGBColor{UInt16((UInt32(c.red) + 32768u) / 2u), UInt16((UInt32(c.green) + 32768u) / 2u),
                    UInt16((UInt32(c.blue) + 32768u) / 2u)};
}

// The region's outline in its colour, inside a one-pixel edge in black or white, whichever
// differs more from that colour: on a picture of that very colour the edge still shows the
// region. Dimmed, both are taken half way to grey.
void FrameOutline(const Rect& region, const RGBColor& colour, bool dimmed) {
    static const RGBColor black{0, 0, 0};
    static const RGBColor white{65535, 65535, 65535};
    const UInt32 luma = (299u * colour.red + 587u * colour.green + 114u * colour.blue) / 1000u;
    const RGBColor& contrast = luma > 32767u ? black : white;
    const RGBColor edgeColour = dimmed ? DimmedColor(contrast) : contrast;
    const RGBColor outline = dimmed ? DimmedColor(colour) : colour;
    Rect edge = region;
    InsetRect(&edge, -1, -1);
    RGBForeColor(&edgeColour);
    FrameRect(&edge);
    RGBForeColor(&outline);
    FrameRect(&region);
}

} // namespace

SInt16 IsHandleHit(const Rect& theRect, Point theLoc) {
    const Rect corners[4] = {
        HandleSquare(theRect.left, theRect.top), HandleSquare(theRect.right, theRect.top),
        HandleSquare(theRect.left, theRect.bottom), HandleSquare(theRect.right, theRect.bottom)};
    for (SInt16 i = 0; i < 4; ++i) {
        if (PtInRect(theLoc, &corners[i])) {
            return SInt16(i + 1);
        }
    }
    return PtInRect(theLoc, &theRect) ? kClipInside : kClipNoPart;
}

void DragRect(Rect& theRect, Point oldLoc, Point newLoc, UInt32 /*modifiers*/) {
    OffsetRect(&theRect, SInt16(newLoc.h - oldLoc.h), SInt16(newLoc.v - oldLoc.v));
}

void DragCorner(SInt16 theHandle, Rect& theRect, Point oldLoc, Point newLoc, UInt32 modifiers,
                const Rect& theFrame, const relRect& origRel) {
    SInt32 fixedH, fixedV, movingH, movingV;
    switch (theHandle) {
    case kClipTopLeft:
        fixedH = theRect.right, fixedV = theRect.bottom, movingH = theRect.left,
        movingV = theRect.top;
        break;
    case kClipTopRight:
        fixedH = theRect.left, fixedV = theRect.bottom, movingH = theRect.right,
        movingV = theRect.top;
        break;
    case kClipBottomLeft:
        fixedH = theRect.right, fixedV = theRect.top, movingH = theRect.left,
        movingV = theRect.bottom;
        break;
    case kClipBottomRight:
        fixedH = theRect.left, fixedV = theRect.top, movingH = theRect.right,
        movingV = theRect.bottom;
        break;
    default:
        return;
    }
    const SInt32 dx = SInt32(newLoc.h) - oldLoc.h;
    const SInt32 dy = SInt32(newLoc.v) - oldLoc.v;
    movingH += dx;
    movingV += dy;
    // Ctrl as well as Option (Alt): window managers commonly keep Alt-drag for themselves.
    if ((modifiers & (optionKey | controlKey)) != 0) {
        fixedH -= dx;
        fixedV -= dy;
    }
    Pt2Rect(MakePoint(fixedH, fixedV), MakePoint(movingH, movingV), &theRect);
    if ((modifiers & shiftKey) != 0) {
        const Rect reference = Rel2Rect(origRel, theFrame);
        SInt32 w, h;
        GetDims(reference, w, h);
        theRect = w > h ? KeepPropsWithFixedHorizontal(reference, theRect)
                        : KeepPropsWithFixedVertical(reference, theRect);
    }
    KeepImageProps(theRect);
}

void KeepImageProps(Rect& theRect) {
    const pluginDataRec* config = gConfigWorkSpace.theConfig;
    if (config == nullptr || !config->keepProps || config->theOriginalImage == nullptr) {
        return;
    }
    SInt32 w, h;
    GetImageDims(config->theOriginalImage, w, h);
    Rect reference;
    SetRect(&reference, 0, 0, SaturateToSInt16(SInt64(w)), SaturateToSInt16(SInt64(h)));
    theRect = w > h ? KeepPropsWithFixedHorizontal(reference, theRect)
                    : KeepPropsWithFixedVertical(reference, theRect);
}

void CalcAndKeepImageProps() {
    const relRect rel = GetCurrentRel();
    const Rect frame = GetControlBox(gConfigWorkSpace.theFrameCtrl);
    Rect r = Rel2Rect(rel, frame);
    KeepImageProps(r);
    PutCurrentRel(Rect2Rel(r, frame));
}

void DrawHandles(const Rect& theRect) {
    static const RGBColor black{0, 0, 0};
    static const RGBColor white{65535, 65535, 65535};
    PenMode(srcOr);
    const Point corners[4] = {
        MakePoint(theRect.left, theRect.top), MakePoint(theRect.right, theRect.top),
        MakePoint(theRect.left, theRect.bottom), MakePoint(theRect.right, theRect.bottom)};
    for (const Point& c : corners) {
        Rect sq = HandleSquare(c.h, c.v);
        RGBForeColor(&black);
        FrameOval(&sq);
        InsetRect(&sq, 1, 1);
        RGBForeColor(&white);
        FrameOval(&sq);
        InsetRect(&sq, 1, 1);
        RGBForeColor(&black);
        FrameOval(&sq);
    }
    PenNormal();
}

void DrawFrameContents(WindowRef theWindow, const Rect& destRect) {
    static const RGBColor black{0, 0, 0};
    static const RGBColor white{65535, 65535, 65535};
    CGrafPtr port = GetWindowPort(theWindow);
    GWorldPtr fx = gConfigWorkSpace.theFXClip;
    const pluginDataRec* config = gConfigWorkSpace.theConfig;
    if (port == nullptr || fx == nullptr || config == nullptr) {
        return;
    }
    const Rect srcRect = GetPortRect(fx);
    RGBBackColor(&white);
    RGBForeColor(&black);
    CopyBits(GetPortBitMapForCopyBits(fx), GetPortBitMapForCopyBits(port), &srcRect, &destRect,
             srcCopy, nullptr);
    const Rect portRect = GetPortRect(port);
    ClipRect(&destRect);
    if (cUsedNumberOfRects > 1) {
        // The region not being edited: dimmed, without handles, and drawn first so that the
        // edited one stays whole where they cross.
        const relRect& other = gConfigWorkSpace.activeRel == 1 ? config->endRel : config->startRel;
        FrameOutline(Rel2Rect(other, destRect), config->frameStartColor, true);
    }
    const Rect region = Rel2Rect(GetCurrentRel(), destRect);
    FrameOutline(region, config->frameStartColor, false);
    if (cUsedNumberOfRects > 1 || gConfigWorkSpace.activeRel == 1) {
        DrawHandles(region);
    }
    ClipRect(&portRect);
    RGBForeColor(&black);
    FrameRect(&destRect);
}
