#include "app/run_headless.h"

#include <QCoreApplication>
#include <cstdio>

#include "app/receiver_core.h"
#include "app/service_watch.h"
#include "app/startup.h"
#include "base/operator_port.h"
#include "base/process_setup.h"
#include "base/service_notify.h"

namespace {

// Headless, the log also goes to standard output, one line per log line, with the level prefix
// of sd-daemon(3): journald files red lines as errors.
class Stdout_Log_Pane : public Log_Pane {
 public:
  void Show_Log_Line(const std::string& line, uint32_t colour) override {
    const std::string out = (colour == LOG_RED ? "<3>" : "<6>") + line + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    // Standard output is a pipe under systemd: unflushed lines would arrive late or be lost.
    std::fflush(stdout);
  }
};

}  // namespace

int Run_Headless(const std::string& data_dir) {
  Data_Folder_Claim claim;
  switch (claim.Claim(data_dir, QCoreApplication::applicationDirPath().toStdString() + "/")) {
    case Start_Refusal::No_Data_Folder:
    case Start_Refusal::Lock_Failed:
      // Not a second receiver: the service must be seen failing, so it is restarted and shown.
      Write_Message_Line(claim.Error());
      Notify_Service("STATUS=" + claim.Error());
      return 1;
    case Start_Refusal::Already_Running:
      // Exit 0 but never READY=1: the service manager counts a notify service that ends before
      // it is ready as a failed start, so the unit shows as not running (with this status) and
      // Restart= takes the folder over once the other receiver has ended.
      Write_Message_Line(MSG_ALREADY_RUNNING);
      Notify_Service(std::string("STATUS=") + MSG_ALREADY_RUNNING);
      return 0;
    case Start_Refusal::None:
      break;
  }
  Quit_Signal_Watcher quit_signals;
  Stdout_Log_Pane pane;
  Receiver_Core core(claim.Folder());
  core.Log().Set_Pane(&pane);
  QObject::connect(&quit_signals, &Quit_Signal_Watcher::Quit_Requested, &core, [&core] {
    Notify_Service("STOPPING=1");
    core.Shutdown();
    QCoreApplication::exit(0);
  });
  core.Start();
  Service_Watch watch(core);
  QObject::connect(&quit_signals, &Quit_Signal_Watcher::Reload_Requested, &core, [&core, &watch] {
    core.Log().Log_Message("SIGHUP: reading the settings again.", LOG_BLACK);
    if (core.Reload_Settings()) watch.Reloaded();
  });
  const int code = QCoreApplication::exec();
  core.Shutdown();
  core.Log().Set_Pane(nullptr);
  return code;
}
