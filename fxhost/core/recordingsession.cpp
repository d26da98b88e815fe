// recordingsession.cpp - logging and forced failures around the host's callbacks.
#include "recordingsession.h"

namespace fxhost {

HYPluginResult RecordingSession::onGetFrame(SInt32 index, GWorldPtr* outFrame, SInt16 width,
                                            SInt16 height, HYRefDVQuality quality,
                                            SInt16* outVolume, HYFrameCookie* outCookie) {
    HYPluginResult r;
    const bool wellFormed = outFrame && outCookie && width >= 1 && height >= 1;
    if (wellFormed && (failures_.getFrame != kPluginOK || failures_.getFrameFailIndex.count(index))) {
        *outFrame = nullptr;
        *outCookie = nullptr;
        r = failures_.getFrame != kPluginOK ? failures_.getFrame
                                            : HYPluginResult(kPluginCantGetNeededFrame);
    } else {
        r = HostSession::onGetFrame(index, outFrame, width, height, quality, outVolume, outCookie);
    }
    log_.frameRequests.push_back({index, width, height, quality, r});
    return r;
}

HYPluginResult RecordingSession::onReleaseFrame(HYFrameCookie cookie) {
    const std::optional<SInt32> index = leaseIndex(cookie);
    const HYPluginResult r = HostSession::onReleaseFrame(cookie);
    if (cookie && r != kPluginOK) {
        ++log_.badReleases;
        return r;
    }
    log_.releasedFrames.push_back(cookie ? index.value_or(-1) : -1);
    return failures_.releaseFrame;
}

HYPluginResult RecordingSession::onMixAudio(HYFrameCookie cookie, SInt16 level) {
    const std::optional<SInt32> index = leaseIndex(cookie);
    if (index && failures_.mixAudio != kPluginOK) {
        log_.mixes.push_back({*index, level, failures_.mixAudio});
        return failures_.mixAudio;
    }
    const HYPluginResult r = HostSession::onMixAudio(cookie, level);
    log_.mixes.push_back({index.value_or(-1), level, r});
    return r;
}

HYPluginResult RecordingSession::onGetFilterInfo(HYPluginFilterInfo** outInfo) {
    ++log_.filterInfoRequests;
    if (outInfo && failures_.getFilterInfo != kPluginOK) {
        *outInfo = nullptr;
        return failures_.getFilterInfo;
    }
    if (outInfo && failures_.filterInfoNull) {
        *outInfo = nullptr;
        return kPluginOK;
    }
    return HostSession::onGetFilterInfo(outInfo);
}

HYPluginResult RecordingSession::onReleaseFilterInfo(HYPluginFilterInfo* info) {
    const HYPluginResult r = HostSession::onReleaseFilterInfo(info);
    ++(r == kPluginOK ? log_.filterInfoReleases : log_.badReleases);
    return r;
}

HYPluginResult RecordingSession::onBlit(PixMapHandle source, PixMapHandle dest,
                                        const Rect* srcRect, const Rect* dstRect, SInt16 opacity) {
    if (!source || !dest || !srcRect || !dstRect) {
        const HYPluginResult r = HostSession::onBlit(source, dest, srcRect, dstRect, opacity);
        log_.blits.push_back({{}, {}, opacity, r});
        return r;
    }
    log_.blits.push_back({*srcRect, *dstRect, opacity, failures_.blit});
    if (failures_.blit != kPluginOK) {
        return failures_.blit;
    }
    return HostSession::onBlit(source, dest, srcRect, dstRect, opacity);
}

Ptr RecordingSession::onNewPtr(SInt32 size, bool clear) {
    ++log_.allocations;
    log_.allocationSizes.push_back(size);
    Ptr p = failures_.newPtrFailSizes.count(size) ? nullptr : HostSession::onNewPtr(size, clear);
    if (!p) {
        ++log_.failedAllocations;
    }
    return p;
}

void RecordingSession::onDisposePtr(Ptr block) {
    if (block) {
        ++log_.disposals;
    }
    HostSession::onDisposePtr(block);
}

} // namespace fxhost
