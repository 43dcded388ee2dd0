// Operator_Port: everything the logic tells the operator (log lines, beeps, the notification
// sound, status-bar texts, the data log, window refreshes, message boxes). Every call is made on
// the main thread; worker threads hand their calls over and wait. The main window implements it;
// tests and the headless program use a plain implementation.
#pragma once

#include <cstdint>
#include <string>

// Colours of log lines, 0x00BBGGRR.
inline constexpr uint32_t LOG_BLACK = 0;
inline constexpr uint32_t LOG_RED = 255;

// Status-bar panels of the main window.
inline constexpr int STATUS_RECEIVER = 0;    // receiver port state
inline constexpr int STATUS_AUTOMATION = 1;  // automation link state

class Operator_Port {
 public:
  virtual ~Operator_Port() = default;
  // Log_Message: the line goes to the month's log file and to the log pane.
  virtual void Log_Message(const std::string& text, uint32_t colour) = 0;
  // The default beep.
  virtual void Beep() = 0;
  // Plays "notify.wav" from the current working directory when it exists, without waiting.
  virtual void Play_Notify_Sound() = 0;
  virtual void Set_Status_Text(int panel, const std::string& text) = 0;
  // The data log window: lines are added only while it is visible.
  virtual bool Data_Log_Visible() = 0;
  virtual void Data_Log_Line(const std::string& line) = 0;
  // Refresh_Log_Grid of the events window (does nothing while it is hidden).
  virtual void Refresh_Events() = 0;
  // Refresh_Mon_Out of the automation settings page (after the serial link was switched off).
  virtual void Refresh_Mon_Out() = 0;
  // A plain message box with an OK button; its text is written to standard error first.
  virtual void Show_Message(const std::string& text) = 0;
};
