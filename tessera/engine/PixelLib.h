// PixelLib.h - one pixel of a 32-bit buffer and direct access to a buffer's memory.
//
// Owns: packing a pixel to and from the 00RRGGBB integer, and preparing a buffer for
// direct reading and writing. Promises: a pixel is four bytes in the memory order alpha,
// red, green, blue on every processor; pixel (x, y) is at base + y * rowBytes + 4 * x with
// the buffer's own row bytes. GetPixInfoFromGWorld locks the pixels and hands back the
// state from before, which the caller restores with SetPixelsState.
#pragma once

#include "MacTypes.h"
#include "PluginDefines.h"
#include "QuickDraw.h"

pixRec LongInt2PixRec(SInt32 packed);
SInt32 PixRec2LongInt(pixRec thePix);

void GetPixInfoFromGWorld(GWorldPtr theGW, Ptr& pixBaseAddress, SInt32& pixRowBytes, Rect& theFrame,
                          GWorldFlags& pixFlags);

// The address of pixel (x, y) of a buffer, with the products in pointer width.
inline pixRecPtr PixAddress(Ptr base, SInt32 rowBytes, SInt32 x, SInt32 y) {
    return reinterpret_cast<pixRecPtr>(base + std::ptrdiff_t(y) * rowBytes + std::ptrdiff_t(x) * 4);
}
