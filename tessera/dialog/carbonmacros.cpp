// carbonmacros.cpp - nib windows and control access by ID; see carbonmacros.h.
#include "carbonmacros.h"

#include "commonprocs.h"

#include <cstdlib>
#include <cstring>
#include <string>

WindowRef OpenNibWindowFromCFBundle(const char* theIdentifier, const char* theNib,
                                    const char* theWindow) {
    using toolbox::cf::CFRef;
    const std::string ident = theIdentifier != nullptr ? theIdentifier : "";
    const CFRef<CFStringRef> identStr(toolbox::cf::makeString(ident));
    Assert(identStr.get(), "Cannot allocate CFSTR for " + ident);
    CFBundleRef bundle = CFBundleGetBundleWithIdentifier(identStr.get());
    Assert(bundle, "Cannot allocate bundle for ID = " + ident);
    CFRetain(bundle);
    const CFRef<CFBundleRef> heldBundle(bundle); // the retain above, until the window is made

    const std::string nibName = (theNib == nullptr || *theNib == 0) ? "tessera" : theNib;
    IBNibRef nib = nullptr;
    const OSStatus err = CreateNibReferenceWithCFBundle(
        bundle, CFRef<CFStringRef>(toolbox::cf::makeString(nibName)).get(), &nib);
    if (err != noErr) {
        Str255 num;
        Num2Text(err, num);
        Terminate("OpenNibWindow Failed",
                  "Unable to CreateNibReferenceWithCFBundle for \"" + ident + "/" + nibName +
                      "\" as it returned errcode #" + std::string(Str255View(num)) + ".");
    }
    WindowRef window = nullptr;
    const CFRef<CFStringRef> windowStr(
        toolbox::cf::makeString(theWindow != nullptr ? theWindow : ""));
    const OSStatus werr = CreateWindowFromNib(nib, windowStr.get(), &window);
    DisposeNibReference(nib);
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
    const toolbox::cf::CFRef<CFStringRef> theID(toolbox::cf::makeString(classID));
    RegisterToolboxObjectClass(theID.get(), nullptr, eventCount, events, *outHandler, nullptr,
                               outClass);
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

OSStatus AnswerControlHitTest(EventRef theEvent, ControlRef theControl, ControlPartFinder partAt) {
    Point mouse{0, 0};
    GetEventParameter(theEvent, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof mouse,
                      nullptr, &mouse);
    Rect bounds;
    GetControlBounds(theControl, &bounds);
    ControlPartCode part = PtInRect(mouse, &bounds) ? partAt(mouse, bounds) : 0;
    SetEventParameter(theEvent, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
    return noErr;
}

OSStatus AnswerWholeControlHitTest(EventRef theEvent, ControlRef theControl) {
    return AnswerControlHitTest(theEvent, theControl,
                                [](Point, const Rect&) { return ControlPartCode(1); });
}
