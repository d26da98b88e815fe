// trackregion.h - `fxhost track`: a region drawn on one frame, followed through the clip.
//
// Owns: TrackRegion, the whole command behind the command line: checking the request,
// following the region, and writing the track file (or MLT keyframes). This header needs no
// OpenCV, so that the command line can call it without seeing the analysis' libraries.
// Promises:
// - A bad request (a region not wholly inside the frame, an empty or non-finite one, a frame
//   or time outside the clip) is refused with a HostError (Usage) before anything is written.
// - The output is written as trackoutput.h promises, and only when the whole clip is done.
// - Every frame of the clip has the region, its confidence and its review mark; a frame whose
//   region was held rather than followed is marked for review.
#pragma once

#include "progress.h"
#include "trackoutput.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace fxhost::analysis {

enum class TrackerChoice { Csrt, Kcf };

struct TrackRequest {
    std::filesystem::path input;
    TrackOutput output;
    double left = 0, top = 0, width = 0, height = 0; // fractions of the frame
    std::optional<std::int64_t> frame;               // the frame the region was drawn on
    std::optional<double> startTime;                 // or its time, seconds from frame 0
    TrackerChoice tracker = TrackerChoice::Csrt;
    int analysisWidth = 640; // frames wider are followed downscaled to this width; 0: never
    media::ProgressMode progress = media::ProgressMode::Auto;
    const std::atomic<bool>* interrupted = nullptr;
};

struct TrackSummary {
    std::int64_t frames = 0;
    std::int64_t review = 0; // frames marked for review
    std::string reviewSpans; // the first few of them as "12-19, 40" (empty when none)
    double seconds = 0;      // following the region, decoding included
};

TrackSummary TrackRegion(const TrackRequest& request);

} // namespace fxhost::analysis
