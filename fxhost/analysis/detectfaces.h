// detectfaces.h - `fxhost detect --faces`: every face of a clip found and followed.
//
// Owns: DetectFaces, the whole command behind the command line: finding faces on every Nth
// frame, following each from frame to frame in between, and writing the track (or MLT
// keyframes). Needs no OpenCV, so that the command line can call it. Promises:
// - Every frame of the clip is in the track; each face has an id of its own for as long as
//   it is followed, and its region reaches `margin` of the face's size past each side.
// - No face is left bare between searches: a face is followed from frame to frame after it
//   is found, a face first found on a search is followed back to the search before, and the
//   last frame is always searched. A face no longer found stays hidden (its
//   region following it, or holding and growing where it cannot be followed) for `hold`
//   seconds; frames where a region was held rather than followed are marked for review. At a
//   cut the faces of the shot before are let go and the new shot is searched at once.
// - A bad request (no model, a bad value) is refused with a HostError before anything is
//   written; the output is written as trackoutput.h promises.
#pragma once

#include "progress.h"
#include "trackoutput.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

namespace fxhost::analysis {

struct DetectRequest {
    std::filesystem::path input;
    TrackOutput output;
    std::filesystem::path model; // empty: DefaultFaceModel()
    int every = 5;               // search for faces on every Nth frame
    double margin = 0.25;        // of the face's size, past each side
    double hold = 1.0;           // seconds a face no longer found stays hidden
    double threshold = 0.5;      // the model's score a face needs
    bool smallFaces = false;     // search overlapping tiles of the frame too
    int analysisWidth = 640;     // frames wider are searched and followed downscaled; 0: never
    media::ProgressMode progress = media::ProgressMode::Auto;
    const std::atomic<bool>* interrupted = nullptr;
};

struct DetectSummary {
    std::int64_t frames = 0;
    std::int64_t framesWithFaces = 0;
    int faces = 0;           // ids given
    std::int64_t review = 0; // frames marked for review
    std::string reviewSpans;
    double seconds = 0;
};

DetectSummary DetectFaces(const DetectRequest& request);

} // namespace fxhost::analysis
