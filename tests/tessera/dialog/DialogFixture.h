// DialogFixture.h - what the dialog's tests share: the real bundle of the effect the test
// program is built for (TESSERA_BUNDLE_PATH: Tessera's, or Tessera Motion's; its Info.plist
// and nib windows) opened by identifier, the fake host that serves generated frames, the dialog
// workspace set up as the host's button does, and a script of steps run inside the dialog's own
// modal loop.
#pragma once

#include "DataHandling.h"
#include "Globals.h"
#include "HYPlugin.h"
#include "TestSupport.h"
#include "ToolboxUITesting.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dialog_test {

// The plug-in tests' fake host: frames of a generated clip served through the real callback
// table (see TestSupport.h).
using FrameHost = tessera_test::FakeHost;

// The bundle of the build, held open (so found by cMyBundleID).
CFBundleRef TesseraBundle();

// Opens a dialog window of the format the record asks for, bound to the workspace exactly
// as the host glue's button and DoConfig bind it (the glue's frame fetch, the handler
// installed, SetupDialog, shown), without a modal loop: the test drives it with posted
// events and ProcessEvents. Close() disposes of it.
struct OpenDialog {
    OpenDialog(pluginDataRec* config, FrameHost& host, int width, int height);
    ~OpenDialog();
    WindowRef window = nullptr;
    tessera_test::Frame source;
    GWorldPtr fx = nullptr;
    Point previewPoint(int x, int y) const; // a point of the preview, in window coordinates
    Rect preview{};
};

ControlRef Control(WindowRef w, const char (&sig)[5], SInt16 id);
std::string ControlText(WindowRef w, const char (&sig)[5], SInt16 id);
UInt32 PortPixel(WindowRef w, int x, int y); // 00RRGGBB

// Every third pixel of the preview, one in from its border, against the same pixel of
// `expected` (a render of the preview's size), except those `skip` names (what is drawn over
// the render: outlines, edges, handles).
struct PreviewComparison {
    int compared = 0;
    int differing = 0;
};
PreviewComparison ComparePreview(const OpenDialog& d, const tessera_test::Frame& expected,
                                 const std::function<bool(int x, int y)>& skip);

// Where screenshots go: TESSERA_SCREENSHOT_DIR when set (e.g. docs/), else the test's own
// temporary folder, so that test processes running side by side never read each other's
// pictures.
std::filesystem::path ScreenshotDir(const tessera_test::TempConfigHome& home);

// Runs steps one after the other, each as its own turn of whichever modal loop is running
// (so a step may end a loop and the next one runs in the rebuilt window's loop).
void RunScript(std::vector<std::function<void()>> steps);

} // namespace dialog_test
