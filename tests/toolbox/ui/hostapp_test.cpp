// A host that runs Qt itself: the toolbox uses the host's QApplication as it is (and never
// deletes it); a host that runs Qt without widgets gets no windows, and no crash.
#include "UITestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>

#include <cstring>

namespace {

int gArgc = 1;
char gArg0[] = "host";
char* gArgv[] = {gArg0, nullptr};

TEST(HostApplication, TheHostsQApplicationIsUsed) {
    QApplication host(gArgc, gArgv);
    WindowRef w = uitest::OpenWindow("test", "small");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(QCoreApplication::instance(), &host);
    ShowWindow(w);
    DisposeWindow(w);
    EXPECT_EQ(QCoreApplication::instance(), &host); // still the host's, still alive
}

TEST(HostApplication, AHostWithoutWidgetsGetsNoWindows) {
    QGuiApplication host(gArgc, gArgv);
    OSStatus err = noErr;
    EXPECT_EQ(uitest::OpenWindow("test", "small", &err), nullptr);
    EXPECT_EQ(err, noUserInteractionAllowed);
    // Alerts still reach the user: on standard error.
    AlertStdCFStringAlertParamRec param{};
    GetStandardAlertDefaultParams(&param, kStdCFStringAlertVersionOne);
    DialogRef alert = nullptr;
    CreateStandardAlert(kAlertNoteAlert, uitest::Str("Note"), uitest::Str("on stderr"), &param,
                        &alert);
    DialogItemIndex item = 0;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunStandardAlert(alert, nullptr, &item), noUserInteractionAllowed);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("on stderr"), std::string::npos);
    EXPECT_EQ(item, kAlertStdAlertOKButton);
}

} // namespace
