// DialogFixture.cpp - see DialogFixture.h.
#include "DialogFixture.h"

#include "HIToolbox.h"
#include "MacMemory.h"
#include "carbonmacros.h"
#include "clipCTRL.h"
#include "colorCTRL.h"
#include "configdlghandler.h"
#include "gworldprocs.h"
#include "pictCTRL.h"

#include <QTimer>

#include <memory>

namespace dialog_test {

namespace {

void OnDisposed(GWorldPtr, void* refCon) {
    static_cast<FrameHost::Lease*>(refCon)->gw = nullptr;
}

HYPluginResult OnGetFrame(void* instance, SInt32 index, GWorldPtr* out, SInt16 w, SInt16 h,
                          HYRefDVQuality, SInt16* volume, HYFrameCookie* cookie) {
    auto* host = static_cast<FrameHost*>(instance);
    host->requested.push_back(index);
    *out = nullptr;
    if (index < 0 || index >= host->frameCount) {
        return kPluginCantGetNeededFrame;
    }
    const Rect bounds{0, 0, h, w};
    GWorldPtr gw = nullptr;
    NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0);
    FrameHost::Fill(gw, index);
    *out = gw;
    *volume = 256;
    host->leases.push_back(std::make_unique<FrameHost::Lease>(FrameHost::Lease{gw}));
    QDSetGWorldDisposeHook(gw, OnDisposed, host->leases.back().get());
    *cookie = host->leases.back().get();
    return kPluginOK;
}

HYPluginResult OnReleaseFrame(void*, HYFrameCookie) {
    // The plug-in may still dispose of a released frame itself (dispose-after-use); what it
    // leaves is freed with the host.
    return kPluginOK;
}

Ptr OnNewPtrClear(SInt32 n) {
    return NewPtrClear(n);
}
void OnDisposePtr(Ptr p) {
    DisposePtr(p);
}
HYPluginResult OnBlit(PixMapHandle, PixMapHandle, const Rect*, const Rect*, SInt16) {
    return kPluginOK;
}
HYPluginResult OnMix(void*, HYFrameCookie, SInt16) {
    return kPluginOK;
}
HYPluginResult OnFilterInfo(void*, HYPluginFilterInfo** info) {
    *info = nullptr;
    return kPluginOK;
}
HYPluginResult OnReleaseFilterInfo(void*, HYPluginFilterInfo*) {
    return kPluginOK;
}

} // namespace

FrameHost::FrameHost(SInt32 count) : frameCount(count) {
    procs_.NewPtr = OnNewPtrClear;
    procs_.NewPtrClear = OnNewPtrClear;
    procs_.DisposePtr = OnDisposePtr;
    procs_.GetFrame = OnGetFrame;
    procs_.ReleaseFrame = OnReleaseFrame;
    procs_.Blit = OnBlit;
    procs_.MixAudio = OnMix;
    procs_.GetFilterInfo = OnFilterInfo;
    procs_.ReleaseFilterInfo = OnReleaseFilterInfo;
    params_.interfaceVersion = kHYInterfaceVersion;
    params_.instance = this;
    params_.procs = &procs_;
    params_.frameCount = count;
}

FrameHost::~FrameHost() {
    for (auto& lease : leases) {
        if (lease->gw != nullptr) {
            QDSetGWorldDisposeHook(lease->gw, nullptr, nullptr);
            DisposeGWorld(lease->gw);
        }
    }
}

tessera_test::ARGB FrameHost::PixelOf(SInt32 frame, int x, int y) {
    tessera_test::ARGB p = tessera_test::Pattern(x + 9 * frame, y);
    p.a = 255;
    return p;
}

void FrameHost::Fill(GWorldPtr gw, SInt32 frame) {
    PixMapHandle pm = GetGWorldPixMap(gw);
    const Rect r = GetPortRect(gw);
    auto* base = reinterpret_cast<std::uint8_t*>(GetPixBaseAddr(pm));
    for (int y = 0; y < r.bottom - r.top; ++y) {
        for (int x = 0; x < r.right - r.left; ++x) {
            const tessera_test::ARGB p = PixelOf(frame, x, y);
            std::uint8_t* d = base + std::ptrdiff_t(y) * GetPixRowBytes(pm) + x * 4;
            d[0] = p.a, d[1] = p.r, d[2] = p.g, d[3] = p.b;
        }
    }
}

CFBundleRef TesseraBundle() {
    static CFBundleRef bundle = [] {
        CFStringRef path = toolbox::cf::makeString(TESSERA_BUNDLE_PATH);
        CFURLRef url = CFURLCreateWithFileSystemPath(nullptr, path, kCFURLPOSIXPathStyle, true);
        CFBundleRef b = CFBundleCreate(nullptr, url);
        CFRelease(url);
        CFRelease(path);
        return b;
    }();
    return bundle;
}

OpenDialog::OpenDialog(pluginDataRec* config, FrameHost& host, int width, int height)
    : source(width, height) {
    TesseraBundle();
    FrameHost::Fill(source.get(), 0);
    fx = AllocateRectGWorld(GetPortRect(source.get()));
    gTheConfig = config;
    gConfigWorkSpace = pluginWorkSpace{};
    gConfigWorkSpace.theConfig = config;
    gConfigWorkSpace.sourceClip = source.get();
    gConfigWorkSpace.theFXClip = fx;
    gConfigWorkSpace.iMovieParams = &host.params();
    gConfigWorkSpace.maxFrameIndex = host.frameCount - 1;
    gConfigWorkSpace.activeRel = 1;
    RegisterColorBox();
    RegisterClipCtrl();
    RegisterPictureControl();
    window =
        OpenNibWindowFromCFBundle(cMyBundleID, cMyPluginName, DialogWindowName(config->mediaType));
    static const EventTypeSpec commands[] = {{kEventClassCommand, kEventCommandProcess}};
    InstallEventHandler(GetWindowEventTarget(window), TheDialogHandler, 1, commands, window,
                        nullptr);
    SetupDialog(window, config);
    ShowWindow(window);
    toolbox::ui::testing::ProcessEvents();
    preview = GetControlBox(gConfigWorkSpace.theFrameCtrl);
}

OpenDialog::~OpenDialog() {
    DisposeWindow(window);
    toolbox::ui::testing::ProcessEvents();
    UnregisterClipCtrl();
    UnregisterColorBox();
    UnregisterPictureControl();
    DisposeGWorld(fx);
    gConfigWorkSpace = pluginWorkSpace{};
}

Point OpenDialog::previewPoint(int x, int y) const {
    return Point{SInt16(preview.top + y), SInt16(preview.left + x)};
}

ControlRef Control(WindowRef w, const char (&sig)[5], SInt16 id) {
    return SimpleGetControlByID(w, FOUR_CHAR_CODE(sig), id);
}

std::string ControlText(WindowRef w, const char (&sig)[5], SInt16 id) {
    ControlRef c = Control(w, sig, id);
    char buf[256] = {};
    Size got = 0;
    if (c == nullptr || GetControlData(c, kControlEntireControl, kControlStaticTextTextTag,
                                       sizeof buf - 1, buf, &got) != noErr) {
        return "<none>";
    }
    return std::string(buf, size_t(got));
}

UInt32 PortPixel(WindowRef w, int x, int y) {
    PixMapHandle pm = GetPortPixMap(GetWindowPort(w));
    const auto* p = reinterpret_cast<const std::uint8_t*>(GetPixBaseAddr(pm)) +
                    std::ptrdiff_t(y) * GetPixRowBytes(pm) + x * 4;
    return (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | p[3];
}

namespace {
using Steps = std::vector<std::function<void()>>;
void Schedule(std::shared_ptr<Steps> steps, size_t i) {
    if (i >= steps->size()) {
        return;
    }
    QTimer::singleShot(0, [steps, i] {
        (*steps)[i]();
        Schedule(steps, i + 1);
    });
}
} // namespace

void RunScript(std::vector<std::function<void()>> steps) {
    Schedule(std::make_shared<Steps>(std::move(steps)), 0);
}

} // namespace dialog_test
