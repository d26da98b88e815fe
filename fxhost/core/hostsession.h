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
// - MixAudio records the frame's level (mixedLevel); GetFilterInfo gives the session's
//   slider values and fade lengths.
// The callbacks are virtual, so that a wrapper can watch them or make them fail: the
// tests' RecordingSession (recordingsession.h) does both; the host itself needs neither.
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

class HostSession {
  public:
    HostSession(const PluginBundle& plugin, FrameSource& source);
    // A plug-in whose `main` the caller found itself (a build that loads no Info.plist
    // opens the executable with dlopen).
    HostSession(HYPluginMainProc entry, FrameSource& source);
    HostSession(HostSession&&) = delete;
    virtual ~HostSession();

    ClipSettings& settings() { return settings_; }
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

    // What the last call into the plug-in did (each call starts afresh):
    // - the level (256: full) at which it mixed the sound of the frame at absolute index
    //   `frameIndex` through MixAudio, if it did;
    std::optional<SInt16> mixedLevel(SInt32 frameIndex) const;
    // - the result of its last GetFrame, if it asked for one;
    std::optional<HYPluginResult> lastGetFrameResult() const { return lastGetFrame_; }
    // - why its last failing GetFrame failed (the source's reason), or empty.
    const std::string& lastFrameError() const { return frameError_; }

    // The callbacks, public so that the static table can reach them.
    struct Lease;
    virtual HYPluginResult onGetFrame(SInt32 index, GWorldPtr* outFrame, SInt16 width,
                                      SInt16 height, HYRefDVQuality quality, SInt16* outVolume,
                                      HYFrameCookie* outCookie);
    virtual HYPluginResult onReleaseFrame(HYFrameCookie cookie);
    virtual HYPluginResult onMixAudio(HYFrameCookie cookie, SInt16 level);
    virtual HYPluginResult onGetFilterInfo(HYPluginFilterInfo** outInfo);
    virtual HYPluginResult onReleaseFilterInfo(HYPluginFilterInfo* info);
    virtual HYPluginResult onBlit(PixMapHandle source, PixMapHandle dest, const Rect* srcRect,
                                  const Rect* dstRect, SInt16 opacity);
    virtual Ptr onNewPtr(SInt32 size, bool clear);
    virtual void onDisposePtr(Ptr block);
    void onFrameDisposed(GWorldPtr world);

  protected:
    // For wrappers: the absolute index of the frame a cookie stands for, if it is one the
    // host handed out (released or not).
    std::optional<SInt32> leaseIndex(HYFrameCookie cookie) const;
    // Told when a frame's GWorld is freed: by the plug-in itself, or by the host after the
    // call in which the plug-in released it.
    virtual void frameDisposedByPlugin() {}
    virtual void frameFreedByHost() {}

  private:
    SInt32 invoke(_PluginParams* block, SInt32 which);
    void reclaimReleasedFrames();
    void prepareBlock(HYPluginSelector selector);

    HYPluginMainProc main_;
    FrameSource& source_;
    ClipSettings settings_;
    std::vector<std::pair<SInt32, SInt16>> mixes_; // of the current call: frame, level
    std::optional<HYPluginResult> lastGetFrame_;
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
