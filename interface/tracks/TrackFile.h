// TrackFile.h - the track file: per frame of a clip, the regions to pixelate.
//
// Owns: reading, checking and writing the JSON file that the analysis commands write and
// the renderers read (format "tessera-track", version 1; docs/track-format.md), and the
// MLT document that applies one track to tessera.so's parameters as keyframes.
// Promises: a file is either taken whole or refused with one line naming the file and what is
// wrong (TrackError); unknown keys are ignored; writing is atomic (no half-written file under
// the final name). No Qt, no OpenCV, no FFmpeg: the frei0r filter and fxhost both link it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tessera::tracks {

struct TrackRegion {
    int id = 0;
    double left = 0, top = 0, width = 0, height = 0;
    double confidence = 1;
    bool review = false;
};

struct TrackFrame {
    std::int64_t index = 0;
    double time = 0;
    std::vector<TrackRegion> regions;
};

struct TrackClip {
    std::string file;
    std::int64_t frames = 0;
    int width = 0, height = 0;
    int rateNum = 0, rateDen = 1;
};

struct Track {
    TrackClip clip;
    std::vector<TrackFrame> frames;
};

class TrackError : public std::runtime_error {
  public:
    using runtime_error::runtime_error;
};

// Throws TrackError naming `name`.
Track ParseTrack(std::string_view json, const std::string& name);
// Pretty-printed, keys in a stable order.
std::string FormatTrack(const Track&);
Track ReadTrackFile(const std::filesystem::path&);
// Atomic: a temporary file beside the target, flushed to disk, then renamed over it.
void WriteTrackFile(const Track&, const std::filesystem::path&);
// The frame of a host time in seconds: the last frame that starts at or before time plus half
// a frame (so that a host's rounded time still lands on its frame); nullptr if none.
const TrackFrame* FrameAtTime(const Track&, double seconds);
std::int64_t ReviewFrameCount(const Track&);

// An MLT document: `inputPath` as the producer, and one frei0r.tessera filter per region id,
// its left/top/width/height keyframed on every frame (width and height 0 on frames where
// the id has no region). blockW and blockH are thousandths of the frame, opacityPercent 0..100.
std::string FormatMltKeyframes(const Track&, const std::string& inputPath, int blockW, int blockH,
                               int opacityPercent);

} // namespace tessera::tracks
