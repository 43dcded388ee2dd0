#include "ui/operator_windows.h"

#include "app/receiver_core.h"
#include "ui/virtual_ports_menu.h"

Operator_Windows::Operator_Windows(Receiver_Core& core, QWidget* owner)
    : core_(core),
      owner_(owner),
      events_(new TForm_Events(core.Journal(), core.Sync().Run_Gate, owner)),
      objects_(new TForm_Latest_Events(core.Objects(), core.Sync(), &core.Ping_Timer(), owner)),
      data_log_(new TForm_Log_Test(owner)),
      virtual_ports_(core.Data_Folder()) {
  QObject::connect(&core, &Receiver_Core::Ping_Ticked, objects_, &TForm_Latest_Events::Ping_Ticked);
}

Operator_Windows::~Operator_Windows() {
  if (owner_ != nullptr) return;  // the owner deletes them
  delete events_;
  delete objects_;
  delete data_log_;
}

void Operator_Windows::Show_Window(QWidget& window) {
  window.showNormal();
  window.raise();
  window.activateWindow();
}

Virtual_Ports_Outcome Operator_Windows::VirtualPortsTool1Click(
    const std::function<void()>& com_ports_available) {
  return ::VirtualPortsTool1Click(virtual_ports_, core_.Operator(), box_, owner_,
                                  com_ports_available);
}

void Operator_Windows::Set_Box_Runner(Operator_Box_Runner runner) {
  box_ = runner;
  events_->Set_Box_Runner(runner);
  objects_->Set_Box_Runner(runner);
  data_log_->Set_Box_Runner(runner);
}
