// pngwriter.cpp - PNG output for thumbnails.
#include "pngwriter.h"

#include "ffutil.h"
#include "hosterror.h"
#include "outputfile.h"

#include <cstdio>
#include <cstring>

namespace fxhost::media {

namespace fs = std::filesystem;

void WritePng(const fs::path& path, const std::uint8_t* argb, std::ptrdiff_t rowBytes, int width,
              int height, bool overwrite) {
    auto fail = [&](const std::string& why) {
        throw HostError(ErrorKind::Output, "cannot write '" + path.string() + "': " + why);
    };
    CheckOutputFree(path, overwrite);
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec) {
        fail("no PNG encoder");
    }
    CodecPtr enc(avcodec_alloc_context3(codec));
    enc->width = width;
    enc->height = height;
    enc->pix_fmt = AV_PIX_FMT_RGBA;
    enc->time_base = AVRational{1, 1};
    if (int r = avcodec_open2(enc.get(), codec, nullptr); r < 0) {
        fail(AvError(r));
    }
    FramePtr frame = NewFrame();
    frame->format = AV_PIX_FMT_RGBA;
    frame->width = width;
    frame->height = height;
    av_frame_get_buffer(frame.get(), 0);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* s = argb + y * rowBytes;
        std::uint8_t* d = frame->data[0] + std::ptrdiff_t(y) * frame->linesize[0];
        for (int x = 0; x < width; ++x, s += 4, d += 4) {
            d[0] = s[1];
            d[1] = s[2];
            d[2] = s[3];
            d[3] = s[0];
        }
    }
    PacketPtr pkt = NewPacket();
    if (avcodec_send_frame(enc.get(), frame.get()) < 0 ||
        avcodec_receive_packet(enc.get(), pkt.get()) < 0) {
        fail("PNG encoding failed");
    }
    OutputFile file(path, overwrite);
    FILE* f = std::fopen(file.temporary().c_str(), "wb");
    if (!f) {
        fail(std::strerror(errno));
    }
    const bool written =
        std::fwrite(pkt->data, 1, std::size_t(pkt->size), f) == std::size_t(pkt->size);
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        fail("write error");
    }
    file.commit();
}

} // namespace fxhost::media
