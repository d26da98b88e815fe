// Under a real X server (run by xvfb-run): Qt starts on xcb by itself, a nib window shows
// with its custom control drawn, a real alert is answered by clicking it, and the process
// locale is what it was.
#include "UITestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <clocale>
#include <cstdlib>

using namespace uitest;
namespace tst = toolbox::ui::testing;

namespace {

TEST(X11Smoke, WindowsAndAlertsOnARealDisplay) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr);
    std::setlocale(LC_ALL, "C");
    ASSERT_TRUE(tst::StartWindowing());
    EXPECT_EQ(QGuiApplication::platformName(), "xcb");
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");

    WindowRef w = OpenWindow("test", "main");
    ASSERT_NE(w, nullptr);
    ShowWindow(w);
    SelectWindow(w);
    tst::ProcessEvents();
    EXPECT_TRUE(IsWindowVisible(w));
    TempDir dir;
    ASSERT_TRUE(tst::WriteWindowPNG(w, dir.file("x11.png")));
    EXPECT_EQ(PngPixel(dir.file("x11.png"), 60, 150), 0xFF0000u);
    if (const char* keep = std::getenv("TOOLBOX_UI_SCREENSHOT_DIR")) {
        tst::WriteWindowPNG(w, std::string(keep) + "/x11-main.png");
    }

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&]() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            poll.stop();
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == "Later") {
                    b->click();
                }
            }
        }
    });
    poll.start(20);
    AlertStdCFStringAlertParamRec param{};
    GetStandardAlertDefaultParams(&param, kStdCFStringAlertVersionOne);
    param.defaultText = Str("Now");
    param.cancelText = Str("Later");
    param.cancelButton = kAlertStdAlertCancelButton;
    DialogRef alert = nullptr;
    ASSERT_EQ(
        CreateStandardAlert(kAlertCautionAlert, Str("On X"), Str("a real alert"), &param, &alert),
        noErr);
    DialogItemIndex item = 0;
    EXPECT_EQ(RunStandardAlert(alert, nullptr, &item), noErr);
    EXPECT_EQ(item, kAlertStdAlertCancelButton);

    CommandLog log;
    log.quitOn = {kHICommandOK};
    InstallCommandLog(w, &log);
    tst::PostClick(w, Point{294, 360});
    EXPECT_EQ(RunAppModalLoopForWindow(w), noErr);
    EXPECT_EQ(log.commands, std::vector<UInt32>{kHICommandOK});
    DisposeWindow(w);
}

} // namespace
