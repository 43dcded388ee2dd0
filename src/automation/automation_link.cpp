#include "automation/automation_link.h"

#include <QCoreApplication>
#include <thread>
#include <utility>

Automation_Link::Automation_Link(Settings_Record& settings, Shared_Sync& sync,
                                 Event_Journal& journal, Object_Table& objects,
                                 Operator_Port& screen, std::string data_folder,
                                 Main_Hand_Over& hand_over)
    : sync_(sync),
      screen_(screen),
      hand_over_(hand_over),
      link_(settings, sync, serial_, screen, std::move(data_folder)),
      serial_receiver_(serial_, sync,
                       [this](const std::string& line) {
                         // After the hand-over closed the line is dropped: nobody shows it then.
                         hand_over_.Run([&] {
                           screen_.Log_Message(line, LOG_RED);
                           screen_.Beep();
                         });
                       }),
      sender_(settings, sync, journal, objects, serial_, link_, screen,
              [this](const std::function<void()>& work) { return hand_over_.Run(work); }) {
  link_.Set_Settings_Changed([this] { Settings_Changed(); });
  sender_.Set_Main_Poster([this](std::function<void()> work) {
    std::vector<Main_Queue::Work> batch;
    batch.push_back(std::move(work));
    posted_.Post(batch);
  });
}

void Automation_Link::Settings_Changed() {
  sender_.Take_Settings();
}

Automation_Link::~Automation_Link() {
  while (!sender_.Stop()) {
  }
  hand_over_.Close();
  // The members go now: the serial receive thread is joined before the port it reads.
}

void Automation_Link::Start() {
  link_.Start();
  Start_Workers();
}

void Automation_Link::Start_Workers() {
  Settings_Changed();
  serial_receiver_.Start();
  sender_.Start();
}

bool Automation_Link::Stop(std::chrono::milliseconds deadline) {
  sync_.Run_Gate.Reset();
  sync_.Answer_Event.Set();
  link_.Stop();
  link_.Close_Client();

  const bool sender_ended = sender_.Stop(deadline);
  // The receive thread may be handing an error line over: served while it is waited for.
  serial_receiver_.Stop();
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (serial_receiver_.Is_Running() && std::chrono::steady_clock::now() < until) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const bool receiver_ended = !serial_receiver_.Is_Running();

  try {
    serial_.Close_Port();
  } catch (const ECommError&) {
    // The descriptor is released all the same; nothing is left to do at shutdown.
  }
  return sender_ended && receiver_ended;
}
