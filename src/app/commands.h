// The commands of the command line that work on a data folder's files without starting the
// receiver: `settings` and `status`. Each returns the process's exit code and writes its report
// to `out` and its complaints to `err`. Main thread, under a QCoreApplication.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

// `quenor settings`: without assignments prints every setting as "Name=value" (a missing file
// reads as the defaults; nothing is created; the folder must exist). With assignments checks
// them all with the pages' rules and writes "dorvex.cfg" (Settings_Store: atomic, mode 0600, the
// folder owner's) only when every one is valid; no receiver may start on the folder meanwhile (it
// is locked). When a headless receiver holds the folder, the file is written and the receiver
// sent SIGHUP to read it again; a receiver with windows refuses (it writes its own copy on Save).
// A missing folder is made. "DC9_AES_Key=-" takes the key from the first line of `in`. Exit 0 on
// success, 1 when a value is refused, a windowed receiver runs or the headless one cannot be
// signalled, 2 when the folder or file cannot be read or written (a missing folder when showing,
// a file in its place, a link in place of "dorvex.cfg"). `data_folder` ends with '/'.
// The folders of the service's instances: /var/lib/quenor/NAME.
inline constexpr const char* SERVICE_FOLDER_ROOT = "/var/lib/quenor/";

// Ports below 1024 are refused for a folder whose receiver runs unprivileged: under
// SERVICE_FOLDER_ROOT, or owned by another user than root.
int Run_Settings_Command(const std::string& data_folder,
                         const std::vector<std::string>& assignments, std::istream& in,
                         std::ostream& out, std::ostream& err);

enum class Status_Format { Text, Json, Prometheus };

// `quenor status`: the folder's report at `now` (seconds since 1970 UTC) as text, one JSON object
// or Prometheus text. Exit 0 healthy, 1 degraded, 2 something unreadable, 3 no receiver running
// (see Judge_Status).
int Run_Status_Command(const std::string& data_folder, Status_Format format, int64_t now,
                       std::ostream& out, std::ostream& err);
