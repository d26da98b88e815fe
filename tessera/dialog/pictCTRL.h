// pictCTRL.h - the picture box control, class "com.kelmar.vidkit.imageCTRL".
//
// Owns: the class registration and its handler, which draws the chosen picture scaled to
// fit and centred on a white ground inside a black frame, inverted while pressed. Promises:
// the box never owns its picture (the configuration record does). A picture is a pointer,
// which does not fit a control's 32-bit value on a 64-bit build: it is kept in the
// control's reference, and the value is only 1 (a picture) or 0 (none), so that setting it
// redraws the box. SetPictureControlImage / GetPictureControlImage are the only way in.
#pragma once

#include "CoreGraphics.h"
#include "HIToolbox.h"

constexpr const char* cImageCtrlID = "com.kelmar.vidkit.imageCTRL";

void RegisterPictureControl();
void UnregisterPictureControl();
OSStatus PictureControlHandler(EventHandlerCallRef inHandlerCallRef, EventRef inEvent,
                               void* inUserData);
void SetPictureControlImage(ControlRef theControl, CGImageRef theImage);
CGImageRef GetPictureControlImage(ControlRef theControl);
