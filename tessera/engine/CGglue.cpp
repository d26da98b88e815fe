// CGglue.cpp - drawing images into buffers (see CGglue.h).
#include "CGglue.h"

#include "commonprocs.h"
#include "gworldprocs.h"
#include "rectprocs.h"

CGRect QDRectToGCRect(const Rect& theRect, const Rect& theFrame) {
    SInt32 rw, rh, fw, fh;
    GetDims(theRect, rw, rh);
    GetDims(theFrame, fw, fh);
    CGRect r;
    r.origin.x = float(SInt32(theFrame.left) + theRect.left);
    r.origin.y = float(SInt32(theFrame.top) + fh - theRect.bottom);
    r.size.width = float(rw);
    r.size.height = float(rh);
    return r;
}

void DrawRotatedImageInCGRect(CGContextRef theContext, CGImageRef theImage, CGRect targetRect,
                              float theRadiants, Boolean clearFirst) {
    Assert(theContext, "NIL context for DrawRotatedImageInQDRect");
    Assert(theImage, "NIL Image for DrawRotatedImageInQDRect");
    CGContextSaveGState(theContext);
    const float w = float(targetRect.size.width);
    const float h = float(targetRect.size.height);
    const CGRect drawRect = CGRectMake(-w / 2.0f, -h / 2.0f, w, h);
    CGContextTranslateCTM(theContext, float(targetRect.origin.x) + w / 2.0f,
                          float(targetRect.origin.y) + h / 2.0f);
    CGContextRotateCTM(theContext, theRadiants);
    if (clearFirst) {
        CGContextClearRect(theContext, drawRect);
    }
    CGContextDrawImage(theContext, drawRect, theImage);
    CGContextRestoreGState(theContext);
}

namespace {

void DrawInto(GWorldPtr theGW, CGImageRef theImage, Rect qdTargetRect, float theRadiants,
              Boolean clearFirst, bool setAlpha, double alpha, bool setBlend, SInt16 blendMode) {
    const Rect theFrame = GetPortRect(theGW);
    const CGRect target = QDRectToGCRect(qdTargetRect, theFrame);
    if (theImage == nullptr) {
        return;
    }
    CGContextRef ctx = nullptr;
    QDBeginCGContext(theGW, &ctx);
    if (ctx != nullptr) {
        if (setAlpha && alpha >= 0) {
            CGContextSetAlpha(ctx, float(alpha));
        }
        if (setBlend) {
            CGContextSetBlendMode(ctx, CGBlendMode(blendMode));
        }
    }
    DrawRotatedImageInCGRect(ctx, theImage, target, theRadiants, clearFirst);
    CGContextFlush(ctx);
    QDEndCGContext(theGW, &ctx);
    CGContextRelease(ctx);
}

} // namespace

void DrawCGImageInQDRect(GWorldPtr theGW, CGImageRef theImage, Rect qdTargetRect, float theRadiants,
                         Boolean clearFirst) {
    DrawInto(theGW, theImage, qdTargetRect, theRadiants, clearFirst, false, 0, false, 0);
}

void DrawCGImageInQDRectWithAlpha(GWorldPtr theGW, CGImageRef theImage, Rect qdTargetRect,
                                  float theRadiants, Boolean clearFirst, double alpha,
                                  SInt16 blendMode) {
    DrawInto(theGW, theImage, qdTargetRect, theRadiants, clearFirst, true, alpha, true, blendMode);
}
