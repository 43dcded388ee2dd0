#include "app/receiver_core.h"

#include <fcntl.h>

#include <QCoreApplication>
#include <QDateTime>
#include <cstdio>
#include <cstring>

#include "app/startup.h"
#include "automation/automation_link.h"
#include "automation/link_manager.h"
#include "automation/report_sender.h"
#include "base/raw_file.h"
#include "base/replace_file.h"
#include "receiver/receiver_server.h"

// The Operator_Port of the core: log lines go to the system log (file and pane), everything else
// to the attached screen, or nowhere while the core runs headless.
class Receiver_Core::Core_Operator : public Operator_Port {
 public:
  explicit Core_Operator(Receiver_Core& core) : core_(core) {}

  void Log_Message(const std::string& text, uint32_t colour) override {
    core_.log_.Log_Message(text, colour);
  }
  void Beep() override {
    if (core_.screen_) core_.screen_->Beep();
  }
  void Play_Notify_Sound() override {
    if (core_.screen_) core_.screen_->Play_Notify_Sound();
  }
  void Set_Status_Text(int panel, const std::string& text) override {
    if (core_.screen_) core_.screen_->Set_Status_Text(panel, text);
  }
  bool Data_Log_Visible() override { return core_.screen_ && core_.screen_->Data_Log_Visible(); }
  void Data_Log_Line(const std::string& line) override {
    if (core_.screen_) core_.screen_->Data_Log_Line(line);
  }
  void Refresh_Events() override {
    if (core_.screen_) core_.screen_->Refresh_Events();
  }
  void Refresh_Mon_Out() override {
    if (core_.screen_) core_.screen_->Refresh_Mon_Out();
  }
  void Show_Message(const std::string& text) override {
    // Written before the box opens, so the text is on record even if the box never closes.
    Write_Message_Line(text);
    if (core_.screen_) core_.screen_->Show_Message(text);
  }

 private:
  Receiver_Core& core_;
};

Receiver_Core::Receiver_Core(std::string data_folder, QObject* parent)
    : QObject(parent),
      data_folder_(std::move(data_folder)),
      log_(data_folder_),
      journal_(data_folder_ + JOURNAL_FILE_NAME),
      objects_(data_folder_ + OBJECT_FILE_NAME, sync_.Object_Table_Lock),
      operator_(std::make_unique<Core_Operator>(*this)),
      receiver_(
          std::make_unique<Receiver_Server>(settings_, journal_, objects_, sync_, *operator_)) {
  receiver_->Use_Main_Queue(main_queue_);
  receiver_->Set_Stored_Notice([this] { Post_Events_Refresh(); });
  ping_timer_.setInterval(1000);
  connect(&ping_timer_, &QTimer::timeout, this, &Receiver_Core::Ping_Timer_Tick);
  live_state_timer_.setInterval(LIVE_STATE_INTERVAL_MS);
  connect(&live_state_timer_, &QTimer::timeout, this, &Receiver_Core::Write_Live_State);
}

Receiver_Core::~Receiver_Core() {
  if (running_) Shutdown();
  // The report sender ends while its hand-overs are still served; then the hand-over is closed
  // and the serial receive thread joined (Automation_Link's destructor).
  automation_.reset();
  hand_over_.Close();
}

void Receiver_Core::Post_Events_Refresh() {
  if (events_refresh_posted_.exchange(true)) return;
  // Through the one bridge to the main thread, whose hand-off the thread checker sees.
  std::vector<Main_Queue::Work> work;
  work.emplace_back([this] {
    events_refresh_posted_.store(false);
    operator_->Refresh_Events();
  });
  main_queue_.Post(work);
}

void Receiver_Core::Start() {
  if (running_ || shut_down_) return;

  // The data files, in this order. The repair messages wait for the receiver's first tick, which
  // logs them after the start line.
  const std::string journal_repair = journal_.Load();
  Settings_Load(settings_, Settings_Path());
  const std::string objects_repair = objects_.Load();
  receiver_->Set_Repair_Messages(objects_repair, journal_repair);

  // The shared synchronisation objects are members and exist already.
  // The automation link: the serial port object (closed, "COM1"), the link manager, the serial
  // receive thread and the report sender.
  automation_ = std::make_unique<Automation_Link>(settings_, sync_, journal_, objects_, *operator_,
                                                  data_folder_, hand_over_);

  // The timers. None opens a port itself; their ticks do.
  receiver_->Start();  // Timer_DC9, first tick after 1000 ms
  ping_timer_.start();
  // Timer_Out (first tick after 2000 ms), then the serial receive thread, then the report sender.
  automation_->Start();
  running_ = true;
  started_ = QDateTime::currentSecsSinceEpoch();
  Write_Live_State();
  live_state_timer_.start();
}

void Receiver_Core::Shutdown() {
  if (!running_ || shut_down_) return;
  shut_down_ = true;

  // 1. Keep the report sender away from the journal and the objects for good, and wake it if it
  //    waits for an answer. Done before the receiver stops; Automation_Link::Stop repeats it.
  sync_.Run_Gate.Reset();
  sync_.Answer_Event.Set();
  hand_over_.Hold(false);
  // A receiver that ends in order leaves no live state behind; `status` then reads the lock.
  live_state_timer_.stop();
  Remove_File(data_folder_ + LIVE_STATE_FILE_NAME);

  // 2. The timers: supervision, Timer_DC9.
  ping_timer_.stop();
  receiver_->Stop();  // stops Timer_DC9, then (step 3) closes the listener and its connections

  // The automation link's part of steps 2 to 7: Timer_Out; the automation client socket
  // (ServerSocket_Out goes down with the process); the report sender, then AT_Rec_Thread, each
  // waited for at most 5000 ms while their hand-overs are served (one that has not ended is
  // waited for again before anything it uses is freed); the serial port, if it is open.
  automation_->Stop(std::chrono::milliseconds(5000));
  // 6. The synchronisation objects live as members until the core is destroyed.
  // 8. The journal ring lives as a member until the core is destroyed.

  // 9.
  operator_->Log_Message("Program closed", LOG_BLACK);
  running_ = false;
}

bool Receiver_Core::Run_On_Main(const std::function<void()>& work) {
  return hand_over_.Run(work);
}

Serial_Port& Receiver_Core::Serial() {
  return automation_->Serial();
}

Link_Manager& Receiver_Core::Link() {
  return automation_->Link();
}

void Receiver_Core::Ping_Timer_Tick() {
  emit Ping_Ticked(objects_.Ping_Tick());
}

bool Receiver_Core::Reload_Settings() {
  Settings_Record fresh{};
  if (int error = 0; !Settings_Read(fresh, Settings_Path(), &error)) {
    operator_->Log_Message(
        "Settings not reloaded: cannot read " + Settings_Path() + "." + Error_Text(error), LOG_RED);
    return false;
  }
  const Settings_Record old = settings_;
  if (std::memcmp(&old, &fresh, sizeof old) == 0) {
    operator_->Log_Message(
        "Settings reloaded from " + std::string(SETTINGS_FILE_NAME) + ": nothing changed.",
        LOG_BLACK);
    return true;
  }
  const bool link_changed = old.Out_Mode != fresh.Out_Mode ||
                            old.Out_TCP_Server != fresh.Out_TCP_Server ||
                            old.Out_Port != fresh.Out_Port || old.COM_Baud != fresh.COM_Baud ||
                            std::memcmp(old.Out_IP, fresh.Out_IP, sizeof old.Out_IP) != 0 ||
                            std::memcmp(old.COM_Name, fresh.COM_Name, sizeof old.COM_Name) != 0;
  if (link_changed && old.Out_Mode != OUT_MODE_CLOSED) {
    // As the page's "closed" choice does: one tick of the link manager in the closed mode shuts
    // the old transport, under the old settings it was opened with.
    settings_.Out_Mode = OUT_MODE_CLOSED;
    automation_->Link().Timer_OutTimer();
  }
  settings_ = fresh;
  Push_Settings();
  operator_->Log_Message("Settings reloaded from " + std::string(SETTINGS_FILE_NAME) + ".",
                         LOG_BLACK);
  if (old.DC9_Port != fresh.DC9_Port && receiver_->Is_Active()) {
    operator_->Log_Message("Receiver port " + std::to_string(old.DC9_Port) +
                               " closed to reopen as " + std::to_string(fresh.DC9_Port) + ".",
                           LOG_BLACK);
    receiver_->Close_Listener();
    receiver_->Reset_Timer_Interval();
  }
  if (link_changed) automation_->Link().Prompt_Tick();
  return true;
}

void Receiver_Core::Push_Settings() {
  receiver_->Settings_Changed();
  if (automation_) automation_->Settings_Changed();
}

Live_State Receiver_Core::Current_Live_State() {
  Live_State s;
  s.Pid = QCoreApplication::applicationPid();
  s.Started = started_;
  s.Written = QDateTime::currentSecsSinceEpoch();
  s.Headless = screen_ == nullptr;
  s.Port_Enabled = settings_.DC9_Port_Enable != 0;
  s.Port = settings_.DC9_Port;
  s.Port_Open = receiver_->Is_Active();
  if (!s.Port_Open) s.Port_Error = receiver_->Listen_Error();
  s.Journal_Error = receiver_->Journal_Error();
  if (s.Journal_Error.empty()) {
    // Writes fail at the first event only; a file that cannot even be opened for writing is
    // known before.
    const std::string path = data_folder_ + JOURNAL_FILE_NAME;
    const int fd = Open_Descriptor(path, O_WRONLY);
    if (fd < 0) {
      s.Journal_Error = "Cannot open " + path + " for writing." + Error_Text(-fd);
    } else {
      Close_Descriptor(fd);
    }
  }
  s.Link_Configured = settings_.Out_Mode != OUT_MODE_CLOSED;
  s.Link_Mode = settings_.Out_Mode == OUT_MODE_SERIAL        ? "serial"
                : settings_.Out_Mode != OUT_MODE_TCP         ? "off"
                : settings_.Out_TCP_Server == OUT_TCP_SERVER ? "tcp server"
                                                             : "tcp client";
  const uint32_t link = sync_.Link_State.load();
  s.Link_Open = (link & LINK_OPEN) != 0;
  s.Link_Alive = (link & LINK_ALIVE) != 0;
  s.Messages_Answered = receiver_->Answers();
  s.Naks = receiver_->Refusals();
  s.Events_Stored = receiver_->Events_Stored();
  s.Write_Errors = receiver_->Write_Errors();
  if (automation_) {
    s.Lines_Forwarded = automation_->Sender().Lines_Forwarded();
    s.Write_Errors += automation_->Sender().Write_Errors();
  }
  return s;
}

void Receiver_Core::Write_Live_State() {
  const int error =
      Replace_File(data_folder_, LIVE_STATE_FILE_NAME, Live_State_Json(Current_Live_State()));
  // Said once per kind of failure, not every two seconds.
  if (error != 0 && error != live_state_error_) {
    operator_->Log_Message("Cannot write the live state " + data_folder_ + LIVE_STATE_FILE_NAME +
                               "." + Error_Text(error),
                           LOG_RED);
  }
  live_state_error_ = error;
}
