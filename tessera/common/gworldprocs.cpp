// gworldprocs.cpp - offscreen buffers and images made from them (see gworldprocs.h).
#include "gworldprocs.h"

#include "commonprocs.h"
#include "rectprocs.h"

#include <cstdint>

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

namespace {
// The buffer owns its memory; the provider only has to say that it never frees it.
void KeepPixels(void*, const void*, size_t) {}
} // namespace

CGImageRef GWorld2CGImageInPlace(GWorldPtr theGW) {
    PixMapHandle pm = GetGWorldPixMap(theGW);
    const UInt8* base = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pm));
    const long rowBytes = GetPixRowBytes(pm);
    SInt32 wid, hig;
    GetDims(GetPortRect(theGW), wid, hig);
    if (base == nullptr || wid <= 0 || hig <= 0) {
        return nullptr;
    }
    const size_t bytes = size_t(rowBytes) * size_t(hig - 1) + size_t(wid) * 4;
    CGDataProviderRef provider = CGDataProviderCreateWithData(nullptr, base, bytes, KeepPixels);
    if (provider == nullptr) {
        return nullptr;
    }
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGImageRef image = CGImageCreate(size_t(wid), size_t(hig), 8, 32, size_t(rowBytes), space,
                                     kCGImageAlphaPremultipliedFirst, provider, nullptr, false,
                                     kCGRenderingIntentDefault);
    CGColorSpaceRelease(space);
    CGDataProviderRelease(provider); // the image holds it while it reads the pixels
    return image;
}

bool GWorldPixelsOverlap(GWorldPtr a, GWorldPtr b) {
    auto span = [](GWorldPtr gw, uintptr_t& first, uintptr_t& end) {
        PixMapHandle pm = GetGWorldPixMap(gw);
        SInt32 wid, hig;
        GetDims(GetPortRect(gw), wid, hig);
        first = reinterpret_cast<uintptr_t>(GetPixBaseAddr(pm));
        end = first + uintptr_t(GetPixRowBytes(pm)) * uintptr_t(hig > 0 ? hig : 0);
    };
    uintptr_t a0, a1, b0, b1;
    span(a, a0, a1);
    span(b, b0, b1);
    return a0 < b1 && b0 < a1;
}

void GetImageDims(CGImageRef theImage, SInt32& wid, SInt32& hig) {
    wid = static_cast<SInt32>(CGImageGetWidth(theImage));
    hig = static_cast<SInt32>(CGImageGetHeight(theImage));
}
