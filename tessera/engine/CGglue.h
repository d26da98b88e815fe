// CGglue.h - drawing Core Graphics images into the engine's offscreen buffers.
//
// Owns: the conversion of a platform rectangle (y down) into Core Graphics coordinates
// (y up) of a buffer, and drawing an image into a buffer scaled to a rectangle, turned
// about its centre, optionally cleared first, with a global opacity and a blend mode.
// Promises: every routine saves and restores the context's graphics state and ends the
// Core Graphics drawing on the buffer before returning, so QuickDraw can draw there again.
// A nil image draws nothing; a nil context or image inside the drawing itself is fatal.
#pragma once

#include "CoreGraphics.h"
#include "MacTypes.h"
#include "QuickDraw.h"

CGRect QDRectToGCRect(const Rect& theRect, const Rect& theFrame);
void DrawRotatedImageInCGRect(CGContextRef theContext, CGImageRef theImage, CGRect targetRect,
                              float theRadiants, Boolean clearFirst);
void DrawCGImageInQDRect(GWorldPtr theGW, CGImageRef theImage, Rect qdTargetRect, float theRadiants,
                         Boolean clearFirst);
// alpha < 0 keeps the context's own opacity.
void DrawCGImageInQDRectWithAlpha(GWorldPtr theGW, CGImageRef theImage, Rect qdTargetRect,
                                  float theRadiants, Boolean clearFirst, double alpha,
                                  SInt16 blendMode);
