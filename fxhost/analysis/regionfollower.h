// regionfollower.h - one subject followed from frame to frame, failing safe.
//
// Owns: RegionFollower, an OpenCV tracker (CSRT or KCF) on one subject with a check of its
// own on every answer, and the region to hide that follows from it. Promises:
// - init() takes a frame and the subject's box in its pixels (inside the frame); every
//   update() on the next frame gives the region to hide there, a confidence 0..1, and
//   whether a person should look at the frame.
// - The region is the tracker's box with a margin (a share of its size past each side, and two
//   pixels), so that a box a few pixels off still covers the subject. An answer is trusted only when the box still looks like the subject
//   (its picture correlates with the subject's as first seen or as last trusted) and most of
//   it lies in the frame.
// - Where the answer is not trusted, the region holds its last trusted place and grows on
//   every frame by at least the subject's recent speed (it never shrinks), the frame is
//   marked for review, and the subject is looked for around that place; when it is found
//   again the tracker starts over there and the frames are trusted again.
#pragma once

#include <opencv2/core.hpp>

#include <memory>

namespace fxhost::analysis {

enum class FollowerKind { Csrt, Kcf };

struct FollowStep {
    cv::Rect2d region;     // what to hide, in frame pixels (may reach past the frame)
    double confidence = 0; // 0..1
    bool review = false;   // the region was held rather than followed
};

class RegionFollower {
  public:
    static constexpr double kDefaultMargin = 0.15;
    explicit RegionFollower(FollowerKind kind = FollowerKind::Csrt,
                            double margin = kDefaultMargin);
    ~RegionFollower();
    RegionFollower(const RegionFollower&) = delete;
    RegionFollower& operator=(const RegionFollower&) = delete;

    // `box` with the margin a follower of that margin gives it.
    static cv::Rect2d Margined(const cv::Rect2d& box, double margin);

    // Starts on `frame` (8-bit BGR) with the subject at `box`; returns that frame's step.
    FollowStep init(const cv::Mat& frame, const cv::Rect2d& box);
    // The next frame (the same size); init() must have been called.
    FollowStep update(const cv::Mat& frame);

  private:
    struct State;
    std::unique_ptr<State> s_;
};

} // namespace fxhost::analysis
