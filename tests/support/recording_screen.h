// The operator port of the tests and benchmarks: records every log line, beep, sound, status
// text, data log line, refresh and message box. Main thread only, like the real one (worker
// threads hand their calls over). A test that needs a call to reach a window derives from it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "base/operator_port.h"

class Recording_Screen : public Operator_Port {
 public:
  struct Line {
    std::string Text;
    uint32_t Colour;
  };

  void Log_Message(const std::string& text, uint32_t colour) override {
    Lines.push_back({text, colour});
  }
  void Beep() override { ++Beeps; }
  void Play_Notify_Sound() override { ++Sounds; }
  void Set_Status_Text(int panel, const std::string& text) override { Status[panel] = text; }
  bool Data_Log_Visible() override { return Data_Log_Shown; }
  void Data_Log_Line(const std::string& line) override { Data_Log.push_back(line); }
  void Refresh_Events() override { ++Event_Refreshes; }
  void Refresh_Mon_Out() override { ++Mon_Out_Refreshes; }
  void Show_Message(const std::string& text) override { Messages.push_back(text); }

  // How often `text` was logged in `colour`.
  int Count(const std::string& text, uint32_t colour) const {
    int n = 0;
    for (const Line& line : Lines) n += line.Text == text && line.Colour == colour;
    return n;
  }
  bool Logged(const std::string& text, uint32_t colour) const { return Count(text, colour) > 0; }
  // The last text of a status panel ("" when none came).
  std::string Status_Text(int panel) const {
    auto it = Status.find(panel);
    return it == Status.end() ? std::string() : it->second;
  }
  std::string Automation_Status() const { return Status_Text(STATUS_AUTOMATION); }
  std::string Receiver_Status() const { return Status_Text(STATUS_RECEIVER); }

  std::vector<Line> Lines;
  int Beeps = 0;
  int Sounds = 0;
  std::map<int, std::string> Status;
  bool Data_Log_Shown = false;
  std::vector<std::string> Data_Log;
  int Event_Refreshes = 0;
  int Mon_Out_Refreshes = 0;
  std::vector<std::string> Messages;
};
