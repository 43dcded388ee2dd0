#include "automation/at_rec_thread.h"

#include <utility>

#include "automation/stuck_worker.h"

AT_Rec_Thread::AT_Rec_Thread(Serial_Port& port, Shared_Sync& sync, Error_Report report_error)
    : port_(port), sync_(sync), report_error_(std::move(report_error)) {}

AT_Rec_Thread::~AT_Rec_Thread() {
  Stop();
  if (!thread_.joinable()) return;
  if (!Wait_Ended(STOP_DEADLINE)) End_Process_With_Stuck_Worker("AT_Rec_Thread");
  thread_.join();
}

void AT_Rec_Thread::Start() {
  if (thread_.joinable()) return;
  running_.store(true, std::memory_order_release);
  thread_ = std::thread([this] { Run(); });
}

void AT_Rec_Thread::Stop() {
  {
    Mutex_Lock lock(stop_mutex_);
    stop_ = true;
  }
  stop_changed_.notify_all();
}

bool AT_Rec_Thread::Wait_Ended(std::chrono::milliseconds deadline) {
  Mutex_Lock lock(stop_mutex_);
  return lock.Wait_For(ended_, deadline,
                       [this] { return !running_.load(std::memory_order_acquire); });
}

bool AT_Rec_Thread::Sleep(std::chrono::milliseconds period) {
  Mutex_Lock lock(stop_mutex_);
  return !lock.Wait_For(stop_changed_, period, [this] {
    stop_mutex_.Assert_Held();
    return stop_;
  });
}

void AT_Rec_Thread::Run() {
  bool go_on = true;
  while (go_on) {
    std::chrono::milliseconds pause = POLL_PERIOD;
    try {
      if (sync_.Link_State.load(std::memory_order_acquire) != 0 && port_.Is_Open()) {
        // Bytes_Waiting is asked again before every byte, so a stop request ends even a
        // continuous stream after the byte in hand.
        while (port_.Bytes_Waiting() > 0) {
          const int byte = port_.Read_Byte();
          if (byte == ANSWER_ACK || byte == ANSWER_NAK) {
            sync_.Answer_Byte.store(static_cast<uint8_t>(byte), std::memory_order_release);
            sync_.Answer_Event.Set();
          }
          Mutex_Lock lock(stop_mutex_);
          if (stop_) break;
        }
      }
    } catch (const ECommError& error) {
      // The main thread closed the port between the open test and the read: the link is going
      // down, not failing, so there is nothing to report.
      if (error.Error_Id != COMM_NOT_OPEN) {
        report_error_("Serial Port Error: " + std::to_string(error.System_Error) + error.Reason());
        pause = ERROR_PAUSE;
      }
    }
    go_on = Sleep(pause);
    cycles_.fetch_add(1, std::memory_order_acq_rel);
  }
  {
    Mutex_Lock lock(stop_mutex_);
    running_.store(false, std::memory_order_release);
  }
  ended_.notify_all();
}
