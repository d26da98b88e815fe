// HIToolbox.h - the windowing half of the toolbox, on Qt 6 Widgets: one include for
// windows from nibs, controls and custom control classes, events and modal loops, standard
// alerts, the colour picker, the Open dialog, opening documents and decoding images.
//
// Qt is started lazily, on the main thread, the first time a window or an alert is needed
// (a QApplication the host already made is used as it is and never deleted). It starts
// only when it can: with QT_QPA_PLATFORM set (offscreen for tests), or with DISPLAY naming
// an X server that accepts a connection, or WAYLAND_DISPLAY. Otherwise windows are refused
// with noUserInteractionAllowed and alerts go to standard error. The process locale is the
// same after Qt starts as before. Decoding images (ImageIO.h) never starts it.
//
// How a nib is laid out
// ---------------------
// A nib "<name>" is the folder "<name>.nib" among the bundle's resources
// (Contents/Resources/<name>.nib/). Each window in it is one Qt Designer form,
// "<window>.ui", whose top-level widget is the window (a QWidget or QDialog; its
// windowTitle is the title, its geometry the size, its windowModality is kept). Widgets are
// placed with fixed geometry or with layouts, as Designer allows.
//
// A widget becomes a control addressed by the toolbox through dynamic properties (in
// Designer: "Add dynamic property"; in the file `<property name="..." stdset="0">`):
//
//   signature     string, four characters (Mac Roman), e.g. "Sldr"   \ together the
//   number        int, signed 16-bit, e.g. 1                          / ControlID
//   command       string, four characters, e.g. "ok  " or "Medi": the command the control
//                 sends (kEventCommandProcess) when it is clicked or chosen
//   controlClass  string, the class id of a custom control class, e.g.
//                 "com.kelmar.vidkit.clip"; the widget must be a ToolboxControl (declared
//                 in the form's <customwidgets> as ToolboxControl extending QWidget)
//   minimum, maximum, value   int, optional, the initial range and value of a custom control
//
// Every QAbstractSlider (slider, scroll bar, dial), QComboBox (pop-up menu), QAbstractButton
// (push button, check box, radio button), QLabel (static text), QLineEdit (edit text),
// QSpinBox, QProgressBar and ToolboxControl of the form is a control; any other widget is
// one when it has a signature or a command. An example:
//
//   <widget class="QSlider" name="blockWidth">
//     <property
//     name="geometry"><rect><x>20</x><y>300</y><width>200</width><height>24</height></rect></property>
//     <property name="orientation"><enum>Qt::Horizontal</enum></property>
//     <property name="maximum"><number>100</number></property>
//     <property name="signature" stdset="0"><string>Sldr</string></property>
//     <property name="number" stdset="0"><number>1</number></property>
//   </widget>
//   <widget class="QPushButton" name="okButton">
//     <property name="text"><string>OK</string></property>
//     <property name="default"><bool>true</bool></property>
//     <property name="command" stdset="0"><string>ok  </string></property>
//   </widget>
//   <widget class="ToolboxControl" name="preview">
//     <property name="signature" stdset="0"><string>Clip</string></property>
//     <property name="number" stdset="0"><number>1</number></property>
//     <property name="controlClass" stdset="0"><string>com.kelmar.vidkit.clip</string></property>
//   </widget>
//
// Keys: Return presses the window's default push button (or the one whose command is
// "ok  "); Escape and the window's close box send "not!" (kHICommandCancel) to the window,
// so that a modal loop is always ended by the window's own handler, never behind its back.
#pragma once

#include "CarbonEvents.h"
#include "ColorPicker.h"
#include "Controls.h"
#include "Dialogs.h"
#include "ImageIO.h"
#include "LaunchServices.h"
#include "MacWindows.h"
#include "Navigation.h"
