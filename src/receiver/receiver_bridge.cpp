// The receiver's bridge to the main thread: what the receiver thread leaves for the main thread
// (log lines with their beeps, data log lines, the journal's file notices and write errors) is
// queued in for_main_ and posted on the Main_Queue once per pass; the receiver never waits for
// the main thread.
#include "receiver/receiver_server.h"

#include <QTime>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

constexpr const char* UNRECOGNISED_TEXT = "Unrecognised data received from IP: ";

}  // namespace

void Receiver_Server::Log(std::string text, uint32_t colour) {
  To_Main([this, text = std::move(text), colour] { operator_.Log_Message(text, colour); });
}

void Receiver_Server::Log_Unrecognised(const std::string& address, int32_t port) {
  const std::string text = UNRECOGNISED_TEXT + address + ", port: " + std::to_string(port);
  for (std::string& line : unrecognised_log_.Pass(address, text, Log_Flood_Limiter::Clock::now()))
    Log(std::move(line), LOG_BLACK);
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

void Receiver_Server::Data_Log_Repeat(int64_t earlier) {
  if (!settings_copy_.Data_Log_Visible) return;
  const auto when = static_cast<std::time_t>(earlier);
  std::tm local{};
  localtime_r(&when, &local);
  char text[64];
  std::snprintf(text, sizeof(text), "repeat of the message at %02d:%02d:%02d", local.tm_hour,
                local.tm_min, local.tm_sec);
  To_Main([this, line = std::string(text)] { operator_.Data_Log_Line(line); });
}

void Receiver_Server::Journal_Notice() {
  const std::string notice = journal_.Take_Notice();
  if (notice.empty()) return;
  Log(notice, LOG_RED);
  To_Main([this] { operator_.Beep(); });
}

void Receiver_Server::File_Error(const std::string& line) {
  Note_Journal(line, 0);
  const auto now = std::chrono::steady_clock::now();
  if (file_error_logged_ && now - last_file_error_ < FILE_ERROR_REPEAT) return;
  file_error_logged_ = true;
  last_file_error_ = now;
  Log(line, LOG_RED);
  To_Main([this] { operator_.Beep(); });
}
