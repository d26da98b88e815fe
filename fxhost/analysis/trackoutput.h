// trackoutput.h - what the analysis commands write, and how they write it.
//
// Owns: TrackOutput (where and in which form a track goes: the track file, or MLT keyframes
// for tessera.so), the clip's part of a track, the closing line's list of frames to review,
// and writing. Needs no OpenCV, so that the command line can fill a TrackOutput.
// Promises: the output appears under its name only when complete (a temporary, flushed to
// disk, then a rename that never replaces what stands there without `overwrite`).
#pragma once

#include <filesystem>
#include <string>

namespace tessera::tracks {
struct Track;
}

namespace fxhost::analysis {

class FrameReader;

struct TrackOutput {
    std::filesystem::path file;
    bool mlt = false; // MLT keyframes for tessera.so instead of the track file
    int blockWidth = 10, blockHeight = 10, opacity = 0; // the MLT filter's other parameters
    bool overwrite = false;
};

// Refuses (HostError) an output that stands there without `overwrite`, or that is `input`.
void CheckOutput(const TrackOutput&, const std::filesystem::path& input);
// The clip's description and one frame (index and time) per frame of the clip, no regions.
tessera::tracks::Track ClipTrack(const FrameReader&, const std::filesystem::path& input);
// "3-9, 40, 51-60": the first few runs of frames with a region marked for review.
std::string ReviewSpans(const tessera::tracks::Track&);
// Writes the track (or its MLT document, naming `input` as the producer).
void WriteTrackOutput(const tessera::tracks::Track&, const TrackOutput&,
                      const std::filesystem::path& input);

} // namespace fxhost::analysis
