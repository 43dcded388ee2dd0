#include "automation/automation_link.h"

#include <QCoreApplication>
#include <thread>
#include <utility>

#include "automation/stuck_worker.h"

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
  sender_.Set_Main_Poster([this](std::function<void()> work) { Post(std::move(work)); });
  // The sender's notices about the connection it holds reach the link manager on the main
  // thread; the sender does not wait for them.
  link_.Tcp().Set_Notices({[this](int fd) { Post([this, fd] { link_.Resume_Watch(fd); }); },
                           [this](int fd, int error) {
                             Post([this, fd, error] { link_.Held_Connection_Ended(fd, error); });
                           }});
}

void Automation_Link::Post(std::function<void()> work) {
  std::vector<Main_Queue::Work> batch;
  batch.push_back(std::move(work));
  posted_.Post(batch);
}

void Automation_Link::Settings_Changed() {
  sender_.Take_Settings();
}

Automation_Link::~Automation_Link() {
  // Normally Stop() ran already; otherwise it runs now, with its bounds. Closing the hand-over
  // then releases a worker that still waits on it, so that the members' own bounded stops
  // (report sender, then serial receive thread) cannot wait for the main thread.
  if (!stopped_) Stop();
  hand_over_.Close();
  // A worker that outlived every bound of Stop() is stuck in a system call: waiting longer would
  // hang the program, and freeing what it uses would let it touch freed memory.
  if (!sender_.Has_Ended()) End_Process_With_Stuck_Worker("Monitoring_Thread");
  if (serial_receiver_.Is_Running()) End_Process_With_Stuck_Worker("AT_Rec_Thread");
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

bool Automation_Link::Serve_Until(const std::function<bool()>& done,
                                  std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    // The hand-over is served directly as well as through the event loop, so a worker's log line
    // is taken even when this runs inside an event handler that holds the loop's wake-up.
    hand_over_.Serve();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool Automation_Link::Stop_Worker(const std::function<bool()>& ended,
                                  std::chrono::milliseconds deadline) {
  if (Serve_Until(ended, deadline)) return true;
  // Past the deadline no work is handed over any more: a worker waiting on the main thread is
  // released (its work not run) and gets a short grace to end.
  hand_over_.Close();
  return Serve_Until(ended, HAND_OVER_GRACE);
}

bool Automation_Link::Stop(std::chrono::milliseconds deadline) {
  stopped_ = true;
  sync_.Run_Gate.Reset();
  sync_.Answer_Event.Set();
  link_.Stop();

  // The report sender first. A line it has written is still answered over the link (the TCP
  // read handlers run in the event loop served here, the serial receive thread keeps reading),
  // so no part of the link closes before the sender has ended.
  sender_.Request_Stop();
  const bool sender_ended = Stop_Worker([this] { return sender_.Has_Ended(); }, deadline);
  if (sender_ended) sender_.Stop(std::chrono::milliseconds(0));  // joins the ended thread
  // The automation client socket (the listener goes down with the process).
  link_.Close_Client();

  // The serial receive thread may be handing an error line over: served while it is waited for.
  serial_receiver_.Stop();
  const bool receiver_ended =
      Stop_Worker([this] { return !serial_receiver_.Is_Running(); }, deadline);

  try {
    serial_.Close_Port();
  } catch (const ECommError&) {
    // The descriptor is released all the same; nothing is left to do at shutdown.
  }
  return sender_ended && receiver_ended;
}
