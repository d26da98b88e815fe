// Controls.cpp - controls over the widgets of a nib window, the custom control classes and
// the click protocol of custom controls (see Controls.h).
//
// Owns: the class registry (class id -> handler), shared with the controls bound to a class
// so that a control never calls into a class record that is gone; the table of control kinds
// (one row per kind: which widgets it matches and how their value, range, text and signals
// are reached).
#include "UIPrivate.h"

#include "TextUtils.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <set>

namespace toolbox::ui {
namespace {

std::map<std::string, std::shared_ptr<ControlClass>> gClasses;
std::set<ControlRef> gControls;

// Draws the window port's pixels under the control; sends the draw event first unless the
// port is only being shown again (after drawing done outside a draw event).
class ToolboxControlWidget : public QWidget {
  public:
    explicit ToolboxControlWidget(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    ControlRef control = nullptr;

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

// Makes a port current for as long as it lives, then the one before it again. A handler run
// meanwhile may dispose of a window, and with it the saved port's window... but never the
// saved port itself while that window is busy.
class PortSwitch {
  public:
    explicit PortSwitch(CGrafPtr port) {
        GetGWorld(&savedPort, &savedDevice);
        SetGWorld(port, nullptr);
    }
    ~PortSwitch() { SetGWorld(savedPort, savedDevice); }
    PortSwitch(const PortSwitch&) = delete;
    PortSwitch& operator=(const PortSwitch&) = delete;

  private:
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
};

// Runs an event on a custom control with the window's port current, as a control's
// drawing expects.
OSStatus dispatchInPort(ControlRef c, const OwnedEvent& event) {
    PortSwitch inPort(c->window->port);
    return dispatch(&c->target, event.get());
}

void bindClass(ControlRef c) {
    if (c->cls != nullptr || c->classID.empty()) {
        return;
    }
    auto it = gClasses.find(c->classID);
    if (it == gClasses.end()) {
        return;
    }
    c->cls = it->second;
    ++c->cls->instances;
    // A class that takes keys makes its controls focusable (by click and by Tab).
    for (const EventTypeSpec& spec : c->cls->events) {
        if (spec.eventClass == kEventClassKeyboard && c->widget != nullptr) {
            c->widget->setFocusPolicy(Qt::StrongFocus);
        }
    }
    InstallEventHandler(&c->target, c->cls->handler, c->cls->events.size(), c->cls->events.data(),
                        c->cls->userData, &c->classHandler);
}

ControlPartCode hitTest(ControlRef c, Point where, UInt32 mods) {
    bindClass(c);
    OwnedEvent e = makeControlEvent(kEventControlHitTest, c);
    e.set(kEventParamMouseLocation, typeQDPoint, where);
    e.set(kEventParamKeyModifiers, typeUInt32, mods);
    ControlPartCode part = kControlNoPart;
    if (dispatch(&c->target, e.get()) == noErr) {
        e.read(kEventParamControlPart, typeControlPartCode, part);
    }
    return part;
}

// The tracking a control gets when its class does not track: the part is pressed while the
// mouse is over it; the part under the mouse-up is the result.
ControlPartCode defaultTrack(ControlRef c, ControlPartCode part) {
    WindowRef w = c->window;
    HiliteControl(c, part);
    ControlPartCode result = kControlNoPart;
    for (;;) {
        Point where{};
        MouseTrackingResult what = 0;
        TrackMouseLocation(w->port, &where, &what);
        if (!isLiveWindow(w)) {
            return kControlNoPart;
        }
        const ControlPartCode now = hitTest(c, where, currentModifiers());
        if (what == kMouseTrackingMouseUp) {
            result = now == part ? part : ControlPartCode(kControlNoPart);
            break;
        }
        const ControlPartCode shown = now == part ? part : ControlPartCode(kControlNoPart);
        if (c->hilite != shown) {
            HiliteControl(c, shown);
        }
    }
    HiliteControl(c, kControlNoPart);
    return result;
}

// Standard behaviour of every control: a hit nobody handled sends the control's command.
OSStatus standardControlHandling(ControlRef c, EventRef event) {
    if (event->eventClass == kEventClassControl && event->kind == kEventControlHit &&
        c->command != 0) {
        return sendCommand(&c->target, c->command, kHICommandFromControl, c, c->window);
    }
    return eventNotHandledErr;
}

void userHit(ControlRef c, ControlPartCode part) {
    if (!isLiveControl(c) || !isLiveWindow(c->window)) {
        return;
    }
    FromQt fromQt;
    WindowBusy busy(c->window);
    OwnedEvent e = makeControlEvent(kEventControlHit, c);
    e.set(kEventParamControlPart, typeControlPartCode, part);
    e.set(kEventParamKeyModifiers, typeUInt32, currentModifiers());
    dispatch(&c->target, e.get());
}

void ToolboxControlWidget::paintEvent(QPaintEvent*) {
    FromQt fromQt;
    QPainter painter(this);
    if (control == nullptr || !isLiveWindow(control->window) || control->window->port == nullptr) {
        painter.fillRect(rect(), palette().color(QPalette::Window));
        return;
    }
    ControlRef c = control;
    WindowRef w = c->window;
    WindowBusy busy(w);
    if (!property("tbBlitOnly").toBool()) {
        drawCustomControl(c);
        if (!isLiveWindow(w)) {
            return;
        }
    }
    // The port's pixels (bytes A, R, G, B) under the control, as an opaque image.
    Rect bounds{};
    GetControlBounds(c, &bounds);
    Rect portBounds{};
    GetPortBounds(w->port, &portBounds);
    PixMapHandle pm = GetGWorldPixMap(w->port);
    const auto* base = reinterpret_cast<const unsigned char*>(GetPixBaseAddr(pm));
    const SInt32 rowBytes = GetPixRowBytes(pm);
    QImage image(width(), height(), QImage::Format_RGB32);
    image.fill(palette().color(QPalette::Window));
    for (int y = 0; y < image.height(); ++y) {
        const int py = bounds.top + y;
        if (py < portBounds.top || py >= portBounds.bottom) {
            continue;
        }
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int px = bounds.left + x;
            if (px < portBounds.left || px >= portBounds.right) {
                continue;
            }
            const unsigned char* p =
                base + (py - portBounds.top) * rowBytes + 4 * (px - portBounds.left);
            out[x] = qRgb(p[1], p[2], p[3]);
        }
    }
    painter.drawImage(0, 0, image);
}

// The part a press on the given part ends on: the class's tracking, else the default one.
ControlPartCode track(ControlRef c, Point where, UInt32 mods, ControlPartCode part) {
    WindowRef w = c->window;
    OwnedEvent e = makeControlEvent(kEventControlTrack, c);
    e.set(kEventParamMouseLocation, typeQDPoint, where);
    e.set(kEventParamKeyModifiers, typeUInt32, mods);
    e.set(kEventParamControlPart, typeControlPartCode, part);
    const OSStatus r = dispatch(&c->target, e.get());
    if (r == noErr) {
        e.read(kEventParamControlPart, typeControlPartCode, part);
        return part;
    }
    if (r == eventNotHandledErr && isLiveWindow(w)) {
        return defaultTrack(c, part);
    }
    return kControlNoPart;
}

void ToolboxControlWidget::mousePressEvent(QMouseEvent* event) {
    if (control == nullptr || event->button() != Qt::LeftButton) {
        return;
    }
    FromQt fromQt;
    ControlRef c = control;
    WindowRef w = c->window;
    if (!isLiveWindow(w) || !c->enabled || !c->active) {
        return;
    }
    WindowBusy busy(w);
    const UInt32 mods = modifiersFromQt(event->modifiers());
    setCurrentModifiers(mods);
    const Point where = windowPointFromWidget(w, this, event->position());
    beginTracking(w, where);
    ControlPartCode part = hitTest(c, where, mods);
    if (part != kControlNoPart) {
        part = track(c, where, mods, part);
    }
    endTracking();
    if (part != kControlNoPart && isLiveWindow(w)) {
        userHit(c, part);
    }
    flushWindow(w);
}

namespace {
// The classic character code of a key, or 0 for keys that have none here.
char charCodeOf(const QKeyEvent& key) {
    switch (key.key()) {
    case Qt::Key_Left:
        return kLeftArrowCharCode;
    case Qt::Key_Right:
        return kRightArrowCharCode;
    case Qt::Key_Up:
        return kUpArrowCharCode;
    case Qt::Key_Down:
        return kDownArrowCharCode;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return kReturnCharCode;
    case Qt::Key_Escape:
        return kEscapeCharCode;
    default: {
        const QString text = key.text();
        return text.size() == 1 && text[0].unicode() < 0x80 ? char(text[0].unicode()) : 0;
    }
    }
}
} // namespace

// A key for the focused custom control: its class gets the raw key event; what it does not
// handle goes on to the window (Return, Escape...).
void ToolboxControlWidget::keyPressEvent(QKeyEvent* event) {
    ControlRef c = control;
    const char code = charCodeOf(*event);
    if (c == nullptr || code == 0 || !isLiveWindow(c->window) || !c->enabled || !c->active) {
        event->ignore();
        return;
    }
    FromQt fromQt;
    WindowRef w = c->window;
    WindowBusy busy(w);
    bindClass(c);
    const UInt32 mods = modifiersFromQt(event->modifiers());
    setCurrentModifiers(mods);
    OwnedEvent e(kEventClassKeyboard,
                 event->isAutoRepeat() ? kEventRawKeyRepeat : kEventRawKeyDown);
    e.set(kEventParamDirectObject, typeControlRef, c);
    e.set(kEventParamKeyMacCharCodes, typeChar, code);
    e.set(kEventParamKeyModifiers, typeUInt32, mods);
    if (dispatchInPort(c, e) == noErr) {
        event->accept();
        flushWindow(w);
    } else {
        event->ignore();
    }
}

void warn(WindowRef w, QWidget* widget, const char* what) {
    std::fprintf(stderr, "toolbox: %s.ui: widget \"%s\": %s\n", w->name.c_str(),
                 widget->objectName().toUtf8().constData(), what);
}

// ---- the kinds of control ------------------------------------------------------------------

struct Range {
    SInt32 min, max;
};

// How the toolbox reaches a control of one kind through its widget. An operation left null
// means the kind has no such thing in its widget: its value and range are the control
// record's own, it has no text, sends nothing. A kind whose widget has a range but no way to
// set it (a popup's items, a checkbox's states) keeps that range.
struct KindOps {
    ControlKind kind = ControlKind::other;
    bool (*matches)(QWidget* w) = nullptr;
    Range (*range)(QWidget* w) = nullptr;
    SInt32 (*read)(QWidget* w) = nullptr;
    void (*write)(QWidget* w, SInt32 v) = nullptr;
    void (*setRange)(QWidget* w, SInt32 mn, SInt32 mx) = nullptr;
    void (*connect)(ControlRef c) = nullptr;           // the widget's signals into its events
    void (*setUp)(ControlRef c) = nullptr;             // once, as the control is made
    void (*setDown)(QWidget* w, bool down) = nullptr;  // shows the control pressed
    bool (*text)(QWidget* w, QString& text) = nullptr; // false when this widget has none
    bool (*setText)(QWidget* w, const QString& text) = nullptr;
};

template <class W> bool isA(QWidget* w) {
    return qobject_cast<W*>(w) != nullptr;
}

// Widgets with a minimum, a maximum and a value of their own (sliders, spin boxes, progress
// bars).
template <class W> struct Ranged {
    static Range range(QWidget* w) {
        auto* r = qobject_cast<W*>(w);
        return {r->minimum(), r->maximum()};
    }
    static SInt32 read(QWidget* w) { return qobject_cast<W*>(w)->value(); }
    static void write(QWidget* w, SInt32 v) { qobject_cast<W*>(w)->setValue(v); }
    static void setRange(QWidget* w, SInt32 mn, SInt32 mx) {
        qobject_cast<W*>(w)->setRange(mn, std::max(mn, mx));
    }
};

// Widgets whose text is read with text() and set with setText().
template <class W> struct Texted {
    static bool text(QWidget* w, QString& text) {
        text = qobject_cast<W*>(w)->text();
        return true;
    }
    static bool setText(QWidget* w, const QString& text) {
        qobject_cast<W*>(w)->setText(text);
        return true;
    }
};

// A group box's title is its text; other widgets of no kind have none.
bool groupTitle(QWidget* w, QString& text) {
    auto* g = qobject_cast<QGroupBox*>(w);
    if (g != nullptr) {
        text = g->title();
    }
    return g != nullptr;
}

bool setGroupTitle(QWidget* w, const QString& text) {
    auto* g = qobject_cast<QGroupBox*>(w);
    if (g != nullptr) {
        g->setTitle(text);
    }
    return g != nullptr;
}

bool isCustom(QWidget* w) {
    return dynamic_cast<ToolboxControlWidget*>(w) != nullptr;
}

bool isCheckbox(QWidget* w) {
    auto* b = qobject_cast<QAbstractButton*>(w);
    return b != nullptr && (isA<QCheckBox>(w) || isA<QRadioButton>(w) || b->isCheckable());
}

Range checkboxRange(QWidget* w) {
    auto* cb = qobject_cast<QCheckBox*>(w);
    return {0, cb != nullptr && cb->isTristate() ? 2 : 1};
}

SInt32 readCheckbox(QWidget* w) {
    if (auto* cb = qobject_cast<QCheckBox*>(w)) {
        const Qt::CheckState s = cb->checkState();
        return s == Qt::Checked ? 1 : s == Qt::PartiallyChecked ? 2 : 0;
    }
    return qobject_cast<QAbstractButton*>(w)->isChecked() ? 1 : 0;
}

void writeCheckbox(QWidget* w, SInt32 v) {
    if (auto* cb = qobject_cast<QCheckBox*>(w)) {
        cb->setCheckState(v == 2 ? Qt::PartiallyChecked : v == 1 ? Qt::Checked : Qt::Unchecked);
    } else {
        qobject_cast<QAbstractButton*>(w)->setChecked(v != 0);
    }
}

Range popupRange(QWidget* w) {
    return {1, std::max(1, qobject_cast<QComboBox*>(w)->count())};
}

SInt32 readPopup(QWidget* w) {
    return qobject_cast<QComboBox*>(w)->currentIndex() + 1;
}

void writePopup(QWidget* w, SInt32 v) {
    qobject_cast<QComboBox*>(w)->setCurrentIndex(v - 1);
}

// A slider's value follows the mouse (live feedback): every change calls the action; the
// command goes when the value is set, not while the thumb is held.
void connectSlider(ControlRef c) {
    auto* s = qobject_cast<QAbstractSlider*>(c->widget.data());
    s->setTracking(true);
    QObject::connect(s, &QAbstractSlider::valueChanged, c->context.get(), [c, s](int) {
        if (c->settingFromCode > 0 || !isLiveWindow(c->window)) {
            return;
        }
        FromQt fromQt;
        WindowBusy busy(c->window);
        if (c->action != nullptr) {
            c->action(c, kControlIndicatorPart);
        }
        if (!s->isSliderDown() && c->command != 0 && isLiveWindow(c->window)) {
            sendCommand(&c->target, c->command, kHICommandFromControl, c, c->window);
        }
    });
    QObject::connect(s, &QAbstractSlider::sliderReleased, c->context.get(), [c]() {
        if (c->command != 0 && isLiveWindow(c->window)) {
            FromQt fromQt;
            WindowBusy busy(c->window);
            sendCommand(&c->target, c->command, kHICommandFromControl, c, c->window);
        }
    });
}

void connectPopup(ControlRef c) {
    QObject::connect(qobject_cast<QComboBox*>(c->widget.data()), &QComboBox::activated,
                     c->context.get(), [c](int) { userHit(c, kControlMenuPart); });
}

// A click on a button is a hit on the given part.
template <ControlPartCode part> void connectClicked(ControlRef c) {
    QObject::connect(qobject_cast<QAbstractButton*>(c->widget.data()), &QAbstractButton::clicked,
                     c->context.get(), [c](bool) { userHit(c, part); });
}

void setDownButton(QWidget* w, bool down) {
    qobject_cast<QAbstractButton*>(w)->setDown(down);
}

void setUpPushbutton(ControlRef c) {
    c->minimum = 0;
    c->maximum = 1;
}

void setUpStaticText(ControlRef c) {
    qobject_cast<QLabel*>(c->widget.data())->setTextFormat(Qt::PlainText); // never markup
}

// A custom control takes its class and its starting value from the widget's properties.
void setUpCustom(ControlRef c) {
    QWidget* widget = c->widget;
    static_cast<ToolboxControlWidget*>(widget)->control = c;
    c->classID = widget->property("controlClass").toString().toStdString();
    if (c->classID.empty()) {
        warn(c->window, widget, "a ToolboxControl needs a controlClass");
    }
    const QVariant mn = widget->property("minimum");
    const QVariant mx = widget->property("maximum");
    const QVariant v = widget->property("value");
    if (mn.isValid()) {
        c->minimum = mn.toInt();
    }
    if (mx.isValid()) {
        c->maximum = mx.toInt();
    }
    if (v.isValid()) {
        c->value = std::clamp(v.toInt(), std::min(c->minimum, c->maximum),
                              std::max(c->minimum, c->maximum));
    }
}

// One row per kind, in the order a widget is matched; a widget that matches none is of the
// last row's kind. A new kind is a value of ControlKind and a row here.
const KindOps kKinds[] = {
    {.kind = ControlKind::custom, .matches = isCustom, .setUp = setUpCustom},
    {.kind = ControlKind::slider,
     .matches = isA<QAbstractSlider>,
     .range = Ranged<QAbstractSlider>::range,
     .read = Ranged<QAbstractSlider>::read,
     .write = Ranged<QAbstractSlider>::write,
     .setRange = Ranged<QAbstractSlider>::setRange,
     .connect = connectSlider},
    {.kind = ControlKind::popup,
     .matches = isA<QComboBox>,
     .range = popupRange,
     .read = readPopup,
     .write = writePopup,
     .connect = connectPopup},
    {.kind = ControlKind::checkbox,
     .matches = isCheckbox,
     .range = checkboxRange,
     .read = readCheckbox,
     .write = writeCheckbox,
     .connect = connectClicked<kControlCheckBoxPart>,
     .text = Texted<QAbstractButton>::text,
     .setText = Texted<QAbstractButton>::setText},
    {.kind = ControlKind::pushbutton,
     .matches = isA<QAbstractButton>,
     .connect = connectClicked<kControlButtonPart>,
     .setUp = setUpPushbutton,
     .setDown = setDownButton,
     .text = Texted<QAbstractButton>::text,
     .setText = Texted<QAbstractButton>::setText},
    {.kind = ControlKind::statictext,
     .matches = isA<QLabel>,
     .setUp = setUpStaticText,
     .text = Texted<QLabel>::text,
     .setText = Texted<QLabel>::setText},
    {.kind = ControlKind::edittext,
     .matches = isA<QLineEdit>,
     .text = Texted<QLineEdit>::text,
     .setText = Texted<QLineEdit>::setText},
    {.kind = ControlKind::spinbox,
     .matches = isA<QSpinBox>,
     .range = Ranged<QSpinBox>::range,
     .read = Ranged<QSpinBox>::read,
     .write = Ranged<QSpinBox>::write,
     .setRange = Ranged<QSpinBox>::setRange},
    {.kind = ControlKind::progress,
     .matches = isA<QProgressBar>,
     .range = Ranged<QProgressBar>::range,
     .read = Ranged<QProgressBar>::read,
     .write = Ranged<QProgressBar>::write,
     .setRange = Ranged<QProgressBar>::setRange},
    {.kind = ControlKind::other, .text = groupTitle, .setText = setGroupTitle},
};

const KindOps& opsOf(ControlKind kind) {
    for (const KindOps& ops : kKinds) {
        if (ops.kind == kind) {
            return ops;
        }
    }
    return std::end(kKinds)[-1];
}

const KindOps& opsOfWidget(QWidget* w) {
    for (const KindOps& ops : kKinds) {
        if (ops.matches != nullptr && ops.matches(w)) {
            return ops;
        }
    }
    return std::end(kKinds)[-1];
}

Range rangeOf(ControlRef c) {
    const KindOps& ops = opsOf(c->kind);
    return ops.range != nullptr ? ops.range(c->widget) : Range{c->minimum, c->maximum};
}

SInt32 readValue(ControlRef c) {
    const KindOps& ops = opsOf(c->kind);
    return ops.read != nullptr ? ops.read(c->widget) : c->value;
}

// While our own setters change a widget, its signals are not the user's doing.
class SettingFromCode {
  public:
    explicit SettingFromCode(ControlRef c) : control(c) { ++control->settingFromCode; }
    ~SettingFromCode() { --control->settingFromCode; }
    SettingFromCode(const SettingFromCode&) = delete;
    SettingFromCode& operator=(const SettingFromCode&) = delete;

  private:
    ControlRef control;
};

void writeValue(ControlRef c, SInt32 v) {
    const Range r = rangeOf(c);
    v = std::clamp(v, std::min(r.min, r.max), std::max(r.min, r.max));
    const KindOps& ops = opsOf(c->kind);
    SettingFromCode fromCode(c);
    if (ops.write != nullptr) {
        ops.write(c->widget, v);
    } else {
        c->value = v;
    }
}

void writeRange(ControlRef c, SInt32 mn, SInt32 mx) {
    const KindOps& ops = opsOf(c->kind);
    SettingFromCode fromCode(c);
    if (ops.setRange != nullptr) {
        ops.setRange(c->widget, mn, mx);
    } else if (ops.range == nullptr) {
        c->minimum = mn;
        c->maximum = mx;
        c->value = std::clamp(c->value, std::min(mn, mx), std::max(mn, mx));
    }
}

void redraw(ControlRef c) {
    if (c->kind == ControlKind::custom) {
        Draw1Control(c);
    } else if (c->widget != nullptr) {
        c->widget->update();
    }
}

bool textOf(ControlRef c, QString& text) {
    const KindOps& ops = opsOf(c->kind);
    return ops.text != nullptr && ops.text(c->widget, text);
}

bool setTextOf(ControlRef c, const QString& text) {
    const KindOps& ops = opsOf(c->kind);
    return ops.setText != nullptr && ops.setText(c->widget, text);
}

bool usable(ControlRef c) {
    return isLiveControl(c) && c->widget != nullptr && isLiveWindow(c->window);
}

} // namespace

bool isLiveControl(ControlRef c) {
    return c != nullptr && gControls.count(c) != 0;
}

QWidget* createToolboxControlWidget(QWidget* parent) {
    return new ToolboxControlWidget(parent);
}

void drawCustomControl(ControlRef c) {
    if (!usable(c)) {
        return;
    }
    bindClass(c);
    OwnedEvent e = makeControlEvent(kEventControlDraw, c);
    e.set(kEventParamControlPart, typeControlPartCode, ControlPartCode(kControlEntireControl));
    e.set(kEventParamGrafPort, typeGrafPtr, c->window->port);
    dispatchInPort(c, e);
}

void sendActivation(WindowRef w, bool active) {
    if (!isLiveWindow(w)) {
        return;
    }
    WindowBusy busy(w);
    std::vector<ControlRef> customs;
    for (auto& c : w->controls) {
        if (c->kind == ControlKind::custom) {
            customs.push_back(c.get());
        }
    }
    for (ControlRef c : customs) {
        if (!isLiveWindow(w)) {
            return;
        }
        bindClass(c);
        dispatchInPort(
            c, makeControlEvent(active ? kEventControlActivate : kEventControlDeactivate, c));
    }
    flushWindow(w);
}

namespace {
// The widget's signature and number as the control's ID; a bad pair is reported, not used.
void readControlID(ControlRef c, const QVariant& sig) {
    QWidget* widget = c->widget;
    bool ok = false;
    const UInt32 code = fourCCFromText(sig.toString(), &ok);
    const QVariant num = widget->property("number");
    bool numOk = !num.isValid();
    const int n = num.isValid() ? num.toInt(&numOk) : 0;
    if (ok && numOk && n >= -32768 && n <= 32767) {
        c->id = ControlID{code, n};
        c->hasID = true;
    } else {
        warn(c->window, widget, "signature must be four Mac Roman characters, number 16-bit");
    }
}

void readCommand(ControlRef c, const QVariant& cmd) {
    bool ok = false;
    c->command = fourCCFromText(cmd.toString(), &ok);
    if (!ok) {
        c->command = 0;
        warn(c->window, c->widget, "command must be four Mac Roman characters");
    }
}

// The control of one widget of the window, or null for a widget that is no control: a part
// of another widget (a combo box's view, a spin box's editor), or a widget of no kind with
// neither a signature nor a command.
std::unique_ptr<OpaqueControlRef> makeControl(WindowRef w, QWidget* widget) {
    if (widget->objectName().isEmpty() || widget->objectName().startsWith("qt_")) {
        return nullptr;
    }
    const KindOps& ops = opsOfWidget(widget);
    const QVariant sig = widget->property("signature");
    const QVariant cmd = widget->property("command");
    if (ops.kind == ControlKind::other && !sig.isValid() && !cmd.isValid()) {
        return nullptr;
    }
    auto c = std::make_unique<OpaqueControlRef>();
    ControlRef cref = c.get();
    c->window = w;
    c->widget = widget;
    c->kind = ops.kind;
    c->target.parent = &w->target;
    c->target.standardHandler = [cref](EventRef e) { return standardControlHandling(cref, e); };
    if (sig.isValid()) {
        readControlID(cref, sig);
    }
    if (cmd.isValid()) {
        readCommand(cref, cmd);
    }
    if (ops.setUp != nullptr) {
        ops.setUp(cref);
    }
    c->context = std::make_unique<QObject>();
    if (ops.connect != nullptr) {
        ops.connect(cref);
    }
    return c;
}

// Custom controls learn that they are in their window, and may draw into its port.
void announceOwningWindow(WindowRef w) {
    WindowBusy busy(w);
    for (auto& c : w->controls) {
        if (c->kind != ControlKind::custom || !isLiveWindow(w)) {
            continue;
        }
        bindClass(c.get());
        OwnedEvent e = makeControlEvent(kEventControlOwningWindowChanged, c.get());
        e.set(kEventParamAttributes, typeUInt32, UInt32(0));
        e.set(kEventParamControlOriginalOwningWindow, typeWindowRef, WindowRef(nullptr));
        e.set(kEventParamControlCurrentOwningWindow, typeWindowRef, w);
        dispatchInPort(c.get(), e);
    }
}
} // namespace

void bindControls(WindowRef w) {
    const QList<QWidget*> widgets = w->widget->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        if (auto c = makeControl(w, widget)) {
            gControls.insert(c.get());
            w->controls.push_back(std::move(c));
        }
    }
    announceOwningWindow(w);
}

} // namespace toolbox::ui

using namespace toolbox::ui;

OpaqueControlRef::OpaqueControlRef() = default;

OpaqueControlRef::~OpaqueControlRef() {
    gControls.erase(this);
    context.reset(); // no more signals into this record
    if (auto* cw = dynamic_cast<ToolboxControlWidget*>(widget.data())) {
        cw->control = nullptr;
    }
    if (cls != nullptr) {
        --cls->instances;
    }
}

OSStatus GetControlByID(WindowRef inWindow, const ControlID* inID, ControlRef* outControl) {
    if (outControl == nullptr || inID == nullptr) {
        return paramErr;
    }
    *outControl = nullptr;
    if (!isLiveWindow(inWindow)) {
        return errInvalidWindowRef;
    }
    for (auto& c : inWindow->controls) {
        if (c->hasID && c->id.signature == inID->signature && c->id.id == inID->id) {
            *outControl = c.get();
            return noErr;
        }
    }
    return errUnknownControl;
}

OSStatus GetControlID(ControlRef inControl, ControlID* outID) {
    if (!isLiveControl(inControl) || outID == nullptr) {
        return paramErr;
    }
    *outID = inControl->id;
    return noErr;
}

WindowRef GetControlOwner(ControlRef inControl) {
    return isLiveControl(inControl) ? inControl->window : nullptr;
}

EventTargetRef GetControlEventTarget(ControlRef inControl) {
    return isLiveControl(inControl) ? &inControl->target : nullptr;
}

OSStatus GetControlCommandID(ControlRef inControl, UInt32* outCommandID) {
    if (!isLiveControl(inControl) || outCommandID == nullptr) {
        return paramErr;
    }
    *outCommandID = inControl->command;
    return noErr;
}

OSStatus SetControlCommandID(ControlRef inControl, UInt32 inCommandID) {
    if (!isLiveControl(inControl)) {
        return paramErr;
    }
    inControl->command = inCommandID;
    return noErr;
}

SInt32 GetControl32BitValue(ControlRef theControl) {
    return usable(theControl) ? readValue(theControl) : 0;
}

void SetControl32BitValue(ControlRef theControl, SInt32 newValue) {
    if (usable(theControl)) {
        writeValue(theControl, newValue);
        redraw(theControl);
    }
}

SInt32 GetControl32BitMinimum(ControlRef theControl) {
    return usable(theControl) ? rangeOf(theControl).min : 0;
}

void SetControl32BitMinimum(ControlRef theControl, SInt32 newMinimum) {
    if (usable(theControl)) {
        writeRange(theControl, newMinimum, rangeOf(theControl).max);
        redraw(theControl);
    }
}

SInt32 GetControl32BitMaximum(ControlRef theControl) {
    return usable(theControl) ? rangeOf(theControl).max : 0;
}

void SetControl32BitMaximum(ControlRef theControl, SInt32 newMaximum) {
    if (usable(theControl)) {
        writeRange(theControl, rangeOf(theControl).min, newMaximum);
        redraw(theControl);
    }
}

SInt16 GetControlValue(ControlRef theControl) {
    return SInt16(std::clamp<SInt32>(GetControl32BitValue(theControl), -32768, 32767));
}

void SetControlValue(ControlRef theControl, SInt16 newValue) {
    SetControl32BitValue(theControl, newValue);
}

SRefCon GetControlReference(ControlRef theControl) {
    return isLiveControl(theControl) ? theControl->refCon : nullptr;
}

void SetControlReference(ControlRef theControl, SRefCon data) {
    if (isLiveControl(theControl)) {
        theControl->refCon = data;
    }
}

OSStatus SetControlData(ControlRef inControl, ControlPartCode, ResType inTagName, Size inSize,
                        const void* inData) {
    if (!usable(inControl) || inSize < 0 || (inData == nullptr && inSize > 0)) {
        return paramErr;
    }
    QString text;
    if (inTagName == kControlStaticTextTextTag) {
        text = QString::fromStdString(
            utf8FromMacRoman(static_cast<const unsigned char*>(inData), std::size_t(inSize)));
    } else if (inTagName == kControlStaticTextCFStringTag) {
        if (inSize != Size(sizeof(CFStringRef))) {
            return paramErr;
        }
        CFStringRef s = nullptr;
        std::memcpy(&s, inData, sizeof s);
        text = qstringFromCF(s);
    } else {
        return errDataNotSupported;
    }
    return setTextOf(inControl, text) ? OSStatus(noErr) : OSStatus(errDataNotSupported);
}

OSStatus GetControlData(ControlRef inControl, ControlPartCode, ResType inTagName, Size inBufferSize,
                        void* inBuffer, Size* outActualSize) {
    if (!usable(inControl)) {
        return paramErr;
    }
    QString text;
    if (!textOf(inControl, text)) {
        return errDataNotSupported;
    }
    if (inTagName == kControlStaticTextTextTag) {
        auto bytes = toolbox::text::utf8ToMacRoman(text.toStdString());
        if (!bytes) {
            return errDataNotSupported; // a text Mac Roman cannot spell
        }
        if (outActualSize != nullptr) {
            *outActualSize = Size(bytes->size());
        }
        if (inBuffer != nullptr && inBufferSize > 0) {
            std::memcpy(inBuffer, bytes->data(),
                        std::min<std::size_t>(bytes->size(), inBufferSize));
        }
        return noErr;
    }
    if (inTagName == kControlStaticTextCFStringTag) {
        if (outActualSize != nullptr) {
            *outActualSize = sizeof(CFStringRef);
        }
        if (inBuffer == nullptr || inBufferSize < Size(sizeof(CFStringRef))) {
            return inBuffer == nullptr ? OSStatus(noErr) : OSStatus(errAEBufferTooSmall);
        }
        CFStringRef s = toolbox::cf::makeString(text.toStdString());
        std::memcpy(inBuffer, &s, sizeof s);
        return noErr;
    }
    return errDataNotSupported;
}

void Draw1Control(ControlRef theControl) {
    if (!usable(theControl) || theControl->widget->isHidden()) {
        return;
    }
    WindowBusy busy(theControl->window);
    if (theControl->kind == ControlKind::custom) {
        drawCustomControl(theControl);
        if (usable(theControl)) {
            theControl->widget->setProperty("tbBlitOnly", true);
            theControl->widget->repaint();
            theControl->widget->setProperty("tbBlitOnly", QVariant());
        }
    } else {
        theControl->widget->repaint();
    }
}

void ShowControl(ControlRef inControl) {
    if (usable(inControl)) {
        inControl->widget->show();
    }
}

void HideControl(ControlRef inControl) {
    if (usable(inControl)) {
        inControl->widget->hide();
    }
}

Boolean IsControlVisible(ControlRef inControl) {
    return usable(inControl) && !inControl->widget->isHidden();
}

Rect* GetControlBounds(ControlRef control, Rect* bounds) {
    if (bounds == nullptr) {
        return nullptr;
    }
    *bounds = Rect{0, 0, 0, 0};
    if (!usable(control)) {
        return bounds;
    }
    QWidget* w = control->widget;
    const QPoint origin = w->mapTo(control->window->widget.data(), QPoint(0, 0));
    auto s16 = [](int v) { return SInt16(std::clamp(v, -32768, 32767)); };
    *bounds = Rect{s16(origin.y()), s16(origin.x()), s16(origin.y() + w->height()),
                   s16(origin.x() + w->width())};
    return bounds;
}

void SetControlBounds(ControlRef control, const Rect* bounds) {
    if (!usable(control) || bounds == nullptr) {
        return;
    }
    QWidget* w = control->widget;
    QWidget* parent = w->parentWidget();
    QPoint topLeft(bounds->left, bounds->top);
    if (parent != nullptr && parent != control->window->widget) {
        topLeft = parent->mapFrom(control->window->widget.data(), topLeft);
    }
    w->setGeometry(topLeft.x(), topLeft.y(), std::max(0, bounds->right - bounds->left),
                   std::max(0, bounds->bottom - bounds->top));
}

void HiliteControl(ControlRef theControl, ControlPartCode hiliteState) {
    if (!usable(theControl)) {
        return;
    }
    if (hiliteState == kControlDisabledPart) {
        DisableControl(theControl);
        return;
    }
    if (hiliteState == kControlInactivePart) {
        DeactivateControl(theControl);
        return;
    }
    theControl->hilite = UInt16(std::max<ControlPartCode>(0, hiliteState));
    if (const KindOps& ops = opsOf(theControl->kind); ops.setDown != nullptr) {
        ops.setDown(theControl->widget, hiliteState != 0);
    }
    redraw(theControl);
}

UInt16 GetControlHilite(ControlRef inControl) {
    if (!usable(inControl)) {
        return 0;
    }
    if (!inControl->enabled) {
        return kControlDisabledPart;
    }
    if (!inControl->active) {
        return kControlInactivePart;
    }
    return inControl->hilite;
}

namespace {
void applyEnabled(ControlRef c) {
    c->widget->setEnabled(c->enabled && c->active);
    redraw(c);
}
} // namespace

OSStatus EnableControl(ControlRef inControl) {
    if (!usable(inControl)) {
        return paramErr;
    }
    inControl->enabled = true;
    applyEnabled(inControl);
    return noErr;
}

OSStatus DisableControl(ControlRef inControl) {
    if (!usable(inControl)) {
        return paramErr;
    }
    inControl->enabled = false;
    applyEnabled(inControl);
    return noErr;
}

Boolean IsControlEnabled(ControlRef inControl) {
    return usable(inControl) && inControl->enabled;
}

OSStatus ActivateControl(ControlRef inControl) {
    if (!usable(inControl)) {
        return paramErr;
    }
    inControl->active = true;
    applyEnabled(inControl);
    return noErr;
}

OSStatus DeactivateControl(ControlRef inControl) {
    if (!usable(inControl)) {
        return paramErr;
    }
    inControl->active = false;
    applyEnabled(inControl);
    return noErr;
}

Boolean IsControlActive(ControlRef inControl) {
    return usable(inControl) && inControl->active;
}

void SetControlAction(ControlRef theControl, ControlActionUPP actionProc) {
    if (isLiveControl(theControl)) {
        theControl->action = actionProc;
    }
}

ControlActionUPP GetControlAction(ControlRef theControl) {
    return isLiveControl(theControl) ? theControl->action : nullptr;
}

ControlActionUPP NewControlActionUPP(ControlActionProcPtr userRoutine) {
    return userRoutine;
}

void DisposeControlActionUPP(ControlActionUPP) {}

OSStatus RegisterToolboxObjectClass(CFStringRef inClassID, ToolboxObjectClassRef inBaseClass,
                                    ItemCount inNumEvents, const EventTypeSpec* inEventList,
                                    EventHandlerUPP inEventHandler, void* inEventHandlerData,
                                    ToolboxObjectClassRef* outClassRef) {
    if (outClassRef != nullptr) {
        *outClassRef = nullptr;
    }
    if (inClassID == nullptr || inBaseClass != nullptr || inEventHandler == nullptr ||
        (inNumEvents > 0 && inEventList == nullptr)) {
        return paramErr;
    }
    const std::string id = utf8FromCF(inClassID);
    if (id.empty()) {
        return paramErr;
    }
    if (gClasses.count(id) != 0) {
        return hiObjectClassExistsErr;
    }
    auto cls = std::make_shared<ControlClass>();
    cls->id = id;
    cls->handler = inEventHandler;
    cls->events.assign(inEventList, inEventList + inNumEvents);
    cls->userData = inEventHandlerData;
    gClasses[id] = cls;
    if (outClassRef != nullptr) {
        *outClassRef = reinterpret_cast<ToolboxObjectClassRef>(cls.get());
    }
    return noErr;
}

OSStatus UnregisterToolboxObjectClass(ToolboxObjectClassRef inClassRef) {
    auto it = std::find_if(gClasses.begin(), gClasses.end(), [&](const auto& entry) {
        return reinterpret_cast<ToolboxObjectClassRef>(entry.second.get()) == inClassRef;
    });
    if (inClassRef == nullptr || it == gClasses.end()) {
        return hiObjectClassNotFoundErr;
    }
    if (it->second->instances > 0) {
        return hiObjectClassHasInstancesErr;
    }
    it->second->registered = false;
    gClasses.erase(it);
    return noErr;
}
