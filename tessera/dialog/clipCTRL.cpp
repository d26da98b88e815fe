// clipCTRL.cpp - the preview control; see clipCTRL.h.
#include "clipCTRL.h"

#include "DataHandling.h"
#include "Globals.h"
#include "callpixelfx.h"
#include "carbonmacros.h"
#include "dlgUtils.h"
#include "relrects.h"

namespace {

ToolboxObjectClassRef lgClipClass = nullptr;
EventHandlerUPP lgClipHandler = nullptr;

OSStatus TrackRegion(ControlRef control, EventRef inEvent) {
    Point mouse{0, 0};
    UInt32 modifiers = 0;
    GetEventParameter(inEvent, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof mouse,
                      nullptr, &mouse);
    GetEventParameter(inEvent, kEventParamKeyModifiers, typeUInt32, nullptr, sizeof modifiers,
                      nullptr, &modifiers);
    Rect bounds;
    GetControlBounds(control, &bounds);
    ClipRect(&bounds);

    const relRect origRel = GetCurrentRel();
    const Rect origRect = Rel2Rect(origRel, bounds);
    Rect testRect = origRect;
    const SInt16 part = IsHandleHit(testRect, mouse);
    if (part == kClipNoPart) {
        return noErr;
    }
    WindowRef window = GetControlOwner(control);
    MouseTrackingResult state = kMouseTrackingMouseDown;
    Point newLoc = mouse;
    while (state != kMouseTrackingMouseUp) {
        if (TrackMouseLocation(nullptr, &newLoc, &state) != noErr) {
            break;
        }
        if (state != kMouseTrackingMouseDragged || !PtInRect(newLoc, &bounds)) {
            continue;
        }
        if (part == kClipInside) {
            DragRect(testRect, mouse, newLoc, modifiers);
            mouse = newLoc;
        } else {
            // Always from the rectangle and mouse of the mouse-down: no error accumulates.
            testRect = origRect;
            DragCorner(part, testRect, mouse, newLoc, modifiers, bounds, origRel);
        }
        PutCurrentRel(Rect2Rel(testRect, bounds));
        CallPixelEffect(gConfigWorkSpace.sourceClip, gConfigWorkSpace.theFXClip);
        DrawFrameContents(window, bounds);
        QDFlushPortBuffer(GetWindowPort(window), nullptr);
    }
    return noErr;
}

} // namespace

OSStatus ClipCtrlControlHandler(EventHandlerCallRef, EventRef inEvent, void*) {
    ControlRef control = nullptr;
    GetEventParameter(inEvent, kEventParamDirectObject, typeControlRef, nullptr, sizeof control,
                      nullptr, &control);
    if (control == nullptr) {
        return eventNotHandledErr;
    }
    WindowRef window = GetControlOwner(control);
    OSStatus result = noErr;
    const GWorldSaver keepPort;
    switch (GetEventKind(inEvent)) {
    case kEventControlHitTest: {
        Point mouse{0, 0};
        GetEventParameter(inEvent, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof mouse,
                          nullptr, &mouse);
        Rect bounds;
        GetControlBounds(control, &bounds);
        ControlPartCode part = 0;
        if (PtInRect(mouse, &bounds)) {
            part = IsHandleHit(Rel2Rect(GetCurrentRel(), bounds), mouse);
        }
        SetEventParameter(inEvent, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
        break;
    }
    case kEventControlDraw:
    case kEventControlActivate:
    case kEventControlOwningWindowChanged: {
        SetPortWindowPort(window);
        Rect bounds;
        GetControlBounds(control, &bounds);
        const UInt16 hilite = GetControlHilite(control);
        if (hilite != kControlDisabledPart && hilite != kControlInactivePart) {
            DrawFrameContents(window, bounds);
        }
        break;
    }
    case kEventControlHit:
        break;
    case kEventControlTrack:
        SetPortWindowPort(window);
        result = TrackRegion(control, inEvent);
        break;
    default:
        result = eventNotHandledErr;
        break;
    }
    if (window != nullptr && result == noErr) {
        SetPortWindowPort(window);
        Rect portRect;
        GetWindowPortBounds(window, &portRect);
        ClipRect(&portRect);
    }
    return result;
}

void RegisterClipCtrl() {
    static const EventTypeSpec events[] = {{kEventClassControl, kEventControlDraw},
                                           {kEventClassControl, kEventControlHitTest},
                                           {kEventClassControl, kEventControlHit},
                                           {kEventClassControl, kEventControlActivate},
                                           {kEventClassControl, kEventControlOwningWindowChanged},
                                           {kEventClassControl, kEventControlTrack}};
    InstallControlClass(cClipCtrlID, events, sizeof events / sizeof events[0],
                        ClipCtrlControlHandler, &lgClipClass, &lgClipHandler);
}

void UnregisterClipCtrl() {
    RemoveControlClass(&lgClipClass, &lgClipHandler);
}
