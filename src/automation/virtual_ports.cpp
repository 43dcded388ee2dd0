#include "automation/virtual_ports.h"

#include "automation/serial_names.h"

#include <signal.h>

#include <QProcess>
#include <QStringList>
#include <QThread>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool Is_Pseudo_Terminal(const std::string& device) {
  return device.rfind("/dev/pts/", 0) == 0;
}

// The pseudo-terminal a link resolves to, or "" when it resolves to nothing or to another device.
std::string Resolved_Terminal(const std::string& link) {
  std::error_code error;
  if (!fs::is_symlink(fs::symlink_status(link, error))) return {};
  const fs::path device = fs::canonical(link, error);
  if (error || !Is_Pseudo_Terminal(device.string())) return {};
  return device.string();
}

bool Start_Detached(const std::string& program, const std::vector<std::string>& arguments,
                    int64_t* pid) {
  QStringList list;
  for (const std::string& argument : arguments) list << QString::fromStdString(argument);
  QProcess process;
  process.setProgram(QString::fromStdString(program));
  process.setArguments(list);
  // The detached program outlives this one; its chatter must not land on our standard error.
  process.setStandardOutputFile(QProcess::nullDevice());
  process.setStandardErrorFile(QProcess::nullDevice());
  qint64 started = -1;
  const bool ok = process.startDetached(&started);
  *pid = started;
  return ok;
}

std::string Port_Name(int n) {
  return "COM" + std::to_string(n);
}

std::string Ports_Text(const std::vector<Virtual_Port>& ports, bool with_device) {
  std::string text;
  for (const Virtual_Port& port : ports) {
    if (!text.empty()) text += ", ";
    text += Port_Name(port.Number) + " = " + port.Link;
    if (with_device) text += " (" + port.Device + ")";
  }
  return text;
}

}  // namespace

std::string Ports_Folder(const std::string& data_folder) {
  return data_folder + "ports/";
}

std::string Port_Link_Path(const std::string& data_folder, int n) {
  return Ports_Folder(data_folder) + Port_Name(n);
}

std::vector<Virtual_Port> Find_Virtual_Ports(const std::string& data_folder,
                                             const std::string& dev_folder) {
  std::vector<Virtual_Port> ports;
  for (int n = 1; n <= VIRTUAL_PORT_LAST; ++n) {
    if (COM_Device_Exists(n, dev_folder)) continue;
    const std::string link = Port_Link_Path(data_folder, n);
    std::string device = Resolved_Terminal(link);
    if (!device.empty()) ports.push_back({n, link, std::move(device)});
  }
  return ports;
}

std::vector<int> Free_Port_Numbers(const std::string& data_folder, int count,
                                   const std::string& dev_folder) {
  std::vector<int> numbers;
  for (int n = 1; n <= VIRTUAL_PORT_LAST && static_cast<int>(numbers.size()) < count; ++n) {
    // A link under a real port's number would hide that port from every name that meant it.
    if (COM_Device_Exists(n, dev_folder)) continue;
    std::error_code error;
    // symlink_status, so that a dangling link still counts as taken.
    if (!fs::exists(fs::symlink_status(Port_Link_Path(data_folder, n), error))) {
      numbers.push_back(n);
    }
  }
  return numbers;
}

int Remove_Stale_Port_Links(const std::string& data_folder) {
  int removed = 0;
  for (int n = 1; n <= VIRTUAL_PORT_LAST; ++n) {
    const std::string link = Port_Link_Path(data_folder, n);
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(link, error))) continue;
    const fs::path target = fs::read_symlink(link, error);
    if (error || !Is_Pseudo_Terminal(target.string())) continue;
    if (fs::exists(target, error) || error) continue;
    if (fs::remove(link, error)) ++removed;
  }
  return removed;
}

std::vector<std::string> Socat_Arguments(const std::string& link_a, const std::string& link_b) {
  return {"-d", "-d", "pty,raw,echo=0,link=" + link_a, "pty,raw,echo=0,link=" + link_b};
}

Virtual_Ports_Tool::Virtual_Ports_Tool(std::string data_folder, std::string socat_program,
                                       Starter starter, std::string dev_folder)
    : data_folder_(std::move(data_folder)),
      socat_program_(std::move(socat_program)),
      starter_(starter ? std::move(starter) : Starter(Start_Detached)),
      dev_folder_(std::move(dev_folder)) {}

Virtual_Ports_Outcome Virtual_Ports_Tool::Run(std::chrono::milliseconds link_wait) {
  Virtual_Ports_Outcome outcome;
  outcome.Ports = Find_Virtual_Ports(data_folder_, dev_folder_);
  if (!outcome.Ports.empty()) {
    outcome.Result = Virtual_Ports_Outcome::Found;
    outcome.Log_Line = "Virtual serial ports found: " + Ports_Text(outcome.Ports, true);
    return outcome;
  }

  Remove_Stale_Port_Links(data_folder_);
  std::error_code error;
  fs::create_directories(Ports_Folder(data_folder_), error);
  const std::vector<int> numbers = Free_Port_Numbers(data_folder_, 2, dev_folder_);
  if (numbers.size() < 2) {
    outcome.Warning =
        "No free COM number for virtual serial ports in " + Ports_Folder(data_folder_);
    return outcome;
  }
  const std::string link_a = Port_Link_Path(data_folder_, numbers[0]);
  const std::string link_b = Port_Link_Path(data_folder_, numbers[1]);
  int64_t pid = -1;
  if (!starter_(socat_program_, Socat_Arguments(link_a, link_b), &pid)) {
    outcome.Warning = "socat could not be started (" + socat_program_ +
                      "), no virtual serial ports were created.";
    return outcome;
  }

  // socat makes its links right after opening the two terminals; wait for both, but stop at
  // once when socat has already ended.
  const auto deadline = std::chrono::steady_clock::now() + link_wait;
  for (;;) {
    std::string device_a = Resolved_Terminal(link_a);
    std::string device_b = Resolved_Terminal(link_b);
    if (!device_a.empty() && !device_b.empty()) {
      outcome.Ports = {{numbers[0], link_a, std::move(device_a)},
                       {numbers[1], link_b, std::move(device_b)}};
      break;
    }
    const bool alive = pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) == 0;
    if (!alive || std::chrono::steady_clock::now() >= deadline) {
      if (alive && pid > 0) ::kill(static_cast<pid_t>(pid), SIGTERM);
      outcome.Warning = "socat made no virtual serial ports in " + Ports_Folder(data_folder_);
      return outcome;
    }
    QThread::msleep(5);
  }
  outcome.Result = Virtual_Ports_Outcome::Created;
  outcome.Socat_Pid = pid;
  outcome.Log_Line = "Virtual serial ports created: " + Port_Name(numbers[0]) + " = " + link_a +
                     " linked to " + Port_Name(numbers[1]) + " = " + link_b;
  return outcome;
}
