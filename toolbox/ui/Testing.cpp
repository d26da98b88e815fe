// Testing.cpp - the scripted user (see ToolboxUITesting.h) and the queues the system
// dialogs read it from (Seam.h).
//
// Owns: the answer queues and the dialog logs.
#include "Seam.h"
#include "UIPrivate.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QTimer>

#include <deque>

namespace toolbox::ui {
namespace {

std::deque<DialogItemIndex> gAlertAnswers;
std::deque<std::optional<RGBColor>> gColorAnswers;
std::deque<std::vector<std::string>> gOpenAnswers;
std::deque<OSStatus> gOpenWithResults;
std::vector<testing::AlertRecord> gAlertLog;
std::vector<testing::ColorPickerRecord> gColorLog;
std::vector<testing::OpenDialogRecord> gOpenLog;
std::vector<std::string> gOpenWithLog;

template <typename T> std::optional<T> pop(std::deque<T>& q) {
    if (q.empty()) {
        return std::nullopt;
    }
    T v = std::move(q.front());
    q.pop_front();
    return v;
}

template <typename T> std::vector<T> take(std::vector<T>& log) {
    std::vector<T> out;
    out.swap(log);
    return out;
}

} // namespace

namespace seam {
std::optional<DialogItemIndex> takeAlertAnswer() {
    return pop(gAlertAnswers);
}
void logAlert(testing::AlertRecord record) {
    gAlertLog.push_back(std::move(record));
}
std::optional<std::optional<RGBColor>> takeColorAnswer() {
    return pop(gColorAnswers);
}
void logColorPicker(testing::ColorPickerRecord record) {
    gColorLog.push_back(std::move(record));
}
std::optional<std::vector<std::string>> takeOpenAnswer() {
    return pop(gOpenAnswers);
}
void logOpenDialog(testing::OpenDialogRecord record) {
    gOpenLog.push_back(std::move(record));
}
std::optional<OSStatus> takeOpenWithResult() {
    return pop(gOpenWithResults);
}
void logOpenWith(const std::string& path) {
    gOpenWithLog.push_back(path);
}
} // namespace seam

namespace testing {

void QueueAlertAnswer(DialogItemIndex item) {
    gAlertAnswers.push_back(item);
}
void QueueColorAnswer(RGBColor color) {
    gColorAnswers.emplace_back(color);
}
void QueueColorCancel() {
    gColorAnswers.emplace_back(std::nullopt);
}
void QueueOpenAnswer(const std::string& path) {
    gOpenAnswers.push_back({path});
}
void QueueOpenAnswer(const std::vector<std::string>& paths) {
    gOpenAnswers.push_back(paths.empty() ? std::vector<std::string>{""} : paths);
}
void QueueOpenCancel() {
    gOpenAnswers.push_back({});
}
void QueueOpenWithResult(OSStatus status) {
    gOpenWithResults.push_back(status);
}
void ClearScriptedAnswers() {
    gAlertAnswers.clear();
    gColorAnswers.clear();
    gOpenAnswers.clear();
    gOpenWithResults.clear();
}
std::size_t PendingScriptedAnswers() {
    return gAlertAnswers.size() + gColorAnswers.size() + gOpenAnswers.size() +
           gOpenWithResults.size();
}

std::vector<AlertRecord> TakeAlertLog() {
    return take(gAlertLog);
}
std::vector<ColorPickerRecord> TakeColorPickerLog() {
    return take(gColorLog);
}
std::vector<OpenDialogRecord> TakeOpenDialogLog() {
    return take(gOpenLog);
}
std::vector<std::string> TakeOpenWithLog() {
    return take(gOpenWithLog);
}

bool StartWindowing() {
    return ensureQt();
}

bool StartWindowing(void (*onFatal)(const char* why)) {
    // The handler is the caller's for this start only.
    struct HandlerScope {
        explicit HandlerScope(void (*handler)(const char*)) { setStartFailureHandler(handler); }
        ~HandlerScope() { setStartFailureHandler(nullptr); }
    } scope(onFatal);
    return ensureQt();
}

void ProcessEvents() {
    if (!qtRunning()) {
        return;
    }
    // Posted events may post more (a click that sends a command that redraws...).
    for (int round = 0; round < 20; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

QWidget* WindowWidget(WindowRef window) {
    return isLiveWindow(window) ? window->widget.data() : nullptr;
}

QWidget* ControlWidget(ControlRef control) {
    return isLiveControl(control) ? control->widget.data() : nullptr;
}

void PostCommand(WindowRef window, UInt32 commandID) {
    if (!isLiveWindow(window)) {
        return;
    }
    QTimer::singleShot(0, window->widget.data(), [window, commandID]() {
        if (isLiveWindow(window)) {
            FromQt fromQt;
            WindowBusy busy(window);
            sendCommand(&window->target, commandID, kHICommandFromControl, nullptr, window);
        }
    });
}

namespace {

void postMouse(WindowRef window, QWidget* target, QEvent::Type type, Point where,
               Qt::MouseButton button, Qt::MouseButtons buttons, UInt32 modifiers) {
    // The event is made when it is delivered, not now: Qt keeps one current point per
    // pointing device, so events made ahead of time would share their global positions.
    QPointer<QWidget> receiver(target);
    QMetaObject::invokeMethod(
        target,
        [window, receiver, type, where, button, buttons, modifiers]() {
            if (receiver == nullptr || !isLiveWindow(window)) {
                return;
            }
            const QPoint global = globalFromWindowPoint(window, where);
            const QPointF local = receiver->mapFromGlobal(QPointF(global));
            QMouseEvent event(type, local, local, QPointF(global), button, buttons,
                              qtFromModifiers(modifiers));
            QCoreApplication::sendEvent(receiver.data(), &event);
        },
        Qt::QueuedConnection);
}

} // namespace

void PostClick(WindowRef window, Point where, UInt32 modifiers) {
    PostDrag(window, {where}, modifiers);
}

void PostDrag(WindowRef window, const std::vector<Point>& path, UInt32 modifiers) {
    if (!isLiveWindow(window) || path.empty()) {
        return;
    }
    // Everything goes to the widget under the press, as Qt's implicit mouse grab does.
    QWidget* target = widgetAtWindowPoint(window, path.front());
    postMouse(window, target, QEvent::MouseButtonPress, path.front(), Qt::LeftButton,
              Qt::LeftButton, modifiers);
    for (std::size_t i = 1; i < path.size(); ++i) {
        postMouse(window, target, QEvent::MouseMove, path[i], Qt::NoButton, Qt::LeftButton,
                  modifiers);
    }
    postMouse(window, target, QEvent::MouseButtonRelease, path.back(), Qt::LeftButton, Qt::NoButton,
              modifiers);
}

void PostKey(WindowRef window, int qtKey, UInt32 modifiers) {
    if (!isLiveWindow(window)) {
        return;
    }
    // Keys go where the window system sends them: the window's focus widget, if it has one.
    QWidget* target = window->widget->focusWidget() != nullptr ? window->widget->focusWidget()
                                                               : window->widget.data();
    QCoreApplication::postEvent(target,
                                new QKeyEvent(QEvent::KeyPress, qtKey, qtFromModifiers(modifiers)));
    QCoreApplication::postEvent(
        target, new QKeyEvent(QEvent::KeyRelease, qtKey, qtFromModifiers(modifiers)));
}

bool WriteWindowPNG(WindowRef window, const std::string& path) {
    if (!isLiveWindow(window)) {
        return false;
    }
    WindowBusy busy(window);
    const QPixmap picture = window->widget->grab();
    return !picture.isNull() && picture.save(QString::fromStdString(path), "PNG");
}

} // namespace testing
} // namespace toolbox::ui
