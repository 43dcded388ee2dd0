// The virtual serial port tool on Linux. A virtual port is a COMn (n = 1..64) with no real device
// (see serial_names.h) whose link <data folder>/ports/COMn resolves to a pseudo-terminal
// (/dev/pts/...). The tool reports the virtual ports that exist; where there is none, it starts
// socat detached to make a linked pair of pseudo-terminals under the two lowest COM numbers that
// neither a real port nor a link takes, so the receiver opens one end and the automation software
// the other, and every name that stood for a real port before still does. socat outlives the
// program, and the pair with it. Main thread; blocks at most `link_wait` while socat makes its
// links.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

inline constexpr int VIRTUAL_PORT_LAST = 64;  // the port list knows COM1..COM64

// <data folder>/ports/ (the data folder ends with '/').
std::string Ports_Folder(const std::string& data_folder);
// <data folder>/ports/COMn
std::string Port_Link_Path(const std::string& data_folder, int n);

struct Virtual_Port {
  int Number = 0;      // n of COMn
  std::string Link;    // <data folder>/ports/COMn
  std::string Device;  // the pseudo-terminal it resolves to
};
// The virtual ports COM1..COM64, in number order (a link under the number of a real port in
// `dev_folder` stands for nothing and is left out).
std::vector<Virtual_Port> Find_Virtual_Ports(const std::string& data_folder,
                                             const std::string& dev_folder = "/dev/");
// The lowest `count` numbers of 1..64 that have neither a real port in `dev_folder` nor a link (a
// dangling link still takes a number); fewer when the numbers run out.
std::vector<int> Free_Port_Numbers(const std::string& data_folder, int count,
                                   const std::string& dev_folder = "/dev/");
// Removes the links of the ports folder that point into /dev/pts/ at a terminal that no longer
// exists: the remains of a pair whose socat has ended (at a reboot, say). Returns how many.
int Remove_Stale_Port_Links(const std::string& data_folder);
// socat's arguments for a raw, echo-free pair linked as `link_a` and `link_b`.
std::vector<std::string> Socat_Arguments(const std::string& link_a, const std::string& link_b);

struct Virtual_Ports_Outcome {
  enum Kind {
    Found,    // virtual ports exist; Log_Line names them
    Created,  // socat made a new pair; Log_Line names both ends
    Failed,   // Warning says why no pair exists
  };
  Kind Result = Failed;
  std::string Log_Line;  // the black log line (Found, Created)
  std::string Warning;   // the warning box text (Failed)
  std::vector<Virtual_Port> Ports;
  int64_t Socat_Pid = -1;  // the started socat (Created), else -1
};

class Virtual_Ports_Tool {
 public:
  // Starts `program` with `arguments` detached; true and *pid set when it started.
  using Starter = std::function<bool(const std::string& program,
                                     const std::vector<std::string>& arguments, int64_t* pid)>;

  // `socat_program` is looked up on PATH unless it holds a '/'. Without a starter, the program
  // is started detached through QProcess. `dev_folder` holds the real ports' devices.
  explicit Virtual_Ports_Tool(std::string data_folder, std::string socat_program = "socat",
                              Starter starter = {}, std::string dev_folder = "/dev/");

  Virtual_Ports_Outcome Run(std::chrono::milliseconds link_wait = std::chrono::seconds(3));

 private:
  std::string data_folder_;
  std::string socat_program_;
  Starter starter_;
  std::string dev_folder_;
};
