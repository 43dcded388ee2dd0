// System_Log: the logging core behind Log_Message. Each line ("<short date> <time with seconds>
// <two spaces><text>") is appended with CR LF to the month's file "dorvex_YYYY_MM.log" in the
// data folder (opened, appended and closed per line; failures are silent) and handed to the log
// pane. Main thread only.
#pragma once

#include <QDateTime>
#include <cstdint>
#include <functional>
#include <string>

// Where the coloured line is shown (the main window's log pane); may be absent.
class Log_Pane {
 public:
  virtual ~Log_Pane() = default;
  // `line` is the whole line as written to the file, without CR LF.
  virtual void Show_Log_Line(const std::string& line, uint32_t colour) = 0;
  // Called after a line was appended to the current file (the System Log window follows it).
  virtual void Log_File_Appended() {}
};

class System_Log {
 public:
  using Clock = std::function<QDateTime()>;  // local date and time of "now"
  // `data_folder` ends with '/'. Without a clock the system clock is used.
  explicit System_Log(std::string data_folder, Clock clock = {});

  void Set_Pane(Log_Pane* pane) { pane_ = pane; }
  void Log_Message(const std::string& text, uint32_t colour);
  // The file of the last Log_Message call; empty before the first line of the run.
  const std::string& Current_File() const { return current_file_; }
  // Recreates the current file empty (the System Log window's "Clear"); false on failure.
  bool Clear_Current_File();
  // The name of the month's file for `when`: data folder + "dorvex_YYYY_MM.log".
  std::string File_For(const QDateTime& when) const;

 private:
  std::string data_folder_;
  Clock clock_;
  Log_Pane* pane_ = nullptr;
  std::string current_file_;
};
