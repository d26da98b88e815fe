// aboutwindow.cpp - the about window; see aboutwindow.h.
#include "aboutwindow.h"

#include "PluginDefines.h"
#include "carbonmacros.h"
#include "commonprocs.h"
#include "controlIDs.h"

#include <string>

namespace {

WindowRef lgAboutWindow = nullptr;

} // namespace

OSStatus AboutDialogHandler(EventHandlerCallRef, EventRef inEvent, void* inUserData) {
    HICommand command{};
    if (GetEventParameter(inEvent, kEventParamDirectObject, typeHICommand, nullptr, sizeof command,
                          nullptr, &command) != noErr) {
        return eventNotHandledErr;
    }
    if (command.commandID == cCmdOK || command.commandID == cCmdCancel) {
        QuitAppModalLoopForWindow(static_cast<WindowRef>(inUserData));
        return noErr;
    }
    return eventNotHandledErr;
}

void ShowAbout() {
    const GWorldSaver keepPort;
    lgAboutWindow = OpenNibWindowFromCFBundle(cMyBundleID, "about", "about");
    if (lgAboutWindow == nullptr) {
        return;
    }
    static const EventTypeSpec commands[] = {{kEventClassCommand, kEventCommandProcess}};
    EventHandlerRef handler = nullptr;
    InstallEventHandler(GetWindowEventTarget(lgAboutWindow), AboutDialogHandler, 1, commands,
                        lgAboutWindow, &handler);
    Str255 text;
    CStr2Str255(cMyClearName, text);
    SimpleSetControlText(lgAboutWindow, cSigPlugName, 1, text);
    CStr2Str255(AboutVersionLine(), text);
    SimpleSetControlText(lgAboutWindow, cSigVersion, 1, text);
    ShowWindow(lgAboutWindow);
    BringToFront(lgAboutWindow);
    RunAppModalLoopForWindow(lgAboutWindow);
    DisposeWindow(lgAboutWindow);
    lgAboutWindow = nullptr;
}
