// quenor: the alarm receiver program. The command line chooses between the windows (no
// arguments), the headless receiver and the settings and status commands; see
// app/command_line.h. The windowed start-up in its order: the data folder and its
// single-instance lock, the core (files, synchronisation objects, timers, worker threads), the
// windows, the background decision; then the message loop until "Exit" or SIGTERM/SIGINT runs
// the shutdown.
#include <QApplication>
#include <QDateTime>
#include <QEvent>
#include <QLineEdit>
#include <cstdlib>
#include <functional>
#include <iostream>

#include "app/command_line.h"
#include "app/commands.h"
#include "app/receiver_core.h"
#include "app/run_headless.h"
#include "app/settings_text.h"
#include "app/startup.h"
#include "automation/link_manager.h"
#include "automation/serial_names.h"
#include "automation/serial_port.h"
#include "base/process_setup.h"
#include "receiver/receiver_server.h"
#include "ui/about_form.h"
#include "ui/automation_page.h"
#include "ui/com_settings_form.h"
#include "ui/log_form.h"
#include "ui/main_form.h"
#include "ui/operator_windows.h"
#include "ui/receiver_page.h"
#include "ui/widgets/message_box.h"
#include "ui/window_hold_hook.h"

namespace {

// Calls `changed` when the watched window is shown or hidden.
class Visibility_Watch : public QObject {
 public:
  Visibility_Watch(QObject* window, std::function<void()> changed)
      : window_(window), changed_(std::move(changed)) {
    window_->installEventFilter(this);
  }
  ~Visibility_Watch() override { window_->removeEventFilter(this); }
  Visibility_Watch(const Visibility_Watch&) = delete;
  Visibility_Watch& operator=(const Visibility_Watch&) = delete;

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
      changed_();
    }
    return false;
  }

 private:
  QObject* window_;
  std::function<void()> changed_;
};

int Run_Windows(int argc, char** argv, const std::string& data_dir);

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Without HOME the default data folder would be made under "/".
bool No_Home() {
  return !Set("HOME") && !Set("XDG_DATA_HOME");
}

// Everything but the windows runs under a QCoreApplication, so it needs no display.
int Run_Without_Windows(int argc, char** argv, const Command_Line& line) {
  QCoreApplication app(argc, argv);
  if ((line.Kind == Command_Kind::Settings || line.Kind == Command_Kind::Status) &&
      line.Data_Dir.empty() && No_Home()) {
    std::cerr << "No data folder: neither HOME nor XDG_DATA_HOME is set; give --data-dir DIR.\n";
    return EXIT_USAGE;
  }
  const auto folder = [&] {
    return Resolve_Data_Folder(line.Data_Dir,
                               QCoreApplication::applicationDirPath().toStdString() + "/");
  };
  switch (line.Kind) {
    case Command_Kind::Headless:
      return Run_Headless(line.Data_Dir);
    case Command_Kind::Settings:
      return Run_Settings_Command(folder(), line.Assignments, std::cin, std::cout, std::cerr);
    case Command_Kind::Status:
      return Run_Status_Command(folder(),
                                line.Json         ? Status_Format::Json
                                : line.Prometheus ? Status_Format::Prometheus
                                                  : Status_Format::Text,
                                QDateTime::currentSecsSinceEpoch(), std::cout, std::cerr);
    case Command_Kind::Help:
      std::cout << (line.Help_Settings ? Settings_Help() : Help_Text());
      return 0;
    case Command_Kind::Version:
      std::cout << Version_Text();
      return 0;
    default:
      std::cerr << line.Error << "\n"
                << "Try 'quenor --help'.\n";
      return EXIT_USAGE;
  }
}

}  // namespace

int main(int argc, char** argv) {
  Ignore_Broken_Pipe();
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  Command_Line line = Parse_Command_Line(arguments);
  if (!line.Data_Dir.empty()) line.Data_Dir = Raw_Data_Dir(argc, argv, line.Data_Dir);
  if (line.Kind != Command_Kind::Gui) return Run_Without_Windows(argc, argv, line);
  // Qt would abort without a display; the platform may also be named outright (offscreen, vnc).
  if (!Set("DISPLAY") && !Set("WAYLAND_DISPLAY") && !Set("QT_QPA_PLATFORM")) {
    std::cerr << "no display; run quenor --headless or set DISPLAY\n";
    return EXIT_USAGE;
  }
  return Run_Windows(argc, argv, line.Data_Dir);
}

namespace {

int Run_Windows(int argc, char** argv, const std::string& data_dir) {
  QApplication app(argc, argv);

  // 1-2. The data folder and its single instance. The lock is taken before the application gets
  //    its title, because the lock file names the executable by which a later start recognises a
  //    live holder.
  Data_Folder_Claim claim;
  switch (claim.Claim(data_dir, QCoreApplication::applicationDirPath().toStdString() + "/")) {
    case Start_Refusal::Already_Running:
      QApplication::beep();
      Run_Operator_Box(nullptr, {APP_TITLE, MSG_ALREADY_RUNNING});
      return 0;
    case Start_Refusal::No_Data_Folder:
    case Start_Refusal::Lock_Failed:
      Run_Operator_Box(nullptr, {APP_TITLE, QString::fromStdString(claim.Error())});
      return 1;
    case Start_Refusal::None:
      break;
  }
  const std::string& folder = claim.Folder();
  QApplication::setApplicationName(APP_TITLE);
  // The windows are laid out in pixels for an 11-pixel font.
  QFont font = QApplication::font();
  font.setPixelSize(11);
  QApplication::setFont(font);
  // Windows hidden in the notification area must not end the program; only "Exit" does.
  QApplication::setQuitOnLastWindowClosed(false);

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
  // Every change of the settings record, and the data log shown or hidden, reaches the receiver
  // and the report sender at once.
  main_form.Set_Settings_Changed([&core] { core.Push_Settings(); });
  Visibility_Watch data_log_watch(&windows.Data_Log(), [&core] { core.Push_Settings(); });
  main_form.Hide_On_Close(&windows.Events());
  main_form.Place_Beside(&windows.Events(), Side_Window::Event_List);
  main_form.Hide_On_Close(&windows.Objects());
  main_form.Place_Beside(&windows.Objects(), Side_Window::Object_List);
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

  Install_Window_Hold_Hook(&main_form);

  // 12. Visible, or hidden in the notification area.
  if (main_form.Enter_Start_State()) main_form.show();
  const int code = QApplication::exec();

  core.Log().Set_Pane(nullptr);
  core.Attach_Screen(nullptr);
  return code;
}

}  // namespace
