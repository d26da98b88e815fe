// QtRuntime.cpp - starting Qt lazily and safely inside a host that may not have it.
//
// Owns: the QApplication this toolbox made (if any; never deleted, since a plug-in that
// uses it stays loaded), its argc/argv, and the application-wide input filter that keeps the
// key modifiers of the event being handled.
// Promises: Qt is started only on the main thread and only when a platform can really open
// (QT_QPA_PLATFORM given, an X server that accepts a connection, or a Wayland socket), so a
// host without a display is never aborted by Qt; the C locale of the process is the same
// afterwards as before; a QApplication the host made is used and left alone. Should Qt still
// give up while starting (the display went away after the check, a platform that will not
// load), the host's start-up failure handler, if it gave one, ends the process its own way
// instead of Qt's abort, and Qt's messages of the failed start are not printed.
#include "UIPrivate.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QMouseEvent>

#include <clocale>
#include <cstdlib>
#include <dlfcn.h>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace toolbox::ui {
namespace {

int gArgc = 1;
char gArg0[] = "tessera";
char* gArgv[] = {gArg0, nullptr};
std::string gReason;
UInt32 gModifiers = 0;

void (*gStartFailure)(const char* why) = nullptr;
QtMessageHandler gPreviousHandler = nullptr;
std::vector<std::pair<QtMsgType, std::string>> gStartMessages; // Qt's words while starting

// Holds back what Qt says while the QApplication is being made: kept for the host when the
// start fails, passed on when it succeeds.
void StartMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    std::string line = text.toStdString();
    if (const auto cut = line.find('\n'); cut != std::string::npos) {
        line.resize(cut);
    }
    if (type != QtFatalMsg) {
        gStartMessages.emplace_back(type, line);
        return;
    }
    if (gStartFailure != nullptr) {
        // The first thing Qt said names the cause best ("could not connect to display :1").
        gStartFailure(gStartMessages.empty() ? line.c_str()
                                             : gStartMessages.front().second.c_str());
    }
    if (gPreviousHandler != nullptr) {
        for (const auto& [kept, said] : gStartMessages) {
            gPreviousHandler(kept, QMessageLogContext(), QString::fromStdString(said));
        }
        gStartMessages.clear();
        gPreviousHandler(type, context, text);
    }
}

// Installs StartMessageHandler for the life of the guard.
class StartMessageGuard {
  public:
    StartMessageGuard() {
        gStartMessages.clear();
        gPreviousHandler = qInstallMessageHandler(StartMessageHandler);
    }
    ~StartMessageGuard() {
        qInstallMessageHandler(gPreviousHandler);
        if (gPreviousHandler != nullptr) {
            for (const auto& [type, line] : gStartMessages) {
                gPreviousHandler(type, QMessageLogContext(), QString::fromStdString(line));
            }
        }
        gStartMessages.clear();
    }
    StartMessageGuard(const StartMessageGuard&) = delete;
    StartMessageGuard& operator=(const StartMessageGuard&) = delete;
};

bool onMainThread() {
    return static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid();
}

// Asks libxcb (loaded only for the question) whether the X server named by DISPLAY takes a
// connection. Qt's xcb platform aborts the process when it cannot connect.
bool xServerReachable() {
    void* lib = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
        return false;
    }
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    struct Cookie {
        unsigned int sequence;
    };
    using FocusRequest = Cookie (*)(void*);
    using FocusReply = void* (*)(void*, Cookie, void**);
    auto connect = reinterpret_cast<Connect>(::dlsym(lib, "xcb_connect"));
    auto hasError = reinterpret_cast<HasError>(::dlsym(lib, "xcb_connection_has_error"));
    auto disconnect = reinterpret_cast<Disconnect>(::dlsym(lib, "xcb_disconnect"));
    auto focus = reinterpret_cast<FocusRequest>(::dlsym(lib, "xcb_get_input_focus"));
    auto focusReply = reinterpret_cast<FocusReply>(::dlsym(lib, "xcb_get_input_focus_reply"));
    bool ok = false;
    if (connect != nullptr && hasError != nullptr && disconnect != nullptr && focus != nullptr &&
        focusReply != nullptr) {
        void* conn = connect(nullptr, nullptr);
        if (conn != nullptr) {
            // One round trip: the server is not only there but answering.
            if (hasError(conn) == 0) {
                void* error = nullptr;
                void* reply = focusReply(conn, focus(conn), &error);
                ok = reply != nullptr && error == nullptr;
                std::free(reply);
                std::free(error);
            }
            disconnect(conn);
        }
    }
    ::dlclose(lib);
    return ok;
}

// Qt aborts when the platform plug-in it was told to use is not installed.
bool platformPluginInstalled(const std::string& name) {
    const QString dir = QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms";
    const QStringList found =
        QDir(dir).entryList({QString("libq%1*.so").arg(QString::fromStdString(name))});
    return !found.isEmpty();
}

bool envSet(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0';
}

// Which platform Qt would pick, and whether it can open. An empty platform name means Qt's
// default for this build (xcb, or wayland when only Wayland is there).
bool platformUsable(std::string& why) {
    std::string platform;
    if (envSet("QT_QPA_PLATFORM")) {
        platform = std::getenv("QT_QPA_PLATFORM");
        platform = platform.substr(0, platform.find_first_of(";:"));
    }
    const bool wantsX = platform.empty() || platform == "xcb";
    const bool wantsWayland = platform.rfind("wayland", 0) == 0;
    if (!platform.empty() && !wantsX && !wantsWayland) {
        return true; // offscreen, minimal, vnc...: they need no display server
    }
    if (wantsWayland) {
        if (!platformPluginInstalled("wayland")) {
            why = "Qt's Wayland platform is not installed";
            return false;
        }
        if (envSet("WAYLAND_DISPLAY")) {
            return true;
        }
        why = "no Wayland display (WAYLAND_DISPLAY is not set)";
        return false;
    }
    if (envSet("DISPLAY") && platformPluginInstalled("xcb")) {
        if (xServerReachable()) {
            return true;
        }
        why = std::string("the X display ") + std::getenv("DISPLAY") + " does not answer";
        return false;
    }
    if (platform.empty() && envSet("WAYLAND_DISPLAY") && platformPluginInstalled("wayland")) {
        ::setenv("QT_QPA_PLATFORM", "wayland", 0);
        return true;
    }
    why = "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    return false;
}

class InputFilter : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            gModifiers = modifiersFromQt(static_cast<QInputEvent*>(event)->modifiers());
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }
};

bool gInstalled = false;

void installFilter() {
    if (!gInstalled) {
        qApp->installEventFilter(new InputFilter(qApp));
        gInstalled = true;
    }
}

} // namespace

bool ensureQt() {
    if (QCoreApplication::instance() != nullptr) {
        if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
            gReason = "the host runs Qt without widgets";
            return false;
        }
        installFilter();
        return true;
    }
    if (!onMainThread()) {
        gReason = "windows can only be made on the main thread";
        return false;
    }
    std::string why;
    if (!platformUsable(why)) {
        gReason = why;
        return false;
    }
    // QApplication sets the C locale from the environment; the host's numbers and texts must
    // not change under it.
    const char* current = std::setlocale(LC_ALL, nullptr);
    const std::string saved = current != nullptr ? current : "C";
    {
        const StartMessageGuard quiet;
        new QApplication(gArgc, gArgv);
    }
    std::setlocale(LC_ALL, saved.c_str());
    QApplication::setQuitOnLastWindowClosed(false);
    installFilter();
    return true;
}

void setStartFailureHandler(void (*handler)(const char* why)) {
    gStartFailure = handler;
}

bool qtRunning() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

std::string qtUnavailableReason() {
    return gReason.empty() ? std::string("no display") : gReason;
}

UInt32 modifiersFromQt(Qt::KeyboardModifiers mods) {
    UInt32 m = 0;
    if (mods & Qt::ShiftModifier) {
        m |= shiftKey;
    }
    if (mods & Qt::AltModifier) {
        m |= optionKey;
    }
    if (mods & Qt::ControlModifier) {
        m |= controlKey;
    }
    if (mods & Qt::MetaModifier) {
        m |= cmdKey;
    }
    return m;
}

Qt::KeyboardModifiers qtFromModifiers(UInt32 mods) {
    Qt::KeyboardModifiers m;
    if (mods & shiftKey) {
        m |= Qt::ShiftModifier;
    }
    if (mods & optionKey) {
        m |= Qt::AltModifier;
    }
    if (mods & controlKey) {
        m |= Qt::ControlModifier;
    }
    if (mods & cmdKey) {
        m |= Qt::MetaModifier;
    }
    return m;
}

UInt32 currentModifiers() {
    return gModifiers;
}

void setCurrentModifiers(UInt32 mods) {
    gModifiers = mods;
}

} // namespace toolbox::ui

UInt32 GetCurrentEventKeyModifiers() {
    return toolbox::ui::currentModifiers();
}

UInt32 GetCurrentKeyModifiers() {
    return toolbox::ui::currentModifiers();
}
