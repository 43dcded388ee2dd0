#include "ui/widgets/operator_box.h"

#include <QGuiApplication>
#include <cstdio>

namespace {

bool Has_Screen() {
  const QString platform = QGuiApplication::platformName();
  return platform != "offscreen" && platform != "minimal";
}

// The answer of an operator who is not there: the safe button of the box.
QMessageBox::StandardButton Default_Answer(QMessageBox::StandardButtons buttons) {
  if (buttons.testFlag(QMessageBox::No)) return QMessageBox::No;
  if (buttons.testFlag(QMessageBox::Cancel)) return QMessageBox::Cancel;
  return QMessageBox::Ok;
}

}  // namespace

QMessageBox::StandardButton Run_Operator_Box(QWidget* parent, const Operator_Box& box) {
  std::fprintf(stderr, "%s\n", box.Text.toLocal8Bit().constData());
  std::fflush(stderr);
  // Headless (offscreen or minimal platform) no box can be answered: take the safe answer.
  if (!Has_Screen()) return Default_Answer(box.Buttons);
  QMessageBox message(box.Icon, box.Title, box.Text, box.Buttons, parent);
  return static_cast<QMessageBox::StandardButton>(message.exec());
}
