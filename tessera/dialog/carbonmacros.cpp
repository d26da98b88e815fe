// carbonmacros.cpp - nib windows and control access by ID; see carbonmacros.h.
#include "carbonmacros.h"

#include "commonprocs.h"

#include <cstdlib>
#include <cstring>
#include <string>

WindowRef OpenNibWindowFromCFBundle(const char* theIdentifier, const char* theNib,
                                    const char* theWindow) {
    const std::string ident = theIdentifier != nullptr ? theIdentifier : "";
    CFStringRef identStr = toolbox::cf::makeString(ident);
    Assert(identStr, "Cannot allocate CFSTR for " + ident);
    CFBundleRef bundle = CFBundleGetBundleWithIdentifier(identStr);
    CFRelease(identStr);
    Assert(bundle, "Cannot allocate bundle for ID = " + ident);
    CFRetain(bundle);

    const std::string nibName = (theNib == nullptr || *theNib == 0) ? "tessera" : theNib;
    CFStringRef nibStr = toolbox::cf::makeString(nibName);
    IBNibRef nib = nullptr;
    const OSStatus err = CreateNibReferenceWithCFBundle(bundle, nibStr, &nib);
    CFRelease(nibStr);
    if (err != noErr) {
        Str255 num;
        Num2Text(err, num);
        Terminate("OpenNibWindow Failed",
                  "Unable to CreateNibReferenceWithCFBundle for \"" + ident + "/" + nibName +
                      "\" as it returned errcode #" + std::string(Str255View(num)) + ".");
    }
    WindowRef window = nullptr;
    CFStringRef windowStr = toolbox::cf::makeString(theWindow != nullptr ? theWindow : "");
    const OSStatus werr = CreateWindowFromNib(nib, windowStr, &window);
    CFRelease(windowStr);
    DisposeNibReference(nib);
    CFRelease(bundle);
    if (werr != noErr || window == nullptr) {
        std::exit(int(werr & 0xFF));
    }
    return window;
}

ControlRef SimpleGetControlByID(WindowRef theWindow, OSType theSig, SInt16 theID) {
    if (theWindow == nullptr) {
        return nullptr;
    }
    const ControlID cid{theSig, theID};
    ControlRef control = nullptr;
    if (GetControlByID(theWindow, &cid, &control) != noErr) {
        return nullptr;
    }
    return control;
}

Rect GetControlBox(ControlRef theControl) {
    Rect r{0, 0, 0, 0};
    if (theControl != nullptr) {
        GetControlBounds(theControl, &r);
    }
    return r;
}

void SimpleSetControlText(WindowRef theWindow, OSType theSig, SInt16 theID,
                          ConstStr255Param theText) {
    ControlRef control = SimpleGetControlByID(theWindow, theSig, theID);
    if (control == nullptr) {
        return;
    }
    SetControlData(control, kControlEntireControl, kControlStaticTextTextTag, theText[0],
                   theText + 1);
    Draw1Control(control);
}

void SimpleShowControl(WindowRef theWindow, OSType theSig, SInt16 theID) {
    if (ControlRef control = SimpleGetControlByID(theWindow, theSig, theID)) {
        ShowControl(control);
    }
}

void SimpleHideControl(WindowRef theWindow, OSType theSig, SInt16 theID) {
    if (ControlRef control = SimpleGetControlByID(theWindow, theSig, theID)) {
        HideControl(control);
    }
}

SInt32 SimpleGetControlValueByID(WindowRef theWindow, OSType theSig, SInt16 theID) {
    ControlRef control = SimpleGetControlByID(theWindow, theSig, theID);
    return control != nullptr ? GetControl32BitValue(control) : 0;
}

void SimpleSetControlValueByID(WindowRef theWindow, OSType theSig, SInt16 theID, SInt32 theVal) {
    if (ControlRef control = SimpleGetControlByID(theWindow, theSig, theID)) {
        SetControl32BitValue(control, theVal);
    }
}

void InstallControlClass(const char* classID, const EventTypeSpec* events, UInt32 eventCount,
                         EventHandlerProcPtr handler, ToolboxObjectClassRef* outClass,
                         EventHandlerUPP* outHandler) {
    *outHandler = NewEventHandlerUPP(handler);
    CFStringRef theID = toolbox::cf::makeString(classID);
    RegisterToolboxObjectClass(theID, nullptr, eventCount, events, *outHandler, nullptr, outClass);
    CFRelease(theID);
}

void RemoveControlClass(ToolboxObjectClassRef* theClass, EventHandlerUPP* theHandler) {
    if (*theClass != nullptr) {
        UnregisterToolboxObjectClass(*theClass);
        *theClass = nullptr;
    }
    if (*theHandler != nullptr) {
        DisposeEventHandlerUPP(*theHandler);
        *theHandler = nullptr;
    }
}

OSStatus AnswerWholeControlHitTest(EventRef theEvent, ControlRef theControl) {
    Point mouse{0, 0};
    GetEventParameter(theEvent, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof mouse,
                      nullptr, &mouse);
    Rect bounds;
    GetControlBounds(theControl, &bounds);
    ControlPartCode part = PtInRect(mouse, &bounds) ? 1 : 0;
    SetEventParameter(theEvent, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
    return noErr;
}
