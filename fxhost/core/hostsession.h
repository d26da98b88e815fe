// hostsession.h - one host talking to one loaded plug-in.
//
// Owns: the parameter block `_PluginParams` and the callback table `HYProcs` handed to
// the plug-in, the destination frame of each call, the frames handed out by GetFrame,
// the filter information, and a log of what the plug-in asked for. Frames come from a
// FrameSource.
//
// Promises to the plug-in (the behaviour it relies on from each callback):
// - NewPtrClear gives a zero-filled block from the toolbox's memory (so GetPtrSize works)
//   or null; DisposePtr frees it. NewPtr is served the same way.
// - GetFrame gives, on kPluginOK, a fresh 32-bit GWorld of exactly the requested size
//   holding the frame at the absolute index (alpha 255), a volume of 256 and a cookie; a
//   frame outside the source gives kPluginCantGetNeededFrame and a null GWorld.
// - ReleaseFrame gives the frame back. The GWorld is not freed then: the plug-in may still
//   dispose of it itself afterwards. The host frees what the plug-in left at the end of
//   the call, and learns of the plug-in's own disposal through the toolbox's dispose hook,
//   so no GWorld is ever freed twice.
// - Blit draws the source over the destination with opacity 0..255 (formula in blend.h).
// - MixAudio records the frame's level; GetFilterInfo gives the session's slider values
//   and fade lengths.
// Every callback can be made to fail with a chosen result code, for tests.
//
// Promises to its user: the lifecycle methods call `main` with the selectors in the order
// a clip is rendered and return the plug-in's result; the block, the destination pixels
// and the log are readable between calls. One session at a time calls into a plug-in,
// on one thread.
#pragma once

#include "HYPlugin.h"
#include "framesource.h"

#include <cstdint>
#include <list>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace fxhost {

class PluginBundle;

// What the command line (or a test) sets for a clip.
struct ClipSettings {
    float sliders[3] = {0.5f, 0.5f, 0.5f};
    SInt32 fadeInFrames = 0;
    SInt32 fadeOutFrames = 0;
    bool proxyOnly = false;
};

// Result codes forced on callbacks; kPluginOK means "behave normally".
struct ForcedFailures {
    HYPluginResult getFrame = kPluginOK;
    HYPluginResult releaseFrame = kPluginOK;
    HYPluginResult blit = kPluginOK;
    HYPluginResult mixAudio = kPluginOK;
    HYPluginResult getFilterInfo = kPluginOK;
    bool filterInfoNull = false;        // GetFilterInfo succeeds but hands out no record
    std::set<SInt32> newPtrFailSizes;   // NewPtrClear/NewPtr of these sizes give null
    std::set<SInt32> getFrameFailIndex; // GetFrame of these absolute indices fails
};

struct FrameRequestRecord {
    SInt32 index;
    SInt16 width, height;
    HYRefDVQuality quality;
    HYPluginResult result;
};

struct MixRecord {
    SInt32 frameIndex; // absolute index of the frame whose cookie was passed
    SInt16 level;
    HYPluginResult result;
};

struct BlitRecord {
    Rect srcRect, dstRect;
    SInt16 opacity;
    HYPluginResult result;
};

// What the callbacks saw since the log was last cleared.
struct CallbackLog {
    std::vector<FrameRequestRecord> frameRequests;
    std::vector<SInt32> releasedFrames; // absolute indices; -1 for a null cookie
    std::vector<MixRecord> mixes;
    std::vector<BlitRecord> blits;
    int filterInfoRequests = 0;
    int filterInfoReleases = 0;
    int badReleases = 0; // unknown or already released cookies, wrong filter records
    int allocations = 0; // blocks handed out by NewPtr / NewPtrClear
    int disposals = 0;   // blocks given back through DisposePtr
    int failedAllocations = 0;
    std::vector<SInt32> allocationSizes;
    int framesDisposedByPlugin = 0;
    int framesFreedByHost = 0;
};

class HostSession {
  public:
    HostSession(const PluginBundle& plugin, FrameSource& source);
    HostSession(HostSession&&) = delete;
    ~HostSession();

    ClipSettings& settings() { return settings_; }
    ForcedFailures& failures() { return failures_; }
    const CallbackLog& log() const { return log_; }
    void clearLog() {
        log_ = CallbackLog{};
        frameError_.clear();
    }
    FrameSource& source() { return source_; }

    // The size of the destination frame and of the frames the plug-in is asked to render.
    // Throws HostError (Input) beyond the interface's 16-bit coordinates (32767).
    void setFrameSize(int width, int height);
    int frameWidth() const { return width_; }
    int frameHeight() const { return height_; }

    // The lifecycle, one selector each; every method returns the plug-in's result.
    SInt32 getInfo(SInt32 selectedFrames);                    // kPlugGetInfo
    SInt32 begin(SInt32 startFrame, SInt32 frameCount);       // kPlugInitialize
    SInt32 frame(SInt32 renderFrame);                         // kPlugDoFrame
    SInt32 end();                                             // kPlugTerminate
    SInt32 placeholder(SInt32 startFrame, SInt32 frameCount); // kPlugFilePlaceHolder
    SInt32 customButton(SInt32 renderFrame);                  // kPlugCustomButtonClick
    // Any selector, with the block as it stands (for tests of the dispatcher).
    SInt32 call(HYPluginSelector selector, SInt32 which = 0);
    // Calls main with a null block.
    SInt32 callWithNullBlock(HYPluginSelector selector);

    _PluginParams& params() { return params_; }
    GWorldPtr destination() const { return destination_; }
    // The destination frame's pixels (bytes A, R, G, B), rows of rowBytes.
    const std::uint8_t* destinationPixels() const;
    std::ptrdiff_t destinationRowBytes() const;
    // Makes the caller's memory (frameHeight() rows of rowBytes >= 4 * frameWidth() bytes)
    // the destination of the following calls, so a renderer can hand the result on without
    // copying it. The memory stays the caller's and must outlive its use as destination;
    // setFrameSize() or another attachDestination() ends that use.
    void attachDestination(std::uint8_t* base, std::ptrdiff_t rowBytes);
    // Copies the destination frame into tightly packed ARGB rows (4 * width bytes each).
    void copyDestination(std::uint8_t* out, std::ptrdiff_t outRowBytes) const;

    // Frames handed out by GetFrame that the plug-in has not released.
    int framesOutstanding() const;
    // Why the last failing GetFrame failed (the source's reason), or empty.
    const std::string& lastFrameError() const { return frameError_; }

    // The callbacks, public so that the static table can reach them.
    struct Lease;
    HYPluginResult onGetFrame(SInt32 index, GWorldPtr* outFrame, SInt16 width, SInt16 height,
                              HYRefDVQuality quality, SInt16* outVolume, HYFrameCookie* outCookie);
    HYPluginResult onReleaseFrame(HYFrameCookie cookie);
    HYPluginResult onMixAudio(HYFrameCookie cookie, SInt16 level);
    HYPluginResult onGetFilterInfo(HYPluginFilterInfo** outInfo);
    HYPluginResult onReleaseFilterInfo(HYPluginFilterInfo* info);
    HYPluginResult onBlit(PixMapHandle source, PixMapHandle dest, const Rect* srcRect,
                          const Rect* dstRect, SInt16 opacity);
    Ptr onNewPtr(SInt32 size, bool clear);
    void onDisposePtr(Ptr block);
    void onFrameDisposed(GWorldPtr world);

  private:
    SInt32 invoke(_PluginParams* block, SInt32 which);
    void reclaimReleasedFrames();
    void prepareBlock(HYPluginSelector selector);

    HYPluginMainProc main_;
    FrameSource& source_;
    ClipSettings settings_;
    ForcedFailures failures_;
    CallbackLog log_;
    HYProcs procs_{};
    _PluginParams params_{};
    HYPluginFilterInfo filterInfo_{};
    bool filterInfoOut_ = false;
    GWorldPtr destination_ = nullptr;
    bool destinationAttached_ = false;
    int width_ = 0, height_ = 0;
    std::list<Lease*> leases_;
    std::string frameError_;
    int depth_ = 0; // nesting of calls into main
};

} // namespace fxhost
