// Receiver_Server: the receiver port, the system's face towards the alarm communicators. It owns
// the listener ServerSocket_DC9 (dual-stack TCP, IPv4 peers shown as dotted addresses), opens and
// closes it from the one-second timer Timer_DC9 as DC9_Port_Enable says, answers every read with
// its DC-09 response, hands every accepted message to the object table and the event journal, and
// closes connections that stay silent through the Connection_Table.
//
// Threads. The port runs on a receiver thread of its own: one epoll loop over the listener, the
// connections, the Timer_DC9 timerfd and two wake-ups (commands from the main thread, a finished
// sync). The Connection_Table, the connections and the receiver's copy of its settings belong to
// that thread alone. A sync thread makes the journal's write-ahead durable: the slots that one
// pass over the ready connections wrote are synced together while the next pass is read, and
// their ACKs are sent when that sync has returned; a connection is not closed by its end of
// stream or its countdown while an answer of it waits (a reset closes it at once). Log lines,
// beeps, status texts and data log lines go to the main thread through a Main_Queue, in order, a
// batch per pass; the receiver never waits for the main thread. The main thread's calls below
// post a command to the loop (under command_mutex_) and wait for it (the loop never blocks),
// then run what the loop left for the main thread; the sync thread's hand-over is guarded by
// sync_mutex_.
//
// Files: receiver_server.cpp holds the loop and its answer policy, receiver_group_commit.cpp the
// group commit (batch, sync thread, settling) and receiver_bridge.cpp what goes to the main
// thread (log lines, data log lines, file notices).
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/log_flood_limiter.h"
#include "base/main_queue.h"
#include "base/operator_port.h"
#include "base/poll_loop.h"
#include "base/settings.h"
#include "base/sync_objects.h"
#include "base/thread_annotations.h"
#include "protocol/dc9_response.h"
#include "receiver/connection_table.h"
#include "receiver/repeat_memory.h"
#include "receiver/udp_port.h"
#include "store/event_journal.h"
#include "store/object_table.h"

// The environment switch that turns the write-ahead off (answers before the journal file is
// written, as the save pass alone did); kept only for the benchmark that measures its cost.
inline constexpr const char* NO_WRITE_AHEAD_VARIABLE = "QUENOR_BENCH_NO_WRITE_AHEAD";

class Receiver_Server : public QObject {
  Q_OBJECT

 public:
  // Seconds since 1970-01-01 UTC: the reception time of events and the time in answers.
  using Utc_Clock = std::function<int64_t()>;

  // Main thread. The references live as long as the server (the core owns them all).
  Receiver_Server(Settings_Record& settings, Event_Journal& journal, Object_Table& objects,
                  Shared_Sync& sync, Operator_Port& operator_port, QObject* parent = nullptr);
  ~Receiver_Server() override;  // Stop()

  // Tests fix the clock and the pad bytes of "*ACK" answers; by default the system clock and a
  // seeded pseudo-random generator are used. Set before Start().
  void Set_Clock(Utc_Clock clock);
  void Set_Pad_Source(Pad_Source pad);
  // The loaders' repair messages, logged once at the first tick right after the start line, the
  // object table's first (empty texts are skipped). Before Start().
  void Set_Repair_Messages(std::string objects, std::string journal);
  // The main thread's bridge to use (the process has one, shared with Main_Hand_Over); by
  // default the server has its own. Before Start(); `queue` outlives the server.
  void Use_Main_Queue(Main_Queue& queue) {
    to_main_ = &queue;
    own_queue_.reset();  // empty: nothing was posted before Start()
  }
  // Called on the receiver thread each time a pass's messages are stored in the journal (link
  // tests included), once per pass. Must not block: it only posts. Before Start().
  void Set_Stored_Notice(std::function<void()> notice) { stored_notice_ = std::move(notice); }
  // The text of the receiver page's port field, shown in "Port <text> closed."; by default the
  // DC9_Port setting. Read on the main thread only.
  void Set_Port_Field_Text(std::function<std::string()> text) { port_field_ = std::move(text); }

  // Start-up: raises the open-file limit, starts the receiver and sync threads and Timer_DC9
  // (first tick after 1000 ms).
  void Start();
  // Shutdown: stops Timer_DC9, closes the listener with all its connections (a sync under way is
  // finished first; slots whose answers never left are taken back, the communicators send them
  // again) and ends both threads.
  void Stop();
  // The page's "Open": the next tick comes 1000 ms from now, also after a failed open.
  void Reset_Timer_Interval();
  // Closes the listener and every communicator connection.
  void Close_Listener();
  // Main thread: hands the receiver a fresh copy of the settings it reads (port, timeout, AES
  // mode and key, time synchronisation, the automation link's mode) and of the page's port
  // field text and the data log's visibility. A main-thread timer calls it every 100 ms; tests
  // call it after changing a setting.
  void Settings_Changed();

  // Timer_DC9's tick (Timer_DC9Timer), run at once on the receiver thread; tests call it instead
  // of waiting. A direct call restarts the timer only when it was running.
  void Timer_DC9Timer();
  // Tests: stops the timer so that ticks come only from Timer_DC9Timer().
  void Stop_Timer();
  bool Timer_Running() const { return timer_running_.load(); }
  int Timer_Interval() const { return timer_interval_.load(); }
  // Logs a connection error: "Receiver port error. " + code + the system's text, in red, except
  // for ECONNABORTED (aborted on this host). Any thread.
  void ServerSocket_DC9ClientError(int error_code);

  bool Is_Active() const { return listening_port_.load() != 0; }
  // The port the listener is bound to; 0 while it is closed.
  uint16_t Listening_Port() const { return listening_port_.load(); }
  int Active_Connections() const { return active_connections_.load(); }
  // True while the UDP socket of the receiver port is bound.
  bool Udp_Open() const { return udp_open_.load(); }
  // Repeated messages answered but not stored since the start.
  long Repeat_Count() const { return repeat_count_.load(); }
  // A copy of the table, taken on the receiver thread.
  Connection_Table Connections();
  // True from the first Contact ID refused because the journal was full until the next append.
  bool Journal_Refusing() const { return journal_refusing_.load(); }
  // Main thread: runs now what the receiver left for the main thread.
  void Deliver_Pending() { to_main_->Drain(); }
  // Tests: Read_Handled is emitted only while this is on (it costs a hand-over per read).
  void Set_Read_Notices(bool on) { read_notices_.store(on); }

  // Figures for the live state file and the service watchdog. Any thread. Loop_Turns counts the
  // passes of the receiver thread's loop (Timer_DC9 alone makes one at least every 10 s); Answers
  // the DC-09 answers made, of which Refusals were NAK or DUH; Events_Stored the journal slots
  // made durable; Write_Errors the failed journal writes and syncs.
  uint64_t Loop_Turns() const { return loop_turns_.load(std::memory_order_relaxed); }
  uint64_t Answers() const { return answers_.load(std::memory_order_relaxed); }
  uint64_t Refusals() const { return refusals_.load(std::memory_order_relaxed); }
  uint64_t Events_Stored() const { return events_stored_.load(std::memory_order_relaxed); }
  uint64_t Write_Errors() const { return write_errors_.load(std::memory_order_relaxed); }
  // Why the listener did not open at its last try ("" once it is open or never tried), and the
  // last journal write error ("" once a later sync succeeded). Any thread.
  std::string Listen_Error() const EXCLUDES(figures_mutex_) {
    Mutex_Lock lock(figures_mutex_);
    return listen_error_;
  }
  std::string Journal_Error() const EXCLUDES(figures_mutex_) {
    Mutex_Lock lock(figures_mutex_);
    return journal_error_;
  }

 signals:
  // On the main thread after a read has been handled (answer sent or, for an acknowledged
  // message, queued behind its journal sync), with its Parse_Result; only with read notices on.
  void Read_Handled(int parse_result);

 private:
  // A lasting journal file fault, or the want of descriptors, is logged at most this often.
  static constexpr std::chrono::seconds FILE_ERROR_REPEAT{3};

  struct Settings_Copy {
    bool Port_Enable = false;
    int32_t Port = 0;
    int32_t Conn_Timeout = 0;
    int8_t AES_Mode = 0;
    uint8_t AES_Key[32] = {};
    bool Time_Synch = false;
    bool Link_On = false;  // Out_Mode serial or TCP: someone will take the journal's events
    bool Data_Log_Visible = false;
    std::string Port_Field;
    bool UDP_Enable = false;
    int Repeat_Window = 0;  // minutes; 0 = every copy is stored
  };
  struct Connection {
    int Fd = -1;
    uint32_t Generation = 0;
    std::string Address;
    int32_t Port = 0;
    std::string Out;       // answer bytes the socket did not take yet
    int Waiting = 0;       // answers of this connection waiting for a journal sync
    bool Closing = false;  // no longer read: closed once its waiting answers are out
  };
  struct Held_Answer {
    int Fd;
    uint32_t Generation;
    std::string Bytes;
    int Result;             // the Parse_Result of its read, for Read_Handled once the answer is out
    bool Datagram = false;  // an answer to a UDP sender: Generation is the UDP socket's
    Datagram_Peer Peer{};
  };
  // Where the answer to a read goes: a connection, or the source of a datagram.
  struct Reply_To {
    Connection* Stream = nullptr;
    const Datagram_Peer* Datagram = nullptr;
  };
  // An accepted message that becomes the last of its object once its sync has returned.
  struct Remembered {
    Event_Record Record;
    uint32_t Sequence;
    Extended_Data Extended;
  };
  // The acknowledged messages of one or more passes whose slots await one sync.
  struct Batch {
    std::vector<int> Slots;
    std::vector<uint64_t> Tickets;
    std::vector<Held_Answer> Answers;
    std::vector<Remembered> Remember;
    bool Has_Event = false;  // a Contact ID event the report sender is to take
    bool Empty() const { return Answers.empty() && Slots.empty(); }
    void Clear() {
      Slots.clear();
      Tickets.clear();
      Answers.clear();
      Remember.clear();
      Has_Event = false;
    }
  };

  // Main thread: runs `work` on the receiver thread and waits for it (at once when the thread is
  // not running), then delivers what it left for the main thread.
  void Call(const std::function<void()>& work);

  // Receiver thread.
  void Run();
  void Run_Commands();
  void Adopt_Settings();
  void Tick();
  void Log_Start_Line();
  void Open_Listener();
  void Close_All();
  void Accept_All();
  void Close_Connection(int fd, int error_code);
  // End of stream or countdown out: closes now, or once the answers that wait are sent.
  void Finish_Connection(Connection& connection);
  void Close_If_Finished(int fd);
  // accept failed for want of descriptors: sheds the newcomer or stops watching the listener.
  void Out_Of_Descriptors(int error_code);
  void Watch_Listener();
  void Read_From(int fd);
  void Data_Log(const char* text);
  // The data log's note under a repeated message: "repeat of the message at hh:mm:ss".
  void Data_Log_Repeat(int64_t earlier);
  int32_t Answer_And_Store(const Reply_To& to, Parse_Result result, Event_Record& record,
                           uint32_t sequence, const Extended_Data& extended);
  void Send_Or_Hold(const Reply_To& to, std::string bytes);
  void Hold(const Reply_To& to, std::string bytes);
  // The UDP side of the receiver port (udp_port.h): opened after the listener, read in bounded
  // batches, each datagram handled as one read of a connection.
  void Open_Udp(uint16_t port);
  void Close_Udp();
  void Read_Datagrams();
  void Handle_Datagram(char* data, std::size_t size, const Datagram_Peer& peer);
  void Send(Connection& connection, const char* data, std::size_t size);
  void Flush(int fd);
  // Group commit: starts the sync of the filled batch, or leaves it to fill a little longer
  // while most connections are idle and few messages wait (see LINGER in the group commit).
  void Commit_Or_Linger();
  // The loop's wait in ms: -1 (none) unless a batch lingers.
  int Linger_Timeout() const;
  void Start_Sync();
  void Sync_Finished();
  void File_Error(const std::string& line);
  // Logs in red what the journal kept about its file (a file made again).
  void Journal_Notice();
  void To_Main(Main_Queue::Work work) { for_main_.push_back(std::move(work)); }
  void Log(std::string text, uint32_t colour);
  // "Unrecognised data" from a sender (TCP or UDP): at most one line a second per address, then
  // one line with the count left out, and a cap over all addresses (Log_Flood_Limiter).
  void Log_Unrecognised(const std::string& address, int32_t port);
  void Sync_Run();
  // The figures' setters (receiver thread).
  void Note_Listen(const std::string& error) EXCLUDES(figures_mutex_) {
    Mutex_Lock lock(figures_mutex_);
    listen_error_ = error;
  }
  void Note_Journal(const std::string& error, std::size_t stored) EXCLUDES(figures_mutex_) {
    events_stored_.fetch_add(stored, std::memory_order_relaxed);
    if (!error.empty()) write_errors_.fetch_add(1, std::memory_order_relaxed);
    Mutex_Lock lock(figures_mutex_);
    journal_error_ = error;
  }
  void Note_Answer(bool accepted) {
    answers_.fetch_add(1, std::memory_order_relaxed);
    if (!accepted) refusals_.fetch_add(1, std::memory_order_relaxed);
  }

  Settings_Record& settings_;  // main thread only
  Event_Journal& journal_;
  Object_Table& objects_;
  Shared_Sync& sync_;
  Operator_Port& operator_;  // main thread only (through to_main_)
  Utc_Clock clock_;
  Pad_Source pad_;
  std::minstd_rand pad_generator_;
  std::function<std::string()> port_field_;  // main thread only
  const bool write_ahead_;

  // Main thread: the settings watch and the queue of work left by the receiver.
  QTimer settings_watch_;
  Settings_Record last_settings_{};
  std::string last_port_field_;
  bool last_data_log_visible_ = false;
  std::unique_ptr<Main_Queue> own_queue_ = std::make_unique<Main_Queue>();  // none given
  Main_Queue* to_main_ = own_queue_.get();

  // Shared with the main thread.
  Mutex command_mutex_;
  std::condition_variable command_done_;
  std::deque<std::pair<const std::function<void()>*, bool*>> commands_ GUARDED_BY(command_mutex_);
  bool settings_pending_ GUARDED_BY(command_mutex_) = false;
  Settings_Copy pending_settings_ GUARDED_BY(command_mutex_);
  std::atomic<bool> stop_{false};
  std::atomic<uint16_t> listening_port_{0};
  std::atomic<int> active_connections_{0};
  std::atomic<bool> journal_refusing_{false};
  std::atomic<bool> timer_running_{false};
  std::atomic<int> timer_interval_{1000};
  std::atomic<bool> read_notices_{false};
  std::atomic<uint64_t> loop_turns_{0};
  std::atomic<uint64_t> answers_{0};
  std::atomic<uint64_t> refusals_{0};
  std::atomic<uint64_t> events_stored_{0};
  std::function<void()> stored_notice_;  // set before Start(), then read on the receiver thread
  std::atomic<uint64_t> write_errors_{0};
  mutable Mutex figures_mutex_;
  std::string listen_error_ GUARDED_BY(figures_mutex_);
  std::string journal_error_ GUARDED_BY(figures_mutex_);
  std::atomic<bool> udp_open_{false};
  std::atomic<long> repeat_count_{0};

  // Receiver thread only (before Start and after Stop, the main thread).
  Poll_Loop loop_;
  Wake_Fd command_wake_;
  Wake_Fd sync_wake_;
  Timer_Fd timer_;
  Settings_Copy settings_copy_;
  int listen_fd_ = -1;
  Udp_Port udp_;
  Repeat_Memory repeats_{OBJECT_SLOTS};
  Log_Flood_Limiter unrecognised_log_;
  int listen_port_ = 0;  // the port listen_fd_ was opened on (receiver thread)
  std::vector<Connection> connections_by_fd_;
  uint32_t next_generation_ = 1;
  Connection_Table table_;
  std::vector<char> read_buffer_;
  int read_result_ = 0;     // the Parse_Result of the read being handled
  bool read_held_ = false;  // its answer waits for a sync (Read_Handled comes then)
  std::vector<Main_Queue::Work> for_main_;
  std::string repair_objects_;
  std::string repair_journal_;
  bool start_logged_ = false;
  Batch filling_;  // written during the passes since the running sync started
  Batch syncing_;  // handed to the sync thread
  bool sync_busy_ = false;
  bool lingering_ = false;  // filling_ waits for more messages until linger_until_
  std::chrono::steady_clock::time_point linger_until_{};
  std::chrono::steady_clock::time_point last_file_error_{};
  bool file_error_logged_ = false;
  // A descriptor held in reserve: closed to accept and close a newcomer when the process has no
  // descriptor left, so that the listener does not stay ready.
  int spare_fd_ = -1;
  bool listener_watched_ = false;
  std::chrono::steady_clock::time_point last_descriptor_error_{};
  bool descriptor_error_logged_ = false;

  // The sync thread and its hand-over.
  Mutex sync_mutex_;
  std::condition_variable sync_changed_;
  bool sync_requested_ GUARDED_BY(sync_mutex_) = false;
  bool sync_stop_ GUARDED_BY(sync_mutex_) = false;
  std::string sync_error_ GUARDED_BY(sync_mutex_);

  std::thread thread_;
  std::thread sync_thread_;
};
