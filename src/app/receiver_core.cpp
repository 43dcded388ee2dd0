#include "app/receiver_core.h"

#include <QCoreApplication>
#include <QThread>

#include "app/startup.h"
#include "automation/at_rec_thread.h"
#include "automation/link_manager.h"
#include "automation/report_sender.h"
#include "automation/serial_port.h"
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
  // The report sender ends while its hand-overs are still served. Then the hand-over is closed,
  // which releases a serial receive thread that waits on it, so its join cannot hang.
  sender_.reset();
  hand_over_.Close();
  serial_receiver_.reset();
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
  // The serial port object (closed, "COM1") and the automation link manager.
  serial_ = std::make_unique<Serial_Port>();
  link_ = std::make_unique<Link_Manager>(settings_, sync_, *serial_, *operator_, data_folder_);

  // The timers. None opens a port itself; their ticks do.
  receiver_->Start();  // Timer_DC9, first tick after 1000 ms
  link_->Start();      // Timer_Out, first tick after 2000 ms
  ping_timer_.start();

  // The serial receive thread, then the report sender (Monitoring_Thread).
  serial_receiver_ =
      std::make_unique<AT_Rec_Thread>(*serial_, sync_, [this](const std::string& line) {
        Run_On_Main([&] {
          operator_->Log_Message(line, LOG_RED);
          operator_->Beep();
        });
      });
  serial_receiver_->Start();
  sender_ = std::make_unique<Report_Sender>(
      settings_, sync_, journal_, objects_, *serial_, *link_, *operator_,
      [this](const std::function<void()>& work) { Run_On_Main(work); });
  sender_->Start();
  running_ = true;
}

void Receiver_Core::Shutdown() {
  if (!running_ || shut_down_) return;
  shut_down_ = true;

  // 1. Keep the report sender away from the journal and the objects for good, and wake it if it
  //    waits for an answer.
  sync_.Run_Gate.Reset();
  sync_.Answer_Event.Set();

  // 2. The timers: supervision, Timer_DC9.
  ping_timer_.stop();
  receiver_->Stop();  // stops Timer_DC9, then (step 3) closes the listener and its connections
  link_->Stop();      // Timer_Out

  // 3. The automation client socket (ServerSocket_Out goes down with the process).
  link_->Close_Client();

  // 4. The report sender: asked to end, waited for at most 5000 ms while its hand-overs are
  //    served. One that has not ended is waited for again by its destructor, before anything it
  //    uses is freed.
  sender_->Stop(std::chrono::milliseconds(5000));
  // 5. The same for AT_Rec_Thread.
  serial_receiver_->Stop();
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(5000);
  while (serial_receiver_->Is_Running() && std::chrono::steady_clock::now() < until) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
  // 6. The synchronisation objects live as members until the core is destroyed.
  // 7. The serial port, if it is open.
  try {
    serial_->Close_Port();
  } catch (const ECommError&) {
    // The descriptor is released all the same; nothing is left to do at shutdown.
  }
  // 8. The journal ring lives as a member until the core is destroyed.

  // 9.
  operator_->Log_Message("Program closed", LOG_BLACK);
  running_ = false;
}

void Receiver_Core::Run_On_Main(const std::function<void()>& work) {
  hand_over_.Run(work);
}

void Receiver_Core::Ping_Timer_Tick() {
  emit Ping_Ticked(objects_.Ping_Tick());
}
