// Message boxes of the program. Every box first writes its text as one line to standard error.
// Without a screen (the offscreen or minimal platform) no box opens and the default answer is
// taken; tests install an answerer that replies in place of the operator. Main thread only.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

enum class Box_Kind {
  Plain_Ok,            // a plain box with an OK button
  Question_Yes_No,     // question icon, Yes and No
  Question_Ok_Cancel,  // question icon, OK and Cancel
};

struct Box_Request {
  Box_Kind Kind;
  QString Title;
  QString Text;
};

using Box_Answerer = std::function<QMessageBox::StandardButton(const Box_Request&)>;

// Replaces the operator for every following box (empty = the real boxes again).
void Set_Box_Answerer(Box_Answerer answerer);

// Whether Show_Box still writes the standard-error line (the core writes it for its own boxes).
enum class Box_Line { Write, Already_Written };

// Shows the box and returns the button chosen: Ok, Yes, No or Cancel. Without a screen the answer
// is Ok for a plain box, No and Cancel for the questions.
QMessageBox::StandardButton Show_Box(QWidget* parent, Box_Kind kind, const QString& title,
                                     const QString& text, Box_Line line = Box_Line::Write);
