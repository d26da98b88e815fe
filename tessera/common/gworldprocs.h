// gworldprocs.h - the offscreen buffers the engine works in, and images made from them.
//
// Owns: making a 32-bit buffer of a rectangle's size with its frame at (0, 0), locking it,
// copying one buffer onto another (scaling when their sizes differ), and turning a buffer
// into a Core Graphics image (premultiplied alpha first, 8 bits per component, the
// buffer's row bytes), plus the size of an image. Promises: buffers and images made here
// belong to the caller (DisposeGWorld, CGImageRelease); a made buffer is locked for its
// whole life. Nil buffers are ignored where the routines say so.
#pragma once

#include "CoreGraphics.h"
#include "MacTypes.h"
#include "QuickDraw.h"

Rect GetPortRect(CGrafPtr port);
// Nil when the platform cannot make the buffer; the reason is in *outErr when given.
GWorldPtr AllocateRectGWorld(const Rect& theRect, QDErr* outErr = nullptr);
void LockGWorld(GWorldPtr theGW);
void Source2Target(GWorldPtr theSource, GWorldPtr theTarget);
CGImageRef GWorld2CGImage(GWorldPtr theGW);
// An image that reads the buffer's pixels where they are instead of copying them: for drawing
// them at once, into another buffer. The buffer must be locked, and neither written nor
// disposed of while the image lives. Nil when none can be made.
CGImageRef GWorld2CGImageInPlace(GWorldPtr theGW);
// Whether the pixel memory of two buffers shares any byte.
bool GWorldPixelsOverlap(GWorldPtr a, GWorldPtr b);
void GetImageDims(CGImageRef theImage, SInt32& wid, SInt32& hig);
