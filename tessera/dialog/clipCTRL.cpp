// clipCTRL.cpp - the preview control; see clipCTRL.h.
#include "clipCTRL.h"

#include "DataHandling.h"
#include "Globals.h"
#include "callpixelfx.h"
#include "carbonmacros.h"
#include "dlgUtils.h"
#include "relrects.h"

#include <algorithm>
#include <cmath>

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

// The relative rectangle that gives back exactly `r` in `frame`. Rect2Rel alone can land a
// hair below a pixel boundary that Rel2Rect then cuts down, which would swallow a one-pixel
// step (and keep swallowing it, each press starting from the same place).
relRect ExactRel(const Rect& r, const Rect& frame) {
    relRect rel = Rect2Rel(r, frame);
    for (int i = 0; i < 16; ++i) {
        const Rect back = Rel2Rect(rel, frame);
        if (EqualRect(&back, &r)) {
            break;
        }
        auto toward = [](double& v, SInt16 got, SInt16 want) {
            if (got != want) {
                v = std::nextafter(v, got < want ? 1e9 : -1e9);
            }
        };
        toward(rel.left, back.left, r.left);
        toward(rel.right, back.right, r.right);
        toward(rel.top, back.top, r.top);
        toward(rel.bottom, back.bottom, r.bottom);
    }
    return rel;
}

// The region from the keyboard, with the preview focused: the arrows move it by one pixel
// of the preview (Shift: ten); with Ctrl they move its bottom-right corner instead. Every
// step renders at once, as a drag step does, and like a drag it is undone by Cancel. A step
// that would take the region wholly off the preview is not taken.
OSStatus NudgeRegion(ControlRef control, EventRef inEvent) {
    char code = 0;
    UInt32 modifiers = 0;
    GetEventParameter(inEvent, kEventParamKeyMacCharCodes, typeChar, nullptr, sizeof code, nullptr,
                      &code);
    GetEventParameter(inEvent, kEventParamKeyModifiers, typeUInt32, nullptr, sizeof modifiers,
                      nullptr, &modifiers);
    const SInt16 step = (modifiers & shiftKey) != 0 ? 10 : 1;
    SInt16 dx = 0, dy = 0;
    switch (code) {
    case kLeftArrowCharCode:
        dx = SInt16(-step);
        break;
    case kRightArrowCharCode:
        dx = step;
        break;
    case kUpArrowCharCode:
        dy = SInt16(-step);
        break;
    case kDownArrowCharCode:
        dy = step;
        break;
    default:
        return eventNotHandledErr; // Return, Escape and the rest are the window's
    }
    Rect bounds;
    GetControlBounds(control, &bounds);
    Rect region = Rel2Rect(GetCurrentRel(), bounds);
    if ((modifiers & controlKey) != 0) {
        // The corner stops one pixel short of the fixed one: the region never turns over.
        region.right = SInt16(std::max<SInt32>(region.left + 1, SInt32(region.right) + dx));
        region.bottom = SInt16(std::max<SInt32>(region.top + 1, SInt32(region.bottom) + dy));
        KeepImageProps(region);
    } else {
        OffsetRect(&region, dx, dy);
    }
    Rect shown;
    if (!SectRect(&region, &bounds, &shown)) {
        return noErr;
    }
    PutCurrentRel(ExactRel(region, bounds));
    WindowRef window = GetControlOwner(control);
    ClipRect(&bounds);
    CallPixelEffect(gConfigWorkSpace.sourceClip, gConfigWorkSpace.theFXClip);
    DrawFrameContents(window, bounds);
    QDFlushPortBuffer(GetWindowPort(window), nullptr);
    return noErr;
}

// Within the control, the part under the mouse is the region's handle there, if any.
ControlPartCode RegionPartAt(Point mouse, const Rect& bounds) {
    return ControlPartCode(IsHandleHit(Rel2Rect(GetCurrentRel(), bounds), mouse));
}

// A disabled or inactive preview keeps what it showed.
void DrawClipControl(ControlRef control, WindowRef window) {
    SetPortWindowPort(window);
    Rect bounds;
    GetControlBounds(control, &bounds);
    const UInt16 hilite = GetControlHilite(control);
    if (hilite != kControlDisabledPart && hilite != kControlInactivePart) {
        DrawFrameContents(window, bounds);
    }
}

// Drawing and tracking clip to the control; the rest of the window draws unclipped again.
void ClipToWindowPort(WindowRef window) {
    Rect portRect;
    GetWindowPortBounds(window, &portRect);
    ClipRect(&portRect);
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
    if (GetEventClass(inEvent) == kEventClassKeyboard) {
        SetPortWindowPort(window);
        result = NudgeRegion(control, inEvent);
        if (result == noErr) {
            ClipToWindowPort(window);
        }
        return result;
    }
    switch (GetEventKind(inEvent)) {
    case kEventControlHitTest:
        result = AnswerControlHitTest(inEvent, control, RegionPartAt);
        break;
    case kEventControlDraw:
    case kEventControlActivate:
    case kEventControlOwningWindowChanged:
        DrawClipControl(control, window);
        break;
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
        ClipToWindowPort(window);
    }
    return result;
}

void RegisterClipCtrl() {
    static const EventTypeSpec events[] = {{kEventClassControl, kEventControlDraw},
                                           {kEventClassControl, kEventControlHitTest},
                                           {kEventClassControl, kEventControlHit},
                                           {kEventClassControl, kEventControlActivate},
                                           {kEventClassControl, kEventControlOwningWindowChanged},
                                           {kEventClassControl, kEventControlTrack},
                                           {kEventClassKeyboard, kEventRawKeyDown},
                                           {kEventClassKeyboard, kEventRawKeyRepeat}};
    InstallControlClass(cClipCtrlID, events, sizeof events / sizeof events[0],
                        ClipCtrlControlHandler, &lgClipClass, &lgClipHandler);
}

void UnregisterClipCtrl() {
    RemoveControlClass(&lgClipClass, &lgClipHandler);
}
