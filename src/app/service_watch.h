// Service_Watch: what a headless receiver tells the service manager through sd_notify. READY=1
// once the receiver port is open (or at once when the settings keep it closed), STATUS= with the
// reason while it cannot open; and, when the manager asks for a watchdog (WATCHDOG_USEC), a
// WATCHDOG=1 every half period, but only while the receiver thread and the report sender both
// make progress.
//
// Progress. The receiver thread's loop turns at least once a second while its port is open (the
// one-second tick) and once every ten seconds while an open fails; the report sender counts a
// turn at every cycle and every line it sends, and may legitimately stand still for one answer's
// wait plus one pause (Report_Sender::LONGEST_STEP). Each is counted hung only when its counter
// has not moved for longer than both the half period and its own longest legitimate step, so a
// sender waiting for a silent automation peer keeps the watchdog fed while a stuck one (a
// hand-over the main thread never serves, a blocked write) stops it and the manager restarts
// the receiver. The pings come from the main thread's timer, so a stuck main thread stops them
// too. Main thread; lives while the core runs.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <string>

class Receiver_Core;

// For the watchdog's tests only: while the file this variable names exists, the core holds the
// hand-overs of its worker threads, so the report sender stands still.
inline constexpr const char* HOLD_SENDER_VARIABLE = "QUENOR_TEST_HOLD_SENDER";

class Service_Watch : public QObject {
  Q_OBJECT

 public:
  // The receiver's longest legitimate quiet time: the retry after a failed open, and a margin.
  static constexpr std::chrono::milliseconds RECEIVER_LONGEST_STEP{12000};

  explicit Service_Watch(Receiver_Core& core, QObject* parent = nullptr);

  // After a reload: tells the manager the receiver is ready again (once the port is open).
  void Reloaded();

 private:
  struct Progress {
    uint64_t Last = 0;
    std::chrono::steady_clock::time_point Moved{};
    bool Hung = false;
  };
  void Start_Check();
  void Watchdog_Tick();
  // True when `value` moved within `limit`; logs the change of verdict once.
  bool Moving(Progress& progress, uint64_t value, std::chrono::milliseconds limit, const char* who);

  Receiver_Core& core_;
  QTimer start_timer_;
  QTimer watchdog_timer_;
  bool ready_ = false;
  std::string last_status_;
  std::chrono::milliseconds half_period_{0};
  Progress receiver_;
  Progress sender_;
  std::string hold_file_;
};
