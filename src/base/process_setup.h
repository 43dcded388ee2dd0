// Process set-up that the receiver needs from the system. Main thread, before the receiver port
// opens.
#pragma once

#include <cstdint>
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
