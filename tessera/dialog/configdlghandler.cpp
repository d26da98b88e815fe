// configdlghandler.cpp - the configuration dialog; see configdlghandler.h.
#include "configdlghandler.h"

#include "DataHandling.h"
#include "EasyFile.h"
#include "Globals.h"
#include "aboutwindow.h"
#include "callpixelfx.h"
#include "carbonmacros.h"
#include "clipCTRL.h"
#include "colorCTRL.h"
#include "commonprocs.h"
#include "dlgUtils.h"
#include "gworldprocs.h"
#include "pictCTRL.h"
#include "prefsloader.h"
#include "relrects.h"
#include "sliderHandlers.h"

#include <string>

namespace {

WindowRef lgTheWindow = nullptr;
SInt16 lgItemHit = -1;
pluginDataRec lgBackup{};

constexpr OSType kColr = FOUR_CHAR_CODE("Colr");
constexpr OSType kCLgd = FOUR_CHAR_CODE("CLgd");
constexpr OSType kLgnd = FOUR_CHAR_CODE("Lgnd");

void StepFrame(int direction) {
    ControlRef clip = gConfigWorkSpace.clipSlider;
    if (clip == nullptr) {
        return;
    }
    SInt32 v = GetControl32BitValue(clip);
    if (direction > 0 ? gConfigWorkSpace.maxFrameIndex > v : v > 0) {
        v += direction;
        SetControl32BitValue(clip, v);
        AccessRenderAndBlit(v);
        ShowFrameNumber(v);
    }
}

void OpenManual() {
    CFStringRef ident = toolbox::cf::makeString(cMyBundleID);
    CFBundleRef bundle = CFBundleGetBundleWithIdentifier(ident);
    CFRelease(ident);
    if (bundle == nullptr) {
        Notify("Cannot Locate Bundle. Proceed with caution. Crash imminent");
        return;
    }
    CFURLRef url = CFBundleCopyResourceURL(bundle, CFSTR("manual"), CFSTR("pdf"), nullptr);
    if (url == nullptr) {
        Notify("Cannot locate manual in bundle");
        return;
    }
    FSRef ref;
    if (CFURLGetFSRef(url, &ref)) {
        const OSStatus s = LSOpenFSRef(&ref, nullptr);
        if (s != noErr) {
            Str255 num;
            Num2Text(s, num);
            Notify("LSOpen failed with " + std::string(Str255View(num)));
        }
    }
    CFRelease(url);
}

void ChoosePicture(pluginDataRec* config) {
    Str255 prompt;
    CStr2Str255("Please choose an image", prompt);
    FSSpec file;
    if (!EasyNavGetFile(prompt, cAnyFileType, cAnyFileType, false, file)) {
        return;
    }
    // The record's references go; the backup keeps its own on the pictures it names.
    CGImageRelease(config->theOriginalImage);
    CGImageRelease(config->theRendered);
    config->theOriginalImage = nullptr;
    config->theRendered = nullptr;
    config->theOriginalImage = GetCGImageFromFSSUsingCG(file);
    SetPictureControlImage(
        SimpleGetControlByID(gConfigWorkSpace.theWindow, FOUR_CHAR_CODE("Pict"), 1),
        config->theOriginalImage);
    CalcAndKeepImageProps();
    ReRenderAndBlit();
}

} // namespace

const char* DialogWindowName(SInt16 mediaType) {
    switch (mediaType) {
    case 2:
        return "configPAL";
    case 3:
        return "configHD";
    default:
        return "configNTSC";
    }
}

SInt16 DialogItemHit() {
    return lgItemHit;
}

void ConfigurePlugIn(pluginDataRec* theData, GWorldPtr theGW, _PluginParams* params,
                     SInt32 firstFrameIndex, SInt32 numberOfFrames) {
    gTheConfig = theData;
    gConfigWorkSpace.theConfig = theData;
    gConfigWorkSpace.sourceClip = theGW;
    gConfigWorkSpace.iMovieParams = params;
    gConfigWorkSpace.currFrameIndex = 0;
    gConfigWorkSpace.minFrameIndex = firstFrameIndex;
    gConfigWorkSpace.maxFrameIndex = (numberOfFrames < 1 ? 1 : numberOfFrames) - 1;
    gConfigWorkSpace.activeRel = 1;

    GWorldPtr processed = AllocateRectGWorld(GetPortRect(theGW));
    Assert(processed, "Unable to allocate theProcessed in ConffigurePlug Init run");
    gConfigWorkSpace.theFXClip = processed;
    Assert(theData, "uninited theData in Configure master proc. need to call init before "
                    "calling me");
    CallPixelEffect(theGW, processed);

    RegisterColorBox();
    RegisterClipCtrl();
    RegisterPictureControl();
    DoConfig(gTheConfig);
    UnregisterClipCtrl();
    UnregisterColorBox();
    UnregisterPictureControl();

    DisposeGWorld(processed);
    gConfigWorkSpace.theFXClip = nullptr;
}

void DoConfig(pluginDataRec* theConfig) {
    Assert(theConfig, "Nil theConfig on DoConfig");
    lgBackup = *theConfig;
    CGImageRetain(lgBackup.theOriginalImage);
    CGImageRetain(lgBackup.theRendered);

    static const EventTypeSpec commands[] = {{kEventClassCommand, kEventCommandProcess}};
    do {
        lgItemHit = -1;
        lgTheWindow = OpenNibWindowFromCFBundle(cMyBundleID, cMyPluginName,
                                                DialogWindowName(theConfig->mediaType));
        EventHandlerRef handler = nullptr;
        InstallEventHandler(GetWindowEventTarget(lgTheWindow), TheDialogHandler, 1, commands,
                            lgTheWindow, &handler);
        SetupDialog(lgTheWindow, theConfig);
        ShowWindow(lgTheWindow);
        SetPortWindowPort(lgTheWindow);
        BringToFront(lgTheWindow);
        RunAppModalLoopForWindow(lgTheWindow);
        DisposeWindow(lgTheWindow);
        gConfigWorkSpace.theWindow = nullptr;
        gConfigWorkSpace.theFrameCtrl = nullptr;
        gConfigWorkSpace.clipSlider = nullptr;
        for (int n = 0; n < cNumSliders; ++n) {
            gConfigWorkSpace.sliders[n] = nullptr;
        }
        for (int n = 0; n < cNumColors; ++n) {
            gConfigWorkSpace.colors[n] = nullptr;
        }
    } while (lgItemHit != 1 && lgItemHit != 2);

    if (lgItemHit == 1) {
        (void)SaveConfig(theConfig);
        // The pictures the dialog replaced die with the backup's references.
        CGImageRelease(lgBackup.theOriginalImage);
        CGImageRelease(lgBackup.theRendered);
    } else {
        // The pictures chosen during the dialog go; the backup's references come back.
        CGImageRelease(theConfig->theOriginalImage);
        CGImageRelease(theConfig->theRendered);
        *theConfig = lgBackup;
    }
    lgBackup = pluginDataRec{};
}

void SetupDialog(WindowRef theWindow, pluginDataRec* theConfig) {
    Assert(theWindow, "Nil Window in SetupDialog");
    Assert(theConfig, "Nil theConfig in SetupDialog");
    gConfigWorkSpace.theWindow = theWindow;
    gConfigWorkSpace.theFrameCtrl = SimpleGetControlByID(theWindow, FOUR_CHAR_CODE("Clip"), 1);
    Assert(gConfigWorkSpace.theFrameCtrl, "Cannot acces Clip 1 CTRL");
    SetupColors(theWindow, theConfig);
    SetupSliders(theWindow);
    SimpleHideControl(theWindow, FOUR_CHAR_CODE("Rect"), 1);
    SimpleHideControl(theWindow, FOUR_CHAR_CODE("Rect"), 2);
    SimpleSetControlValueByID(theWindow, FOUR_CHAR_CODE("Medi"), 1, theConfig->mediaType);
    // A window rebuilt for another format shows the picture the record still uses.
    SetPictureControlImage(SimpleGetControlByID(theWindow, FOUR_CHAR_CODE("Pict"), 1),
                           theConfig->theOriginalImage);
    Config2Dlg(gConfigWorkSpace.theConfig);
    CalcAndKeepImageProps();
    ReRenderAndBlit();
}

void SetupColors(WindowRef theWindow, pluginDataRec* theConfig) {
    for (SInt16 n = 1; n <= cNumColors; ++n) {
        ControlRef box = SimpleGetControlByID(theWindow, kColr, n);
        Assert(box, "Cannot allocate color" + std::to_string(n) + " in SetupDialog");
        SetControl32BitMinimum(box, 0);
        SetControl32BitMaximum(box, 16777215);
        SetControl32BitValue(box, RGBColor2LongInt(theConfig->colors[n - 1]));
        HideControl(box);
        SimpleHideControl(theWindow, kCLgd, n);
        gConfigWorkSpace.colors[n - 1] = box;
    }
}

void Config2Dlg(pluginDataRec* theConfig) {
    Assert(theConfig, "Nil theConfig in Config2Dlg");
    WindowRef w = gConfigWorkSpace.theWindow;
    for (int n = 0; n < cNumColors; ++n) {
        if (gConfigWorkSpace.colors[n] != nullptr) {
            SetControl32BitValue(gConfigWorkSpace.colors[n],
                                 RGBColor2LongInt(theConfig->colors[n]));
        }
    }
    for (SInt16 n = 1; n <= cNumSliders; ++n) {
        if (gConfigWorkSpace.sliders[n - 1] != nullptr) {
            SetControl32BitValue(gConfigWorkSpace.sliders[n - 1], theConfig->sliders[n - 1]);
        }
        Str255 text;
        Num2Text(theConfig->sliders[n - 1], text);
        AppendStr255(text, "%");
        SimpleSetControlText(w, kLgnd, n, text);
    }
    SimpleSetControlValueByID(w, FOUR_CHAR_CODE("Blnd"), 1, theConfig->blendMode);
    SimpleSetControlValueByID(w, FOUR_CHAR_CODE("Prop"), 1, theConfig->keepProps ? 1 : 0);
    ReRenderAndBlit();
}

OSStatus TheDialogHandler(EventHandlerCallRef, EventRef theEvent, void* userData) {
    HICommand command{};
    GetEventParameter(theEvent, kEventParamDirectObject, typeHICommand, nullptr, sizeof command,
                      nullptr, &command);
    Str255 codeText;
    CommandID2Str(command.commandID, codeText);
    const std::string_view code = Str255View(codeText);
    lgItemHit = -1;
    OSStatus result = noErr;
    WindowRef window = static_cast<WindowRef>(userData);
    pluginDataRec* config = gConfigWorkSpace.theConfig;
    Assert(config, "Nil theConfig in TheDialogHandler");

    if (code == "ok  ") {
        lgItemHit = 1;
        QuitAppModalLoopForWindow(window);
    } else if (code == "not!") {
        lgItemHit = 2;
        QuitAppModalLoopForWindow(window);
    } else if (code == "Info") {
        ShowAbout();
    } else if (code.size() == 4 && code.substr(0, 3) == "Col" && code[3] >= '1' && code[3] <= '6') {
        const SInt16 n = SInt16(code[3] - '0');
        config->colors[n - 1] =
            LongInt2RGBColor(SimpleGetControlValueByID(gConfigWorkSpace.theWindow, kColr, n));
        ReRenderAndBlit();
    } else if (code == "Adva") {
        StepFrame(+1);
    } else if (code == "Revi") {
        StepFrame(-1);
    } else if (code == "Rset") {
        const SInt16 media = config->mediaType;
        ResetConfig(config, false);
        config->mediaType = media;
        Config2Dlg(config);
        ReRenderAndBlit();
    } else if (code == "Medi") {
        const SInt16 old = config->mediaType;
        config->mediaType = SInt16(
            SimpleGetControlValueByID(gConfigWorkSpace.theWindow, FOUR_CHAR_CODE("Medi"), 1));
        if (config->mediaType != old) {
            lgItemHit = 0;
            QuitAppModalLoopForWindow(window);
        }
    } else if (code == "Sall") {
        relRect whole;
        InitRelRect(whole);
        PutCurrentRel(whole);
        ReRenderAndBlit();
    } else if (code == "Help") {
        OpenManual();
    } else if (code == "Rect") {
        gConfigWorkSpace.activeRel = SInt16(
            SimpleGetControlValueByID(gConfigWorkSpace.theWindow, FOUR_CHAR_CODE("Rect"), 1));
        CalcAndKeepImageProps();
        ReRenderAndBlit();
    } else if (code == "Prop") {
        config->keepProps =
            SimpleGetControlValueByID(gConfigWorkSpace.theWindow, FOUR_CHAR_CODE("Prop"), 1) == 1;
        CalcAndKeepImageProps();
        ReRenderAndBlit();
    } else if (code == "Pict") {
        ChoosePicture(config);
    } else if (code == "Blnd") {
        config->blendMode = SInt16(
            SimpleGetControlValueByID(gConfigWorkSpace.theWindow, FOUR_CHAR_CODE("Blnd"), 1));
        ReRenderAndBlit();
    } else {
        result = eventNotHandledErr;
    }
    return result;
}
