// commonprocs.h - failure reporting and small conversions shared by every module.
//
// Owns: the fatal reports (`Assert`, `Terminate`), the non-fatal ones (`StandardWarning`,
// `Notify`), and the conversions of numbers, texts, colours and command codes.
// Promises: `Assert` returns only for a non-nil pointer; `Terminate` never returns: with the
// default handler it has shown both of its texts before the process ends, with a thread's
// own handler it leaves by that handler's exception. All texts are Str255: compositions
// longer than 255 characters are cut. Conversions never fail and keep no state.
//
// The alerts go to the toolbox's alert presenter (AlertPresenter.h): the standard alerts
// once the windowing toolbox is loaded, standard error otherwise. This module links no
// windowing code.
#pragma once

#include "CoreFoundation.h"
#include "MacTypes.h"

#include <string_view>

// The about window's version line for this build's processor. It lives here, outside the
// dialog, so that a build without the windowing toolbox has it too.
const char* AboutVersionLine();

// ---- failure reporting ------------------------------------------------------------------

// Fatal failures (Assert, Terminate) go to the calling thread's handler. The default shows
// the stop alert and ends the process; a front end that must survive installs its own,
// which must not return (it throws to its own boundary).
using FatalFailureHandler = void (*)(std::string_view headline, std::string_view description);
FatalFailureHandler
SetFatalFailureHandler(FatalFailureHandler handler); // returns the previous; thread-local

// Ends the process with "Assertion Failure" / "Assertion failed in: <failLocation>" when
// thePtr is nil.
void Assert(const void* thePtr, ConstStr255Param failLocation);
void Assert(const void* thePtr, std::string_view failLocation);

[[noreturn]] void Terminate(ConstStr255Param headline, ConstStr255Param description);
[[noreturn]] void Terminate(std::string_view headline, std::string_view description);

// 1 for the default button, 2 for the cancel button (offered only when cancelText is not
// empty).
SInt16 StandardWarning(ConstStr255Param headline, ConstStr255Param description,
                       ConstStr255Param okText, ConstStr255Param cancelText);

// A caution notice with the single button "ok"; work goes on afterwards.
void Notify(ConstStr255Param theMessage);
void Notify(std::string_view theMessage);

// ---- Str255 helpers ---------------------------------------------------------------------

// Sets dst to text, cut at 255 characters.
void CStr2Str255(std::string_view text, Str255 dst);
// Appends text to dst, cutting the result at 255 characters.
void AppendStr255(Str255 dst, std::string_view text);
std::string_view Str255View(ConstStr255Param s);

// ---- conversions ------------------------------------------------------------------------

void Num2Text(SInt32 theNum, Str255 theText);
CFStringRef MakeCFString(ConstStr255Param theText); // owned by the caller

RGBColor SetRGBColor(UInt16 red, UInt16 green, UInt16 blue);
SInt32 RGBColor2LongInt(RGBColor theColor); // 00RRGGBB from the high bytes
RGBColor LongInt2RGBColor(SInt32 theColor); // each byte times 256
void CommandID2Str(UInt32 theCommand, Str255 theText);

// Converts a computed pixel coordinate or size to the 16-bit range of the platform's
// rectangles: values beyond it become the nearest limit, NaN becomes 0. Values read from
// a damaged preferences file must not wrap around or reach undefined conversions.
SInt16 SaturateToSInt16(double value);
SInt16 SaturateToSInt16(SInt64 value);
