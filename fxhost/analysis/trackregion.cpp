// trackregion.cpp - fxhost track: the request checked, the region followed, the file written.
#include "trackregion.h"

#include "TrackFile.h"
#include "clipfollower.h"
#include "framereader.h"
#include "hosterror.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

namespace fxhost::analysis {

namespace {

namespace tt = tessera::tracks;

// Below this many pixels on a side at the downscaled size, a region is followed at the
// clip's own size: a tracker needs some picture to hold on to.
constexpr int kSmallSide = 24;
// Below this at the clip's own size there is nothing to follow.
constexpr int kLeastSide = 4;

[[noreturn]] void Refuse(const std::string& why) {
    throw HostError(ErrorKind::Usage, why);
}

void CheckRegion(const TrackRequest& rq) {
    const double v[] = {rq.left, rq.top, rq.width, rq.height};
    for (double x : v) {
        if (!std::isfinite(x)) {
            Refuse("--region wants four finite numbers L,T,W,H");
        }
    }
    if (rq.width <= 0 || rq.height <= 0) {
        Refuse("--region is empty: its width and height must be more than 0");
    }
    constexpr double slack = 1e-9; // 0.7 + 0.3 is a hair over 1 in binary
    if (rq.left < -slack || rq.top < -slack || rq.left + rq.width > 1 + slack ||
        rq.top + rq.height > 1 + slack) {
        Refuse("--region must lie inside the frame (L and T from 0, L+W and T+H at most 1)");
    }
}

std::int64_t StartFrame(const TrackRequest& rq, const FrameReader& reader) {
    const std::int64_t count = reader.frameCount();
    if (rq.frame) {
        if (*rq.frame < 0 || *rq.frame >= count) {
            Refuse("--frame " + std::to_string(*rq.frame) + " is outside the clip (0.." +
                   std::to_string(count - 1) + ")");
        }
        return *rq.frame;
    }
    const std::int64_t at = reader.frameAtOrAfter(rq.startTime.value_or(0));
    if (at >= count) {
        Refuse("-ss " + std::to_string(*rq.startTime) + " is past the clip's last frame");
    }
    return at;
}

cv::Rect2d PixelBox(const TrackRequest& rq, const FrameReader& reader) {
    const double w = reader.width(), h = reader.height();
    return {rq.left * w, rq.top * h, rq.width * w, rq.height * h};
}

tt::Track ToTrack(const std::vector<FollowStep>& steps, const FrameReader& reader,
                  const std::filesystem::path& input) {
    tt::Track track = ClipTrack(reader, input);
    const double w = reader.width(), h = reader.height();
    for (std::size_t i = 0; i < steps.size() && i < track.frames.size(); ++i) {
        const FollowStep& s = steps[i];
        track.frames[i].regions.push_back({1, s.region.x / w, s.region.y / h,
                                           s.region.width / w, s.region.height / h,
                                           s.confidence, s.review});
    }
    return track;
}

} // namespace

TrackSummary TrackRegion(const TrackRequest& rq) {
    CheckRegion(rq);
    CheckOutput(rq.output, rq.input);
    auto reader = std::make_unique<FrameReader>(rq.input, rq.analysisWidth);
    const std::int64_t start = StartFrame(rq, *reader);
    cv::Rect2d box = PixelBox(rq, *reader);
    if (std::min(box.width, box.height) < kSmallSide && reader->width() < reader->clipWidth()) {
        reader = std::make_unique<FrameReader>(rq.input, 0);
        box = PixelBox(rq, *reader);
    }
    if (std::min(box.width, box.height) < kLeastSide) {
        Refuse("--region is too small to follow: " + std::to_string(int(box.width)) + " x " +
               std::to_string(int(box.height)) + " pixels (at least " + std::to_string(kLeastSide) +
               " on a side)");
    }
    media::Progress progress(rq.progress, reader->frameCount());
    std::int64_t done = 0;
    const auto started = std::chrono::steady_clock::now();
    const auto onFrame = [&] {
        if (rq.interrupted && rq.interrupted->load()) {
            throw HostError(ErrorKind::Interrupted, "interrupted");
        }
        progress.update(++done);
    };
    const FollowerKind kind =
        rq.tracker == TrackerChoice::Kcf ? FollowerKind::Kcf : FollowerKind::Csrt;
    const auto steps = FollowThroughClip(*reader, start, box, kind, onFrame);
    progress.update(done, true);
    const tt::Track track = ToTrack(steps, *reader, rq.input);
    WriteTrackOutput(track, rq.output, rq.input);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return {track.clip.frames, tt::ReviewFrameCount(track), ReviewSpans(track), seconds};
}

} // namespace fxhost::analysis
