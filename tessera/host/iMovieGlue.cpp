// iMovieGlue.cpp - the host glue (see iMovieGlue.h).
//
// The host owns the parameter block and may hand over anything: a null block, an old
// interface version, an unknown selector, a missing callback table, empty or inverted
// frame rectangles, callbacks that fail or deliver nothing. Each case ends in a result
// code; nothing is dereferenced that the host did not provide.
#include "iMovieGlue.h"

#include "DataHandling.h"
#include "Globals.h"
#include "PlugInCore.h"
#include "TextUtils.h"
#include "callpixelfx.h"
#include "commonprocs.h"
#include "gworldprocs.h"
#include "prefsloader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace {

ConfigureDialogProc lgConfigureDialog = nullptr;

// The callbacks this plug-in calls; a host that leaves one of them out cannot be served.
bool ProcsUsable(const HYProcs* procs) {
    return procs != nullptr && procs->NewPtrClear != nullptr && procs->DisposePtr != nullptr &&
           procs->GetFrame != nullptr && procs->ReleaseFrame != nullptr && procs->Blit != nullptr &&
           procs->MixAudio != nullptr && procs->GetFilterInfo != nullptr &&
           procs->ReleaseFilterInfo != nullptr;
}

// Text `index` of string list `listID` into a host field of `fieldSize` bytes, cut to fit
// and NUL-terminated.
void CopyIndString(char* field, size_t fieldSize, SInt16 listID, SInt16 index) {
    Str255 text;
    GetIndString(text, listID, index);
    const size_t n = std::min<size_t>(text[0], fieldSize - 1);
    std::memcpy(field, text + 1, n);
    field[n] = '\0';
}

// The fade step's opacity, T(255 x (1 - percent)), kept to the 0..255 that Blit takes:
// frames outside the clip or fade lengths the host got wrong give out-of-range values.
SInt16 FadeOpacity(double percent) {
    const double value = std::trunc(255.0 * (1.0 - percent));
    if (std::isnan(value)) {
        return 255;
    }
    return static_cast<SInt16>(std::clamp(value, 0.0, 255.0));
}

void CopyWholeFrame(GWorldPtr from, const Rect& fromRect, GWorldPtr to, const Rect& toRect) {
    CopyBits(GetPortBitMapForCopyBits(from), GetPortBitMapForCopyBits(to), &fromRect, &toRect,
             srcCopy, nullptr);
}

} // namespace

// ---- dispatcher --------------------------------------------------------------------------

SInt32 TesseraMain(SInt32 which, _PluginParams* params) {
    if (params == nullptr) {
        return kPluginBadParams;
    }
    if (params->interfaceVersion <= 3) {
        return kPluginAppIsTooOld;
    }
    if (!ProcsUsable(params->procs)) {
        return kPluginBadParams;
    }
    if (!gEngineInited) {
        InitEngine();
        gEngineInited = true;
    }
    if (gEngineData == nullptr) {
        UInt32 size = 0;
        pGetConfigSize(size);
        auto* engine = reinterpret_cast<pluginDataRec*>(params->procs->NewPtrClear(SInt32(size)));
        if (engine == nullptr) {
            // The host is told, as for a clip's record; a later call tries again.
            return kPluginOutOfMemory;
        }
        gEngineData = engine;
        InitMyPlugIn(gEngineData);
    }

    const SInt16 which16 = static_cast<SInt16>(which);
    HYPluginResult result = kPluginOK;
    switch (params->selector) {
    case kPlugGetInfo:
        result = EffectGetInfos(which16, params);
        break;
    case kPlugInitialize:
        result = EffectBegins(which16, params);
        break;
    case kPlugFilePlaceHolder:
        result = MakeEffectPlaceHolders(which16, params);
        break;
    case kPlugDoFrame:
        result = EffectDrives(which16, params);
        break;
    case kPlugTerminate:
        result = EffectEnds(which16, params);
        break;
    case kPlugCustomButtonClick:
        result = CustomButtons(which16, params);
        break;
    default: // kPlugDrawIcon, kPlugDrawThumbNail, kPlugCallOnceWithInitAndTerminate, unknown
        break;
    }
    return static_cast<SInt32>(static_cast<UInt32>(result));
}

// ---- description -------------------------------------------------------------------------

HYPluginResult EffectGetInfos(SInt16 which, _PluginParams* params) {
    HYPluginGetInfo& info = params->getInfo;
    info.pluginType = kPluginFilterType;
    info.framesToBeRendered = 0;
    info.takeFromClipBefore = 0;
    info.takeFromClipAfter = 0;
    info.minSpeedFrames = 0;
    info.maxSpeedFrames = 0;
    info.mustTakeFromSingleClips = false;
    info.pluginFlags |= kPluginFlag80 | kPluginFlag100 | kPluginFlag200;
    params->getInfo2.baseMemoryNeeded = 50000;
    SetFilterParamInfos(which, params);
    return kPluginOK;
}

void SetFilterParamInfos(SInt16 which, _PluginParams* params) {
    (void)which;
    constexpr int sliderCount = 3;
    constexpr float startValue = 0.5f;
    HYPluginGetInfo& info = params->getInfo;
    HY2PluginGetInfo& info2 = params->getInfo2;

    info.takeFromClipBefore = 0;
    info.takeFromClipAfter = info2.selectedFrames;
    info.framesToBeRendered = info2.selectedFrames;

    for (int i = 0; i < sliderCount; ++i) {
        HYPluginFilterSliderInfo& slider = info2.filterSliders[i];
        slider.defaultValue = startValue;
        CopyIndString(slider.label, sizeof slider.label, 128, SInt16(i + 1));
        CopyIndString(slider.minLabel, sizeof slider.minLabel, 129, SInt16(2 * i + 1));
        CopyIndString(slider.maxLabel, sizeof slider.maxLabel, 129, SInt16(2 * i + 2));
    }
    info.pluginFlags |= kPluginFlag1000;
    CopyIndString(params->getInfo3.buttonTitle, sizeof params->getInfo3.buttonTitle, 130, 1);
    CopyIndString(info2.group, sizeof info2.group, 17000, 1);
}

// ---- clip lifecycle ----------------------------------------------------------------------

HYPluginResult EffectBegins(SInt16 which, _PluginParams* params) {
    (void)which;
    HYProcs* procs = params->procs;
    auto* data = static_cast<EffectData*>(params->clientData);
    if (data == nullptr) {
        data = reinterpret_cast<EffectData*>(procs->NewPtrClear(SInt32(sizeof(EffectData))));
        if (data == nullptr) {
            return kPluginOutOfMemory;
        }
        params->clientData = data;
    } else if (data->engineData != nullptr) {
        // A begin without an end before it: the earlier clip's copy is released, not lost.
        pUncopyConfig(data->engineData);
        procs->DisposePtr(reinterpret_cast<Ptr>(data->engineData));
        data->engineData = nullptr;
    }

    UInt32 configSize = 0;
    pGetConfigSize(configSize);
    data->engineData = reinterpret_cast<pluginDataRec*>(procs->NewPtrClear(SInt32(configSize)));
    if (data->engineData == nullptr) {
        // A clip without its configuration cannot render a frame: the host is told now, and
        // keeps no per-clip record that a frame call would trust.
        procs->DisposePtr(reinterpret_cast<Ptr>(data));
        params->clientData = nullptr;
        return kPluginOutOfMemory;
    }
    pCopyConfig(gEngineData, data->engineData);
    data->effectSourceCount = 1;

    HYPluginFilterInfo* filterInfo = nullptr;
    const HYPluginResult result = procs->GetFilterInfo(params->instance, &filterInfo);
    if (filterInfo != nullptr) {
        data->fadeInFrames = filterInfo->fadeInFrames;
        data->fadeOutFrames = filterInfo->fadeOutFrames;
        for (int i = 0; i < 3; ++i) {
            data->sliderValues[i] = filterInfo->sliderValues[i];
        }
        procs->ReleaseFilterInfo(params->instance, filterInfo);
    }

    const SInt32 frameCount = params->frameCount;
    if (data->fadeInFrames != 0 && data->fadeOutFrames != 0) {
        const SInt32 half = frameCount / 2;
        data->fadeInFrames = std::min(data->fadeInFrames, half);
        data->fadeOutFrames = std::min(data->fadeOutFrames, half);
    } else {
        if (data->fadeInFrames != 0 && data->fadeInFrames > frameCount) {
            data->fadeInFrames = frameCount;
        }
        if (data->fadeOutFrames != 0 && data->fadeOutFrames > frameCount) {
            data->fadeOutFrames = frameCount;
        }
    }
    data->effectGWorld = nullptr;
    return result;
}

namespace {

// Frame `absoluteFrame` of the clip from the host, at the output's size; low quality only
// for small proxies. A host "OK" without a frame is a failure, as there is nothing to
// render from.
HYPluginResult FetchSourceFrame(_PluginParams* params, SInt64 absoluteFrame, SInt16 width,
                                SInt16 height, GWorldPtr* sourceFrame, HYFrameCookie* cookie) {
    if (absoluteFrame > SInt64(INT32_MAX)) {
        return kPluginBadParams; // no frame of the host can have this index
    }
    const HYRefDVQuality quality =
        (params->proxyOnly && height <= 259) ? kDVLowQuality : kDVHighQuality;
    SInt16 volume = 0;
    HYPluginResult result =
        params->procs->GetFrame(params->instance, SInt32(absoluteFrame), sourceFrame, width, height,
                                quality, &volume, cookie);
    if (result == kPluginOK && *sourceFrame == nullptr) {
        result = kPluginFailed;
    }
    return result;
}

// How far into its fade the frame being rendered is (0 faded out, 1 fully in), or nothing
// when it lies outside both fades.
std::optional<double> FadePercent(const EffectData& data, const _PluginParams& params) {
    const SInt64 renderFrame = params.renderFrame;
    const SInt64 fadeIn = data.fadeInFrames;
    const SInt64 fadeOut = data.fadeOutFrames;
    const SInt64 frameCount = params.frameCount;
    const bool fading = (fadeIn > 0 || fadeOut != 0) &&
                        (renderFrame < fadeIn || renderFrame > frameCount - fadeOut);
    if (!fading) {
        return std::nullopt;
    }
    return renderFrame < fadeIn ? double(renderFrame) / double(fadeIn)
                                : double(frameCount - renderFrame) / double(fadeOut);
}

// The effect into the host frame, then the untouched copy blitted over it at the fade's
// opacity when there is one, then the audio mix.
HYPluginResult RenderFrame(GWorldPtr sourceFrame, GWorldPtr gWorldOriginal, SInt16 opacity,
                           _PluginParams* params, HYFrameCookie cookie) {
    HYProcs* procs = params->procs;
    HYPluginResult result = ApplyEffect(sourceFrame, params);
    if (gWorldOriginal != nullptr) {
        // The fade blit runs whatever the effect gave; its failure is reported,
        // but its success does not hide a frame the effect failed to render.
        const Rect sourceBounds = GetPortRect(sourceFrame);
        const HYPluginResult blitted =
            procs->Blit(GetGWorldPixMap(gWorldOriginal), GetGWorldPixMap(params->frame),
                        &sourceBounds, &params->frameRect, opacity);
        if (result == kPluginOK) {
            result = blitted;
        }
    }
    if (result == kPluginOK && !params->proxyOnly) {
        result = procs->MixAudio(params->instance, cookie, 256);
    }
    return result;
}

} // namespace

HYPluginResult EffectDrives(SInt16 which, _PluginParams* params) {
    (void)which;
    auto* data = static_cast<EffectData*>(params->clientData);
    if (data == nullptr || params->frame == nullptr) {
        return kPluginBadParams;
    }
    HYProcs* procs = params->procs;

    const GWorldSaver keepPort(params->frame);

    const Rect& frameRect = params->frameRect;
    const SInt16 width = static_cast<SInt16>(frameRect.right - frameRect.left);
    const SInt16 height = static_cast<SInt16>(frameRect.bottom - frameRect.top);
    const SInt64 absoluteFrame = SInt64(params->startFrame) + params->renderFrame;
    gMostRecentStartFrame = params->startFrame;
    gMostRecentFrameCount = params->frameCount;

    HYFrameCookie cookie = nullptr;
    HYPluginResult result = kPluginOK;
    GWorldPtr gWorldOriginal = nullptr;
    bool fadeCopyFailed = false;

    if (absoluteFrame >= 0) {
        GWorldPtr sourceFrame = nullptr;
        result = FetchSourceFrame(params, absoluteFrame, width, height, &sourceFrame, &cookie);
        if (result == kPluginOK) {
            const Rect srcRect{0, 0, height, width};
            SInt16 opacity = 0;
            if (const std::optional<double> percent = FadePercent(*data, *params)) {
                gWorldOriginal = AllocateRectGWorld(srcRect);
                if (gWorldOriginal == nullptr) {
                    fadeCopyFailed = true;
                } else {
                    CopyWholeFrame(sourceFrame, srcRect, gWorldOriginal, srcRect);
                    opacity = FadeOpacity(*percent);
                }
            }
            if (!fadeCopyFailed) {
                result = RenderFrame(sourceFrame, gWorldOriginal, opacity, params, cookie);
            }
        }
    }

    const HYPluginResult released = procs->ReleaseFrame(params->instance, cookie);
    if (result == kPluginOK) {
        result = released;
    }
    DisposeGWorld(gWorldOriginal);
    if (result == kPluginOK && fadeCopyFailed) {
        result = kPluginFailed;
    }
    return result;
}

namespace {

// Byte ranges of two pixel maps' memory share a byte.
bool PixelsOverlap(const BitMap& a, const BitMap& b) {
    auto end = [](const BitMap& m) {
        const ptrdiff_t rows = m.bounds.bottom - m.bounds.top;
        return m.baseAddr + (rows > 0 ? rows * ptrdiff_t(m.rowBytes) : 0);
    };
    return a.baseAddr < end(b) && b.baseAddr < end(a);
}

// A GWorld over the host frame's own pixels at frameRect, with bounds `bounds` (frameRect's
// size at the origin), when rendering there gives exactly the frame that rendering into a
// GWorld of our own and copying that in would: the source is the frame rectangle's size
// (the copy would not scale), frameRect lies inside the frame and its clip (the copy would
// not be cut), and the source's pixels are not the frame's (the effect reads the source
// while it writes). Otherwise nil, with `usable` false; `usable` with nil is a failure to
// make the GWorld, whose cause is in `err`.
GWorldPtr WrapFrameRect(GWorldPtr sourceFrame, _PluginParams* params, const Rect& bounds,
                        bool& usable, QDErr& err) {
    usable = false;
    const BitMap* frameBits = GetPortBitMapForCopyBits(params->frame);
    const BitMap* sourceBits = GetPortBitMapForCopyBits(sourceFrame);
    if (frameBits == nullptr || sourceBits == nullptr || frameBits->baseAddr == nullptr ||
        sourceBits->baseAddr == nullptr) {
        return nullptr;
    }
    const Rect& r = params->frameRect;
    const Rect sourceRect = GetPortRect(sourceFrame);
    Rect clip{};
    QDGetPortClipRect(params->frame, &clip);
    const Rect& fb = frameBits->bounds;
    const bool sameSize = sourceRect.right - sourceRect.left == r.right - r.left &&
                          sourceRect.bottom - sourceRect.top == r.bottom - r.top;
    const bool inside = r.left < r.right && r.top < r.bottom && r.left >= fb.left &&
                        r.top >= fb.top && r.right <= fb.right && r.bottom <= fb.bottom &&
                        r.left >= clip.left && r.top >= clip.top && r.right <= clip.right &&
                        r.bottom <= clip.bottom;
    if (!sameSize || !inside || PixelsOverlap(*frameBits, *sourceBits)) {
        return nullptr;
    }
    usable = true;
    Ptr at = frameBits->baseAddr + ptrdiff_t(r.top - fb.top) * frameBits->rowBytes +
             4 * ptrdiff_t(r.left - fb.left);
    GWorldPtr wrapped = nullptr;
    err = NewGWorldFromPtr(&wrapped, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0, at,
                           frameBits->rowBytes);
    if (err != noErr) {
        wrapped = nullptr;
    }
    return wrapped;
}

} // namespace

HYPluginResult ApplyEffect(GWorldPtr sourceFrame, _PluginParams* params) {
    auto* data = static_cast<EffectData*>(params->clientData);
    Rect srcRect = GetPortRect(sourceFrame);
    OffsetRect(&srcRect, SInt16(-srcRect.left), SInt16(-srcRect.top));

    // The effect draws into a copy of the source. Where it can, that copy is the host's frame
    // itself at frameRect, which spares a frame-sized allocation and a second full copy;
    // otherwise a GWorld of our own is drawn and then copied (scaled, clipped) into the frame.
    QDErr err = noErr;
    bool direct = false;
    data->effectGWorld = WrapFrameRect(sourceFrame, params, srcRect, direct, err);
    if (!direct) {
        data->effectGWorld = AllocateRectGWorld(srcRect, &err);
    } else {
        LockGWorld(data->effectGWorld);
    }
    const bool made = data->effectGWorld != nullptr;
    if (made) {
        // The engine gives effectGWorld the source's pixels where the mosaic does not paint.
        ApplyLineArtEffect(sourceFrame, data->effectGWorld, params);
        if (!direct) {
            CopyWholeFrame(data->effectGWorld, srcRect, params->frame, params->frameRect);
        }
    }
    DisposeGWorld(data->effectGWorld);
    data->effectGWorld = nullptr;

    if (made) {
        return kPluginOK;
    }
    return err == memFullErr ? kPluginOutOfMemory : kPluginFailed;
}

void ApplyLineArtEffect(GWorldPtr sourceFrame, GWorldPtr targetFrame, _PluginParams* params) {
    auto* data = static_cast<EffectData*>(params->clientData);
    const GWorldSaver keepPort(targetFrame);
    SInt16 unusedOpacity = 0;
    DoEffect(data->engineData, params, sourceFrame, targetFrame, params->renderFrame,
             data->fadeInFrames, data->fadeOutFrames, params->frameCount, data->sliderValues[0],
             data->sliderValues[1], data->sliderValues[2], unusedOpacity);
}

HYPluginResult EffectEnds(SInt16 which, _PluginParams* params) {
    (void)which;
    auto* data = static_cast<EffectData*>(params->clientData);
    if (data == nullptr) {
        return kPluginOK;
    }
    if (data->effectGWorld != nullptr) {
        DisposeGWorld(data->effectGWorld);
        data->effectGWorld = nullptr;
    }
    if (data->engineData != nullptr) {
        pUncopyConfig(data->engineData);
        params->procs->DisposePtr(reinterpret_cast<Ptr>(data->engineData));
    }
    params->procs->DisposePtr(reinterpret_cast<Ptr>(data));
    params->clientData = nullptr;
    return kPluginOK;
}

HYPluginResult MakeEffectPlaceHolders(SInt16 which, _PluginParams* params) {
    const GWorldSaver keepPort(params->frame);

    _PluginParams copy;
    std::memcpy(static_cast<void*>(&copy), params, sizeof copy);
    copy.renderFrame = params->getInfo.bestThumbOffset;
    // The placeholder is a clip of its own: the host's live per-clip record (if any) is
    // neither used nor freed under it.
    copy.clientData = nullptr;

    copy.selector = kPlugInitialize;
    const HYPluginResult result = EffectBegins(which, &copy);
    if (result == kPluginOK) {
        copy.selector = kPlugDoFrame;
        (void)EffectDrives(which, &copy);
    }
    // The end also follows a failed begin that got as far as making its record, so the
    // placeholder's own record and configuration copy never outlive the call.
    if (result == kPluginOK || copy.clientData != nullptr) {
        copy.selector = kPlugTerminate;
        (void)EffectEnds(which, &copy);
    }
    return result;
}

void SetConfigureDialog(ConfigureDialogProc proc) {
    lgConfigureDialog = proc;
}

HYPluginResult CustomButtons(SInt16 which, _PluginParams* params) {
    (void)which;
    if (lgConfigureDialog == nullptr) {
        return kPluginOK; // built without the windowing toolbox: there is no dialog to open
    }
    if (params == nullptr || !ProcsUsable(params->procs)) {
        return kPluginBadParams;
    }
    // The dialog draws in windows of its own; the host's port comes back when it closes.
    const GWorldSaver keepPort;
    HYProcs* procs = params->procs;
    const SInt64 frameIndex = SInt64(params->renderFrame) + gMostRecentStartFrame;
    const frameFormatRec& format = GetFrameFormat(GetMediaFormat(gEngineData));
    HYFrameCookie cookie = nullptr;
    GWorldPtr frame = nullptr;
    SInt16 volume = 0;
    if (frameIndex >= INT32_MIN && frameIndex <= INT32_MAX) {
        (void)procs->GetFrame(params->instance, SInt32(frameIndex), &frame, format.previewWidth,
                              format.previewHeight, kDVHighQuality, &volume, &cookie);
    }
    if (frame != nullptr && gEngineData != nullptr) {
        gConfigWorkSpace.getFrameIntoGW = GetFrameIntoGW;
        // The dialog fetches its frames through GetFrameIntoGW, which counts from the block's
        // startFrame; a host that leaves the clip's start there (as fxhost does) would have it
        // added twice. So the first frame is handed over counted from that start.
        const SInt64 firstFrame = frameIndex - SInt64(params->startFrame);
        if (firstFrame >= INT32_MIN && firstFrame <= INT32_MAX) {
            lgConfigureDialog(gEngineData, frame, params, SInt32(firstFrame),
                              gMostRecentFrameCount);
        }
    }
    (void)procs->ReleaseFrame(params->instance, cookie);
    return kPluginOK;
}

SInt16 GetFrameIntoGW(GWorldPtr theGW, _PluginParams* params, SInt32 frameIndex,
                      int disposeAfterUse) {
    if (theGW == nullptr || params == nullptr || !ProcsUsable(params->procs)) {
        return SInt16(kPluginBadParams);
    }
    const Rect r = GetPortRect(theGW);
    const SInt16 width = SInt16(r.right - r.left);
    const SInt16 height = SInt16(r.bottom - r.top);
    const SInt64 absolute = SInt64(frameIndex) + params->startFrame;
    if (absolute < 0 || absolute > INT32_MAX) {
        return -1;
    }
    const HYRefDVQuality quality =
        (params->proxyOnly && height <= 259) ? kDVLowQuality : kDVHighQuality;
    HYProcs* procs = params->procs;
    GWorldPtr delivered = nullptr;
    HYFrameCookie cookie = nullptr;
    SInt16 volume = 0;
    HYPluginResult result = procs->GetFrame(params->instance, SInt32(absolute), &delivered, width,
                                            height, quality, &volume, &cookie);
    if (delivered != nullptr) {
        CopyWholeFrame(delivered, GetPortRect(delivered), theGW, r);
        result = procs->ReleaseFrame(params->instance, cookie);
        if (disposeAfterUse > 0) {
            DisposeGWorld(delivered);
        }
    }
    return SInt16(result & 0xFF);
}
