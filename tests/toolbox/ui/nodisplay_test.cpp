// With no display at all (no DISPLAY, no WAYLAND_DISPLAY, no QT_QPA_PLATFORM): nothing
// starts Qt, nothing crashes, alerts go to standard error, the modal dialogs report that
// they could not ask, and drawing and image decoding work as ever.
#include "UITestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>

#include <cstdlib>

using namespace uitest;
namespace tst = toolbox::ui::testing;

namespace {

TEST(NoDisplay, TheEnvironmentHasNone) {
    EXPECT_EQ(std::getenv("DISPLAY"), nullptr);
    EXPECT_EQ(std::getenv("WAYLAND_DISPLAY"), nullptr);
    EXPECT_EQ(std::getenv("QT_QPA_PLATFORM"), nullptr);
}

TEST(NoDisplay, WindowsAreRefusedWithoutStartingQt) {
    OSStatus err = noErr;
    EXPECT_EQ(OpenWindow("test", "main", &err), nullptr);
    EXPECT_EQ(err, noUserInteractionAllowed);
    EXPECT_FALSE(tst::StartWindowing());
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    // The failure codes that need no window system are the same as with a display.
    EXPECT_EQ(OpenWindow("test", "nosuch", &err), nullptr);
    EXPECT_EQ(err, kIBCarbonRuntimeCantFindObject);
}

TEST(NoDisplay, AlertsGoToStandardError) {
    AlertStdCFStringAlertParamRec param{};
    GetStandardAlertDefaultParams(&param, kStdCFStringAlertVersionOne);
    param.defaultText = Str("ok");
    DialogRef alert = nullptr;
    ASSERT_EQ(CreateStandardAlert(kAlertCautionAlert, Str("Internal Notification:"),
                                  Str("Cannot locate manual in bundle"), &param, &alert),
              noErr);
    DialogItemIndex item = 0;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunStandardAlert(alert, nullptr, &item), noUserInteractionAllowed);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(item, kAlertStdAlertOKButton);
    EXPECT_NE(err.find("Internal Notification:"), std::string::npos);
    EXPECT_NE(err.find("Cannot locate manual in bundle"), std::string::npos);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

TEST(NoDisplay, TheModalDialogsReportThatNobodyCouldBeAsked) {
    NColorPickerInfo info{};
    info.theColor.color.rgb = CMRGBColor{1, 2, 3};
    EXPECT_EQ(NPickColor(&info), noUserInteractionAllowed);
    EXPECT_FALSE(info.newColorChosen);
    EXPECT_EQ(info.theColor.color.rgb.red, 1);
    NavReplyRecord reply{};
    EXPECT_EQ(NavGetFile(nullptr, &reply, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              noUserInteractionAllowed);
    EXPECT_FALSE(reply.validRecord);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

TEST(NoDisplay, TheScriptedUserNeedsNoDisplay) {
    ResetLogs();
    tst::QueueAlertAnswer(kAlertStdAlertCancelButton);
    AlertStdCFStringAlertParamRec param{};
    GetStandardAlertDefaultParams(&param, kStdCFStringAlertVersionOne);
    param.cancelText = Str("Cancel");
    param.cancelButton = kAlertStdAlertCancelButton;
    DialogRef alert = nullptr;
    CreateStandardAlert(kAlertCautionAlert, Str("m"), Str("e"), &param, &alert);
    DialogItemIndex item = 0;
    EXPECT_EQ(RunStandardAlert(alert, nullptr, &item), noErr);
    EXPECT_EQ(item, kAlertStdAlertCancelButton);
    tst::QueueColorAnswer(RGBColor{9, 9, 9});
    NColorPickerInfo info{};
    EXPECT_EQ(NPickColor(&info), noErr);
    EXPECT_TRUE(info.newColorChosen);
}

TEST(NoDisplay, DrawingAndDecodingNeverStartQt) {
    TempDir dir;
    dir.write("anim.gif", GifBytes(3, 3, {RGBColor{0, 0xFFFF, 0}}));
    const std::string path = dir.file("anim.gif");
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8*>(path.c_str()), CFIndex(path.size()), false);
    CGImageSourceRef source = CGImageSourceCreateWithURL(url, nullptr);
    CFRelease(url);
    ASSERT_EQ(CGImageSourceGetCount(source), 1u);
    CGImageRef image = CGImageSourceCreateImageAtIndex(source, 0, nullptr);
    CGImageSourceRelease(source);
    ASSERT_NE(image, nullptr);
    // The render path: an offscreen buffer, the image drawn into it, a scaled copy.
    Rect r{0, 0, 30, 30};
    GWorldPtr gw = nullptr, big = nullptr;
    ASSERT_EQ(NewGWorld(&gw, 32, &r, nullptr, nullptr, 0), noErr);
    Rect r2{0, 0, 60, 60};
    ASSERT_EQ(NewGWorld(&big, 32, &r2, nullptr, nullptr, 0), noErr);
    CGContextRef ctx = nullptr;
    ASSERT_EQ(QDBeginCGContext(gw, &ctx), noErr);
    CGContextDrawImage(ctx, CGRectMake(0, 0, 30, 30), image);
    QDEndCGContext(gw, &ctx);
    CopyBits(GetPortBitMapForCopyBits(gw), GetPortBitMapForCopyBits(big), &r, &r2, srcCopy,
             nullptr);
    EXPECT_EQ(PortPixel(big, 59, 59), 0x00FF00u);
    DisposeGWorld(gw);
    DisposeGWorld(big);
    CGImageRelease(image);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

TEST(NoDisplay, ExitToShellEndsTheProcessWithAFailureStatus) {
    EXPECT_EXIT(ExitToShell(), ::testing::ExitedWithCode(EXIT_FAILURE), "");
}

} // namespace
