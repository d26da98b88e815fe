// commonprocs.cpp - failure reporting and small conversions (see commonprocs.h).
//
// Every alert goes through the toolbox's alert presenter, the one place that decides how
// alerts reach the user (the standard alerts when the windowing toolbox is loaded, standard
// error otherwise). Fatal failures first go to the thread's own handler, if it has one.
#include "commonprocs.h"

#include "AlertPresenter.h"
#include "PluginDefines.h"
#include "TextUtils.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace {

thread_local FatalFailureHandler tlFatalFailureHandler = nullptr;

} // namespace

const char* AboutVersionLine() {
    static const std::string line = std::string("Version ") + cPlugVersion;
    return line.c_str();
}

// ---- Str255 helpers ---------------------------------------------------------------------

std::string_view Str255View(ConstStr255Param s) {
    if (s == nullptr) {
        return {};
    }
    return std::string_view(reinterpret_cast<const char*>(s + 1), s[0]);
}

void CStr2Str255(std::string_view text, Str255 dst) {
    const size_t n = std::min<size_t>(text.size(), 255);
    std::memcpy(dst + 1, text.data(), n);
    dst[0] = static_cast<unsigned char>(n);
}

void AppendStr255(Str255 dst, std::string_view text) {
    const size_t have = dst[0];
    const size_t n = std::min<size_t>(text.size(), 255 - have);
    std::memcpy(dst + 1 + have, text.data(), n);
    dst[0] = static_cast<unsigned char>(have + n);
}

// ---- failure reporting ------------------------------------------------------------------

FatalFailureHandler SetFatalFailureHandler(FatalFailureHandler handler) {
    const FatalFailureHandler previous = tlFatalFailureHandler;
    tlFatalFailureHandler = handler;
    return previous;
}

void Terminate(ConstStr255Param headline, ConstStr255Param description) {
    if (tlFatalFailureHandler != nullptr) {
        tlFatalFailureHandler(Str255View(headline), Str255View(description));
        // A handler that returns has not kept its promise: the failure stays fatal.
    }
    toolbox::PresentAlert(toolbox::AlertKind::stop, Str255View(headline), Str255View(description));
    // The process that hosts the plug-in ends here; nothing is saved first.
    std::_Exit(EXIT_FAILURE);
}

void Terminate(std::string_view headline, std::string_view description) {
    Str255 h, d;
    CStr2Str255(headline, h);
    CStr2Str255(description, d);
    Terminate(h, d);
}

void Assert(const void* thePtr, ConstStr255Param failLocation) {
    if (thePtr != nullptr) {
        return;
    }
    Str255 description;
    CStr2Str255("Assertion failed in: ", description);
    AppendStr255(description, Str255View(failLocation));
    Str255 headline;
    CStr2Str255("Assertion Failure", headline);
    Terminate(headline, description);
}

void Assert(const void* thePtr, std::string_view failLocation) {
    if (thePtr != nullptr) {
        return;
    }
    Str255 location;
    CStr2Str255(failLocation, location);
    Assert(thePtr, location);
}

SInt16 StandardWarning(ConstStr255Param headline, ConstStr255Param description,
                       ConstStr255Param okText, ConstStr255Param cancelText) {
    return toolbox::PresentAlert(toolbox::AlertKind::caution, Str255View(headline),
                                 Str255View(description), Str255View(okText),
                                 Str255View(cancelText));
}

void Notify(ConstStr255Param theMessage) {
    Str255 headline, ok, none;
    CStr2Str255("Internal Notification:", headline);
    CStr2Str255("ok", ok);
    none[0] = 0;
    (void)StandardWarning(headline, theMessage, ok, none);
}

void Notify(std::string_view theMessage) {
    Str255 message;
    CStr2Str255(theMessage, message);
    Notify(message);
}

// ---- conversions ------------------------------------------------------------------------

void Num2Text(SInt32 theNum, Str255 theText) {
    NumToString(theNum, theText);
}

CFStringRef MakeCFString(ConstStr255Param theText) {
    return CFStringCreateWithPascalString(kCFAllocatorDefault, theText, kCFStringEncodingMacRoman);
}

RGBColor SetRGBColor(UInt16 red, UInt16 green, UInt16 blue) {
    return RGBColor{red, green, blue};
}

SInt32 RGBColor2LongInt(RGBColor theColor) {
    pixRec p{};
    p.red = static_cast<UInt8>(theColor.red >> 8);
    p.green = static_cast<UInt8>(theColor.green >> 8);
    p.blue = static_cast<UInt8>(theColor.blue >> 8);
    return (SInt32(p.red) << 16) | (SInt32(p.green) << 8) | SInt32(p.blue);
}

RGBColor LongInt2RGBColor(SInt32 theColor) {
    const UInt32 packed = static_cast<UInt32>(theColor);
    RGBColor c;
    c.red = static_cast<UInt16>(((packed >> 16) & 0xFF) << 8);
    c.green = static_cast<UInt16>(((packed >> 8) & 0xFF) << 8);
    c.blue = static_cast<UInt16>((packed & 0xFF) << 8);
    return c;
}

void CommandID2Str(UInt32 theCommand, Str255 theText) {
    theText[0] = 4;
    theText[1] = static_cast<unsigned char>(theCommand >> 24);
    theText[2] = static_cast<unsigned char>(theCommand >> 16);
    theText[3] = static_cast<unsigned char>(theCommand >> 8);
    theText[4] = static_cast<unsigned char>(theCommand);
}

SInt16 SaturateToSInt16(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value <= double(std::numeric_limits<SInt16>::min())) {
        return std::numeric_limits<SInt16>::min();
    }
    if (value >= double(std::numeric_limits<SInt16>::max())) {
        return std::numeric_limits<SInt16>::max();
    }
    return static_cast<SInt16>(value); // cuts toward zero
}

SInt16 SaturateToSInt16(SInt64 value) {
    return static_cast<SInt16>(std::clamp<SInt64>(value, std::numeric_limits<SInt16>::min(),
                                                  std::numeric_limits<SInt16>::max()));
}
