// UITestSupport.h - fixtures for the windowing toolbox's tests: a temporary folder, a test
// with a window of the test nib open, a real bundle on disk with nib folders of Qt Designer
// files, generated image files, and a custom control class that records what it is sent.
#pragma once

#include "HIToolbox.h"
#include "TestFiles.h"
#include "ToolboxUITesting.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace uitest {

using TempDir = testfs::TempFolder;

// Name.bundle/Contents/{Info.plist, Resources/<nib>.nib/<window>.ui} under dir, opened as a
// CFBundle (the caller releases it).
using NibFiles = std::map<std::string, std::map<std::string, std::string>>; // nib -> window -> xml
CFBundleRef MakeBundle(const TempDir& dir, const std::string& identifier, const NibFiles& nibs);

// A Designer form: top-level QWidget of the size, with the given child widgets' XML.
std::string Form(const std::string& name, int width, int height, const std::string& title,
                 const std::string& children);
// One child widget's XML. props: extra <property> XML; dyn: dynamic properties (strings, or
// ints when they parse as ints).
std::string Widget(const std::string& cls, const std::string& name, int x, int y, int w, int h,
                   const std::string& props = "",
                   const std::vector<std::pair<std::string, std::string>>& dyn = {});

// The window "main" of the test nib: sliders, texts, a pop-up, a check box, buttons and two
// custom controls of class kBoxClass.
std::string MainForm();
inline constexpr const char* kBoxClass = "org.tessera.test.box";

// Image files built byte by byte (so the tests need no image tools): an animated GIF whose
// frames are solid colours, a multi-page uncompressed RGB TIFF.
std::string GifBytes(int width, int height, const std::vector<RGBColor>& frames);
struct TiffPage {
    int width, height;
    RGBColor color;
};
std::string TiffBytes(const std::vector<TiffPage>& pages);

// The recording custom control class.
struct BoxLog {
    std::vector<EventKind> events;            // every event kind the class was sent, in order
    std::vector<MouseTrackingResult> tracked; // what TrackMouseLocation reported during Track
    std::vector<Point> trackedAt;
    std::vector<UInt32> trackModifiers; // kEventParamKeyModifiers of each Track
    std::vector<ControlPartCode> hits;  // kEventParamControlPart of each Hit
    std::vector<UInt16> drawHilites;    // the hilite state seen by each Draw
    std::vector<CGrafPtr> drawPorts;    // the current port during each Draw
    bool handleTrack = true;            // false: let the toolbox track
    bool handleHit = false;             // true: a hit does not send the command
};
BoxLog& Box();
// Registers kBoxClass (handler for draw, hit test, hit, track, activate, owning window
// changed); returns the class reference.
ToolboxObjectClassRef RegisterBox();

// A window command recorder: every command ID sent to the window; the commands listed in
// quitOn end the window's modal loop.
struct CommandLog {
    std::vector<UInt32> commands;
    std::vector<UInt32> quitOn;
    WindowRef window = nullptr;
    bool handled = true; // false: the handler reports eventNotHandledErr
};
EventHandlerRef InstallCommandLog(WindowRef w, CommandLog* log);

// Pixel (x, y) of a port as 0x00RRGGBB.
UInt32 PortPixel(CGrafPtr port, int x, int y);
// Pixel (x, y) of a PNG file as 0x00RRGGBB (reads with Qt).
UInt32 PngPixel(const std::string& path, int x, int y);

ControlRef Control(WindowRef w, const char (&sig)[5], SInt32 id);

// The process-wide test bundle kTestBundleID, with the nib "test" (windows "main",
// "small", and "broken", which is no Designer file) and the nib "other" (window "main").
inline constexpr const char* kTestBundleID = "org.tessera.test.ui";
CFBundleRef TestBundle();
// A window of the test bundle; nil with *err set on failure. The box class is registered
// on first use.
WindowRef OpenWindow(const char* nib, const char* window, OSStatus* err = nullptr);
// Empties the box log, the scripted answers and the dialog logs.
void ResetLogs();

// A test with the logs reset and a window of the test nib open ("main" unless the fixture
// names another), disposed of afterwards.
class WindowTest : public ::testing::Test {
  protected:
    explicit WindowTest(const char* window = "main") : window_(window) {}
    void SetUp() override {
        ResetLogs();
        w = OpenWindow("test", window_);
        ASSERT_NE(w, nullptr);
    }
    void TearDown() override { DisposeWindow(w); }
    WindowRef w = nullptr;

  private:
    const char* window_;
};
// The centre of a control, in window coordinates.
Point Centre(ControlRef c);
CFStringRef Str(const char* utf8); // a constant string

} // namespace uitest
