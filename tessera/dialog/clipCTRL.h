// clipCTRL.h - the dialog's preview control, class "com.kelmar.vidkit.clip".
//
// Owns: the class registration (from RegisterClipCtrl to UnregisterClipCtrl) and the event
// handler that draws the rendered frame with the region, hit-tests the handles and the
// region, and runs a drag: every accepted step stores the region in the record, renders the
// frame and draws the preview at once. Promises: the control keeps no state of its own;
// drag reports outside the control are ignored; the current port is the same after every
// event as before it.
#pragma once

#include "HIToolbox.h"

constexpr const char* cClipCtrlID = "com.kelmar.vidkit.clip";

void RegisterClipCtrl();
void UnregisterClipCtrl();
OSStatus ClipCtrlControlHandler(EventHandlerCallRef inHandlerCallRef, EventRef inEvent,
                                void* inUserData);
