// CarbonEvents.h - events, event targets and handlers, commands, app-modal loops, mouse
// tracking and the keyboard modifiers.
//
// Owns: every event, handler and target made here; the application target; the state of
// the mouse-tracking session that a click on a custom control opens.
// Promises:
// - An event is a class, a kind and typed parameters. Parameters are copied in and out by
//   value; asking for a parameter with another type than it was set with fails with
//   errAECoercionFail (typeWildCard accepts any), a missing one with
//   eventParameterNotFoundErr, a buffer that is too small with errAEBufferTooSmall.
// - Handlers on a target are called most recently installed first; a handler's
//   eventNotHandledErr passes the event on to the next one, then to the target's standard
//   handling; command events that nobody handles go on from a control to its window and
//   from a window to the application target. CallNextEventHandler runs the rest of that
//   chain at once. Installing and removing handlers while an event is being dispatched is
//   safe: the dispatch in progress sees the handlers it started with, minus removed ones.
// - RunAppModalLoopForWindow runs a nested loop inside the caller's call and returns once
//   QuitAppModalLoopForWindow has been called for that window (from one of its handlers, or
//   from any code running inside the loop). Loops nest: each window has its own.
// - TrackMouseLocation blocks until the mouse moves or its button goes up, and reports
//   positions in the local coordinates of the port (a window's port: window coordinates).
//   Called when no button is down, it reports kMouseTrackingMouseUp at once.
// - Key modifiers: Option is Alt, Shift is Shift, Control is Control, Command is the Meta
//   (logo) key; they are the state of the input event being handled.
// Everything here runs on the main thread; the windowing calls need a display (or Qt's
// offscreen platform) and otherwise report noUserInteractionAllowed.
#pragma once

#include "CoreFoundation.h"
#include "MacTypes.h"
#include "QuickDraw.h"

struct OpaqueEventRef;
struct OpaqueEventHandlerRef;
struct OpaqueEventHandlerCallRef;
struct OpaqueEventTargetRef;
struct OpaqueWindowPtr;
struct OpaqueControlRef;
struct OpaqueMenuRef;
using EventRef = OpaqueEventRef*;
using EventHandlerRef = OpaqueEventHandlerRef*;
using EventHandlerCallRef = OpaqueEventHandlerCallRef*;
using EventTargetRef = OpaqueEventTargetRef*;
using WindowRef = OpaqueWindowPtr*;
using WindowPtr = WindowRef;
using ControlRef = OpaqueControlRef*;
using MenuRef = OpaqueMenuRef*;
using MenuItemIndex = UInt16;

using ItemCount = unsigned long;
using ByteCount = unsigned long;
using EventClass = UInt32;
using EventKind = UInt32;
using EventParamName = OSType;
using EventParamType = OSType;
using EventTime = double;
using EventAttributes = UInt32;
using DescType = FourCharCode;
using OptionBits = UInt32;

struct EventTypeSpec {
    EventClass eventClass;
    EventKind eventKind;
};

using EventHandlerProcPtr = OSStatus (*)(EventHandlerCallRef inHandlerCallRef, EventRef inEvent,
                                         void* inUserData);
using EventHandlerUPP = EventHandlerProcPtr;

// ---- classes, kinds, parameters ---------------------------------------------------------

enum : EventClass {
    kEventClassMouse = FOUR_CHAR_CODE("mous"),
    kEventClassKeyboard = FOUR_CHAR_CODE("keyb"),
    kEventClassApplication = FOUR_CHAR_CODE("appl"),
    kEventClassCommand = FOUR_CHAR_CODE("cmds"),
    kEventClassWindow = FOUR_CHAR_CODE("wind"),
    kEventClassControl = FOUR_CHAR_CODE("cntl"),
};

enum : EventKind {
    kEventCommandProcess = 1,
    kEventCommandUpdateStatus = 2,
};

enum : EventKind {
    kEventControlHit = 1,
    kEventControlHitTest = 3,
    kEventControlDraw = 4,
    kEventControlActivate = 9,
    kEventControlDeactivate = 10,
    kEventControlTrack = 51,
    kEventControlValueFieldChanged = 151,
    kEventControlOwningWindowChanged = 159,
};

// Keyboard events go to the control that has the keyboard focus, with the key's character
// code (kEventParamKeyMacCharCodes, typeChar of Navigation.h: kLeftArrowCharCode...) and the
// modifiers.
enum : EventKind {
    kEventRawKeyDown = 1,
    kEventRawKeyRepeat = 2,
};

enum : char {
    kReturnCharCode = 0x0D,
    kEscapeCharCode = 0x1B,
    kLeftArrowCharCode = 0x1C,
    kRightArrowCharCode = 0x1D,
    kUpArrowCharCode = 0x1E,
    kDownArrowCharCode = 0x1F,
};

enum : EventKind {
    kEventWindowActivated = 5,
    kEventWindowDeactivated = 6,
    kEventWindowClose = 72,
};

enum : EventParamName {
    kEventParamDirectObject = FOUR_CHAR_CODE("----"),
    kEventParamMouseLocation = FOUR_CHAR_CODE("mloc"),
    kEventParamWindowMouseLocation = FOUR_CHAR_CODE("wmou"),
    kEventParamKeyModifiers = FOUR_CHAR_CODE("kmod"),
    kEventParamControlPart = FOUR_CHAR_CODE("cprt"),
    kEventParamAttributes = FOUR_CHAR_CODE("attr"),
    kEventParamControlOriginalOwningWindow = FOUR_CHAR_CODE("ctoo"),
    kEventParamControlCurrentOwningWindow = FOUR_CHAR_CODE("ctow"),
    kEventParamGrafPort = FOUR_CHAR_CODE("graf"),
    kEventParamKeyMacCharCodes = FOUR_CHAR_CODE("kchr"),
};

enum : EventParamType {
    typeWildCard = FOUR_CHAR_CODE("****"),
    typeHICommand = FOUR_CHAR_CODE("hcmd"),
    typeControlRef = FOUR_CHAR_CODE("ctrl"),
    typeWindowRef = FOUR_CHAR_CODE("wind"),
    typeQDPoint = FOUR_CHAR_CODE("QDpt"),
    typeUInt32 = FOUR_CHAR_CODE("magn"),
    typeSInt16 = FOUR_CHAR_CODE("shor"),
    typeControlPartCode = FOUR_CHAR_CODE("cprt"),
    typeGrafPtr = FOUR_CHAR_CODE("graf"),
};

enum : OSStatus {
    eventHandlerAlreadyInstalledErr = -9866,
    eventInternalErr = -9868,
    eventKindIncorrectErr = -9869,
    eventParameterNotFoundErr = -9870,
    eventLoopTimedOutErr = -9875,
    errAECoercionFail = -1700,
    errAEBufferTooSmall = -1741,
    // No display and no offscreen platform: nothing can be shown or asked.
    noUserInteractionAllowed = -610,
    errInvalidWindowRef = -5600,
    errWindowNotModal = -5609,
};

// ---- commands ---------------------------------------------------------------------------

enum : UInt32 {
    kHICommandFromMenu = 1u << 0,
    kHICommandFromControl = 1u << 1,
    kHICommandFromWindow = 1u << 2,
};

enum : UInt32 {
    kHICommandOK = FOUR_CHAR_CODE("ok  "),
    kHICommandCancel = FOUR_CHAR_CODE("not!"),
    kHICommandQuit = FOUR_CHAR_CODE("quit"),
};

struct HICommand {
    UInt32 attributes;
    UInt32 commandID;
    struct {
        MenuRef menuRef;
        MenuItemIndex menuItemIndex;
    } menu;
};

// The same record seen with its source: the control or window that sent the command.
struct HICommandExtended {
    UInt32 attributes;
    UInt32 commandID;
    union {
        ControlRef control;
        WindowRef window;
        struct {
            MenuRef menuRef;
            MenuItemIndex menuItemIndex;
        } menu;
    } source;
};
static_assert(sizeof(HICommand) == sizeof(HICommandExtended), "one record, two views");

// ---- key modifiers ----------------------------------------------------------------------

enum : UInt32 {
    cmdKey = 0x0100,
    shiftKey = 0x0200,
    alphaLock = 0x0400,
    optionKey = 0x0800,
    controlKey = 0x1000,
};

// ---- mouse tracking ---------------------------------------------------------------------

using MouseTrackingResult = UInt16;
enum : MouseTrackingResult {
    kMouseTrackingMouseDown = 1,
    kMouseTrackingMouseUp = 2,
    kMouseTrackingMouseExited = 3,
    kMouseTrackingMouseEntered = 4,
    kMouseTrackingMouseDragged = 5,
    kMouseTrackingKeyModifiersChanged = 6,
    kMouseTrackingUserCancelled = 7,
    kMouseTrackingTimedOut = 8,
    kMouseTrackingMouseMoved = 9,
};

// ---- events -----------------------------------------------------------------------------

EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr userRoutine);
void DisposeEventHandlerUPP(EventHandlerUPP userUPP);

// inAllocator must be nil (the default allocator); when and attributes are kept.
OSStatus CreateEvent(CFAllocatorRef inAllocator, EventClass inClassID, EventKind kind,
                     EventTime when, EventAttributes flags, EventRef* outEvent);
EventRef RetainEvent(EventRef inEvent);
void ReleaseEvent(EventRef inEvent); // frees it with its last reference; nil is harmless
EventClass GetEventClass(EventRef inEvent);
EventKind GetEventKind(EventRef inEvent);

OSStatus SetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inType,
                           ByteCount inSize, const void* inDataPtr);
// outActualType, outActualSize and ioBuffer may be nil (to ask for the size only).
OSStatus GetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inDesiredType,
                           EventParamType* outActualType, ByteCount inBufferSize,
                           ByteCount* outActualSize, void* ioBuffer);

// ---- targets and handlers ---------------------------------------------------------------

EventTargetRef GetApplicationEventTarget();

OSStatus InstallEventHandler(EventTargetRef inTarget, EventHandlerUPP inHandler,
                             ItemCount inNumTypes, const EventTypeSpec* inList, void* inUserData,
                             EventHandlerRef* outRef);
OSStatus RemoveEventHandler(EventHandlerRef inHandlerRef);
OSStatus CallNextEventHandler(EventHandlerCallRef inCallRef, EventRef inEvent);

// Sends the event through the target's chain now; the first result other than
// eventNotHandledErr comes back (eventNotHandledErr if nobody handled it).
OSStatus SendEventToEventTarget(EventRef inEvent, EventTargetRef inTarget);

// Sends a kEventCommandProcess with this command to the frontmost modal window (the
// innermost running app-modal loop), else to the application target.
OSStatus ProcessHICommand(const HICommand* inCommand);

// ---- modal loops ------------------------------------------------------------------------

OSStatus RunAppModalLoopForWindow(WindowRef inWindow);
// errWindowNotModal when the window runs no modal loop.
OSStatus QuitAppModalLoopForWindow(WindowRef inWindow);

// ---- mouse and keyboard state -----------------------------------------------------------

UInt32 GetCurrentEventKeyModifiers();
UInt32 GetCurrentKeyModifiers();

// inPort nil means the current port. outPt and outResult must not be nil.
OSStatus TrackMouseLocation(GrafPtr inPort, Point* outPt, MouseTrackingResult* outResult);
// The same with a timeout in seconds (kEventDurationForever = -1: none); a timeout reports
// kMouseTrackingTimedOut with the last position.
OSStatus TrackMouseLocationWithOptions(GrafPtr inPort, OptionBits inOptions, EventTime inTimeout,
                                       Point* outPt, UInt32* outModifiers,
                                       MouseTrackingResult* outResult);
inline constexpr EventTime kEventDurationForever = -1.0;
