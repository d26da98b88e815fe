// DialogFixture.cpp - see DialogFixture.h.
#include "DialogFixture.h"

#include "HIToolbox.h"
#include "MacMemory.h"
#include "carbonmacros.h"
#include "clipCTRL.h"
#include "colorCTRL.h"
#include "configdlghandler.h"
#include "gworldprocs.h"
#include "iMovieGlue.h"
#include "pictCTRL.h"

#include <QTimer>

#include <cstdlib>
#include <memory>

namespace dialog_test {

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
    gConfigWorkSpace.getFrameIntoGW = GetFrameIntoGW;
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

PreviewComparison ComparePreview(const OpenDialog& d, const tessera_test::Frame& expected,
                                 const std::function<bool(int x, int y)>& skip) {
    PreviewComparison result;
    for (int y = 1; y < expected.height() - 1; y += 3) {
        for (int x = 1; x < expected.width() - 1; x += 3) {
            if (skip(x, y)) {
                continue;
            }
            const auto e = expected.at(x, y);
            const UInt32 want = (UInt32(e.r) << 16) | (UInt32(e.g) << 8) | e.b;
            ++result.compared;
            result.differing += PortPixel(d.window, d.preview.left + x, d.preview.top + y) != want;
        }
    }
    return result;
}

std::filesystem::path ScreenshotDir(const tessera_test::TempConfigHome& home) {
    if (const char* d = std::getenv("TESSERA_SCREENSHOT_DIR")) {
        return d;
    }
    return home.dir();
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
