// Process set-up that the receiver needs from the system. Main thread, before the receiver port
// opens.
#pragma once

#include <cstdint>

// Raises the process's soft limit of open files to its hard limit, so that thousands of
// communicators can stay connected. Returns the soft limit in force afterwards (0 when the limit
// cannot be read).
uint64_t Raise_Open_File_Limit();

// True when a process with this id exists on this machine (one owned by another user counts).
bool Process_Exists(int64_t pid);
