// framereader.cpp - decoded ARGB frames turned into BGR images.
#include "framereader.h"

#include "hosterror.h"

#include <algorithm>
#include <cmath>
#include <opencv2/core.hpp>

namespace fxhost::analysis {

namespace {

cv::Mat ToBgr(const cv::Mat& argb) {
    cv::Mat bgr(argb.rows, argb.cols, CV_8UC3);
    const int fromTo[] = {3, 0, 2, 1, 1, 2}; // bytes A,R,G,B to B,G,R
    cv::mixChannels(&argb, 1, &bgr, 1, fromTo, 3);
    return bgr;
}

} // namespace

FrameReader::FrameReader(const std::filesystem::path& input, int maxWidth) : source_(input) {
    width_ = source_.width();
    height_ = source_.height();
    if (maxWidth > 0 && width_ > maxWidth) {
        height_ = std::max(1, int(std::lround(double(height_) * maxWidth / width_)));
        width_ = maxWidth;
    }
}

double FrameReader::time(std::int64_t index) const {
    const FrameSource::TimeBase tb = source_.timeBase();
    return double(source_.timestamp(index)) * tb.num / tb.den;
}

std::int64_t FrameReader::frameAtOrAfter(double seconds) const {
    std::int64_t lo = 0, hi = frameCount();
    // A time typed as a frame's start (rounded to the microsecond) still names that frame.
    const double target = seconds - 1e-6;
    while (lo < hi) {
        const std::int64_t mid = lo + (hi - lo) / 2;
        if (time(mid) < target) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

cv::Mat FrameReader::read(std::int64_t index) {
    // A frame the source keeps is converted where it lies; `shared` holds it until then.
    if (auto shared = source_.share(index, width_, height_, ScaleQuality::High)) {
        return ToBgr(cv::Mat(height_, width_, CV_8UC4, shared->base, size_t(shared->rowBytes)));
    }
    cv::Mat argb(height_, width_, CV_8UC4);
    const PixelTarget target{argb.data, std::ptrdiff_t(argb.step), width_, height_};
    if (!source_.fetch(index, target, ScaleQuality::High)) {
        throw HostError(ErrorKind::Input, source_.lastError());
    }
    return ToBgr(argb);
}

} // namespace fxhost::analysis
