// detectfaces.cpp - fxhost detect --faces: searches on every Nth frame and at cuts, followers
// between them, follow-back for faces first found on a search, and the hold after a face is
// lost.
#include "detectfaces.h"

#include "TrackFile.h"
#include "facefinder.h"
#include "framereader.h"
#include "hosterror.h"
#include "regionfollower.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

namespace fxhost::analysis {

namespace {

namespace tt = tessera::tracks;

// A face found on a search overlapping a followed region by this much (intersection over
// union, margins included on both) is that subject found again.
constexpr double kSameFace = 0.3;
// Two followed regions overlapping by this much have drifted onto one face: one is dropped.
constexpr double kDuplicate = 0.5;
// Colour histograms of consecutive frames this far apart (Bhattacharyya distance) are a cut:
// in OpenCV's sample footage a cut measures 0.27 to 0.29 and any other frame under 0.1.
constexpr double kCut = 0.2;

// A small hue and saturation histogram of the frame, to tell a cut from motion.
cv::Mat Histogram(const cv::Mat& bgr) {
    cv::Mat small, hsv, hist;
    cv::resize(bgr, small, {64, 36}, 0, 0, cv::INTER_AREA);
    cv::cvtColor(small, hsv, cv::COLOR_BGR2HSV);
    const int channels[] = {0, 1}, bins[] = {16, 8};
    const float hue[] = {0, 180}, saturation[] = {0, 256};
    const float* ranges[] = {hue, saturation};
    cv::calcHist(&hsv, 1, channels, cv::Mat(), hist, 2, bins, ranges);
    cv::normalize(hist, hist, 1, 0, cv::NORM_L1);
    return hist;
}

struct Subject {
    int id = 0;
    std::unique_ptr<RegionFollower> follower;
    std::int64_t lastFound = 0;
    FollowStep step; // this frame's
    bool found = false;
};

// One pass over the clip, frame by frame, filling `track` in the analysis' pixels.
class FacePass {
  public:
    FacePass(const DetectRequest& rq, const FrameReader& reader, tt::Track& track)
        : rq_(rq), track_(track), finder_(Model(rq), rq.threshold, rq.smallFaces),
          holdFrames_(std::max<std::int64_t>(
              1, std::llround(rq.hold * reader.source().rateNum() /
                              std::max(1, reader.source().rateDen())))),
          w_(reader.width()), h_(reader.height()) {}

    // A cut lets the faces of the shot before go (what hid them would hide nothing now) and
    // searches the new shot at once.
    void frame(std::int64_t i, cv::Mat picture, bool last) {
        cv::Mat hist = Histogram(picture);
        const bool cut = !hist_.empty() &&
                         cv::compareHist(hist_, hist, cv::HISTCMP_BHATTACHARYYA) > kCut;
        hist_ = std::move(hist);
        if (cut) {
            subjects_.clear();
            recent_.clear();
        }
        for (Subject& s : subjects_) {
            s.step = s.follower->update(picture);
            s.found = false;
        }
        if (i >= nextSearch_ || cut || last) {
            search(i, picture);
            recent_.clear();
            nextSearch_ = i + rq_.every;
        }
        recent_.push_back(std::move(picture));
        for (const Subject& s : subjects_) {
            record(i, s.id, s.step);
        }
    }
    int faces() const { return nextId_ - 1; }

  private:
    static std::filesystem::path Model(const DetectRequest& rq) {
        std::filesystem::path model = rq.model.empty() ? DefaultFaceModel() : rq.model;
        if (model.empty()) {
            throw HostError(ErrorKind::Input,
                            "no face model: run scripts/install-face-model.sh, or name one with "
                            "--model");
        }
        return model;
    }

    RegionFollower* follow(const cv::Mat& picture, Subject& s, const FoundFace& face,
                           std::int64_t i) {
        s.follower = std::make_unique<RegionFollower>(FollowerKind::Csrt, rq_.margin);
        s.step = s.follower->init(picture, face.box);
        s.step.confidence = face.score;
        s.lastFound = i;
        s.found = true;
        return s.follower.get();
    }

    void search(std::int64_t i, const cv::Mat& picture);
    void followBack(std::int64_t i, const cv::Mat& picture, const FoundFace& face, int id);
    void record(std::int64_t i, int id, const FollowStep& step) {
        const cv::Rect2d& r = step.region;
        track_.frames[std::size_t(i)].regions.push_back(
            {id, r.x / w_, r.y / h_, r.width / w_, r.height / h_, step.confidence, step.review});
    }

    const DetectRequest& rq_;
    tt::Track& track_;
    FaceFinder finder_;
    const std::int64_t holdFrames_;
    const double w_, h_;
    std::vector<Subject> subjects_;
    std::vector<cv::Mat> recent_; // the last search's frame and those since, oldest first
    cv::Mat hist_;                // the last frame's
    std::int64_t nextSearch_ = 0;
    int nextId_ = 1;
};

void FacePass::search(std::int64_t i, const cv::Mat& picture) {
    const std::vector<FoundFace> faces = finder_.find(picture);
    std::vector<FoundFace> fresh;
    for (const FoundFace& face : faces) {
        const cv::Rect2d box = face.box & cv::Rect2d(0, 0, picture.cols, picture.rows);
        if (box.width < 2 || box.height < 2) {
            continue;
        }
        const FoundFace inside{box, face.score};
        Subject* best = nullptr;
        double bestOverlap = kSameFace;
        for (Subject& s : subjects_) {
            const double o = Overlap(s.step.region, RegionFollower::Margined(box, rq_.margin));
            if (!s.found && o >= bestOverlap) {
                best = &s, bestOverlap = o;
            }
        }
        if (best) {
            follow(picture, *best, inside, i);
        } else {
            fresh.push_back(inside);
        }
    }
    // Lost for longer than the hold, or drifted onto a face another region holds: dropped.
    std::erase_if(subjects_, [&](const Subject& s) {
        if (s.found) {
            return false;
        }
        return i - s.lastFound >= holdFrames_ ||
               std::any_of(subjects_.begin(), subjects_.end(), [&](const Subject& o) {
                   return o.found && Overlap(o.step.region, s.step.region) > kDuplicate;
               });
    });
    for (const FoundFace& face : fresh) {
        Subject s;
        s.id = nextId_++;
        follow(picture, s, face, i);
        followBack(i, picture, face, s.id);
        subjects_.push_back(std::move(s));
    }
}

// A face first found on frame i was maybe there on the frames since the last search, and on
// that search's own frame, where the finder may have missed it (half in the frame, turned).
void FacePass::followBack(std::int64_t i, const cv::Mat& picture, const FoundFace& face,
                          int id) {
    RegionFollower back(FollowerKind::Csrt, rq_.margin);
    back.init(picture, face.box);
    std::int64_t at = i;
    for (auto it = recent_.rbegin(); it != recent_.rend(); ++it) {
        record(--at, id, back.update(*it));
    }
}

void CheckRequest(const DetectRequest& rq) {
    if (rq.every < 1) {
        throw HostError(ErrorKind::Usage, "--every wants a whole number from 1");
    }
    if (!std::isfinite(rq.margin) || rq.margin < 0 || rq.margin > 2) {
        throw HostError(ErrorKind::Usage, "--margin wants a share of the face from 0 to 2");
    }
    if (!std::isfinite(rq.hold) || rq.hold < 0 || rq.hold > 3600) {
        throw HostError(ErrorKind::Usage, "--hold wants seconds from 0 to 3600");
    }
    if (!std::isfinite(rq.threshold) || rq.threshold <= 0 || rq.threshold >= 1) {
        throw HostError(ErrorKind::Usage, "--threshold wants a score between 0 and 1");
    }
}

// Each frame's regions in id order (a face followed back was recorded after the others).
void Tidy(tt::Track& track) {
    for (tt::TrackFrame& f : track.frames) {
        std::stable_sort(f.regions.begin(), f.regions.end(),
                         [](const tt::TrackRegion& a, const tt::TrackRegion& b) { return a.id < b.id; });
    }
}

} // namespace

DetectSummary DetectFaces(const DetectRequest& rq) {
    CheckRequest(rq);
    CheckOutput(rq.output, rq.input);
    FrameReader reader(rq.input, rq.analysisWidth);
    tt::Track track = ClipTrack(reader, rq.input);
    FacePass pass(rq, reader, track);
    media::Progress progress(rq.progress, reader.frameCount());
    const auto started = std::chrono::steady_clock::now();
    const std::int64_t count = reader.frameCount();
    for (std::int64_t i = 0; i < count; ++i) {
        if (rq.interrupted && rq.interrupted->load()) {
            throw HostError(ErrorKind::Interrupted, "interrupted");
        }
        pass.frame(i, reader.read(i), i + 1 == count);
        progress.update(i + 1);
    }
    progress.update(count, true);
    Tidy(track);
    WriteTrackOutput(track, rq.output, rq.input);
    DetectSummary done;
    done.frames = count;
    done.framesWithFaces = std::count_if(track.frames.begin(), track.frames.end(),
                                         [](const tt::TrackFrame& f) { return !f.regions.empty(); });
    done.faces = pass.faces();
    done.review = tt::ReviewFrameCount(track);
    done.reviewSpans = ReviewSpans(track);
    done.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return done;
}

} // namespace fxhost::analysis
