// Under a real X server (tests/run-under-xvfb.sh starts one): Qt starts on xcb by itself, a
// nib window shows with its custom control drawn, a real alert is answered by clicking it,
// and the process locale is what it was.
#include "UITestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

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

// Real X input (xdotool), when it is installed: a drag on a custom control is tracked
// through its mouse-up, and Qt's own mouse grab ends with it, so the next click reaches the
// button under the mouse.
TEST(X11Smoke, ARealDragThenAClickOnAButton) {
    if (std::system("command -v xdotool > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xdotool is not installed";
    }
    ASSERT_TRUE(tst::StartWindowing());
    ResetLogs();
    WindowRef w = OpenWindow("test", "main");
    ASSERT_NE(w, nullptr);
    CommandLog log;
    InstallCommandLog(w, &log);
    ShowWindow(w);
    SelectWindow(w);
    QWidget* top = tst::WindowWidget(w);
    QElapsedTimer clock;
    clock.start();
    while (!top->isActiveWindow() && clock.elapsed() < 3000) {
        tst::ProcessEvents();
    }
    for (int i = 0; i < 20; ++i) {
        tst::ProcessEvents();
    }
    auto screen = [&](int h, int v) {
        const QPoint g = top->mapToGlobal(QPoint(h, v));
        return std::to_string(g.x()) + " " + std::to_string(g.y());
    };
    const std::string script =
        "xdotool mousemove " + screen(60, 130) + " sleep 0.2 mousedown 1 sleep 0.2 mousemove " +
        screen(80, 140) + " sleep 0.2 mousemove " + screen(100, 150) +
        " sleep 0.2 mouseup 1 sleep 0.3 mousemove " + screen(360, 294) + " sleep 0.2 click 1 &";
    ASSERT_EQ(std::system(script.c_str()), 0);
    clock.restart();
    while (log.commands.size() < 2 && clock.elapsed() < 8000) {
        tst::ProcessEvents();
    }
    EXPECT_EQ(log.commands, (std::vector<UInt32>{FOUR_CHAR_CODE("Boxx"), kHICommandOK}));
    ASSERT_FALSE(Box().tracked.empty());
    EXPECT_EQ(Box().tracked.back(), kMouseTrackingMouseUp);
    EXPECT_EQ(Box().trackedAt.back().h, 100);
    EXPECT_EQ(Box().trackedAt.back().v, 150);
    DisposeWindow(w);
}

} // namespace
