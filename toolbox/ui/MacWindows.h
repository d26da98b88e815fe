// MacWindows.h - nib references and the windows made from them.
//
// Owns: every nib reference and window made here, each window's port (a GWorld the size of
// the window's content, which its custom controls draw into and which the window shows).
// Promises:
// - A nib is the directory "<name>.nib" among a bundle's resources; a window is the Qt
//   Designer file "<window>.ui" inside it, read when the window is made (see HIToolbox.h
//   for the properties that make its widgets controls).
// - Failures are the Interface Builder runtime's codes: kIBCarbonRuntimeCantFindNibFile for
//   a missing nib, kIBCarbonRuntimeCantFindObject for a window the nib does not hold,
//   kIBCarbonRuntimeObjectNotOfRequestedType for a file Qt cannot read as a window, and
//   noUserInteractionAllowed when there is no display to show windows on. Nothing is half
//   made: on failure *outWindow is nil.
// - A window is created hidden. Its port has bounds (0, 0, height, width) in window
//   coordinates: the top-left of the window's content is (0, 0).
// - DisposeWindow frees the window, its controls, their handlers and its port at once. If it
//   is called while the window is handling one of its own events, the window is hidden at
//   once and freed when that event is done; any modal loop it runs is ended.
// - None of these calls changes the current port, except SetPortWindowPort.
#pragma once

#include "CarbonEvents.h"
#include "CoreFoundation.h"
#include "MacTypes.h"
#include "QuickDraw.h"

struct OpaqueIBNibRef;
using IBNibRef = OpaqueIBNibRef*;

enum : OSStatus {
    kIBCarbonRuntimeCantFindNibFile = -10960,
    kIBCarbonRuntimeObjectNotOfRequestedType = -10961,
    kIBCarbonRuntimeCantFindObject = -10962,
};

// inBundle nil or inNibName nil: paramErr.
OSStatus CreateNibReferenceWithCFBundle(CFBundleRef inBundle, CFStringRef inNibName,
                                        IBNibRef* outNibRef);
void DisposeNibReference(IBNibRef inNibRef); // nil is harmless; windows made from it stay
OSStatus CreateWindowFromNib(IBNibRef inNibRef, CFStringRef inName, WindowRef* outWindow);

void ShowWindow(WindowRef window);
void HideWindow(WindowRef window);
Boolean IsWindowVisible(WindowRef window);
void BringToFront(WindowRef window);
void SelectWindow(WindowRef window);  // brings it to the front and activates it
void DisposeWindow(WindowRef window); // nil is harmless

CGrafPtr GetWindowPort(WindowRef window);
WindowRef GetWindowFromPort(CGrafPtr port); // nil for a port that is no window's
void SetPortWindowPort(WindowRef window);   // makes the window's port the current port
EventTargetRef GetWindowEventTarget(WindowRef window);

// The window's content rectangle in its own coordinates: (0, 0, height, width).
Rect* GetWindowPortBounds(WindowRef window, Rect* bounds);
OSStatus SetWindowTitleWithCFString(WindowRef inWindow, CFStringRef inString);
// The title, for the caller to release.
OSStatus CopyWindowTitleAsCFString(WindowRef inWindow, CFStringRef* outString);

// Shows what has been drawn into the port on the screen now (region nil: the whole port).
OSStatus QDFlushPortBuffer(CGrafPtr port, RgnHandle region);
