// Events, handler chains, commands, app-modal loops, keys and mouse tracking.
#include "UITestSupport.h"

#include <gtest/gtest.h>

#include <QTimer>
#include <QWidget>

using namespace uitest;
namespace tst = toolbox::ui::testing;

namespace {

std::vector<int> gOrder;

OSStatus First(EventHandlerCallRef, EventRef, void*) {
    gOrder.push_back(1);
    return noErr;
}
OSStatus PassOn(EventHandlerCallRef, EventRef, void*) {
    gOrder.push_back(2);
    return eventNotHandledErr;
}
OSStatus CallsNext(EventHandlerCallRef call, EventRef e, void*) {
    gOrder.push_back(3);
    const OSStatus r = CallNextEventHandler(call, e);
    gOrder.push_back(30);
    return r;
}
EventHandlerRef gVictim = nullptr;
OSStatus RemovesTheNext(EventHandlerCallRef, EventRef, void*) {
    gOrder.push_back(4);
    RemoveEventHandler(gVictim);
    return eventNotHandledErr;
}

EventRef CommandEvent(UInt32 id) {
    EventRef e = nullptr;
    CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, 0, &e);
    HICommand cmd{};
    cmd.commandID = id;
    SetEventParameter(e, kEventParamDirectObject, typeHICommand, sizeof cmd, &cmd);
    return e;
}

class Events : public WindowTest {
  protected:
    Events() : WindowTest("small") {}
    void SetUp() override {
        gOrder.clear();
        WindowTest::SetUp();
    }
    const EventTypeSpec spec{kEventClassCommand, kEventCommandProcess};
};

TEST_F(Events, ParametersKeepTheirTypeAndSize) {
    EventRef e = CommandEvent(FOUR_CHAR_CODE("Test"));
    HICommand cmd{};
    EventParamType type = 0;
    ByteCount size = 0;
    EXPECT_EQ(GetEventParameter(e, kEventParamDirectObject, typeHICommand, &type, sizeof cmd, &size,
                                &cmd),
              noErr);
    EXPECT_EQ(type, typeHICommand);
    EXPECT_EQ(size, sizeof cmd);
    EXPECT_EQ(cmd.commandID, FOUR_CHAR_CODE("Test"));
    EXPECT_EQ(GetEventParameter(e, kEventParamDirectObject, typeControlRef, nullptr, sizeof cmd,
                                nullptr, &cmd),
              errAECoercionFail);
    EXPECT_EQ(GetEventParameter(e, kEventParamDirectObject, typeWildCard, nullptr, sizeof cmd,
                                nullptr, &cmd),
              noErr);
    char small[2];
    EXPECT_EQ(GetEventParameter(e, kEventParamDirectObject, typeHICommand, nullptr, sizeof small,
                                nullptr, small),
              errAEBufferTooSmall);
    EXPECT_EQ(
        GetEventParameter(e, kEventParamMouseLocation, typeQDPoint, nullptr, 4, nullptr, small),
        eventParameterNotFoundErr);
    EXPECT_EQ(GetEventClass(e), kEventClassCommand);
    EXPECT_EQ(GetEventKind(e), kEventCommandProcess);
    ReleaseEvent(e);
}

TEST_F(Events, TheLatestHandlerRunsFirstAndNotHandledPassesOn) {
    EventTargetRef t = GetWindowEventTarget(w);
    InstallEventHandler(t, First, 1, &spec, nullptr, nullptr);
    InstallEventHandler(t, PassOn, 1, &spec, nullptr, nullptr);
    EventRef e = CommandEvent(1);
    EXPECT_EQ(SendEventToEventTarget(e, t), noErr);
    EXPECT_EQ(gOrder, (std::vector<int>{2, 1}));
    ReleaseEvent(e);
}

TEST_F(Events, CallNextEventHandlerRunsTheRestOfTheChainOnce) {
    EventTargetRef t = GetWindowEventTarget(w);
    InstallEventHandler(t, First, 1, &spec, nullptr, nullptr);
    InstallEventHandler(t, PassOn, 1, &spec, nullptr, nullptr);
    InstallEventHandler(t, CallsNext, 1, &spec, nullptr, nullptr);
    EventRef e = CommandEvent(1);
    EXPECT_EQ(SendEventToEventTarget(e, t), noErr);
    EXPECT_EQ(gOrder, (std::vector<int>{3, 2, 1, 30}));
    ReleaseEvent(e);
}

TEST_F(Events, AHandlerRemovedDuringADispatchIsNotCalled) {
    EventTargetRef t = GetWindowEventTarget(w);
    InstallEventHandler(t, First, 1, &spec, nullptr, &gVictim);
    InstallEventHandler(t, RemovesTheNext, 1, &spec, nullptr, nullptr);
    EventRef e = CommandEvent(1);
    EXPECT_EQ(SendEventToEventTarget(e, t), eventNotHandledErr);
    EXPECT_EQ(gOrder, std::vector<int>{4});
    EXPECT_EQ(RemoveEventHandler(gVictim), paramErr); // already gone
    ReleaseEvent(e);
}

TEST_F(Events, OtherEventTypesDoNotReachAHandler) {
    EventTargetRef t = GetWindowEventTarget(w);
    InstallEventHandler(t, First, 1, &spec, nullptr, nullptr);
    EventRef e = nullptr;
    CreateEvent(nullptr, kEventClassCommand, kEventCommandUpdateStatus, 0, 0, &e);
    EXPECT_EQ(SendEventToEventTarget(e, t), eventNotHandledErr);
    EXPECT_TRUE(gOrder.empty());
    ReleaseEvent(e);
}

TEST_F(Events, APostedCommandEndsTheModalLoop) {
    CommandLog log;
    log.quitOn = {FOUR_CHAR_CODE("done")};
    InstallCommandLog(w, &log);
    EXPECT_EQ(QuitAppModalLoopForWindow(w), errWindowNotModal);
    ShowWindow(w);
    tst::PostCommand(w, FOUR_CHAR_CODE("this"));
    tst::PostCommand(w, FOUR_CHAR_CODE("done"));
    EXPECT_EQ(RunAppModalLoopForWindow(w), noErr);
    EXPECT_EQ(log.commands, (std::vector<UInt32>{FOUR_CHAR_CODE("this"), FOUR_CHAR_CODE("done")}));
    EXPECT_TRUE(IsWindowVisible(w));
}

struct Nest {
    WindowRef outer = nullptr;
    bool innerRan = false;
    bool innerDone = false;
};

OSStatus NestHandler(EventHandlerCallRef, EventRef e, void* userData) {
    auto* n = static_cast<Nest*>(userData);
    HICommand cmd{};
    GetEventParameter(e, kEventParamDirectObject, typeHICommand, nullptr, sizeof cmd, nullptr,
                      &cmd);
    if (cmd.commandID == FOUR_CHAR_CODE("nest")) {
        WindowRef inner = OpenWindow("test", "small");
        CommandLog log;
        log.quitOn = {kHICommandOK};
        InstallCommandLog(inner, &log);
        ShowWindow(inner);
        tst::PostCommand(inner, kHICommandOK);
        n->innerRan = RunAppModalLoopForWindow(inner) == noErr;
        n->innerDone = log.commands == std::vector<UInt32>{kHICommandOK};
        DisposeWindow(inner);
        tst::PostCommand(n->outer, kHICommandOK);
        return noErr;
    }
    if (cmd.commandID == kHICommandOK) {
        QuitAppModalLoopForWindow(n->outer);
        return noErr;
    }
    return eventNotHandledErr;
}

TEST_F(Events, ModalLoopsNestInsideHandlers) {
    Nest n;
    n.outer = w;
    InstallEventHandler(GetWindowEventTarget(w), NestHandler, 1, &spec, &n, nullptr);
    ShowWindow(w);
    tst::PostCommand(w, FOUR_CHAR_CODE("nest"));
    EXPECT_EQ(RunAppModalLoopForWindow(w), noErr);
    EXPECT_TRUE(n.innerRan);
    EXPECT_TRUE(n.innerDone);
}

TEST_F(Events, ProcessHICommandGoesToTheInnermostModalWindow) {
    CommandLog log;
    log.quitOn = {FOUR_CHAR_CODE("quit")};
    InstallCommandLog(w, &log);
    ShowWindow(w);
    QTimer::singleShot(0, [] {
        HICommand cmd{};
        cmd.commandID = FOUR_CHAR_CODE("quit");
        ProcessHICommand(&cmd);
    });
    EXPECT_EQ(RunAppModalLoopForWindow(w), noErr);
    EXPECT_EQ(log.commands, std::vector<UInt32>{FOUR_CHAR_CODE("quit")});
}

TEST_F(Events, EscapeAndTheCloseBoxCancelAndReturnPressesTheDefaultButton) {
    DisposeWindow(w);
    w = OpenWindow("test", "main");
    CommandLog log;
    InstallCommandLog(w, &log);
    ShowWindow(w);
    tst::ProcessEvents();
    tst::PostKey(w, Qt::Key_Escape);
    tst::ProcessEvents();
    tst::WindowWidget(w)->close();
    tst::ProcessEvents();
    EXPECT_TRUE(IsWindowVisible(w)); // the handler decides, not the close box
    tst::PostKey(w, Qt::Key_Return);
    tst::ProcessEvents();
    EXPECT_EQ(log.commands,
              (std::vector<UInt32>{kHICommandCancel, kHICommandCancel, kHICommandOK}));
}

TEST_F(Events, TrackingWithoutAClickReportsMouseUpAtOnce) {
    Point where{1, 1};
    MouseTrackingResult what = 0;
    EXPECT_EQ(TrackMouseLocation(GetWindowPort(w), &where, &what), noErr);
    EXPECT_EQ(what, kMouseTrackingMouseUp);
}

TEST_F(Events, KeyModifiersAreThoseOfTheEventBeingHandled) {
    struct Seen {
        UInt32 mods = 0;
    } seen;
    auto handler = [](EventHandlerCallRef, EventRef, void* ud) -> OSStatus {
        static_cast<Seen*>(ud)->mods = GetCurrentEventKeyModifiers();
        return noErr;
    };
    DisposeWindow(w);
    w = OpenWindow("test", "main");
    InstallEventHandler(GetWindowEventTarget(w), handler, 1, &spec, &seen, nullptr);
    ShowWindow(w);
    tst::PostClick(w, Point{294, 360}, optionKey | shiftKey);
    tst::ProcessEvents();
    EXPECT_EQ(seen.mods, UInt32(optionKey | shiftKey));
    tst::PostClick(w, Point{294, 360}, 0);
    tst::ProcessEvents();
    EXPECT_EQ(seen.mods, 0u);
}

} // namespace
