// hostsession.cpp - the host's side of the plug-in interface: the parameter block, the
// callbacks and the selector calls. See hostsession.h for what each callback promises.
#include "hostsession.h"

#include "MacMemory.h"
#include "QuickDraw.h"
#include "blend.h"
#include "hosterror.h"
#include "pluginbundle.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace fxhost {

// A frame handed out by GetFrame; its address is the cookie.
struct HostSession::Lease {
    HostSession* owner;
    SInt32 index;
    GWorldPtr world; // null once the plug-in disposed of it
    bool released = false;
    std::shared_ptr<void> pixels; // the source's memory under `world`, if it is shared
};

namespace {

// The allocation and blit callbacks carry no instance pointer; they are served by the
// session whose call into the plug-in is under way on this thread.
thread_local HostSession* tCurrent = nullptr;

Ptr CbNewPtr(SInt32 size) {
    return tCurrent ? tCurrent->onNewPtr(size, false) : ::NewPtr(size);
}
Ptr CbNewPtrClear(SInt32 size) {
    return tCurrent ? tCurrent->onNewPtr(size, true) : ::NewPtrClear(size);
}
void CbDisposePtr(Ptr block) {
    if (tCurrent) {
        tCurrent->onDisposePtr(block);
    } else {
        ::DisposePtr(block);
    }
}
HostSession* SessionOf(void* instance) {
    return static_cast<HostSession*>(instance);
}

HYPluginResult CbGetFrame(void* instance, SInt32 index, GWorldPtr* outFrame, SInt16 width,
                          SInt16 height, HYRefDVQuality quality, SInt16* outVolume,
                          HYFrameCookie* outCookie) {
    if (!instance) {
        return kPluginBadParams;
    }
    return SessionOf(instance)->onGetFrame(index, outFrame, width, height, quality, outVolume,
                                           outCookie);
}
HYPluginResult CbReleaseFrame(void* instance, HYFrameCookie cookie) {
    return instance ? SessionOf(instance)->onReleaseFrame(cookie)
                    : HYPluginResult(kPluginBadParams);
}
HYPluginResult CbMixAudio(void* instance, HYFrameCookie cookie, SInt16 level) {
    return instance ? SessionOf(instance)->onMixAudio(cookie, level)
                    : HYPluginResult(kPluginBadParams);
}
HYPluginResult CbGetFilterInfo(void* instance, HYPluginFilterInfo** outInfo) {
    return instance ? SessionOf(instance)->onGetFilterInfo(outInfo)
                    : HYPluginResult(kPluginBadParams);
}
HYPluginResult CbReleaseFilterInfo(void* instance, HYPluginFilterInfo* info) {
    return instance ? SessionOf(instance)->onReleaseFilterInfo(info)
                    : HYPluginResult(kPluginBadParams);
}
HYPluginResult CbBlit(PixMapHandle source, PixMapHandle dest, const Rect* srcRect,
                      const Rect* dstRect, SInt16 opacity) {
    if (tCurrent) {
        return tCurrent->onBlit(source, dest, srcRect, dstRect, opacity);
    }
    return kPluginBadParams;
}

void CbFrameDisposed(GWorldPtr world, void* refCon) {
    auto* lease = static_cast<HostSession::Lease*>(refCon);
    lease->owner->onFrameDisposed(world);
}

PixelImage ImageOf(PixMapHandle pm, Rect* bounds) {
    GetPixBounds(pm, bounds);
    return PixelImage{reinterpret_cast<std::uint8_t*>(GetPixBaseAddr(pm)), GetPixRowBytes(pm),
                      bounds->right - bounds->left, bounds->bottom - bounds->top};
}

} // namespace

HostSession::HostSession(const PluginBundle& plugin, FrameSource& source)
    : HostSession(plugin.entry(), source) {}

HostSession::HostSession(HYPluginMainProc entry, FrameSource& source)
    : main_(entry), source_(source) {
    procs_.NewPtr = CbNewPtr;
    procs_.NewPtrClear = CbNewPtrClear;
    procs_.DisposePtr = CbDisposePtr;
    procs_.GetFrame = CbGetFrame;
    procs_.ReleaseFrame = CbReleaseFrame;
    procs_.Blit = CbBlit;
    procs_.MixAudio = CbMixAudio;
    procs_.GetFilterInfo = CbGetFilterInfo;
    procs_.ReleaseFilterInfo = CbReleaseFilterInfo;
    params_.interfaceVersion = kHYInterfaceVersion;
    params_.instance = this;
    params_.procs = &procs_;
    if (source.width() > 0 && source.height() > 0) {
        setFrameSize(source.width(), source.height());
    }
}

HostSession::~HostSession() {
    // A clip left open is ended, so that the plug-in frees its per-clip record. It ends on
    // a frame of the session's own: attached memory may be freed by now (an unwinding
    // render frees its buffers before the session).
    if (params_.clientData) {
        try {
            if (destinationAttached_) {
                setFrameSize(width_, height_);
            }
            end();
        } catch (const std::exception&) {
            // No frame could be made: the record stays with the plug-in rather than a
            // frame over freed memory going to it.
        }
    }
    for (Lease* lease : leases_) {
        if (lease->world) {
            QDSetGWorldDisposeHook(lease->world, nullptr, nullptr);
            DisposeGWorld(lease->world);
        }
        delete lease;
    }
    DisposeGWorld(destination_);
}

void HostSession::setFrameSize(int width, int height) {
    if (width < 1 || height < 1 || width > 32767 || height > 32767) {
        throw HostError(ErrorKind::Input,
                        "frames of " + std::to_string(width) + "x" + std::to_string(height) +
                            " do not fit the plug-in's 16-bit coordinates (1..32767 pixels)");
    }
    if (destination_ && !destinationAttached_ && width == width_ && height == height_) {
        return;
    }
    Rect r{0, 0, SInt16(height), SInt16(width)};
    GWorldPtr world = nullptr;
    if (NewGWorld(&world, 32, &r, nullptr, nullptr, 0) != noErr || !world) {
        throw HostError(ErrorKind::Internal, "out of memory for a " + std::to_string(width) + "x" +
                                                 std::to_string(height) + " frame");
    }
    DisposeGWorld(destination_);
    destination_ = world;
    destinationAttached_ = false;
    width_ = width;
    height_ = height;
    params_.frame = destination_;
    params_.frameRect = r;
}

void HostSession::attachDestination(std::uint8_t* base, std::ptrdiff_t rowBytes) {
    Rect r{0, 0, SInt16(height_), SInt16(width_)};
    GWorldPtr world = nullptr;
    if (NewGWorldFromPtr(&world, k32ARGBPixelFormat, &r, nullptr, nullptr, 0,
                         reinterpret_cast<Ptr>(base), SInt32(rowBytes)) != noErr ||
        !world) {
        throw HostError(ErrorKind::Internal, "cannot make a destination frame over memory");
    }
    DisposeGWorld(destination_);
    destination_ = world;
    destinationAttached_ = true;
    params_.frame = world;
}

SInt32 HostSession::invoke(_PluginParams* block, SInt32 which) {
    if (depth_ == 0) {
        mixes_.clear();
        lastGetFrame_.reset();
        frameError_.clear();
    }
    HostSession* outer = tCurrent;
    tCurrent = this;
    ++depth_;
    const SInt32 result = main_(which, block);
    --depth_;
    tCurrent = outer;
    if (depth_ == 0) {
        reclaimReleasedFrames();
    }
    return result;
}

void HostSession::prepareBlock(HYPluginSelector selector) {
    params_.selector = selector;
    params_.instance = this;
    params_.procs = &procs_;
    params_.proxyOnly = settings_.proxyOnly ? 1 : 0;
    params_.frame = destination_;
    params_.frameRect = Rect{0, 0, SInt16(height_), SInt16(width_)};
}

SInt32 HostSession::call(HYPluginSelector selector, SInt32 which) {
    params_.selector = selector;
    return invoke(&params_, which);
}

SInt32 HostSession::callWithNullBlock(HYPluginSelector) {
    return invoke(nullptr, 0);
}

SInt32 HostSession::getInfo(SInt32 selectedFrames) {
    prepareBlock(kPlugGetInfo);
    params_.getInfo2.selectedFrames = selectedFrames;
    return invoke(&params_, 0);
}

SInt32 HostSession::begin(SInt32 startFrame, SInt32 frameCount) {
    prepareBlock(kPlugInitialize);
    params_.startFrame = startFrame;
    params_.frameCount = frameCount;
    params_.renderFrame = 0;
    return invoke(&params_, 0);
}

SInt32 HostSession::frame(SInt32 renderFrame) {
    prepareBlock(kPlugDoFrame);
    params_.renderFrame = renderFrame;
    return invoke(&params_, 0);
}

SInt32 HostSession::end() {
    prepareBlock(kPlugTerminate);
    return invoke(&params_, 0);
}

SInt32 HostSession::placeholder(SInt32 startFrame, SInt32 frameCount) {
    prepareBlock(kPlugFilePlaceHolder);
    params_.startFrame = startFrame;
    params_.frameCount = frameCount;
    // The placeholder runs a whole begin-frame-end on a copy of the block and frees the
    // per-clip record it finds there. Handing it an open clip's record would leave this
    // block holding a freed pointer, so the call sees none and the clip's record survives.
    void* openClip = params_.clientData;
    params_.clientData = nullptr;
    const SInt32 result = invoke(&params_, 0);
    params_.clientData = openClip;
    return result;
}

SInt32 HostSession::customButton(SInt32 renderFrame) {
    prepareBlock(kPlugCustomButtonClick);
    params_.renderFrame = renderFrame;
    return invoke(&params_, 0);
}

const std::uint8_t* HostSession::destinationPixels() const {
    return reinterpret_cast<const std::uint8_t*>(GetPixBaseAddr(GetGWorldPixMap(destination_)));
}

std::ptrdiff_t HostSession::destinationRowBytes() const {
    return GetPixRowBytes(GetGWorldPixMap(destination_));
}

void HostSession::copyDestination(std::uint8_t* out, std::ptrdiff_t outRowBytes) const {
    const std::uint8_t* base = destinationPixels();
    const std::ptrdiff_t rb = destinationRowBytes();
    for (int y = 0; y < height_; ++y) {
        std::memcpy(out + y * outRowBytes, base + y * rb, std::size_t(width_) * 4);
    }
}

std::optional<SInt16> HostSession::mixedLevel(SInt32 frameIndex) const {
    std::optional<SInt16> level;
    for (const auto& [index, l] : mixes_) {
        if (index == frameIndex) {
            level = l;
        }
    }
    return level;
}

std::optional<SInt32> HostSession::leaseIndex(HYFrameCookie cookie) const {
    const auto it = std::find(leases_.begin(), leases_.end(), static_cast<Lease*>(cookie));
    if (!cookie || it == leases_.end()) {
        return std::nullopt;
    }
    return (*it)->index;
}

int HostSession::framesOutstanding() const {
    return int(
        std::count_if(leases_.begin(), leases_.end(), [](const Lease* l) { return !l->released; }));
}

// --- callbacks ---------------------------------------------------------------------------

HYPluginResult HostSession::onGetFrame(SInt32 index, GWorldPtr* outFrame, SInt16 width,
                                       SInt16 height, HYRefDVQuality quality, SInt16* outVolume,
                                       HYFrameCookie* outCookie) {
    auto finish = [&](HYPluginResult r) {
        lastGetFrame_ = r;
        return r;
    };
    if (outFrame) {
        *outFrame = nullptr;
    }
    if (outCookie) {
        *outCookie = nullptr;
    }
    if (!outFrame || !outCookie || width < 1 || height < 1) {
        return finish(kPluginBadParams);
    }
    const ScaleQuality q = quality == kDVLowQuality ? ScaleQuality::Low : ScaleQuality::High;
    Rect r{0, 0, height, width};
    GWorldPtr world = nullptr;
    std::shared_ptr<void> shared;
    // A source that keeps converted frames lends them: the GWorld is laid over its memory
    // and the frame is not copied.
    if (auto frame = source_.share(index, width, height, q)) {
        if (NewGWorldFromPtr(&world, k32ARGBPixelFormat, &r, nullptr, nullptr, 0,
                             reinterpret_cast<Ptr>(frame->base),
                             SInt32(frame->rowBytes)) != noErr ||
            !world) {
            return finish(kPluginOutOfMemory);
        }
        shared = std::move(frame->owner);
    } else {
        if (NewGWorld(&world, 32, &r, nullptr, nullptr, 0) != noErr || !world) {
            return finish(kPluginOutOfMemory);
        }
        PixMapHandle pm = GetGWorldPixMap(world);
        const GWorldFlags state = GetPixelsState(pm);
        LockPixels(pm);
        PixelTarget target{reinterpret_cast<std::uint8_t*>(GetPixBaseAddr(pm)), GetPixRowBytes(pm),
                           width, height};
        const bool ok = source_.fetch(index, target, q);
        SetPixelsState(pm, state);
        if (!ok) {
            frameError_ = source_.lastError();
            DisposeGWorld(world);
            return finish(kPluginCantGetNeededFrame);
        }
    }
    auto* lease = new Lease{this, index, world, false, std::move(shared)};
    leases_.push_back(lease);
    QDSetGWorldDisposeHook(world, CbFrameDisposed, lease);
    *outFrame = world;
    *outCookie = lease;
    if (outVolume) {
        *outVolume = 256;
    }
    return finish(kPluginOK);
}

HYPluginResult HostSession::onReleaseFrame(HYFrameCookie cookie) {
    if (!cookie) {
        return kPluginOK; // nothing was handed out: nothing to give back
    }
    auto it = std::find(leases_.begin(), leases_.end(), static_cast<Lease*>(cookie));
    if (it == leases_.end() || (*it)->released) {
        return kPluginBadParams;
    }
    Lease* lease = *it;
    lease->released = true;
    if (!lease->world) { // the plug-in disposed of it before giving it back
        leases_.erase(it);
        delete lease;
    }
    return kPluginOK;
}

void HostSession::onFrameDisposed(GWorldPtr world) {
    for (auto it = leases_.begin(); it != leases_.end(); ++it) {
        if ((*it)->world == world) {
            frameDisposedByPlugin();
            (*it)->world = nullptr;
            (*it)->pixels.reset();
            if ((*it)->released) {
                delete *it;
                leases_.erase(it);
            }
            return;
        }
    }
}

void HostSession::reclaimReleasedFrames() {
    for (auto it = leases_.begin(); it != leases_.end();) {
        Lease* lease = *it;
        if (!lease->released) {
            ++it;
            continue;
        }
        if (lease->world) {
            QDSetGWorldDisposeHook(lease->world, nullptr, nullptr);
            DisposeGWorld(lease->world);
            frameFreedByHost();
        }
        delete lease;
        it = leases_.erase(it);
    }
}

HYPluginResult HostSession::onMixAudio(HYFrameCookie cookie, SInt16 level) {
    auto it = std::find(leases_.begin(), leases_.end(), static_cast<Lease*>(cookie));
    if (!cookie || it == leases_.end()) {
        return kPluginBadParams;
    }
    mixes_.emplace_back((*it)->index, level);
    return kPluginOK;
}

HYPluginResult HostSession::onGetFilterInfo(HYPluginFilterInfo** outInfo) {
    if (!outInfo) {
        return kPluginBadParams;
    }
    std::copy(std::begin(settings_.sliders), std::end(settings_.sliders), filterInfo_.sliderValues);
    filterInfo_.fadeInFrames = settings_.fadeInFrames;
    filterInfo_.fadeOutFrames = settings_.fadeOutFrames;
    filterInfoOut_ = true;
    *outInfo = &filterInfo_;
    return kPluginOK;
}

HYPluginResult HostSession::onReleaseFilterInfo(HYPluginFilterInfo* info) {
    if (info != &filterInfo_ || !filterInfoOut_) {
        return kPluginBadParams;
    }
    filterInfoOut_ = false;
    return kPluginOK;
}

HYPluginResult HostSession::onBlit(PixMapHandle source, PixMapHandle dest, const Rect* srcRect,
                                   const Rect* dstRect, SInt16 opacity) {
    if (!source || !dest || !srcRect || !dstRect) {
        return kPluginBadParams;
    }
    Rect sb{}, db{};
    const PixelImage src = ImageOf(source, &sb);
    const PixelImage dst = ImageOf(dest, &db);
    // Rectangles are in each bitmap's own coordinates; the images count from their corner.
    const PixelRect s{srcRect->top - sb.top, srcRect->left - sb.left, srcRect->bottom - sb.top,
                      srcRect->right - sb.left};
    const PixelRect d{dstRect->top - db.top, dstRect->left - db.left, dstRect->bottom - db.top,
                      dstRect->right - db.left};
    BlendImage(src, s, dst, d, opacity);
    return kPluginOK;
}

Ptr HostSession::onNewPtr(SInt32 size, bool clear) {
    if (size < 0) {
        return nullptr;
    }
    return clear ? ::NewPtrClear(size) : ::NewPtr(size);
}

void HostSession::onDisposePtr(Ptr block) {
    ::DisposePtr(block);
}

} // namespace fxhost
