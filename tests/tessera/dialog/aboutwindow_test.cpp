// The about window of the built bundle, driven like a user: it shows the name and the
// version line, a command other than its buttons' leaves it open, either button closes it,
// and the current port is what it was before.
#include "UITestSupport.h"

#include "aboutwindow.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>

namespace tst = toolbox::ui::testing;

namespace {

QWidget* AboutWidget() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == "about" && w->isVisible()) {
            return w;
        }
    }
    return nullptr;
}

QString LabelText(QWidget* window, const char* signature) {
    for (QLabel* l : window->findChildren<QLabel*>()) {
        if (l->property("signature").toString() == signature) {
            return l->text();
        }
    }
    return {};
}

class AboutWindow : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const std::string path = TESSERA_BUNDLE_PATH;
        CFURLRef url = CFURLCreateFromFileSystemRepresentation(
            nullptr, reinterpret_cast<const UInt8*>(path.c_str()), CFIndex(path.size()), true);
        bundle = CFBundleCreate(nullptr, url);
        CFRelease(url);
    }
    static void TearDownTestSuite() { CFRelease(bundle); }
    void SetUp() override {
        ASSERT_NE(bundle, nullptr);
        ASSERT_TRUE(tst::StartWindowing());
    }
    static CFBundleRef bundle;
};
CFBundleRef AboutWindow::bundle = nullptr;

TEST_F(AboutWindow, EitherButtonClosesItAndThePortIsRestored) {
    for (const char* command : {"ok  ", "not!"}) {
        Rect r{0, 0, 8, 8};
        GWorldPtr mine = nullptr;
        ASSERT_EQ(NewGWorld(&mine, 32, &r, nullptr, nullptr, 0), noErr);
        SetGWorld(mine, nullptr);
        QString name, version;
        bool stayedOpen = false;
        QTimer poll;
        int step = 0;
        QObject::connect(&poll, &QTimer::timeout, [&]() {
            QWidget* about = AboutWidget();
            if (about == nullptr) {
                return;
            }
            if (step == 0) {
                name = LabelText(about, "Plug");
                version = LabelText(about, "Vers");
                HICommand other{};
                other.commandID = FOUR_CHAR_CODE("Info");
                ProcessHICommand(&other); // not one of its buttons': it stays
                step = 1;
                return;
            }
            stayedOpen = about->isVisible();
            poll.stop();
            for (QAbstractButton* b : about->findChildren<QAbstractButton*>()) {
                if (b->property("command").toString() == command) {
                    QTest::mouseClick(b, Qt::LeftButton);
                }
            }
        });
        poll.start(10);
        ShowAbout();
        EXPECT_EQ(name, "Tessera");
        EXPECT_EQ(version, "Version 3.0.0 (i386 Universal)");
        EXPECT_TRUE(stayedOpen) << command;
        EXPECT_EQ(AboutWidget(), nullptr);
        CGrafPtr now = nullptr;
        GDHandle device = nullptr;
        GetGWorld(&now, &device);
        EXPECT_EQ(now, mine) << command;
        SetGWorld(nullptr, nullptr);
        DisposeGWorld(mine);
    }
}

} // namespace
