// regionfollower.cpp - the tracker, the check on its answers, and the hold-and-grow.
//
// The trackers say where the subject went but not how sure they are (CSRT and KCF in
// OpenCV 4.6 answer only found or not, and CSRT hardly ever says not). So every answer is
// checked against the subject's picture: a box that slid onto the background, onto
// something passing in front, or out of the frame stops looking like the subject.
#include "regionfollower.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/tracking.hpp>

#include <algorithm>
#include <cmath>
#include <optional>

namespace fxhost::analysis {

namespace {

// Pixels of margin around the tracker's box, beside the share of its size.
constexpr double kMarginPixels = 2;
// Likeness (normalised correlation, 0..1) an answer needs to be trusted, and the stricter
// one a subject found again by searching needs before the tracker starts over on it.
constexpr double kTrusted = 0.5, kFound = 0.7;
// Less of the box than this inside the frame, and what is left cannot vouch for it.
constexpr double kVisible = 0.6;
// A held region grows per frame by the subject's speed and this share of its size.
constexpr double kGrowth = 0.03;
// Likeness is measured on pictures at most this many pixels on a side: enough to tell the
// subject from what is around it, and cheap for a large box.
constexpr int kCompareSide = 96;

cv::Ptr<cv::Tracker> MakeTracker(FollowerKind kind) {
    if (kind == FollowerKind::Kcf) {
        cv::TrackerKCF::Params p;
        p.desc_pca = cv::TrackerKCF::GRAY | cv::TrackerKCF::CN;
        return cv::TrackerKCF::create(p);
    }
    return cv::TrackerCSRT::create();
}

cv::Rect2d Grown(const cv::Rect2d& r, double dx, double dy) {
    return {r.x - dx, r.y - dy, r.width + 2 * dx, r.height + 2 * dy};
}

cv::Point2d Centre(const cv::Rect2d& r) {
    return {r.x + r.width / 2, r.y + r.height / 2};
}

cv::Mat Gray(const cv::Mat& bgr) {
    cv::Mat gray;
    cv::cvtColor(bgr, gray, cv::COLOR_BGR2GRAY);
    return gray;
}

// How much the part of `box` inside the frame looks like `subject` scaled to the box.
double Likeness(const cv::Mat& gray, const cv::Rect& box, const cv::Mat& subject) {
    const cv::Rect inside = box & cv::Rect(0, 0, gray.cols, gray.rows);
    if (box.area() <= 0 || inside.area() < kVisible * box.area()) {
        return 0;
    }
    const double scale = std::min(1.0, double(kCompareSide) / std::max(box.width, box.height));
    const cv::Size size(std::max(4, int(std::lround(box.width * scale))),
                        std::max(4, int(std::lround(box.height * scale))));
    cv::Mat scaled;
    cv::resize(subject, scaled, size, 0, 0, cv::INTER_AREA);
    const double sx = double(size.width) / box.width, sy = double(size.height) / box.height;
    cv::Rect part(int(std::lround((inside.x - box.x) * sx)),
                  int(std::lround((inside.y - box.y) * sy)), int(std::lround(inside.width * sx)),
                  int(std::lround(inside.height * sy)));
    part &= cv::Rect(0, 0, size.width, size.height);
    if (part.width < 4 || part.height < 4) {
        return 0;
    }
    cv::Mat seen, result;
    cv::resize(gray(inside), seen, part.size(), 0, 0, cv::INTER_AREA);
    cv::matchTemplate(seen, scaled(part), result, cv::TM_CCOEFF_NORMED);
    const double v = result.at<float>(0, 0);
    return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0;
}

} // namespace

struct RegionFollower::State {
    FollowerKind kind;
    double margin = 0;
    cv::Ptr<cv::Tracker> tracker;
    cv::Mat first, recent; // the subject's picture when it was given, and when last sure
    cv::Rect2d trusted;    // the tracker's last trusted box
    cv::Point2d speed;     // pixels per frame, smoothed over the trusted frames
    cv::Rect2d held;       // the region while the answers are not trusted
    bool lost = false;
    int sinceRecent = 0;

    cv::Rect2d withMargin(const cv::Rect2d& r) const { return Margined(r, margin); }
    double likeness(const cv::Mat& gray, const cv::Rect& box) const {
        return std::max(Likeness(gray, box, first), Likeness(gray, box, recent));
    }
    // A box of about the last trusted size, no more than its own size away.
    bool plausible(const cv::Rect2d& box) const {
        const double w = box.width / trusted.width, h = box.height / trusted.height;
        const cv::Point2d d = Centre(box) - Centre(trusted);
        return w > 0.67 && w < 1.5 && h > 0.67 && h < 1.5 &&
               std::hypot(d.x, d.y) <= std::max(trusted.width, trusted.height);
    }
    FollowStep trust(const cv::Mat& gray, const cv::Rect& box, double likeness, bool moved);
    std::optional<std::pair<cv::Rect, double>> search(const cv::Mat& gray) const;
    void grow(const cv::Size& frame);
};

FollowStep RegionFollower::State::trust(const cv::Mat& gray, const cv::Rect& box, double c,
                                        bool moved) {
    const cv::Rect2d b(box);
    if (moved) {
        speed = 0.6 * speed + 0.4 * (Centre(b) - Centre(trusted));
    }
    trusted = b;
    lost = false;
    // A fresh picture follows a subject that changes slowly (turns, light); only a sure
    // answer, fully in the frame, may replace it, so that it cannot drift onto the background.
    const cv::Rect frame(0, 0, gray.cols, gray.rows);
    if (++sinceRecent >= 5 && c >= 0.8 && (box & frame) == box) {
        recent = gray(box).clone();
        sinceRecent = 0;
    }
    return {withMargin(b), c, false};
}

// The subject looked for in and around the held region, at its last trusted size and at the
// size it was given (a tracker's size estimate can wander while the subject's does not).
std::optional<std::pair<cv::Rect, double>>
RegionFollower::State::search(const cv::Mat& gray) const {
    const cv::Rect frame(0, 0, gray.cols, gray.rows);
    const cv::Rect window = cv::Rect(Grown(held, trusted.width / 2, trusted.height / 2)) & frame;
    const cv::Size sizes[] = {{int(std::lround(trusted.width)), int(std::lround(trusted.height))},
                              first.size()};
    std::optional<std::pair<cv::Rect, double>> best;
    for (const cv::Size& size : sizes) {
        if (window.width < size.width || window.height < size.height || size.area() <= 0) {
            continue;
        }
        for (const cv::Mat* picture : {&first, &recent}) {
            cv::Mat templ, result;
            cv::resize(*picture, templ, size, 0, 0, cv::INTER_AREA);
            cv::matchTemplate(gray(window), templ, result, cv::TM_CCOEFF_NORMED);
            double score = 0;
            cv::Point at;
            cv::minMaxLoc(result, nullptr, &score, nullptr, &at);
            if (std::isfinite(score) && (!best || score > best->second)) {
                best = std::make_pair(cv::Rect(at + window.tl(), size), score);
            }
        }
    }
    return best;
}

void RegionFollower::State::grow(const cv::Size& frame) {
    const double dx = std::abs(speed.x) + kGrowth * trusted.width + 1;
    const double dy = std::abs(speed.y) + kGrowth * trusted.height + 1;
    const cv::Rect2d bigger = Grown(held, dx, dy);
    // Past the frame's edges there is nothing to hide; the region keeps what lies inside.
    const cv::Rect2d inside = bigger & cv::Rect2d(0, 0, frame.width, frame.height);
    held = inside.area() > 0 ? inside : bigger;
}

cv::Rect2d RegionFollower::Margined(const cv::Rect2d& box, double margin) {
    return Grown(box, margin * box.width + kMarginPixels, margin * box.height + kMarginPixels);
}

RegionFollower::RegionFollower(FollowerKind kind, double margin)
    : s_(std::make_unique<State>()) {
    s_->kind = kind;
    s_->margin = margin;
}

RegionFollower::~RegionFollower() = default;

FollowStep RegionFollower::init(const cv::Mat& frame, const cv::Rect2d& box) {
    const cv::Rect b = cv::Rect(box) & cv::Rect(0, 0, frame.cols, frame.rows);
    s_->tracker = MakeTracker(s_->kind);
    s_->tracker->init(frame, b);
    s_->first = Gray(frame)(b).clone();
    s_->recent = s_->first;
    s_->trusted = b;
    s_->speed = {};
    s_->lost = false;
    s_->sinceRecent = 0;
    return {s_->withMargin(b), 1.0, false};
}

FollowStep RegionFollower::update(const cv::Mat& frame) {
    State& s = *s_;
    const cv::Mat gray = Gray(frame);
    double confidence = 0;
    if (!s.lost) {
        cv::Rect box;
        const bool ok = s.tracker->update(frame, box);
        confidence = ok ? s.likeness(gray, box) : 0;
        if (confidence >= kTrusted && s.plausible(box)) {
            return s.trust(gray, box, confidence, true);
        }
        s.lost = true;
        s.held = s.withMargin(s.trusted);
    }
    if (const auto found = s.search(gray); found && found->second >= kFound) {
        s.tracker = MakeTracker(s.kind);
        s.tracker->init(frame, found->first);
        return s.trust(gray, found->first, found->second, false);
    } else if (found) {
        confidence = std::max(confidence, found->second);
    }
    s.grow(frame.size());
    return {s.held, std::min(confidence, kTrusted) / 2, true};
}

} // namespace fxhost::analysis
