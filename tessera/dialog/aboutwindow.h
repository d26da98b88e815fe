// aboutwindow.h - the about window: the effect's name and version, app-modal.
//
// Owns: the window while it is open (made from the nib "about" each time, disposed of when
// it closes). Promises: ShowAbout returns once either button has been pressed (or Escape),
// with the current port and device as they were; other commands leave the window open.
#pragma once

#include "HIToolbox.h"

void ShowAbout();
OSStatus AboutDialogHandler(EventHandlerCallRef inHandlerCallRef, EventRef inEvent,
                            void* inUserData);
