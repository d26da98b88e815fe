// recordingsession.h - the host session as tests drive it.
//
// Owns: RecordingSession, a HostSession that logs every callback the plug-in makes
// (CallbackLog) and can make any of them fail with a chosen result code
// (ForcedFailures), in the way LevelDB's EnvWrapper lets tests stand between a database
// and its file system. Promises: with no failure forced, the plug-in sees exactly what
// the plain HostSession gives it; the log only watches. Not linked into fxhost itself
// (library fxhost_testing).
#pragma once

#include "hostsession.h"

#include <set>
#include <vector>

namespace fxhost {

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
    SInt32 frameIndex; // absolute index of the frame whose cookie was passed, or -1
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

class RecordingSession : public HostSession {
  public:
    using HostSession::HostSession;

    ForcedFailures& failures() { return failures_; }
    const CallbackLog& log() const { return log_; }
    void clearLog() { log_ = CallbackLog{}; }

    HYPluginResult onGetFrame(SInt32 index, GWorldPtr* outFrame, SInt16 width, SInt16 height,
                              HYRefDVQuality quality, SInt16* outVolume,
                              HYFrameCookie* outCookie) override;
    HYPluginResult onReleaseFrame(HYFrameCookie cookie) override;
    HYPluginResult onMixAudio(HYFrameCookie cookie, SInt16 level) override;
    HYPluginResult onGetFilterInfo(HYPluginFilterInfo** outInfo) override;
    HYPluginResult onReleaseFilterInfo(HYPluginFilterInfo* info) override;
    HYPluginResult onBlit(PixMapHandle source, PixMapHandle dest, const Rect* srcRect,
                          const Rect* dstRect, SInt16 opacity) override;
    Ptr onNewPtr(SInt32 size, bool clear) override;
    void onDisposePtr(Ptr block) override;

  protected:
    void frameDisposedByPlugin() override { ++log_.framesDisposedByPlugin; }
    void frameFreedByHost() override { ++log_.framesFreedByHost; }

  private:
    ForcedFailures failures_;
    CallbackLog log_;
};

} // namespace fxhost
