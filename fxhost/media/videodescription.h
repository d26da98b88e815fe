// videodescription.h - what is known of a video's picture beyond its pixels.
//
// Owns: VideoDescription, filled by the frame source from the input and handed to the
// writer, which describes its output the same way (one set of fields for both ends).
#pragma once

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

namespace fxhost::media {

// What the output needs to know of the input's picture to describe its own the same way.
struct VideoDescription {
    AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    AVPixelFormat format = AV_PIX_FMT_NONE; // as decoded
    int bitDepth = 8;
    AVRational sampleAspect{0, 1}; // of the upright picture; 0/1 when unknown
    AVFieldOrder fieldOrder = AV_FIELD_UNKNOWN;
    int rotation = 0; // degrees clockwise that turned the picture upright: 0, 90, 180, 270
};

} // namespace fxhost::media
