#include "ui/virtual_ports_menu.h"

Virtual_Ports_Outcome VirtualPortsTool1Click(Virtual_Ports_Tool& tool, Operator_Port& screen,
                                             const Operator_Box_Runner& box, QWidget* parent,
                                             const std::function<void()>& com_ports_available) {
  Virtual_Ports_Outcome outcome = tool.Run();
  if (outcome.Result == Virtual_Ports_Outcome::Failed) {
    box(parent, {MAIN_WINDOW_CAPTION, QString::fromStdString(outcome.Warning), QMessageBox::Warning,
                 QMessageBox::Ok});
  } else {
    screen.Log_Message(outcome.Log_Line, LOG_BLACK);
  }
  if (com_ports_available) com_ports_available();
  return outcome;
}
