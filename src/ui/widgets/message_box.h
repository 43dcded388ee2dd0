// The one runner of the program's message boxes (questions, warnings, refusals). The box's text
// first goes to standard error as one line, so a headless run tells what it showed. Without a
// screen (the offscreen or minimal platform) no box opens and the safe answer is taken (No, else
// Cancel, else OK); tests install an answerer that replies in place of the operator.
//
// A box is shown above the window the operator works in: its owner is the active window of the
// program (a dialog or list that stays on top included), else the window of `parent`. The box
// itself stays on top; when its owner does not but another window of the program does, the box
// belongs to no window (a window manager keeps a box in its owner's layer) and is centred over
// its owner. So no window of the program covers a box while it waits for its answer. Main thread
// only.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

#include "app/startup.h"

class QWidget;

// Message boxes are titled with the main window's caption unless they have a title of their own.
inline constexpr const char* MAIN_WINDOW_CAPTION = APP_TITLE;

struct Operator_Box {
  QString Title;
  QString Text;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons Buttons = QMessageBox::Ok;
  // The caller has already written the standard-error line (the core writes it for its own boxes,
  // screen or not).
  bool Line_Written = false;
};

// How a window raises a box: the real runner, or a test's stand-in for the operator.
using Operator_Box_Runner =
    std::function<QMessageBox::StandardButton(QWidget* parent, const Operator_Box& box)>;

// Replaces the operator for every following box of Run_Operator_Box (empty = real boxes again).
void Set_Box_Answerer(Operator_Box_Runner answerer);

// The answer of an operator who is not there: No, else Cancel, else OK.
QMessageBox::StandardButton Safe_Answer(QMessageBox::StandardButtons buttons);

// The window a box raised from `parent` is shown over: the program's active window when there is
// one, else `parent`'s window (null when both are missing).
QWidget* Box_Owner(QWidget* parent);

// Shows `box` modally over Box_Owner(parent) and returns the button pressed.
QMessageBox::StandardButton Run_Operator_Box(QWidget* parent, const Operator_Box& box);
