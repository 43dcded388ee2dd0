#include "app/commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDateTime>

#include "app/folder_status.h"
#include "app/live_state.h"
#include "app/settings_text.h"
#include "app/startup.h"
#include "base/process_setup.h"
#include "base/raw_file.h"
#include "base/settings.h"

namespace {

constexpr int EXIT_REFUSED = 1;
constexpr int EXIT_UNREADABLE = 2;

// Writes the record: over the existing file, or into a new one that belongs to the folder's
// owner (root preparing the folder of a service that runs as its own user).
bool Store_Settings(const Settings_Record& record, const std::string& data_folder) {
  const std::string path = data_folder + SETTINGS_FILE_NAME;
  if (File_Exists(path)) return Settings_Save(record, path);
  if (!Settings_Create(record, path)) return false;
  if (::geteuid() == 0) {
    Raw_File file;
    if (!file.Open(path, O_RDONLY) || !file.Give_To_Owner_Of(data_folder)) return false;
  }
  return true;
}

// The process id of the headless receiver that holds the folder, from its live state; 0 when the
// holder runs with windows or its state cannot be trusted (missing, stale, process gone).
int64_t Headless_Holder(const std::string& data_folder) {
  Live_State live;
  std::string error;
  if (!Read_Live_State(data_folder, live, error) || !live.Headless) return 0;
  if (QDateTime::currentSecsSinceEpoch() - live.Written > LIVE_STATE_STALE_AFTER) return 0;
  return live.Pid;
}

}  // namespace

int Run_Settings_Command(const std::string& data_folder,
                         const std::vector<std::string>& assignments, std::ostream& out,
                         std::ostream& err) {
  const std::string path = data_folder + SETTINGS_FILE_NAME;
  Settings_Record record{};
  if (!Settings_Read(record, path)) {
    err << "Cannot read " << path << "\n";
    return EXIT_UNREADABLE;
  }
  if (assignments.empty()) {
    for (const std::string& line : Settings_Lines(record)) out << line << "\n";
    return 0;
  }
  // Checked before the folder is touched, so a refused command leaves no trace.
  if (const auto errors = Apply_Settings(record, assignments); !errors.empty()) {
    for (const std::string& line : errors) err << line << "\n";
    err << "Nothing was changed.\n";
    return EXIT_REFUSED;
  }

  Data_Folder_Claim claim;
  switch (claim.Claim(data_folder, data_folder)) {
    case Start_Refusal::No_Data_Folder:
      err << MSG_NO_DATA_FOLDER << ": " << data_folder << "\n";
      return EXIT_UNREADABLE;
    case Start_Refusal::Already_Running: {
      // A headless receiver never writes the settings file itself: it may be changed under it
      // and the receiver asked to read it again. The windows write their own copy on Save.
      const int64_t pid = Headless_Holder(data_folder);
      if (pid == 0) {
        err << "A receiver with windows runs on " << data_folder
            << "; change the settings in its pages, or stop it first (it writes its own copy of "
               "the settings on Save). Nothing was changed.\n";
        return EXIT_REFUSED;
      }
      if (!Settings_Read(record, path)) {
        err << "Cannot read " << path << "\n";
        return EXIT_UNREADABLE;
      }
      Apply_Settings(record, assignments);
      if (!Store_Settings(record, data_folder)) {
        err << "Cannot write " << path << "\n";
        return EXIT_UNREADABLE;
      }
      out << "Saved " << path << "\n";
      if (!Ask_To_Reload(pid)) {
        err << "The headless receiver (process " << pid
            << ") could not be asked to reload; restart it to apply the settings.\n";
        return EXIT_REFUSED;
      }
      out << "The headless receiver (process " << pid << ") was asked to reload them.\n";
      return 0;
    }
    case Start_Refusal::None:
      break;
  }
  // Read again under the lock: the file is now ours alone.
  if (!Settings_Read(record, path)) {
    err << "Cannot read " << path << "\n";
    return EXIT_UNREADABLE;
  }
  Apply_Settings(record, assignments);
  if (!Store_Settings(record, data_folder)) {
    err << "Cannot write " << path << "\n";
    return EXIT_UNREADABLE;
  }
  out << "Saved " << path << "\n";
  return 0;
}

int Run_Status_Command(const std::string& data_folder, Status_Format format, int64_t now,
                       std::ostream& out, std::ostream& err) {
  const Status_Report report = Read_Status_Report(data_folder, now);
  switch (format) {
    case Status_Format::Json:
      out << Status_Json(report, now);
      break;
    case Status_Format::Prometheus:
      out << Status_Prometheus(report, data_folder, now);
      break;
    case Status_Format::Text:
      out << Status_Text(report, now);
      if (!report.Error.empty()) err << report.Error << "\n";
      break;
  }
  return report.Code;
}
