// videosource.h - frames of a video file, for the host's GetFrame.
//
// Owns: FFmpegFrameSource, the video stream of one input file decoded with libavcodec and
// converted with libswscale to 32-bit ARGB (bytes A, R, G, B, alpha 255) at whatever size
// each request asks for; High quality scales bicubically, Low with the fast bilinear
// scaler. Promises:
// - Frame i is the i-th frame the decoder delivers, in presentation order: every frame of
//   the stream once, whatever its timestamps (variable frame rates, gaps). timestamp(i) is
//   its own presentation time; frames are counted once, without decoding, when the source
//   opens (memory: one timestamp per frame).
// - The conversion to ARGB uses the frame's own colour matrix (BT.601, BT.709, BT.2020...)
//   and range (limited or full); a frame with a display rotation (a portrait phone clip)
//   is turned upright first, so width() and height() are the picture as it is shown.
// - Sequential requests decode straight through: a worker thread decodes and converts a
//   few frames ahead (bounded, so memory does not grow with the clip's length) while the
//   plug-in works. A request that is not the next frame seeks.
// - Opening decodes the first frame, so a file that cannot be read, has no video stream or
//   cannot be decoded is refused at once with a HostError of kind Input naming the file.
//   A file that ends before the frames it announces is rendered as far as it goes:
//   announcedFrames() tells how many it announced, inputEnded() whether a request failed
//   only because the input ended.
#pragma once

#include "ffutil.h"
#include "framesource.h"
#include "videodescription.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace fxhost::media {

class FFmpegFrameSource final : public FrameSource {
  public:
    explicit FFmpegFrameSource(const std::filesystem::path& path);
    ~FFmpegFrameSource() override;

    // The upright picture's size, as the first frame gave it.
    int width() const override { return width_; }
    int height() const override { return height_; }
    std::int64_t frameCount() const override { return frameCount_; }
    int rateNum() const override { return rateNum_; }
    int rateDen() const override { return rateDen_; }
    TimeBase timeBase() const override;
    std::int64_t timestamp(std::int64_t index) const override;
    // Seconds from the start of the file's timeline to frame 0.
    double firstFrameTime() const { return firstTime_; }
    // The number of frames the file announces (its index or its duration); more than
    // frameCount() when the file was cut short.
    std::int64_t announcedFrames() const { return announced_; }
    // True when the last failed request failed because the input has no more frames.
    bool inputEnded() const { return inputEnded_; }
    const VideoDescription& description() const { return description_; }

    bool fetch(std::int64_t index, const PixelTarget& target, ScaleQuality quality) override;
    const std::string& lastError() const override { return error_; }
    // Frames converted ahead are handed out in place (rows padded beyond 4 x width).
    std::optional<SharedFrame> share(std::int64_t index, int width, int height,
                                     ScaleQuality quality) override;

    // The last frame delivered, as decoded and as the plug-in was given it, for a writer
    // that keeps the pixels the plug-in left alone as they were decoded. Nothing unless that
    // frame was `index`, delivered at the upright picture's own size and at High quality
    // (then `argb` is exactly the conversion of `decoded`, turned by description().rotation).
    struct Delivered {
        std::shared_ptr<const AVFrame> decoded;
        SharedFrame argb;
    };
    std::optional<Delivered> delivered(std::int64_t index) const;

  private:
    struct Taken;
    SharedFrame keep(std::int64_t index, Taken& t);
    bool take(std::int64_t index, int width, int height, ScaleQuality quality, Taken& out);
    void scan(const std::filesystem::path& path);
    void openDecoder(const std::string& name);
    void startAt(const AVFrame& first);

    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::int64_t frameCount_ = 0, announced_ = 0;
    int rateNum_ = 25, rateDen_ = 1;
    int width_ = 0, height_ = 0;
    double firstTime_ = 0;
    bool inputEnded_ = false;
    VideoDescription description_;
    std::optional<Delivered> last_;
    std::int64_t lastIndex_ = -1;
    std::string error_;
};

// How many errors FFmpeg's decoders have reported in this process so far (damaged packets
// or frames that they decoded as far as they could). Counted whatever FFmpeg's log level.
std::int64_t DecoderErrorCount();

} // namespace fxhost::media
