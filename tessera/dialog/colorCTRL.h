// colorCTRL.h - the colour box control, class "com.kelmar.vidkit.color".
//
// Owns: the class registration and its handler. The box's value is its colour packed as
// 00RRGGBB; a click asks the colour picker and, if a colour is chosen, makes it the value,
// then lets the platform send the box's command either way. Promises: a disabled or
// inactive box is drawn as erased background; the current port is restored after drawing.
#pragma once

#include "HIToolbox.h"

constexpr const char* cColorBoxID = "com.kelmar.vidkit.color";

void RegisterColorBox();
void UnregisterColorBox();
OSStatus ColorBoxControlHandler(EventHandlerCallRef inHandlerCallRef, EventRef inEvent,
                                void* inUserData);
void ColorBoxDraw(const Rect& theRect, const RGBColor& theColor);
Boolean UseColorPicker(Point where, ConstStr255Param prompt, const RGBColor& inColor,
                       RGBColor& outColor);
