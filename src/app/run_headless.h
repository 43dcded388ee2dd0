// The headless run of the receiver core (quenor-headless and quenor --headless). Main thread.
#pragma once

#include <string>

// The receiver without windows until SIGTERM or SIGINT (quenor-headless and quenor --headless):
// claims the folder, starts the core, writes every log line also to standard output with the
// level prefix systemd reads ("<3>" for red lines, "<6>" for the others), reports readiness and
// keep-alives to the service manager (Service_Watch), reads the settings again on SIGHUP, and
// after SIGTERM or SIGINT runs the shutdown. A start refused because another receiver runs writes
// its message to standard error and returns 0; a folder that cannot be made or locked writes the
// reason and returns 1. Needs a QCoreApplication; returns the exit code.
int Run_Headless(const std::string& data_dir);
