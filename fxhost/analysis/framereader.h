// framereader.h - a clip's frames as OpenCV images, for the analysis commands.
//
// Owns: FrameReader, which decodes a video file through fxhost's own FFmpegFrameSource and
// hands each frame out as an 8-bit BGR cv::Mat, optionally downscaled. Promises: the frames,
// their count and their times are exactly those `fxhost render` sees (the same decoder, the
// same timestamps, the rotation applied, the input's colour matrix and range), so a region
// found on frame i of the analysis is the region of frame i of a render. Reading forward is
// sequential decoding; any other order seeks.
#pragma once

#include "videosource.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <filesystem>

namespace fxhost::analysis {

class FrameReader {
  public:
    // Frames wider than maxWidth are scaled down to maxWidth, keeping their shape; 0 keeps
    // the clip's size. Throws HostError (Input) when the file cannot be read.
    FrameReader(const std::filesystem::path& input, int maxWidth);

    // The analysis size (after downscaling) and the clip's own.
    int width() const { return width_; }
    int height() const { return height_; }
    int clipWidth() const { return source_.width(); }
    int clipHeight() const { return source_.height(); }
    std::int64_t frameCount() const { return source_.frameCount(); }
    const media::FFmpegFrameSource& source() const { return source_; }
    // Seconds from the first frame to frame `index`.
    double time(std::int64_t index) const;
    // The first frame that starts at or after `seconds`; frameCount() when none does.
    std::int64_t frameAtOrAfter(double seconds) const;

    // Frame `index` at the analysis size, in an image of its own. Throws HostError (Input).
    cv::Mat read(std::int64_t index);

  private:
    media::FFmpegFrameSource source_;
    int width_ = 0, height_ = 0;
};

} // namespace fxhost::analysis
