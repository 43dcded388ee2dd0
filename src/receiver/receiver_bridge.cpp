// The receiver's bridge to the main thread: the main thread's commands and settings reach the
// receiver loop through its command wake-up, and what the loop leaves for the main thread (log
// lines, beeps, status texts, data log lines) goes through the process's Main_Queue.
#include <QTime>
#include <cstdio>
#include <cstring>
#include <thread>

#include "receiver/receiver_server.h"

// ---- Main thread --------------------------------------------------------------------------

void Receiver_Server::Call(const std::function<void()>& work) {
  if (!thread_.joinable() || std::this_thread::get_id() == thread_.get_id()) {
    work();
    to_main_.Post(for_main_);
    to_main_.Drain();
    return;
  }
  bool done = false;
  {
    Mutex_Lock lock(command_mutex_);
    commands_.emplace_back(&work, &done);
  }
  command_wake_.Signal();
  {
    Mutex_Lock lock(command_mutex_);
    lock.Wait(command_done_, [&] { return done; });
  }
  to_main_.Drain();
}

void Receiver_Server::Settings_Changed() {
  Settings_Copy copy;
  copy.Port_Enable = settings_.DC9_Port_Enable != 0;
  copy.Port = settings_.DC9_Port;
  copy.Conn_Timeout = settings_.DC9_Conn_Timeout;
  copy.AES_Mode = settings_.DC9_AES_Mode;
  std::memcpy(copy.AES_Key, settings_.DC9_AES_Key, sizeof copy.AES_Key);
  copy.Time_Synch = settings_.Time_Synch != 0;
  copy.Link_On = settings_.Out_Mode == 1 || settings_.Out_Mode == 2;
  copy.Data_Log_Visible = operator_.Data_Log_Visible();
  copy.Port_Field = port_field_();
  copy.UDP_Enable = settings_.DC9_UDP_Enable != 0;
  copy.Repeat_Window = settings_.DC9_Repeat_Window;
  last_settings_ = settings_;
  last_port_field_ = copy.Port_Field;
  last_data_log_visible_ = copy.Data_Log_Visible;
  if (!thread_.joinable()) {
    settings_copy_ = std::move(copy);
    return;
  }
  {
    Mutex_Lock lock(command_mutex_);
    pending_settings_ = std::move(copy);
    settings_pending_ = true;
  }
  command_wake_.Signal();
}

// ---- Receiver thread -----------------------------------------------------------------------

void Receiver_Server::Run_Commands() {
  std::deque<std::pair<const std::function<void()>*, bool*>> commands;
  bool adopt = false;
  {
    Mutex_Lock lock(command_mutex_);
    commands.swap(commands_);
    adopt = settings_pending_;
    settings_pending_ = false;
    if (adopt) settings_copy_ = std::move(pending_settings_);
  }
  for (auto& command : commands) (*command.first)();
  // What the commands left for the main thread is queued before they count as done.
  to_main_.Post(for_main_);
  if (commands.empty()) return;
  {
    Mutex_Lock lock(command_mutex_);
    for (auto& command : commands) *command.second = true;
  }
  command_done_.notify_all();
}

void Receiver_Server::Log(std::string text, uint32_t colour) {
  To_Main([this, text = std::move(text), colour] { operator_.Log_Message(text, colour); });
}

void Receiver_Server::Log_Peer_Paced(std::string text, uint32_t colour) {
  To_Main([this, text = std::move(text), colour] {
    for (const auto& line : log_flood_.Pass(text, Log_Flood_Limiter::Clock::now()))
      operator_.Log_Message(line, colour);
  });
}

void Receiver_Server::Data_Log(const char* text) {
  if (!settings_copy_.Data_Log_Visible) return;
  const QTime now = QTime::currentTime();
  char stamp[32];
  std::snprintf(stamp, sizeof(stamp), "%02u:%02u:%02u:%u", now.hour(), now.minute(), now.second(),
                now.msec());
  std::string line = std::string(stamp) + "  " + text;
  To_Main([this, line = std::move(line)] {
    operator_.Data_Log_Line("");
    operator_.Data_Log_Line(line);
  });
}
