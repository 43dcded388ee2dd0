// Receiver_Core: the headless heart of the program. It owns, for the whole run, the settings
// record, the event journal, the object table, the shared synchronisation objects, the system
// log, the receiver port server and the automation link (serial port, link manager, serial
// receive thread, report sender), and runs the start-up and shutdown sequences. It lives on the
// main thread under a QCoreApplication or QApplication; the main window attaches its screen to it.
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/live_state.h"
#include "base/main_hand_over.h"
#include "base/operator_port.h"
#include "base/settings.h"
#include "base/sync_objects.h"
#include "base/system_log.h"
#include "store/event_journal.h"
#include "store/object_table.h"

class QSocketNotifier;
class Receiver_Server;
class Automation_Link;
class Serial_Port;
class Link_Manager;

class Receiver_Core : public QObject {
  Q_OBJECT

 public:
  // `data_folder` exists and ends with '/'. Nothing is loaded or started here.
  explicit Receiver_Core(std::string data_folder, QObject* parent = nullptr);
  ~Receiver_Core() override;  // runs Shutdown() when Start() ran and Shutdown() has not

  // Start-up from the loading of the files on: Journal_Load, Settings_Load, Object_Load, the
  // serial port object, Timer_DC9 (1 s), Timer_Out (first tick after 2 s), the supervision timer
  // (1 s), AT_Rec_Thread and Monitoring_Thread. No port is opened here.
  void Start();
  // The shutdown sequence: closes Run_Gate for good, wakes the sender, stops the timers, closes
  // the receiver listener and the client socket, waits at most 5000 ms for each worker while
  // serving their hand-overs, closes the serial port, logs "Program closed".
  void Shutdown();
  bool Is_Running() const { return running_; }

  // The windows attach their Operator_Port here (null = headless: message boxes are written to
  // standard error only, beeps and sounds are silent). Log lines always reach the log file and
  // the pane set with Log().Set_Pane; the screen's Log_Message is not used. The core writes the
  // standard-error line of a message box itself, so the screen's Show_Message only opens the box.
  void Attach_Screen(Operator_Port* screen) { screen_ = screen; }
  // The port every component reports through (main thread only).
  Operator_Port& Operator() { return *operator_; }
  // Runs `work` on the main thread and waits until it is done (for worker threads; on the main
  // thread it runs at once). The main thread serves hand-overs whenever it runs its event loop
  // (also inside processEvents), so a worker waits while the main thread is busy elsewhere.
  // False when the work did not run: the hand-over closes when the core is destroyed.
  bool Run_On_Main(const std::function<void()>& work);

  const std::string& Data_Folder() const { return data_folder_; }
  std::string Settings_Path() const { return data_folder_ + SETTINGS_FILE_NAME; }
  Settings_Record& Settings() { return settings_; }
  System_Log& Log() { return log_; }
  Shared_Sync& Sync() { return sync_; }
  Event_Journal& Journal() { return journal_; }
  Object_Table& Objects() { return objects_; }
  Receiver_Server& Receiver() { return *receiver_; }
  // The automation link: created by Start() and kept until the core is destroyed.
  Automation_Link& Automation() { return *automation_; }
  Serial_Port& Serial();
  Link_Manager& Link();

  // The one-second supervision timer (Timer_Ping_Update); it runs Ping_Tick from Start() to
  // Shutdown(). "Delete all objects" stops it around Object_Clear.
  QTimer& Ping_Timer() { return ping_timer_; }

  // SIGHUP of a headless receiver: reads "dorvex.cfg" again and applies it as the pages would,
  // with the receiver port reopened when its number changed and the automation link reopened
  // when its mode, port, address or serial line changed. Logs what it did. False (settings kept)
  // when the file cannot be read. Main thread, between Start() and Shutdown().
  bool Reload_Settings();
  // Main thread: pushes the settings record (and the data log's visibility) to the receiver and
  // the report sender. Called when the settings are saved or reloaded, when a page changes a
  // value, and when the data log is shown or hidden; nobody polls the record.
  void Push_Settings();

  // The live state now: from Start() on, every LIVE_STATE_INTERVAL_MS, the core writes it to
  // LIVE_STATE_FILE_NAME in the data folder; Shutdown() removes the file. Main thread.
  Live_State Current_Live_State();
  void Write_Live_State();
  // Asks for one refresh of the events window on the main thread. Any thread may call it; calls
  // made before that refresh has run share it, so a flood of stored events costs one refresh per
  // turn of the main thread's event loop. The receiver calls it after every stored pass.
  void Post_Events_Refresh();
  // Tests of the watchdog: while held, work the worker threads hand to the main thread waits
  // (the report sender stands still). Main thread.
  void Hold_Hand_Overs(bool held) { hand_over_.Hold(held); }

 signals:
  // After each Ping_Tick; `lost` when at least one object became lost in that tick.
  void Ping_Ticked(bool lost);

 private:
  class Core_Operator;
  void Ping_Timer_Tick();

  std::string data_folder_;
  Settings_Record settings_{};
  System_Log log_;
  Shared_Sync sync_;
  Event_Journal journal_;
  Object_Table objects_;
  Operator_Port* screen_ = nullptr;
  std::unique_ptr<Operator_Port> operator_;
  // The one bridge from the worker threads to the main thread: the receiver's work and the
  // hand-overs below go through it.
  Main_Queue main_queue_;
  // Hand-overs of work from the worker threads to the main thread (destroyed after the
  // receiver, whose last drain of the bridge may still run them).
  Main_Hand_Over hand_over_{&main_queue_};
  std::unique_ptr<Receiver_Server> receiver_;
  QTimer ping_timer_;
  QTimer live_state_timer_;
  int64_t started_ = 0;       // seconds since 1970 UTC, set by Start()
  int live_state_error_ = 0;  // errno of the last failed write of the live state
  bool running_ = false;
  bool shut_down_ = false;
  std::atomic<bool> events_refresh_posted_{false};  // a refresh is queued on the main thread
  // The automation link (created in Start()). Declared after the hand-over it uses; the
  // destructor ends its worker threads before the hand-over queue above is torn down.
  std::unique_ptr<Automation_Link> automation_;
};
