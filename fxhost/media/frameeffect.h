// frameeffect.h - what the render loop asks of the effect, frame by frame.
//
// Owns: FrameEffect, the calls the render pipeline makes of whatever turns source frames
// into output frames, and its two makers: a plug-in bundle through the host session (the
// effect's own selectors, with its settings, fades and sound levels), and tessera.so hosted
// as a frei0r host does, which renders a track file's regions frame by frame. fxhost knows
// either plug-in only through its interface (the bundle's selectors; frei0r.h).
// Promises: the calls mean what HostSession's do (getInfo, begin, frame into the attached
// destination, end); a maker that cannot load its plug-in or its track throws a HostError of
// its kind before anything is written.
#pragma once

#include "framesource.h"
#include "hostsession.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace fxhost::media {

class FrameEffect {
  public:
    virtual ~FrameEffect() = default;
    virtual const std::string& name() const = 0; // for messages
    virtual SInt32 getInfo(SInt32 selectedFrames) = 0;
    virtual SInt32 begin(SInt32 startFrame, SInt32 frameCount) = 0;
    // Renders frame `renderFrame` of the selection into the attached A,R,G,B destination.
    virtual SInt32 frame(SInt32 renderFrame) = 0;
    virtual SInt32 end() = 0;
    virtual void setFrameSize(int width, int height) = 0; // also detaches the destination
    virtual void attachDestination(std::uint8_t* base, std::ptrdiff_t rowBytes) = 0;
    // The sound's level (256: as it came) for a frame, nothing for silence.
    virtual std::optional<SInt16> mixedLevel(SInt32 frameIndex) const = 0;
    // Why the last frame could not be had from the source, or empty.
    virtual const std::string& lastFrameError() const = 0;
};

std::unique_ptr<FrameEffect> MakeBundleEffect(const std::filesystem::path& bundle,
                                              const ClipSettings& clip, FrameSource& video);

struct TrackRender {
    std::filesystem::path track;  // the track file
    std::filesystem::path plugin; // tessera.so
    int blockW = 10, blockH = 10; // thousandths of the frame
    int opacity = 0;              // percent
};

// The frames from `first` to `first + count` of a clip of `clipFrames` frames, each with the
// regions of its frame of the track: a track of the whole clip (its frame i is the clip's
// frame i) or of the selection alone (its frame 0 is the first frame rendered).
std::unique_ptr<FrameEffect> MakeTrackEffect(const TrackRender& request, FrameSource& video,
                                             std::int64_t first, std::int64_t count,
                                             std::int64_t clipFrames, int width, int height,
                                             bool proxy);

// tessera.so for fxhost: ../lib/frei0r-1 from the program (the build tree, and cmake
// --install's prefix), then each folder of $FREI0R_PATH, then where frei0r hosts look
// (~/.frei0r-1/lib, /usr/local/lib/frei0r-1, /usr/lib/frei0r-1). The first that exists;
// else the first place, so that the error names it.
std::filesystem::path LocateTesseraFrei0r(const std::filesystem::path& selfDir);

} // namespace fxhost::media
