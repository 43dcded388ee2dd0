#include "app/startup.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QStandardPaths>
#include <cerrno>
#include <csignal>
#include <cstdio>

std::string Data_Folder_Path(const std::string& executable_folder) {
  const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (base.isEmpty() || !QDir().mkpath(base)) return executable_folder;
  return QDir(base).filePath(DATA_FOLDER_NAME).toStdString() + "/";
}

bool Make_Data_Folder(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string Instance_Lock_Path() {
  QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::tempPath();
  return QDir(folder).filePath(INSTANCE_LOCK_NAME).toStdString();
}

Instance_Lock::Instance_Lock(const std::string& path) : lock_(QString::fromStdString(path)) {
  // A live holder keeps its lock however old the file is; only a lock whose process has gone
  // counts as stale.
  lock_.setStaleLockTime(0);
}

bool Instance_Lock::Acquire() {
  return lock_.tryLock(0);
}

void Write_Message_Line(const std::string& text) {
  std::string line = text;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

namespace {

int quit_pipe[2] = {-1, -1};

void On_Quit_Signal(int signal_number) {
  const int saved_errno = errno;
  const unsigned char byte = static_cast<unsigned char>(signal_number);
  // Nothing to do when the pipe is full: an ending is already pending.
  [[maybe_unused]] ssize_t written = ::write(quit_pipe[1], &byte, 1);
  errno = saved_errno;
}

}  // namespace

Quit_Signal_Watcher::Quit_Signal_Watcher(QObject* parent) : QObject(parent) {
  if (quit_pipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, quit_pipe) != 0)
    return;
  ::fcntl(quit_pipe[1], F_SETFL, ::fcntl(quit_pipe[1], F_GETFL) | O_NONBLOCK);
  ::fcntl(quit_pipe[0], F_SETFL, ::fcntl(quit_pipe[0], F_GETFL) | O_NONBLOCK);
  notifier_ = std::make_unique<QSocketNotifier>(quit_pipe[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &Quit_Signal_Watcher::Pipe_Readable);

  struct sigaction action {};
  action.sa_handler = On_Quit_Signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
}

Quit_Signal_Watcher::~Quit_Signal_Watcher() {
  // Back to the default action: a signal after the watcher is gone ends the process at once.
  ::signal(SIGTERM, SIG_DFL);
  ::signal(SIGINT, SIG_DFL);
}

void Quit_Signal_Watcher::Pipe_Readable() {
  unsigned char byte = 0;
  int last = 0;
  while (::read(quit_pipe[0], &byte, 1) == 1) last = byte;
  if (last != 0) emit Quit_Requested(last);
}
