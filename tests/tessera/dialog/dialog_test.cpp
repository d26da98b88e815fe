// dialog_test.cpp - the configuration dialog, driven through its real windows on Qt's
// offscreen platform with synthetic mouse and key events, and the scripted user for the
// system dialogs (Open dialog, viewer). Preferences go to a temporary XDG_CONFIG_HOME.
#include "DialogFixture.h"

#include "EasyFile.h"
#include "MacMemory.h"
#include "callpixelfx.h"
#include "carbonmacros.h"
#include "commonprocs.h"
#include "configdlghandler.h"
#include "dlgUtils.h"
#include "gworldprocs.h"
#include "iMovieGlue.h"
#include "prefsloader.h"
#include "relrects.h"
#include "sliderHandlers.h"

#include <QApplication>
#include <QFileDialog>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstring>
#include <filesystem>
#include <functional>

using namespace dialog_test;
namespace ui = toolbox::ui::testing;
using tessera_test::TempConfigHome;

namespace {

Rect R(int left, int top, int right, int bottom) {
    Rect r;
    SetRect(&r, SInt16(left), SInt16(top), SInt16(right), SInt16(bottom));
    return r;
}

Point P(int h, int v) {
    return Point{SInt16(v), SInt16(h)};
}

::testing::AssertionResult SameRect(const Rect& a, const Rect& b) {
    if (EqualRect(&a, &b)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "(" << a.left << "," << a.top << ")-(" << a.right << "," << a.bottom << ") vs ("
           << b.left << "," << b.top << ")-(" << b.right << "," << b.bottom << ")";
}

// A picture file of the size, written with Qt, decoded through the Open dialog path.
std::string WritePicture(const std::filesystem::path& dir, int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(qRgb(30, 160, 90));
    const std::string path =
        (dir / ("picture" + std::to_string(w) + "x" + std::to_string(h) + ".png")).string();
    EXPECT_TRUE(img.save(QString::fromStdString(path)));
    return path;
}

class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ui::StartWindowing());
        ASSERT_NE(TesseraBundle(), nullptr);
        ResetConfig(&config, true);
        EnsurePrefsFile(); // as the plug-in's start-up does: saving never creates the file
        ui::ClearScriptedAnswers();
        ui::TakeOpenWithLog();
        ui::TakeOpenDialogLog();
    }
    void TearDown() override {
        CGImageRelease(config.theOriginalImage);
        CGImageRelease(config.theRendered);
    }
    Rect RegionPixels(const OpenDialog& d) const { return Rel2Rect(config.startRel, d.preview); }

    TempConfigHome home;
    pluginDataRec config{};
    FrameHost host{30};
};

// ---- hit zones and drag geometry ---------------------------------------------------------

TEST(RegionGeometry, HandleZonesReachSixPixelsFromEachCorner) {
    const Rect r = R(100, 100, 200, 160);
    EXPECT_EQ(IsHandleHit(r, P(105, 105)), kClipTopLeft);
    EXPECT_EQ(IsHandleHit(r, P(94, 94)), kClipTopLeft);  // -6 is inside the square
    EXPECT_EQ(IsHandleHit(r, P(106, 120)), kClipInside); // +6 is its exclusive edge
    EXPECT_EQ(IsHandleHit(r, P(93, 100)), kClipNoPart);
    EXPECT_EQ(IsHandleHit(r, P(199, 101)), kClipTopRight);
    EXPECT_EQ(IsHandleHit(r, P(100, 160)), kClipBottomLeft);
    EXPECT_EQ(IsHandleHit(r, P(205, 165)), kClipBottomRight);
    EXPECT_EQ(IsHandleHit(r, P(206, 165)), kClipNoPart);
    EXPECT_EQ(IsHandleHit(r, P(150, 130)), kClipInside);
    EXPECT_EQ(IsHandleHit(r, P(150, 170)), kClipNoPart);
}

TEST(RegionGeometry, OverlappingHandlesOfATinyRegionGiveTheEarlierCorner) {
    const Rect r = R(50, 50, 54, 54);
    EXPECT_EQ(IsHandleHit(r, P(52, 52)), kClipTopLeft);
    EXPECT_EQ(IsHandleHit(r, P(58, 45)), kClipTopRight); // only the top-right square
    EXPECT_EQ(IsHandleHit(r, P(45, 58)), kClipBottomLeft);
}

TEST(RegionGeometry, CornerDraggedPastTheOppositeCornerGivesANormalisedRectangle) {
    const relRect rel{0.2, 0.4, 0.2, 0.4};
    Rect r = R(100, 100, 200, 160);
    DragCorner(kClipBottomRight, r, P(200, 160), P(60, 40), 0, R(0, 0, 720, 480), rel);
    EXPECT_TRUE(SameRect(r, R(60, 40, 100, 100)));
    Rect moved = R(10, 10, 20, 20);
    DragRect(moved, P(5, 5), P(8, 1), optionKey | shiftKey);
    EXPECT_TRUE(SameRect(moved, R(13, 6, 23, 16)));
}

TEST(RegionGeometry, OptionOrControlResizesAboutTheCentre) {
    // Ctrl too: many window managers take Alt-drag (the Option key) to move windows.
    for (UInt32 mods : {UInt32(optionKey), UInt32(controlKey)}) {
        Rect r = R(100, 100, 200, 160);
        DragCorner(kClipTopLeft, r, P(100, 100), P(90, 100), mods, R(0, 0, 720, 480), relRect{});
        EXPECT_TRUE(SameRect(r, R(90, 100, 210, 160))) << mods;
    }
}

TEST(RegionGeometry, ShiftKeepsTheRatioTheRegionHadWhenTheDragBegan) {
    const Rect frame = R(0, 0, 720, 480);
    const Rect start = R(100, 100, 300, 200); // 200 x 100
    const relRect rel = Rect2Rel(start, frame);
    Rect r = start;
    DragCorner(kClipBottomRight, r, P(300, 200), P(351, 215), shiftKey, frame, rel);
    EXPECT_TRUE(SameRect(r, R(100, 100, 351, 226))); // 251 / 2 = 125.5 -> 126
}

// ---- the live window --------------------------------------------------------------------

TEST_F(DialogTest, SetUpHidesTheUnofferedControlsAndShowsTheRecord) {
    config.sliders[1] = 25;
    OpenDialog d(&config, host, 720, 480);
    for (SInt16 n = 1; n <= 6; ++n) {
        EXPECT_EQ(IsControlVisible(Control(d.window, "Sldr", n)), n <= 3) << n;
        EXPECT_EQ(IsControlVisible(Control(d.window, "Lgnd", n)), n <= 3) << n;
        EXPECT_FALSE(IsControlVisible(Control(d.window, "Colr", n))) << n;
    }
    EXPECT_FALSE(IsControlVisible(Control(d.window, "Rect", 1)));
    EXPECT_FALSE(IsControlVisible(Control(d.window, "Rect", 2)));
    EXPECT_FALSE(IsControlVisible(Control(d.window, "RChs", 1))); // and the chooser's caption
    EXPECT_EQ(ControlText(d.window, "Lgnd", 2), "25%");
    EXPECT_EQ(ControlText(d.window, "Lgnd", 3), "0%");
    EXPECT_EQ(ControlText(d.window, "ClpM", 1), "0/29");
    EXPECT_EQ(GetControl32BitMaximum(Control(d.window, "ClpS", 1)), 29);
    EXPECT_EQ(d.preview.right - d.preview.left, 720);
    EXPECT_EQ(d.preview.bottom - d.preview.top, 480);
}

TEST_F(DialogTest, DraggingACornerStoresTheRegionAndThePreviewIsItsRender) {
    config.startRel = relRect{0.25, 0.5, 0.25, 0.5}; // (180,120)-(360,240)
    OpenDialog d(&config, host, 720, 480);
    ui::PostDrag(d.window,
                 {d.previewPoint(361, 241), d.previewPoint(420, 280), d.previewPoint(480, 300)});
    ui::ProcessEvents();
    EXPECT_TRUE(SameRect(Rel2Rect(config.startRel, R(0, 0, 720, 480)), R(180, 120, 479, 299)));

    // What the preview shows is a render of the new region, pixel for pixel, away from the
    // outline, the handles and the border drawn over it.
    tessera_test::Frame expected(720, 480);
    CallPixelEffect(d.source.get(), expected.get());
    const PreviewComparison c = ComparePreview(d, expected, [](int x, int y) {
        // The outline of (180,120)-(479,299) with its edge and handles.
        return (x >= 173 && x <= 486 && y >= 113 && y <= 306) &&
               !(x > 187 && x < 472 && y > 127 && y < 292);
    });
    EXPECT_GT(c.compared, 30000);
    EXPECT_EQ(c.differing, 0);
}

TEST_F(DialogTest, AMoveDragLeavingThePreviewWaitsAndCatchesUpWhenTheMouseComesBack) {
    config.startRel = relRect{0.25, 0.5, 0.25, 0.5}; // (180,120)-(360,240)
    OpenDialog d(&config, host, 720, 480);
    const Point outside{SInt16(d.preview.bottom + 30), SInt16(d.preview.left + 300)};
    ui::PostDrag(d.window, {d.previewPoint(250, 200), d.previewPoint(260, 210), outside,
                            d.previewPoint(300, 230)});
    ui::ProcessEvents();
    // 10,10 then (outside ignored) 40,20 from the last accepted point: 50,30 in all. The
    // region travels in fractions of the frame, cut to pixels: a pixel may be lost.
    const Rect r = Rel2Rect(config.startRel, R(0, 0, 720, 480));
    EXPECT_NEAR(r.left, 230, 1);
    EXPECT_NEAR(r.top, 150, 1);
    EXPECT_NEAR(r.right, 410, 1);
    EXPECT_NEAR(r.bottom, 270, 1);
}

TEST_F(DialogTest, TheOutlineKeepsTheRecordsColourInsideAContrastingEdge) {
    config.startRel = relRect{0.25, 0.5, 0.25, 0.5}; // (180,120)-(360,240)
    struct Case {
        RGBColor colour;
        UInt32 outline, edge;
    };
    for (const Case& c : {Case{RGBColor{65535, 0, 0}, 0xFF0000u, 0xFFFFFFu},
                          Case{RGBColor{65535, 65535, 0}, 0xFFFF00u, 0x000000u}}) {
        config.frameStartColor = c.colour;
        OpenDialog d(&config, host, 720, 480);
        const int x = d.preview.left + 270, y = d.preview.top + 180; // mid-edges, off the handles
        EXPECT_EQ(PortPixel(d.window, d.preview.left + 180, y), c.outline);
        EXPECT_EQ(PortPixel(d.window, d.preview.left + 179, y), c.edge);
        EXPECT_EQ(PortPixel(d.window, x, d.preview.top + 239), c.outline);
        EXPECT_EQ(PortPixel(d.window, x, d.preview.top + 240), c.edge);
        EXPECT_EQ(PortPixel(d.window, d.preview.left + 359, y), c.outline);
        EXPECT_EQ(PortPixel(d.window, d.preview.left + 360, y), c.edge);
    }
}

TEST_F(DialogTest, EachWindowHasAFixedSizeAndItsFormatPopUpNamesIt) {
    const std::pair<SInt16, SInt32> cases[] = {{1, 1}, {2, 2}, {3, 3}, {0, 1}, {4, 1}};
    for (const auto& [mediaType, shown] : cases) {
        config.mediaType = mediaType;
        OpenDialog d(&config, host, 720, 480);
        EXPECT_EQ(GetControl32BitValue(Control(d.window, "Medi", 1)), shown) << mediaType;
        EXPECT_EQ(config.mediaType, mediaType); // the record is not touched by showing it
        QWidget* w = ui::WindowWidget(d.window);
        EXPECT_EQ(w->minimumSize(), w->size()) << mediaType;
        EXPECT_EQ(w->maximumSize(), w->size()) << mediaType;
    }
}

TEST_F(DialogTest, AFourByThreePictureKeepsItsProportionsWhateverTheModifiers) {
    const std::string pic = WritePicture(home.dir(), 400, 300);
    config.startRel = relRect{0.25, 0.5, 0.25, 0.5};
    OpenDialog d(&config, host, 720, 480);
    ui::QueueOpenAnswer(pic);
    ui::PostCommand(d.window, FOUR_CHAR_CODE("Pict"));
    ui::ProcessEvents();
    ASSERT_NE(config.theOriginalImage, nullptr);
    EXPECT_EQ(CGImageGetWidth(config.theOriginalImage), 400u);
    SetControl32BitValue(Control(d.window, "Prop", 1), 1);
    ui::PostCommand(d.window, FOUR_CHAR_CODE("Prop"));
    ui::ProcessEvents();
    ASSERT_TRUE(config.keepProps);
    for (UInt32 mods : {0u, UInt32(shiftKey), UInt32(optionKey), UInt32(shiftKey | optionKey)}) {
        const Rect before = RegionPixels(d);
        const Point corner{SInt16(d.preview.top + before.bottom - d.preview.top - 1),
                           SInt16(before.right - 1)};
        ui::PostDrag(d.window, {corner, Point{SInt16(corner.v + 37), SInt16(corner.h + 23)}}, mods);
        ui::ProcessEvents();
        const Rect r = Rel2Rect(config.startRel, R(0, 0, 720, 480));
        const int w = r.right - r.left, h = r.bottom - r.top;
        EXPECT_NEAR(double(w) / double(h), 4.0 / 3.0, 0.02) << mods << ": " << w << "x" << h;
    }
    ui::TakeOpenDialogLog();
}

TEST_F(DialogTest, SliderValueAndLegendFollowTheMouseWhileItIsDown) {
    OpenDialog d(&config, host, 720, 480);
    ControlRef slider = Control(d.window, "Sldr", 2);
    QWidget* w = ui::ControlWidget(slider);
    ASSERT_NE(w, nullptr);
    const int y = w->height() / 2;
    auto post = [&](QEvent::Type t, int x, Qt::MouseButtons buttons) {
        const QPointF local(x, y);
        QApplication::postEvent(w, new QMouseEvent(t, local, w->mapToGlobal(local), Qt::LeftButton,
                                                   buttons, Qt::NoModifier));
    };
    // The slider's handle starts at 10 of 250: press on it, move right with the button held.
    const int x0 = int(double(w->width()) * 10 / 250);
    post(QEvent::MouseButtonPress, x0, Qt::LeftButton);
    post(QEvent::MouseMove, x0 + 40, Qt::LeftButton);
    post(QEvent::MouseMove, x0 + 80, Qt::LeftButton);
    ui::ProcessEvents();
    const SInt32 live = GetControl32BitValue(slider);
    EXPECT_GT(live, 10);
    EXPECT_EQ(config.sliders[1], live);
    EXPECT_EQ(ControlText(d.window, "Lgnd", 2), std::to_string(live) + "%");
    post(QEvent::MouseButtonRelease, x0 + 80, Qt::NoButton);
    ui::ProcessEvents();
    EXPECT_EQ(config.sliders[1], GetControl32BitValue(slider));
}

TEST_F(DialogTest, SteppingStopsAtTheClipsEndsAndFetchesRelativeFrames) {
    FrameHost small(3);
    OpenDialog d(&config, small, 720, 480);
    gConfigWorkSpace.minFrameIndex = 100 - 100; // frames counted from the clip's first
    ui::PostCommand(d.window, FOUR_CHAR_CODE("Revi"));
    ui::ProcessEvents();
    EXPECT_EQ(ControlText(d.window, "ClpM", 1), "0/2");
    EXPECT_TRUE(small.requested.empty());
    for (int i = 0; i < 4; ++i) {
        ui::PostCommand(d.window, FOUR_CHAR_CODE("Adva"));
    }
    ui::ProcessEvents();
    EXPECT_EQ(ControlText(d.window, "ClpM", 1), "2/2");
    EXPECT_EQ(GetControl32BitValue(Control(d.window, "ClpS", 1)), 2);
    EXPECT_EQ(small.requested, (std::vector<SInt32>{1, 2}));
    // The source now holds frame 2 of the clip.
    EXPECT_EQ(tessera_test::ARGB{}.a, 0);
    PixMapHandle pm = GetGWorldPixMap(d.source.get());
    const auto* px = reinterpret_cast<const std::uint8_t*>(GetPixBaseAddr(pm)) + 4 * 5;
    EXPECT_EQ(px[1], FrameHost::PixelOf(2, 5, 0).r);
    EXPECT_EQ(gConfigWorkSpace.currFrameIndex, 2); // the shown frame, as the label says
}

TEST_F(DialogTest, ResetKeepsTheFormatAndThePictureSelectAllTakesTheWholeFrame) {
    config.mediaType = 3;
    OpenDialog d(&config, host, 960, 540);
    EXPECT_EQ(d.preview.right - d.preview.left, 960);
    const std::string pic = WritePicture(home.dir(), 40, 30);
    ui::QueueOpenAnswer(pic);
    ui::PostCommand(d.window, FOUR_CHAR_CODE("Pict"));
    ui::ProcessEvents();
    CGImageRef chosen = config.theOriginalImage;
    ASSERT_NE(chosen, nullptr);
    config.sliders[0] = 77;
    config.startRel = relRect{0.1, 0.2, 0.3, 0.4};
    ui::PostCommand(d.window, FOUR_CHAR_CODE("Rset"));
    ui::ProcessEvents();
    pluginDataRec defaults{};
    ResetConfig(&defaults, true);
    EXPECT_EQ(config.mediaType, 3);
    EXPECT_EQ(config.theOriginalImage, chosen);
    EXPECT_EQ(config.sliders[0], defaults.sliders[0]);
    EXPECT_EQ(ControlText(d.window, "Lgnd", 1), std::to_string(defaults.sliders[0]) + "%");
    EXPECT_EQ(std::memcmp(&config.startRel, &defaults.startRel, sizeof(relRect)), 0);
    config.startRel = relRect{0.3, 0.4, 0.3, 0.4};
    ui::PostCommand(d.window, FOUR_CHAR_CODE("Sall"));
    ui::ProcessEvents();
    EXPECT_EQ(config.startRel.left, 0.0);
    EXPECT_EQ(config.startRel.right, 1.0);
    EXPECT_EQ(config.startRel.top, 0.0);
    EXPECT_EQ(config.startRel.bottom, 1.0);
}

TEST_F(DialogTest, UnknownCommandsArePassedOnAndTheManualOpensInTheViewer) {
    OpenDialog d(&config, host, 720, 480);
    EventRef e = nullptr;
    CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, 0, &e);
    HICommand cmd{};
    cmd.commandID = FOUR_CHAR_CODE("quit");
    SetEventParameter(e, kEventParamDirectObject, typeHICommand, sizeof cmd, &cmd);
    EXPECT_EQ(TheDialogHandler(nullptr, e, d.window), eventNotHandledErr);
    EXPECT_EQ(DialogItemHit(), -1);
    cmd.commandID = FOUR_CHAR_CODE("Help");
    SetEventParameter(e, kEventParamDirectObject, typeHICommand, sizeof cmd, &cmd);
    ui::QueueOpenWithResult(noErr);
    EXPECT_EQ(TheDialogHandler(nullptr, e, d.window), noErr);
    ReleaseEvent(e);
    const auto opened = ui::TakeOpenWithLog();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(std::filesystem::path(opened[0]).filename(), "manual.pdf");
    EXPECT_TRUE(std::filesystem::exists(opened[0]));
}

TEST_F(DialogTest, EscapeCancelsAndReturnPressesOK) {
    OpenDialog d(&config, host, 720, 480);
    ui::PostKey(d.window, Qt::Key_Escape);
    ui::ProcessEvents();
    EXPECT_EQ(DialogItemHit(), 2);
    ui::PostKey(d.window, Qt::Key_Return);
    ui::ProcessEvents();
    EXPECT_EQ(DialogItemHit(), 1);
}

// ---- colour box and picture box -------------------------------------------------------

TEST_F(DialogTest, AColourBoxPaintsItsValueAndAPickedColourReachesTheRecord) {
    OpenDialog d(&config, host, 720, 480);
    ControlRef box = Control(d.window, "Colr", 1);
    ShowControl(box);
    SetControl32BitValue(box, 0x00FF8000);
    Draw1Control(box);
    const Rect b = GetControlBox(box);
    EXPECT_EQ(PortPixel(d.window, (b.left + b.right) / 2, (b.top + b.bottom) / 2), 0xFF8000u);
    EXPECT_EQ(PortPixel(d.window, b.left, b.top), 0u); // the black frame
    // The nib keeps the unoffered boxes out of reach of the mouse: the hit a click would
    // give is sent as the platform sends it, then the command the platform goes on with.
    ui::QueueColorAnswer(RGBColor{65535, 0, 255});
    EventRef hit = nullptr;
    CreateEvent(nullptr, kEventClassControl, kEventControlHit, 0, 0, &hit);
    SetEventParameter(hit, kEventParamDirectObject, typeControlRef, sizeof box, &box);
    SendEventToEventTarget(hit, GetControlEventTarget(box));
    ReleaseEvent(hit);
    ui::PostCommand(d.window, FOUR_CHAR_CODE("Col1"));
    ui::ProcessEvents();
    EXPECT_EQ(GetControl32BitValue(box), 0x00FF0000); // 255 >> 8 is 0
    EXPECT_EQ(config.colors[0].red, 65280);
    EXPECT_EQ(config.colors[0].blue, 0);
    const auto asked = ui::TakeColorPickerLog();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].prompt, "Please choose color:");
    HiliteControl(box, kControlDisabledPart);
    Draw1Control(box);
    EXPECT_NE(PortPixel(d.window, b.left, b.top), 0u); // erased: no frame
}

TEST_F(DialogTest, APictureIsDrawnToFitCentredInItsBox) {
    const std::string pic = WritePicture(home.dir(), 400, 100);
    OpenDialog d(&config, host, 720, 480);
    ui::QueueOpenAnswer(pic);
    ui::PostCommand(d.window, FOUR_CHAR_CODE("Pict"));
    ui::ProcessEvents();
    ControlRef box = Control(d.window, "Pict", 1);
    Draw1Control(box);
    const Rect b = GetControlBox(box); // 120 x 90: the picture is 120 x 30, centred
    const int cx = (b.left + b.right) / 2, cy = (b.top + b.bottom) / 2;
    EXPECT_EQ(PortPixel(d.window, cx, cy), 0x1EA05Au);         // the picture's green
    EXPECT_EQ(PortPixel(d.window, cx, b.top + 20), 0xFFFFFFu); // white above it
    EXPECT_EQ(PortPixel(d.window, cx, b.bottom - 20), 0xFFFFFFu);
    EXPECT_EQ(PortPixel(d.window, b.left, cy), 0u); // the black frame
    const auto shown = ui::TakeOpenDialogLog();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, "Please choose an image");
    EXPECT_FALSE(shown[0].allowsMultiple);
    EXPECT_FALSE(shown[0].typed);
}

// ---- the whole dialog, through its modal loop --------------------------------------------

class ModalDialogTest : public DialogTest {
  protected:
    void SetUp() override {
        DialogTest::SetUp();
        SetConfigureDialog(ConfigurePlugIn); // as the bundle's executable does
    }
    void TearDown() override {
        SetConfigureDialog(nullptr);
        DialogTest::TearDown();
    }
    // Presses the host's button as a host does, through the plug-in's entry, on frame 0 of
    // the clip; the host's current port is the same afterwards, however the dialog ended.
    void Press(std::vector<std::function<void()>> steps) {
        RunScript(std::move(steps));
        gEngineData = &config;
        gMostRecentStartFrame = 0;
        gMostRecentFrameCount = host.frameCount;
        tessera_test::Frame hostPort(8, 8);
        SetGWorld(hostPort.get(), nullptr);
        host.params().selector = kPlugCustomButtonClick;
        host.params().renderFrame = 0;
        EXPECT_EQ(TesseraMain(0, &host.params()), kPluginOK);
        CGrafPtr port = nullptr;
        GDHandle device = nullptr;
        GetGWorld(&port, &device);
        EXPECT_EQ(port, hostPort.get());
        SetGWorld(nullptr, nullptr);
        gEngineData = nullptr;
    }
    static WindowRef W() { return gConfigWorkSpace.theWindow; }
    static void Post(const char (&code)[5]) {
        ui::PostCommand(W(), FOUR_CHAR_CODE(code));
        ui::ProcessEvents();
    }
    static void Drag(std::vector<Point> path, UInt32 mods = 0) {
        const Rect p = GetControlBox(gConfigWorkSpace.theFrameCtrl);
        for (Point& pt : path) {
            pt.h = SInt16(pt.h + p.left);
            pt.v = SInt16(pt.v + p.top);
        }
        ui::PostDrag(W(), path, mods);
        ui::ProcessEvents();
    }
};

TEST_F(ModalDialogTest, CancelAfterManyEditsRestoresEveryFieldAndReleasesNewPictures) {
    const std::string pic = WritePicture(home.dir(), 400, 300);
    config.startRel = relRect{0.25, 0.5, 0.25, 0.5};
    config.sliders[2] = 40;
    // The record starts with a picture of its own, which Cancel must bring back alive.
    {
        FSSpec spec;
        FSRef ref;
        std::strcpy(ref.path, pic.c_str());
        (void)spec;
        config.theOriginalImage = GetCGImageFromFSRefUsingCG(ref);
    }
    ASSERT_NE(config.theOriginalImage, nullptr);
    const pluginDataRec before = config;
    const std::string other = WritePicture(home.dir(), 64, 64);
    Press({[&] {
               Drag({P(361, 241), P(400, 300)});
           },
           [&] {
               Drag({P(200, 150), P(100, 50)});
           },
           [&] {
               SetControl32BitValue(Control(W(), "Prop", 1), 1);
               Post("Prop");
               ui::QueueOpenAnswer(other);
               Post("Pict");
               SetControl32BitValue(Control(W(), "Medi", 1), 2);
               Post("Medi");
           },
           [&] {
               EXPECT_EQ(config.mediaType, 2);
               EXPECT_EQ(GetControlBox(gConfigWorkSpace.theFrameCtrl).bottom -
                             GetControlBox(gConfigWorkSpace.theFrameCtrl).top,
                         576);
               Post("Rset");
               Post("Adva");
               Post("not!");
           }});
    EXPECT_EQ(std::memcmp(&config, &before, sizeof config), 0);
    EXPECT_EQ(CGImageGetWidth(config.theOriginalImage), 400u); // alive, the same picture
}

TEST_F(ModalDialogTest, FormatChangeRebuildsWithEditsKeptAndTheSameFormatDoesNot) {
    std::vector<WindowRef> windows;
    Press({[&] {
               windows.push_back(W());
               EXPECT_EQ(gConfigWorkSpace.maxFrameIndex, 29);
               Post("Sall");
               ControlRef clip = Control(W(), "ClpS", 1);
               SetControl32BitValue(clip, 7);
               ClipSliderAction(clip, kControlIndicatorPart); // as a drag of the slider does
               EXPECT_EQ(host.requested.back(), 7);
               SetControl32BitValue(Control(W(), "Medi", 1), 1); // the same: NTSC
               Post("Medi");
               EXPECT_EQ(DialogItemHit(), -1);
           },
           [&] {
               EXPECT_EQ(W(), windows[0]);
               SetControl32BitValue(Control(W(), "Medi", 1), 3);
               Post("Medi");
               EXPECT_EQ(DialogItemHit(), 0);
           },
           [&] {
               windows.push_back(W());
               EXPECT_EQ(GetControl32BitValue(Control(W(), "Medi", 1)), 3);
               EXPECT_EQ(config.startRel.right, 1.0); // the select-all survived
               // The shown frame survives too: the new clip slider starts on it.
               EXPECT_EQ(GetControl32BitValue(Control(W(), "ClpS", 1)), 7);
               EXPECT_EQ(ControlText(W(), "ClpM", 1), "7/29");
               EXPECT_EQ(GetControlBox(gConfigWorkSpace.theFrameCtrl).right -
                             GetControlBox(gConfigWorkSpace.theFrameCtrl).left,
                         960);
               Post("ok  ");
           }});
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(config.mediaType, 3);
    pluginDataRec saved{};
    ResetConfig(&saved, true);
    ASSERT_TRUE(ReadConfig(&saved));
    EXPECT_EQ(saved.mediaType, 3);
    EXPECT_EQ(saved.startRel.right, 1.0);
}

TEST_F(ModalDialogTest, AFormatChangeAfterSteppingShowsTheFrameItsLabelNames) {
    Press({[&] {
               Post("Adva");
               Post("Adva");
               Post("Revi");
               Post("Adva");
               Post("Adva");
               EXPECT_EQ(host.requested.back(), 3);
               SetControl32BitValue(Control(W(), "Medi", 1), 3);
               Post("Medi");
           },
           [&] {
               EXPECT_EQ(ControlText(W(), "ClpM", 1), "3/29");
               EXPECT_EQ(GetControl32BitValue(Control(W(), "ClpS", 1)), 3);
               // The source the rebuilt preview renders is still frame 3.
               PixMapHandle pm = GetGWorldPixMap(gConfigWorkSpace.sourceClip);
               const auto* px = reinterpret_cast<const std::uint8_t*>(GetPixBaseAddr(pm));
               EXPECT_EQ(px[1], FrameHost::PixelOf(3, 0, 0).r);
               Post("Adva");
               EXPECT_EQ(host.requested.back(), 4);
               Post("not!");
           }});
}

// Runs `f` on the modal window that comes up over `under`, once it is there.
void WhenModalOver(QWidget* under, std::function<void(QWidget*)> f) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, under, f] {
        QWidget* top = QApplication::activeModalWidget();
        if (top != nullptr && top != under) {
            poll->stop();
            poll->deleteLater();
            f(top);
        }
    });
    poll->start(10);
}

// The about window, an alert and the Open dialog opened from the dialog belong to it: they
// are transient for it (the window manager keeps them above it) and centred on it. The
// alert's headline is bold.
TEST_F(ModalDialogTest, TheAboutWindowAlertsAndTheOpenDialogBelongToTheDialog) {
    Press({[&] {
        QWidget* dialog = ui::WindowWidget(W());
        ASSERT_NE(dialog, nullptr);
        int checked = 0;
        WhenModalOver(dialog, [&](QWidget* about) {
            QCoreApplication::postEvent(about, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, {}));
            ASSERT_NE(about->windowHandle(), nullptr);
            EXPECT_EQ(about->windowType(), Qt::Dialog);
            EXPECT_EQ(about->windowHandle()->transientParent(), dialog->windowHandle());
            const QPoint off = about->geometry().center() - dialog->geometry().center();
            EXPECT_LE(off.manhattanLength(), 2);
            ++checked;
        });
        Post("Info");
        WhenModalOver(dialog, [&](QWidget* top) {
            auto* box = qobject_cast<QMessageBox*>(top);
            ASSERT_NE(box, nullptr);
            QTimer::singleShot(0, box->defaultButton(), &QPushButton::click);
            EXPECT_EQ(box->parentWidget(), dialog);
            auto* headline = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            ASSERT_NE(headline, nullptr);
            EXPECT_TRUE(headline->font().bold());
            ++checked;
        });
        Notify("Cannot locate manual in bundle");
        WhenModalOver(dialog, [&](QWidget* top) {
            auto* open = qobject_cast<QFileDialog*>(top);
            ASSERT_NE(open, nullptr);
            QTimer::singleShot(0, open, &QDialog::reject);
            EXPECT_EQ(open->parentWidget(), dialog);
            ++checked;
        });
        Post("Pict");
        EXPECT_EQ(checked, 3);
        Post("not!");
    }});
}

// The region from the keyboard, with the preview focused: arrows move it by a preview pixel,
// Shift+arrows by ten, Ctrl+arrows move its bottom-right corner; every step is drawn at once;
// Cancel undoes them, Return (not the preview's) presses OK and keeps them.
TEST_F(ModalDialogTest, ArrowKeysMoveAndResizeTheRegionLiveAndCancelUndoesThem) {
    const Rect frame = R(0, 0, 720, 480);
    for (const bool ok : {false, true}) {
        config.startRel = relRect{0.25, 0.5, 0.25, 0.5}; // (180,120)-(360,240)
        const pluginDataRec before = config;
        Press({[&] {
            QWidget* preview = ui::ControlWidget(gConfigWorkSpace.theFrameCtrl);
            ASSERT_NE(preview, nullptr);
            EXPECT_EQ(preview->focusPolicy(), Qt::StrongFocus);
            preview->setFocus();
            auto key = [](int k, UInt32 mods = 0) {
                ui::PostKey(W(), k, mods);
                ui::ProcessEvents();
            };
            const Rect box = GetControlBox(gConfigWorkSpace.theFrameCtrl);
            key(Qt::Key_Right);
            EXPECT_TRUE(SameRect(Rel2Rect(config.startRel, frame), R(181, 120, 361, 240)));
            key(Qt::Key_Down, shiftKey);
            key(Qt::Key_Left, shiftKey);
            EXPECT_TRUE(SameRect(Rel2Rect(config.startRel, frame), R(171, 130, 351, 250)));
            key(Qt::Key_Right, controlKey);
            key(Qt::Key_Up, controlKey | shiftKey);
            EXPECT_TRUE(SameRect(Rel2Rect(config.startRel, frame), R(171, 130, 352, 240)));
            // Drawn at once: the outline is where the region now is.
            EXPECT_EQ(PortPixel(W(), box.left + 171, box.top + 200), 0xFF0000u);
            EXPECT_EQ(PortPixel(W(), box.left + 351, box.top + 200), 0xFF0000u);
            if (ok) {
                key(Qt::Key_Return);
            } else {
                Post("not!");
            }
        }});
        if (ok) {
            pluginDataRec saved{};
            ResetConfig(&saved, true);
            ASSERT_TRUE(ReadConfig(&saved));
            EXPECT_TRUE(SameRect(Rel2Rect(saved.startRel, frame), R(171, 130, 352, 240)));
        } else {
            EXPECT_EQ(std::memcmp(&config, &before, sizeof config), 0);
        }
    }
}

TEST_F(ModalDialogTest, OKSavesTheDraggedRegionAndSlidersToThePreferencesFile) {
    config.startRel = relRect{0.25, 0.5, 0.25, 0.5};
    Press({[&] {
        Drag({P(250, 200), P(270, 190)});
        SetControl32BitValue(Control(W(), "Sldr", 3), 55);
        Slider3Action(Control(W(), "Sldr", 3), kControlIndicatorPart);
        ui::PostKey(W(), Qt::Key_Return);
    }});
    pluginDataRec saved{};
    ResetConfig(&saved, true);
    ASSERT_TRUE(ReadConfig(&saved));
    EXPECT_TRUE(SameRect(Rel2Rect(saved.startRel, R(0, 0, 720, 480)), R(200, 110, 380, 230)));
    EXPECT_EQ(saved.sliders[2], 55);
}

TEST_F(ModalDialogTest, TheHostsPortSurvivesEverySelectorTheButtonsOKAndCancelIncluded) {
    tessera_test::Frame target(720, 480);
    tessera_test::Frame hostPort(8, 8);
    _PluginParams& params = host.params();
    params.frame = target.get();
    params.frameRect = Rect{0, 0, 480, 720};
    params.frameCount = host.frameCount;
    gEngineData = nullptr; // made by the first call, through the host, as at a real start
    for (SInt16 selector :
         {kPlugGetInfo, kPlugInitialize, kPlugDrawIcon, kPlugDrawThumbNail, kPlugFilePlaceHolder,
          kPlugDoFrame, kPlugCallOnceWithInitAndTerminate, kPlugTerminate}) {
        SetGWorld(hostPort.get(), nullptr);
        params.selector = selector;
        params.renderFrame = 2;
        (void)TesseraMain(0, &params);
        CGrafPtr port = nullptr;
        GDHandle device = nullptr;
        GetGWorld(&port, &device);
        EXPECT_EQ(port, hostPort.get()) << "selector " << selector;
    }
    EXPECT_FALSE(host.requested.empty()); // the frame calls did render
    pluginDataRec* made = gEngineData;
    Press({[] { Post("ok  "); }});
    Press({[] { Post("not!"); }});
    SetGWorld(nullptr, nullptr);
    DisposePtr(reinterpret_cast<Ptr>(made));
}

TEST_F(ModalDialogTest, AFrameCountBelowOneCountsAsOne) {
    for (SInt32 n : {0, -5}) {
        FrameHost none(n < 0 ? 0 : n);
        SInt32 seen = -1;
        RunScript({[&] {
            seen = gConfigWorkSpace.maxFrameIndex;
            Post("not!");
        }});
        GWorldPtr shown = nullptr;
        const Rect bounds{0, 0, 480, 720};
        NewGWorld(&shown, 32, &bounds, nullptr, nullptr, 0);
        ConfigurePlugIn(&config, shown, &none.params(), 0, n);
        DisposeGWorld(shown);
        EXPECT_EQ(seen, 0) << n;
    }
}

// ---- the host glue's button and frame fetch ------------------------------------------------

TEST_F(DialogTest, GetFrameIntoGWFetchesRelativeToTheClipAndRefusesNegativeIndices) {
    tessera_test::Frame into(64, 32);
    host.params().startFrame = 4;
    EXPECT_EQ(GetFrameIntoGW(into.get(), &host.params(), -5, 1), -1);
    EXPECT_TRUE(host.requested.empty());
    EXPECT_EQ(GetFrameIntoGW(into.get(), &host.params(), 3, 1), 0);
    EXPECT_EQ(host.requested, std::vector<SInt32>{7});
    EXPECT_EQ(into.at(10, 5), FrameHost::PixelOf(7, 10, 5));
    EXPECT_EQ(GetFrameIntoGW(into.get(), &host.params(), 40, 1), kPluginCantGetNeededFrame);
}

// The host's button on a clip that starts at frame 50: the dialog opens on frame 50 and its
// steps show 51, 52, ... whether the host leaves the clip's start in the block (as fxhost
// does) or clears it for the button.
TEST_F(ModalDialogTest, TheButtonsDialogStepsOnFromTheFrameItOpenedOn) {
    for (SInt32 blockStart : {50, 0}) {
        FrameHost clip(200);
        gEngineData = &config;
        gMostRecentStartFrame = 50;
        gMostRecentFrameCount = 100;
        clip.params().startFrame = blockStart;
        clip.params().renderFrame = 0;
        RunScript({[] {
            for (UInt32 code :
                 {FOUR_CHAR_CODE("Adva"), FOUR_CHAR_CODE("Adva"), FOUR_CHAR_CODE("Revi")}) {
                ui::PostCommand(gConfigWorkSpace.theWindow, code);
                ui::ProcessEvents();
            }
            ui::PostCommand(gConfigWorkSpace.theWindow, FOUR_CHAR_CODE("not!"));
        }});
        EXPECT_EQ(CustomButtons(0, &clip.params()), kPluginOK);
        EXPECT_EQ(clip.requested, (std::vector<SInt32>{50, 51, 52, 51})) << blockStart;
        gEngineData = nullptr;
        gMostRecentStartFrame = 0;
        gMostRecentFrameCount = 0;
    }
}

} // namespace
