// Tracking.cpp - the blocking mouse tracking that custom controls run inside a click.
//
// Owns: the one tracking session (a click is being tracked) and the mouse reports it has
// caught but not yet handed out.
// Promises: while a session is open, the mouse moves and the button release that Qt delivers
// to the session window's widgets (the pressed widget, by Qt's implicit grab, wherever the
// mouse is) are taken from the widgets (they belong to the click) and handed out in order by
// TrackMouseLocation, in the session window's coordinates. A session ends at the
// release; a window that goes away during it ends it too.
#include "UIPrivate.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QEventLoop>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <climits>
#include <deque>
#include <memory>

namespace toolbox::ui {

struct TrackingSession : QObject {
    WindowRef window = nullptr;
    Point last{};
    bool released = false;
    struct Report {
        MouseTrackingResult what;
        Point where;
        UInt32 modifiers;
    };
    std::deque<Report> reports;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (released) {
            return false;
        }
        if (event->type() != QEvent::MouseMove && event->type() != QEvent::MouseButtonRelease) {
            return false;
        }
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (event->type() == QEvent::MouseMove && !(mouse->buttons() & Qt::LeftButton)) {
            return false; // a hover, not a drag
        }
        if (event->type() == QEvent::MouseButtonRelease && mouse->button() != Qt::LeftButton) {
            return false;
        }
        if (!isLiveWindow(window)) {
            return false;
        }
        // Only the widget-level event is the click's: the window-system event reaches the
        // QWindow first and must go on, so that Qt ends its own mouse grab at the release.
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget == nullptr || window->widget == nullptr ||
            (widget != window->widget && !window->widget->isAncestorOf(widget))) {
            return false;
        }
        const Point where = windowPointFromWidget(window, widget, mouse->position());
        const UInt32 mods = modifiersFromQt(mouse->modifiers());
        if (event->type() == QEvent::MouseButtonRelease) {
            reports.push_back({kMouseTrackingMouseUp, where, mods});
            released = true;
        } else {
            reports.push_back({kMouseTrackingMouseDragged, where, mods});
        }
        return true; // the click's own: no widget sees it
    }
};

namespace {
std::unique_ptr<TrackingSession> gSession;
}

void beginTracking(WindowRef w, Point start) {
    endTracking();
    gSession = std::make_unique<TrackingSession>();
    gSession->window = w;
    gSession->last = start;
    QCoreApplication::instance()->installEventFilter(gSession.get());
}

void endTracking() {
    if (gSession != nullptr) {
        QCoreApplication::instance()->removeEventFilter(gSession.get());
        gSession.reset();
    }
}

bool trackingActive() {
    return gSession != nullptr;
}

} // namespace toolbox::ui

using namespace toolbox::ui;

namespace {

// Sleeps until Qt has an event: a mouse held still sends none, so a held drag costs no
// CPU. (processEvents with a time limit drops WaitForMoreEvents and would spin.) A timeout
// is an event of its own, a timer that wakes the wait.
void waitForEvent(const QDeadlineTimer& deadline) {
    std::unique_ptr<QTimer> wake;
    if (!deadline.isForever()) {
        wake = std::make_unique<QTimer>();
        wake->setSingleShot(true);
        wake->start(int(std::clamp<qint64>(deadline.remainingTime(), 0, INT_MAX)));
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Waits until the session `s` has a report to hand out. False when the wait ends without
// one (the button went up, the window went away, the time ran out or the session was
// ended), with outPt and outResult saying which.
bool awaitReport(TrackingSession*& s, EventTime inTimeout, Point* outPt,
                 MouseTrackingResult* outResult) {
    QDeadlineTimer deadline = inTimeout < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                            : QDeadlineTimer(qint64(inTimeout * 1000.0));
    while (s->reports.empty()) {
        if (s->released || !isLiveWindow(s->window)) {
            *outPt = s->last;
            *outResult = kMouseTrackingMouseUp;
            return false;
        }
        if (deadline.hasExpired()) {
            *outPt = s->last;
            *outResult = kMouseTrackingTimedOut;
            return false;
        }
        waitForEvent(deadline);
        s = gSession.get();
        if (s == nullptr) { // the session was ended from inside the loop
            *outPt = Point{0, 0};
            *outResult = kMouseTrackingMouseUp;
            return false;
        }
    }
    return true;
}

} // namespace

OSStatus TrackMouseLocationWithOptions(GrafPtr inPort, OptionBits, EventTime inTimeout,
                                       Point* outPt, UInt32* outModifiers,
                                       MouseTrackingResult* outResult) {
    if (outPt == nullptr || outResult == nullptr) {
        return paramErr;
    }
    TrackingSession* s = gSession.get();
    if (s == nullptr || !isLiveWindow(s->window)) {
        // No click in progress: the button is up.
        *outPt = s != nullptr ? s->last : Point{0, 0};
        *outResult = kMouseTrackingMouseUp;
        if (outModifiers != nullptr) {
            *outModifiers = currentModifiers();
        }
        return noErr;
    }
    if (!awaitReport(s, inTimeout, outPt, outResult)) {
        return noErr;
    }
    const auto report = s->reports.front();
    s->reports.pop_front();
    s->last = report.where;
    setCurrentModifiers(report.modifiers);
    // Positions are asked for in the port's coordinates; a window's port has the window's.
    Point where = report.where;
    WindowRef portWindow = GetWindowFromPort(inPort);
    if (portWindow != nullptr && portWindow != s->window) {
        const QPoint global = globalFromWindowPoint(s->window, where);
        where = windowPointFromGlobal(portWindow, QPointF(global));
    }
    *outPt = where;
    *outResult = report.what;
    if (outModifiers != nullptr) {
        *outModifiers = report.modifiers;
    }
    // Whatever was drawn for the last report is shown before waiting for the next one.
    flushWindow(s->window);
    return noErr;
}

OSStatus TrackMouseLocation(GrafPtr inPort, Point* outPt, MouseTrackingResult* outResult) {
    if (inPort == nullptr) {
        GetPort(&inPort);
    }
    return TrackMouseLocationWithOptions(inPort, 0, kEventDurationForever, outPt, nullptr,
                                         outResult);
}
