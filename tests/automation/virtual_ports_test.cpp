// The virtual serial port tool: finding pseudo-terminal ports through the links of the ports
// folder, choosing free numbers, and making a real linked pair with socat.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "automation/serial_names.h"
#include "automation/virtual_ports.h"
#include "support/qt_app.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

// A pseudo-terminal master for the test's lifetime; Slave() names its /dev/pts/ end.
class Pty {
 public:
  Pty() {
    fd_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd_ >= 0 && grantpt(fd_) == 0 && unlockpt(fd_) == 0) slave_ = ptsname(fd_);
  }
  ~Pty() {
    if (fd_ >= 0) close(fd_);
  }
  const std::string& Slave() const { return slave_; }

 private:
  int fd_ = -1;
  std::string slave_;
};

// Reads from `fd` until `want` bytes came or 3 s passed.
std::string Read_Some(int fd, std::size_t want) {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char buffer[64];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

TEST(Virtual_Ports, Finds_Ports_That_Resolve_To_Pseudo_Terminals) {
  Temp_Folder data;
  Temp_Folder dev;  // the real ports: ttyS7 (COM8) only
  std::ofstream(dev.File("ttyS7")) << "x";
  Pty pty;
  ASSERT_FALSE(pty.Slave().empty());
  fs::create_directories(Ports_Folder(data.Path()));
  fs::create_symlink(pty.Slave(), Port_Link_Path(data.Path(), 7));
  fs::create_symlink("/dev/null", Port_Link_Path(data.Path(), 2));        // not a terminal
  fs::create_symlink("/dev/pts/999999", Port_Link_Path(data.Path(), 3));  // dangling
  std::ofstream(Port_Link_Path(data.Path(), 1)) << "plain file";
  fs::create_symlink(pty.Slave(), Port_Link_Path(data.Path(), 65));  // beyond COM64
  fs::create_symlink(pty.Slave(), Port_Link_Path(data.Path(), 8));   // hidden by a real port

  const std::vector<Virtual_Port> ports = Find_Virtual_Ports(data.Path(), dev.Path());
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].Number, 7);
  EXPECT_EQ(ports[0].Link, data.Path() + "ports/COM7");
  EXPECT_EQ(ports[0].Device, pty.Slave());

  // Every existing name takes its number, dangling links included.
  EXPECT_EQ(Free_Port_Numbers(data.Path(), 2, dev.Path()), (std::vector<int>{4, 5}));

  Virtual_Ports_Tool tool(data.Path(), "/nonexistent/socat", {}, dev.Path());
  const Virtual_Ports_Outcome outcome = tool.Run();
  EXPECT_EQ(outcome.Result, Virtual_Ports_Outcome::Found);
  EXPECT_EQ(outcome.Log_Line, "Virtual serial ports found: COM7 = " + data.Path() + "ports/COM7 (" +
                                  pty.Slave() + ")");
}

TEST(Virtual_Ports, Stale_Pseudo_Terminal_Links_Are_Removed) {
  Temp_Folder data;
  Temp_Folder dev;  // no real port
  fs::create_directories(Ports_Folder(data.Path()));
  fs::create_symlink("/dev/pts/999999", Port_Link_Path(data.Path(), 1));
  fs::create_symlink("/dev/ttyS_missing", Port_Link_Path(data.Path(), 2));  // not ours to judge
  EXPECT_EQ(Remove_Stale_Port_Links(data.Path()), 1);
  EXPECT_EQ(Free_Port_Numbers(data.Path(), 2, dev.Path()), (std::vector<int>{1, 3}));
}

TEST(Virtual_Ports, A_Missing_Socat_Gives_A_Warning_And_No_Ports) {
  Test_Core_App();
  Temp_Folder data;
  Virtual_Ports_Tool tool(data.Path(), "/nonexistent/socat");
  const Virtual_Ports_Outcome outcome = tool.Run();
  EXPECT_EQ(outcome.Result, Virtual_Ports_Outcome::Failed);
  EXPECT_EQ(outcome.Warning,
            "socat could not be started (/nonexistent/socat), no virtual serial ports were "
            "created.");
  EXPECT_TRUE(outcome.Log_Line.empty());
  EXPECT_TRUE(Find_Virtual_Ports(data.Path()).empty());
}

TEST(Virtual_Ports, Socat_Makes_A_Linked_Pair_Under_The_Lowest_Free_Numbers) {
  Test_Core_App();
  Temp_Folder data;
  Temp_Folder dev;  // no real port
  fs::create_directories(Ports_Folder(data.Path()));
  std::ofstream(Port_Link_Path(data.Path(), 1)) << "taken";

  Virtual_Ports_Tool tool(data.Path(), "socat", {}, dev.Path());
  const Virtual_Ports_Outcome outcome = tool.Run();
  ASSERT_EQ(outcome.Result, Virtual_Ports_Outcome::Created) << outcome.Warning;
  ASSERT_GT(outcome.Socat_Pid, 0);
  struct Stop_Socat {
    int64_t pid;
    ~Stop_Socat() { kill(static_cast<pid_t>(pid), SIGTERM); }
  } stop{outcome.Socat_Pid};

  const std::string a = data.Path() + "ports/COM2", b = data.Path() + "ports/COM3";
  EXPECT_EQ(outcome.Log_Line,
            "Virtual serial ports created: COM2 = " + a + " linked to COM3 = " + b);
  ASSERT_EQ(outcome.Ports.size(), 2u);
  EXPECT_EQ(outcome.Ports[0].Link, a);
  EXPECT_EQ(outcome.Ports[1].Link, b);

  const int fd_a = open(a.c_str(), O_RDWR | O_NOCTTY);
  const int fd_b = open(b.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd_a, 0);
  ASSERT_GE(fd_b, 0);
  const std::string line = "5 01 1234 1401 01 015\x14";
  ASSERT_EQ(write(fd_a, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  EXPECT_EQ(Read_Some(fd_b, line.size()), line);
  ASSERT_EQ(write(fd_b, "\x06", 1), 1);
  EXPECT_EQ(Read_Some(fd_a, 1), "\x06");
  close(fd_a);
  close(fd_b);

  // A second run finds the pair instead of making another.
  const Virtual_Ports_Outcome again = tool.Run();
  EXPECT_EQ(again.Result, Virtual_Ports_Outcome::Found);
  EXPECT_EQ(again.Ports.size(), 2u);
  EXPECT_EQ(again.Socat_Pid, -1);
}

// After the tool has made its pair, every COM name that stood for a real port still stands for
// that port, and the pair sits where no real port is.
TEST(Virtual_Ports, The_Pair_Leaves_Every_Real_Port_Its_Name) {
  Test_Core_App();
  Temp_Folder data;
  Temp_Folder dev;  // real ports: COM1, COM2 and COM4, and the USB adapter COM33
  for (const char* device : {"ttyS0", "ttyS1", "ttyS3", "ttyUSB0"})
    std::ofstream(dev.File(device)) << "x";
  std::map<int, std::string> before;
  for (int n = 1; n <= VIRTUAL_PORT_LAST; ++n) {
    const std::string path = COM_Device_Path(data.Path(), COM_Name(n), dev.Path());
    if (fs::exists(path)) before[n] = path;
  }
  ASSERT_EQ(before.size(), 4u);

  const Virtual_Ports_Outcome outcome =
      Virtual_Ports_Tool(data.Path(), "socat", {}, dev.Path()).Run();
  ASSERT_EQ(outcome.Result, Virtual_Ports_Outcome::Created) << outcome.Warning;
  struct Stop_Socat {
    int64_t pid;
    ~Stop_Socat() { kill(static_cast<pid_t>(pid), SIGTERM); }
  } stop{outcome.Socat_Pid};

  ASSERT_EQ(outcome.Ports.size(), 2u);
  EXPECT_EQ(outcome.Ports[0].Number, 3);
  EXPECT_EQ(outcome.Ports[1].Number, 5);
  for (const auto& [n, path] : before)
    EXPECT_EQ(COM_Device_Path(data.Path(), COM_Name(n), dev.Path()), path) << COM_Name(n);
  // The pair's own names reach the pair.
  for (const Virtual_Port& port : outcome.Ports)
    EXPECT_EQ(COM_Device_Path(data.Path(), COM_Name(port.Number), dev.Path()), port.Link);
}

}  // namespace
