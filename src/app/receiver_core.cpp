#include "app/receiver_core.h"

#include <cstdio>

#include "app/startup.h"
#include "automation/automation_link.h"
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
  ping_timer_.setInterval(1000);
  connect(&ping_timer_, &QTimer::timeout, this, &Receiver_Core::Ping_Timer_Tick);
}

Receiver_Core::~Receiver_Core() {
  if (running_) Shutdown();
  // The report sender ends while its hand-overs are still served; then the hand-over is closed
  // and the serial receive thread joined (Automation_Link's destructor).
  automation_.reset();
  hand_over_.Close();
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
}

void Receiver_Core::Shutdown() {
  if (!running_ || shut_down_) return;
  shut_down_ = true;

  // 1. Keep the report sender away from the journal and the objects for good, and wake it if it
  //    waits for an answer. Done before the receiver stops; Automation_Link::Stop repeats it.
  sync_.Run_Gate.Reset();
  sync_.Answer_Event.Set();

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
