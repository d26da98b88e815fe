// TesseraFilter.h - one frei0r instance of the effect: its parameters, its own configuration
// record, and the rendering of one RGBA8888 frame.
//
// Owns: the parameter table (order, names, defaults: the interface that ffmpeg, GStreamer,
// MLT and Kdenlive see), the instance's configuration record (never the preferences file),
// and the conversion between the hosts' R,G,B,A bytes and the engine's A,R,G,B pixels.
// Promises:
// - A frame renders exactly as fxhost hands the same frame to the plug-in: colours as for an
//   opaque frame, the alpha of every pixel passed through unchanged.
// - Any parameter value (outside 0..1, infinite, NaN) renders without writing outside the
//   frame. Only the part of the frame that the region covers is converted; the rest is copied.
// - Instances share no state: several render at once on several threads.
// - With a track file (the string parameter after the seven numbers), each frame pixelates the
//   regions of the track's frame at the host's time, in the order of their ids, each exactly
//   as the effect with that one region would, the next drawn on the result. A track that
//   cannot be read hides the whole frame (one line on standard error), never nothing.
// - A failed engine assertion does not end the host's process: it is reported on standard
//   error and the output frame is the input frame.
#pragma once

#include "PluginDefines.h"
#include "TrackFile.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tessera::frei0r {

struct ParamInfo {
    const char* name;
    const char* explanation;
    double defaultValue;
};

enum Param : int { kLeft, kTop, kWidth, kHeight, kBlockWidth, kBlockHeight, kOpacity, kParamCount };
extern const std::array<ParamInfo, kParamCount> kParams;
// The track file's path: a string parameter after the numbers (ffmpeg passes them by position).
constexpr int kTrack = kParamCount;
constexpr int kAllParamCount = kParamCount + 1;
extern const ParamInfo kTrackParam;

// The largest frame side the engine's 16-bit coordinates hold.
constexpr unsigned kMaxSide = 32767;

class Filter {
  public:
    // Nil, with the reason in *why, for a size the engine cannot render.
    static std::unique_ptr<Filter> Make(unsigned width, unsigned height, std::string* why);

    // Out-of-range indices are ignored (set) or give 0 (get).
    void SetParam(int index, double value);
    double GetParam(int index) const;

    // The track file's path; read once per distinct value. Empty: no track.
    void SetTrack(const std::string& path);
    const std::string& TrackPath() const { return trackPath_; }

    // inframe and outframe hold width x height pixels, rows packed; they may be the same.
    // The frame at `seconds` from the clip's start picks the track's regions (without a
    // track, the region parameters hold on every frame).
    void Update(const std::uint32_t* inframe, std::uint32_t* outframe, double seconds = 0);

    // The record the parameters give (for tests and the host glue's comparisons).
    const pluginDataRec& Config() const { return config_; }

  private:
    Filter(unsigned width, unsigned height);
    void Render(const std::uint32_t* in, std::uint32_t* out);
    void RenderTrackFrame(const std::uint32_t* in, std::uint32_t* out, double seconds);

    int width_, height_;
    std::array<double, kParamCount> values_{};
    pluginDataRec config_{};
    std::vector<std::uint32_t> source_; // the source in A,R,G,B when the opacity step needs it
    std::vector<std::uint32_t> inCopy_; // the input, when the host renders in place
    std::vector<std::uint32_t> layer_;  // the regions drawn so far, input of the next one
    std::string trackPath_;
    tracks::Track track_;
    bool trackBroken_ = false; // set but unreadable: the whole frame is hidden
};

} // namespace tessera::frei0r
