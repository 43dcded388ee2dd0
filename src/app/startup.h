// The start-up that both programs share (quenor and quenor-headless): the data folder with its
// single-instance lock, the headless run of the receiver core, the standard-error line that
// accompanies every message box, and the watch for the ending signals SIGTERM and SIGINT. Main
// thread only.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>
#include <string>

#include "base/process_setup.h"
#include "base/raw_file.h"

inline constexpr const char* APP_TITLE = "ORN RAD-EZ Ududerud";
inline constexpr const char* APP_VERSION = "1.07.1";
inline constexpr const char* DATA_FOLDER_NAME = "ORN RAD-EZ Ududerud";
inline constexpr const char* INSTANCE_LOCK_NAME = "Quenor.exe.lock";
inline constexpr const char* MSG_ALREADY_RUNNING = "RAD-EZ Ududerud is already running?";
inline constexpr const char* MSG_NO_DATA_FOLDER = "Unable to create settings directory";

// The data folder: the user's local application-data folder ($XDG_DATA_HOME, else
// ~/.local/share; created when missing) + "/ORN RAD-EZ Ududerud/". When the system names no such
// folder or it cannot be created, `executable_folder` (ending with '/') is used instead.
std::string Data_Folder_Path(const std::string& executable_folder);

// Creates `folder` (one level) with mode 0700, because it holds the AES key. True when the folder
// exists afterwards; an existing folder is left as it is.
bool Make_Data_Folder(const std::string& folder);

// The path of a data folder's single-instance lock: `data_folder` + "Quenor.exe.lock". The lock
// belongs to the folder, so receivers with different folders run side by side.
std::string Instance_Lock_Path(const std::string& data_folder);

// The single-instance lock "Quenor.exe" of one data folder: an flock on the lock file, held until
// the object is destroyed or the process ends (the kernel releases it then, so a crashed
// instance leaves no lock behind, whatever its host name or pid).
class Instance_Lock {
 public:
  explicit Instance_Lock(const std::string& data_folder);
  // 0 when this process now holds the lock; EWOULDBLOCK when another live instance holds it;
  // else the errno that kept the lock file from being opened or locked.
  int Acquire();

 private:
  std::string folder_;
  std::string path_;
  Raw_File file_;
};

// True when a live process holds the instance lock of `data_folder`. Opens the lock file to read
// only; nothing is written, so it also works in a folder the caller may not write.
bool Instance_Lock_Held(const std::string& data_folder);

// Why start-up ended before the core was built.
enum class Start_Refusal {
  None,
  No_Data_Folder,   // MSG_NO_DATA_FOLDER; Error() tells the folder and why
  Already_Running,  // MSG_ALREADY_RUNNING: another live receiver holds the folder
  Lock_Failed,      // the lock could not be taken for another reason; Error() tells it
};

// Steps 1 and 2 of start-up: the data folder (`data_dir` from --data-dir, or the default folder
// when empty), made with mode 0700 when missing, and its single-instance lock, kept for the
// object's life.
class Data_Folder_Claim {
 public:
  // `executable_folder` (ending with '/') stands in when the system names no data folder.
  Start_Refusal Claim(const std::string& data_dir, const std::string& executable_folder);
  // The claimed folder, ending with '/'.
  const std::string& Folder() const { return folder_; }
  // After No_Data_Folder or Lock_Failed: one line naming the folder and the system's reason.
  const std::string& Error() const { return error_; }

 private:
  std::string folder_;
  std::string error_;
  std::unique_ptr<Instance_Lock> lock_;
};

// The data folder named by --data-dir (`data_dir`, made absolute, ending with '/'), or the
// default folder when `data_dir` is empty.
std::string Resolve_Data_Folder(const std::string& data_dir, const std::string& executable_folder);

// The receiver without windows until SIGTERM or SIGINT (quenor-headless and quenor --headless):
// claims the folder, starts the core, writes every log line also to standard output with the
// level prefix systemd reads ("<3>" for red lines, "<6>" for the others), reports readiness and
// keep-alives to the service manager (Service_Watch), reads the settings again on SIGHUP, and
// after SIGTERM or SIGINT runs the shutdown. A start refused because another receiver runs writes
// its message to standard error and returns 0; a folder that cannot be made or locked writes the
// reason and returns 1. Needs a QCoreApplication; returns the exit code.
int Run_Headless(const std::string& data_dir);

// Turns SIGTERM and SIGINT into the Quit_Requested signal and SIGHUP into Reload_Requested, on
// the main thread. The handler only writes the signal number into a pipe; Qt is never called
// from the handler. One watcher per process. (The windows connect no reload: SIGHUP is then
// ignored there, as a closed terminal must not end a receiver.)
class Quit_Signal_Watcher : public QObject {
  Q_OBJECT

 public:
  explicit Quit_Signal_Watcher(QObject* parent = nullptr);
  ~Quit_Signal_Watcher() override;

 signals:
  void Quit_Requested(int signal_number);
  void Reload_Requested();

 private:
  void Pipe_Readable();
  std::unique_ptr<QSocketNotifier> notifier_;
};
