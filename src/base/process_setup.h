// Process set-up that the receiver needs from the system (main thread, before the receiver port
// opens), the standard-error line and the watch for the ending signals.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <cstdint>
#include <memory>
#include <string>

// Raises the process's soft limit of open files to its hard limit, so that thousands of
// communicators can stay connected. Returns the soft limit in force afterwards (0 when the limit
// cannot be read).
uint64_t Raise_Open_File_Limit();

// True when a process with this id exists on this machine (one owned by another user counts).
bool Process_Exists(int64_t pid);

// Ignores SIGPIPE for the whole process: a write to a pipe or socket whose reader has gone (the
// standard output of a service whose journal reader ended, a communicator that hung up) then
// fails with EPIPE instead of ending the receiver without its orderly shutdown.
void Ignore_Broken_Pipe();

// Sends SIGHUP to the process `pid` (a headless receiver: read the settings again). True when
// the signal was delivered.
bool Ask_To_Reload(int64_t pid);

// Writes `text` as one line to standard error, line breaks inside it made spaces, and flushes it
// (the text of a message box before the box opens, so a headless run tells what it showed; the
// last word of a process that ends at once). Any thread.
void Write_Message_Line(const std::string& text);

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
