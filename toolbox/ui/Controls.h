// Controls.h - the controls of nib windows and the custom control classes.
//
// Owns: the registry of custom control classes (class id -> handler), and each control's
// state that its Qt widget does not hold (ID, command, custom value and range, hilite,
// action routine, reference).
// Promises:
// - Controls are found by signature and number (GetControlByID); a window's controls live
//   and die with it.
// - Values are 32-bit. Sliders, scroll bars, dials, spin boxes and progress bars keep their
//   Qt range; a pop-up menu's value is its item (1 = the first, 0 = none) with the range
//   1..count; a check box or radio button is 0 or 1 (2 = mixed); a custom control keeps any
//   value its range allows (by default the whole 32-bit range). Values are pinned to the
//   range. Setting a value, a minimum or a maximum from code never calls the action routine
//   and always redraws the control.
// - User actions: dragging a slider calls its action routine at every change while the
//   mouse is down (live tracking), with kControlIndicatorPart; a click on a push button,
//   a check box or a pop-up menu item sends kEventControlHit to the control and, if that is
//   not handled, the control's command (kEventCommandProcess, kHICommandFromControl) to the
//   control, then its window, then the application. A slider sends its command, if it has
//   one, when the mouse is released.
// - Custom controls: a click runs hit test -> track -> hit. The hit test gives the part (0:
//   nothing happens). An unhandled track is done here (the part is hilited while the mouse
//   is over it, and the part under the mouse-up counts). A non-zero part then gets a hit
//   event; a hit left unhandled sends the control's command. Draw events are sent whenever
//   Qt repaints the control and by Draw1Control, with the window's port current, and the
//   port's pixels under the control are what the screen shows.
// - GetControlBounds is in window coordinates (its port's).
#pragma once

#include "CarbonEvents.h"
#include "CoreFoundation.h"
#include "MacTypes.h"
#include "QuickDraw.h"

struct OpaqueToolboxObjectClassRef;
using ToolboxObjectClassRef = OpaqueToolboxObjectClassRef*;

using ControlPartCode = SInt16;
using SRefCon = void*;
using ControlActionProcPtr = void (*)(ControlRef theControl, ControlPartCode partCode);
using ControlActionUPP = ControlActionProcPtr;

struct ControlID {
    OSType signature;
    SInt32 id;
};

enum : ControlPartCode {
    kControlNoPart = 0,
    kControlIndicatorPart = 129,
    kControlButtonPart = 10,
    kControlCheckBoxPart = 11,
    kControlMenuPart = 2,
    kControlEntireControl = 0,
    kControlDisabledPart = 254,
    kControlInactivePart = 255,
};

// SetControlData / GetControlData tags.
enum : ResType {
    kControlStaticTextTextTag = FOUR_CHAR_CODE("text"),     // Mac Roman bytes, no length byte
    kControlStaticTextCFStringTag = FOUR_CHAR_CODE("cfst"), // a CFStringRef
    kControlEditTextTextTag = FOUR_CHAR_CODE("text"),
    kControlEditTextCFStringTag = FOUR_CHAR_CODE("cfst"),
};

enum : OSStatus {
    errUnknownControl = -30584,
    errDataNotSupported = -30583,
    errInvalidPartCode = -30588,
    controlPropertyNotFoundErr = -5603,
    hiObjectClassExistsErr = -22080,
    hiObjectClassHasInstancesErr = -22081,
    hiObjectClassNotFoundErr = -22085, // not classic: the class id names no registered class
};

// ---- finding controls -------------------------------------------------------------------

// errUnknownControl (and *outControl nil) when the window has no such control.
OSStatus GetControlByID(WindowRef inWindow, const ControlID* inID, ControlRef* outControl);
OSStatus GetControlID(ControlRef inControl, ControlID* outID);
WindowRef GetControlOwner(ControlRef inControl);
EventTargetRef GetControlEventTarget(ControlRef inControl);
OSStatus GetControlCommandID(ControlRef inControl, UInt32* outCommandID);
OSStatus SetControlCommandID(ControlRef inControl, UInt32 inCommandID);

// ---- values -----------------------------------------------------------------------------

SInt32 GetControl32BitValue(ControlRef theControl);
void SetControl32BitValue(ControlRef theControl, SInt32 newValue);
SInt32 GetControl32BitMinimum(ControlRef theControl);
void SetControl32BitMinimum(ControlRef theControl, SInt32 newMinimum);
SInt32 GetControl32BitMaximum(ControlRef theControl);
void SetControl32BitMaximum(ControlRef theControl, SInt32 newMaximum);
SInt16 GetControlValue(ControlRef theControl); // the 32-bit value pinned to 16 bits
void SetControlValue(ControlRef theControl, SInt16 newValue);

// A pointer-sized value of the caller's; the toolbox never looks at it.
SRefCon GetControlReference(ControlRef theControl);
void SetControlReference(ControlRef theControl, SRefCon data);

// Text of static and edit text controls (and push buttons, check boxes, group boxes: their
// title): kControlStaticTextTextTag takes Mac Roman bytes, kControlStaticTextCFStringTag
// a CFStringRef. errDataNotSupported for other controls or tags.
OSStatus SetControlData(ControlRef inControl, ControlPartCode inPart, ResType inTagName,
                        Size inSize, const void* inData);
// For the text tag: outMaxSize/outActualSize bytes of Mac Roman; for the CFString tag a new
// string the caller releases.
OSStatus GetControlData(ControlRef inControl, ControlPartCode inPart, ResType inTagName,
                        Size inBufferSize, void* inBuffer, Size* outActualSize);

// ---- appearance -------------------------------------------------------------------------

void Draw1Control(ControlRef theControl); // draws now; a hidden control is not drawn
void ShowControl(ControlRef inControl);
void HideControl(ControlRef inControl);
Boolean IsControlVisible(ControlRef inControl); // shown in its own right (not its window)
Rect* GetControlBounds(ControlRef control, Rect* bounds);
void SetControlBounds(ControlRef control, const Rect* bounds);
// 0 = normal, 1..253 = that part is pressed, 254 = disabled, 255 = inactive.
void HiliteControl(ControlRef theControl, ControlPartCode hiliteState);
UInt16 GetControlHilite(ControlRef inControl);
OSStatus EnableControl(ControlRef inControl);
OSStatus DisableControl(ControlRef inControl);
Boolean IsControlEnabled(ControlRef inControl);
OSStatus ActivateControl(ControlRef inControl);
OSStatus DeactivateControl(ControlRef inControl);
Boolean IsControlActive(ControlRef inControl);

// ---- live tracking ----------------------------------------------------------------------

void SetControlAction(ControlRef theControl, ControlActionUPP actionProc);
ControlActionUPP GetControlAction(ControlRef theControl);
ControlActionUPP NewControlActionUPP(ControlActionProcPtr userRoutine);
void DisposeControlActionUPP(ControlActionUPP userUPP);

// ---- custom control classes -------------------------------------------------------------

// Registers the handler for the class id (what a control's controlClass property names);
// inBaseClass must be nil. The handler is installed on every control of the class made
// afterwards, with inUserData. hiObjectClassExistsErr if the id is taken.
OSStatus RegisterToolboxObjectClass(CFStringRef inClassID, ToolboxObjectClassRef inBaseClass,
                                    ItemCount inNumEvents, const EventTypeSpec* inEventList,
                                    EventHandlerUPP inEventHandler, void* inEventHandlerData,
                                    ToolboxObjectClassRef* outClassRef);
// hiObjectClassHasInstancesErr while controls of the class still exist.
OSStatus UnregisterToolboxObjectClass(ToolboxObjectClassRef inClassRef);
