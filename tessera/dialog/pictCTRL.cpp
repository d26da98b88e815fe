// pictCTRL.cpp - the picture box control; see pictCTRL.h.
#include "pictCTRL.h"

#include "CGglue.h"
#include "carbonmacros.h"
#include "rectprocs.h"

namespace {

ToolboxObjectClassRef lgPictClass = nullptr;
EventHandlerUPP lgPictHandler = nullptr;

} // namespace

void SetPictureControlImage(ControlRef theControl, CGImageRef theImage) {
    if (theControl == nullptr) {
        return;
    }
    SetControlReference(theControl, theImage);
    // Going through 0 makes sure a new picture redraws even when the box already had one.
    SetControl32BitValue(theControl, 0);
    SetControl32BitValue(theControl, theImage != nullptr ? 1 : 0);
}

CGImageRef GetPictureControlImage(ControlRef theControl) {
    if (theControl == nullptr || GetControl32BitValue(theControl) == 0) {
        return nullptr;
    }
    return static_cast<CGImageRef>(GetControlReference(theControl));
}

OSStatus PictureControlHandler(EventHandlerCallRef, EventRef inEvent, void*) {
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
        WindowRef window = GetControlOwner(control);
        CGrafPtr port = GetWindowPort(window);
        if (port == nullptr) {
            return noErr;
        }
        const GWorldSaver keepPort;
        SetPortWindowPort(window);
        Rect bounds;
        GetControlBounds(control, &bounds);
        const UInt16 hilite = GetControlHilite(control);
        if (hilite != kControlInactivePart && hilite != kControlDisabledPart) {
            static const RGBColor white{65535, 65535, 65535};
            static const RGBColor black{0, 0, 0};
            RGBBackColor(&white);
            EraseRect(&bounds);
            if (CGImageRef image = GetPictureControlImage(control)) {
                Rect target = CalcProportionalImageForFrame(image, bounds);
                CenterRectInRect(target, bounds);
                DrawCGImageInQDRect(port, image, target, 0, false);
            }
            RGBForeColor(&black);
            FrameRect(&bounds);
            if (hilite > 0) {
                InvertRect(&bounds);
            }
        }
        return noErr;
    }
    case kEventControlHit:
    default:
        return eventNotHandledErr;
    }
}

void RegisterPictureControl() {
    static const EventTypeSpec events[] = {{kEventClassControl, kEventControlDraw},
                                           {kEventClassControl, kEventControlHitTest},
                                           {kEventClassControl, kEventControlHit}};
    InstallControlClass(cImageCtrlID, events, sizeof events / sizeof events[0],
                        PictureControlHandler, &lgPictClass, &lgPictHandler);
}

void UnregisterPictureControl() {
    RemoveControlClass(&lgPictClass, &lgPictHandler);
}
