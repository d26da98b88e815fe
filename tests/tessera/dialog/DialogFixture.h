// DialogFixture.h - what the dialog's tests share: the real Tessera bundle (its Info.plist
// and nib windows) opened by identifier, a small host that serves generated frames through
// the real callback table, the dialog workspace set up as the host's button does, and a
// script of steps run inside the dialog's own modal loop.
#pragma once

#include "DataHandling.h"
#include "Globals.h"
#include "HYPlugin.h"
#include "TestSupport.h"
#include "ToolboxUITesting.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dialog_test {

// Frames of a generated clip: frame i at any size is Pattern shifted by 9 * i, so that two
// frames differ everywhere. Serves GetFrame / ReleaseFrame like a host.
class FrameHost {
  public:
    explicit FrameHost(SInt32 frameCount);
    ~FrameHost();
    _PluginParams& params() { return params_; }
    std::vector<SInt32> requested; // absolute indices asked for
    SInt32 frameCount;
    static tessera_test::ARGB PixelOf(SInt32 frame, int x, int y);
    static void Fill(GWorldPtr gw, SInt32 frame);
    struct Lease {
        GWorldPtr gw; // nil once the plug-in disposed of it
    };
    std::vector<std::unique_ptr<Lease>> leases;

  private:
    HYProcs procs_{};
    _PluginParams params_{};
};

// The bundle of the build, held open (so found by "com.kelmar.vidkit.tessera").
CFBundleRef TesseraBundle();

// Opens a dialog window of the format the record asks for, bound to the workspace exactly
// as DoConfig binds it (handler installed, SetupDialog, shown), without a modal loop: the
// test drives it with posted events and ProcessEvents. Close() disposes of it.
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

// Runs steps one after the other, each as its own turn of whichever modal loop is running
// (so a step may end a loop and the next one runs in the rebuilt window's loop).
void RunScript(std::vector<std::function<void()>> steps);

} // namespace dialog_test
