// render.h - the render pipeline: one clip through a plug-in into an output file.
//
// Owns: Render, which ties a frame source, an audio source, the frame effect (the bundle
// through a host session, or a frei0r filter for a track) and a writer together, and its
// request and statistics. Promises: the plug-in is asked for its description, the clip begins,
// every frame goes through kPlugDoFrame in order and the clip ends; the destination
// frame of each call is encoded at the frame's timestamp; the sound of each frame's time
// span is mixed into the output at the level the plug-in passed to MixAudio (level/256),
// and is silence when it did not mix it (proxy renderings, failed frames). A result code
// other than OK stops the render with a HostError naming the code and the frame; a frame
// the input cannot deliver is reported as an input failure, except when the input simply
// ends early (a cut file): then the frames before are written and the stats say how many
// were expected. The output appears under its name only when everything succeeded. Each
// frame keeps its own timestamp, counted from the first frame rendered.
#pragma once

#include "frameeffect.h"
#include "framesource.h"
#include "hostsession.h"
#include "progress.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace fxhost::media {

struct RenderRequest {
    std::optional<std::filesystem::path> input; // none: the built-in generated clip
    std::filesystem::path output;
    std::filesystem::path plugin;
    std::optional<TrackRender> track; // set: tessera.so renders the track's regions instead
    ClipSettings clip;
    std::optional<std::pair<int, int>> size;
    // The frames: by index (FIRST:COUNT), or by time in seconds from the first frame
    // (-ss, -t or -to): the frames that start in [start, start + duration) or [start, end).
    std::int64_t first = 0;
    std::optional<std::int64_t> count;
    std::optional<double> startTime, duration, endTime;
    bool noAudio = false;
    // Leaves out the input's container tags and chapters (location, device, times, names).
    bool stripMetadata = false;
    bool overwrite = false;
    bool replaceInput = false; // OUTPUT may be INPUT itself
    std::string codec;
    std::string crf, preset, pixelFormat;
    bool lossless = false;
    ProgressMode progress = ProgressMode::Auto;
    const std::atomic<bool>* interrupted = nullptr;
};

struct RenderStats {
    std::int64_t frames = 0;   // rendered
    std::int64_t expected = 0; // that would have been rendered from a whole input
    double seconds = 0;
    bool incomplete() const { return frames < expected; }
};

RenderStats Render(const RenderRequest& request);

// The built-in clip: 10 s of 1280 x 720 at 30 fps, with a 48 kHz stereo tone.
constexpr int kBuiltInWidth = 1280, kBuiltInHeight = 720, kBuiltInFrames = 300, kBuiltInRate = 30;

} // namespace fxhost::media
