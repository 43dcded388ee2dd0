#include "app/service_watch.h"

#include <algorithm>
#include <cstdlib>

#include "app/receiver_core.h"
#include "automation/automation_link.h"
#include "automation/report_sender.h"
#include "base/raw_file.h"
#include "base/service_notify.h"
#include "receiver/receiver_server.h"

namespace {

constexpr int START_CHECK_MS = 200;

}  // namespace

Service_Watch::Service_Watch(Receiver_Core& core, QObject* parent) : QObject(parent), core_(core) {
  start_timer_.setInterval(START_CHECK_MS);
  connect(&start_timer_, &QTimer::timeout, this, &Service_Watch::Start_Check);
  start_timer_.start();

  const uint64_t usec = Service_Watchdog_Usec();
  if (usec == 0) return;
  half_period_ = std::max(std::chrono::milliseconds(1), std::chrono::milliseconds(usec / 2000));
  if (const char* hold = std::getenv(HOLD_SENDER_VARIABLE)) hold_file_ = hold;
  const auto now = std::chrono::steady_clock::now();
  receiver_.Moved = now;
  sender_.Moved = now;
  watchdog_timer_.setInterval(static_cast<int>(half_period_.count()));
  connect(&watchdog_timer_, &QTimer::timeout, this, &Service_Watch::Watchdog_Tick);
  watchdog_timer_.start();
}

void Service_Watch::Reloaded() {
  ready_ = false;
  last_status_.clear();
  start_timer_.start();
}

void Service_Watch::Start_Check() {
  const Live_State live = core_.Current_Live_State();
  if (!live.Port_Enabled || live.Port_Open) {
    const std::string status = live.Port_Open
                                   ? "Receiver port " + std::to_string(live.Port) + " open"
                                   : std::string("Receiver port disabled in the settings");
    Notify_Service("READY=1\nSTATUS=" + status);
    ready_ = true;
    start_timer_.stop();
    return;
  }
  // Not ready: the manager shows why (and fails the start when it lasts past its time-out).
  if (!live.Port_Error.empty() && live.Port_Error != last_status_) {
    Notify_Service("STATUS=" + live.Port_Error);
    last_status_ = live.Port_Error;
  }
}

bool Service_Watch::Moving(Progress& progress, uint64_t value, std::chrono::milliseconds limit,
                           const char* who) {
  const auto now = std::chrono::steady_clock::now();
  if (value != progress.Last) {
    progress.Last = value;
    progress.Moved = now;
  }
  const bool moving = now - progress.Moved <= std::max(limit, half_period_);
  if (moving == !progress.Hung) return moving;
  progress.Hung = !moving;
  const std::string text =
      moving ? std::string(who) + " makes progress again; watchdog keep-alives resume."
             : std::string(who) + " has made no progress for " +
                   std::to_string(
                       std::chrono::duration_cast<std::chrono::seconds>(now - progress.Moved)
                           .count()) +
                   " s; watchdog keep-alives stop.";
  core_.Operator().Log_Message(text, moving ? LOG_BLACK : LOG_RED);
  Notify_Service("STATUS=" + text);
  return moving;
}

void Service_Watch::Watchdog_Tick() {
  if (!hold_file_.empty()) core_.Hold_Hand_Overs(File_Exists(hold_file_));
  const bool receiver_moving =
      Moving(receiver_, core_.Receiver().Loop_Turns(), RECEIVER_LONGEST_STEP, "The receiver");
  const bool sender_moving = Moving(sender_, core_.Automation().Sender().Progress(),
                                    Report_Sender::LONGEST_STEP, "The report sender");
  if (receiver_moving && sender_moving) Notify_Service("WATCHDOG=1");
}
