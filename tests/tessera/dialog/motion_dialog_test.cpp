// motion_dialog_test.cpp - Tessera Motion's dialog (this program links Tessera Motion's
// identity: two regions, its own bundle): the Start / End chooser, drags and proportions
// applied to the region chosen, both outlines on the preview, the clip slider showing the
// region of the frame shown, reset, and the screenshots of the manual. Driven through the
// real windows on Qt's offscreen platform, as dialog_test.cpp drives Tessera's.
#include "DialogFixture.h"

#include "callpixelfx.h"
#include "carbonmacros.h"
#include "configdlghandler.h"
#include "gworldprocs.h"
#include "relrects.h"

#include <QAbstractSlider>
#include <QImage>

#include <cstring>
#include <filesystem>
#include <vector>

using namespace dialog_test;
namespace ui = toolbox::ui::testing;

namespace {

constexpr int kW = 720, kH = 480;
constexpr UInt32 kRed = 0xFF0000u;
constexpr UInt32 kDimmedRed = 0xBF4040u;   // red half way to middle grey
constexpr UInt32 kDimmedWhite = 0xBFBFBFu; // its edge, white, likewise

const Rect kFrame{0, 0, kH, kW};

// Fractions exact in binary, so every region below is whole pixels and the middle frame's
// region is exactly half way: start (90,120)-(270,240), end (360,240)-(630,360).
constexpr relRect kStart{0.125, 0.375, 0.25, 0.5};
constexpr relRect kEnd{0.5, 0.875, 0.5, 0.75};

bool SameRel(const relRect& a, const relRect& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class MotionDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(cUsedNumberOfRects, 2);
        ASSERT_TRUE(ui::StartWindowing());
        ASSERT_NE(TesseraBundle(), nullptr);
        ResetConfig(&config, true);
        config.startRel = kStart;
        config.endRel = kEnd;
        config.sliders[0] = 40;
        config.sliders[1] = 40;
        ui::ClearScriptedAnswers();
    }
    void TearDown() override {
        CGImageRelease(config.theOriginalImage);
        CGImageRelease(config.theRendered);
    }

    static void Click(const OpenDialog& d, SInt16 regionButton) {
        const Rect b = GetControlBox(Control(d.window, "Rect", regionButton));
        ui::PostClick(d.window, Point{SInt16((b.top + b.bottom) / 2), SInt16(b.left + 8)});
        ui::ProcessEvents();
    }
    static void ShowFrame(const OpenDialog& d, int frame) {
        auto* slider =
            qobject_cast<QAbstractSlider*>(ui::ControlWidget(Control(d.window, "ClpS", 1)));
        ASSERT_NE(slider, nullptr);
        slider->setValue(frame); // as the user's drag does: the slider's action follows
        ui::ProcessEvents();
    }
    // Pixels of the preview that no outline, edge or handle of either region can touch.
    static bool OffTheOutlines(int x, int y) {
        for (const relRect& rel : {kStart, kEnd}) {
            const Rect r = Rel2Rect(rel, kFrame);
            const bool nearOuter =
                x >= r.left - 8 && x <= r.right + 8 && y >= r.top - 8 && y <= r.bottom + 8;
            const bool inInner =
                x > r.left + 8 && x < r.right - 8 && y > r.top + 8 && y < r.bottom - 8;
            if (nearOuter && !inInner) {
                return false;
            }
        }
        return x > 0 && y > 0 && x < kW - 1 && y < kH - 1; // the black border
    }
    // Frame `frame` of the host's clip rendered with a record whose start and end are both
    // `region`: the reference for the preview at that frame.
    void Render(int frame, const relRect& region, tessera_test::Frame& out) const {
        tessera_test::Frame source(kW, kH);
        FrameHost::Fill(source.get(), frame);
        pluginDataRec fixed = config;
        fixed.startRel = region;
        fixed.endRel = region;
        Source2Target(source.get(), out.get()); // as the preview's render starts
        DoPixelEffect(source.get(), out.get(), &fixed, 0, 1);
    }
    // How many sampled pixels of the preview, off the outlines, differ from that reference
    // (0: the preview shows exactly that region's mosaic).
    int DifferingFromRender(const OpenDialog& d, int frame, const relRect& region) const {
        tessera_test::Frame expected(kW, kH);
        Render(frame, region, expected);
        const PreviewComparison c =
            ComparePreview(d, expected, [](int x, int y) { return !OffTheOutlines(x, y); });
        EXPECT_GT(c.compared, 25000);
        return c.differing;
    }

    tessera_test::TempConfigHome home;
    pluginDataRec config{};
    FrameHost host{5}; // frames 0 to 4: the middle one is exactly half way
};

TEST_F(MotionDialogTest, TheChooserIsShownWithTheRegionBeingEditedChecked) {
    OpenDialog d(&config, host, kW, kH);
    EXPECT_TRUE(IsControlVisible(Control(d.window, "RChs", 1)));
    EXPECT_TRUE(IsControlVisible(Control(d.window, "Rect", 1)));
    EXPECT_TRUE(IsControlVisible(Control(d.window, "Rect", 2)));
    EXPECT_EQ(GetControl32BitValue(Control(d.window, "Rect", 1)), 1);
    EXPECT_EQ(GetControl32BitValue(Control(d.window, "Rect", 2)), 0);
    CFStringRef title = nullptr;
    ASSERT_EQ(CopyWindowTitleAsCFString(d.window, &title), noErr);
    char buf[128] = {};
    CFStringGetCString(title, buf, sizeof buf, kCFStringEncodingUTF8);
    CFRelease(title);
    EXPECT_EQ(std::string(buf).rfind("Tessera Motion", 0), 0u) << buf;

    // A window rebuilt for another format while End is being edited shows End checked.
    gConfigWorkSpace.activeRel = 2;
    SetupDialog(d.window, &config);
    EXPECT_EQ(GetControl32BitValue(Control(d.window, "Rect", 1)), 0);
    EXPECT_EQ(GetControl32BitValue(Control(d.window, "Rect", 2)), 1);
    EXPECT_TRUE(SameRel(config.startRel, kStart));
    EXPECT_TRUE(SameRel(config.endRel, kEnd));
}

TEST_F(MotionDialogTest, AfterClickingEndDragsAndShiftChangeTheEndRegionOnly) {
    OpenDialog d(&config, host, kW, kH);
    Click(d, 2);
    EXPECT_EQ(gConfigWorkSpace.activeRel, 2); // not the Start button's 0
    EXPECT_EQ(GetControl32BitValue(Control(d.window, "Rect", 1)), 0);

    // Move the end region by its inside, then resize it by its bottom-right handle.
    ui::PostDrag(d.window,
                 {d.previewPoint(400, 300), d.previewPoint(380, 280), d.previewPoint(370, 270)});
    ui::ProcessEvents();
    EXPECT_TRUE(SameRel(config.startRel, kStart));
    Rect end = Rel2Rect(config.endRel, kFrame);
    EXPECT_EQ(end.left, 330);
    EXPECT_EQ(end.top, 210);
    EXPECT_EQ(end.right, 600);
    EXPECT_EQ(end.bottom, 330);

    // Shift keeps the ratio the end region had (270 x 120: 9 to 4), not the start's (3 to 2).
    ui::PostDrag(d.window, {d.previewPoint(599, 329), d.previewPoint(650, 340)}, shiftKey);
    ui::ProcessEvents();
    EXPECT_TRUE(SameRel(config.startRel, kStart));
    end = Rel2Rect(config.endRel, kFrame);
    EXPECT_EQ(end.left, 330);
    EXPECT_EQ(end.top, 210);
    EXPECT_EQ(end.right, 651);
    EXPECT_NEAR(end.bottom - end.top, (651 - 330) * 4.0 / 9.0, 1.0);

    // Back to Start: now the start region moves and the end one stays.
    const relRect endAfter = config.endRel;
    Click(d, 1);
    EXPECT_EQ(gConfigWorkSpace.activeRel, 1);
    ui::PostDrag(d.window, {d.previewPoint(150, 180), d.previewPoint(160, 190)});
    ui::ProcessEvents();
    EXPECT_TRUE(SameRel(config.endRel, endAfter));
    const Rect start = Rel2Rect(config.startRel, kFrame);
    EXPECT_EQ(start.left, 100);
    EXPECT_EQ(start.top, 130);
}

TEST_F(MotionDialogTest, APicturesProportionsAreKeptByTheRegionBeingEdited) {
    QImage img(400, 100, QImage::Format_RGB32); // 4 to 1
    img.fill(qRgb(30, 160, 90));
    const std::string pic = (home.dir() / "wide.png").string();
    ASSERT_TRUE(img.save(QString::fromStdString(pic)));
    OpenDialog d(&config, host, kW, kH);
    Click(d, 2);
    ui::QueueOpenAnswer(pic);
    ui::PostCommand(d.window, FOUR_CHAR_CODE("Pict"));
    ui::ProcessEvents();
    ASSERT_NE(config.theOriginalImage, nullptr);
    SetControl32BitValue(Control(d.window, "Prop", 1), 1);
    ui::PostCommand(d.window, FOUR_CHAR_CODE("Prop"));
    ui::ProcessEvents();
    ASSERT_TRUE(config.keepProps);
    EXPECT_TRUE(SameRel(config.startRel, kStart));
    const Rect end = Rel2Rect(config.endRel, kFrame);
    EXPECT_EQ(end.left, 360);
    EXPECT_EQ(end.top, 240);
    EXPECT_EQ(end.right - end.left, 270);
    EXPECT_EQ(end.bottom - end.top, 68); // 270 / 4 = 67.5, rounded
    ui::TakeOpenDialogLog();
}

TEST_F(MotionDialogTest, TheClipSliderShowsTheRegionOfTheFrameShown) {
    OpenDialog d(&config, host, kW, kH);
    struct Case {
        int frame;
        relRect region; // start + (end - start) * frame / 4
    };
    const Case cases[] = {{4, kEnd}, {2, relRect{0.3125, 0.625, 0.375, 0.625}}, {0, kStart}};
    for (const Case& c : cases) {
        ShowFrame(d, c.frame);
        ASSERT_EQ(gConfigWorkSpace.currFrameIndex, c.frame);
        EXPECT_EQ(DifferingFromRender(d, c.frame, c.region), 0) << c.frame;
        if (c.frame != 0) {
            // The comparison tells the regions apart: the start region does not match.
            EXPECT_GT(DifferingFromRender(d, c.frame, kStart), 100) << c.frame;
        }
    }
    // Editing End does not change which region the shown frame gets.
    Click(d, 2);
    ShowFrame(d, 2);
    EXPECT_EQ(DifferingFromRender(d, 2, relRect{0.3125, 0.625, 0.375, 0.625}), 0);
}

TEST_F(MotionDialogTest, BothOutlinesAreDrawnTheEditedOneBrightWithHandles) {
    OpenDialog d(&config, host, kW, kH);
    tessera_test::Frame rendered(kW, kH);
    Render(0, kStart, rendered);
    auto at = [&](int x, int y) {
        return PortPixel(d.window, d.preview.left + x, d.preview.top + y);
    };
    auto renderedAt = [&](int x, int y) {
        const auto e = rendered.at(x, y);
        return (UInt32(e.r) << 16) | (UInt32(e.g) << 8) | e.b;
    };
    // Pixels of the handle square round a corner that are off the outline's own lines.
    auto handleDiffers = [&](int cx, int cy) {
        int n = 0;
        for (int y = cy - 6; y < cy + 6; ++y) {
            for (int x = cx - 6; x < cx + 6; ++x) {
                if (x != cx && y != cy && std::abs(x - cx) > 1 && std::abs(y - cy) > 1) {
                    n += at(x, y) != renderedAt(x, y);
                }
            }
        }
        return n;
    };
    // Start edited: (90,120)-(270,240) red inside a white edge; End (360,240)-(630,360)
    // dimmed, edge too, and no handles.
    EXPECT_EQ(at(90, 180), kRed);
    EXPECT_EQ(at(89, 180), 0xFFFFFFu);
    EXPECT_EQ(at(500, 359), kDimmedRed);
    EXPECT_EQ(at(629, 300), kDimmedRed);
    EXPECT_EQ(at(630, 300), kDimmedWhite);
    EXPECT_EQ(at(631, 300), renderedAt(631, 300));
    EXPECT_GT(handleDiffers(90, 120), 10);
    EXPECT_EQ(handleDiffers(630, 360), 0);

    Click(d, 2);
    EXPECT_EQ(at(90, 180), kDimmedRed);
    EXPECT_EQ(at(89, 180), kDimmedWhite);
    EXPECT_EQ(at(88, 180), renderedAt(88, 180));
    EXPECT_EQ(at(629, 300), kRed);
    EXPECT_EQ(at(630, 300), 0xFFFFFFu);
    EXPECT_EQ(handleDiffers(90, 120), 0);
    EXPECT_GT(handleDiffers(630, 360), 10);
}

TEST_F(MotionDialogTest, ResetPutsBothRegionsToTheWholeFrame) {
    OpenDialog d(&config, host, kW, kH);
    Click(d, 2);
    ui::PostCommand(d.window, FOUR_CHAR_CODE("Rset"));
    ui::ProcessEvents();
    const relRect whole{0, 1, 0, 1};
    EXPECT_TRUE(SameRel(config.startRel, whole));
    EXPECT_TRUE(SameRel(config.endRel, whole));
    EXPECT_EQ(gConfigWorkSpace.activeRel, 2); // still editing End
    EXPECT_EQ(config.sliders[0], 10);
}

// The manual's pictures: the NTSC window on the middle frame of a clip, the region moving
// from the top left to the bottom right, with Start and then End being edited.
TEST_F(MotionDialogTest, ScreenshotsWithStartAndWithEndBeingEdited) {
    FrameHost clip(151);
    config.startRel = relRect{0.05, 0.35, 0.08, 0.4};
    config.endRel = relRect{0.6, 0.95, 0.55, 0.92};
    config.sliders[0] = 30;
    config.sliders[1] = 40;
    OpenDialog d(&config, clip, kW, kH);
    ShowFrame(d, 75);
    EXPECT_EQ(ControlText(d.window, "ClpM", 1), "75/150");
    const auto dir = ScreenshotDir(home);
    for (SInt16 edited : {1, 2}) {
        Click(d, edited);
        ASSERT_EQ(gConfigWorkSpace.activeRel, edited);
        const auto file = dir / (edited == 1 ? "motion-start.png" : "motion-end.png");
        ASSERT_TRUE(ui::WriteWindowPNG(d.window, file.string()));
        QImage shot(QString::fromStdString(file.string()));
        ASSERT_FALSE(shot.isNull());
        const Rect start = Rel2Rect(config.startRel, d.preview);
        const Rect end = Rel2Rect(config.endRel, d.preview);
        const UInt32 startColour =
            shot.pixel(start.left, (start.top + start.bottom) / 2) & 0xFFFFFF;
        const UInt32 endColour = shot.pixel(end.left, (end.top + end.bottom) / 2) & 0xFFFFFF;
        EXPECT_EQ(startColour, edited == 1 ? kRed : kDimmedRed);
        EXPECT_EQ(endColour, edited == 1 ? kDimmedRed : kRed);
        // The chooser is on screen, in the window's bottom row.
        const Rect chooser = GetControlBox(Control(d.window, "RChs", 1));
        EXPECT_GT(chooser.top, d.preview.bottom);
        EXPECT_LE(chooser.bottom, shot.height());
    }
}

} // namespace
