// Custom control classes: registration, the click protocol (hit test, track, hit), drawing
// into the window's port, and what reaches the screen.
#include "UITestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>

#include <sys/resource.h>

using namespace uitest;
namespace tst = toolbox::ui::testing;

namespace {

class CustomControls : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_NE(w, nullptr);
        InstallCommandLog(w, &commands);
        ShowWindow(w);
        tst::ProcessEvents();
        Box() = BoxLog{};
    }
    std::vector<EventKind> clickEvents() const {
        std::vector<EventKind> out;
        for (EventKind k : Box().events) {
            if (k == kEventControlHitTest || k == kEventControlTrack || k == kEventControlHit) {
                out.push_back(k);
            }
        }
        return out;
    }
    CommandLog commands;
};

TEST_F(CustomControls, LearnOfTheirWindowWhenItIsMade) {
    Box() = BoxLog{};
    WindowRef other = OpenWindow("test", "main");
    ASSERT_NE(other, nullptr);
    int owningChanged = 0;
    for (EventKind k : Box().events) {
        owningChanged += k == kEventControlOwningWindowChanged;
    }
    EXPECT_EQ(owningChanged, 2); // one per custom control
    DisposeWindow(other);
}

TEST_F(CustomControls, ADragRunsHitTestTrackAndHitAndSendsTheCommand) {
    // Press in the top half (part 1), drag, release; with Shift held.
    const std::vector<Point> path{{130, 60}, {135, 70}, {150, 90}, {160, 100}};
    tst::PostDrag(w, path, shiftKey);
    tst::ProcessEvents();
    EXPECT_EQ(clickEvents(),
              (std::vector<EventKind>{kEventControlHitTest, kEventControlTrack, kEventControlHit}));
    EXPECT_EQ(Box().tracked, (std::vector<MouseTrackingResult>{
                                 kMouseTrackingMouseDragged, kMouseTrackingMouseDragged,
                                 kMouseTrackingMouseDragged, kMouseTrackingMouseUp}));
    ASSERT_EQ(Box().trackedAt.size(), 4u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Box().trackedAt[i].v, path[i + 1].v);
        EXPECT_EQ(Box().trackedAt[i].h, path[i + 1].h);
    }
    EXPECT_EQ(Box().trackModifiers, std::vector<UInt32>{shiftKey});
    EXPECT_EQ(Box().hits, std::vector<ControlPartCode>{1});
    // The hit was left to the toolbox, so the control's command went to the window.
    EXPECT_EQ(commands.commands, std::vector<UInt32>{FOUR_CHAR_CODE("Boxx")});
    // What Track drew into the port at each drag step is there.
    EXPECT_EQ(PortPixel(GetWindowPort(w), 70, 135), 0x00FF00u);
    EXPECT_EQ(PortPixel(GetWindowPort(w), 90, 150), 0x00FF00u);
}

// The mouse button held down for a second without moving: the control's tracking loop must
// sleep until the release comes, not spin. The bound is CPU time, not wall time, and is
// generous (a spinning loop takes nearly the whole second, or a large share of a core on
// a busy machine).
TEST_F(CustomControls, AMouseHeldStillDuringATrackCostsNoCPU) {
    QWidget* box = tst::ControlWidget(Control(w, "Clip", 1));
    ASSERT_NE(box, nullptr);
    const QPointF local(40, 20); // box 1's top half: part 1, tracked by the control
    const QPointF global = box->mapToGlobal(local);
    auto send = [box, local, global](QEvent::Type type, Qt::MouseButtons buttons) {
        QMouseEvent event(type, local, local, global, Qt::LeftButton, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(box, &event);
    };
    QTimer::singleShot(1000, box, [&] { send(QEvent::MouseButtonRelease, Qt::NoButton); });
    QMetaObject::invokeMethod(
        box, [&] { send(QEvent::MouseButtonPress, Qt::LeftButton); }, Qt::QueuedConnection);
    rusage before{}, after{};
    getrusage(RUSAGE_THREAD, &before);
    while (Box().tracked.empty() || Box().tracked.back() != kMouseTrackingMouseUp) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    getrusage(RUSAGE_THREAD, &after);
    auto seconds = [](const rusage& r) {
        return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
               double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    };
    EXPECT_EQ(Box().tracked, std::vector<MouseTrackingResult>{kMouseTrackingMouseUp});
    EXPECT_LT(seconds(after) - seconds(before), 0.15);
}

TEST_F(CustomControls, APartOfZeroEndsTheClickAtTheHitTest) {
    tst::PostDrag(w, {{150, 22}, {150, 60}}); // the leftmost strip of box 1 is no part
    tst::ProcessEvents();
    EXPECT_EQ(clickEvents(), std::vector<EventKind>{kEventControlHitTest});
    EXPECT_TRUE(Box().hits.empty());
    EXPECT_TRUE(commands.commands.empty());
}

TEST_F(CustomControls, AHandledHitSendsNoCommand) {
    Box().handleHit = true;
    tst::PostClick(w, Point{130, 60});
    tst::ProcessEvents();
    EXPECT_EQ(Box().hits, std::vector<ControlPartCode>{1});
    EXPECT_TRUE(commands.commands.empty());
}

TEST_F(CustomControls, AnUnhandledTrackHilitesThePartUnderTheMouse) {
    Box().handleTrack = false;
    // Part 1 (top half) -> part 2 (bottom half) -> back to part 1, released there.
    tst::PostDrag(w, {{120, 60}, {190, 60}, {125, 60}});
    tst::ProcessEvents();
    std::vector<UInt16> pressed;
    for (UInt16 h : Box().drawHilites) {
        if (pressed.empty() || pressed.back() != h) {
            pressed.push_back(h);
        }
    }
    EXPECT_EQ(pressed, (std::vector<UInt16>{1, 0, 1, 0}));
    EXPECT_EQ(Box().hits, std::vector<ControlPartCode>{1});

    // Released over another part: no hit.
    Box() = BoxLog{};
    Box().handleTrack = false;
    commands.commands.clear();
    tst::PostDrag(w, {{120, 60}, {190, 60}});
    tst::ProcessEvents();
    EXPECT_TRUE(Box().hits.empty());
    EXPECT_TRUE(commands.commands.empty());
}

TEST_F(CustomControls, SettingTheValueRedrawsInTheWindowPortAndRestoresThePort) {
    Rect r{0, 0, 4, 4};
    GWorldPtr mine = nullptr;
    ASSERT_EQ(NewGWorld(&mine, 32, &r, nullptr, nullptr, 0), noErr);
    SetGWorld(mine, nullptr);
    ControlRef b = Control(w, "Clip", 1);
    const std::size_t draws = Box().drawPorts.size();
    SetControl32BitValue(b, 0x0000FF);
    ASSERT_EQ(Box().drawPorts.size(), draws + 1);
    EXPECT_EQ(Box().drawPorts.back(), GetWindowPort(w));
    CGrafPtr now = nullptr;
    GetPort(&now);
    EXPECT_EQ(now, mine);
    EXPECT_EQ(PortPixel(GetWindowPort(w), 60, 150), 0x0000FFu);
    // The same value again still redraws.
    SetControl32BitValue(b, 0x0000FF);
    EXPECT_EQ(Box().drawPorts.size(), draws + 2);
    // A hidden control is not drawn.
    HideControl(b);
    Draw1Control(b);
    EXPECT_EQ(Box().drawPorts.size(), draws + 2);
    SetGWorld(nullptr, nullptr);
    DisposeGWorld(mine);
}

TEST_F(CustomControls, ADisabledControlIsNotClickable) {
    DisableControl(Control(w, "Clip", 1));
    tst::PostClick(w, Point{130, 60});
    tst::ProcessEvents();
    EXPECT_TRUE(clickEvents().empty());
}

OSStatus Nothing(EventHandlerCallRef, EventRef, void*) {
    return noErr;
}

TEST(ControlClasses, RegistrationRules) {
    ResetLogs();
    const EventTypeSpec draw{kEventClassControl, kEventControlDraw};
    ToolboxObjectClassRef ref = nullptr;
    CFStringRef id = Str(kBoxClass);
    DisposeWindow(OpenWindow("test", "small")); // makes sure the box class is registered
    EXPECT_EQ(RegisterToolboxObjectClass(id, nullptr, 1, &draw, Nothing, nullptr, &ref),
              hiObjectClassExistsErr);
    CFStringRef fresh = Str("org.tessera.test.fresh");
    ASSERT_EQ(RegisterToolboxObjectClass(fresh, nullptr, 1, &draw, Nothing, nullptr, &ref), noErr);
    EXPECT_EQ(UnregisterToolboxObjectClass(ref), noErr);
    EXPECT_EQ(UnregisterToolboxObjectClass(ref), hiObjectClassNotFoundErr);
    ASSERT_EQ(RegisterToolboxObjectClass(fresh, nullptr, 1, &draw, Nothing, nullptr, &ref), noErr);
    EXPECT_EQ(UnregisterToolboxObjectClass(ref), noErr);
}

TEST(ControlClasses, AClassCannotGoWhileItsControlsExist) {
    ResetLogs();
    // The nib names a class nobody has registered yet: the controls are inert until it is.
    TempDir dir;
    const std::string form = Form(
        "late", 100, 100, "Late",
        Widget(
            "ToolboxControl", "thing", 10, 10, 50, 50, "",
            {{"signature", "Late"}, {"number", "1"}, {"controlClass", "org.tessera.test.late"}}));
    CFBundleRef bundle = MakeBundle(dir, "org.tessera.test.late", {{"late", {{"late", form}}}});
    IBNibRef nib = nullptr;
    ASSERT_EQ(CreateNibReferenceWithCFBundle(bundle, Str("late"), &nib), noErr);
    WindowRef w = nullptr;
    ASSERT_EQ(CreateWindowFromNib(nib, Str("late"), &w), noErr);
    DisposeNibReference(nib);
    ShowWindow(w);
    tst::PostClick(w, Point{30, 30});
    tst::ProcessEvents(); // nothing to call, nothing breaks

    static int draws = 0;
    auto count = [](EventHandlerCallRef, EventRef, void*) -> OSStatus {
        ++draws;
        return noErr;
    };
    const EventTypeSpec draw{kEventClassControl, kEventControlDraw};
    ToolboxObjectClassRef ref = nullptr;
    ASSERT_EQ(RegisterToolboxObjectClass(Str("org.tessera.test.late"), nullptr, 1, &draw, count,
                                         nullptr, &ref),
              noErr);
    Draw1Control(Control(w, "Late", 1));
    EXPECT_EQ(draws, 1);
    EXPECT_EQ(UnregisterToolboxObjectClass(ref), hiObjectClassHasInstancesErr);
    DisposeWindow(w);
    EXPECT_EQ(UnregisterToolboxObjectClass(ref), noErr);
    CFRelease(bundle);
}

} // namespace
