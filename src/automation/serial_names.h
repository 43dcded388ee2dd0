// Serial port names. The settings keep the name "COM" + n (COM_Name); on this platform COMn is
// first of all its fixed device: /dev/ttyS<n-1> for n 1..32, /dev/ttyUSB<n-33> for 33..48 and
// /dev/ttyACM<n-49> for 49..64. Where that device does not exist (and above 64), the entry
// "ports/COMn" of the data folder stands for the port (a symbolic link to any tty: a USB adapter,
// one end of a virtual pair). A link never hides a device that exists, so a saved name keeps
// opening the real port it named. Plain functions, safe on any thread. Folder arguments end with
// '/' (one is added when missing).
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The port list offers COM1 .. COM64.
inline constexpr int COM_PORT_COUNT = 64;

// "COM" + n, no leading zeros.
std::string COM_Name(int n);
// n for a name "COM" + n (n >= 1, no leading zero, no sign); 0 for any other text.
int COM_Number(std::string_view name);

// The names the serial port list can offer and COM_Name can hold: "COM1" .. "COM64", or the empty
// name (the first port found is taken).
bool Valid_COM_Name(std::string_view name);

// The fixed device of COMn in `dev_folder`, whether it exists or not; empty for n outside 1..64.
std::string COM_Fixed_Device(int n, const std::string& dev_folder = "/dev/");
// Whether COMn is a real port: its fixed device exists.
bool COM_Device_Exists(int n, const std::string& dev_folder = "/dev/");

// The device path behind `com_name`: the fixed device of COM1..COM64 in `dev_folder` when it
// exists; otherwise the "ports/" entry of the data folder when that entry exists (a dangling link
// counts, so a vanished virtual pair fails to open as missing); otherwise the fixed device path.
// Empty for a name that is no COM port or has no device (its open then fails as missing).
std::string COM_Device_Path(const std::string& data_folder, std::string_view com_name,
                            const std::string& dev_folder = "/dev/");

// The scan behind Com_Ports_Available: "COM1" .. "COM64", in increasing order, each whose
// device exists and could be opened exclusively at the moment of the scan (a port held by this
// program's serial port or by another program is left out).
std::vector<std::string> Com_Ports_Scan(const std::string& data_folder,
                                        const std::string& dev_folder = "/dev/");

// The choice made from a scanned list: when `com_name` is empty the first listed port becomes
// the configured name (in memory only); the selection is the first entry equal to the
// (possibly new) name, or -1 when none is, in which case the name is kept as it was.
struct Com_Port_Choice {
  std::string COM_Name;
  int Selected = -1;  // index into the list; -1 = nothing selected
};
Com_Port_Choice Choose_Com_Port(const std::vector<std::string>& ports, std::string_view com_name);
