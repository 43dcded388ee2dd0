#include "base/process_setup.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>

uint64_t Raise_Open_File_Limit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return static_cast<uint64_t>(limit.rlim_cur);
}

bool Process_Exists(int64_t pid) {
  if (pid <= 0) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

void Ignore_Broken_Pipe() {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGPIPE, &action, nullptr);
}

bool Ask_To_Reload(int64_t pid) {
  return pid > 0 && ::kill(static_cast<pid_t>(pid), SIGHUP) == 0;
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

void On_Signal(int signal_number) {
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
  action.sa_handler = On_Signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);
}

Quit_Signal_Watcher::~Quit_Signal_Watcher() {
  // Back to the default action: a signal after the watcher is gone ends the process at once.
  ::signal(SIGTERM, SIG_DFL);
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGHUP, SIG_DFL);
}

void Quit_Signal_Watcher::Pipe_Readable() {
  unsigned char byte = 0;
  int quit = 0;
  bool reload = false;
  while (::read(quit_pipe[0], &byte, 1) == 1) {
    if (byte == SIGHUP) {
      reload = true;
    } else {
      quit = byte;
    }
  }
  // An ending wins over a reload that came with it.
  if (quit != 0) {
    emit Quit_Requested(quit);
  } else if (reload) {
    emit Reload_Requested();
  }
}
