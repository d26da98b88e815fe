// Controls of nib windows: finding them, values and ranges, texts, bounds, visibility, and
// what user actions on them send.
#include "UITestSupport.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QSlider>
#include <QTest>

#include <cstring>

using namespace uitest;
namespace tst = toolbox::ui::testing;

namespace {

using Controls = WindowTest;

TEST_F(Controls, AreFoundBySignatureAndNumber) {
    for (auto [sig, id] : std::vector<std::pair<const char*, SInt32>>{
             {"Sldr", 1}, {"Lgnd", 1}, {"Medi", 1}, {"Prop", 1}, {"Clip", 1}, {"Clip", 2}}) {
        ControlID cid{(UInt32(UInt8(sig[0])) << 24) | (UInt32(UInt8(sig[1])) << 16) |
                          (UInt32(UInt8(sig[2])) << 8) | UInt32(UInt8(sig[3])),
                      id};
        ControlRef c = nullptr;
        EXPECT_EQ(GetControlByID(w, &cid, &c), noErr) << sig << id;
        ASSERT_NE(c, nullptr);
        ControlID back{};
        GetControlID(c, &back);
        EXPECT_EQ(back.signature, cid.signature);
        EXPECT_EQ(back.id, id);
        EXPECT_EQ(GetControlOwner(c), w);
    }
    const ControlID missing{FOUR_CHAR_CODE("Sldr"), 9};
    ControlRef c = reinterpret_cast<ControlRef>(1);
    EXPECT_EQ(GetControlByID(w, &missing, &c), errUnknownControl);
    EXPECT_EQ(c, nullptr);
}

TEST_F(Controls, SliderValuesAreItsOwnAndPinnedToItsRange) {
    ControlRef s = Control(w, "Sldr", 1);
    EXPECT_EQ(GetControl32BitValue(s), 10);
    EXPECT_EQ(GetControl32BitMinimum(s), 0);
    EXPECT_EQ(GetControl32BitMaximum(s), 100);
    SetControl32BitValue(s, 25);
    EXPECT_EQ(GetControl32BitValue(s), 25);
    EXPECT_EQ(qobject_cast<QSlider*>(tst::ControlWidget(s))->value(), 25);
    SetControl32BitValue(s, 500);
    EXPECT_EQ(GetControl32BitValue(s), 100);
    SetControl32BitMaximum(s, 40);
    EXPECT_EQ(GetControl32BitMaximum(s), 40);
    EXPECT_EQ(GetControl32BitValue(s), 40);
    SetControl32BitMinimum(s, -5);
    SetControl32BitValue(s, -100);
    EXPECT_EQ(GetControl32BitValue(s), -5);
}

TEST_F(Controls, PopupValueIsTheOneBasedItem) {
    ControlRef m = Control(w, "Medi", 1);
    EXPECT_EQ(GetControl32BitMinimum(m), 1);
    EXPECT_EQ(GetControl32BitMaximum(m), 3);
    EXPECT_EQ(GetControl32BitValue(m), 1);
    SetControl32BitValue(m, 3);
    EXPECT_EQ(qobject_cast<QComboBox*>(tst::ControlWidget(m))->currentText(), "HD");
    EXPECT_EQ(GetControl32BitValue(m), 3);
    SetControl32BitValue(m, 0); // pinned to the first item
    EXPECT_EQ(GetControl32BitValue(m), 1);
}

TEST_F(Controls, CheckBoxAndCustomValues) {
    ControlRef p = Control(w, "Prop", 1);
    EXPECT_EQ(GetControl32BitValue(p), 0);
    SetControl32BitValue(p, 1);
    EXPECT_EQ(GetControl32BitValue(p), 1);
    // The custom control's range and value come from the nib.
    ControlRef b = Control(w, "Clip", 1);
    EXPECT_EQ(GetControl32BitMinimum(b), 0);
    EXPECT_EQ(GetControl32BitMaximum(b), 0xFFFFFF);
    EXPECT_EQ(GetControl32BitValue(b), 0xFF0000);
    SetControl32BitValue(b, 0x1000000);
    EXPECT_EQ(GetControl32BitValue(b), 0xFFFFFF);
    // Without a range in the nib, any 32-bit value is kept.
    ControlRef b2 = Control(w, "Clip", 2);
    SetControl32BitValue(b2, -123456789);
    EXPECT_EQ(GetControl32BitValue(b2), -123456789);
    // A pointer-sized reference is the caller's own.
    int anything = 0;
    SetControlReference(b2, &anything);
    EXPECT_EQ(GetControlReference(b2), &anything);
}

TEST_F(Controls, StaticTextTakesMacRomanBytesAndIsNeverMarkup) {
    ControlRef l = Control(w, "Lgnd", 1);
    auto* label = qobject_cast<QLabel*>(tst::ControlWidget(l));
    const char cafe[] = "caf\x8E 25%"; // 0x8E is e-acute in Mac Roman
    ASSERT_EQ(SetControlData(l, kControlEntireControl, kControlStaticTextTextTag, 8, cafe), noErr);
    EXPECT_EQ(label->text().toStdString(), "caf\xC3\xA9 25%");
    char back[32] = {};
    Size size = 0;
    ASSERT_EQ(GetControlData(l, 0, kControlStaticTextTextTag, sizeof back, back, &size), noErr);
    EXPECT_EQ(std::string(back, std::size_t(size)), std::string(cafe, 8));

    ASSERT_EQ(SetControlData(l, 0, kControlStaticTextTextTag, 0, ""), noErr);
    EXPECT_TRUE(label->text().isEmpty());

    const char markup[] = "<b>bold</b>";
    SetControlData(l, 0, kControlStaticTextTextTag, 11, markup);
    EXPECT_EQ(label->text(), "<b>bold</b>");
    EXPECT_EQ(label->textFormat(), Qt::PlainText);

    CFStringRef s = Str("from a CFString");
    ASSERT_EQ(SetControlData(l, 0, kControlStaticTextCFStringTag, sizeof s, &s), noErr);
    EXPECT_EQ(label->text(), "from a CFString");
    // Text on a control that has none is refused.
    EXPECT_EQ(SetControlData(Control(w, "Sldr", 1), 0, kControlStaticTextTextTag, 2, "hi"),
              errDataNotSupported);
}

TEST_F(Controls, BoundsAreInWindowCoordinatesAndFollowSetBounds) {
    Rect r{};
    GetControlBounds(Control(w, "Clip", 1), &r);
    EXPECT_EQ(r.top, 110);
    EXPECT_EQ(r.left, 20);
    EXPECT_EQ(r.bottom, 200);
    EXPECT_EQ(r.right, 140);
    const Rect moved{10, 300, 50, 380};
    SetControlBounds(Control(w, "Clip", 2), &moved);
    GetControlBounds(Control(w, "Clip", 2), &r);
    EXPECT_TRUE(EqualRect(&r, &moved));
}

TEST_F(Controls, HideAndShow) {
    ShowWindow(w);
    ControlRef l = Control(w, "Lgnd", 1);
    EXPECT_TRUE(IsControlVisible(l));
    HideControl(l);
    EXPECT_FALSE(IsControlVisible(l));
    EXPECT_FALSE(tst::ControlWidget(l)->isVisible());
    ShowControl(l);
    EXPECT_TRUE(IsControlVisible(l));
    EXPECT_TRUE(tst::ControlWidget(l)->isVisible());
}

TEST_F(Controls, EnabledAndActiveStatesAreTheHilite) {
    ControlRef b = Control(w, "Clip", 1);
    EXPECT_EQ(GetControlHilite(b), 0);
    DisableControl(b);
    EXPECT_EQ(GetControlHilite(b), kControlDisabledPart);
    EXPECT_FALSE(IsControlEnabled(b));
    EnableControl(b);
    DeactivateControl(b);
    EXPECT_EQ(GetControlHilite(b), kControlInactivePart);
    ActivateControl(b);
    HiliteControl(b, 3);
    EXPECT_EQ(GetControlHilite(b), 3);
    HiliteControl(b, 0);
    EXPECT_EQ(GetControlHilite(b), 0);
}

TEST_F(Controls, ButtonsSendTheirCommandsToTheWindow) {
    CommandLog log;
    InstallCommandLog(w, &log);
    ShowWindow(w);
    tst::ProcessEvents();
    tst::PostClick(w, Point{294, 360}); // OK
    tst::PostClick(w, Point{294, 270}); // Cancel
    tst::PostClick(w, Point{72, 166} /* the check box */);
    tst::ProcessEvents();
    EXPECT_EQ(log.commands,
              (std::vector<UInt32>{kHICommandOK, kHICommandCancel, FOUR_CHAR_CODE("Prop")}));
    EXPECT_EQ(GetControl32BitValue(Control(w, "Prop", 1)), 1);
}

TEST_F(Controls, AChosenMenuItemSendsTheCommandAndSettingFromCodeDoesNot) {
    CommandLog log;
    InstallCommandLog(w, &log);
    ShowWindow(w);
    ControlRef m = Control(w, "Medi", 1);
    SetControl32BitValue(m, 2);
    tst::ProcessEvents();
    EXPECT_TRUE(log.commands.empty());
    QTest::keyClick(tst::ControlWidget(m), Qt::Key_Down);
    tst::ProcessEvents();
    EXPECT_EQ(log.commands, std::vector<UInt32>{FOUR_CHAR_CODE("Medi")});
    EXPECT_EQ(GetControl32BitValue(m), 3);
}

OSStatus AppCommands(EventHandlerCallRef, EventRef e, void* userData) {
    HICommand cmd{};
    GetEventParameter(e, kEventParamDirectObject, typeHICommand, nullptr, sizeof cmd, nullptr,
                      &cmd);
    static_cast<std::vector<UInt32>*>(userData)->push_back(cmd.commandID);
    return noErr;
}

TEST_F(Controls, ACommandTheWindowLeavesGoesOnToTheApplication) {
    CommandLog log;
    log.handled = false;
    InstallCommandLog(w, &log);
    std::vector<UInt32> app;
    const EventTypeSpec spec{kEventClassCommand, kEventCommandProcess};
    EventHandlerRef appHandler = nullptr;
    InstallEventHandler(GetApplicationEventTarget(), AppCommands, 1, &spec, &app, &appHandler);
    ShowWindow(w);
    tst::PostClick(w, Point{294, 60}); // About: "Info"
    tst::ProcessEvents();
    RemoveEventHandler(appHandler);
    EXPECT_EQ(log.commands, std::vector<UInt32>{FOUR_CHAR_CODE("Info")});
    EXPECT_EQ(app, std::vector<UInt32>{FOUR_CHAR_CODE("Info")});
}

std::vector<std::pair<SInt32, ControlPartCode>> gActions;
void RecordAction(ControlRef c, ControlPartCode part) {
    gActions.emplace_back(GetControl32BitValue(c), part);
    // What the dialog does: show the value while the mouse is still down.
    const std::string text = std::to_string(GetControl32BitValue(c)) + "%";
    SetControlData(Control(GetControlOwner(c), "Lgnd", 1), 0, kControlStaticTextTextTag,
                   Size(text.size()), text.data());
}

TEST_F(Controls, DraggingASliderCallsItsActionLiveAndCodeNeverDoes) {
    ControlRef s = Control(w, "Sldr", 1);
    gActions.clear();
    SetControlAction(s, RecordAction);
    SetControl32BitValue(s, 0);
    EXPECT_TRUE(gActions.empty());
    ShowWindow(w);
    tst::ProcessEvents();
    // Grab the handle at the left end and drag it right in steps.
    tst::PostDrag(w, {Point{32, 24}, Point{32, 80}, Point{32, 140}, Point{32, 230}});
    tst::ProcessEvents();
    ASSERT_GE(gActions.size(), 2u);
    for (std::size_t i = 1; i < gActions.size(); ++i) {
        EXPECT_GT(gActions[i].first, gActions[i - 1].first);
        EXPECT_EQ(gActions[i].second, kControlIndicatorPart);
    }
    EXPECT_EQ(gActions.back().first, 100);
    EXPECT_EQ(qobject_cast<QLabel*>(tst::ControlWidget(Control(w, "Lgnd", 1)))->text(), "100%");
    const std::size_t calls = gActions.size();
    SetControl32BitValue(s, 50);
    EXPECT_EQ(gActions.size(), calls);
}

} // namespace
