// pixeleffect.cpp - the mosaic renderer (see pixeleffect.h).
//
// The block pass loops in 32-bit coordinates and sums in 64 bits: a block may be as large
// as the whole 32767 x 32767 coordinate space, and a column plus a block width may pass
// the 16-bit limit. For each block the pixels that take part form one rectangle (the
// block cut by the source frame and by the active rectangle), so the bounds are worked out
// once per block instead of being tested at every pixel, and the sums are formed four
// pixels at a time where the processor has SSE2. The pixels that take part and the bytes
// written are exactly those of the pixel-by-pixel rule (the tests compare against it).
#include "pixeleffect.h"

#include "CGglue.h"
#include "PixelLib.h"
#include "commonprocs.h"
#include "gworldprocs.h"
#include "rectprocs.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

struct BlockSums {
    UInt64 red = 0, green = 0, blue = 0;
};

// Adds up the red, green and blue bytes of n pixels, one by one.
void SumPixelsBytewise(const pixRec* p, SInt32 n, BlockSums& sums) {
    for (SInt32 i = 0; i < n; ++i) {
        sums.red += p[i].red;
        sums.green += p[i].green;
        sums.blue += p[i].blue;
    }
}

#if defined(__SSE2__)
// Four pixels at a time: each channel's bytes are masked out of 16 bytes (A R G B A R G B
// ...) and added up with one sum-of-absolute-differences against zero, which gives two
// 64-bit partial sums per channel (the masks pick byte 1, 2 and 3 of each pixel). The sums are
// exact, so the result is the same as the byte-wise one.
struct VectorSums {
    __m128i red = _mm_setzero_si128(), green = _mm_setzero_si128(), blue = _mm_setzero_si128();
};

// `readable` is how many pixels from p on lie inside the row (the frame's right edge):
// a partial group of four at the block's end is then loaded whole, when it stays inside
// the row, with the pixels beyond the block masked away.
inline void SumPixelsVector(const pixRec* p, SInt32 n, SInt32 readable, VectorSums& v,
                            BlockSums& sums) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i redMask = _mm_set1_epi32(0x0000FF00);
    const __m128i greenMask = _mm_set1_epi32(0x00FF0000);
    const __m128i blueMask = _mm_set1_epi32(SInt32(0xFF000000u));
    auto add = [&](__m128i px) {
        v.red = _mm_add_epi64(v.red, _mm_sad_epu8(_mm_and_si128(px, redMask), zero));
        v.green = _mm_add_epi64(v.green, _mm_sad_epu8(_mm_and_si128(px, greenMask), zero));
        v.blue = _mm_add_epi64(v.blue, _mm_sad_epu8(_mm_and_si128(px, blueMask), zero));
    };
    SInt32 i = 0;
    for (; i + 4 <= n; i += 4) {
        add(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
    }
    const SInt32 rest = n - i;
    if (rest == 0) {
        return;
    }
    if (i + 4 <= readable) {
        // keep[rest] keeps the first `rest` pixels of four.
        alignas(16) static const UInt32 keep[4][4] = {
            {0, 0, 0, 0}, {~0u, 0, 0, 0}, {~0u, ~0u, 0, 0}, {~0u, ~0u, ~0u, 0}};
        const __m128i mask = _mm_load_si128(reinterpret_cast<const __m128i*>(keep[rest]));
        add(_mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), mask));
    } else {
        SumPixelsBytewise(p + i, rest, sums);
    }
}

inline UInt64 Lanes(__m128i v) {
    alignas(16) UInt64 lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
    return lanes[0] + lanes[1];
}
#endif

UInt8 Average(UInt64 sum, UInt64 count) {
    // Most blocks are small enough for the cheaper 32-bit division.
    if (sum <= 0xFFFFFFFFu) {
        return static_cast<UInt8>(UInt32(sum) / UInt32(count));
    }
    return static_cast<UInt8>(sum / count);
}

void FillPixels(pixRec* d, SInt32 n, UInt32 word) {
#if defined(__SSE2__)
    if (n >= 4) {
        // Groups of four; the last group may overlap the one before it, which only writes
        // the same value twice and never leaves the block.
        const __m128i four = _mm_set1_epi32(SInt32(word));
        for (SInt32 i = 0; i + 4 < n; i += 4) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), four);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + n - 4), four);
        return;
    }
#endif
    for (SInt32 i = 0; i < n; ++i) {
        std::memcpy(d + i, &word, sizeof word);
    }
}

// Paints the block [x0, x1) x [y0, y1); srcRight is the source frame's right edge.
void PaintBlock(Ptr srcBase, SInt32 srcRowBytes, SInt32 srcRight, Ptr dstBase, SInt32 dstRowBytes,
                SInt32 x0, SInt32 x1, SInt32 y0, SInt32 y1) {
    BlockSums sums;
    const SInt32 width = x1 - x0;
#if defined(__SSE2__)
    VectorSums v;
    for (SInt32 y = y0; y < y1; ++y) {
        SumPixelsVector(PixAddress(srcBase, srcRowBytes, x0, y), width, srcRight - x0, v, sums);
    }
    sums.red += Lanes(v.red);
    sums.green += Lanes(v.green);
    sums.blue += Lanes(v.blue);
#else
    (void)srcRight;
    for (SInt32 y = y0; y < y1; ++y) {
        SumPixelsBytewise(PixAddress(srcBase, srcRowBytes, x0, y), width, sums);
    }
#endif
    const UInt64 count = UInt64(width) * UInt64(y1 - y0);

    pixRec working = *PixAddress(srcBase, srcRowBytes, x1 - 1, y1 - 1); // last pixel read
    working.red = Average(sums.red, count);
    working.green = Average(sums.green, count);
    working.blue = Average(sums.blue, count);

    UInt32 word;
    std::memcpy(&word, &working, sizeof word);
    for (SInt32 y = y0; y < y1; ++y) {
        FillPixels(PixAddress(dstBase, dstRowBytes, x0, y), width, word);
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
                PaintBlock(srcBase, srcRowBytes, srcFrame.right, dstBase, dstRowBytes, x0, x1, y0,
                           y1);
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
