// keptpixels.cpp - the changed span of a rendered frame, the decoded picture turned upright,
// and the span's conversion alone.
#include "keptpixels.h"

#include "turn.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/common.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace fxhost::media {

namespace {

std::uint32_t PixelAt(const std::uint8_t* row, int x) {
    std::uint32_t p;
    std::memcpy(&p, row + std::ptrdiff_t(x) * 4, 4);
    return p;
}

int AlignDown(int v, int step) {
    return v / step * step;
}

} // namespace

Span ChangedSpan(ArgbRows rendered, ArgbRows given, int width, int height, AVPixelFormat format) {
    const auto rowOf = [](ArgbRows f, int y) { return f.base + y * f.rowBytes; };
    const auto same = [&](int y) {
        return std::memcmp(rowOf(rendered, y), rowOf(given, y), std::size_t(width) * 4) == 0;
    };
    // The first and last changed rows, each found from its own end: a frame changed all over
    // costs two short comparisons.
    Span s{width, 0, 0, height};
    while (s.y0 < height && same(s.y0)) {
        ++s.y0;
    }
    if (s.y0 == height) {
        return Span{};
    }
    while (s.y1 > s.y0 + 1 && same(s.y1 - 1)) {
        --s.y1;
    }
    // The columns: only those outside the span so far need looking at, and none once it is
    // the whole width.
    for (int y = s.y0; y < s.y1 && (s.x0 > 0 || s.x1 < width); ++y) {
        const std::uint8_t* a = rowOf(rendered, y);
        const std::uint8_t* b = rowOf(given, y);
        int left = 0;
        while (left < s.x0 && PixelAt(a, left) == PixelAt(b, left)) {
            ++left;
        }
        s.x0 = left;
        int right = width;
        while (right > s.x1 && PixelAt(a, right - 1) == PixelAt(b, right - 1)) {
            --right;
        }
        s.x1 = right;
    }
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    const int cw = d ? 1 << d->log2_chroma_w : 1, ch = d ? 1 << d->log2_chroma_h : 1;
    s.x0 = AlignDown(s.x0, cw);
    s.y0 = AlignDown(s.y0, ch);
    s.x1 = std::min(width, AlignDown(s.x1 + cw - 1, cw));
    s.y1 = std::min(height, AlignDown(s.y1 + ch - 1, ch));
    return s;
}

bool TurnPicture(const AVFrame& from, int rotation, AVFrame& to) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(from.format));
    const bool sideways = rotation == 90 || rotation == 270;
    if (!d || (sideways && d->log2_chroma_w != d->log2_chroma_h) || to.format != from.format ||
        to.width != (sideways ? from.height : from.width) ||
        to.height != (sideways ? from.width : from.height)) {
        return false;
    }
    bool done[4] = {};
    for (int c = 0; c < d->nb_components; ++c) {
        const AVComponentDescriptor& comp = d->comp[c];
        if (done[comp.plane]) {
            continue; // the second component of an interleaved chroma plane
        }
        done[comp.plane] = true;
        const bool chroma = c == 1 || c == 2;
        const int sw = chroma ? AV_CEIL_RSHIFT(from.width, d->log2_chroma_w) : from.width;
        const int sh = chroma ? AV_CEIL_RSHIFT(from.height, d->log2_chroma_h) : from.height;
        const std::uint8_t* src = from.data[comp.plane];
        std::uint8_t* dst = to.data[comp.plane];
        const int ss = from.linesize[comp.plane], ds = to.linesize[comp.plane];
        switch (comp.step) {
        case 1: TurnPlane<std::uint8_t>(src, ss, sw, sh, dst, ds, rotation); break;
        case 2: TurnPlane<std::uint16_t>(src, ss, sw, sh, dst, ds, rotation); break;
        case 4: TurnPlane<std::uint32_t>(src, ss, sw, sh, dst, ds, rotation); break;
        default: return false; // no planar format has other sample sizes
        }
    }
    return true;
}

bool TakesSpans(AVPixelFormat format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    constexpr auto kNot = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                          AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_FLOAT;
    return d && !(d->flags & kNot) && (d->flags & AV_PIX_FMT_FLAG_PLANAR || d->nb_components == 1);
}

bool SpanConverter::convert(ArgbRows pixels, const Span& span, AVFrame& picture) {
    const int w = span.x1 - span.x0, h = span.y1 - span.y0;
    if (!sws_ || w != width_ || h != height_) {
        sws_.reset(sws_getContext(w, h, AV_PIX_FMT_ARGB, w, h, format_, SWS_BICUBIC, nullptr,
                                  nullptr, nullptr));
        if (!sws_) {
            return false;
        }
        SetConversion(sws_.get(), SWS_CS_DEFAULT, true, matrix_, fullRange_);
        width_ = w;
        height_ = h;
    }
    const std::uint8_t* src[4] = {pixels.base + span.y0 * pixels.rowBytes + span.x0 * 4};
    const int srcStride[4] = {int(pixels.rowBytes)};
    std::uint8_t* dst[4] = {};
    int dstStride[4] = {};
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format_);
    for (int c = 0; c < d->nb_components; ++c) {
        const AVComponentDescriptor& comp = d->comp[c];
        if (dst[comp.plane] != nullptr) {
            continue; // the second component of an interleaved chroma plane
        }
        const bool chroma = c == 1 || c == 2;
        const int x = chroma ? span.x0 >> d->log2_chroma_w : span.x0;
        const int y = chroma ? span.y0 >> d->log2_chroma_h : span.y0;
        dst[comp.plane] = picture.data[comp.plane] +
                          std::ptrdiff_t(y) * picture.linesize[comp.plane] +
                          std::ptrdiff_t(x) * comp.step;
        dstStride[comp.plane] = picture.linesize[comp.plane];
    }
    return sws_scale(sws_.get(), src, srcStride, 0, h, dst, dstStride) > 0;
}

} // namespace fxhost::media
