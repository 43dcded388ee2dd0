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
#include <functional>
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
  // Runs Stop() unless it ran already, then closes `hand_over`. A worker that has still not
  // ended is stuck in a system call: the process ends at once (stuck_worker.h) rather than wait
  // without end or free what the worker uses.
  ~Automation_Link();
  Automation_Link(const Automation_Link&) = delete;
  Automation_Link& operator=(const Automation_Link&) = delete;

  // Start-up: Timer_Out (first tick after 2000 ms), then the serial receive thread, then the
  // report sender. No port is opened here; Timer_Out's ticks do that.
  void Start();
  // The two threads only; the caller drives Timer_Out itself (tests, the benchmark).
  void Start_Workers();
  // Shutdown, in this order: Run_Gate closed for good and Answer_Event set; Timer_Out stopped;
  // the report sender asked to end and waited for at most `deadline` while the main thread's
  // events and hand-overs are served (a line it has written still gets its answer time, so an
  // ACK that comes is recorded); the TCP client socket closed (the listener goes down with the
  // process); the serial receive thread asked to end and waited for at most `deadline`; the
  // serial port closed. A worker not ended by its deadline is refused every further hand-over
  // (`hand_over` closed) and waited for HAND_OVER_GRACE more. True when both threads ended.
  // Every wait is bounded: at most 2 * (deadline + HAND_OVER_GRACE) plus one serial time-out.
  // Safe to call again.
  bool Stop(std::chrono::milliseconds deadline = std::chrono::milliseconds(5000));

  // The extra time a worker gets after its deadline, once no work is handed over any more.
  static constexpr std::chrono::milliseconds HAND_OVER_GRACE{1000};
  // Main thread: pushes the settings the report sender uses (after a save or reload, after a page
  // changed one of them or the data log was shown or hidden, and when the link manager switched
  // the link off).
  void Settings_Changed();

  Serial_Port& Serial() { return serial_; }
  Link_Manager& Link() { return link_; }
  AT_Rec_Thread& Serial_Receiver() { return serial_receiver_; }
  Report_Sender& Sender() { return sender_; }

 private:
  Shared_Sync& sync_;
  Operator_Port& screen_;
  // Serves hand-overs and the event loop until `done` holds or `deadline` passes; main thread.
  bool Serve_Until(const std::function<bool()>& done, std::chrono::milliseconds deadline);
  // Serve_Until `ended`; past the deadline, closes the hand-over and serves the grace.
  bool Stop_Worker(const std::function<bool()>& ended, std::chrono::milliseconds deadline);

  // Any thread: leaves `work` for the main thread without waiting.
  void Post(std::function<void()> work);

  Main_Hand_Over& hand_over_;
  bool stopped_ = false;  // main thread only: Stop() has run
  // In this order: each is built from the ones before it and destroyed before them.
  Main_Queue posted_;  // work the report sender leaves for the main thread
  Serial_Port serial_;
  Link_Manager link_;
  AT_Rec_Thread serial_receiver_;
  Report_Sender sender_;
};
