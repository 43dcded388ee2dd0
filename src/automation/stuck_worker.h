// The last resort of shutdown for a worker thread of the automation link that has not ended
// within every bound given to it (it is stuck in a system call that never returns, such as a
// write to a hung file system). Waiting longer would hang the program, and freeing what the
// thread uses would let it touch freed memory when the call returns, so the process ends at once:
// a line on standard error, then exit code 1 without running destructors. The journal and the
// object table lose nothing: their files are written as the program runs. Any thread.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/process_setup.h"

[[noreturn]] inline void End_Process_With_Stuck_Worker(const std::string& worker) {
  Write_Message_Line(worker + " did not end at shutdown; the process ends now.");
  std::fflush(nullptr);
  std::_Exit(EXIT_FAILURE);
}
