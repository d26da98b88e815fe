// keptpixels.h - the pixels a plug-in left alone, kept as they were decoded.
//
// Owns: ChangedSpan, the rectangle of a rendered ARGB frame that differs from the ARGB
// frame the plug-in was given; TurnPicture, the decoded picture turned upright as the
// plug-in was given it; and SpanConverter, which converts only that rectangle into a
// picture that already holds the decoded frame. Promises: every pixel outside the span
// is equal in both ARGB frames, so the decoded samples there are the ones that conversion
// gave; the span is widened to whole chroma samples of the picture's format, so no chroma
// sample outside it depends on a changed pixel. Touches nothing but the buffers it is given.
#pragma once

#include "ffutil.h"

#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace fxhost::media {

// Columns [x0, x1) of rows [y0, y1); empty when nothing changed.
struct Span {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool empty() const { return x1 <= x0 || y1 <= y0; }
    bool operator==(const Span&) const = default;
};

// Rows of `width` 32-bit pixels, `rowBytes` apart.
struct ArgbRows {
    const std::uint8_t* base;
    std::ptrdiff_t rowBytes;
};

// Where `rendered` differs from `given`, aligned to the chroma grid of `format`.
Span ChangedSpan(ArgbRows rendered, ArgbRows given, int width, int height, AVPixelFormat format);

// `from` turned `rotation` degrees clockwise into `to`, a picture of the same format and
// the turned size. False when it is not one or when the format's chroma cannot be turned so
// (4:2:2 on its side); `to` is then to be converted whole.
bool TurnPicture(const AVFrame& from, int rotation, AVFrame& to);

// Whether a picture of this format can take a converted span in place of its own samples:
// planar or semi-planar YUV, neither palettes nor bitstreams nor hardware frames.
bool TakesSpans(AVPixelFormat format);

// Converts spans of ARGB into a YUV picture, with the matrix and range the whole-frame
// conversion uses; its scaler is kept while the span's size stays the same.
class SpanConverter {
  public:
    SpanConverter(AVPixelFormat format, int swsMatrix, bool fullRange)
        : format_(format), matrix_(swsMatrix), fullRange_(fullRange) {}
    // False when no scaler can be made for the span.
    bool convert(ArgbRows pixels, const Span& span, AVFrame& picture);

  private:
    AVPixelFormat format_;
    int matrix_;
    bool fullRange_;
    SwsPtr sws_;
    int width_ = 0, height_ = 0;
};

} // namespace fxhost::media
