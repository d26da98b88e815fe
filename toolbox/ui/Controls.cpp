// Controls.cpp - controls over the widgets of a nib window, the custom control classes and
// the click protocol of custom controls (see Controls.h).
//
// Owns: the class registry (class id -> handler), shared with the controls bound to a class
// so that a control never calls into a class record that is gone.
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

// Runs an event on a custom control with the window's port current, as a control's
// drawing expects.
OSStatus dispatchInPort(ControlRef c, EventRef event) {
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(c->window->port, nullptr);
    const OSStatus r = dispatch(&c->target, event);
    // The handler may have disposed of the window, and with it the saved port's window...
    // but never the saved port itself while the window is busy.
    SetGWorld(savedPort, savedDevice);
    return r;
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
    EventRef e = makeControlEvent(kEventControlHitTest, c);
    SetEventParameter(e, kEventParamMouseLocation, typeQDPoint, sizeof where, &where);
    SetEventParameter(e, kEventParamKeyModifiers, typeUInt32, sizeof mods, &mods);
    ControlPartCode part = kControlNoPart;
    if (dispatch(&c->target, e) == noErr) {
        GetEventParameter(e, kEventParamControlPart, typeControlPartCode, nullptr, sizeof part,
                          nullptr, &part);
    }
    ReleaseEvent(e);
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
    EventRef e = makeControlEvent(kEventControlHit, c);
    SetEventParameter(e, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
    const UInt32 mods = currentModifiers();
    SetEventParameter(e, kEventParamKeyModifiers, typeUInt32, sizeof mods, &mods);
    dispatch(&c->target, e);
    ReleaseEvent(e);
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
        EventRef track = makeControlEvent(kEventControlTrack, c);
        SetEventParameter(track, kEventParamMouseLocation, typeQDPoint, sizeof where, &where);
        SetEventParameter(track, kEventParamKeyModifiers, typeUInt32, sizeof mods, &mods);
        SetEventParameter(track, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
        const OSStatus r = dispatch(&c->target, track);
        if (r == noErr) {
            GetEventParameter(track, kEventParamControlPart, typeControlPartCode, nullptr,
                              sizeof part, nullptr, &part);
        } else if (r == eventNotHandledErr && isLiveWindow(w)) {
            part = defaultTrack(c, part);
        } else {
            part = kControlNoPart;
        }
        ReleaseEvent(track);
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
    EventRef e = nullptr;
    CreateEvent(nullptr, kEventClassKeyboard,
                event->isAutoRepeat() ? kEventRawKeyRepeat : kEventRawKeyDown, 0, 0, &e);
    SetEventParameter(e, kEventParamDirectObject, typeControlRef, sizeof c, &c);
    SetEventParameter(e, kEventParamKeyMacCharCodes, typeChar, sizeof code, &code);
    SetEventParameter(e, kEventParamKeyModifiers, typeUInt32, sizeof mods, &mods);
    const OSStatus r = dispatchInPort(c, e);
    ReleaseEvent(e);
    if (r == noErr) {
        event->accept();
        flushWindow(w);
    } else {
        event->ignore();
    }
}

ControlKind kindOf(QWidget* w) {
    if (dynamic_cast<ToolboxControlWidget*>(w) != nullptr) {
        return ControlKind::custom;
    }
    if (qobject_cast<QAbstractSlider*>(w) != nullptr) {
        return ControlKind::slider;
    }
    if (qobject_cast<QComboBox*>(w) != nullptr) {
        return ControlKind::popup;
    }
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        if (qobject_cast<QCheckBox*>(w) != nullptr || qobject_cast<QRadioButton*>(w) != nullptr ||
            b->isCheckable()) {
            return ControlKind::checkbox;
        }
        return ControlKind::pushbutton;
    }
    if (qobject_cast<QLabel*>(w) != nullptr) {
        return ControlKind::statictext;
    }
    if (qobject_cast<QLineEdit*>(w) != nullptr) {
        return ControlKind::edittext;
    }
    if (qobject_cast<QSpinBox*>(w) != nullptr) {
        return ControlKind::spinbox;
    }
    if (qobject_cast<QProgressBar*>(w) != nullptr) {
        return ControlKind::progress;
    }
    return ControlKind::other;
}

void warn(WindowRef w, QWidget* widget, const char* what) {
    std::fprintf(stderr, "toolbox: %s.ui: widget \"%s\": %s\n", w->name.c_str(),
                 widget->objectName().toUtf8().constData(), what);
}

void connectSignals(ControlRef c) {
    QObject* ctx = c->context.get();
    switch (c->kind) {
    case ControlKind::slider: {
        auto* s = qobject_cast<QAbstractSlider*>(c->widget.data());
        s->setTracking(true); // the value follows the mouse: live feedback
        QObject::connect(s, &QAbstractSlider::valueChanged, ctx, [c, s](int) {
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
        QObject::connect(s, &QAbstractSlider::sliderReleased, ctx, [c]() {
            if (c->command != 0 && isLiveWindow(c->window)) {
                FromQt fromQt;
                WindowBusy busy(c->window);
                sendCommand(&c->target, c->command, kHICommandFromControl, c, c->window);
            }
        });
        break;
    }
    case ControlKind::popup:
        QObject::connect(qobject_cast<QComboBox*>(c->widget.data()), &QComboBox::activated, ctx,
                         [c](int) { userHit(c, kControlMenuPart); });
        break;
    case ControlKind::checkbox:
        QObject::connect(qobject_cast<QAbstractButton*>(c->widget.data()),
                         &QAbstractButton::clicked, ctx,
                         [c](bool) { userHit(c, kControlCheckBoxPart); });
        break;
    case ControlKind::pushbutton:
        QObject::connect(qobject_cast<QAbstractButton*>(c->widget.data()),
                         &QAbstractButton::clicked, ctx,
                         [c](bool) { userHit(c, kControlButtonPart); });
        break;
    default:
        break;
    }
}

struct Range {
    SInt32 min, max;
};

Range rangeOf(ControlRef c) {
    QWidget* w = c->widget;
    switch (c->kind) {
    case ControlKind::slider: {
        auto* s = qobject_cast<QAbstractSlider*>(w);
        return {s->minimum(), s->maximum()};
    }
    case ControlKind::popup:
        return {1, std::max(1, qobject_cast<QComboBox*>(w)->count())};
    case ControlKind::checkbox: {
        auto* cb = qobject_cast<QCheckBox*>(w);
        return {0, cb != nullptr && cb->isTristate() ? 2 : 1};
    }
    case ControlKind::spinbox: {
        auto* s = qobject_cast<QSpinBox*>(w);
        return {s->minimum(), s->maximum()};
    }
    case ControlKind::progress: {
        auto* p = qobject_cast<QProgressBar*>(w);
        return {p->minimum(), p->maximum()};
    }
    default:
        return {c->minimum, c->maximum};
    }
}

SInt32 readValue(ControlRef c) {
    QWidget* w = c->widget;
    switch (c->kind) {
    case ControlKind::slider:
        return qobject_cast<QAbstractSlider*>(w)->value();
    case ControlKind::popup:
        return qobject_cast<QComboBox*>(w)->currentIndex() + 1;
    case ControlKind::checkbox: {
        if (auto* cb = qobject_cast<QCheckBox*>(w)) {
            const Qt::CheckState s = cb->checkState();
            return s == Qt::Checked ? 1 : s == Qt::PartiallyChecked ? 2 : 0;
        }
        return qobject_cast<QAbstractButton*>(w)->isChecked() ? 1 : 0;
    }
    case ControlKind::spinbox:
        return qobject_cast<QSpinBox*>(w)->value();
    case ControlKind::progress:
        return qobject_cast<QProgressBar*>(w)->value();
    default:
        return c->value;
    }
}

void writeValue(ControlRef c, SInt32 v) {
    const Range r = rangeOf(c);
    v = std::clamp(v, std::min(r.min, r.max), std::max(r.min, r.max));
    QWidget* w = c->widget;
    ++c->settingFromCode;
    switch (c->kind) {
    case ControlKind::slider:
        qobject_cast<QAbstractSlider*>(w)->setValue(v);
        break;
    case ControlKind::popup:
        qobject_cast<QComboBox*>(w)->setCurrentIndex(v - 1);
        break;
    case ControlKind::checkbox:
        if (auto* cb = qobject_cast<QCheckBox*>(w)) {
            cb->setCheckState(v == 2 ? Qt::PartiallyChecked : v == 1 ? Qt::Checked : Qt::Unchecked);
        } else {
            qobject_cast<QAbstractButton*>(w)->setChecked(v != 0);
        }
        break;
    case ControlKind::spinbox:
        qobject_cast<QSpinBox*>(w)->setValue(v);
        break;
    case ControlKind::progress:
        qobject_cast<QProgressBar*>(w)->setValue(v);
        break;
    default:
        c->value = v;
        break;
    }
    --c->settingFromCode;
}

void writeRange(ControlRef c, SInt32 mn, SInt32 mx) {
    QWidget* w = c->widget;
    ++c->settingFromCode;
    switch (c->kind) {
    case ControlKind::slider:
        qobject_cast<QAbstractSlider*>(w)->setRange(mn, std::max(mn, mx));
        break;
    case ControlKind::spinbox:
        qobject_cast<QSpinBox*>(w)->setRange(mn, std::max(mn, mx));
        break;
    case ControlKind::progress:
        qobject_cast<QProgressBar*>(w)->setRange(mn, std::max(mn, mx));
        break;
    case ControlKind::popup:
    case ControlKind::checkbox:
        break; // their range is their items or their states
    default:
        c->minimum = mn;
        c->maximum = mx;
        c->value = std::clamp(c->value, std::min(mn, mx), std::max(mn, mx));
        break;
    }
    --c->settingFromCode;
}

void redraw(ControlRef c) {
    if (c->kind == ControlKind::custom) {
        Draw1Control(c);
    } else if (c->widget != nullptr) {
        c->widget->update();
    }
}

bool textOf(ControlRef c, QString& text) {
    QWidget* w = c->widget;
    if (auto* l = qobject_cast<QLabel*>(w)) {
        text = l->text();
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        text = e->text();
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        text = b->text();
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        text = g->title();
    } else {
        return false;
    }
    return true;
}

bool setTextOf(ControlRef c, const QString& text) {
    QWidget* w = c->widget;
    if (auto* l = qobject_cast<QLabel*>(w)) {
        l->setText(text);
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        e->setText(text);
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(text);
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        g->setTitle(text);
    } else {
        return false;
    }
    return true;
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
    EventRef e = makeControlEvent(kEventControlDraw, c);
    const ControlPartCode part = kControlEntireControl;
    SetEventParameter(e, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
    CGrafPtr port = c->window->port;
    SetEventParameter(e, kEventParamGrafPort, typeGrafPtr, sizeof port, &port);
    dispatchInPort(c, e);
    ReleaseEvent(e);
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
        EventRef e = makeControlEvent(active ? kEventControlActivate : kEventControlDeactivate, c);
        dispatchInPort(c, e);
        ReleaseEvent(e);
    }
    flushWindow(w);
}

void bindControls(WindowRef w) {
    const QList<QWidget*> widgets = w->widget->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        // Widgets that are parts of other widgets (a combo box's view, a spin box's editor)
        // are not controls of the nib.
        if (widget->objectName().isEmpty() || widget->objectName().startsWith("qt_")) {
            continue;
        }
        const ControlKind kind = kindOf(widget);
        const QVariant sig = widget->property("signature");
        const QVariant cmd = widget->property("command");
        if (kind == ControlKind::other && !sig.isValid() && !cmd.isValid()) {
            continue;
        }
        auto c = std::make_unique<OpaqueControlRef>();
        c->window = w;
        c->widget = widget;
        c->kind = kind;
        c->target.parent = &w->target;
        ControlRef cref = c.get();
        c->target.standardHandler = [cref](EventRef e) { return standardControlHandling(cref, e); };
        if (sig.isValid()) {
            bool ok = false;
            const UInt32 code = fourCCFromText(sig.toString(), &ok);
            const QVariant num = widget->property("number");
            bool numOk = !num.isValid();
            const int n = num.isValid() ? num.toInt(&numOk) : 0;
            if (ok && numOk && n >= -32768 && n <= 32767) {
                c->id = ControlID{code, n};
                c->hasID = true;
            } else {
                warn(w, widget, "signature must be four Mac Roman characters, number 16-bit");
            }
        }
        if (cmd.isValid()) {
            bool ok = false;
            c->command = fourCCFromText(cmd.toString(), &ok);
            if (!ok) {
                c->command = 0;
                warn(w, widget, "command must be four Mac Roman characters");
            }
        }
        if (kind == ControlKind::pushbutton) {
            c->minimum = 0;
            c->maximum = 1;
        }
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            label->setTextFormat(Qt::PlainText); // texts from files are never markup
        }
        if (kind == ControlKind::custom) {
            auto* cw = static_cast<ToolboxControlWidget*>(widget);
            cw->control = cref;
            c->classID = widget->property("controlClass").toString().toStdString();
            if (c->classID.empty()) {
                warn(w, widget, "a ToolboxControl needs a controlClass");
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
        c->context = std::make_unique<QObject>();
        connectSignals(cref);
        gControls.insert(cref);
        w->controls.push_back(std::move(c));
    }
    // Custom controls learn that they are in their window, and may draw into its port.
    WindowBusy busy(w);
    for (auto& c : w->controls) {
        if (c->kind != ControlKind::custom || !isLiveWindow(w)) {
            continue;
        }
        bindClass(c.get());
        EventRef e = makeControlEvent(kEventControlOwningWindowChanged, c.get());
        const UInt32 attributes = 0;
        WindowRef none = nullptr;
        SetEventParameter(e, kEventParamAttributes, typeUInt32, sizeof attributes, &attributes);
        SetEventParameter(e, kEventParamControlOriginalOwningWindow, typeWindowRef, sizeof none,
                          &none);
        SetEventParameter(e, kEventParamControlCurrentOwningWindow, typeWindowRef, sizeof w, &w);
        dispatchInPort(c.get(), e);
        ReleaseEvent(e);
    }
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
    if (theControl->kind == ControlKind::pushbutton) {
        qobject_cast<QAbstractButton*>(theControl->widget.data())->setDown(hiliteState != 0);
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
