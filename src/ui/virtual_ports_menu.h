// The menu item "Virtual Serial Ports": runs the virtual serial port tool, logs its line in black
// (the pair it made or found) or shows its warning, then runs the serial port list refresh
// Com_Ports_Available so that the ports show up at once. Main thread only.
#pragma once

#include <functional>

#include "automation/virtual_ports.h"
#include "base/operator_port.h"
#include "ui/widgets/message_box.h"

// Returns the tool's outcome (tests use it to stop the socat they caused).
Virtual_Ports_Outcome VirtualPortsTool1Click(Virtual_Ports_Tool& tool, Operator_Port& screen,
                                             const Operator_Box_Runner& box, QWidget* parent,
                                             const std::function<void()>& com_ports_available);
