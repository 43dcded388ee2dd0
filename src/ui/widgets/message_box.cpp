#include "ui/widgets/message_box.h"

#include <QGuiApplication>

#include "app/startup.h"

namespace {

Box_Answerer& Answerer() {
  static Box_Answerer answerer;
  return answerer;
}

bool Has_Screen() {
  const QString platform = QGuiApplication::platformName();
  return platform != "offscreen" && platform != "minimal";
}

QMessageBox::StandardButton Default_Answer(Box_Kind kind) {
  switch (kind) {
    case Box_Kind::Question_Yes_No:
      return QMessageBox::No;
    case Box_Kind::Question_Ok_Cancel:
      return QMessageBox::Cancel;
    case Box_Kind::Plain_Ok:
      break;
  }
  return QMessageBox::Ok;
}

}  // namespace

void Set_Box_Answerer(Box_Answerer answerer) {
  Answerer() = std::move(answerer);
}

QMessageBox::StandardButton Show_Box(QWidget* parent, Box_Kind kind, const QString& title,
                                     const QString& text, Box_Line line) {
  if (line == Box_Line::Write) Write_Message_Line(text.toStdString());
  if (Answerer()) return Answerer()(Box_Request{kind, title, text});
  if (!Has_Screen()) return Default_Answer(kind);

  QMessageBox box(parent);
  box.setWindowTitle(title);
  box.setText(text);
  switch (kind) {
    case Box_Kind::Plain_Ok:
      box.setIcon(QMessageBox::NoIcon);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case Box_Kind::Question_Yes_No:
      box.setIcon(QMessageBox::Question);
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    case Box_Kind::Question_Ok_Cancel:
      box.setIcon(QMessageBox::Question);
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      break;
  }
  const int answer = box.exec();
  return static_cast<QMessageBox::StandardButton>(answer);
}
