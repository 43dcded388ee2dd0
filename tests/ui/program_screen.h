// The program's windows over a fresh data folder, made and wired as the program makes them, for
// the tests that run under a real window manager and for the screenshots. The core is not started:
// no timer ticks and no worker runs, so the windows show only what the test puts in.
#pragma once

#include <QApplication>
#include <QProcess>
#include <QStringList>
#include <cstdio>

#include "app/receiver_core.h"
#include "support/qt_widgets_app.h"
#include "support/temp_folder.h"
#include "support/wait.h"
#include "ui/about_form.h"
#include "ui/com_settings_form.h"
#include "ui/log_form.h"
#include "ui/main_form.h"
#include "ui/operator_windows.h"

struct Program_Screen {
  Program_Screen() {
    Settings_Load(core.Settings(), core.Settings_Path());
    core.Attach_Screen(&main_form);
    core.Log().Set_Pane(&main_form);
    main_form.Set_About_Box(&about);
    main_form.Set_Com_Settings(&com_settings);
    main_form.Set_Log_Form(&log_form);
    main_form.Hide_On_Close(&windows.Events());
    main_form.Place_Beside(&windows.Events(), Side_Window::Event_List);
    main_form.Hide_On_Close(&windows.Objects());
    main_form.Place_Beside(&windows.Objects(), Side_Window::Object_List);
    // Without a notification area the closed window only goes to the taskbar.
    main_form.Set_Tray_Available([] { return false; });
    main_form.Enter_Start_State();
  }
  ~Program_Screen() {
    core.Log().Set_Pane(nullptr);
    core.Attach_Screen(nullptr);
  }

  QApplication& app = Test_Widgets_App();
  Temp_Folder folder;
  Receiver_Core core{folder.Path()};
  TMain_Form main_form{core.Settings(), core.Settings_Path(), core.Log()};
  TForm_About about{&main_form};
  Operator_Windows windows{core, &main_form};
  TForm_Com_Settings com_settings{core.Settings(), main_form, &main_form};
  TForm_Log log_form{core.Log()};
};

// An accepted message with every field at its widest: a six-character receiver and line, a
// 16-character account, a two-character group and a three-character zone, the longest address.
inline Event_Record Widest_Event(const char* account, const char* code = "1401") {
  Event_Record e{};
  e.Status = EVT_PRESENT;
  std::snprintf(e.Receiver_Nr, sizeof e.Receiver_Nr, "888888");
  std::snprintf(e.Line_Nr, sizeof e.Line_Nr, "888888");
  std::snprintf(e.Account_Nr, sizeof e.Account_Nr, "%s", account);
  std::snprintf(e.Event_Code, sizeof e.Event_Code, "%s", code);
  std::snprintf(e.Group_Nr, sizeof e.Group_Nr, "88");
  std::snprintf(e.Zone_Nr, sizeof e.Zone_Nr, "888");
  std::snprintf(e.IP_Address, sizeof e.IP_Address, "255.255.255.255");
  e.Time_Received = 1765380000;
  e.Signal_Quality = 100;
  return e;
}

// Puts what an operator sees after a while into the windows: events in the journal (alarms and a
// link test), objects of which the first is lost, and log lines, one of them long and one red.
inline void Fill_With_Content(Program_Screen& screen) {
  const char* accounts[] = {"8888888888888888", "1234", "5678", "A1B2C3"};
  screen.core.Journal().Load();  // the journal file, for the report sender's save below
  Extended_Data quality{};
  std::snprintf(quality.data(), quality.size(), "[Q100]");
  for (const char* account : accounts) {
    Event_Record event = Widest_Event(account, account[0] == '5' ? "NULL" : "1401");
    screen.core.Objects().Update(event, quality);
    screen.core.Journal().Append(event);
  }
  // Saved by the report sender: "Pending" until the automation software acknowledges them.
  screen.core.Journal().Save_New(screen.core.Sync().Run_Gate);
  screen.core.Objects().Change_Timeout(0, 1);
  for (int second = 0; second < 60; ++second) screen.core.Objects().Ping_Tick();
  System_Log& log = screen.core.Log();
  log.Log_Message("Program started", 0);
  log.Log_Message("Receiver port 7777 opened.", 0);
  log.Log_Message(
      "Connection with automation software lost. No answer from the automation "
      "software to the heartbeat signal within 2000 ms; the line is offered again.",
      255);
}

// Runs an X tool (xdotool, xprop, import) to its end and returns its standard output.
inline QString Run_X_Tool(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  if (!process.waitForFinished(10000)) {
    process.kill();
    process.waitForFinished();
  }
  return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// Whether the windows run on an X server (the window-manager script sets it up); elsewhere the
// tests that need one are skipped.
inline bool On_X_Server() {
  Test_Widgets_App();
  return QGuiApplication::platformName() == "xcb";
}
