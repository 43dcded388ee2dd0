#include "automation/report_sender.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>

#include "automation/link_manager.h"
#include "automation/report_format.h"
#include "automation/serial_port.h"
#include "automation/stuck_worker.h"

namespace {

constexpr uint32_t LINK_UP = LINK_OPEN | LINK_ALIVE;
// Slice of every wait, so that a stop request is seen even where nothing else wakes the thread.
constexpr std::chrono::milliseconds WAIT_SLICE{50};
// How often the answer byte is looked at while Answer_Event is held set by shutdown.
constexpr std::chrono::milliseconds ANSWER_POLL{5};

// The data log line of an answer: "hh:mm:ss:ms  RX: <byte in decimal>".
std::string Answer_Log_Line(const QTime& time, uint8_t byte) {
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%.2u:%.2u:%.2u:%u", static_cast<unsigned>(time.hour()),
                static_cast<unsigned>(time.minute()), static_cast<unsigned>(time.second()),
                static_cast<unsigned>(time.msec()));
  return std::string(stamp) + "  RX: " + std::to_string(byte);
}

}  // namespace

Report_Sender::Report_Sender(Settings_Record& settings, Shared_Sync& sync, Event_Journal& journal,
                             Object_Table& objects, Serial_Port& serial, Link_Manager& link,
                             Operator_Port& screen, Main_Runner run_on_main,
                             Local_Clock local_clock)
    : settings_(settings),
      sync_(sync),
      journal_(journal),
      objects_(objects),
      serial_(serial),
      link_(link),
      screen_(screen),
      run_on_main_(std::move(run_on_main)),
      local_clock_(local_clock ? std::move(local_clock) : [] { return QTime::currentTime(); }) {
  Take_Settings();
}

Report_Sender::~Report_Sender() {
  if (!thread_.joinable()) return;
  // The owner has normally stopped the thread already. One still running gets one more bounded
  // stop, its hand-overs served meanwhile (or refused, once the owner closed them); a thread that
  // has not ended even then is stuck in a system call, and must not outlive what it uses.
  if (!Stop(STOP_DEADLINE)) End_Process_With_Stuck_Worker("Monitoring_Thread");
}

void Report_Sender::Start() {
  if (thread_.joinable()) return;
  ended_.store(false, std::memory_order_release);
  thread_ = std::thread([this] { Run(); });
}

void Report_Sender::Request_Stop() {
  {
    Mutex_Lock lock(stop_mutex_);
    stop_.store(true, std::memory_order_release);
  }
  stop_changed_.notify_all();
  sync_.Event_Stored.Set();
}

bool Report_Sender::Stop(std::chrono::milliseconds deadline) {
  Request_Stop();
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (!Has_Ended()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (thread_.joinable()) thread_.join();
  return true;
}

void Report_Sender::Run() {
  while (true) {
    // Step 1: wait for Run_Gate, in slices so that a stop request ends the thread even while the
    // gate stays closed for good.
    while (!sync_.Run_Gate.Wait(WAIT_SLICE)) {
      if (Stop_Requested()) break;
    }
    if (Stop_Requested()) break;
    Cycle();
    progress_.fetch_add(1, std::memory_order_relaxed);
    // Between cycles the link manager watches the connection again.
    link_.Tcp().Let_Go();
    // The next cycle starts as soon as the receiver has stored an event, at the latest after
    // the cycle's sleep.
    if (!Stop_Requested()) sync_.Event_Stored.Wait(CYCLE_SLEEP);
    if (Stop_Requested()) break;
  }
  link_.Tcp().Let_Go();
  Final_Save();
  ended_.store(true, std::memory_order_release);
}

void Report_Sender::Final_Save() {
  // The orderly end: whatever the last cycles left only in memory (new events, with the statuses
  // the passes set) goes to the file now. Shutdown has closed Run_Gate for good, so the pass
  // runs past a gate of its own.
  const Manual_Reset_Event open_gate(true);
  const Event_Journal::Save_Outcome outcome = journal_.Save_New(open_gate);
  if (outcome.Error.empty()) return;
  // No hand-over is started after a stop request, but the main thread serves them until this
  // thread has ended, so the red line still reaches the log.
  run_on_main_([&] {
    screen_.Log_Message(outcome.Error, LOG_RED);
    screen_.Beep();
  });
}

void Report_Sender::Cycle() {
  if (Stop_Requested()) return;
  if (!Heartbeat(Current_Settings().HB_Period)) return;
  Save_Pass();
  // The supervision pass walks the object table at most once per cycle time: a cycle started at
  // once for a stored event goes straight to its data pass.
  const auto now = std::chrono::steady_clock::now();
  if (sync_.Link_State.load() == LINK_UP && now - last_supervision_ >= CYCLE_SLEEP) {
    last_supervision_ = now;
    if (!Supervision_Pass()) return;
  }
  if (sync_.Link_State.load() == LINK_UP) Data_Pass();
}

bool Report_Sender::Heartbeat(int32_t hb_period) {
  if (sync_.Link_State.load() == 0) {
    hb_due_now_ = true;
    return true;
  }
  if (hb_period <= 0) {
    // No heartbeat: the link counts as alive as soon as it is open.
    Set_Alive();
    return true;
  }
  const auto now = std::chrono::steady_clock::now();
  if (!hb_due_now_ && now < next_hb_) return true;
  hb_due_now_ = false;
  next_hb_ = now + std::chrono::milliseconds(int64_t{hb_period} * 1000);

  const Answer answer = Send_Line(nullptr);
  switch (answer.Kind) {
    case Outcome::No_Transport:
      return false;
    case Outcome::No_Answer:
      Log("Link error (heartbeat): no ACK from automation software.", LOG_RED, true);
      sync_.Link_State.fetch_and(~LINK_ALIVE);
      return true;
    case Outcome::Answered:
      break;
  }
  if (answer.Byte == ANSWER_NAK) {
    Log("Link error (heartbeat): negative ACK from automation software.", LOG_RED, true);
  } else if (answer.Byte == ANSWER_ACK) {
    if ((sync_.Link_State.load() & LINK_ALIVE) == 0) {
      Hand_Over([&] {
        screen_.Log_Message("Connection with automation software established.", LOG_BLACK);
        screen_.Play_Notify_Sound();
      });
    }
    Set_Alive();
  }
  return true;
}

void Report_Sender::Set_Alive() {
  // Only a link that is still open becomes alive: a link the link manager closed meanwhile must
  // not carry a stale LINK_ALIVE into its next opening (reports would flow before a heartbeat).
  uint32_t state = sync_.Link_State.load();
  while ((state & LINK_OPEN) != 0 &&
         !sync_.Link_State.compare_exchange_weak(state, state | LINK_ALIVE)) {
  }
}

void Report_Sender::Save_Pass() {
  const Event_Journal::Save_Outcome outcome = journal_.Save_New(sync_.Run_Gate);
  if (!outcome.Error.empty()) {
    write_errors_.fetch_add(1, std::memory_order_relaxed);
    Log(outcome.Error, LOG_RED, true);
    Pause(ERROR_PAUSE);
  }
  if (outcome.Refresh) Refresh_Events();
}

bool Report_Sender::Supervision_Pass() {
  const int count = objects_.Count();  // used records are packed at the front
  for (int i = 0; i < count; ++i) {
    if (!Gate_Open()) return true;
    Supervision_Report report;
    if (!objects_.Supervision_Event(i, report)) continue;
    const Answer answer = Send_Line(&report.Event);
    if (answer.Kind == Outcome::No_Transport) return false;
    if (answer.Kind == Outcome::No_Answer) {
      Log("Link error (ping): no ACK from automation software.", LOG_RED, true);
      sync_.Link_State.fetch_and(~LINK_ALIVE);
      return false;
    }
    if (answer.Byte == ANSWER_ACK) {
      // The acknowledged line belongs to its account, wherever a deletion moved it meanwhile.
      objects_.Clear_Report_Due(report);
      continue;
    }
    if (answer.Byte == ANSWER_NAK) {
      Log("Link error (ping): negative ACK from automation software.", LOG_RED, true);
      Pause(ERROR_PAUSE);
    }
    return true;
  }
  return true;
}

void Report_Sender::Data_Pass() {
  Event_Journal::Status_Writer writer(journal_);
  // The acknowledged lines' statuses reach the file together: when the pass ends, and during a
  // long pass every FLUSH_LINES lines or FLUSH_AGE after the first one waiting.
  auto flushed_at = std::chrono::steady_clock::now();
  std::string error;
  // Only the slots the journal keeps as due are looked at, in storage order.
  for (int k = journal_.Next_Due(0); k >= 0;
       k = k + 1 < JOURNAL_SLOTS ? journal_.Next_Due(k + 1) : -1) {
    if (!Gate_Open()) break;
    // The copy and its generation: the status lands only on the event that was sent, even when
    // a clearing and a new append take the slot while its ACK is awaited.
    Event_Record record;
    uint32_t generation = 0;
    if (!journal_.Due_Slot(k, record, generation)) continue;
    const Answer answer = Send_Line(&record);
    if (answer.Kind == Outcome::No_Transport) break;
    if (answer.Kind == Outcome::No_Answer) {
      Log("Link error (data): no ACK from automation software.", LOG_RED, true);
      sync_.Link_State.fetch_and(~LINK_ALIVE);
      break;
    }
    if (answer.Byte == ANSWER_ACK) {
      lines_forwarded_.fetch_add(1, std::memory_order_relaxed);
      if (writer.Waiting() == 0) flushed_at = std::chrono::steady_clock::now();
      error = writer.Mark_Status(k, generation);
      if (error.empty() && (writer.Waiting() >= FLUSH_LINES ||
                            std::chrono::steady_clock::now() - flushed_at >= FLUSH_AGE)) {
        error = writer.Flush();
      }
      if (error.empty()) continue;
      break;
    }
    if (answer.Byte == ANSWER_NAK) {
      Log("Link error (data): negative ACK from automation software.", LOG_RED, true);
      Pause(ERROR_PAUSE);
    }
    break;
  }
  // The statuses marked so far go to the file before anything else happens.
  if (const std::string flushed = writer.Flush(); error.empty()) error = flushed;
  if (!error.empty()) {
    Log(error, LOG_RED, true);
    Pause(ERROR_PAUSE);
  }
  if (writer.Is_Open()) {
    writer.Close();
    Refresh_Events();
  }
}

Report_Sender::Answer Report_Sender::Send_Line(const Event_Record* record) {
  progress_.fetch_add(1, std::memory_order_relaxed);
  sync_.Answer_Byte.store(0);
  sync_.Answer_Event.Reset();

  // The line is made from the sender's settings snapshot and written here, on this thread.
  const Sender_Settings settings = Current_Settings();
  const std::string line = record != nullptr ? Format_Report_Line(*record, settings.Report_Format)
                                             : Format_Heartbeat_Line(settings.HB_Receiver_Nr);
  if (Stop_Requested()) return {Outcome::Answered, 0};

  uint8_t byte = 0;
  bool transport = false;
  if (settings.Out_Mode == OUT_MODE_TCP) {
    // The answer time runs from the write, stop request or not: an ACK that comes for a line in
    // flight at shutdown is recorded, so the event is never offered again after a restart.
    const Tcp_Link::Result result = link_.Tcp().Send_And_Wait(
        line, ANSWER_TIMEOUT, WAIT_SLICE, [] { return false; }, byte);
    transport = result != Tcp_Link::Result::No_Connection;
    if (result == Tcp_Link::Result::No_Answer) return {Outcome::No_Answer, 0};
    if (result == Tcp_Link::Result::Answered) {
      sync_.Answer_Byte.store(byte);
      sync_.Answer_Event.Set();
    }
    // Stopped: what Answer_Byte holds, as a wait ended by shutdown gives.
    if (result == Tcp_Link::Result::Stopped) byte = sync_.Answer_Byte.load();
  } else if (settings.Out_Mode == OUT_MODE_SERIAL && serial_.Is_Open()) {
    transport = true;
    try {
      serial_.Write_Text(line);
    } catch (const ECommError& error) {
      if (error.Error_Id == COMM_NOT_OPEN) {
        transport = false;  // closed by the main thread after the open test
      } else {
        Log("COM port error: " + std::to_string(error.System_Error) + error.Reason(), LOG_RED,
            false);
      }
    }
    if (transport) {
      if (!Wait_For_Answer()) return {Outcome::No_Answer, 0};
      byte = sync_.Answer_Byte.load();
    }
  }
  if (!transport) {
    sync_.Link_State.store(0);
    // The heartbeat is due at once after the link was found gone, even when the link manager
    // opens it again before the next cycle starts.
    hb_due_now_ = true;
    return {Outcome::No_Transport, 0};
  }
  if (settings.Data_Log && !Stop_Requested()) {
    // Posted, not waited for: the line and its answer never wait for the window thread.
    auto show = [&screen = screen_, log_line = Answer_Log_Line(local_clock_(), byte)] {
      if (screen.Data_Log_Visible()) screen.Data_Log_Line(log_line);
    };
    if (post_on_main_) {
      post_on_main_(std::move(show));
    } else {
      Hand_Over(show);
    }
  }
  return {Outcome::Answered, byte};
}

void Report_Sender::Take_Settings() {
  const bool data_log = screen_.Data_Log_Visible();
  {
    Mutex_Lock lock(settings_mutex_);
    snapshot_.Out_Mode = settings_.Out_Mode;
    snapshot_.HB_Period = settings_.HB_Period;
    snapshot_.HB_Receiver_Nr = settings_.HB_Receiver_Nr;
    snapshot_.Report_Format = settings_.Report_Format;
    snapshot_.Data_Log = data_log;
  }
}

Report_Sender::Sender_Settings Report_Sender::Current_Settings() const {
  Mutex_Lock lock(settings_mutex_);
  return snapshot_;
}

bool Report_Sender::Wait_For_Answer() {
  // The answer time runs from the write of the line, stop request or not: a line in flight at
  // shutdown may still be acknowledged, and an acknowledged event must be recorded, or it would
  // be offered again after a restart. The receivers store the byte before they set
  // Answer_Event, so the event set without a byte is shutdown's wake-up, not an answer; the
  // byte is then watched until it comes or the answer time runs out.
  const auto until = std::chrono::steady_clock::now() + ANSWER_TIMEOUT;
  while (true) {
    if (sync_.Answer_Byte.load() != 0) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    if (sync_.Answer_Event.Is_Set()) {
      std::this_thread::sleep_for(std::min(left, ANSWER_POLL));
    } else {
      sync_.Answer_Event.Wait(std::min(left, WAIT_SLICE));
    }
  }
}

bool Report_Sender::Hand_Over(const std::function<void()>& work) {
  if (Stop_Requested()) return false;
  return run_on_main_(work);
}

void Report_Sender::Log(const std::string& text, uint32_t colour, bool beep) {
  Hand_Over([&] {
    screen_.Log_Message(text, colour);
    if (beep) screen_.Beep();
  });
}

void Report_Sender::Refresh_Events() {
  // Posted, not waited for: a busy window thread holds no report back.
  if (Stop_Requested() || !post_on_main_) return;
  post_on_main_([&screen = screen_] { screen.Refresh_Events(); });
}

bool Report_Sender::Gate_Open() const {
  return sync_.Run_Gate.Is_Set() && !Stop_Requested();
}

void Report_Sender::Pause(std::chrono::milliseconds duration) {
  Mutex_Lock lock(stop_mutex_);
  lock.Wait_For(stop_changed_, duration, [this] { return Stop_Requested(); });
}
