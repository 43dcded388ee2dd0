#include "app/startup.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>

#include "app/receiver_core.h"
#include "app/service_watch.h"
#include "base/operator_port.h"
#include "base/process_setup.h"
#include "base/service_notify.h"

std::string Data_Folder_Path(const std::string& executable_folder) {
  const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (base.isEmpty() || !QDir().mkpath(base)) return executable_folder;
  return QDir(base).filePath(DATA_FOLDER_NAME).toStdString() + "/";
}

bool Make_Data_Folder(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  struct stat info {};
  // errno tells why on failure.
  const auto is_folder = [&info] {
    if (S_ISDIR(info.st_mode)) return true;
    errno = ENOTDIR;
    return false;
  };
  if (::stat(path.c_str(), &info) == 0) return is_folder();
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  return ::stat(path.c_str(), &info) == 0 && is_folder();
}

std::string Instance_Lock_Path(const std::string& data_folder) {
  return data_folder + INSTANCE_LOCK_NAME;
}

Instance_Lock::Instance_Lock(const std::string& data_folder)
    : folder_(data_folder), path_(Instance_Lock_Path(data_folder)) {}

int Instance_Lock::Acquire() {
  // Never through a link planted in the folder; the file's content does not matter, and a lock
  // file the process may only read (root's, in a service user's folder) still takes the flock.
  if (!file_.Open(path_, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK, 0600) &&
      (file_.Error() != EACCES || !file_.Open(path_, O_RDONLY | O_NOFOLLOW | O_NONBLOCK)))
    return file_.Error();
  // Root preparing a service user's folder leaves the lock file to the folder's owner.
  if (::geteuid() == 0) file_.Give_To_Owner_Of(folder_);
  const int error = Try_Lock_Descriptor(file_.Descriptor());
  if (error != 0) {
    file_.Close();
    return error;
  }
  // The holder's pid, for people; the lock itself is the flock.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(file_.Descriptor(), 0) == 0) file_.Write_All(pid.data(), pid.size());
  return 0;
}

bool Instance_Lock_Held(const std::string& data_folder) {
  bool held = false;
  return Lock_Held_On(Instance_Lock_Path(data_folder), held) == 0 && held;
}

std::string Resolve_Data_Folder(const std::string& data_dir, const std::string& executable_folder) {
  if (data_dir.empty()) return Data_Folder_Path(executable_folder);
  // Byte for byte: a folder name need not be valid text.
  std::string folder = data_dir;
  if (folder.front() != '/') {
    std::error_code error;
    const std::string here = std::filesystem::current_path(error).string();
    if (!error) folder = here + (here.back() == '/' ? "" : "/") + folder;
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder == "/" ? folder : folder + "/";
}

Start_Refusal Data_Folder_Claim::Claim(const std::string& data_dir,
                                       const std::string& executable_folder) {
  folder_ = Resolve_Data_Folder(data_dir, executable_folder);
  // A folder named on the command line may sit in folders that do not exist yet (a first
  // `settings` before the service ever ran); only the data folder itself is private.
  if (!data_dir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(
        std::filesystem::path(folder_.substr(0, folder_.size() - 1)).parent_path(), error);
  }
  if (!Make_Data_Folder(folder_)) {
    const int code = errno;
    error_ = std::string(MSG_NO_DATA_FOLDER) + " " + folder_ + ":" + Error_Text(code);
    return Start_Refusal::No_Data_Folder;
  }
  lock_ = std::make_unique<Instance_Lock>(folder_);
  const int code = lock_->Acquire();
  if (code != 0) {
    lock_.reset();
    if (code == EWOULDBLOCK) return Start_Refusal::Already_Running;
    error_ = "Cannot lock the data folder " + folder_ + " (" + INSTANCE_LOCK_NAME +
             "):" + Error_Text(code);
    return Start_Refusal::Lock_Failed;
  }
  return Start_Refusal::None;
}

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
