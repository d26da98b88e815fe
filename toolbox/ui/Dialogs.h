// Dialogs.h - standard alerts and the end of the process.
//
// Owns: the alerts made by CreateStandardAlert until RunStandardAlert has run them.
// Promises:
// - An alert shows its message text (bold) and its informative text, with an icon by type
//   (stop, note, caution, none) and up to three buttons: default, cancel and other (and a
//   help button if asked). Without a parameter record it has one "OK" button. An alert
//   always has a default button: a record whose defaultText is nil gets "OK".
// - RunStandardAlert runs it modally and reports the item of the button pressed
//   (kAlertStdAlertOKButton for the default one, kAlertStdAlertCancelButton, ...), then
//   disposes of the alert. Return presses the default button, Escape the cancel button.
// - Without a display, the alert is written to standard error, the default button counts as
//   pressed and RunStandardAlert returns noUserInteractionAllowed: nothing crashes and
//   nothing is left waiting for a user who is not there.
// - The scripted-user seam (ToolboxUITesting.h) can answer alerts instead of a user.
// - ExitToShell ends the process at once with a failure status (it is only ever reached
//   when the plug-in has given up), after flushing standard output and standard error.
#pragma once

#include "CarbonEvents.h"
#include "CoreFoundation.h"
#include "MacTypes.h"

struct OpaqueDialogPtr;
using DialogRef = OpaqueDialogPtr*;
using DialogPtr = DialogRef;
using DialogItemIndex = SInt16;
using AlertType = SInt16;
using ModalFilterProcPtr = Boolean (*)(DialogRef theDialog, void* theEvent,
                                       DialogItemIndex* itemHit);
using ModalFilterUPP = ModalFilterProcPtr;

enum : AlertType {
    kAlertStopAlert = 0,
    kAlertNoteAlert = 1,
    kAlertCautionAlert = 2,
    kAlertPlainAlert = 3,
};

enum : DialogItemIndex {
    kAlertStdAlertOKButton = 1,
    kAlertStdAlertCancelButton = 2,
    kAlertStdAlertOtherButton = 3,
    kAlertStdAlertHelpButton = 4,
};

enum : UInt32 {
    kStdCFStringAlertVersionOne = 1,
};

enum : UInt16 {
    kWindowDefaultPosition = 0,
};

// Stand for the platform's own button texts ("OK", "Cancel", "Don't Save").
inline const CFStringRef kAlertDefaultOKText = reinterpret_cast<CFStringRef>(-1);
inline const CFStringRef kAlertDefaultCancelText = reinterpret_cast<CFStringRef>(-1);
inline const CFStringRef kAlertDefaultOtherText = reinterpret_cast<CFStringRef>(-1);

struct AlertStdCFStringAlertParamRec {
    UInt32 version;
    Boolean movable;
    Boolean helpButton;
    CFStringRef defaultText; // nil: "OK"
    CFStringRef cancelText;  // nil: no cancel button
    CFStringRef otherText;   // nil: no other button
    SInt16 defaultButton;
    SInt16 cancelButton;
    UInt16 position;
    OptionBits flags;
};
using AlertStdCFStringAlertParamPtr = AlertStdCFStringAlertParamRec*;

// Fills the record with the defaults: OK button only, movable, default button 1.
OSStatus GetStandardAlertDefaultParams(AlertStdCFStringAlertParamPtr param, UInt32 version);

// The texts are copied (the caller keeps its strings). error nil: an empty message.
OSStatus CreateStandardAlert(AlertType alertType, CFStringRef error, CFStringRef explanation,
                             const AlertStdCFStringAlertParamRec* param, DialogRef* outAlert);
// filterProc must be nil. outItemHit receives the button's item in every case.
OSStatus RunStandardAlert(DialogRef inAlert, ModalFilterUPP filterProc,
                          DialogItemIndex* outItemHit);

[[noreturn]] void ExitToShell();
