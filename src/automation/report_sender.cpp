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
      local_clock_(local_clock ? std::move(local_clock) : [] { return QTime::currentTime(); }) {}

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
    // The next cycle starts as soon as the receiver has stored an event, at the latest after
    // the cycle's sleep.
    if (!Stop_Requested()) sync_.Event_Stored.Wait(CYCLE_SLEEP);
    if (Stop_Requested()) break;
  }
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
  int32_t hb_period = 0;
  if (!Hand_Over([&] { hb_period = settings_.HB_Period; })) return;
  if (!Heartbeat(hb_period)) return;
  Save_Pass();
  if (sync_.Link_State.load() == LINK_UP) {
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
  bool file_used = false;
  for (int k = 0; k < JOURNAL_SLOTS; ++k) {
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
      const std::string error = writer.Save_Status(k, generation);
      file_used = file_used || writer.Is_Open();
      if (error.empty()) continue;
      Log(error, LOG_RED, true);
      Pause(ERROR_PAUSE);
      break;
    }
    if (answer.Byte == ANSWER_NAK) {
      Log("Link error (data): negative ACK from automation software.", LOG_RED, true);
      Pause(ERROR_PAUSE);
    }
    break;
  }
  if (file_used) {
    writer.Close();
    Refresh_Events();
  }
}

Report_Sender::Answer Report_Sender::Send_Line(const Event_Record* record) {
  progress_.fetch_add(1, std::memory_order_relaxed);
  sync_.Answer_Byte.store(0);
  sync_.Answer_Event.Reset();

  // The settings, the line and the TCP write are taken on the main thread in one hand-over.
  enum class Route { None, Tcp_Written, Serial };
  Route route = Route::None;
  std::string line;
  bool data_log = false;
  const bool handed = Hand_Over([&] {
    line = record != nullptr ? Format_Report_Line(*record, settings_.Report_Format)
                             : Format_Heartbeat_Line(settings_.HB_Receiver_Nr);
    data_log = screen_.Data_Log_Visible();
    switch (settings_.Out_Mode) {
      case OUT_MODE_TCP:
        route = link_.Send_Tcp_Line(line) ? Route::Tcp_Written : Route::None;
        break;
      case OUT_MODE_SERIAL:
        route = Route::Serial;
        break;
      default:
        route = Route::None;
        break;
    }
  });
  // Stopping (or the work was refused): behave as an answer that is neither ACK nor NAK, which
  // ends any pass quietly.
  if (!handed) return {Outcome::Answered, 0};

  if (route == Route::Serial) {
    if (!serial_.Is_Open()) {
      route = Route::None;
    } else {
      try {
        serial_.Write_Text(line);
      } catch (const ECommError& error) {
        if (error.Error_Id == COMM_NOT_OPEN) {
          route = Route::None;  // closed by the main thread after the open test
        } else {
          Log("COM port error: " + std::to_string(error.System_Error) + error.Reason(), LOG_RED,
              false);
        }
      }
    }
  }
  if (route == Route::None) {
    sync_.Link_State.store(0);
    // The heartbeat is due at once after the link was found gone, even when the link manager
    // opens it again before the next cycle starts.
    hb_due_now_ = true;
    return {Outcome::No_Transport, 0};
  }
  if (!Wait_For_Answer()) return {Outcome::No_Answer, 0};
  const uint8_t byte = sync_.Answer_Byte.load();
  if (data_log) {
    const std::string log_line = Answer_Log_Line(local_clock_(), byte);
    Hand_Over([&] {
      if (screen_.Data_Log_Visible()) screen_.Data_Log_Line(log_line);
    });
  }
  return {Outcome::Answered, byte};
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
  Hand_Over([&] { screen_.Refresh_Events(); });
}

bool Report_Sender::Gate_Open() const {
  return sync_.Run_Gate.Is_Set() && !Stop_Requested();
}

void Report_Sender::Pause(std::chrono::milliseconds duration) {
  Mutex_Lock lock(stop_mutex_);
  lock.Wait_For(stop_changed_, duration, [this] { return Stop_Requested(); });
}
