#include "automation/serial_names.h"

#include <filesystem>
#include <system_error>

#include "automation/serial_termios.h"

namespace {

// Fixed device of COM n when the data folder has no "ports/" entry for it.
struct Device_Range {
  int first;           // first COM number of the range
  int last;            // last COM number of the range
  const char* prefix;  // device name before the index
};
constexpr Device_Range DEVICE_RANGES[] = {
    {1, 32, "ttyS"},
    {33, 48, "ttyUSB"},
    {49, 64, "ttyACM"},
};

std::string With_Slash(const std::string& folder) {
  if (folder.empty() || folder.back() == '/') return folder;
  return folder + '/';
}

}  // namespace

std::string COM_Name(int n) {
  return "COM" + std::to_string(n);
}

int COM_Number(std::string_view name) {
  if (name.size() < 4 || name.size() > 12 || name.substr(0, 3) != "COM") return 0;
  const std::string_view digits = name.substr(3);
  if (digits[0] == '0') return 0;
  long long n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n > 0 && n <= 1000000 ? static_cast<int>(n) : 0;
}

std::string COM_Fixed_Device(int n, const std::string& dev_folder) {
  for (const auto& range : DEVICE_RANGES) {
    if (n >= range.first && n <= range.last) {
      return With_Slash(dev_folder) + range.prefix + std::to_string(n - range.first);
    }
  }
  return {};
}

bool COM_Device_Exists(int n, const std::string& dev_folder) {
  const std::string device = COM_Fixed_Device(n, dev_folder);
  std::error_code error;
  return !device.empty() && std::filesystem::exists(device, error);
}

std::string COM_Device_Path(const std::string& data_folder, std::string_view com_name,
                            const std::string& dev_folder) {
  const int n = COM_Number(com_name);
  if (n == 0) return {};
  if (COM_Device_Exists(n, dev_folder)) return COM_Fixed_Device(n, dev_folder);
  const std::string link = With_Slash(data_folder) + "ports/" + COM_Name(n);
  std::error_code error;
  if (std::filesystem::exists(std::filesystem::symlink_status(link, error))) return link;
  return COM_Fixed_Device(n, dev_folder);
}

std::vector<std::string> Com_Ports_Scan(const std::string& data_folder,
                                        const std::string& dev_folder) {
  std::vector<std::string> ports;
  for (int n = 1; n <= COM_PORT_COUNT; ++n) {
    const std::string name = COM_Name(n);
    const std::string path = COM_Device_Path(data_folder, name, dev_folder);
    std::error_code error;
    if (path.empty() || !std::filesystem::exists(path, error)) continue;
    if (Serial_Device_Free(path)) ports.push_back(name);
  }
  return ports;
}

Com_Port_Choice Choose_Com_Port(const std::vector<std::string>& ports, std::string_view com_name) {
  Com_Port_Choice choice;
  choice.COM_Name = std::string(com_name);
  if (choice.COM_Name.empty() && !ports.empty()) choice.COM_Name = ports.front();
  for (std::size_t i = 0; i < ports.size(); ++i) {
    if (ports[i] == choice.COM_Name) {
      choice.Selected = static_cast<int>(i);
      break;
    }
  }
  return choice;
}

bool Valid_COM_Name(std::string_view name) {
  if (name.empty()) return true;
  const int n = COM_Number(name);
  return n >= 1 && n <= COM_PORT_COUNT;
}
