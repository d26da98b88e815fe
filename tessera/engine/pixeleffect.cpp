// pixeleffect.cpp - the mosaic renderer (see pixeleffect.h).
//
// The block pass loops in 32-bit coordinates and sums in 64 bits: a block may be as large
// as the whole 32767 x 32767 coordinate space, and a column plus a block width may pass
// the 16-bit limit. For each block the pixels that take part form one rectangle (the
// block cut by the source frame and by the active rectangle), so the bounds are worked out
// once per block instead of being tested at every pixel; the pixels read, their order and
// the result are the same.
#include "pixeleffect.h"

#include "CGglue.h"
#include "PixelLib.h"
#include "commonprocs.h"
#include "gworldprocs.h"
#include "rectprocs.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

void PaintBlock(Ptr srcBase, SInt32 srcRowBytes, Ptr dstBase, SInt32 dstRowBytes, SInt32 x0,
                SInt32 x1, SInt32 y0, SInt32 y1) {
    UInt64 sumRed = 0, sumGreen = 0, sumBlue = 0;
    for (SInt32 y = y0; y < y1; ++y) {
        const pixRec* p = PixAddress(srcBase, srcRowBytes, x0, y);
        UInt32 rowRed = 0, rowGreen = 0, rowBlue = 0; // a row holds at most 32767 pixels
        for (SInt32 x = x0; x < x1; ++x, ++p) {
            rowRed += p->red;
            rowGreen += p->green;
            rowBlue += p->blue;
        }
        sumRed += rowRed;
        sumGreen += rowGreen;
        sumBlue += rowBlue;
    }
    const UInt64 count = UInt64(x1 - x0) * UInt64(y1 - y0);

    pixRec working = *PixAddress(srcBase, srcRowBytes, x1 - 1, y1 - 1); // last pixel read
    working.red = static_cast<UInt8>(sumRed / count);
    working.green = static_cast<UInt8>(sumGreen / count);
    working.blue = static_cast<UInt8>(sumBlue / count);

    UInt32 word;
    std::memcpy(&word, &working, sizeof word);
    for (SInt32 y = y0; y < y1; ++y) {
        pixRec* d = PixAddress(dstBase, dstRowBytes, x0, y);
        UInt32* w = reinterpret_cast<UInt32*>(d);
        std::fill(w, w + (x1 - x0), word);
    }
}

} // namespace

void TesseraGWorld(GWorldPtr source, GWorldPtr dest, Rect activeRect, SInt16 wid, SInt16 hig) {
    if (dest == nullptr) {
        dest = source;
    }
    if (source == nullptr) {
        return;
    }
    const SInt32 blockWid = wid < 1 ? 1 : wid;
    const SInt32 blockHig = hig < 1 ? 1 : hig;

    Ptr srcBase = nullptr, dstBase = nullptr;
    SInt32 srcRowBytes = 0, dstRowBytes = 0;
    Rect srcFrame, dstFrame;
    GWorldFlags srcState = 0, dstState = 0;
    GetPixInfoFromGWorld(source, srcBase, srcRowBytes, srcFrame, srcState);
    GetPixInfoFromGWorld(dest, dstBase, dstRowBytes, dstFrame, dstState);

    if (srcFrame.right == dstFrame.right && srcFrame.bottom == dstFrame.bottom) {
        const SInt32 limitRight = std::min<SInt32>(srcFrame.right, activeRect.right);
        const SInt32 limitBottom = std::min<SInt32>(srcFrame.bottom, activeRect.bottom);
        for (SInt32 row = activeRect.top; row < activeRect.bottom; row += blockHig) {
            const SInt32 y0 = std::max<SInt32>(row, srcFrame.top);
            const SInt32 y1 = std::min<SInt32>(row + blockHig, limitBottom);
            if (y0 >= y1) {
                continue;
            }
            for (SInt32 col = activeRect.left; col < activeRect.right; col += blockWid) {
                const SInt32 x0 = std::max<SInt32>(col, srcFrame.left);
                const SInt32 x1 = std::min<SInt32>(col + blockWid, limitRight);
                if (x0 >= x1) {
                    continue; // no pixel of this block takes part
                }
                PaintBlock(srcBase, srcRowBytes, dstBase, dstRowBytes, x0, x1, y0, y1);
            }
        }
    }

    SetPixelsState(GetGWorldPixMap(source), srcState);
    SetPixelsState(GetGWorldPixMap(dest), dstState);
}

void ThePixelEffect(GWorldPtr source, GWorldPtr dest, Rect activeRect, Boolean copyRest,
                    pluginDataRec* theConfig, SInt32 currentFrame, SInt32 maxFrame) {
    (void)copyRest;
    (void)currentFrame;
    (void)maxFrame;
    Assert(theConfig, "Nil theConfig on ThePixelEffect");

    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(dest, nullptr);

    const Rect myFrame = GetPortRect(dest);
    Rect targetRect = activeRect;
    SInt32 wid, hig;
    GetDims(myFrame, wid, hig);

    // Block sizes in thousandths of the frame, cut toward zero. A slider value far out of
    // range (from a damaged saved configuration) gives the largest block, not a wrapped one.
    const SInt16 blockWid =
        SaturateToSInt16(std::trunc((double(wid) / 1000.0) * theConfig->sliders[0]));
    const SInt16 blockHig =
        SaturateToSInt16(std::trunc((double(hig) / 1000.0) * theConfig->sliders[1]));

    ClipRectToFrame(targetRect, myFrame);
    TesseraGWorld(source, dest, targetRect, blockWid, blockHig);

    if (theConfig->sliders[2] > 0) {
        CGImageRef theImage = GWorld2CGImage(source);
        Assert(theImage, "Cannot allocate CG image from source in thePixelEffect");
        DrawCGImageInQDRectWithAlpha(dest, theImage, myFrame, 0.0f, false,
                                     double(theConfig->sliders[2]) / 100.0, 0);
        CGImageRelease(theImage);
    }

    SetGWorld(savedPort, savedDevice);
}
