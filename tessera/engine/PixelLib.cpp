// PixelLib.cpp - pixel packing and direct pixel access (see PixelLib.h).
#include "PixelLib.h"

pixRec LongInt2PixRec(SInt32 packed) {
    const UInt32 bits = static_cast<UInt32>(packed);
    pixRec p;
    p.alpha = 0;
    p.red = static_cast<UInt8>(bits >> 16);
    p.green = static_cast<UInt8>(bits >> 8);
    p.blue = static_cast<UInt8>(bits);
    return p;
}

SInt32 PixRec2LongInt(pixRec thePix) {
    return SInt32(thePix.red) * 65536 + SInt32(thePix.green) * 256 + SInt32(thePix.blue);
}

void GetPixInfoFromGWorld(GWorldPtr theGW, Ptr& pixBaseAddress, SInt32& pixRowBytes, Rect& theFrame,
                          GWorldFlags& pixFlags) {
    PixMapHandle pm = GetGWorldPixMap(theGW);
    pixFlags = GetPixelsState(pm);
    (void)LockPixels(pm);
    pixBaseAddress = GetPixBaseAddr(pm);
    pixRowBytes = static_cast<SInt32>(GetPixRowBytes(pm));
    GetPortBounds(theGW, &theFrame);
}
