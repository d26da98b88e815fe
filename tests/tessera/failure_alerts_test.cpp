// The plug-in's failure reporting on the toolbox's standard alerts: Notify is a caution
// alert with one "ok" button, StandardWarning reports the button pressed, Terminate shows a
// stop alert and ends the process with a failure status. Answered by the scripted user on
// the offscreen platform, and by clicking a real alert.
#include "UITestSupport.h"

#include "commonprocs.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace tst = toolbox::ui::testing;

namespace {

class FailureAlerts : public ::testing::Test {
  protected:
    void SetUp() override {
        uitest::ResetLogs();
        ASSERT_TRUE(tst::StartWindowing());
    }
};

TEST_F(FailureAlerts, NotifyIsACautionWithOneOkButton) {
    tst::QueueAlertAnswer(kAlertStdAlertOKButton);
    Notify("Cannot locate manual in bundle");
    const auto log = tst::TakeAlertLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].type, kAlertCautionAlert);
    EXPECT_EQ(log[0].message, "Internal Notification:");
    EXPECT_EQ(log[0].explanation, "Cannot locate manual in bundle");
    EXPECT_EQ(log[0].buttons, std::vector<std::string>{"ok"});
}

TEST_F(FailureAlerts, StandardWarningReportsTheButtonPressed) {
    Str255 h, d, ok, cancel;
    CStr2Str255("Replace the picture?", h);
    CStr2Str255("caf\x8E", d); // Mac Roman e-acute
    CStr2Str255("Replace", ok);
    CStr2Str255("Keep", cancel);
    tst::QueueAlertAnswer(kAlertStdAlertCancelButton);
    EXPECT_EQ(StandardWarning(h, d, ok, cancel), 2);
    tst::QueueAlertAnswer(kAlertStdAlertOKButton);
    EXPECT_EQ(StandardWarning(h, d, ok, cancel), 1);
    const auto log = tst::TakeAlertLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].buttons, (std::vector<std::string>{"Replace", "Keep"}));
    EXPECT_EQ(log[0].explanation, "caf\xC3\xA9");
}

TEST_F(FailureAlerts, ARealCautionAlertIsClickedAway) {
    QTimer poll;
    std::string shown;
    QObject::connect(&poll, &QTimer::timeout, [&]() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            poll.stop();
            shown = box->text().toStdString() + "|" + box->informativeText().toStdString();
            box->buttons().front()->click();
        }
    });
    poll.start(10);
    Notify("A document the system failed to open");
    EXPECT_EQ(shown, "Internal Notification:|A document the system failed to open");
}

TEST_F(FailureAlerts, TerminateEndsTheProcessAfterItsAlert) {
    tst::QueueAlertAnswer(kAlertStdAlertOKButton);
    EXPECT_EXIT(Terminate("OpenNibWindow Failed", "Unable to CreateNibReferenceWithCFBundle"),
                ::testing::ExitedWithCode(EXIT_FAILURE), "");
    tst::ClearScriptedAnswers();
}

} // namespace
