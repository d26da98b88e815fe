// Windows.cpp - nib references, windows from Qt Designer files, their ports, and the
// window-level input rules (close box, Escape, Return) (see MacWindows.h).
//
// Owns: the set of live windows (so a stale WindowRef is recognised rather than followed).
#include "UIPrivate.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLayout>
#include <QPushButton>
#include <QUiLoader>
#include <QWidget>
#include <QWindow>

#include <QtMath>

#include <algorithm>
#include <set>

namespace toolbox::ui {
namespace {

std::set<WindowRef> gWindows;

class FormLoader : public QUiLoader {
  public:
    using QUiLoader::QUiLoader;
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        if (className == QLatin1String("ToolboxControl")) {
            QWidget* w = createToolboxControlWidget(parent);
            w->setObjectName(name);
            return w;
        }
        return QUiLoader::createWidget(className, parent, name);
    }
};

// QUiLoader's constructor loads every Designer plug-in it can find, which drags QML and
// more into the host. Nibs use only the built-in widgets and ours, so it looks nowhere.
FormLoader& loader() {
    static FormLoader* instance = [] {
        const QStringList paths = QCoreApplication::libraryPaths();
        QCoreApplication::setLibraryPaths({});
        auto* l = new FormLoader;
        QCoreApplication::setLibraryPaths(paths);
        l->clearPluginPaths();
        return l;
    }();
    return *instance;
}

void freeWindow(WindowRef w) {
    gWindows.erase(w);
    w->controls.clear();
    delete w->filter;
    w->filter = nullptr;
    if (QWidget* widget = w->widget.data()) {
        widget->hide();
        if (FromQt::depth > 0) {
            // Qt is still inside one of these widgets; the loop that called us deletes it.
            widget->deleteLater();
        } else {
            delete widget; // a host without a Qt loop never runs deferred deletes
        }
    }
    if (w->port != nullptr) {
        // The current port must not be left pointing at freed memory.
        CGrafPtr current = nullptr;
        GDHandle device = nullptr;
        GetGWorld(&current, &device);
        if (current == w->port) {
            SetGWorld(nullptr, nullptr);
        }
        QDSetPortRefCon(w->port, nullptr);
        DisposeGWorld(w->port);
        w->port = nullptr;
    }
    delete w;
}

QPushButton* defaultButton(WindowRef w) {
    QPushButton* okByCommand = nullptr;
    for (auto& c : w->controls) {
        auto* b = qobject_cast<QPushButton*>(c->widget.data());
        if (b == nullptr || !b->isVisible() || !b->isEnabled()) {
            continue;
        }
        if (b->isDefault()) {
            return b;
        }
        if (c->command == kHICommandOK && okByCommand == nullptr) {
            okByCommand = b;
        }
    }
    return okByCommand;
}

// The window-level rules: the close box and Escape ask the window's handlers to cancel
// (kHICommandCancel) instead of closing behind a modal loop's back; Return presses the
// default button; the port follows the window's size; activation reaches custom controls.
class WindowFilter : public QObject {
  public:
    explicit WindowFilter(WindowRef w) : window(w) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window->widget || window->disposed) {
            return false;
        }
        FromQt fromQt;
        switch (event->type()) {
        case QEvent::Close: {
            event->ignore();
            WindowBusy busy(window);
            sendCommand(&window->target, kHICommandCancel, kHICommandFromWindow, nullptr, window);
            return true;
        }
        case QEvent::KeyPress: {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Escape) {
                WindowBusy busy(window);
                sendCommand(&window->target, kHICommandCancel, kHICommandFromWindow, nullptr,
                            window);
                return true;
            }
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                if (QPushButton* b = defaultButton(window)) {
                    b->click();
                    return true;
                }
            }
            return false;
        }
        case QEvent::Resize:
            resizePortToWindow(window);
            return false;
        case QEvent::WindowActivate:
            sendActivation(window, true);
            return false;
        case QEvent::WindowDeactivate:
            sendActivation(window, false);
            return false;
        default:
            return false;
        }
    }

  private:
    WindowRef window;
};

} // namespace

int FromQt::depth = 0;

bool isLiveWindow(WindowRef w) {
    return w != nullptr && gWindows.count(w) != 0 && !w->disposed;
}

WindowBusy::WindowBusy(WindowRef w) : window(gWindows.count(w) != 0 ? w : nullptr) {
    if (window != nullptr) {
        ++window->busy;
    }
}

WindowBusy::~WindowBusy() {
    if (window != nullptr && --window->busy == 0 && window->disposed) {
        freeWindow(window);
    }
}

void resizePortToWindow(WindowRef w) {
    if (w->widget == nullptr || w->port == nullptr) {
        return;
    }
    Rect bounds{0, 0, SInt16(std::clamp(w->widget->height(), 1, 32767)),
                SInt16(std::clamp(w->widget->width(), 1, 32767))};
    Rect old{};
    GetPortBounds(w->port, &old);
    if (EqualRect(&old, &bounds)) {
        return;
    }
    UpdateGWorld(&w->port, 32, &bounds, nullptr, nullptr, 0);
}

Point windowPointFromGlobal(WindowRef w, QPointF global) {
    QPointF local = w->widget->mapFromGlobal(global);
    return Point{SInt16(std::clamp<int>(qFloor(local.y()), -32768, 32767)),
                 SInt16(std::clamp<int>(qFloor(local.x()), -32768, 32767))};
}

Point windowPointFromWidget(WindowRef w, QWidget* widget, QPointF local) {
    const QPointF p = widget == w->widget ? local : widget->mapTo(w->widget.data(), local);
    return Point{SInt16(std::clamp<int>(qFloor(p.y()), -32768, 32767)),
                 SInt16(std::clamp<int>(qFloor(p.x()), -32768, 32767))};
}

QPoint globalFromWindowPoint(WindowRef w, Point p) {
    return w->widget->mapToGlobal(QPoint(p.h, p.v));
}

QWidget* widgetAtWindowPoint(WindowRef w, Point p) {
    QWidget* child = w->widget->childAt(QPoint(p.h, p.v));
    return child != nullptr ? child : w->widget.data();
}

void flushWindow(WindowRef w) {
    if (!isLiveWindow(w)) {
        return;
    }
    for (auto& c : w->controls) {
        if (c->kind == ControlKind::custom && c->widget != nullptr) {
            c->widget->setProperty("tbBlitOnly", true);
            c->widget->repaint();
            c->widget->setProperty("tbBlitOnly", QVariant());
        }
    }
}

} // namespace toolbox::ui

using namespace toolbox::ui;

OSStatus CreateNibReferenceWithCFBundle(CFBundleRef inBundle, CFStringRef inNibName,
                                        IBNibRef* outNibRef) {
    if (outNibRef == nullptr) {
        return paramErr;
    }
    *outNibRef = nullptr;
    if (inBundle == nullptr || inNibName == nullptr) {
        return paramErr;
    }
    const toolbox::cf::CFRef<CFURLRef> url(
        CFBundleCopyResourceURL(inBundle, inNibName, CFSTR("nib"), nullptr));
    if (url == nullptr) {
        return kIBCarbonRuntimeCantFindNibFile;
    }
    const std::string dir = toolbox::cf::path(url.get());
    if (!QFileInfo(QString::fromStdString(dir)).isDir()) {
        return kIBCarbonRuntimeCantFindNibFile;
    }
    *outNibRef = new OpaqueIBNibRef{dir, utf8FromCF(inNibName)};
    return noErr;
}

void DisposeNibReference(IBNibRef inNibRef) {
    delete inNibRef;
}

namespace {
// The top-level widget of a nib's window file, laid out at the size it will be shown at.
OSStatus loadWindowWidget(const QString& file, QWidget** outWidget) {
    if (!ensureQt()) {
        return noUserInteractionAllowed;
    }
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        return kIBCarbonRuntimeCantFindObject;
    }
    QWidget* widget = loader().load(&f, nullptr);
    if (widget == nullptr) {
        return kIBCarbonRuntimeObjectNotOfRequestedType;
    }
    widget->setAttribute(Qt::WA_DeleteOnClose, false);
    widget->setWindowFlag(Qt::Window, true);
    widget->ensurePolished();
    if (widget->layout() != nullptr) {
        widget->layout()->activate();
    }
    *outWidget = widget;
    return noErr;
}

// A fresh port is transparent black; a window starts out as the window's background.
void paintBackground(GWorldPtr port, const Rect& bounds, const QColor& bg) {
    PixMapHandle pm = GetGWorldPixMap(port);
    Ptr base = GetPixBaseAddr(pm);
    const SInt32 rowBytes = GetPixRowBytes(pm);
    for (int y = 0; y < bounds.bottom; ++y) {
        auto* p = reinterpret_cast<unsigned char*>(base + y * rowBytes);
        for (int x = 0; x < bounds.right; ++x, p += 4) {
            p[0] = 255;
            p[1] = UInt8(bg.red());
            p[2] = UInt8(bg.green());
            p[3] = UInt8(bg.blue());
        }
    }
}
} // namespace

OSStatus CreateWindowFromNib(IBNibRef inNibRef, CFStringRef inName, WindowRef* outWindow) {
    if (outWindow == nullptr) {
        return paramErr;
    }
    *outWindow = nullptr;
    if (inNibRef == nullptr || inName == nullptr) {
        return paramErr;
    }
    const std::string name = utf8FromCF(inName);
    const QString file =
        QString::fromStdString(inNibRef->directory) + "/" + QString::fromStdString(name) + ".ui";
    // A window name is a file name inside the nib, never a path out of it.
    if (name.empty() || name.find('/') != std::string::npos || !QFileInfo(file).isFile()) {
        return kIBCarbonRuntimeCantFindObject;
    }
    QWidget* widget = nullptr;
    if (OSStatus err = loadWindowWidget(file, &widget)) {
        return err;
    }

    auto* w = new OpaqueWindowPtr;
    w->widget = widget;
    w->name = name;
    w->target.parent = GetApplicationEventTarget();
    Rect bounds{0, 0, SInt16(std::clamp(widget->height(), 1, 32767)),
                SInt16(std::clamp(widget->width(), 1, 32767))};
    if (NewGWorld(&w->port, 32, &bounds, nullptr, nullptr, 0) != noErr) {
        delete widget;
        delete w;
        return memFullErr;
    }
    QDSetPortRefCon(w->port, w);
    paintBackground(w->port, bounds, widget->palette().color(QPalette::Window));
    gWindows.insert(w);
    w->filter = new WindowFilter(w);
    widget->installEventFilter(w->filter);
    bindControls(w);
    *outWindow = w;
    return noErr;
}

namespace {
// A window first shown while another one runs a modal loop (an about box over a dialog)
// belongs to that one, as a dialog does: transient for it and centred on it.
void placeOverOpener(QWidget* widget) {
    QWidget* opener = openerWidget();
    if (opener == nullptr || opener->window() == widget) {
        return;
    }
    opener = opener->window();
    // Only dialog-type windows are given to their parent (WM_TRANSIENT_FOR on X11).
    widget->setWindowFlags((widget->windowFlags() & ~Qt::WindowType_Mask) | Qt::Dialog);
    if (opener->windowHandle() != nullptr && widget->winId() != 0 &&
        widget->windowHandle() != nullptr) {
        widget->windowHandle()->setTransientParent(opener->windowHandle());
    }
    const QRect over = opener->frameGeometry();
    widget->move(over.center() - QPoint(widget->width() / 2, widget->height() / 2));
}
} // namespace

void ShowWindow(WindowRef window) {
    if (isLiveWindow(window) && window->widget != nullptr) {
        if (!window->widget->isVisible()) {
            placeOverOpener(window->widget);
        }
        window->widget->show();
    }
}

void HideWindow(WindowRef window) {
    if (isLiveWindow(window) && window->widget != nullptr) {
        window->widget->hide();
    }
}

Boolean IsWindowVisible(WindowRef window) {
    return isLiveWindow(window) && window->widget != nullptr && window->widget->isVisible();
}

namespace {
// Qt's offscreen platform has no stacking order (and says so on every raise).
bool stacks() {
    return QGuiApplication::platformName() != QLatin1String("offscreen");
}
} // namespace

void BringToFront(WindowRef window) {
    if (isLiveWindow(window) && window->widget != nullptr && stacks()) {
        window->widget->raise();
    }
}

void SelectWindow(WindowRef window) {
    if (isLiveWindow(window) && window->widget != nullptr) {
        if (stacks()) {
            window->widget->raise();
        }
        window->widget->activateWindow();
    }
}

void DisposeWindow(WindowRef window) {
    if (window == nullptr || gWindows.count(window) == 0 || window->disposed) {
        return;
    }
    window->disposed = true;
    for (QEventLoop* loop : window->modalLoops) {
        loop->quit();
    }
    if (window->widget != nullptr) {
        window->widget->hide();
    }
    if (window->busy == 0) {
        freeWindow(window);
    }
}

CGrafPtr GetWindowPort(WindowRef window) {
    return isLiveWindow(window) ? window->port : nullptr;
}

WindowRef GetWindowFromPort(CGrafPtr port) {
    if (port == nullptr) {
        return nullptr;
    }
    auto* w = static_cast<WindowRef>(QDGetPortRefCon(port));
    return isLiveWindow(w) && w->port == port ? w : nullptr;
}

void SetPortWindowPort(WindowRef window) {
    if (isLiveWindow(window)) {
        SetGWorld(window->port, nullptr);
    }
}

EventTargetRef GetWindowEventTarget(WindowRef window) {
    return isLiveWindow(window) ? &window->target : nullptr;
}

Rect* GetWindowPortBounds(WindowRef window, Rect* bounds) {
    if (bounds == nullptr) {
        return nullptr;
    }
    *bounds = Rect{0, 0, 0, 0};
    if (isLiveWindow(window)) {
        GetPortBounds(window->port, bounds);
    }
    return bounds;
}

OSStatus SetWindowTitleWithCFString(WindowRef inWindow, CFStringRef inString) {
    if (!isLiveWindow(inWindow)) {
        return errInvalidWindowRef;
    }
    inWindow->widget->setWindowTitle(qstringFromCF(inString));
    return noErr;
}

OSStatus CopyWindowTitleAsCFString(WindowRef inWindow, CFStringRef* outString) {
    if (outString == nullptr) {
        return paramErr;
    }
    *outString = nullptr;
    if (!isLiveWindow(inWindow)) {
        return errInvalidWindowRef;
    }
    *outString = toolbox::cf::makeString(inWindow->widget->windowTitle().toStdString());
    return *outString != nullptr ? noErr : memFullErr;
}

OSStatus QDFlushPortBuffer(CGrafPtr port, RgnHandle) {
    WindowRef w = GetWindowFromPort(port);
    if (w != nullptr) {
        flushWindow(w);
    }
    return noErr;
}
