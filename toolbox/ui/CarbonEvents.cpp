// CarbonEvents.cpp - events, targets, handler chains, commands and app-modal loops (see
// CarbonEvents.h).
//
// A dispatch takes a snapshot of the target's handlers, so handlers may install and remove
// handlers (or dispose of the window, which is deferred while it is busy) while it runs.
#include "UIPrivate.h"

#include <QApplication>
#include <QEventLoop>
#include <QWidget>

#include <algorithm>
#include <cstring>

bool OpaqueEventHandlerRef::matches(EventClass c, EventKind k) const {
    if (removed) {
        return false;
    }
    return std::any_of(types.begin(), types.end(), [&](const EventTypeSpec& t) {
        return t.eventClass == c && t.eventKind == k;
    });
}

OpaqueEventTargetRef::~OpaqueEventTargetRef() {
    for (auto& h : handlers) {
        h->removed = true;
        h->target = nullptr;
    }
}

// The rest of a dispatch: where CallNextEventHandler goes on from.
struct OpaqueEventHandlerCallRef {
    OpaqueEventTargetRef* target;
    std::vector<std::shared_ptr<OpaqueEventHandlerRef>> snapshot; // most recent first
    std::size_t next;
};

namespace toolbox::ui {
namespace {

OpaqueEventTargetRef gApplicationTarget;

// Handlers that a client removed are kept as records until no dispatch can refer to them;
// the record of an installed handler is what the client holds as its EventHandlerRef.
std::vector<std::shared_ptr<OpaqueEventHandlerRef>> gHandlerRecords;

bool propagates(EventRef event) {
    return event->eventClass == kEventClassCommand;
}

OSStatus runFrom(OpaqueEventHandlerCallRef& call, EventRef event) {
    while (call.next < call.snapshot.size()) {
        auto handler = call.snapshot[call.next++];
        if (!handler->matches(event->eventClass, event->kind)) {
            continue;
        }
        OpaqueEventHandlerCallRef nested{call.target, call.snapshot, call.next};
        const OSStatus r = handler->proc(&nested, event, handler->userData);
        if (r != eventNotHandledErr) {
            return r;
        }
        // A handler that called CallNextEventHandler has already run the rest of the chain.
        if (nested.next > call.next) {
            return r;
        }
    }
    if (call.target != nullptr && call.target->standardHandler) {
        const OSStatus r = call.target->standardHandler(event);
        if (r != eventNotHandledErr) {
            return r;
        }
    }
    if (call.target != nullptr && call.target->parent != nullptr && propagates(event)) {
        return dispatch(call.target->parent, event);
    }
    return eventNotHandledErr;
}

} // namespace

OSStatus dispatch(OpaqueEventTargetRef* target, EventRef event) {
    if (target == nullptr || event == nullptr) {
        return paramErr;
    }
    OpaqueEventHandlerCallRef call{target, {}, 0};
    call.snapshot.assign(target->handlers.rbegin(), target->handlers.rend());
    return runFrom(call, event);
}

OSStatus sendCommand(OpaqueEventTargetRef* target, UInt32 commandID, UInt32 attributes,
                     ControlRef control, WindowRef window) {
    OwnedEvent event(kEventClassCommand, kEventCommandProcess);
    HICommandExtended cmd{};
    cmd.attributes = attributes;
    cmd.commandID = commandID;
    if (control != nullptr) {
        cmd.source.control = control;
    } else if (window != nullptr) {
        cmd.source.window = window;
    }
    event.set(kEventParamDirectObject, typeHICommand, cmd);
    event.set(kEventParamKeyModifiers, typeUInt32, currentModifiers());
    return dispatch(target, event.get());
}

OwnedEvent::OwnedEvent(EventClass eventClass, EventKind kind) : event(nullptr) {
    CreateEvent(nullptr, eventClass, kind, 0, 0, &event);
}

OwnedEvent makeControlEvent(EventKind kind, ControlRef control) {
    OwnedEvent event(kEventClassControl, kind);
    event.set(kEventParamDirectObject, typeControlRef, control);
    return event;
}

namespace {
std::vector<WindowRef> gModalWindows; // innermost last
}

WindowRef innermostModalWindow() {
    return gModalWindows.empty() ? nullptr : gModalWindows.back();
}

QWidget* openerWidget() {
    WindowRef modal = innermostModalWindow();
    if (isLiveWindow(modal) && modal->widget != nullptr && modal->widget->isVisible()) {
        return modal->widget;
    }
    return QApplication::activeWindow();
}

} // namespace toolbox::ui

using namespace toolbox::ui;

EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr userRoutine) {
    return userRoutine;
}

void DisposeEventHandlerUPP(EventHandlerUPP) {}

OSStatus CreateEvent(CFAllocatorRef inAllocator, EventClass inClassID, EventKind kind,
                     EventTime when, EventAttributes flags, EventRef* outEvent) {
    if (outEvent == nullptr || inAllocator != nullptr) {
        return paramErr;
    }
    auto* e = new OpaqueEventRef;
    e->eventClass = inClassID;
    e->kind = kind;
    e->when = when;
    e->attributes = flags;
    *outEvent = e;
    return noErr;
}

EventRef RetainEvent(EventRef inEvent) {
    if (inEvent != nullptr) {
        ++inEvent->refCount;
    }
    return inEvent;
}

void ReleaseEvent(EventRef inEvent) {
    if (inEvent != nullptr && --inEvent->refCount == 0) {
        delete inEvent;
    }
}

EventClass GetEventClass(EventRef inEvent) {
    return inEvent != nullptr ? inEvent->eventClass : 0;
}

EventKind GetEventKind(EventRef inEvent) {
    return inEvent != nullptr ? inEvent->kind : 0;
}

OSStatus SetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inType,
                           ByteCount inSize, const void* inDataPtr) {
    if (inEvent == nullptr || (inDataPtr == nullptr && inSize > 0)) {
        return paramErr;
    }
    auto& p = inEvent->params[inName];
    p.type = inType;
    const auto* bytes = static_cast<const unsigned char*>(inDataPtr);
    p.bytes.assign(bytes, bytes + inSize);
    return noErr;
}

OSStatus GetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inDesiredType,
                           EventParamType* outActualType, ByteCount inBufferSize,
                           ByteCount* outActualSize, void* ioBuffer) {
    if (inEvent == nullptr) {
        return paramErr;
    }
    auto it = inEvent->params.find(inName);
    if (it == inEvent->params.end()) {
        return eventParameterNotFoundErr;
    }
    const auto& p = it->second;
    if (inDesiredType != typeWildCard && inDesiredType != p.type) {
        return errAECoercionFail;
    }
    if (outActualType != nullptr) {
        *outActualType = p.type;
    }
    if (outActualSize != nullptr) {
        *outActualSize = p.bytes.size();
    }
    if (ioBuffer == nullptr) {
        return noErr;
    }
    if (inBufferSize < p.bytes.size()) {
        return errAEBufferTooSmall;
    }
    if (!p.bytes.empty()) {
        std::memcpy(ioBuffer, p.bytes.data(), p.bytes.size());
    }
    return noErr;
}

EventTargetRef GetApplicationEventTarget() {
    return &gApplicationTarget;
}

OSStatus InstallEventHandler(EventTargetRef inTarget, EventHandlerUPP inHandler,
                             ItemCount inNumTypes, const EventTypeSpec* inList, void* inUserData,
                             EventHandlerRef* outRef) {
    if (inTarget == nullptr || inHandler == nullptr || (inNumTypes > 0 && inList == nullptr)) {
        return paramErr;
    }
    auto h = std::make_shared<OpaqueEventHandlerRef>();
    h->target = inTarget;
    h->proc = inHandler;
    h->types.assign(inList, inList + inNumTypes);
    h->userData = inUserData;
    inTarget->handlers.push_back(h);
    // Forget records of handlers that are gone and that no dispatch holds any more.
    gHandlerRecords.erase(
        std::remove_if(gHandlerRecords.begin(), gHandlerRecords.end(),
                       [](const auto& r) { return r->removed && r.use_count() == 1; }),
        gHandlerRecords.end());
    gHandlerRecords.push_back(h);
    if (outRef != nullptr) {
        *outRef = h.get();
    }
    return noErr;
}

OSStatus RemoveEventHandler(EventHandlerRef inHandlerRef) {
    if (inHandlerRef == nullptr) {
        return paramErr;
    }
    auto it = std::find_if(gHandlerRecords.begin(), gHandlerRecords.end(),
                           [&](const auto& r) { return r.get() == inHandlerRef; });
    if (it == gHandlerRecords.end() || (*it)->removed) {
        return paramErr; // unknown, or already removed (with its window, for instance)
    }
    OpaqueEventHandlerRef* h = it->get();
    h->removed = true;
    if (h->target != nullptr) {
        auto& list = h->target->handlers;
        list.erase(
            std::remove_if(list.begin(), list.end(), [&](const auto& r) { return r.get() == h; }),
            list.end());
        h->target = nullptr;
    }
    return noErr;
}

OSStatus CallNextEventHandler(EventHandlerCallRef inCallRef, EventRef inEvent) {
    if (inCallRef == nullptr || inEvent == nullptr) {
        return paramErr;
    }
    OpaqueEventHandlerCallRef rest = *inCallRef;
    const OSStatus r = runFrom(rest, inEvent);
    inCallRef->next = inCallRef->snapshot.size() + 1; // the chain has been run
    return r;
}

OSStatus SendEventToEventTarget(EventRef inEvent, EventTargetRef inTarget) {
    return dispatch(inTarget, inEvent);
}

OSStatus ProcessHICommand(const HICommand* inCommand) {
    if (inCommand == nullptr) {
        return paramErr;
    }
    WindowRef w = innermostModalWindow();
    if (w != nullptr && isLiveWindow(w)) {
        WindowBusy busy(w);
        return sendCommand(&w->target, inCommand->commandID, inCommand->attributes, nullptr, w);
    }
    return sendCommand(&gApplicationTarget, inCommand->commandID, inCommand->attributes, nullptr,
                       nullptr);
}

OSStatus RunAppModalLoopForWindow(WindowRef inWindow) {
    if (inWindow == nullptr || !isLiveWindow(inWindow)) {
        return errInvalidWindowRef;
    }
    if (!ensureQt() || inWindow->widget == nullptr) {
        return noUserInteractionAllowed;
    }
    QWidget* widget = inWindow->widget;
    const Qt::WindowModality previous = widget->windowModality();
    if (previous != Qt::ApplicationModal) {
        // Qt applies a change of modality when the window is next shown.
        const bool visible = widget->isVisible();
        if (visible) {
            widget->hide();
        }
        widget->setWindowModality(Qt::ApplicationModal);
        if (visible) {
            widget->show();
        }
    }
    QEventLoop loop;
    inWindow->modalLoops.push_back(&loop);
    gModalWindows.push_back(inWindow);
    {
        WindowBusy busy(inWindow); // the window outlives its own loop
        loop.exec();
        gModalWindows.erase(std::find(gModalWindows.begin(), gModalWindows.end(), inWindow));
        inWindow->modalLoops.erase(
            std::find(inWindow->modalLoops.begin(), inWindow->modalLoops.end(), &loop));
        if (!inWindow->disposed && inWindow->widget != nullptr &&
            previous != Qt::ApplicationModal) {
            const bool visible = inWindow->widget->isVisible();
            if (visible) {
                inWindow->widget->hide();
            }
            inWindow->widget->setWindowModality(previous);
            if (visible) {
                inWindow->widget->show();
            }
        }
    }
    return noErr;
}

OSStatus QuitAppModalLoopForWindow(WindowRef inWindow) {
    if (inWindow == nullptr || !isLiveWindow(inWindow)) {
        return errInvalidWindowRef;
    }
    if (inWindow->modalLoops.empty()) {
        return errWindowNotModal;
    }
    inWindow->modalLoops.back()->quit();
    return noErr;
}
