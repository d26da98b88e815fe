// ToolboxUITesting.h - the scripted user, for tests and demos (not classic calls).
//
// Owns: the queues of scripted answers, the logs of what the modal system dialogs were
// asked to show, and the helpers that drive real windows with synthetic input.
// Promises:
// - Answers are taken first in, first out, each by the next dialog of its kind: alerts take
//   an item number, the colour picker a colour or a cancel, the Open dialog a path or a
//   cancel, LSOpenFSRef a status. While an answer of its kind is queued, a dialog shows
//   nothing and needs no display; with none queued, it behaves as for a real user.
// - Every alert, colour picker, Open dialog and open request is logged with its texts, so a
//   test can check what the user would have seen, whoever answered it.
// - Windows are driven with real (synthetic) Qt mouse and key events, posted in order to
//   the widget under the point; they are delivered when the event loop next runs (inside
//   RunAppModalLoopForWindow, or ProcessEvents). A posted drag is what a user's drag is:
//   press, moves with the button down, release.
// - WriteWindowPNG renders a window as the screen would show it (without a display on
//   Qt's offscreen platform), custom controls included.
// Main thread only.
#pragma once

#include "HIToolbox.h"

#include <string>
#include <vector>

class QWidget;

namespace toolbox::ui::testing {

// ---- scripted answers -------------------------------------------------------------------

void QueueAlertAnswer(DialogItemIndex item);
void QueueColorAnswer(RGBColor color);
void QueueColorCancel();
void QueueOpenAnswer(const std::string& path);               // one file
void QueueOpenAnswer(const std::vector<std::string>& paths); // several, if allowed
void QueueOpenCancel();
void QueueOpenWithResult(OSStatus status);
void ClearScriptedAnswers();
std::size_t PendingScriptedAnswers(); // of all kinds

// ---- what the dialogs showed ------------------------------------------------------------

struct AlertRecord {
    AlertType type = kAlertPlainAlert;
    std::string message;                // UTF-8
    std::string explanation;            // UTF-8
    std::vector<std::string> buttons;   // in item order: default, cancel, other, help
    std::vector<DialogItemIndex> items; // the item number of each button
    DialogItemIndex defaultItem = kAlertStdAlertOKButton;
    DialogItemIndex cancelItem = 0; // 0: no cancel button
    DialogItemIndex answer = 0;
    bool onScreen = false; // shown to a real user (not scripted, not standard error)
};
std::vector<AlertRecord> TakeAlertLog(); // returns the log and empties it

struct ColorPickerRecord {
    std::string prompt;
    RGBColor initial{};
};
std::vector<ColorPickerRecord> TakeColorPickerLog();

struct OpenDialogRecord {
    std::string title; // UTF-8
    bool allowsMultiple = false;
    bool typed = false; // a type list was given
    OSType creator = 0;
    std::vector<OSType> types;
};
std::vector<OpenDialogRecord> TakeOpenDialogLog();

std::vector<std::string> TakeOpenWithLog(); // paths LSOpenFSRef was asked to open

// The type filter that NavGetFile applies, for one path (folders: true).
bool OpenDialogWouldOffer(const std::string& path, bool typed, OSType creator,
                          const std::vector<OSType>& types);

// ---- driving windows --------------------------------------------------------------------

// Starts Qt the way a window would; false when there is no display.
bool StartWindowing();
// The same, for a host that must end in its own way if Qt itself gives up while starting (a
// display that went away after the check, a platform that will not load): `onFatal` is
// called with the first line Qt said, and must end the process (Qt aborts when it returns).
// Qt's own messages of that failed start are not printed.
bool StartWindowing(void (*onFatal)(const char* why));
// Runs the event loop until it has nothing left to do (posted events, timers due).
void ProcessEvents();

QWidget* WindowWidget(WindowRef window);
QWidget* ControlWidget(ControlRef control);

// Sends the command (as a control would: kHICommandFromControl, no control) to the window's
// target when the event loop next runs.
void PostCommand(WindowRef window, UInt32 commandID);
// Press and release at a point of the window (window coordinates), with key modifiers
// (optionKey, shiftKey, cmdKey, controlKey).
void PostClick(WindowRef window, Point where, UInt32 modifiers = 0);
// Press at path.front(), a move to each later point with the button down, release at
// path.back().
void PostDrag(WindowRef window, const std::vector<Point>& path, UInt32 modifiers = 0);
// A key press and release (Qt::Key values) sent to the window's focus widget, else the window.
void PostKey(WindowRef window, int qtKey, UInt32 modifiers = 0);

// The window as drawn now, as a PNG file; false if it cannot be written.
bool WriteWindowPNG(WindowRef window, const std::string& path);

} // namespace toolbox::ui::testing
