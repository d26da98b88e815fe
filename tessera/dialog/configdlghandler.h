// configdlghandler.h - the configuration dialog: its entry ConfigurePlugIn (which the
// bundle's executable hands to the host glue's custom button), the modal window and its
// command table. The dialog includes no host code: the frame fetch it steps the clip with
// is the workspace's getFrameIntoGW, set by whoever opens it.
//
// Owns: the dialog's state for one DoConfig call (the window, how its last modal run
// ended, the backup of the record taken when the dialog opened) and the preview buffer
// theFXClip while ConfigurePlugIn runs. Promises:
// - DoConfig returns only after OK (the edited record is kept and saved) or Cancel (the
//   record is exactly as it was, every field). A change of frame format rebuilds the window
//   for the new format with every edit kept; choosing the same format rebuilds nothing.
// - Pictures: the backup holds its own reference to the pictures of the record as it was.
//   Whichever set is dropped at the end (the old pictures after OK, the ones chosen during
//   the dialog after Cancel) is released, so a restored record names live pictures and no
//   picture made during a cancelled dialog outlives it.
// - With two regions the Start / End chooser ("Rect" 1 and 2) is shown with the region being
//   edited checked, and the window's title names the effect; choosing End makes activeRel 2.
//   With one region the chooser stays hidden and the window is the nib's as it is.
// - TheDialogHandler reports noErr for the dialog's own commands and eventNotHandledErr for
//   any other, so that the platform's handling goes on.
#pragma once

#include "HIToolbox.h"
#include "MacTypes.h"
#include "PluginDefines.h"

struct _PluginParams;

void ConfigurePlugIn(pluginDataRec* theData, GWorldPtr theGW, _PluginParams* params,
                     SInt32 firstFrameIndex, SInt32 numberOfFrames);
void DoConfig(pluginDataRec* theConfig);
void SetupDialog(WindowRef theWindow, pluginDataRec* theConfig);
void SetupColors(WindowRef theWindow, pluginDataRec* theConfig);
void Config2Dlg(pluginDataRec* theConfig);
OSStatus TheDialogHandler(EventHandlerCallRef nextHandler, EventRef theEvent, void* userData);

// The nib window that shows a record of this frame format ("configNTSC" for unknown ones).
const char* DialogWindowName(SInt16 mediaType);
// How the last modal run ended: 1 OK, 2 Cancel, 0 format changed, -1 another command.
SInt16 DialogItemHit();
