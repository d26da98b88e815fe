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
#include "controlIDs.h"
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

void StepFrame(int direction) {
    ControlRef clip = gConfigWorkSpace.clipSlider;
    if (clip == nullptr) {
        return;
    }
    SInt32 v = GetControl32BitValue(clip);
    if (direction > 0 ? gConfigWorkSpace.maxFrameIndex > v : v > 0) {
        v += direction;
        // Kept as the shown frame, so a window rebuilt for another format names the frame
        // its preview still shows.
        gConfigWorkSpace.currFrameIndex = v;
        SetControl32BitValue(clip, v);
        AccessRenderAndBlit(v);
        ShowFrameNumber(v);
    }
}

void OpenManual() {
    const toolbox::cf::CFRef<CFStringRef> ident(toolbox::cf::makeString(cMyBundleID));
    CFBundleRef bundle = CFBundleGetBundleWithIdentifier(ident.get());
    if (bundle == nullptr) {
        Notify("Cannot Locate Bundle. Proceed with caution. Crash imminent");
        return;
    }
    const toolbox::cf::CFRef<CFURLRef> url(
        CFBundleCopyResourceURL(bundle, CFSTR("manual"), CFSTR("pdf"), nullptr));
    if (url == nullptr) {
        Notify("Cannot locate manual in bundle");
        return;
    }
    FSRef ref;
    if (CFURLGetFSRef(url.get(), &ref)) {
        const OSStatus s = LSOpenFSRef(&ref, nullptr);
        if (s != noErr) {
            Str255 num;
            Num2Text(s, num);
            Notify("LSOpen failed with " + std::string(Str255View(num)));
        }
    }
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
    SetPictureControlImage(SimpleGetControlByID(gConfigWorkSpace.theWindow, cSigPicture, 1),
                           config->theOriginalImage);
    CalcAndKeepImageProps();
    ReRenderAndBlit();
}

// One region: the chooser stays out of sight and the region edited is always the start one.
// Two: the chooser shows which one the preview edits, as GetCurrentRel reads activeRel
// (anything but 1 is the end region), and the title names this effect rather than the
// nib's "Tessera".
void SetupRegionChooser(WindowRef theWindow) {
    if (cUsedNumberOfRects < 2) {
        SimpleHideControl(theWindow, cSigRegion, 1);
        SimpleHideControl(theWindow, cSigRegion, 2);
        SimpleHideControl(theWindow, cSigRegionBox, 1);
        return;
    }
    SimpleShowControl(theWindow, cSigRegionBox, 1);
    SimpleShowControl(theWindow, cSigRegion, 1);
    SimpleShowControl(theWindow, cSigRegion, 2);
    SimpleSetControlValueByID(theWindow, cSigRegion, gConfigWorkSpace.activeRel == 1 ? 1 : 2, 1);

    CFStringRef copied = nullptr;
    const OSStatus got = CopyWindowTitleAsCFString(theWindow, &copied);
    const toolbox::cf::CFRef<CFStringRef> title(copied);
    char buf[256] = {};
    if (got != noErr || title == nullptr ||
        !CFStringGetCString(title.get(), buf, sizeof buf, kCFStringEncodingUTF8)) {
        return;
    }
    const std::string old(buf);
    const std::string nibName = "Tessera";
    if (old.compare(0, nibName.size(), nibName) == 0) {
        const toolbox::cf::CFRef<CFStringRef> named(
            toolbox::cf::makeString(cMyClearName + old.substr(nibName.size())));
        SetWindowTitleWithCFString(theWindow, named.get());
    }
}

// ---- the dialog's commands ----------------------------------------------------------------

SInt32 ControlValue(OSType signature) {
    return SimpleGetControlValueByID(gConfigWorkSpace.theWindow, signature, 1);
}

void LeaveWith(SInt16 itemHit, WindowRef window) {
    lgItemHit = itemHit;
    QuitAppModalLoopForWindow(window);
}

void DoOK(UInt32, pluginDataRec*, WindowRef window) {
    LeaveWith(1, window);
}

void DoCancel(UInt32, pluginDataRec*, WindowRef window) {
    LeaveWith(2, window);
}

void DoAbout(UInt32, pluginDataRec*, WindowRef) {
    ShowAbout();
}

void DoColor(UInt32 command, pluginDataRec* config, WindowRef) {
    const SInt16 n = SInt16(command - cCmdColor1 + 1); // "Col1" to "Col6"
    config->colors[n - 1] =
        LongInt2RGBColor(SimpleGetControlValueByID(gConfigWorkSpace.theWindow, cSigColor, n));
    ReRenderAndBlit();
}

void DoAdvance(UInt32, pluginDataRec*, WindowRef) {
    StepFrame(+1);
}

void DoReverse(UInt32, pluginDataRec*, WindowRef) {
    StepFrame(-1);
}

void DoReset(UInt32, pluginDataRec* config, WindowRef) {
    const SInt16 media = config->mediaType;
    ResetConfig(config, false);
    config->mediaType = media;
    Config2Dlg(config);
    ReRenderAndBlit();
}

// Another format rebuilds the window: the modal run ends with 0 and DoConfig opens it anew.
void DoMedia(UInt32, pluginDataRec* config, WindowRef window) {
    const SInt16 old = config->mediaType;
    config->mediaType = SInt16(ControlValue(cSigMedia));
    if (config->mediaType != old) {
        LeaveWith(0, window);
    }
}

void DoSelectAll(UInt32, pluginDataRec*, WindowRef) {
    relRect whole;
    InitRelRect(whole);
    PutCurrentRel(whole);
    ReRenderAndBlit();
}

void DoHelp(UInt32, pluginDataRec*, WindowRef) {
    OpenManual();
}

// "Rect" 1 is the Start button: unchecked means End is, and the workspace then names the
// end region as 2, never as the button's 0.
void DoRegion(UInt32, pluginDataRec*, WindowRef) {
    gConfigWorkSpace.activeRel = ControlValue(cSigRegion) == 1 ? 1 : 2;
    CalcAndKeepImageProps();
    ReRenderAndBlit();
}

void DoKeepProps(UInt32, pluginDataRec* config, WindowRef) {
    config->keepProps = ControlValue(cSigKeepProps) == 1;
    CalcAndKeepImageProps();
    ReRenderAndBlit();
}

void DoPicture(UInt32, pluginDataRec* config, WindowRef) {
    ChoosePicture(config);
}

void DoBlend(UInt32, pluginDataRec* config, WindowRef) {
    config->blendMode = SInt16(ControlValue(cSigBlend));
    ReRenderAndBlit();
}

// The dialog's commands; any other goes on to the platform's handling.
struct DialogCommand {
    UInt32 command;
    void (*handler)(UInt32 command, pluginDataRec* config, WindowRef window);
};
constexpr DialogCommand kDialogCommands[] = {
    {cCmdOK, DoOK},
    {cCmdCancel, DoCancel},
    {cCmdAbout, DoAbout},
    {cCmdColor1, DoColor},
    {cCmdColor1 + 1, DoColor},
    {cCmdColor1 + 2, DoColor},
    {cCmdColor1 + 3, DoColor},
    {cCmdColor1 + 4, DoColor},
    {cCmdColor1 + 5, DoColor},
    {cCmdAdvance, DoAdvance},
    {cCmdReverse, DoReverse},
    {cCmdReset, DoReset},
    {cCmdMedia, DoMedia},
    {cCmdSelectAll, DoSelectAll},
    {cCmdHelp, DoHelp},
    {cCmdRegion, DoRegion},
    {cCmdKeepProps, DoKeepProps},
    {cCmdPicture, DoPicture},
    {cCmdBlend, DoBlend},
};

} // namespace

const char* DialogWindowName(SInt16 mediaType) {
    return GetFrameFormat(mediaType).windowName;
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

    // Each window of the loop becomes the current port, and dies with it.
    const GWorldSaver keepPort;
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
    gConfigWorkSpace.theFrameCtrl = SimpleGetControlByID(theWindow, cSigPreview, 1);
    Assert(gConfigWorkSpace.theFrameCtrl, "Cannot acces Clip 1 CTRL");
    SetupColors(theWindow, theConfig);
    SetupSliders(theWindow);
    SetupRegionChooser(theWindow);
    // The pop-up names the window that is open: a type without a window of its own opens
    // the first format's window and reads that format, not the pop-up's nearest item.
    SimpleSetControlValueByID(theWindow, cSigMedia, 1,
                              GetFrameFormat(theConfig->mediaType).mediaType);
    // A window rebuilt for another format shows the picture the record still uses.
    SetPictureControlImage(SimpleGetControlByID(theWindow, cSigPicture, 1),
                           theConfig->theOriginalImage);
    Config2Dlg(gConfigWorkSpace.theConfig);
    CalcAndKeepImageProps();
    ReRenderAndBlit();
}

void SetupColors(WindowRef theWindow, pluginDataRec* theConfig) {
    for (SInt16 n = 1; n <= cNumColors; ++n) {
        ControlRef box = SimpleGetControlByID(theWindow, cSigColor, n);
        Assert(box, "Cannot allocate color" + std::to_string(n) + " in SetupDialog");
        SetControl32BitMinimum(box, 0);
        SetControl32BitMaximum(box, 16777215);
        SetControl32BitValue(box, RGBColor2LongInt(theConfig->colors[n - 1]));
        HideControl(box);
        SimpleHideControl(theWindow, cSigColorLegend, n);
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
        SimpleSetControlText(w, cSigLegend, n, text);
    }
    SimpleSetControlValueByID(w, cSigBlend, 1, theConfig->blendMode);
    SimpleSetControlValueByID(w, cSigKeepProps, 1, theConfig->keepProps ? 1 : 0);
    ReRenderAndBlit();
}

OSStatus TheDialogHandler(EventHandlerCallRef, EventRef theEvent, void* userData) {
    HICommand command{};
    GetEventParameter(theEvent, kEventParamDirectObject, typeHICommand, nullptr, sizeof command,
                      nullptr, &command);
    lgItemHit = -1;
    pluginDataRec* config = gConfigWorkSpace.theConfig;
    Assert(config, "Nil theConfig in TheDialogHandler");
    for (const DialogCommand& entry : kDialogCommands) {
        if (entry.command == command.commandID) {
            entry.handler(command.commandID, config, static_cast<WindowRef>(userData));
            return noErr;
        }
    }
    return eventNotHandledErr;
}
