// The modal system dialogs: standard alerts, the colour picker, the Open dialog and its
// descriptor lists, and opening documents with xdg-open; answered by the scripted user and,
// on Qt's offscreen platform, by clicking the real dialogs.
#include "UITestSupport.h"

#include "MacMemory.h"
#include "TextUtils.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

using namespace uitest;
namespace tst = toolbox::ui::testing;

namespace {

class Dialogs : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetLogs();
        ASSERT_TRUE(tst::StartWindowing());
    }
    void TearDown() override { EXPECT_EQ(tst::PendingScriptedAnswers(), 0u); }
};

// Runs `act` on the modal dialog as soon as it is up.
template <typename Dialog, typename Act> void WhenUp(Act act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, act]() {
        if (auto* d = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            act(d);
        }
    });
    poll->start(10);
}

DialogItemIndex Alert(AlertType type, const char* message, const char* explanation, const char* ok,
                      const char* cancel) {
    AlertStdCFStringAlertParamRec param{};
    GetStandardAlertDefaultParams(&param, kStdCFStringAlertVersionOne);
    param.defaultText = ok != nullptr ? Str(ok) : nullptr;
    param.cancelText = cancel != nullptr ? Str(cancel) : nullptr;
    param.defaultButton = kAlertStdAlertOKButton;
    param.cancelButton = kAlertStdAlertCancelButton;
    DialogRef alert = nullptr;
    EXPECT_EQ(CreateStandardAlert(type, Str(message), Str(explanation), &param, &alert), noErr);
    DialogItemIndex item = 0;
    EXPECT_EQ(RunStandardAlert(alert, nullptr, &item), noErr);
    return item;
}

TEST_F(Dialogs, AScriptedAlertIsAnsweredAndLogged) {
    tst::QueueAlertAnswer(kAlertStdAlertOKButton);
    EXPECT_EQ(Alert(kAlertCautionAlert, "Internal Notification:", "Cannot locate manual in bundle",
                    "ok", nullptr),
              kAlertStdAlertOKButton);
    tst::QueueAlertAnswer(kAlertStdAlertCancelButton);
    EXPECT_EQ(Alert(kAlertCautionAlert, "Sure?", "Really", "Yes", "No"),
              kAlertStdAlertCancelButton);
    const auto log = tst::TakeAlertLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].type, kAlertCautionAlert);
    EXPECT_EQ(log[0].message, "Internal Notification:");
    EXPECT_EQ(log[0].explanation, "Cannot locate manual in bundle");
    EXPECT_EQ(log[0].buttons, std::vector<std::string>{"ok"});
    EXPECT_EQ(log[0].cancelItem, 0);
    EXPECT_EQ(log[1].buttons, (std::vector<std::string>{"Yes", "No"}));
    EXPECT_EQ(log[1].cancelItem, kAlertStdAlertCancelButton);
    EXPECT_FALSE(log[1].onScreen);
}

TEST_F(Dialogs, AnAlertWithoutParametersOrDefaultTextStillHasOK) {
    tst::QueueAlertAnswer(1);
    DialogRef alert = nullptr;
    ASSERT_EQ(
        CreateStandardAlert(kAlertStopAlert, Str("Assertion Failure"), Str("x"), nullptr, &alert),
        noErr);
    DialogItemIndex item = 0;
    RunStandardAlert(alert, nullptr, &item);
    tst::QueueAlertAnswer(1);
    Alert(kAlertNoteAlert, "m", "e", nullptr, nullptr);
    const auto log = tst::TakeAlertLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].type, kAlertStopAlert);
    EXPECT_EQ(log[0].buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(log[1].buttons, std::vector<std::string>{"OK"});
}

TEST_F(Dialogs, ARealAlertOnScreenReportsTheButtonPressed) {
    std::string shownText, shownInfo;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    WhenUp<QMessageBox>([&](QMessageBox* box) {
        shownText = box->text().toStdString();
        shownInfo = box->informativeText().toStdString();
        icon = box->icon();
        for (QAbstractButton* b : box->buttons()) {
            if (b->text() == "Keep going") {
                b->click();
            }
        }
    });
    EXPECT_EQ(Alert(kAlertCautionAlert, "Careful", "Two ways", "Stop here", "Keep going"),
              kAlertStdAlertCancelButton);
    EXPECT_EQ(shownText, "Careful");
    EXPECT_EQ(shownInfo, "Two ways");
    EXPECT_EQ(icon, QMessageBox::Warning);
    const auto log = tst::TakeAlertLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].onScreen);

    WhenUp<QMessageBox>([](QMessageBox* box) { box->defaultButton()->click(); });
    EXPECT_EQ(Alert(kAlertStopAlert, "Stop", "now", "Quit", nullptr), kAlertStdAlertOKButton);
}

NColorPickerInfo Picker(RGBColor c) {
    NColorPickerInfo info{};
    info.theColor.color.rgb = CMRGBColor{c.red, c.green, c.blue};
    info.flags = 0x93;
    CopyCStringToPascal("Please choose color:", info.prompt);
    return info;
}

TEST_F(Dialogs, TheColourPickerTakesScriptedColoursAndCancels) {
    NColorPickerInfo info = Picker(RGBColor{0xFF00, 0x8000, 0});
    tst::QueueColorAnswer(RGBColor{65535, 0, 255});
    ASSERT_EQ(NPickColor(&info), noErr);
    EXPECT_TRUE(info.newColorChosen);
    EXPECT_EQ(info.theColor.color.rgb.red, 65535);
    EXPECT_EQ(info.theColor.color.rgb.blue, 255);

    info = Picker(RGBColor{1, 2, 3});
    tst::QueueColorCancel();
    ASSERT_EQ(NPickColor(&info), noErr);
    EXPECT_FALSE(info.newColorChosen);
    EXPECT_EQ(info.theColor.color.rgb.red, 1);
    EXPECT_EQ(info.theColor.color.rgb.blue, 3);

    const auto log = tst::TakeColorPickerLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].prompt, "Please choose color:");
    EXPECT_EQ(log[0].initial.red, 0xFF00);
}

TEST_F(Dialogs, TheRealColourDialogShowsThePromptAndGivesTheChosenColour) {
    std::string title;
    QColor initial;
    WhenUp<QColorDialog>([&](QColorDialog* d) {
        title = d->windowTitle().toStdString();
        initial = d->currentColor();
        d->setCurrentColor(QColor(255, 0, 128));
        d->accept();
    });
    NColorPickerInfo info = Picker(RGBColor{0, 0xFFFF, 0});
    ASSERT_EQ(NPickColor(&info), noErr);
    EXPECT_EQ(title, "Please choose color:");
    EXPECT_EQ(initial, QColor(0, 255, 0));
    EXPECT_TRUE(info.newColorChosen);
    EXPECT_EQ(info.theColor.color.rgb.red, 0xFFFF);
    EXPECT_EQ(info.theColor.color.rgb.green, 0);
    EXPECT_EQ(info.theColor.color.rgb.blue >> 8, 128);

    WhenUp<QColorDialog>([](QColorDialog* d) { d->reject(); });
    info = Picker(RGBColor{7, 7, 7});
    ASSERT_EQ(NPickColor(&info), noErr);
    EXPECT_FALSE(info.newColorChosen);
    EXPECT_EQ(info.theColor.color.rgb.red, 7);
}

class OpenDialog : public Dialogs {
  protected:
    void SetUp() override {
        Dialogs::SetUp();
        dir.write("picture.png", "not really, but the name says PNG");
        dir.write("notes.txt", "text");
        dir.write("b.png", "another");
        NavGetDefaultDialogOptions(&options);
        CopyCStringToPascal("Please choose an image", options.windowTitle);
        options.dialogOptionFlags &= ~kNavAllowMultipleFiles;
    }
    std::string pathOfItem(const NavReplyRecord& reply, long index) {
        FSSpec spec{};
        Size size = 0;
        DescType type = 0;
        EXPECT_EQ(AEGetNthPtr(&reply.selection, index, typeFSS, nullptr, &type, &spec, sizeof spec,
                              &size),
                  noErr);
        EXPECT_EQ(size, Size(sizeof(FSSpec)));
        std::string path;
        toolbox::files::pathFromSpec(spec, path);
        return path;
    }
    NavTypeListHandle typeList(OSType creator, OSType type) {
        auto h = reinterpret_cast<NavTypeListHandle>(NewHandleClear(12));
        (**h).componentSignature = creator;
        (**h).osTypeCount = 1;
        (**h).osType[0] = type;
        return h;
    }
    TempDir dir;
    NavDialogOptions options{};
};

TEST_F(OpenDialog, AScriptedChoiceComesBackAsTheSelection) {
    tst::QueueOpenAnswer(dir.file("picture.png"));
    NavReplyRecord reply{};
    reply.version = kNavReplyRecordVersion;
    ASSERT_EQ(NavGetFile(nullptr, &reply, &options, nullptr, nullptr, nullptr, nullptr, nullptr),
              noErr);
    EXPECT_TRUE(reply.validRecord);
    long count = 0;
    ASSERT_EQ(AECountItems(&reply.selection, &count), noErr);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(pathOfItem(reply, 1), dir.file("picture.png"));
    NavDisposeReply(&reply);
    const auto log = tst::TakeOpenDialogLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].title, "Please choose an image");
    EXPECT_FALSE(log[0].typed);
    EXPECT_FALSE(log[0].allowsMultiple);
}

TEST_F(OpenDialog, OneFileUnlessSeveralAreAllowed) {
    tst::QueueOpenAnswer({dir.file("picture.png"), dir.file("b.png")});
    NavReplyRecord reply{};
    ASSERT_EQ(NavGetFile(nullptr, &reply, &options, nullptr, nullptr, nullptr, nullptr, nullptr),
              noErr);
    long count = 0;
    AECountItems(&reply.selection, &count);
    EXPECT_EQ(count, 1);
    NavDisposeReply(&reply);

    options.dialogOptionFlags |= kNavAllowMultipleFiles;
    tst::QueueOpenAnswer({dir.file("picture.png"), dir.file("b.png")});
    ASSERT_EQ(NavGetFile(nullptr, &reply, &options, nullptr, nullptr, nullptr, nullptr, nullptr),
              noErr);
    AECountItems(&reply.selection, &count);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(pathOfItem(reply, 2), dir.file("b.png"));
    NavDisposeReply(&reply);
}

TEST_F(OpenDialog, CancelGivesNoRecord) {
    tst::QueueOpenCancel();
    NavReplyRecord reply{};
    EXPECT_EQ(NavGetFile(nullptr, &reply, &options, nullptr, nullptr, nullptr, nullptr, nullptr),
              userCanceledErr);
    EXPECT_FALSE(reply.validRecord);
}

TEST_F(OpenDialog, ATypeListOffersOnlyFilesOfThatType) {
    NavTypeListHandle types = typeList(kNavGenericSignature, FOUR_CHAR_CODE("PNGf"));
    NavReplyRecord reply{};
    tst::QueueOpenAnswer(dir.file("notes.txt"));
    EXPECT_EQ(NavGetFile(nullptr, &reply, &options, nullptr, nullptr, nullptr, types, nullptr),
              userCanceledErr);
    tst::QueueOpenAnswer(dir.file("picture.png"));
    EXPECT_EQ(NavGetFile(nullptr, &reply, &options, nullptr, nullptr, nullptr, types, nullptr),
              noErr);
    NavDisposeReply(&reply);
    const auto log = tst::TakeOpenDialogLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(log[0].typed);
    EXPECT_EQ(log[0].types, std::vector<OSType>{FOUR_CHAR_CODE("PNGf")});
    EXPECT_TRUE(tst::OpenDialogWouldOffer(dir.path(), true, kNavGenericSignature,
                                          {FOUR_CHAR_CODE("TEXT")}));
    EXPECT_TRUE(tst::OpenDialogWouldOffer(dir.file("notes.txt"), true, kNavGenericSignature,
                                          {FOUR_CHAR_CODE("TEXT")}));
    EXPECT_TRUE(tst::OpenDialogWouldOffer(dir.file("notes.txt"), false, 0, {}));
    EXPECT_TRUE(tst::OpenDialogWouldOffer(dir.file("notes.txt"), true, kNavGenericSignature,
                                          {kNavGenericSignature}));
    DisposeHandle(reinterpret_cast<Handle>(types));
}

TEST_F(OpenDialog, ACountBeyondTheTypeListHandleIsNotRead) {
    NavTypeListHandle types = typeList(kNavGenericSignature, FOUR_CHAR_CODE("PNGf"));
    (**types).osTypeCount = 30000;
    tst::QueueOpenCancel();
    NavReplyRecord reply{};
    NavGetFile(nullptr, &reply, &options, nullptr, nullptr, nullptr, types, nullptr);
    const auto log = tst::TakeOpenDialogLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].types.size(), 1u);
    DisposeHandle(reinterpret_cast<Handle>(types));
}

TEST_F(OpenDialog, TheRealDialogIsTitledWithThePromptAndGivesTheChosenFile) {
    std::string title;
    bool single = false;
    WhenUp<QFileDialog>([&](QFileDialog* d) {
        title = d->windowTitle().toStdString();
        single = d->fileMode() == QFileDialog::ExistingFile;
        d->selectFile(QString::fromStdString(dir.file("picture.png")));
        QMetaObject::invokeMethod(d, "accept");
    });
    FSRef folder{};
    FSPathMakeRef(reinterpret_cast<const UInt8*>(dir.path().c_str()), &folder, nullptr);
    AEDesc location;
    AECreateDesc(typeFSRef, &folder, sizeof folder, &location);
    NavReplyRecord reply{};
    ASSERT_EQ(NavGetFile(&location, &reply, &options, nullptr, nullptr, nullptr, nullptr, nullptr),
              noErr);
    AEDisposeDesc(&location);
    EXPECT_EQ(title, "Please choose an image");
    EXPECT_TRUE(single);
    EXPECT_EQ(pathOfItem(reply, 1), dir.file("picture.png"));
    NavDisposeReply(&reply);

    WhenUp<QFileDialog>([](QFileDialog* d) { d->reject(); });
    EXPECT_EQ(NavGetFile(nullptr, &reply, &options, nullptr, nullptr, nullptr, nullptr, nullptr),
              userCanceledErr);
}

TEST(DescriptorLists, CountEveryItemAndRefuseBadIndexes) {
    TempDir dir;
    AEDescList list;
    ASSERT_EQ(AECreateList(nullptr, 0, false, &list), noErr);
    for (int i = 0; i < 6; ++i) {
        const std::string name = "f" + std::to_string(i);
        dir.write(name, "x");
        FSRef ref{};
        ASSERT_EQ(
            FSPathMakeRef(reinterpret_cast<const UInt8*>(dir.file(name).c_str()), &ref, nullptr),
            noErr);
        ASSERT_EQ(AEPutPtr(&list, 0, typeFSRef, &ref, sizeof ref), noErr);
    }
    long count = 0;
    ASSERT_EQ(AECountItems(&list, &count), noErr);
    EXPECT_EQ(count, 6);
    FSSpec spec{};
    EXPECT_EQ(AEGetNthPtr(&list, 6, typeFSS, nullptr, nullptr, &spec, sizeof spec, nullptr), noErr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(spec.name + 1), spec.name[0]), "f5");
    EXPECT_EQ(AEGetNthPtr(&list, 7, typeFSS, nullptr, nullptr, &spec, sizeof spec, nullptr),
              errAEIllegalIndex);
    EXPECT_EQ(AEGetNthPtr(&list, 0, typeFSS, nullptr, nullptr, &spec, sizeof spec, nullptr),
              errAEIllegalIndex);
    EXPECT_EQ(AEGetNthPtr(&list, 1, typeChar, nullptr, nullptr, &spec, sizeof spec, nullptr),
              errAECoercionFail);
    AEDisposeDesc(&list);
    EXPECT_EQ(AECountItems(&list, &count), errAEWrongDataType);
}

// ---- opening documents ------------------------------------------------------------------

class OpenWith : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetLogs();
        const char* path = std::getenv("PATH");
        savedPath = path != nullptr ? path : "";
        dir.write("manual.pdf", "%PDF-1.4\n");
        FSPathMakeRef(reinterpret_cast<const UInt8*>(dir.file("manual.pdf").c_str()), &doc,
                      nullptr);
    }
    void TearDown() override { ::setenv("PATH", savedPath.c_str(), 1); }
    // A stand-in xdg-open that records its argument and exits with `status`.
    void fakeXdgOpen(int status) {
        dir.write("bin/xdg-open", "#!/bin/sh\necho \"$1\" > " + dir.file("opened") + "\nexit " +
                                      std::to_string(status) + "\n");
        ::chmod(dir.file("bin/xdg-open").c_str(), 0755);
        ::setenv("PATH", (dir.file("bin") + ":/usr/bin:/bin").c_str(), 1);
    }
    std::string opened() {
        std::ifstream in(dir.file("opened"));
        std::string line;
        std::getline(in, line);
        return line;
    }
    TempDir dir;
    FSRef doc{};
    std::string savedPath;
};

TEST_F(OpenWith, SuccessOnlyWhenXdgOpenSaysSo) {
    fakeXdgOpen(0);
    EXPECT_EQ(LSOpenFSRef(&doc, nullptr), noErr);
    EXPECT_EQ(opened(), dir.file("manual.pdf"));
    fakeXdgOpen(3);
    EXPECT_EQ(LSOpenFSRef(&doc, nullptr), kLSApplicationNotFoundErr);
    fakeXdgOpen(2);
    EXPECT_EQ(LSOpenFSRef(&doc, nullptr), fnfErr);
    fakeXdgOpen(4);
    EXPECT_EQ(LSOpenFSRef(&doc, nullptr), kLSLaunchFailedErr);
    EXPECT_EQ(tst::TakeOpenWithLog().size(), 4u);
}

TEST_F(OpenWith, AMissingXdgOpenIsReported) {
    dir.write("empty/.keep", "");
    ::setenv("PATH", dir.file("empty").c_str(), 1);
    EXPECT_EQ(LSOpenFSRef(&doc, nullptr), kLSApplicationNotFoundErr);
}

TEST_F(OpenWith, TheScriptedResultStartsNothing) {
    fakeXdgOpen(0);
    tst::QueueOpenWithResult(-10814);
    EXPECT_EQ(LSOpenFSRef(&doc, nullptr), -10814);
    EXPECT_EQ(opened(), "");
    EXPECT_EQ(tst::TakeOpenWithLog(), std::vector<std::string>{dir.file("manual.pdf")});
}

} // namespace
