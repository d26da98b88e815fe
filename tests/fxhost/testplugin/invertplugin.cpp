// invertplugin.cpp - a small second plug-in for the host's tests: it inverts red, green
// and blue of every frame and keeps alpha.
//
// It speaks the whole frame protocol a filter uses, so that every host callback is
// exercised: a per-clip record from NewPtrClear, the filter information, GetFrame,
// CopyBits into the host's frame, Blit for the fades at the clip's ends (the untouched
// frame is laid over the result with opacity trunc(255 * (1 - percent))), MixAudio at
// level 256 unless the rendering is a proxy, ReleaseFrame, DisposePtr. The custom button
// fetches a frame, gives it back and then disposes of the delivered GWorld itself, which
// is what a plug-in that copies frames for a dialog does. Its placeholder renders
// `bestThumbOffset` through a begin, frame and end.
//
// Test switches, read from the environment on each call:
//   INVERT_TEST_FAIL_FRAME=N   the frame call with renderFrame N returns kPluginFailed.
//   INVERT_TEST_NAN_DEFAULT=1  the first slider's default value is NaN.
//   INVERT_TEST_CLEAR_AT_END=1 the end of a clip clears the destination frame to zero, as a
//                              plug-in that tidies its frame on the way out does.
#include "HYPlugin.h"
#include "QuickDraw.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

struct ClipRecord {
    float sliders[3];
    SInt32 fadeIn;
    SInt32 fadeOut;
};

void CopyText(char* dst, std::size_t size, const char* text) {
    std::strncpy(dst, text, size - 1);
    dst[size - 1] = 0;
}

HYPluginResult GetInfo(_PluginParams* p) {
    p->getInfo.pluginType = kPluginFilterType;
    p->getInfo.pluginFlags |= kPluginFlag80 | kPluginFlag100 | kPluginFlag200 | kPluginFlag1000;
    p->getInfo.framesToBeRendered = p->getInfo2.selectedFrames;
    p->getInfo.takeFromClipAfter = p->getInfo2.selectedFrames;
    p->getInfo2.baseMemoryNeeded = 1000;
    const char* labels[3] = {"Strength", "Unused", "Spare"};
    for (int i = 0; i < 3; ++i) {
        HYPluginFilterSliderInfo& s = p->getInfo2.filterSliders[i];
        CopyText(s.label, sizeof s.label, labels[i]);
        CopyText(s.minLabel, sizeof s.minLabel, "low");
        CopyText(s.maxLabel, sizeof s.maxLabel, "high");
        s.defaultValue = 0.25f * float(i + 1);
    }
    if (std::getenv("INVERT_TEST_NAN_DEFAULT")) {
        p->getInfo2.filterSliders[0].defaultValue = std::nanf("");
    }
    CopyText(p->getInfo3.buttonTitle, sizeof p->getInfo3.buttonTitle, "Invert settings");
    CopyText(p->getInfo2.group, sizeof p->getInfo2.group, "Host tests");
    return kPluginOK;
}

HYPluginResult Begin(_PluginParams* p) {
    if (!p->clientData) {
        p->clientData = p->procs->NewPtrClear(sizeof(ClipRecord));
        if (!p->clientData) {
            return kPluginOutOfMemory;
        }
    }
    auto* clip = static_cast<ClipRecord*>(p->clientData);
    HYPluginFilterInfo* info = nullptr;
    const HYPluginResult r = p->procs->GetFilterInfo(p->instance, &info);
    if (info) {
        std::memcpy(clip->sliders, info->sliderValues, sizeof clip->sliders);
        clip->fadeIn = info->fadeInFrames;
        clip->fadeOut = info->fadeOutFrames;
        p->procs->ReleaseFilterInfo(p->instance, info);
    }
    return r;
}

HYPluginResult End(_PluginParams* p) {
    if (const char* c = std::getenv("INVERT_TEST_CLEAR_AT_END"); c && p->frame) {
        PixMapHandle pm = GetGWorldPixMap(p->frame);
        Rect b;
        GetPixBounds(pm, &b);
        std::memset(GetPixBaseAddr(pm), 0, std::size_t(GetPixRowBytes(pm)) * (b.bottom - b.top));
    }
    if (p->clientData) {
        p->procs->DisposePtr(static_cast<Ptr>(p->clientData));
        p->clientData = nullptr;
    }
    return kPluginOK;
}

void Invert(GWorldPtr world) {
    PixMapHandle pm = GetGWorldPixMap(world);
    Rect b;
    GetPixBounds(pm, &b);
    auto* base = reinterpret_cast<UInt8*>(GetPixBaseAddr(pm));
    const SInt32 rb = GetPixRowBytes(pm);
    for (int y = 0; y < b.bottom - b.top; ++y) {
        for (int x = 0; x < b.right - b.left; ++x) {
            UInt8* px = base + y * rb + 4 * x;
            px[1] = UInt8(255 - px[1]);
            px[2] = UInt8(255 - px[2]);
            px[3] = UInt8(255 - px[3]);
        }
    }
}

HYPluginResult Frame(_PluginParams* p) {
    if (!p->clientData) {
        return kPluginBadParams;
    }
    const auto* clip = static_cast<const ClipRecord*>(p->clientData);
    if (const char* f = std::getenv("INVERT_TEST_FAIL_FRAME");
        f && std::atoi(f) == p->renderFrame) {
        return kPluginFailed;
    }
    const SInt16 w = SInt16(p->frameRect.right - p->frameRect.left);
    const SInt16 h = SInt16(p->frameRect.bottom - p->frameRect.top);
    const SInt32 index = p->startFrame + p->renderFrame;
    HYFrameCookie cookie = nullptr;
    GWorldPtr src = nullptr;
    SInt16 volume = 0;
    const HYRefDVQuality q = (p->proxyOnly && h <= 259) ? kDVLowQuality : kDVHighQuality;
    HYPluginResult r = p->procs->GetFrame(p->instance, index, &src, w, h, q, &volume, &cookie);
    GWorldPtr original = nullptr;
    SInt16 opacity = 0;
    if (r == kPluginOK) {
        Rect local{0, 0, h, w};
        const SInt32 n = p->frameCount, i = p->renderFrame;
        if ((clip->fadeIn > 0 || clip->fadeOut != 0) &&
            (i < clip->fadeIn || i > n - clip->fadeOut)) {
            NewGWorld(&original, 32, &local, nullptr, nullptr, 0);
            CopyBits(GetPortBitMapForCopyBits(src), GetPortBitMapForCopyBits(original), &local,
                     &local, srcCopy, nullptr);
            const double percent =
                i < clip->fadeIn ? double(i) / clip->fadeIn : double(n - i) / clip->fadeOut;
            opacity = SInt16(255.0 * (1.0 - percent));
        }
        GWorldPtr work = nullptr;
        NewGWorld(&work, 32, &local, nullptr, nullptr, 0);
        CopyBits(GetPortBitMapForCopyBits(src), GetPortBitMapForCopyBits(work), &local, &local,
                 srcCopy, nullptr);
        Invert(work);
        CopyBits(GetPortBitMapForCopyBits(work), GetPortBitMapForCopyBits(p->frame), &local,
                 &p->frameRect, srcCopy, nullptr);
        DisposeGWorld(work);
        if (original) {
            r = p->procs->Blit(GetGWorldPixMap(original), GetGWorldPixMap(p->frame), &local,
                               &p->frameRect, opacity);
        }
        if (r == kPluginOK && !p->proxyOnly) {
            r = p->procs->MixAudio(p->instance, cookie, 256);
        }
    }
    const HYPluginResult released = p->procs->ReleaseFrame(p->instance, cookie);
    if (r == kPluginOK) {
        r = released;
    }
    DisposeGWorld(original);
    return r;
}

HYPluginResult Placeholder(_PluginParams* p) {
    _PluginParams copy = *p;
    copy.renderFrame = p->getInfo.bestThumbOffset;
    HYPluginResult r = Begin(&copy);
    if (r == kPluginOK) {
        Frame(&copy);
        End(&copy);
    }
    return r;
}

HYPluginResult CustomButton(_PluginParams* p) {
    // Fetch a frame as a dialog would: copy it, give it back, then dispose of the GWorld
    // the host delivered.
    GWorldPtr delivered = nullptr;
    HYFrameCookie cookie = nullptr;
    SInt16 volume = 0;
    p->procs->GetFrame(p->instance, p->startFrame + p->renderFrame, &delivered, 720, 480,
                       kDVHighQuality, &volume, &cookie);
    if (delivered) {
        Rect r{0, 0, 480, 720};
        GWorldPtr mine = nullptr;
        NewGWorld(&mine, 32, &r, nullptr, nullptr, 0);
        CopyBits(GetPortBitMapForCopyBits(delivered), GetPortBitMapForCopyBits(mine), &r, &r,
                 srcCopy, nullptr);
        p->procs->ReleaseFrame(p->instance, cookie);
        DisposeGWorld(delivered);
        DisposeGWorld(mine);
    }
    // A second frame is only given back: the host frees that one.
    cookie = nullptr;
    delivered = nullptr;
    p->procs->GetFrame(p->instance, p->startFrame + p->renderFrame, &delivered, 320, 240,
                       kDVHighQuality, &volume, &cookie);
    p->procs->ReleaseFrame(p->instance, cookie);
    return kPluginOK;
}

} // namespace

extern "C" __attribute__((visibility("default"))) SInt32
InvertPluginMain(SInt32 which, _PluginParams* p) __asm__("main");

SInt32 InvertPluginMain(SInt32, _PluginParams* p) {
    if (!p) {
        return kPluginBadParams;
    }
    if (p->interfaceVersion <= 3) {
        return kPluginAppIsTooOld;
    }
    switch (p->selector) {
    case kPlugGetInfo:
        return GetInfo(p);
    case kPlugInitialize:
        return Begin(p);
    case kPlugDoFrame:
        return Frame(p);
    case kPlugTerminate:
        return End(p);
    case kPlugFilePlaceHolder:
        return Placeholder(p);
    case kPlugCustomButtonClick:
        return CustomButton(p);
    default:
        return kPluginOK;
    }
}
