// Start-up pieces of the program that need no window: the data folder, the single-instance lock,
// the standard-error line that accompanies every message box, and the watch for the ending
// signals SIGTERM and SIGINT. Main thread only.
#pragma once

#include <QLockFile>
#include <QObject>
#include <QSocketNotifier>
#include <memory>
#include <string>

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

// The path of the single-instance lock: $XDG_RUNTIME_DIR, else the temporary folder, followed by
// "/Quenor.exe.lock".
std::string Instance_Lock_Path();

// The single-instance lock "Quenor.exe", held until the process ends. A lock left behind by a
// crashed instance is taken over.
class Instance_Lock {
 public:
  explicit Instance_Lock(const std::string& path);
  // True when this process now holds the lock; false when another live instance holds it.
  bool Acquire();

 private:
  QLockFile lock_;
};

// Writes the text of a message box as one line to standard error (before the box opens, so a
// headless run tells what it showed).
void Write_Message_Line(const std::string& text);

// Turns SIGTERM and SIGINT into the Quit_Requested signal on the main thread. The handler only
// writes the signal number into a pipe; Qt is never called from the handler. One watcher per
// process.
class Quit_Signal_Watcher : public QObject {
  Q_OBJECT

 public:
  explicit Quit_Signal_Watcher(QObject* parent = nullptr);
  ~Quit_Signal_Watcher() override;

 signals:
  void Quit_Requested(int signal_number);

 private:
  void Pipe_Readable();
  std::unique_ptr<QSocketNotifier> notifier_;
};
