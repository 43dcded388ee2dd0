// Page_Host: what a settings page asks of the main window. Main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "base/settings_rules.h"

class Page_Host {
 public:
  virtual ~Page_Host() = default;
  // Update_Save_Button: compares the record with the settings file and enables the Save button
  // exactly while they differ.
  virtual void Update_Save_Button() = 0;
  // The default beep.
  virtual void Beep() = 0;
  // The box that refuses a number edit's text: warning icon, OK button, titled with the main
  // window's caption, shown above the window being worked in; its text is written to standard
  // error first.
  virtual void Message_Box(const std::string& text) = 0;
};
