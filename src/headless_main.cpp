// quenor-headless: the receiver core without windows, for tests and benchmarks. The data folder
// is $XDG_DATA_HOME (or ~/.local/share) + "/ORN RAD-EZ Ududerud/"; SIGTERM or SIGINT shuts the
// core down in order and ends the process with code 0.
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>

#include "app/receiver_core.h"
#include "app/startup.h"

namespace {

int signal_pipe[2] = {-1, -1};

void On_Signal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(signal_pipe[1], &byte, 1);
}

std::string Data_Folder() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.local/share";
  }
  return base + "/ORN RAD-EZ Ududerud/";
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::string folder = Data_Folder();
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    Write_Message_Line(MSG_NO_DATA_FOLDER);
    return 0;
  }
  if (::pipe(signal_pipe) != 0) return 1;
  std::signal(SIGTERM, On_Signal);
  std::signal(SIGINT, On_Signal);

  Receiver_Core core(folder);
  QSocketNotifier stop(signal_pipe[0], QSocketNotifier::Read);
  QObject::connect(&stop, &QSocketNotifier::activated, &app, [&] {
    core.Shutdown();
    app.exit(0);
  });
  core.Start();
  return app.exec();
}
