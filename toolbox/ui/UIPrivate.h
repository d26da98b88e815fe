// UIPrivate.h - the records behind the windowing toolbox's opaque references, shared by its
// own modules only.
//
// Owns nothing by itself; documents who owns what: a window owns its Qt widget tree, its
// port, its target and its controls; a control owns its target; a target owns its handler
// records (shared with dispatches in progress, so removing a handler mid-dispatch is safe);
// an OwnedEvent owns the event it made.
#pragma once

#include "HIToolbox.h"

#include <QPointer>
#include <QWidget>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QEventLoop;

struct OpaqueEventRef {
    struct Param {
        EventParamType type;
        std::vector<unsigned char> bytes;
    };
    EventClass eventClass = 0;
    EventKind kind = 0;
    EventTime when = 0;
    EventAttributes attributes = 0;
    int refCount = 1;
    std::map<EventParamName, Param> params;
};

struct OpaqueEventHandlerRef {
    OpaqueEventTargetRef* target = nullptr;
    EventHandlerUPP proc = nullptr;
    std::vector<EventTypeSpec> types;
    void* userData = nullptr;
    bool removed = false;
    bool matches(EventClass c, EventKind k) const;
};

struct OpaqueEventTargetRef {
    std::vector<std::shared_ptr<OpaqueEventHandlerRef>> handlers; // in install order
    // What happens to an event nobody on this target handled (may be empty).
    std::function<OSStatus(EventRef)> standardHandler;
    // Where unhandled command events go on to.
    OpaqueEventTargetRef* parent = nullptr;
    ~OpaqueEventTargetRef();
};

namespace toolbox::ui {

struct ControlClass {
    std::string id;
    EventHandlerUPP handler = nullptr;
    std::vector<EventTypeSpec> events;
    void* userData = nullptr;
    int instances = 0;
    bool registered = true;
};

enum class ControlKind {
    custom,
    slider,
    popup,
    checkbox,
    pushbutton,
    statictext,
    edittext,
    spinbox,
    progress,
    other,
};

} // namespace toolbox::ui

struct OpaqueControlRef {
    OpaqueWindowPtr* window = nullptr;
    QPointer<QWidget> widget;
    toolbox::ui::ControlKind kind = toolbox::ui::ControlKind::other;
    ControlID id{0, 0};
    bool hasID = false;
    UInt32 command = 0;
    std::string classID;
    std::shared_ptr<toolbox::ui::ControlClass> cls; // bound custom class, or null
    EventHandlerRef classHandler = nullptr;
    SInt32 value = 0, minimum = INT32_MIN, maximum = INT32_MAX; // where the widget has none
    UInt16 hilite = 0;
    bool active = true;
    ControlActionUPP action = nullptr;
    SRefCon refCon = nullptr;
    OpaqueEventTargetRef target;
    bool enabled = true;
    int settingFromCode = 0;          // > 0 while our own setters change the widget
    std::unique_ptr<QObject> context; // owns the signal connections to the widget
    OpaqueControlRef();
    ~OpaqueControlRef(); // detaches the widget and leaves the class
};

struct OpaqueWindowPtr {
    QPointer<QWidget> widget; // the form's top-level widget, owned here
    std::string name;
    GWorldPtr port = nullptr;
    OpaqueEventTargetRef target;
    std::vector<std::unique_ptr<OpaqueControlRef>> controls;
    std::vector<QEventLoop*> modalLoops; // innermost last
    int busy = 0;          // events of this window being handled (or its loop running)
    bool disposed = false; // DisposeWindow was called; freed when busy drops to 0
    QObject* filter = nullptr;
};

struct OpaqueIBNibRef {
    std::string directory; // the .nib folder
    std::string name;
};

namespace toolbox::ui {

// ---- Qt runtime (QtRuntime.cpp) ----
// Starts Qt if it can (see HIToolbox.h); true when widgets can be made now.
bool ensureQt();
// True when Qt is running (never starts it).
bool qtRunning();
// Called by ensureQt, instead of Qt's abort, when Qt gives up while starting; see
// StartWindowing (ToolboxUITesting.h).
void setStartFailureHandler(void (*handler)(const char* why));
// Why ensureQt failed, for messages ("no display", "not the main thread"...).
std::string qtUnavailableReason();
UInt32 modifiersFromQt(Qt::KeyboardModifiers mods);
Qt::KeyboardModifiers qtFromModifiers(UInt32 mods);
// The modifiers of the input event being handled.
UInt32 currentModifiers();
void setCurrentModifiers(UInt32 mods);

// ---- events (CarbonEvents.cpp) ----
OSStatus dispatch(OpaqueEventTargetRef* target, EventRef event);
// An event made here, owned until the holder goes: released on every way out of its scope,
// whatever the handlers did with it (they retain it if they keep it).
class OwnedEvent {
  public:
    OwnedEvent(EventClass eventClass, EventKind kind);
    OwnedEvent(OwnedEvent&& other) noexcept : event(other.event) { other.event = nullptr; }
    OwnedEvent(const OwnedEvent&) = delete;
    OwnedEvent& operator=(const OwnedEvent&) = delete;
    ~OwnedEvent() { ReleaseEvent(event); }
    EventRef get() const { return event; }
    template <class T> void set(EventParamName name, EventParamType type, const T& value) {
        SetEventParameter(event, name, type, sizeof value, &value);
    }
    // Reads a parameter into value; value is left as it was when the event has none.
    template <class T> void read(EventParamName name, EventParamType type, T& value) const {
        GetEventParameter(event, name, type, nullptr, sizeof value, nullptr, &value);
    }

  private:
    EventRef event;
};
// Creates an event with the usual control parameters filled.
OwnedEvent makeControlEvent(EventKind kind, ControlRef control);
OSStatus sendCommand(OpaqueEventTargetRef* target, UInt32 commandID, UInt32 attributes,
                     ControlRef control, WindowRef window);
// The innermost window running an app-modal loop, or nil.
WindowRef innermostModalWindow();
// The window a dialog opened now belongs to: the innermost modal window, else Qt's active
// window; nil when there is none. Dialogs are made its children (transient for it, centred
// on it, kept above it).
QWidget* openerWidget();

// ---- windows (Windows.cpp) ----
bool isLiveWindow(WindowRef w);
// RAII guard that keeps a window from being freed while its events are handled.
class WindowBusy {
  public:
    explicit WindowBusy(WindowRef w);
    ~WindowBusy();
    WindowBusy(const WindowBusy&) = delete;
    WindowBusy& operator=(const WindowBusy&) = delete;

  private:
    WindowRef window;
};
// Marks code that Qt called (an event handler, a signal): a window disposed of in there
// must not delete the widgets that Qt is still inside of.
class FromQt {
  public:
    FromQt() { ++depth; }
    ~FromQt() { --depth; }
    FromQt(const FromQt&) = delete;
    FromQt& operator=(const FromQt&) = delete;
    static int depth;
};
Point windowPointFromGlobal(WindowRef w, QPointF global);
// A position local to a widget of the window, in window coordinates.
Point windowPointFromWidget(WindowRef w, QWidget* widget, QPointF local);
QPoint globalFromWindowPoint(WindowRef w, Point p);
void resizePortToWindow(WindowRef w);
// Makes sure what custom controls drew into the port is on the screen.
void flushWindow(WindowRef w);
QWidget* widgetAtWindowPoint(WindowRef w, Point p);

// ---- controls (Controls.cpp) ----
// Makes the window's controls from its widget tree.
void bindControls(WindowRef w);
bool isLiveControl(ControlRef c);
QWidget* createToolboxControlWidget(QWidget* parent);
// Sends kEventControlDraw to a custom control with the window's port current.
void drawCustomControl(ControlRef c);
// Sends kEventControlActivate / Deactivate to every custom control of a window.
void sendActivation(WindowRef w, bool active);

// ---- mouse tracking (Tracking.cpp) ----
struct TrackingSession;
void beginTracking(WindowRef w, Point start);
void endTracking();
bool trackingActive();

// ---- text helpers ----
std::string utf8FromMacRoman(const unsigned char* bytes, std::size_t length);
std::string utf8FromPascal(ConstStr255Param s);
std::string utf8FromCF(CFStringRef s);
QString qstringFromCF(CFStringRef s);
std::string fourCC(UInt32 code);
UInt32 fourCCFromText(const QString& text, bool* ok);

} // namespace toolbox::ui
