// pixeleffect.cpp - the mosaic renderer (see pixeleffect.h).
//
// The block pass works one band of blocks (one block row) at a time, and a band in runs of
// whole blocks about 2048 pixels wide. Every row of the run is added, byte by byte, into
// per-column sums (16-bit lanes, emptied into 32 bits every 256 rows so they cannot
// overflow), sixteen rows and a few cache lines of each row at a time with the sums in
// registers, 16, 32 or 64 bytes per instruction, the widest the processor runs, chosen at run
// time (rowsums.h: one file per instruction set); each block's sums are then the sums of its
// columns, divided by its pixel count through a reciprocal that gives exactly the quotient of
// a division. The run's blocks make
// one row of output, which is copied into each of the band's rows, past the caches when the
// region is far larger than they are. Integer sums are exact whatever their order, so the
// averages, the alpha of the last pixel read (the block's bottom-right pixel that takes part)
// and every byte written are those of the pixel-by-pixel rule; a run is read whole before it
// is written and runs do not overlap, so source and destination may be the same buffer. Loops
// run in 32-bit coordinates: a block may be as large as the 32767 x 32767 coordinate space.
#include "pixeleffect.h"

#include "CGglue.h"
#include "PixelLib.h"
#include "commonprocs.h"
#include "gworldprocs.h"
#include "rectprocs.h"
#include "rowsums.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// Per-column sums of one band, and the band's painted row; kept from call to call so that a
// frame's pass allocates nothing once the widest region has been seen.
struct BandScratch {
    std::vector<UInt16> partial; // 4 channels per column, at most 256 rows at a time
    std::vector<UInt32> columns; // 4 channels per column, the whole band
    std::vector<UInt32> painted; // one pixel word per column
};

BandScratch& Scratch() {
    static thread_local BandScratch scratch;
    return scratch;
}

// Rows are summed at most this many at a time. Going down a column touches a page or two of
// every row, and a walk through many rows misses the first-level TLB and outruns the
// prefetchers on nearly every load; the sums are stored and reloaded in between, once per
// chunk instead of once per row. Of 8, 12, 16, 32 and 64 rows, 8 to 16 were fastest (blocks of
// 5% and 25% at 1080p and 4K took 0.55 to 0.75 of the time of a walk through the whole band).
constexpr SInt32 kRowChunk = 16;

// sums[i] := the sum over `rows` rows (at most 256) of byte i of each row, for n bytes.
void SumRows(SumRowsFn kernel, UInt16* sums, const UInt8* first, SInt32 rowBytes, SInt32 rows,
             size_t n) {
    for (SInt32 r = 0; r < rows; r += kRowChunk) {
        kernel(sums, first + ptrdiff_t(r) * rowBytes, rowBytes, std::min(kRowChunk, rows - r), n,
               r > 0);
    }
}

// The sums of n columns of 16-bit lanes (a, r, g, b per column) of a band of at most 256
// rows: each column is at most 65280, so 32-bit lanes hold up to 32767 columns exactly.
inline void SumColumns16(const UInt16* c, SInt32 n, UInt64& red, UInt64& green, UInt64& blue) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    __m128i acc = zero;
    SInt32 i = 0;
    for (; i + 2 <= n; i += 2) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 4 * i));
        acc = _mm_add_epi32(
            acc, _mm_add_epi32(_mm_unpacklo_epi16(v, zero), _mm_unpackhi_epi16(v, zero)));
    }
    if (i < n) {
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(c + 4 * i));
        acc = _mm_add_epi32(acc, _mm_unpacklo_epi16(v, zero));
    }
    alignas(16) UInt32 lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), acc);
    red = lanes[1], green = lanes[2], blue = lanes[3];
#else
    UInt32 r = 0, g = 0, b = 0;
    for (SInt32 i = 0; i < n; ++i) {
        r += c[4 * i + 1], g += c[4 * i + 2], b += c[4 * i + 3];
    }
    red = r, green = g, blue = b;
#endif
}

// Division of the channel sums of a block of more than 257 pixels (smaller ones go through
// SmallBlockWord) by its pixel count. Most blocks of a pass have the same count, made into a
// Divisor once per band (cut-short edge blocks make their own), and a hardware division per
// channel showed in the profile of every block, so the quotient is a multiplication by the
// rounded-up reciprocal m = ceil(2^64 / count), taking the high 64 bits of sum * m. That is exact
// for every sum below 2^32 and count from 2 to 2^32 - 1: sum * m / 2^64 exceeds sum / count by less
// than 2^-32, while sum / count falls short of the next integer by at least 1 / count. Larger sums
// (blocks of more than 16 million pixels) and count 1 divide as before.
class Divisor {
    // The high 64 bits of sum * m, for a sum below 2^32. The 32-bit builds have no 128-bit
    // integers: there the product is put together from the halves of m (sum * high half
    // stays below 2^64 - 2^33, so adding the carry from the low half cannot overflow).
    static UInt64 HighWord(UInt64 sum, UInt64 m) {
#if defined(__SIZEOF_INT128__)
        return UInt64((static_cast<unsigned __int128>(sum) * m) >> 64);
#else
        return (sum * (m >> 32) + ((sum * (m & 0xFFFFFFFFu)) >> 32)) >> 32;
#endif
    }

  public:
    explicit Divisor(UInt64 count)
        : count_(count), magic_(count >= 2 && count <= 0xFFFFFFFFu ? ~UInt64(0) / count + 1 : 0) {}
    UInt64 count() const { return count_; }
    UInt8 Quotient(UInt64 sum) const {
        if (magic_ != 0 && sum <= 0xFFFFFFFFu) {
            return static_cast<UInt8>(HighWord(sum, magic_));
        }
        return static_cast<UInt8>(sum / count_);
    }

  private:
    UInt64 count_;
    UInt64 magic_;
};

// Copies n bytes of a painted row into the destination. With `stream`, the aligned middle
// goes out with non-temporal stores: a region far larger than the caches would otherwise be
// read into them before it is overwritten (and would push out what the next step needs).
void WriteRow(void* to, const void* from, size_t n, bool stream) {
#if defined(__SSE2__)
    if (stream && n >= 64) {
        UInt8* d = static_cast<UInt8*>(to);
        const UInt8* p = static_cast<const UInt8*>(from);
        const size_t head = (16 - (reinterpret_cast<uintptr_t>(d) & 15)) & 15;
        std::memcpy(d, p, head);
        size_t i = head;
        for (; i + 16 <= n; i += 16) {
            _mm_stream_si128(reinterpret_cast<__m128i*>(d + i),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
        }
        std::memcpy(d + i, p + i, n - i);
        return;
    }
#endif
    (void)stream;
    std::memcpy(to, from, n);
}

// Whether a pass that writes `bytes` streams them past the caches: only when they are more
// than a last-level cache holds (16 MiB and more on the processors that run 4K video; what
// the system reports of its caches is not to be trusted under a hypervisor).
constexpr size_t kStreamBytes = size_t(16) << 20;
bool StreamWrites(size_t bytes) {
    return bytes > kStreamBytes;
}

// The word a block is painted with: the averages of its sums over `count` pixels, and the
// alpha (and everything else) of the last pixel read, its bottom-right one.
UInt32 BlockWord(const pixRec& last, UInt64 red, UInt64 green, UInt64 blue, const Divisor& count) {
    pixRec working = last;
    working.red = count.Quotient(red);
    working.green = count.Quotient(green);
    working.blue = count.Quotient(blue);
    UInt32 word;
    std::memcpy(&word, &working, sizeof word);
    return word;
}

#if defined(__SSE2__)
// The word of a block of at most 257 pixels, from its n columns of 16-bit sums at c: the
// block's channel sums are at most 257 x 255 = 65535, so they add up in 16-bit lanes, and the
// four averages come out of one float multiplication. `inverse` is 1 / count rounded to float.
// floor((sum + 0.5) * inverse) is floor(sum / count) exactly: (sum + 0.5) / count lies at
// least 0.5 / count away from every whole number, and the float result is within
// 2^-23 * 65536 / count = 2^-7 / count of it (and it was checked for every count up to 257
// and every sum).
inline UInt32 SmallBlockWord(const UInt16* c, SInt32 n, UInt32 last, __m128 inverse) {
    __m128i acc = _mm_setzero_si128();
    SInt32 i = 0;
    for (; i + 2 <= n; i += 2) {
        acc = _mm_add_epi16(acc, _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 4 * i)));
    }
    if (i < n) {
        acc = _mm_add_epi16(acc, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(c + 4 * i)));
    }
    acc = _mm_add_epi16(acc, _mm_srli_si128(acc, 8)); // a, r, g, b in the low four lanes
    const __m128 sums = _mm_cvtepi32_ps(_mm_unpacklo_epi16(acc, _mm_setzero_si128()));
    const __m128i q = _mm_cvttps_epi32(_mm_mul_ps(_mm_add_ps(sums, _mm_set1_ps(0.5f)), inverse));
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(q, q), q);
    // Byte 0 of a pixel word is its alpha (x86 is little-endian): the last pixel read's.
    return (UInt32(_mm_cvtsi128_si32(bytes)) & ~UInt32(0xFF)) | (last & 0xFF);
}
#endif

// Blocks are worked a run of columns at a time: the band's rows are summed over a few
// thousand pixels' worth of whole blocks, those blocks are painted and their pixels written
// in every row of the band, and only then are the next columns read. What is read and what is
// written stay close together in the caches however wide the frame.
constexpr SInt32 kRunPixels = 2048;

// One band of blocks (one block row): source rows [y0, y1), columns [x0, x1), of which the
// blocks start at firstCol, firstCol + blockWid, ... (firstCol <= x0); the same rows and
// columns of the destination are painted.
struct Band {
    Ptr srcBase;
    SInt32 srcRowBytes;
    Ptr dstBase;
    SInt32 dstRowBytes;
    SInt32 firstCol;
    SInt32 blockWid;
    SInt32 x0, x1, y0, y1;
    bool stream; // rows go out past the caches (see StreamWrites)
};

// A band of at most 256 rows. A run's pixels are all read before any of them is written, and
// runs do not overlap, so the band may be worked on in place.
void PaintShortBand(SumRowsFn sumRows, BandScratch& s, const Band band) {
    const auto [srcBase, srcRowBytes, dstBase, dstRowBytes, firstCol, blockWid, x0, x1, y0, y1,
                stream] = band;
    const SInt32 rows = y1 - y0;
    const UInt64 height = UInt64(rows);
    const Divisor wholeCount(UInt64(blockWid) * height); // of every block not cut short
#if defined(__SSE2__)
    const bool small = UInt64(blockWid) * height <= 257; // see SmallBlockWord
    const __m128 wholeInverse = _mm_set1_ps(small ? 1.0f / float(blockWid * rows) : 0.0f);
#endif
    const SInt32 runWid = std::max<SInt32>(1, kRunPixels / blockWid) * blockWid;
    // The first block that reaches x0 (blocks left of the source frame have no pixels).
    SInt32 col = firstCol + (x0 - firstCol) / blockWid * blockWid;
    for (; col < x1; col += runWid) {
        const SInt32 sx0 = std::max(col, x0);
        const SInt32 sx1 = std::min<SInt32>(col + runWid, x1);
        if (sx0 >= sx1) {
            continue;
        }
        const size_t width = size_t(sx1 - sx0);
        SumRows(sumRows, s.partial.data(),
                reinterpret_cast<const UInt8*>(PixAddress(srcBase, srcRowBytes, sx0, y0)),
                srcRowBytes, rows, 4 * width);
        for (SInt32 bx0 = sx0; bx0 < sx1;) {
            const SInt32 bx1 = std::min<SInt32>(bx0 == sx0 ? col + blockWid : bx0 + blockWid, sx1);
            const UInt16* sums = &s.partial[size_t(bx0 - sx0) * 4];
            const pixRec& last = *PixAddress(srcBase, srcRowBytes, bx1 - 1, y1 - 1);
            const bool whole = bx1 - bx0 == blockWid;
            UInt32 word;
#if defined(__SSE2__)
            if (small) {
                UInt32 lastWord;
                std::memcpy(&lastWord, &last, sizeof lastWord);
                word = SmallBlockWord(sums, bx1 - bx0, lastWord,
                                      whole ? wholeInverse
                                            : _mm_set1_ps(1.0f / float((bx1 - bx0) * rows)));
            } else
#endif
            {
                UInt64 red = 0, green = 0, blue = 0;
                SumColumns16(sums, bx1 - bx0, red, green, blue);
                word = whole
                           ? BlockWord(last, red, green, blue, wholeCount)
                           : BlockWord(last, red, green, blue, Divisor(UInt64(bx1 - bx0) * height));
            }
            std::fill(s.painted.begin() + (bx0 - sx0), s.painted.begin() + (bx1 - sx0), word);
            bx0 = bx1;
        }
        for (SInt32 y = y0; y < y1; ++y) {
            WriteRow(PixAddress(dstBase, dstRowBytes, sx0, y), s.painted.data(), 4 * width, stream);
        }
    }
}

// A band taller than 256 rows: the 16-bit sums are emptied into 32-bit lanes every 256 rows,
// over the whole band's width, which is read whole before any row is written.
void PaintTallBand(SumRowsFn sumRows, BandScratch& s, const Band band) {
    const auto [srcBase, srcRowBytes, dstBase, dstRowBytes, firstCol, blockWid, x0, x1, y0, y1,
                stream] = band;
    const size_t width = size_t(x1 - x0), lanes = 4 * width;
    std::fill_n(s.columns.begin(), lanes, 0u);
    for (SInt32 y = y0; y < y1;) {
        const SInt32 rows = std::min<SInt32>(y1 - y, 256);
        SumRows(sumRows, s.partial.data(),
                reinterpret_cast<const UInt8*>(PixAddress(srcBase, srcRowBytes, x0, y)),
                srcRowBytes, rows, lanes);
        y += rows;
        for (size_t i = 0; i < lanes; ++i) {
            s.columns[i] += s.partial[i];
        }
    }

    const UInt64 height = UInt64(y1 - y0);
    const SInt32 skip = (x0 - firstCol) / blockWid;
    for (SInt32 col = firstCol + skip * blockWid; col < x1; col += blockWid) {
        const SInt32 bx0 = std::max(col, x0), bx1 = std::min<SInt32>(col + blockWid, x1);
        if (bx0 >= bx1) {
            continue;
        }
        UInt64 red = 0, green = 0, blue = 0;
        for (SInt32 x = bx0; x < bx1; ++x) {
            const UInt32* c = &s.columns[size_t(x - x0) * 4];
            red += c[1];
            green += c[2];
            blue += c[3];
        }
        const UInt32 word = BlockWord(*PixAddress(srcBase, srcRowBytes, bx1 - 1, y1 - 1), red,
                                      green, blue, Divisor(UInt64(bx1 - bx0) * height));
        std::fill(s.painted.begin() + (bx0 - x0), s.painted.begin() + (bx1 - x0), word);
    }
    for (SInt32 y = y0; y < y1; ++y) {
        WriteRow(PixAddress(dstBase, dstRowBytes, x0, y), s.painted.data(), 4 * width, stream);
    }
}

void PaintBand(const Band& band) {
    static const SumRowsFn sumRows = ChooseSumRows();
    BandScratch& s = Scratch();
    const size_t width = size_t(band.x1 - band.x0), lanes = 4 * width;
    if (s.columns.size() < lanes) {
        s.partial.resize(lanes);
        s.columns.resize(lanes);
        s.painted.resize(width);
    }
    // 16-bit lanes hold at most 257 rows of 255.
    if (band.y1 - band.y0 <= 256) {
        PaintShortBand(sumRows, s, band);
    } else {
        PaintTallBand(sumRows, s, band);
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
        // The pixels that take part: inside the source frame and before the rectangle's
        // right and bottom edges. Blocks start at the rectangle's left and top.
        const SInt32 x0 = std::max<SInt32>(activeRect.left, srcFrame.left);
        const SInt32 x1 = std::min<SInt32>(srcFrame.right, activeRect.right);
        const SInt32 limitBottom = std::min<SInt32>(srcFrame.bottom, activeRect.bottom);
        if (x0 < x1 && activeRect.top < limitBottom) {
            const bool stream =
                StreamWrites(size_t(x1 - x0) * 4 *
                             size_t(limitBottom - std::max<SInt32>(activeRect.top, srcFrame.top)));
            for (SInt32 row = activeRect.top; row < activeRect.bottom; row += blockHig) {
                const SInt32 y0 = std::max<SInt32>(row, srcFrame.top);
                const SInt32 y1 = std::min<SInt32>(row + blockHig, limitBottom);
                if (y0 < y1) {
                    PaintBand(Band{srcBase, srcRowBytes, dstBase, dstRowBytes, activeRect.left,
                                   blockWid, x0, x1, y0, y1, stream});
                }
            }
#if defined(__SSE2__)
            if (stream) {
                _mm_sfence(); // the streamed stores are seen before anything that follows
            }
#endif
        }
    }

    SetPixelsState(GetGWorldPixMap(source), srcState);
    SetPixelsState(GetGWorldPixMap(dest), dstState);
}

void OpacityStep(GWorldPtr source, GWorldPtr dest, SInt16 opacity) {
    // When the drawing cannot write what it reads, the image reads the source where it lies:
    // the same pixels, one copy of the frame fewer.
    CGImageRef theImage =
        GWorldPixelsOverlap(source, dest) ? GWorld2CGImage(source) : GWorld2CGImageInPlace(source);
    Assert(theImage, "Cannot allocate CG image from source in thePixelEffect");
    // Released on every way out: a front end's failure handler may throw out of the drawing.
    const std::unique_ptr<CGImage, void (*)(CGImageRef)> release(theImage, CGImageRelease);
    DrawCGImageInQDRectWithAlpha(dest, theImage, GetPortRect(dest), 0.0f, false,
                                 double(opacity) / 100.0, 0);
}

void ThePixelEffect(GWorldPtr source, GWorldPtr dest, Rect activeRect, Boolean copyRest,
                    pluginDataRec* theConfig, SInt32 currentFrame, SInt32 maxFrame) {
    (void)copyRest;
    (void)currentFrame;
    (void)maxFrame;
    Assert(theConfig, "Nil theConfig on ThePixelEffect");

    const GWorldSaver keepPort(dest);

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
        OpacityStep(source, dest, theConfig->sliders[2]);
    }
}
