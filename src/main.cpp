// quenor: the alarm receiver program. Start-up in its order: the single-instance lock, the data
// folder, the core (files, synchronisation objects, timers, worker threads), the windows, the
// background decision; then the message loop until "Exit" or SIGTERM/SIGINT runs the shutdown.
#include <QApplication>
#include <QLineEdit>

#include "app/receiver_core.h"
#include "app/startup.h"
#include "automation/link_manager.h"
#include "automation/serial_names.h"
#include "automation/serial_port.h"
#include "receiver/receiver_server.h"
#include "ui/about_form.h"
#include "ui/automation_page.h"
#include "ui/com_settings_form.h"
#include "ui/log_form.h"
#include "ui/main_form.h"
#include "ui/operator_windows.h"
#include "ui/receiver_page.h"
#include "ui/widgets/message_box.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);

  // 1. One instance. The lock is taken before the application gets its title, because the lock
  //    file names the executable by which a later start recognises a live holder.
  Instance_Lock instance(Instance_Lock_Path());
  if (!instance.Acquire()) {
    QApplication::beep();
    Run_Operator_Box(nullptr, {APP_TITLE, MSG_ALREADY_RUNNING});
    return 0;
  }
  QApplication::setApplicationName(APP_TITLE);
  // The windows are laid out in pixels for an 11-pixel font.
  QFont font = QApplication::font();
  font.setPixelSize(11);
  QApplication::setFont(font);
  // Windows hidden in the notification area must not end the program; only "Exit" does.
  QApplication::setQuitOnLastWindowClosed(false);

  // 2. The data folder.
  const std::string folder =
      Data_Folder_Path(QCoreApplication::applicationDirPath().toStdString() + "/");
  if (!Make_Data_Folder(folder)) {
    Run_Operator_Box(nullptr, {APP_TITLE, MSG_NO_DATA_FOLDER});
    return 0;
  }

  // 3-11. The core and the main window whose screen it reports to.
  Receiver_Core core(folder);
  TMain_Form main_form(core.Settings(), core.Settings_Path(), core.Log());
  core.Attach_Screen(&main_form);
  core.Log().Set_Pane(&main_form);
  TReceiver_Page& receiver_page = main_form.Receiver_Page();
  receiver_page.Set_Port_Prompt([&core] { core.Receiver().Reset_Timer_Interval(); });
  core.Receiver().Set_Port_Field_Text(
      [&receiver_page] { return receiver_page.LabeledEdit_DC9_Port->text().toStdString(); });
  TAutomation_Page& automation_page = main_form.Automation_Page();
  automation_page.Set_Prompt_Tick([&core] { core.Link().Prompt_Tick(); });
  automation_page.Set_Serial_Port([&core] { return core.Serial().Is_Open(); },
                                  [&core] { return Com_Ports_Scan(core.Data_Folder()); });
  core.Start();

  // The other windows, created hidden in this order: About, Events, Object List, Serial Port
  // Settings, System Log, Data Log.
  TForm_About about(&main_form);
  Operator_Windows windows(core, &main_form);  // Events, Object List, Data Log
  TForm_Com_Settings com_settings(core.Settings(), main_form, &main_form);
  TForm_Log log_form(core.Log());
  main_form.Set_About_Box(&about);
  main_form.Set_Com_Settings(&com_settings);
  main_form.Set_Log_Form(&log_form);
  main_form.Set_Window_Hooks(
      {[&windows] { return windows.Data_Log().Data_Log_Visible(); },
       [&windows](const std::string& line) { windows.Data_Log().Data_Log_Line(line); },
       [&windows] { windows.Events().Refresh_Log_Grid(); }});
  main_form.Hide_On_Close(&windows.Events());
  main_form.Hide_On_Close(&windows.Objects());
  QObject::connect(&main_form, &TMain_Form::Show_Events_Requested, &main_form,
                   [&windows] { Operator_Windows::Show_Window(windows.Events()); });
  QObject::connect(&main_form, &TMain_Form::Show_Objects_Requested, &main_form,
                   [&windows] { Operator_Windows::Show_Window(windows.Objects()); });
  QObject::connect(&main_form, &TMain_Form::Show_Data_Log_Requested, &main_form,
                   [&windows] { Operator_Windows::Show_Window(windows.Data_Log()); });
  QObject::connect(&main_form, &TMain_Form::Virtual_Ports_Requested, &main_form,
                   [&windows, &main_form] {
                     windows.VirtualPortsTool1Click(
                         [&main_form] { main_form.Automation_Page().Refresh_Port_List(); });
                   });

  Quit_Signal_Watcher quit_signals;
  QObject::connect(&quit_signals, &Quit_Signal_Watcher::Quit_Requested, &main_form,
                   &TMain_Form::Quit_Without_Question);
  QObject::connect(&main_form, &TMain_Form::Exit_Accepted, &app, [&core] {
    core.Shutdown();
    QCoreApplication::quit();
  });

  // 12. Visible, or hidden in the notification area.
  if (main_form.Enter_Start_State()) main_form.show();
  const int code = QApplication::exec();

  core.Log().Set_Pane(nullptr);
  core.Attach_Screen(nullptr);
  return code;
}
