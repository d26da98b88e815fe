// colorCTRL.cpp - the colour box control; see colorCTRL.h.
#include "colorCTRL.h"

#include "carbonmacros.h"
#include "commonprocs.h"

#include <cstring>

namespace {

ToolboxObjectClassRef lgColorClass = nullptr;
EventHandlerUPP lgColorHandler = nullptr;

RGBColor Unpack(SInt32 v) {
    return RGBColor{UInt16(((v >> 16) & 0xFF) * 256), UInt16(((v >> 8) & 0xFF) * 256),
                    UInt16((v & 0xFF) * 256)};
}

SInt32 Pack(const RGBColor& c) {
    return SInt32((UInt32(c.red >> 8) << 16) | (UInt32(c.green >> 8) << 8) | UInt32(c.blue >> 8));
}

} // namespace

void ColorBoxDraw(const Rect& theRect, const RGBColor& theColor) {
    static const RGBColor black{0, 0, 0};
    RGBForeColor(&theColor);
    PaintRect(&theRect);
    RGBForeColor(&black);
    FrameRect(&theRect);
}

Boolean UseColorPicker(Point where, ConstStr255Param prompt, const RGBColor& inColor,
                       RGBColor& outColor) {
    NColorPickerInfo info;
    std::memset(&info, 0, sizeof info);
    info.theColor.profile = nullptr;
    info.theColor.color.rgb = CMRGBColor{inColor.red, inColor.green, inColor.blue};
    info.dstProfile = nullptr;
    info.flags = kColorPickerDialogIsMoveable | kColorPickerDialogIsModal |
                 kColorPickerAppIsColorSyncAware | kColorPickerInPickerDialog;
    info.placeWhere = kAtSpecifiedOrigin;
    info.dialogOrigin = where;
    std::memcpy(info.prompt, prompt, size_t(prompt[0]) + 1);
    info.newColorChosen = false;
    if (NPickColor(&info) != noErr || !info.newColorChosen) {
        return false;
    }
    outColor = RGBColor{info.theColor.color.rgb.red, info.theColor.color.rgb.green,
                        info.theColor.color.rgb.blue};
    return true;
}

OSStatus ColorBoxControlHandler(EventHandlerCallRef, EventRef inEvent, void*) {
    ControlRef control = nullptr;
    GetEventParameter(inEvent, kEventParamDirectObject, typeControlRef, nullptr, sizeof control,
                      nullptr, &control);
    if (control == nullptr) {
        return eventNotHandledErr;
    }
    switch (GetEventKind(inEvent)) {
    case kEventControlHitTest:
        return AnswerWholeControlHitTest(inEvent, control);
    case kEventControlDraw: {
        const GWorldSaver keepPort;
        SetPortWindowPort(GetControlOwner(control));
        Rect bounds;
        GetControlBounds(control, &bounds);
        const UInt16 hilite = GetControlHilite(control);
        if (hilite == kControlInactivePart || hilite == kControlDisabledPart) {
            EraseRect(&bounds);
        } else {
            ColorBoxDraw(bounds, Unpack(GetControl32BitValue(control)));
        }
        return noErr;
    }
    case kEventControlHit: {
        RGBColor c = Unpack(GetControl32BitValue(control));
        Str255 prompt;
        CStr2Str255("Please choose color:", prompt);
        if (UseColorPicker(Point{0, 0}, prompt, c, c)) {
            SetControl32BitValue(control, Pack(c));
        }
        // Unhandled, picked or not: the platform goes on and sends the box's command.
        return eventNotHandledErr;
    }
    default:
        return eventNotHandledErr;
    }
}

void RegisterColorBox() {
    static const EventTypeSpec events[] = {{kEventClassControl, kEventControlDraw},
                                           {kEventClassControl, kEventControlHitTest},
                                           {kEventClassControl, kEventControlHit}};
    InstallControlClass(cColorBoxID, events, sizeof events / sizeof events[0],
                        ColorBoxControlHandler, &lgColorClass, &lgColorHandler);
}

void UnregisterColorBox() {
    RemoveControlClass(&lgColorClass, &lgColorHandler);
}
