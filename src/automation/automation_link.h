// Automation_Link: the automation side of the receiver, put together in one place: the serial
// port, the link manager (Timer_Out and the TCP sockets), the serial receive thread AT_Rec_Thread
// and the report sender Monitoring_Thread, with their start and stop order. The receiver core,
// the tests and the sender benchmark all run this one assembly.
//
// Threads: created, started, stopped and destroyed on the main thread, which serves
// `hand_over`. The two worker threads reach the main thread only through `hand_over` (log lines,
// beeps) and the shared objects of `sync`; the sender writes its TCP lines itself (Tcp_Link) and
// reads the settings from the snapshot Settings_Changed pushes.
#pragma once

#include <chrono>
#include <string>

#include "automation/at_rec_thread.h"
#include "automation/link_manager.h"
#include "automation/report_sender.h"
#include "automation/serial_port.h"
#include "base/main_hand_over.h"
#include "base/main_queue.h"
#include "base/operator_port.h"
#include "base/settings.h"
#include "base/sync_objects.h"
#include "store/event_journal.h"
#include "store/object_table.h"

class Automation_Link {
 public:
  // All references must outlive this object; `data_folder` ends with '/'. Nothing runs yet and
  // the serial port is closed ("COM1").
  Automation_Link(Settings_Record& settings, Shared_Sync& sync, Event_Journal& journal,
                  Object_Table& objects, Operator_Port& screen, std::string data_folder,
                  Main_Hand_Over& hand_over);
  // Waits, serving hand-overs, until the report sender has ended; then closes `hand_over`, which
  // releases a serial receive thread that waits on it, so that its join cannot hang.
  ~Automation_Link();
  Automation_Link(const Automation_Link&) = delete;
  Automation_Link& operator=(const Automation_Link&) = delete;

  // Start-up: Timer_Out (first tick after 2000 ms), then the serial receive thread, then the
  // report sender. No port is opened here; Timer_Out's ticks do that.
  void Start();
  // The two threads only; the caller drives Timer_Out itself (tests, the benchmark).
  void Start_Workers();
  // Shutdown, in this order: Run_Gate closed for good and Answer_Event set (a sender waiting for
  // an answer wakes at once); Timer_Out stopped; the TCP client socket closed (the listener goes
  // down with the process); the report sender, then the serial receive thread, each asked to end
  // and waited for at most `deadline` while the main thread's events and hand-overs are served;
  // the serial port closed. True when both threads ended. A thread that has not ended is waited
  // for again by the destructor, before anything it uses is freed. Safe to call again.
  bool Stop(std::chrono::milliseconds deadline = std::chrono::milliseconds(5000));

  // Main thread: pushes the settings the report sender uses (after a save, after a page changed
  // one of them, and after every tick of Timer_Out).
  void Settings_Changed();

  Serial_Port& Serial() { return serial_; }
  Link_Manager& Link() { return link_; }
  AT_Rec_Thread& Serial_Receiver() { return serial_receiver_; }
  Report_Sender& Sender() { return sender_; }

 private:
  Shared_Sync& sync_;
  Operator_Port& screen_;
  Main_Hand_Over& hand_over_;
  // In this order: each is built from the ones before it and destroyed before them.
  Main_Queue posted_;  // work the report sender leaves for the main thread
  Serial_Port serial_;
  Link_Manager link_;
  AT_Rec_Thread serial_receiver_;
  Report_Sender sender_;
};
