#include "app/ui/operator_box.h"

#include <cstdio>

QMessageBox::StandardButton Run_Operator_Box(QWidget* parent, const Operator_Box& box) {
  std::fprintf(stderr, "%s\n", box.Text.toLocal8Bit().constData());
  std::fflush(stderr);
  QMessageBox message(box.Icon, box.Title, box.Text, box.Buttons, parent);
  return static_cast<QMessageBox::StandardButton>(message.exec());
}
