// The message boxes of the operator's windows (questions, warnings), behind one replaceable call
// so that tests can answer them. The real runner writes the box's text to standard error before
// the box opens, then shows it modally; without a screen (offscreen or minimal platform) it opens
// nothing and takes the safe answer (No, else Cancel, else OK). Main thread only.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

#include "app/startup.h"

// Message boxes are titled with the main window's caption unless they have a title of their own.
inline constexpr const char* MAIN_WINDOW_CAPTION = APP_TITLE;

struct Operator_Box {
  QString Title;
  QString Text;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons Buttons = QMessageBox::Ok;
};

// Shows `box` over `parent` and returns the button the operator pressed.
using Operator_Box_Runner =
    std::function<QMessageBox::StandardButton(QWidget* parent, const Operator_Box& box)>;

QMessageBox::StandardButton Run_Operator_Box(QWidget* parent, const Operator_Box& box);
