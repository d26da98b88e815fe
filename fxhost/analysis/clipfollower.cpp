// clipfollower.cpp - the forward pass, and the backward pass in runs of decoded frames.
#include "clipfollower.h"

#include <algorithm>

namespace fxhost::analysis {

namespace {

// Frames decoded at once for the backward pass: one seek per run, and at 640 x 360 about
// 20 MB of frames held.
constexpr std::int64_t kBackwardRun = 32;

} // namespace

std::vector<FollowStep> FollowThroughClip(FrameReader& reader, std::int64_t start,
                                          const cv::Rect2d& box, FollowerKind kind,
                                          const std::function<void()>& onFrame) {
    const std::int64_t count = reader.frameCount();
    std::vector<FollowStep> steps(static_cast<std::size_t>(count));
    const cv::Mat first = reader.read(start);
    {
        RegionFollower forward(kind);
        steps[std::size_t(start)] = forward.init(first, box);
        onFrame();
        for (std::int64_t i = start + 1; i < count; ++i) {
            steps[std::size_t(i)] = forward.update(reader.read(i));
            onFrame();
        }
    }
    RegionFollower backward(kind);
    backward.init(first, box);
    std::vector<cv::Mat> run;
    for (std::int64_t end = start; end > 0;) {
        const std::int64_t begin = std::max<std::int64_t>(0, end - kBackwardRun);
        run.clear();
        for (std::int64_t i = begin; i < end; ++i) {
            run.push_back(reader.read(i));
        }
        for (std::int64_t i = end - 1; i >= begin; --i) {
            steps[std::size_t(i)] = backward.update(run[std::size_t(i - begin)]);
            onFrame();
        }
        end = begin;
    }
    return steps;
}

} // namespace fxhost::analysis
