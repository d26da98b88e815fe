// writer.h - encoding and writing the rendered clip.
//
// Owns: MediaWriter, the output file with its video stream and optional audio stream, the
// encoders and the encoding thread. Promises:
// - The container follows the output's file name; the video codec is H.264 for .mp4,
//   .mov and .mkv unless one is named, else the container's default. Lossless output is
//   FFV1 in Matroska (FFVHUFF for frames under 4 pixels wide or high, which FFV1 does not
//   bring back), in the BGRA pixel format, so the rendered bytes come back exactly.
//   Audio is AAC, or PCM at the input's own depth for lossless output.
// - The output carries the input's colour description (matrix, range, primaries,
//   transfer), sample aspect ratio and field order, and the conversion from ARGB uses
//   that matrix and range. Inputs deeper than 8 bits get an output format of the same
//   depth when the encoder has one (else depthWarning() says so).
// - Pixels the plug-in leaves as it was given them come out as they were decoded (turned
//   upright), not converted to ARGB and back, when the decoded picture has the encoder's
//   pixel format, size and colour description: only the smallest rectangle around the
//   changed pixels is converted (keptpixels.h).
// - Frames are converted and encoded on a thread of their own, behind a bounded queue,
//   while the caller renders the next frame; pixel buffers are recycled, so memory does
//   not grow with the clip's length.
// - Everything is written to an OutputFile (outputfile.h) renamed to the output's name
//   only by finish(). A writer destroyed without finish() (a failure, a signal) removes
//   the temporary file: no half-written file ever carries the output's name.
// - Any failure is a HostError of kind Output naming the output file.
#pragma once

#include "videodescription.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavutil/frame.h>
#include <libavutil/channel_layout.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
#include <libavutil/samplefmt.h>
}

namespace fxhost::media {

using Tags = std::vector<std::pair<std::string, std::string>>;

struct Chapter {
    double start = 0, end = 0; // seconds on the output's timeline
    Tags tags;                 // its title, ...
};

struct ContainerTags {
    Tags tags; // title, creation_time, location, make, model, ...
    std::vector<Chapter> chapters;
};

// The input's container tags and chapters, the chapters moved to a clip that starts
// `clipStart` seconds into the file (those that end before it are left out).
ContainerTags ReadContainerTags(const std::filesystem::path& input, double clipStart);

struct OutputSettings {
    std::filesystem::path path;
    bool overwrite = false;
    std::string videoCodec; // empty: by file name
    bool lossless = false;
    std::string crf, preset; // the encoder's own options; empty: its defaults
    std::string pixelFormat; // empty: chosen by the encoder's list (see writer.cpp)
    int width = 0, height = 0;
    int rateNum = 30, rateDen = 1; // nominal, for the container
    int timeNum = 1, timeDen = 30; // the unit of pushVideo's timestamps, in seconds
    // The input's picture, described the same way in the output (its colours, aspect and
    // field order; its bit depth is kept where the encoder allows it).
    VideoDescription picture;
    bool audio = false;
    int sampleRate = 48000;
    int channels = 2;
    AVSampleFormat pcmHint = AV_SAMPLE_FMT_S16; // the input's depth, for lossless PCM
    // The container's tags and chapters, as the input has them (ReadContainerTags); the
    // muxer writes those its format has a place for, as ffmpeg's do.
    ContainerTags tags;
};

// The picture a rendered frame was made from: as decoded, and as the plug-in was given it
// (the conversion of `decoded` to ARGB, rows `rowBytes` apart, turned upright by the
// settings' picture.rotation).
struct SourcePicture {
    const AVFrame* decoded;
    const std::uint8_t* argb;
    std::ptrdiff_t rowBytes;
};

class MediaWriter {
  public:
    explicit MediaWriter(const OutputSettings& settings);
    ~MediaWriter();
    MediaWriter(const MediaWriter&) = delete;
    MediaWriter& operator=(const MediaWriter&) = delete;

    // The audio sample rate the encoder takes (the input's when the codec allows it).
    int sampleRate() const;
    // A buffer for one frame, 4 * width * height bytes of ARGB, tightly packed.
    std::vector<std::uint8_t> takeBuffer();
    // Converts a frame for the encoder on the calling thread and queues it at `timestamp`
    // (in timeNum/timeDen seconds; timestamps that do not increase are moved up to the
    // next free one); the buffer is kept for takeBuffer. Blocks while the queue is full;
    // throws if encoding has failed. With the frame's `source`, read only during the call,
    // the pixels the plug-in left as it was given them are the decoded ones.
    void pushVideo(std::vector<std::uint8_t>&& argb, std::int64_t timestamp,
                   const SourcePicture* source = nullptr);
    // Queues planar float samples: one plane per channel of the settings' `channels`, all of
    // one length.
    void pushAudio(std::vector<std::vector<float>>&& planes);
    // Flushes the encoders, writes the trailer and renames the file to its final name.
    void finish();
    const std::string& videoCodecName() const;
    // One line when the output cannot keep the input's bit depth, else empty.
    const std::string& depthWarning() const;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

} // namespace fxhost::media
