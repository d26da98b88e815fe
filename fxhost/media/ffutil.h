// ffutil.h - small helpers around FFmpeg's C API for fxhost's media code.
//
// Owns: RAII holders for FFmpeg's objects, the text of FFmpeg's error codes and the
// swscale matrix of a colour description, and setting a converter's matrices and ranges.
// Promises: every holder frees its object exactly once with the matching FFmpeg call.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

namespace fxhost::media {

inline std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

struct FormatInputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecCloser {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwrFreer {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct SwsFreer {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct FifoFreer {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};

using InputPtr = std::unique_ptr<AVFormatContext, FormatInputCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFreer>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoFreer>;

// The swscale matrix of a colour description. Unspecified is BT.601, as swscale (and so
// the ffmpeg command) takes it.
inline int SwsMatrixOf(AVColorSpace cs) {
    switch (cs) {
    case AVCOL_SPC_BT709:
        return SWS_CS_ITU709;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return SWS_CS_BT2020;
    case AVCOL_SPC_FCC:
        return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M:
        return SWS_CS_SMPTE240M;
    default:
        return SWS_CS_DEFAULT;
    }
}

// A converter from samples of one swscale matrix and range to another's, with brightness,
// contrast and saturation left as they are. ARGB is SWS_CS_DEFAULT in full range.
inline void SetConversion(SwsContext* c, int fromMatrix, bool fromFull, int toMatrix,
                          bool toFull) {
    sws_setColorspaceDetails(c, sws_getCoefficients(fromMatrix), fromFull ? 1 : 0,
                             sws_getCoefficients(toMatrix), toFull ? 1 : 0, 0, 1 << 16, 1 << 16);
}

inline FramePtr NewFrame() {
    return FramePtr(av_frame_alloc());
}
inline PacketPtr NewPacket() {
    return PacketPtr(av_packet_alloc());
}

} // namespace fxhost::media
