// carbonmacros.h - opening the engine's windows from the bundle's nibs and one-line access
// to their controls by control ID (signature + number).
//
// Owns: nothing beyond each call. Promises: OpenNibWindowFromCFBundle never returns nil (a
// missing bundle or nib ends the process with an alert, a missing window ends it with the
// error's low byte as exit status); the window comes back hidden. The helpers do nothing
// (or give 0) for an ID the window does not have, so a caller can never touch a stray
// control.
#pragma once

#include "HIToolbox.h"
#include "MacTypes.h"

WindowRef OpenNibWindowFromCFBundle(const char* theIdentifier, const char* theNib,
                                    const char* theWindow);

ControlRef SimpleGetControlByID(WindowRef theWindow, OSType theSig, SInt16 theID);
Rect GetControlBox(ControlRef theControl);
void SimpleSetControlText(WindowRef theWindow, OSType theSig, SInt16 theID,
                          ConstStr255Param theText);
void SimpleShowControl(WindowRef theWindow, OSType theSig, SInt16 theID);
void SimpleHideControl(WindowRef theWindow, OSType theSig, SInt16 theID);
SInt32 SimpleGetControlValueByID(WindowRef theWindow, OSType theSig, SInt16 theID);
void SimpleSetControlValueByID(WindowRef theWindow, OSType theSig, SInt16 theID, SInt32 theVal);

// The dialog's custom control classes: one installs its class under `classID` with a handler
// for `events`, keeping the class and handler references in the caller's module variables;
// the other removes the class (if there is one) and always disposes of the handler reference.
void InstallControlClass(const char* classID, const EventTypeSpec* events, UInt32 eventCount,
                         EventHandlerProcPtr handler, ToolboxObjectClassRef* outClass,
                         EventHandlerUPP* outHandler);
void RemoveControlClass(ToolboxObjectClassRef* theClass, EventHandlerUPP* theHandler);

// The hit test of a control, answered in the event: 0 when the event's mouse location lies
// outside the control's bounds, else the part `partAt` finds there. Returns noErr.
using ControlPartFinder = ControlPartCode (*)(Point theMouse, const Rect& theBounds);
OSStatus AnswerControlHitTest(EventRef theEvent, ControlRef theControl, ControlPartFinder partAt);
// The same for a control that is one part: part 1 anywhere within its bounds.
OSStatus AnswerWholeControlHitTest(EventRef theEvent, ControlRef theControl);
