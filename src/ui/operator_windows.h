// The operator's windows beside the main window: Event List, Object List and Data Log, created
// hidden at start-up for one Receiver_Core and kept until the program ends, and the "Virtual
// Serial Ports" tool. The Object List takes its part of every tick of the core's supervision
// timer whether it is shown or not. Main thread only.
#pragma once

#include <functional>
#include <string>

#include "automation/virtual_ports.h"
#include "ui/data_log_form.h"
#include "ui/events_form.h"
#include "ui/object_list_form.h"

class Receiver_Core;

class Operator_Windows {
 public:
  // The windows are owned by `owner` (the main window; null in headless tests, then by this).
  Operator_Windows(Receiver_Core& core, QWidget* owner);
  ~Operator_Windows();
  Operator_Windows(const Operator_Windows&) = delete;
  Operator_Windows& operator=(const Operator_Windows&) = delete;

  TForm_Events& Events() { return *events_; }
  TForm_Latest_Events& Objects() { return *objects_; }
  TForm_Log_Test& Data_Log() { return *data_log_; }

  // Shows a window beside the main window (not modally) and brings it to the front.
  static void Show_Window(QWidget& window);

  // "Virtual Serial Ports": makes or reports the pair, then runs `com_ports_available`.
  Virtual_Ports_Outcome VirtualPortsTool1Click(const std::function<void()>& com_ports_available);

  void Set_Box_Runner(Operator_Box_Runner runner);

 private:
  Receiver_Core& core_;
  QWidget* owner_;
  TForm_Events* events_;
  TForm_Latest_Events* objects_;
  TForm_Log_Test* data_log_;
  Virtual_Ports_Tool virtual_ports_;
  Operator_Box_Runner box_ = Run_Operator_Box;
};
