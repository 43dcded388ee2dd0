#include "app/commands.h"

#include <fcntl.h>
#include <unistd.h>

#include "app/folder_status.h"
#include "app/settings_text.h"
#include "app/startup.h"
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
    case Start_Refusal::Already_Running:
      err << "A receiver runs on " << data_folder
          << "; stop it first (it writes its own copy of the settings on Save). Nothing was "
             "changed.\n";
      return EXIT_REFUSED;
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

int Run_Status_Command(const std::string& data_folder, bool json, int64_t now, std::ostream& out,
                       std::ostream& err) {
  Folder_Status status;
  std::string error;
  if (!Read_Folder_Status(data_folder, status, error)) {
    err << error << "\n";
    return EXIT_UNREADABLE;
  }
  out << (json ? Status_Json(status, now) : Status_Text(status, now));
  return Status_Exit_Code(status, now);
}
