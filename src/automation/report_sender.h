// Report_Sender: the background thread Monitoring_Thread that talks to the automation software.
// Every cycle (at most 50 ms apart, at once after the receiver stored an event) it sends the
// heartbeat when due, saves new journal events to the journal file, reports supervision changes of
// the object table and every saved event not yet reported, one line at a time, each answered by ACK
// (0x06) or NAK (0x15) within 2000 ms. It keeps LINK_ALIVE of Link_State from those answers.
//
// Threads: the cycle runs on the sender's own thread. It writes every line and reads its answer
// there (TCP through the link manager's Tcp_Link, held from its first line of a cycle to the
// cycle's end, serial through Serial_Port, both lock themselves), and reads the settings from a
// snapshot the main thread pushes (Take_Settings). What is due is kept by the journal in storage
// order, so a pass looks only at due slots. Log lines, beeps and the sound are handed to the
// main thread through `run_on_main` and waited for (they come with failures and the link's
// first answer); the data log line and the events refresh are posted to it.
//
// Lifetime: Start() once; Request_Stop() (shutdown closes Run_Gate and sets Answer_Event first)
// makes the thread end promptly: every pause and gate wait checks the stop request, and no new
// line or hand-over starts after it. A line already written is still given its answer time
// (ANSWER_TIMEOUT from the write; shutdown's Answer_Event is no answer), so an ACK that comes in
// that time is recorded in the journal file and the event is never offered again. Before it
// ends, the thread saves to the journal file whatever is still unsaved, past the closed gate.
// Every wait of shutdown is bounded: Stop() by its deadline; the destructor stops a thread still
// running with STOP_DEADLINE, and ends the process (stuck_worker.h) if even that runs out, so
// the thread never outlives the objects it uses.
#pragma once

#include <QTime>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "base/operator_port.h"
#include "base/settings.h"
#include "base/sync_objects.h"
#include "base/thread_annotations.h"
#include "protocol/event_record.h"
#include "store/event_journal.h"
#include "store/object_table.h"

class Link_Manager;
class Serial_Port;

class Report_Sender {
 public:
  // Runs the given work on the main thread and returns when it is done: true; false when the
  // work did not run (the main thread no longer serves hand-overs).
  using Main_Runner = std::function<bool(const std::function<void()>&)>;
  // The local time of day with milliseconds, for the data log line.
  using Local_Clock = std::function<QTime()>;

  // How long an answer is awaited, and the pause after a refusal or a journal file error.
  static constexpr std::chrono::milliseconds ANSWER_TIMEOUT{2000};
  static constexpr std::chrono::milliseconds ERROR_PAUSE{2000};
  static constexpr std::chrono::milliseconds CYCLE_SLEEP{50};
  // A long data pass writes the statuses of acknowledged lines to the journal file at least
  // every FLUSH_LINES lines and FLUSH_AGE after the first one waiting, and at its end.
  static constexpr std::size_t FLUSH_LINES = 512;
  static constexpr std::chrono::milliseconds FLUSH_AGE{10};
  // The longest a stop waits for the thread: an answer time, a journal file pass and margin.
  static constexpr std::chrono::milliseconds STOP_DEADLINE{5000};

  // All references must outlive this object. `screen` and `link` are used only inside work
  // handed to the main thread.
  Report_Sender(Settings_Record& settings, Shared_Sync& sync, Event_Journal& journal,
                Object_Table& objects, Serial_Port& serial, Link_Manager& link,
                Operator_Port& screen, Main_Runner run_on_main, Local_Clock local_clock = {});
  ~Report_Sender();
  Report_Sender(const Report_Sender&) = delete;
  Report_Sender& operator=(const Report_Sender&) = delete;

  // Main thread: takes the values the sender uses (Out_Mode, HB_Period, HB_Receiver_Nr,
  // Report_Format) from the settings record, and whether the data log is shown. The constructor
  // takes the first snapshot; the main thread pushes the next whenever one of them changes (a
  // settings save or reload, a page's change, the data log shown or hidden, the link switched
  // off by the link manager). The sender never asks the main thread for it.
  void Take_Settings() EXCLUDES(settings_mutex_);

  // Leaves work for the main thread without waiting for it (the data log line, the events
  // refresh). Set once before Start(); work posted before this object ends may run after it only
  // while the poster's owner lives, so the owner outlives this object.
  using Main_Poster = std::function<void(std::function<void()>)>;
  void Set_Main_Poster(Main_Poster post) { post_on_main_ = std::move(post); }

  // Starts Monitoring_Thread (once).
  void Start();
  // Asks the thread to end at its next wait, pause, gate test or hand-over. Any thread.
  void Request_Stop();
  // True once the thread has ended (or was never started): the cleared thread reference.
  bool Has_Ended() const { return ended_.load(std::memory_order_acquire); }
  // Main thread: Request_Stop, then wait at most `deadline` for the end, processing the main
  // thread's events (and so the sender's hand-overs) meanwhile. True when the thread ended.
  bool Stop(std::chrono::milliseconds deadline = STOP_DEADLINE);

  // Figures for the live state file and the service watchdog. Any thread. Progress grows at
  // every turn of the thread's loop and at every line it sends, so a sender that is not stuck
  // moves it at least once in LONGEST_STEP (one answer's wait, one pause after it, and the
  // hand-overs around them). Lines_Forwarded counts the event lines the automation software
  // acknowledged; Write_Errors the failed saves of the journal file.
  static constexpr std::chrono::milliseconds LONGEST_STEP =
      ANSWER_TIMEOUT + ERROR_PAUSE + std::chrono::milliseconds(1000);
  uint64_t Progress() const { return progress_.load(std::memory_order_relaxed); }
  uint64_t Lines_Forwarded() const { return lines_forwarded_.load(std::memory_order_relaxed); }
  uint64_t Write_Errors() const { return write_errors_.load(std::memory_order_relaxed); }

 private:
  enum class Outcome { No_Transport, No_Answer, Answered };
  struct Sender_Settings {
    uint8_t Out_Mode = 0;
    int32_t HB_Period = 0;
    int8_t HB_Receiver_Nr = 0;
    int8_t Report_Format = 0;
    bool Data_Log = false;
  };
  Sender_Settings Current_Settings() const EXCLUDES(settings_mutex_);
  struct Answer {
    Outcome Kind;
    uint8_t Byte;
  };

  void Run();
  void Cycle();
  bool Heartbeat(int32_t hb_period);  // false: end the cycle
  void Save_Pass();
  bool Supervision_Pass();  // false: end the cycle
  void Data_Pass();
  // At the end of the thread, after its last cycle: saves what is left unsaved.
  void Final_Save();
  // Send_Line: `record` is the event or supervision record, null for the heartbeat.
  Answer Send_Line(const Event_Record* record);
  bool Wait_For_Answer();
  void Set_Alive();

  // False, the work not run, after a stop request or when the main thread refused it.
  bool Hand_Over(const std::function<void()>& work);
  void Log(const std::string& text, uint32_t colour, bool beep);
  void Refresh_Events();
  bool Gate_Open() const;
  void Pause(std::chrono::milliseconds duration);
  bool Stop_Requested() const { return stop_.load(std::memory_order_acquire); }

  Settings_Record& settings_;  // read only on the main thread (Take_Settings)
  mutable Mutex settings_mutex_;
  Sender_Settings snapshot_ GUARDED_BY(settings_mutex_);
  Shared_Sync& sync_;
  Event_Journal& journal_;
  Object_Table& objects_;
  Serial_Port& serial_;
  Link_Manager& link_;
  Operator_Port& screen_;
  Main_Runner run_on_main_;
  Main_Poster post_on_main_;
  Local_Clock local_clock_;

  // Owned by the sender thread: the next heartbeat time on the monotonic clock.
  bool hb_due_now_ = true;
  std::chrono::steady_clock::time_point next_hb_{};
  // Owned by the sender thread: when the last supervision pass started.
  std::chrono::steady_clock::time_point last_supervision_{};

  std::thread thread_;  // main thread only
  // Atomics, read without a lock: the stop request (also written under stop_mutex_, so a pause
  // cannot miss it between its test and its wait) and the cleared thread reference.
  std::atomic<bool> stop_{false};
  std::atomic<bool> ended_{true};
  std::atomic<uint64_t> progress_{0};
  std::atomic<uint64_t> lines_forwarded_{0};
  std::atomic<uint64_t> write_errors_{0};
  Mutex stop_mutex_;  // with stop_changed_: wakes pauses at once on a stop request
  std::condition_variable stop_changed_;
};
