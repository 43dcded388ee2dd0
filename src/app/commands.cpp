#include "app/commands.h"

#include <cerrno>

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

// "DC9_AES_Key=-": the key is the first line of standard input, so it never shows in the
// process list. False when no line could be read.
bool Key_From_Input(std::vector<std::string>& assignments, std::istream& in) {
  for (std::string& assignment : assignments) {
    if (assignment != "DC9_AES_Key=-") continue;
    std::string key;
    if (!std::getline(in, key)) return false;
    while (!key.empty() && (key.back() == '\r' || key.back() == ' ' || key.back() == '\t'))
      key.pop_back();
    assignment = "DC9_AES_Key=" + key;
  }
  return true;
}

// The folder of a receiver that will not run as root: one of the service's folders, or one that
// belongs to another user than root. Such a receiver cannot listen on a port below 1024, because
// the unit grants no CAP_NET_BIND_SERVICE.
bool Unprivileged_Folder(const std::string& data_folder) {
  if (data_folder.rfind(SERVICE_FOLDER_ROOT, 0) == 0) return true;
  const int64_t owner = Owner_Of(data_folder);
  return owner > 0;
}

// A port the receiver of `data_folder` could never open, when the assignments change it.
std::vector<std::string> Privileged_Port_Errors(const Settings_Record& before,
                                                const Settings_Record& after,
                                                const std::string& data_folder) {
  std::vector<std::string> errors;
  if (!Unprivileged_Folder(data_folder)) return errors;
  const struct {
    const char* Name;
    int32_t Before, After;
  } ports[] = {{"DC9_Port", before.DC9_Port, after.DC9_Port},
               {"Out_Port", before.Out_Port, after.Out_Port}};
  for (const auto& port : ports) {
    if (port.After < 1024 && port.After != port.Before)
      errors.push_back(std::string("Bad value for ") + port.Name + ": '" +
                       std::to_string(port.After) +
                       "' (expected 1024 to 65535: the receiver of this folder runs as a user "
                       "that may not listen below 1024, and the service grants no "
                       "CAP_NET_BIND_SERVICE)");
  }
  return errors;
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
                         const std::vector<std::string>& given_assignments, std::istream& in,
                         std::ostream& out, std::ostream& err) {
  const std::string path = data_folder + SETTINGS_FILE_NAME;
  const int folder_state = Folder_Check(data_folder);
  // Showing needs the folder; saving makes a missing one (the service may not have run yet), but
  // never turns a file into one.
  if (folder_state != 0 && (given_assignments.empty() || folder_state != ENOENT)) {
    err << "No data folder " << Printable_Text(data_folder) << ":" << Error_Text(folder_state)
        << "\n";
    return EXIT_UNREADABLE;
  }
  Settings_Record record{};
  if (int error = 0; !Settings_Read(record, path, &error)) {
    err << "Cannot read " << Printable_Text(path) << ": not a regular file that can be read."
        << Error_Text(error) << "\n";
    return EXIT_UNREADABLE;
  }
  if (given_assignments.empty()) {
    for (const std::string& line : Settings_Lines(record)) out << line << "\n";
    return 0;
  }
  std::vector<std::string> assignments = given_assignments;
  if (!Key_From_Input(assignments, in)) {
    err << "DC9_AES_Key=- reads the key from standard input, which gave no line. Nothing was "
           "changed.\n";
    return EXIT_REFUSED;
  }
  // Checked before the folder is touched, so a refused command leaves no trace.
  const Settings_Record before = record;
  auto errors = Apply_Settings(record, assignments);
  if (errors.empty()) errors = Privileged_Port_Errors(before, record, data_folder);
  if (!errors.empty()) {
    for (const std::string& line : errors) err << line << "\n";
    err << "Nothing was changed.\n";
    return EXIT_REFUSED;
  }

  // Under the lock, or beside a headless receiver that only reads the file: read it again, apply
  // the assignments to what it holds now and store it whole.
  auto Read_Apply_Store = [&]() -> int {
    if (int error = 0; !Settings_Read(record, path, &error)) {
      err << "Cannot read " << Printable_Text(path) << ":" << Error_Text(error) << "\n";
      return EXIT_UNREADABLE;
    }
    if (const auto errors = Apply_Settings(record, assignments); !errors.empty()) {
      for (const std::string& line : errors) err << line << "\n";
      err << "Nothing was changed.\n";
      return EXIT_REFUSED;
    }
    if (const int error = Settings_Store(record, path); error != 0) {
      err << "Cannot write " << Printable_Text(path) << ":" << Error_Text(error)
          << " The file was left as it was.\n";
      return EXIT_UNREADABLE;
    }
    out << "Saved " << Printable_Text(path) << "\n";
    return 0;
  };

  Data_Folder_Claim claim;
  switch (claim.Claim(data_folder, data_folder)) {
    case Start_Refusal::No_Data_Folder:
    case Start_Refusal::Lock_Failed:
      err << Printable_Text(claim.Error()) << "\n";
      return EXIT_UNREADABLE;
    case Start_Refusal::Already_Running: {
      // A headless receiver never writes the settings file itself: it may be changed under it
      // and the receiver asked to read it again. The windows write their own copy on Save.
      const int64_t pid = Headless_Holder(data_folder);
      if (pid == 0) {
        err << "A receiver with windows runs on " << Printable_Text(data_folder)
            << "; change the settings in its pages, or stop it first (it writes its own copy of "
               "the settings on Save). Nothing was changed.\n";
        return EXIT_REFUSED;
      }
      if (const int code = Read_Apply_Store(); code != 0) return code;
      if (!Ask_To_Reload(pid)) {
        const int error = errno;  // of the signal that could not be sent
        err << "The headless receiver (process " << pid
            << ") could not be asked to reload:" << Error_Text(error)
            << " Restart it to apply the settings.\n";
        return EXIT_REFUSED;
      }
      out << "The headless receiver (process " << pid << ") was asked to reload them.\n";
      return 0;
    }
    case Start_Refusal::None:
      break;
  }
  return Read_Apply_Store();
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
