// gworldprocs.cpp - offscreen buffers and images made from them (see gworldprocs.h).
#include "gworldprocs.h"

#include "commonprocs.h"
#include "rectprocs.h"

Rect GetPortRect(CGrafPtr port) {
    Rect r{0, 0, 0, 0};
    GetPortBounds(port, &r);
    return r;
}

GWorldPtr AllocateRectGWorld(const Rect& theRect, QDErr* outErr) {
    Rect bounds = theRect;
    OffsetRect(&bounds, SInt16(-bounds.left), SInt16(-bounds.top));
    GWorldPtr theGW = nullptr;
    const QDErr err = NewGWorld(&theGW, 32, &bounds, nullptr, nullptr, 0);
    if (outErr != nullptr) {
        *outErr = err;
    }
    if (err != noErr) {
        theGW = nullptr;
    }
    LockGWorld(theGW);
    return theGW;
}

void LockGWorld(GWorldPtr theGW) {
    if (theGW == nullptr) {
        return;
    }
    (void)LockPixels(GetGWorldPixMap(theGW));
}

void Source2Target(GWorldPtr theSource, GWorldPtr theTarget) {
    if (theSource == nullptr || theTarget == nullptr) {
        return;
    }
    const RGBColor white{65535, 65535, 65535};
    const RGBColor black{0, 0, 0};
    RGBBackColor(&white);
    RGBForeColor(&black);
    const Rect srcRect = GetPortRect(theSource);
    const Rect dstRect = GetPortRect(theTarget);
    CopyBits(GetPortBitMapForCopyBits(theSource), GetPortBitMapForCopyBits(theTarget), &srcRect,
             &dstRect, srcCopy, nullptr);
}

CGImageRef GWorld2CGImage(GWorldPtr theGW) {
    PixMapHandle pm = GetGWorldPixMap(theGW);
    void* base = GetPixBaseAddr(pm);
    const long rowBytes = GetPixRowBytes(pm);
    SInt32 wid, hig;
    GetDims(GetPortRect(theGW), wid, hig);

    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGContextRef ctx = CGBitmapContextCreate(base, size_t(wid), size_t(hig), 8, size_t(rowBytes),
                                             space, kCGImageAlphaPremultipliedFirst);
    Assert(ctx, "Failed to create s CGContext on GWorld2CGImage");
    CGColorSpaceRelease(space);
    CGImageRef image = CGBitmapContextCreateImage(ctx);
    CGContextRelease(ctx);
    return image;
}

void GetImageDims(CGImageRef theImage, SInt32& wid, SInt32& hig) {
    wid = static_cast<SInt32>(CGImageGetWidth(theImage));
    hig = static_cast<SInt32>(CGImageGetHeight(theImage));
}
