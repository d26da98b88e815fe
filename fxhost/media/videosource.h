// videosource.h - frames of a video file, for the host's GetFrame.
//
// Owns: FFmpegFrameSource, the video stream of one input file decoded with libavcodec and
// converted with libswscale to 32-bit ARGB (bytes A, R, G, B, alpha 255) at whatever size
// each request asks for; High quality scales bicubically, Low with the fast bilinear
// scaler. Promises:
// - Frame i is the i-th frame of the stream in presentation order (numbered from the
//   first frame's timestamp at the stream's frame rate).
// - Sequential requests decode straight through: a worker thread decodes and converts a
//   few frames ahead (bounded, so memory does not grow with the clip's length) while the
//   plug-in works. A request that is not the next frame seeks.
// - Opening decodes the first frame, so a file that cannot be read, has no video stream or
//   cannot be decoded is refused at once with a HostError of kind Input naming the file.
#pragma once

#include "framesource.h"

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace fxhost::media {

class FFmpegFrameSource final : public FrameSource {
  public:
    explicit FFmpegFrameSource(const std::filesystem::path& path);
    ~FFmpegFrameSource() override;

    int width() const override;
    int height() const override;
    std::int64_t frameCount() const override { return frameCount_; }
    int rateNum() const override { return rateNum_; }
    int rateDen() const override { return rateDen_; }
    // Seconds from the start of the file's timeline to frame 0.
    double firstFrameTime() const { return firstTime_; }

    bool fetch(std::int64_t index, const PixelTarget& target, ScaleQuality quality) override;
    const std::string& lastError() const override { return error_; }
    // Frames converted ahead are handed out in place (rows padded beyond 4 x width).
    std::optional<SharedFrame> share(std::int64_t index, int width, int height,
                                     ScaleQuality quality) override;

  private:
    struct Taken;
    bool take(std::int64_t index, int width, int height, ScaleQuality quality, Taken& out);

    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::int64_t frameCount_ = 0;
    int rateNum_ = 25, rateDen_ = 1;
    double firstTime_ = 0;
    std::string error_;
};

// How many errors FFmpeg's decoders have reported in this process so far (damaged packets
// or frames that they decoded as far as they could). Counted whatever FFmpeg's log level.
std::int64_t DecoderErrorCount();

} // namespace fxhost::media
