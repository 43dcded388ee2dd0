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
// folder owner's) only when every one is valid and no receiver holds the folder, which is locked
// meanwhile so none can start; a missing folder is made. "DC9_AES_Key=-" takes the key from the
// first line of `in`. Exit 0 on success, 1 when a value is refused or a receiver runs (the file
// is then unchanged), 2 when the folder or file cannot be read or written (a missing folder when
// showing, a file in its place, a link in place of "dorvex.cfg"). `data_folder` ends with '/'.
// The folders of the service's instances: /var/lib/quenor/NAME.
inline constexpr const char* SERVICE_FOLDER_ROOT = "/var/lib/quenor/";

// Ports below 1024 are refused for a folder whose receiver runs unprivileged: under
// SERVICE_FOLDER_ROOT, or owned by another user than root.
int Run_Settings_Command(const std::string& data_folder,
                         const std::vector<std::string>& assignments, std::istream& in,
                         std::ostream& out, std::ostream& err);

// `quenor status`: the folder's report as text or JSON at `now` (seconds since 1970 UTC). Exit 0
// when healthy, 1 when an object is lost or an event has waited over a minute, 2 when the folder
// cannot be read.
int Run_Status_Command(const std::string& data_folder, bool json, int64_t now, std::ostream& out,
                       std::ostream& err);
