// Windows from nibs: finding them, their failure codes, ports, and disposal.
#include "UITestSupport.h"

#include <gtest/gtest.h>

#include <QWidget>

using namespace uitest;
namespace tst = toolbox::ui::testing;

namespace {

class Windows : public ::testing::Test {
  protected:
    void SetUp() override { ResetLogs(); }
};

TEST_F(Windows, OpensTheNamedWindowHiddenWithAPortOfItsSize) {
    WindowRef w = OpenWindow("test", "main");
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(IsWindowVisible(w));
    Rect bounds{};
    GetWindowPortBounds(w, &bounds);
    EXPECT_EQ(bounds.top, 0);
    EXPECT_EQ(bounds.left, 0);
    EXPECT_EQ(bounds.bottom, 320);
    EXPECT_EQ(bounds.right, 420);
    CGrafPtr port = GetWindowPort(w);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(GetWindowFromPort(port), w);
    CFStringRef title = nullptr;
    ASSERT_EQ(CopyWindowTitleAsCFString(w, &title), noErr);
    EXPECT_EQ(toolbox::cf::utf8(title), "Test Window");
    CFRelease(title);
    ShowWindow(w);
    EXPECT_TRUE(IsWindowVisible(w));
    HideWindow(w);
    EXPECT_FALSE(IsWindowVisible(w));
    DisposeWindow(w);
}

TEST_F(Windows, TheSameWindowNameInAnotherNibIsAnotherWindow) {
    WindowRef a = OpenWindow("test", "main");
    WindowRef b = OpenWindow("other", "main");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(Control(a, "Sldr", 1), nullptr);
    EXPECT_EQ(Control(b, "Sldr", 1), nullptr);
    EXPECT_NE(Control(b, "Text", 1), nullptr);
    DisposeWindow(a);
    DisposeWindow(b);
}

TEST_F(Windows, FailuresHaveTheInterfaceBuilderCodesAndLeaveNothing) {
    IBNibRef nib = reinterpret_cast<IBNibRef>(1);
    EXPECT_EQ(CreateNibReferenceWithCFBundle(TestBundle(), Str("nosuchnib"), &nib),
              kIBCarbonRuntimeCantFindNibFile);
    EXPECT_EQ(nib, nullptr);
    EXPECT_EQ(CreateNibReferenceWithCFBundle(nullptr, Str("test"), &nib), paramErr);
    // A resource that exists but is no nib folder.
    EXPECT_EQ(CreateNibReferenceWithCFBundle(TestBundle(), Str("readme"), &nib),
              kIBCarbonRuntimeCantFindNibFile);

    OSStatus err = noErr;
    EXPECT_EQ(OpenWindow("test", "nosuchwindow", &err), nullptr);
    EXPECT_EQ(err, kIBCarbonRuntimeCantFindObject);
    EXPECT_EQ(OpenWindow("test", "../other.nib/main", &err), nullptr);
    EXPECT_EQ(err, kIBCarbonRuntimeCantFindObject);
    EXPECT_EQ(OpenWindow("test", "", &err), nullptr);
    EXPECT_EQ(err, kIBCarbonRuntimeCantFindObject);
    EXPECT_EQ(OpenWindow("test", "broken", &err), nullptr);
    EXPECT_EQ(err, kIBCarbonRuntimeObjectNotOfRequestedType);
}

TEST_F(Windows, MakingShowingAndDisposingLeaveTheCurrentPortAlone) {
    Rect r{0, 0, 10, 10};
    GWorldPtr mine = nullptr;
    ASSERT_EQ(NewGWorld(&mine, 32, &r, nullptr, nullptr, 0), noErr);
    SetGWorld(mine, nullptr);
    WindowRef w = OpenWindow("test", "main");
    ASSERT_NE(w, nullptr);
    ShowWindow(w);
    BringToFront(w);
    tst::ProcessEvents();
    CGrafPtr now = nullptr;
    GDHandle device = nullptr;
    GetGWorld(&now, &device);
    EXPECT_EQ(now, mine);
    DisposeWindow(w);
    GetGWorld(&now, &device);
    EXPECT_EQ(now, mine);
    DisposeGWorld(mine);
}

TEST_F(Windows, DisposingTheWindowWhosePortIsCurrentLeavesNoDanglingPort) {
    WindowRef w = OpenWindow("test", "small");
    ASSERT_NE(w, nullptr);
    SetPortWindowPort(w);
    CGrafPtr now = nullptr;
    GetPort(&now);
    EXPECT_EQ(now, GetWindowPort(w));
    DisposeWindow(w);
    GetPort(&now);
    EXPECT_EQ(now, nullptr);
}

// A handler that disposes of its own window: the window must not be freed under the
// dispatch that is still running in it.
OSStatus DisposeOnCommand(EventHandlerCallRef, EventRef, void* userData) {
    auto* w = static_cast<WindowRef>(userData);
    DisposeWindow(w);
    // The window is gone for the toolbox at once...
    EXPECT_EQ(GetWindowPort(w), nullptr);
    EXPECT_FALSE(IsWindowVisible(w));
    return noErr;
}

TEST_F(Windows, AWindowDisposedByItsOwnHandlerGoesWhenTheEventIsDone) {
    WindowRef w = OpenWindow("test", "main");
    ASSERT_NE(w, nullptr);
    ShowWindow(w);
    const EventTypeSpec spec{kEventClassCommand, kEventCommandProcess};
    ASSERT_EQ(InstallEventHandler(GetWindowEventTarget(w), DisposeOnCommand, 1, &spec, w, nullptr),
              noErr);
    // A click on the check box sends its command to the handler, which disposes of the
    // window from inside the click.
    tst::PostClick(w, Point{72, 166} /* the check box */);
    tst::ProcessEvents();
    EXPECT_EQ(GetWindowPort(w), nullptr);
    EXPECT_EQ(tst::WindowWidget(w), nullptr);
}

TEST_F(Windows, AScreenshotShowsTheWindow) {
    TempDir dir;
    WindowRef w = OpenWindow("test", "main");
    ASSERT_NE(w, nullptr);
    ShowWindow(w);
    tst::ProcessEvents();
    const std::string png = dir.file("main.png");
    ASSERT_TRUE(tst::WriteWindowPNG(w, png));
    // The box's value (red) fills it inside its black frame.
    EXPECT_EQ(PngPixel(png, 60, 150), 0xFF0000u);
    EXPECT_EQ(PngPixel(png, 20, 110), 0x000000u);
    if (const char* keep = std::getenv("TOOLBOX_UI_SCREENSHOT_DIR")) {
        tst::WriteWindowPNG(w, std::string(keep) + "/main.png");
    }
    DisposeWindow(w);
}

} // namespace
