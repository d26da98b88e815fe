// screenshots_test.cpp - each window of the bundle's nibs as the screen shows it, written
// as PNG (to TESSERA_SCREENSHOT_DIR when set, e.g. docs/, else a temporary folder), and
// checked for what a person must see: the preview drawn with the region, the OK button as
// the window's default.
#include "DialogFixture.h"

#include "carbonmacros.h"
#include "clipCTRL.h"
#include "commonprocs.h"
#include "configdlghandler.h"
#include "relrects.h"

#include <QImage>
#include <QPushButton>

#include <filesystem>

using namespace dialog_test;
namespace ui = toolbox::ui::testing;

namespace {

class Screenshots : public ::testing::TestWithParam<SInt16> {};

TEST_P(Screenshots, EachFormatsWindowShowsThePreviewAndHasOKAsDefault) {
    ASSERT_TRUE(ui::StartWindowing());
    tessera_test::TempConfigHome home;
    pluginDataRec config{};
    ResetConfig(&config, true);
    config.mediaType = GetParam();
    config.startRel = relRect{0.3, 0.7, 0.25, 0.65};
    config.sliders[0] = 30;
    config.sliders[1] = 40;
    const int w = GetParam() == 3 ? 960 : 720;
    const int h = GetParam() == 1 ? 480 : GetParam() == 2 ? 576 : 540;
    FrameHost host(150);
    OpenDialog d(&config, host, w, h);
    const std::string name = DialogWindowName(GetParam());
    const auto file = ScreenshotDir(home) / (name + ".png");
    ASSERT_TRUE(ui::WriteWindowPNG(d.window, file.string()));
    QImage shot(QString::fromStdString(file.string()));
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.pixel(d.preview.left, d.preview.top) & 0xFFFFFF, 0u); // the black border
    const Rect region = Rel2Rect(config.startRel, d.preview);
    EXPECT_EQ(shot.pixel(region.left + 40, region.top) & 0xFFFFFF, 0xFF0000u); // red outline

    bool hasDefaultOK = false;
    for (QPushButton* b : ui::WindowWidget(d.window)->findChildren<QPushButton*>()) {
        if (b->isDefault()) {
            hasDefaultOK = b->text() == "OK";
        }
    }
    EXPECT_TRUE(hasDefaultOK);
}

INSTANTIATE_TEST_SUITE_P(Formats, Screenshots, ::testing::Values(1, 2, 3));

TEST(ScreenshotsAbout, TheAboutWindowNamesTheEffectAndItsVersion) {
    ASSERT_TRUE(ui::StartWindowing());
    tessera_test::TempConfigHome home;
    TesseraBundle();
    WindowRef w = OpenNibWindowFromCFBundle(cMyBundleID, "about", "about");
    Str255 text;
    CStr2Str255(cMyClearName, text);
    SimpleSetControlText(w, FOUR_CHAR_CODE("Plug"), 1, text);
    CStr2Str255("Version 3.0.0 (i386 Universal)", text);
    SimpleSetControlText(w, FOUR_CHAR_CODE("Vers"), 1, text);
    ShowWindow(w);
    ui::ProcessEvents();
    EXPECT_EQ(ControlText(w, "Vers", 1), "Version 3.0.0 (i386 Universal)");
    EXPECT_TRUE(ui::WriteWindowPNG(w, (ScreenshotDir(home) / "about.png").string()));
    DisposeWindow(w);
}

} // namespace
