// The program as a service sees it: the real `quenor` with a command line. Settings and status
// from the shell on a data folder given by --data-dir, receivers side by side on two folders,
// and the headless log on standard output.
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/un.h>

#include <filesystem>
#include <functional>
#include <map>

#include "store/event_journal.h"
#include "store/object_table.h"
#include "support/automation_peer.h"
#include "system/system_config.h"

namespace {

using namespace std::chrono_literals;
using namespace sys;

const char* const START_LINE = "Program started. Hostname of this computer: ";

struct Run_Result {
  int Code = -1;  // -1: did not end within 20 s
  std::string Out, Err;
};

// How a run differs from the usual one.
struct Run_Options {
  std::string Input;    // standard input (else /dev/null)
  bool Home = true;     // HOME set to the scratch folder
  bool Display = true;  // QT_QPA_PLATFORM=offscreen
};

// Runs build/quenor with `args` until it ends, with an empty environment but PATH and a HOME of
// its own, so the default data folder is never the tester's.
Run_Result Run_Quenor(const std::string& scratch, const std::vector<std::string>& args,
                      const Run_Options& options = {}) {
  const std::string out_path = scratch + "/run.out", err_path = scratch + "/run.err";
  const std::string in_path = scratch + "/run.in";
  Write_File(in_path, options.Input);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::clearenv();
    ::setenv("PATH", "/usr/bin:/bin", 1);
    if (options.Home) ::setenv("HOME", scratch.c_str(), 1);
    if (options.Display) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("TZ", "UTC", 1);
    const int in = ::open(in_path.c_str(), O_RDONLY);
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    const std::string exe = std::string(QUENOR_BIN_DIR) + "/quenor";
    std::vector<char*> argv{const_cast<char*>("quenor")};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    ::_exit(127);
  }
  Run_Result result;
  int status = 0;
  if (Wait_Until([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 20s)) {
    result.Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  } else {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  result.Out = Read_File(out_path);
  result.Err = Read_File(err_path);
  return result;
}

// How a headless receiver of a test runs: extra environment, and standard output into a pipe
// the test holds (instead of a file).
struct Headless_Options {
  std::vector<std::pair<std::string, std::string>> Environment;
  bool Stdout_Pipe = false;
};

// `quenor --headless --data-dir DIR` in the background; standard output goes to a file.
class Headless_Receiver {
 public:
  Headless_Receiver(const std::string& scratch, const std::string& data_dir, const std::string& tag,
                    const Headless_Options& options = {})
      : out_path_(scratch + "/" + tag + ".out"), err_path_(scratch + "/" + tag + ".err") {
    int pipe_fds[2] = {-1, -1};
    if (options.Stdout_Pipe && ::pipe(pipe_fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setenv("HOME", scratch.c_str(), 1);
      ::unsetenv("XDG_DATA_HOME");
      ::unsetenv("DISPLAY");
      ::unsetenv("WAYLAND_DISPLAY");
      ::unsetenv("NOTIFY_SOCKET");
      ::unsetenv("WATCHDOG_USEC");
      ::unsetenv("WATCHDOG_PID");
      for (const auto& [name, value] : options.Environment)
        ::setenv(name.c_str(), value.c_str(), 1);
      const int out = options.Stdout_Pipe
                          ? pipe_fds[1]
                          : ::open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = ::open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out, 1);
      ::dup2(err, 2);
      if (options.Stdout_Pipe) {
        ::close(pipe_fds[0]);
        ::close(pipe_fds[1]);
      }
      const std::string exe = std::string(QUENOR_BIN_DIR) + "/quenor";
      ::execl(exe.c_str(), "quenor", "--headless", "--data-dir", data_dir.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (options.Stdout_Pipe) {
      ::close(pipe_fds[1]);
      stdout_pipe_ = pipe_fds[0];
    }
  }
  ~Headless_Receiver() {
    Stop();
    Close_Stdout();
  }
  pid_t Pid() const { return pid_; }
  // With Stdout_Pipe: reads standard output until `text` has come (false after `timeout`).
  bool Read_Stdout_Until(const std::string& text, std::chrono::milliseconds timeout = 10s) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (piped_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      pollfd p{stdout_pipe_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
      char buffer[4096];
      const ssize_t n = ::read(stdout_pipe_, buffer, sizeof buffer);
      if (n <= 0) return false;
      piped_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }
  // The reader of standard output goes away: the receiver's next log line meets a broken pipe.
  void Close_Stdout() {
    if (stdout_pipe_ >= 0) ::close(stdout_pipe_);
    stdout_pipe_ = -1;
  }
  // True while the process has not ended; `status` gets its wait status once it has.
  bool Alive(int& status) {
    if (pid_ <= 0) return false;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    pid_ = -1;
    return false;
  }

  std::string Out() const { return Read_File(out_path_); }
  std::string Err() const { return Read_File(err_path_); }
  bool Wait_Out(const std::string& text, std::chrono::milliseconds timeout = 5s) const {
    return Wait_Until([&] { return Out().find(text) != std::string::npos; }, timeout);
  }
  // SIGTERM; the exit code, or -1 when it did not end within 10 s.
  int Stop() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    const bool ended = Wait_Until([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 10s);
    if (!ended) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  std::string out_path_, err_path_;
  pid_t pid_ = -1;
  int stdout_pipe_ = -1;
  std::string piped_;
};

// All monthly log files of a data folder, oldest first.
std::string Folder_Log(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename().string().rfind("dorvex_", 0) == 0)
      names.push_back(entry.path().string());
  std::sort(names.begin(), names.end());
  std::string log;
  for (const std::string& name : names) log += Read_File(name);
  return log;
}

class Service : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quenor-service-XXXXXX";
    scratch_ = ::mkdtemp(tmpl);
    folder_ = scratch_ + "/receivers/main/";
  }
  void TearDown() override {
    const std::string cmd = "rm -rf '" + scratch_ + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
  }
  Run_Result Quenor(std::vector<std::string> args) {
    args.insert(args.begin() + 1, {"--data-dir", folder_});
    return Run_Quenor(scratch_, args);
  }
  std::map<std::string, std::string> Settings_Shown() {
    const Run_Result shown = Quenor({"settings"});
    EXPECT_EQ(shown.Code, 0) << shown.Err;
    std::map<std::string, std::string> values;
    std::istringstream lines(shown.Out);
    for (std::string line; std::getline(lines, line);) {
      const auto eq = line.find('=');
      if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
  }
  std::string scratch_, folder_;
};

const std::string KEY_256 = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";

TEST_F(Service, SettingsRoundTripThroughTheCommandLine) {
  // A folder that does not exist is an error when shown (a mistyped name), and is not created.
  const Run_Result missing = Quenor({"settings"});
  EXPECT_EQ(missing.Code, 2);
  EXPECT_NE(missing.Err.find("No data folder " + folder_), std::string::npos) << missing.Err;
  EXPECT_EQ(File_Size(folder_), -1);
  // An existing folder without a settings file reads as the defaults, and nothing is written.
  std::filesystem::create_directories(folder_);
  auto shown = Settings_Shown();
  EXPECT_EQ(shown.size(), 18u);
  EXPECT_EQ(shown["DC9_Port"], "7777");
  EXPECT_EQ(shown["Out_IP"], "127.0.0.1");
  EXPECT_EQ(File_Size(folder_ + "dorvex.cfg"), -1);
  std::filesystem::remove(folder_);

  const Run_Result set = Quenor(
      {"settings", "DC9_Port_Enable=1", "DC9_Port=7790", "DC9_AES_Mode=3", "DC9_AES_Key=" + KEY_256,
       "Out_Mode=1", "Out_TCP_Server=0", "Out_Port=9100", "Out_IP=10.1.2.3", "COM_Name=COM7",
       "COM_Baud=115200", "HB_Period=0", "HB_Receiver_Nr=42", "Report_Format=SG MLR2000",
       "Time_Synch=1", "DC9_Conn_Timeout=120", "Start_In_Background=1", "DC9_UDP_Enable=1",
       "DC9_Repeat_Window=10"});
  ASSERT_EQ(set.Code, 0) << set.Err;

  // The file: the record's fields where the receiver reads them, private to its owner, in a
  // private folder.
  struct stat file {
  }, dir{};
  ASSERT_EQ(::stat((folder_ + "dorvex.cfg").c_str(), &file), 0);
  ASSERT_EQ(::stat(folder_.c_str(), &dir), 0);
  EXPECT_EQ(file.st_mode & 0777, 0600u);
  EXPECT_EQ(dir.st_mode & 0777, 0700u);
  const std::string bytes = Read_File(folder_ + "dorvex.cfg");
  ASSERT_EQ(bytes.size(), 256u);
  Settings_Record r;
  std::memcpy(&r, bytes.data(), sizeof r);
  EXPECT_EQ(r.DC9_Port_Enable, 1);
  EXPECT_EQ(r.DC9_Port, 7790);
  EXPECT_EQ(r.DC9_AES_Mode, 3);
  EXPECT_EQ(r.DC9_AES_Key[0], 0x60);
  EXPECT_EQ(r.DC9_AES_Key[31], 0xf4);
  EXPECT_EQ(r.Out_Mode, 1);
  EXPECT_EQ(r.Out_TCP_Server, 0);
  EXPECT_EQ(r.Out_Port, 9100);
  EXPECT_STREQ(r.Out_IP, "10.1.2.3");
  EXPECT_STREQ(r.COM_Name, "COM7");
  EXPECT_EQ(r.COM_Baud, 115200);
  EXPECT_EQ(r.HB_Period, 0);
  EXPECT_EQ(r.HB_Receiver_Nr, 42);
  EXPECT_EQ(r.Report_Format, 1);
  EXPECT_EQ(r.Time_Synch, 1);
  EXPECT_EQ(r.DC9_Conn_Timeout, 120);
  EXPECT_EQ(r.Start_In_Background, 1);
  EXPECT_EQ(r.DC9_UDP_Enable, 1);
  EXPECT_EQ(r.DC9_Repeat_Window, 10);
  EXPECT_EQ(r.Cfg_Stamp, 1602);

  // What is shown can be given back unchanged, and the file stays byte for byte the same.
  shown = Settings_Shown();
  EXPECT_EQ(shown["DC9_AES_Key"], KEY_256);
  EXPECT_EQ(shown["Report_Format"], "1");
  std::vector<std::string> again{"settings"};
  for (const auto& [name, value] : shown) again.push_back(name + "=" + value);
  ASSERT_EQ(Quenor(again).Code, 0);
  EXPECT_EQ(Read_File(folder_ + "dorvex.cfg"), bytes);
}

TEST_F(Service, ABadValueNamesItAndLeavesTheFileByteForByte) {
  ASSERT_EQ(Quenor({"settings", "DC9_Port=7791"}).Code, 0);
  // Bytes after the record belong to nobody; they must survive too.
  Write_File(folder_ + "dorvex.cfg", Read_File(folder_ + "dorvex.cfg") + "tail");
  const std::string before = Read_File(folder_ + "dorvex.cfg");

  struct Case {
    std::vector<std::string> assignments;
    std::string named;
  } cases[] = {
      {{"DC9_Port=70000"}, "DC9_Port: '70000'"},
      {{"DC9_AES_Mode=3", "DC9_AES_Key=0123456789"}, "DC9_AES_Key: 5 bytes"},
      {{"DC9_Port=7000", "No_Such_Setting=1"}, "Unknown setting 'No_Such_Setting'"},
      {{"COM_Baud=9601"}, "COM_Baud: '9601'"},
      {{"COM_Name=COM65"}, "COM_Name: 'COM65'"},
      {{"Report_Format=2"}, "Report_Format: '2'"},
      {{"Out_IP=10.1.2"}, "Out_IP: '10.1.2'"},
      {{"DC9_Port"}, "'DC9_Port' is no Name=value"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"settings"};
    args.insert(args.end(), c.assignments.begin(), c.assignments.end());
    const Run_Result r = Quenor(args);
    EXPECT_EQ(r.Code, 1) << c.named;
    EXPECT_NE(r.Err.find(c.named), std::string::npos) << r.Err;
    EXPECT_EQ(Read_File(folder_ + "dorvex.cfg"), before) << c.named;
  }
}

TEST_F(Service, SettingsOnAHeadlessReceiverAreSavedAndItReloadsThem) {
  const int first = Free_Port();
  ASSERT_EQ(
      Quenor({"settings", "HB_Period=0", "DC9_Port_Enable=1", "DC9_Port=" + std::to_string(first)})
          .Code,
      0);
  Headless_Receiver receiver(scratch_, folder_, "main");
  ASSERT_TRUE(receiver.Wait_Out("Port " + std::to_string(first) + " is open.")) << receiver.Out();
  EXPECT_EQ(Send_Frame(first, Contact_Id_Frame("1111")).Token, "ACK");
  // The live state comes with the port: status sees a healthy receiver.
  ASSERT_TRUE(Wait_Until([&] { return Quenor({"status"}).Code == 0; }, 10s))
      << Quenor({"status"}).Out;

  const int second = Free_Port();
  const Run_Result r = Quenor({"settings", "DC9_Port=" + std::to_string(second)});
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Out.find("asked to reload"), std::string::npos) << r.Out;
  EXPECT_EQ(Settings_Shown()["DC9_Port"], std::to_string(second));
  // The receiver reads the file again and moves to the new port.
  ASSERT_TRUE(receiver.Wait_Out("Port " + std::to_string(second) + " is open.", 10s))
      << receiver.Out();
  EXPECT_NE(receiver.Out().find("Settings reloaded from dorvex.cfg."), std::string::npos);
  EXPECT_EQ(Send_Frame(second, Contact_Id_Frame("1111", 2)).Token, "ACK");
  EXPECT_FALSE(Tcp_Link::Connect(first, 1s).has_value());
  // The live state (rewritten every 2 s) catches up with both answers.
  Run_Result json;
  ASSERT_TRUE(Wait_Until(
      [&] {
        json = Quenor({"status", "--json"});
        return json.Out.find("\"messages_answered\":2") != std::string::npos;
      },
      10s))
      << json.Out;
  EXPECT_EQ(json.Code, 0) << json.Out;
  EXPECT_NE(json.Out.find("\"events_stored\":2"), std::string::npos) << json.Out;
  EXPECT_NE(json.Out.find("\"port\":" + std::to_string(second) +
                          ",\"port_enabled\":true,"
                          "\"port_error\":null,\"port_open\":true"),
            std::string::npos)
      << json.Out;

  ASSERT_EQ(receiver.Stop(), 0);
  EXPECT_EQ(File_Size(folder_ + "quenor.state"), -1);  // an orderly end removes it
  const Run_Result stopped = Quenor({"status"});
  EXPECT_EQ(stopped.Code, 3) << stopped.Out;
  EXPECT_NE(stopped.Out.find("Receiver: not running"), std::string::npos);
}

TEST_F(Service, AReceiverWithWindowsStillRefusesSettings) {
  Quenor_Process windows;
  windows.Write_Settings(Settings_Defaults());
  windows.Start();
  ASSERT_TRUE(windows.Wait_Log(START_LINE, 20s)) << windows.Stderr();
  folder_ = windows.Data_Folder();
  ASSERT_TRUE(Wait_Until([&] { return File_Size(folder_ + "quenor.state") > 0; }, 10s));
  const std::string before = Read_File(folder_ + "dorvex.cfg");
  const Run_Result r = Quenor({"settings", "DC9_Port=7792"});
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("A receiver with windows runs on"), std::string::npos) << r.Err;
  EXPECT_EQ(Read_File(folder_ + "dorvex.cfg"), before);
  EXPECT_EQ(windows.Terminate(), 0);
}

TEST_F(Service, ABrokenStdoutPipeAndSighupLeaveTheHeadlessReceiverRunning) {
  const int first = Free_Port(), second = Free_Port();
  ASSERT_EQ(
      Quenor({"settings", "HB_Period=0", "DC9_Port_Enable=1", "DC9_Port=" + std::to_string(first)})
          .Code,
      0);
  Headless_Options options;
  options.Stdout_Pipe = true;
  Headless_Receiver receiver(scratch_, folder_, "main", options);
  ASSERT_TRUE(receiver.Read_Stdout_Until("Port " + std::to_string(first) + " is open."));
  // The journal reader goes away; the next log lines meet a broken pipe.
  receiver.Close_Stdout();
  {
    // Data the receiver does not recognise makes it log a line (to the file and the pipe).
    auto link = Tcp_Link::Connect(first);
    ASSERT_TRUE(link && link->Send("no frame at all\r"));
    ASSERT_TRUE(Wait_Until(
        [&] { return Folder_Log(folder_).find("Unrecognised data received") != std::string::npos; },
        10s));
  }
  EXPECT_EQ(Send_Frame(first, Contact_Id_Frame("1111")).Token, "ACK");
  int status = 0;
  ASSERT_TRUE(receiver.Alive(status)) << "ended with wait status " << status;

  // The settings file changed under the receiver (as a configuration tool would), then SIGHUP.
  Settings_Record changed{};
  const std::string bytes = Read_File(folder_ + "dorvex.cfg");
  ASSERT_EQ(bytes.size(), sizeof changed);
  std::memcpy(&changed, bytes.data(), sizeof changed);
  changed.DC9_Port = second;
  Write_File(folder_ + "dorvex.cfg",
             std::string(reinterpret_cast<const char*>(&changed), sizeof changed));
  ASSERT_EQ(::kill(receiver.Pid(), SIGHUP), 0);
  ASSERT_TRUE(Wait_Until(
      [&] {
        return Folder_Log(folder_).find("Port " + std::to_string(second) + " is open.") !=
               std::string::npos;
      },
      10s))
      << Folder_Log(folder_) << receiver.Err();
  EXPECT_EQ(Send_Frame(second, Contact_Id_Frame("1111", 2)).Token, "ACK");
  const std::string log = Folder_Log(folder_);
  EXPECT_NE(log.find("SIGHUP: reading the settings again."), std::string::npos) << log;
  EXPECT_NE(log.find("Receiver port " + std::to_string(first) + " closed to reopen as " +
                     std::to_string(second)),
            std::string::npos)
      << log;

  // Still the same process, and its end is the orderly one.
  EXPECT_TRUE(receiver.Alive(status)) << "ended with wait status " << status;
  EXPECT_EQ(receiver.Stop(), 0);
  EXPECT_NE(Folder_Log(folder_).find("Program closed"), std::string::npos);
}

TEST_F(Service, TwoReceiversOnTwoFoldersAnswerOnTheirTwoPortsAtOnce) {
  const int ports[2] = {Free_Port(), Free_Port()};
  ASSERT_NE(ports[0], ports[1]);
  const std::string folders[2] = {scratch_ + "/receivers/a/", scratch_ + "/receivers/b/"};
  for (int i = 0; i < 2; ++i) {
    const Run_Result r =
        Run_Quenor(scratch_, {"settings", "--data-dir", folders[i], "DC9_Port_Enable=1",
                              "DC9_Port=" + std::to_string(ports[i]), "HB_Period=0"});
    ASSERT_EQ(r.Code, 0) << r.Err;
  }
  Headless_Receiver a(scratch_, folders[0], "a");
  Headless_Receiver b(scratch_, folders[1], "b");
  // Each log line is on standard output too, with the level prefix journald reads.
  ASSERT_TRUE(a.Wait_Out("<6>")) << a.Err();
  ASSERT_TRUE(b.Wait_Out("Port " + std::to_string(ports[1]) + " is open.")) << b.Out();
  ASSERT_TRUE(a.Wait_Out("Port " + std::to_string(ports[0]) + " is open.")) << a.Out();

  EXPECT_EQ(Send_Frame(ports[0], Contact_Id_Frame("1111")).Token, "ACK");
  EXPECT_EQ(Send_Frame(ports[1], Contact_Id_Frame("2222")).Token, "ACK");
  // A third start on a folder in use is refused and leaves the first running.
  const Run_Result third = Run_Quenor(scratch_, {"--headless", "--data-dir", folders[0]});
  EXPECT_EQ(third.Code, 0);
  EXPECT_NE(third.Err.find("RAD-EZ Ududerud is already running?"), std::string::npos);
  EXPECT_EQ(Send_Frame(ports[0], Contact_Id_Frame("1111", 2)).Token, "ACK");

  // Each folder's journal holds its own receiver's events only.
  ASSERT_TRUE(
      Wait_Until([&] { return Journal_File_Status(folders[1] + "dorvex.dat", 0) == 1; }, 5s));
  EXPECT_EQ(a.Stop(), 0);
  EXPECT_EQ(b.Stop(), 0);
  EXPECT_NE(a.Out().find("<6>"), std::string::npos);
  EXPECT_NE(a.Out().find("Program closed"), std::string::npos);
  Event_Record first_b;
  std::memcpy(&first_b, Read_File(folders[1] + "dorvex.dat").data() + Journal_Slot_Offset(0),
              sizeof first_b);
  EXPECT_EQ(std::string(first_b.Account_Nr), "2222");
  EXPECT_EQ(Journal_File_Status(folders[1] + "dorvex.dat", 1), 0);
}

TEST_F(Service, TheHeadlessLogGoesToStandardOutputWithTheLevelJournaldReads) {
  const int port = Free_Port();
  Tcp_Listener taken(port);  // the receiver port is in use: a red line
  ASSERT_EQ(Quenor({"settings", "DC9_Port_Enable=1", "DC9_Port=" + std::to_string(port)}).Code, 0);
  Headless_Receiver receiver(scratch_, folder_, "main");
  ASSERT_TRUE(receiver.Wait_Out("<3>")) << receiver.Out() << receiver.Err();
  EXPECT_EQ(receiver.Stop(), 0);

  // Every line of the log file is on standard output, in order, each with its level.
  // (All monthly files, in case the run straddled a month's end.)
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder_))
    if (entry.path().filename().string().rfind("dorvex_", 0) == 0)
      names.push_back(entry.path().string());
  std::sort(names.begin(), names.end());
  std::string log;
  for (const std::string& name : names) log += Read_File(name);
  std::istringstream file(log), out(receiver.Out());
  std::string file_line, out_line;
  int lines = 0;
  while (std::getline(file, file_line)) {
    ASSERT_TRUE(std::getline(out, out_line)) << receiver.Out();
    if (!file_line.empty() && file_line.back() == '\r') file_line.pop_back();
    const bool red = file_line.find("socket error") != std::string::npos;
    EXPECT_EQ(out_line, (red ? "<3>" : "<6>") + file_line);
    ++lines;
  }
  EXPECT_GE(lines, 4);  // start line, opening, the failure, "Program closed"
}

// A prepared folder: journal and object table written as the receiver writes them.
class Status_Folder : public Service {
 protected:
  void Add_Event(int k, uint8_t status, int64_t time, const char* code = "1401") {
    Event_Record& e = events_[k];
    e.Status = status;
    e.Time_Received = time;
    std::strcpy(e.Account_Nr, "1234");
    std::strcpy(e.Event_Code, code);
  }
  void Add_Object(int i, uint8_t flags) {
    objects_[i].Last_Event_Time = 1700000000 + i;
    std::snprintf(objects_[i].Account_Nr, sizeof objects_[i].Account_Nr, "%04d", i);
    objects_[i].Object_Flags = flags;
  }
  void Write() {
    ::mkdir((scratch_ + "/receivers").c_str(), 0700);
    ::mkdir(folder_.c_str(), 0700);
    std::string journal(JOURNAL_FILE_SIZE, '\0');
    for (int k = 0; k < JOURNAL_SLOTS; ++k)
      std::memcpy(journal.data() + Journal_Slot_Offset(k), &events_[k], sizeof(Event_Record));
    Write_File(folder_ + JOURNAL_FILE_NAME, journal);
    Write_File(folder_ + OBJECT_FILE_NAME,
               std::string(reinterpret_cast<const char*>(objects_.data()), OBJECT_FILE_SIZE));
  }
  std::vector<Event_Record> events_ = std::vector<Event_Record>(JOURNAL_SLOTS);
  std::vector<Object_Record> objects_ = std::vector<Object_Record>(OBJECT_SLOTS);
};

TEST_F(Status_Folder, JsonReportsTheCountsExactlyAndNamesALostObjectWhileNoReceiverRuns) {
  const int64_t now = std::time(nullptr);
  for (int k = 0; k < 7; ++k) Add_Event(k, 7, now - 3600 + k);  // reported
  Add_Event(7, 1, now - 10);                                    // saved, not yet reported
  Add_Event(8, 1, now - 5);
  Add_Event(9, 1, now - 2, "NULL");  // link test: never reported
  for (int i = 0; i < 25; ++i) Add_Object(i, 0);
  Write();

  Run_Result r = Quenor({"status", "--json"});
  EXPECT_EQ(r.Code, 3) << r.Out << r.Err;  // the files are fine, but nobody receives
  for (const char* part : {"\"saved\":10", "\"pending\":2", "\"reported\":7", "\"link_tests\":1",
                           "\"total\":25", "\"lost\":0", "\"receiver_running\":false",
                           "\"health\":\"not running\"", "\"problems\":[]"})
    EXPECT_NE(r.Out.find(part), std::string::npos) << part << " in " << r.Out;
  EXPECT_NE(r.Out.find("\"last_event_unix\":" + std::to_string(now - 2)), std::string::npos);

  Add_Object(25, OBJ_LOST | OBJ_REPORT_DUE);
  Write();
  r = Quenor({"status", "--json"});
  EXPECT_EQ(r.Code, 3);
  EXPECT_NE(r.Out.find("\"total\":26"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\"lost\":1"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\"problems\":[\"1 object(s) lost\"]"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\"healthy\":false"), std::string::npos) << r.Out;
}

TEST_F(Status_Folder, AnUnreadableFileIsTwoAndJsonStillPrintsOneObjectWithTheError) {
  Add_Event(0, 1, std::time(nullptr) - 120);
  Write();
  const Run_Result late = Quenor({"status"});
  EXPECT_EQ(late.Code, 3);
  EXPECT_NE(late.Out.find("Events: 1 saved, 1 pending, 0 reported"), std::string::npos) << late.Out;
  EXPECT_NE(late.Out.find("Problem: An event has waited 12"), std::string::npos) << late.Out;

  Write_File(folder_ + OBJECT_FILE_NAME, "short");
  const Run_Result broken = Quenor({"status"});
  EXPECT_EQ(broken.Code, 2);
  EXPECT_NE(broken.Err.find("latevn.dat"), std::string::npos) << broken.Err;

  // A folder where the journal belongs is named as such, not measured as a huge file.
  std::filesystem::remove(folder_ + OBJECT_FILE_NAME);
  std::filesystem::remove(folder_ + JOURNAL_FILE_NAME);
  std::filesystem::create_directory(folder_ + JOURNAL_FILE_NAME);
  const Run_Result folder_in_place = Quenor({"status"});
  EXPECT_EQ(folder_in_place.Code, 2);
  EXPECT_NE(folder_in_place.Err.find("dorvex.dat: Error: 21. Is a directory"), std::string::npos)
      << folder_in_place.Err;

  for (const std::string& folder : {folder_, scratch_ + "/no-such-folder/"}) {
    folder_ = folder;
    const Run_Result json = Quenor({"status", "--json"});
    EXPECT_EQ(json.Code, 2) << folder;
    // Exactly one line, one object, with the reason in "error".
    EXPECT_EQ(json.Out.find('\n'), json.Out.size() - 1) << json.Out;
    EXPECT_EQ(json.Out.rfind("{\"error\":", 0), 0u) << json.Out;
    EXPECT_NE(json.Out.find("\"exit_code\":2"), std::string::npos) << json.Out;
    const Run_Result metrics = Quenor({"status", "--prometheus"});
    EXPECT_EQ(metrics.Code, 2);
    EXPECT_NE(metrics.Out.find("\nquenor_status{folder=\"" + folder + "\"} 2\n"), std::string::npos)
        << metrics.Out;
  }
}

// A running receiver on a prepared folder, and `status` run until its verdict is `code`.
class Running_Status : public Status_Folder {
 protected:
  // The receiver ends before its folder is removed.
  void TearDown() override {
    receiver_.reset();
    Status_Folder::TearDown();
  }
  void Start(int port) {
    ASSERT_EQ(
        Quenor({"settings", "HB_Period=0", "DC9_Port_Enable=1", "DC9_Port=" + std::to_string(port)})
            .Code,
        0);
    receiver_ = std::make_unique<Headless_Receiver>(scratch_, folder_, "main");
    ASSERT_TRUE(receiver_->Wait_Out(START_LINE)) << receiver_->Err();
  }
  // The report once the exit code is `code` (the last one after 15 s).
  Run_Result Status_Becomes(int code, const std::vector<std::string>& args = {"status"}) {
    Run_Result r;
    Wait_Until([&] { return (r = Quenor(args)).Code == code; }, 15s);
    return r;
  }
  std::unique_ptr<Headless_Receiver> receiver_;
};

TEST_F(Running_Status, AReceiverPortThatCannotBeBoundIsDegraded) {
  const int port = Free_Port();
  Tcp_Listener taken(port);
  Start(port);
  const Run_Result r = Status_Becomes(1);
  EXPECT_EQ(r.Code, 1) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("Receiver port: " + std::to_string(port) + " not open"), std::string::npos)
      << r.Out;
  EXPECT_NE(r.Out.find("Problem: Receiver port " + std::to_string(port) + " is not open"),
            std::string::npos)
      << r.Out;
  const Run_Result json = Quenor({"status", "--json"});
  EXPECT_NE(json.Out.find("\"port_open\":false"), std::string::npos) << json.Out;
  const Run_Result metrics = Quenor({"status", "--prometheus"});
  EXPECT_NE(metrics.Out.find("quenor_receiver_port_open{folder=\"" + folder_ + "\"} 0\n"),
            std::string::npos)
      << metrics.Out;
}

TEST_F(Running_Status, AJournalThatCannotBeWrittenIsDegraded) {
  Write();
  // Immutable: not even root may open it for writing (needs CAP_LINUX_IMMUTABLE and a file
  // system that keeps the flag).
  const std::string journal = folder_ + JOURNAL_FILE_NAME;
  if (std::system(("chattr +i '" + journal + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "chattr +i is not possible here";
  struct Unlock {
    std::string path;
    ~Unlock() {
      if (std::system(("chattr -i '" + path + "'").c_str()) != 0) {
      }
    }
  } unlock{journal};
  const int port = Free_Port();
  Start(port);
  ASSERT_TRUE(receiver_->Wait_Out("Port " + std::to_string(port) + " is open."));
  // Every event goes unanswered: the communicator will send it again.
  EXPECT_EQ(Send_Frame(port, Contact_Id_Frame("1111"), 0, 2s).Token, "");
  const Run_Result r = Status_Becomes(1);
  EXPECT_EQ(r.Code, 1) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("Problem: The journal cannot be written: "), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("Operation not permitted"), std::string::npos) << r.Out;
  ASSERT_TRUE(Wait_Until(
      [&] {
        return Quenor({"status", "--json"}).Out.find("\"write_errors\":0") == std::string::npos;
      },
      10s))
      << Quenor({"status", "--json"}).Out;
  EXPECT_NE(Quenor({"status", "--json"}).Out.find("\"journal_writable\":false"), std::string::npos);
}

TEST_F(Running_Status, APendingEventStampedInTheFutureIsDegraded) {
  const int64_t now = std::time(nullptr);
  Add_Event(0, 1, now - 5);
  Add_Event(1, 1, now + 3600);
  Write();
  const int port = Free_Port();
  Start(port);
  ASSERT_TRUE(receiver_->Wait_Out("Port " + std::to_string(port) + " is open."));
  const Run_Result r = Status_Becomes(1);
  EXPECT_EQ(r.Code, 1) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("Problem: A pending event is stamped 3"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("s in the future"), std::string::npos) << r.Out;
}

// A datagram socket of the test standing for the service manager's notification socket.
class Notify_Socket {
 public:
  explicit Notify_Socket(std::string path) : path_(std::move(path)) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~Notify_Socket() {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  bool Bound() const { return bound_; }
  const std::string& Path() const { return path_; }
  // Reads messages until one holds `text` (true) or `timeout` passes (false). Every message read
  // is kept in Seen().
  bool Wait_For(const std::string& text, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (true) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      pollfd p{fd_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
      char buffer[4096];
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      seen_.emplace_back(buffer, static_cast<std::size_t>(n));
      if (seen_.back().find(text) != std::string::npos) return true;
    }
  }
  const std::vector<std::string>& Seen() const { return seen_; }
  int Count(const std::string& text, std::size_t from = 0) const {
    int n = 0;
    for (std::size_t i = from; i < seen_.size(); ++i)
      n += seen_[i].find(text) != std::string::npos ? 1 : 0;
    return n;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
  std::vector<std::string> seen_;
};

std::string Joined(const std::vector<std::string>& messages) {
  std::string all;
  for (const std::string& m : messages) all += "[" + m + "] ";
  return all;
}

TEST_F(Service, ReadyOnceThePortIsOpenAndWatchdogPingsOnlyWhileTheSenderMoves) {
  const int port = Free_Port(), out_port = Free_Port();
  ASSERT_EQ(
      Quenor({"settings", "DC9_Port_Enable=1", "DC9_Port=" + std::to_string(port), "Out_Mode=1",
              "Out_TCP_Server=1", "Out_Port=" + std::to_string(out_port), "HB_Period=0"})
          .Code,
      0);
  Notify_Socket notify(scratch_ + "/notify");
  ASSERT_TRUE(notify.Bound());
  const std::string hold = scratch_ + "/hold-sender";
  Headless_Options options;
  options.Environment = {{"NOTIFY_SOCKET", notify.Path()},
                         {"WATCHDOG_USEC", "2000000"},  // a keep-alive every second
                         {"QUENOR_TEST_HOLD_SENDER", hold}};
  Headless_Receiver receiver(scratch_, folder_, "main", options);

  ASSERT_TRUE(notify.Wait_For("READY=1", 20s)) << Joined(notify.Seen()) << receiver.Err();
  EXPECT_NE(notify.Seen().back().find("STATUS=Receiver port " + std::to_string(port) + " open"),
            std::string::npos);
  EXPECT_TRUE(receiver.Out().find("Port " + std::to_string(port) + " is open.") !=
              std::string::npos);
  // The automation software connects but never answers: the sender waits out its answer
  // time-out again and again, which is legitimate progress.
  ASSERT_TRUE(
      receiver.Wait_Out("Automation software port " + std::to_string(out_port) + " is open.", 10s))
      << receiver.Out();
  Automation_Peer silent(Automation_Peer::Connect_Fd(out_port),
                         Automation_Peer::Always(PEER_SILENT), Automation_Peer::Fd::Owned);
  // An event for the silent peer: every data pass now waits 2 s for an answer that never comes.
  EXPECT_EQ(Send_Frame(port, Contact_Id_Frame("1111")).Token, "ACK");
  const auto no_ack_lines = [&] {
    const std::string out = receiver.Out();
    int n = 0;
    for (auto p = out.find("no ACK from automation"); p != std::string::npos;
         p = out.find("no ACK from automation", p + 1))
      ++n;
    return n;
  };
  // Three unanswered lines take longer than the sender's longest legitimate step: the pings go
  // on all the while.
  while (no_ack_lines() < 3) ASSERT_TRUE(notify.Wait_For("WATCHDOG=1", 10s)) << receiver.Out();
  EXPECT_GE(notify.Count("WATCHDOG=1"), 4) << Joined(notify.Seen());
  EXPECT_EQ(notify.Count("no progress"), 0) << Joined(notify.Seen());

  // Held: the sender's hand-overs to the main thread are not served. The receiver says why and
  // the pings stop.
  Write_File(hold, "");
  ASSERT_TRUE(notify.Wait_For("The report sender has made no progress", 20s))
      << Joined(notify.Seen());
  const std::size_t stalled_at = notify.Seen().size();
  EXPECT_FALSE(notify.Wait_For("WATCHDOG=1", 4s)) << Joined(notify.Seen());
  EXPECT_EQ(notify.Count("WATCHDOG=1", stalled_at), 0);
  EXPECT_NE(Folder_Log(folder_).find("The report sender has made no progress"), std::string::npos);

  // Released: it moves again and so do the pings.
  ASSERT_EQ(::unlink(hold.c_str()), 0);
  ASSERT_TRUE(notify.Wait_For("makes progress again", 20s)) << Joined(notify.Seen());
  ASSERT_TRUE(notify.Wait_For("WATCHDOG=1", 10s)) << Joined(notify.Seen());
  EXPECT_EQ(receiver.Stop(), 0);
}

TEST_F(Service, AReceiverPortThatCannotOpenIsNoReadinessButAStatus) {
  const int port = Free_Port();
  Tcp_Listener taken(port);
  ASSERT_EQ(Quenor({"settings", "DC9_Port_Enable=1", "DC9_Port=" + std::to_string(port)}).Code, 0);
  Notify_Socket notify(scratch_ + "/notify");
  ASSERT_TRUE(notify.Bound());
  Headless_Options options;
  options.Environment = {{"NOTIFY_SOCKET", notify.Path()}};
  Headless_Receiver receiver(scratch_, folder_, "main", options);
  ASSERT_TRUE(notify.Wait_For("STATUS=", 20s)) << receiver.Err();
  EXPECT_NE(notify.Seen().back().find("Address already in use"), std::string::npos)
      << Joined(notify.Seen());
  EXPECT_EQ(notify.Count("READY=1"), 0) << Joined(notify.Seen());
  EXPECT_EQ(receiver.Stop(), 0);
  EXPECT_EQ(notify.Count("READY=1"), 0) << Joined(notify.Seen());
}

// A notify service that ends before READY=1 is a failed start for the service manager, whatever
// its exit code: a refused start says why in STATUS= and never claims readiness.
TEST_F(Service, ARefusedStartSaysWhyAndIsNeverReady) {
  const int port = Free_Port();
  ASSERT_EQ(Quenor({"settings", "DC9_Port_Enable=1", "DC9_Port=" + std::to_string(port)}).Code, 0);
  Headless_Receiver first(scratch_, folder_, "first");
  ASSERT_TRUE(first.Wait_Out("Port " + std::to_string(port) + " is open.", 20s)) << first.Out();
  Write_File(scratch_ + "/a-file", "");
  struct Case {
    std::string Folder, Status;
    int Code;
  };
  const Case cases[] = {
      // Another receiver serves the folder: exit 0 as before.
      {folder_, "STATUS=RAD-EZ Ududerud is already running?", 0},
      // A folder that cannot be used: a failure with the folder and the reason.
      {scratch_ + "/a-file/main", "Not a directory", 1},
  };
  for (const Case& c : cases) {
    Notify_Socket notify(scratch_ + "/notify");
    ASSERT_TRUE(notify.Bound());
    Headless_Options options;
    options.Environment = {{"NOTIFY_SOCKET", notify.Path()}};
    Headless_Receiver second(scratch_, c.Folder, "second", options);
    int status = 0;
    ASSERT_TRUE(Wait_Until([&] { return !second.Alive(status); }, 20s)) << c.Folder;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.Code) << c.Folder << ": " << second.Err();
    ASSERT_TRUE(notify.Wait_For(c.Status, 5s)) << c.Folder << ": " << Joined(notify.Seen());
    EXPECT_NE(notify.Seen().back().find("STATUS="), std::string::npos) << Joined(notify.Seen());
    // Everything it sent has been read: nothing more arrives, and nothing claimed readiness.
    EXPECT_FALSE(notify.Wait_For("READY=1", 1s)) << Joined(notify.Seen());
    EXPECT_EQ(notify.Count("READY=1"), 0) << Joined(notify.Seen());
  }
  EXPECT_EQ(Send_Frame(port, Contact_Id_Frame("1111")).Token, "ACK");
  EXPECT_EQ(first.Stop(), 0);
}

// Every failure of a system call the receiver reports carries the system's reason. Each case
// spoils one file or port of a fresh folder; directories stand where files belong, which even
// root cannot write as files.
TEST_F(Service, EveryFailureLineNamesTheSystemsReason) {
  struct Case {
    const char* What;
    std::vector<std::string> Settings;
    std::function<void(const std::string& folder, int port)> Spoil;
    // After the receiver runs: what makes it meet the failure (nothing by default).
    std::function<void(Headless_Receiver&, const std::string& folder, int port)> Provoke;
    std::string Line, Reason;
  };
  const auto make_folder = [](const std::string& name) {
    return [name](const std::string& folder, int) {
      std::filesystem::remove(folder + name);
      std::filesystem::create_directories(folder + name);
    };
  };
  std::unique_ptr<Tcp_Listener> taken;
  const Case cases[] = {
      {"bind",
       {},
       [&](const std::string&, int port) { taken = std::make_unique<Tcp_Listener>(port); },
       nullptr,
       "Windows socket error:",
       "Address already in use"},
      {"lock",
       {},
       make_folder("Quenor.exe.lock"),
       nullptr,
       "Cannot lock the data folder",
       "Is a directory"},
      {"journal open",
       {},
       make_folder("dorvex.dat"),
       [](Headless_Receiver&, const std::string&, int port) {
         Send_Frame(port, Contact_Id_Frame("1111"), 0, 2s);
       },
       "File open error.",
       "Is a directory"},
      {"state file",
       {},
       make_folder("quenor.state"),
       nullptr,
       "Cannot write the live state",
       "Is a directory"},
      {"serial open",
       {"Out_Mode=2", "COM_Name=COM64"},
       nullptr,
       nullptr,
       "Error opening COM64",
       "No such file or directory"},
      {"settings reload",
       {},
       nullptr,
       [](Headless_Receiver& receiver, const std::string& folder, int) {
         ASSERT_EQ(::unlink((folder + "dorvex.cfg").c_str()), 0);
         std::filesystem::create_directories(folder + "dorvex.cfg");
         ::kill(receiver.Pid(), SIGHUP);
       },
       "Settings not reloaded: cannot read",
       "Is a directory"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const std::string folder = scratch_ + "/case" + std::to_string(++n) + "/";
    const int port = Free_Port();
    std::vector<std::string> args = {
        "settings",   "--data-dir", folder, "DC9_Port_Enable=1", "DC9_Port=" + std::to_string(port),
        "HB_Period=0"};
    args.insert(args.end(), c.Settings.begin(), c.Settings.end());
    ASSERT_EQ(Run_Quenor(scratch_, args).Code, 0);
    if (c.Spoil) c.Spoil(folder, port);
    Headless_Receiver receiver(scratch_, folder, "case" + std::to_string(n));
    const auto said = [&] {
      const std::string all = receiver.Out() + receiver.Err();
      const auto at = all.find(c.Line);
      return at != std::string::npos &&
             all.find(c.Reason, at) < all.find('\n', at);  // on the same line
    };
    if (c.Provoke) {
      ASSERT_TRUE(receiver.Wait_Out("Port " + std::to_string(port) + " is open.", 20s))
          << receiver.Out() << receiver.Err();
      c.Provoke(receiver, folder, port);
    }
    EXPECT_TRUE(Wait_Until(said, 20s)) << receiver.Out() << receiver.Err();
    receiver.Stop();
    taken.reset();
  }
}

TEST_F(Service, VersionHelpAndABadCommandLine) {
  Run_Result r = Run_Quenor(scratch_, {"--version"});
  EXPECT_EQ(r.Code, 0);
  EXPECT_EQ(r.Out, "quenor 1.07.1\n");
  r = Run_Quenor(scratch_, {"--help"});
  EXPECT_EQ(r.Code, 0);
  EXPECT_NE(r.Out.find("--data-dir"), std::string::npos);
  // `settings --help` names every setting the listing shows, each on its own line with a rule.
  r = Run_Quenor(scratch_, {"settings", "--help"});
  EXPECT_EQ(r.Code, 0);
  std::filesystem::create_directories(folder_);
  const std::map<std::string, std::string> shown = Settings_Shown();
  EXPECT_GE(shown.size(), 18u);
  for (const auto& [name, value] : shown) {
    const auto at = r.Out.find("\n  " + name + " ");
    ASSERT_NE(at, std::string::npos) << name << " in " << r.Out;
    const std::string line = r.Out.substr(at + 3, r.Out.find('\n', at + 1) - at - 3);
    EXPECT_GT(line.find_first_not_of(' ', name.size()), name.size()) << line;
    EXPECT_GT(line.size(), name.size() + 20) << line;
  }
  for (const char* part : {"standard input", "1 to 999", "1024 or above", "9600 19200", "COM64"})
    EXPECT_NE(r.Out.find(part), std::string::npos) << part << " in " << r.Out;
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"frobnicate"}, {"--no-such-option"}, {"status", "extra"}, {"--headless", "status"}}) {
    r = Run_Quenor(scratch_, bad);
    EXPECT_EQ(r.Code, 2) << bad[0];
    EXPECT_NE(r.Err.find("quenor --help"), std::string::npos) << r.Err;
  }
}

// A system user made for one test and deleted after it: the service user that plants links and
// swaps files in its own data folder while root runs commands on it.
class Throwaway_User {
 public:
  Throwaway_User() {
    if (::geteuid() != 0) return;
    name_ = "qtest" + std::to_string(::getpid());
    const std::string add =
        "useradd --system --no-create-home --shell /usr/sbin/nologin " + name_ + " >/dev/null 2>&1";
    if (std::system(add.c_str()) != 0) return;
    if (const passwd* entry = ::getpwnam(name_.c_str())) {
      uid_ = entry->pw_uid;
      gid_ = entry->pw_gid;
    }
  }
  ~Throwaway_User() {
    if (uid_ == 0) return;
    const std::string del = "userdel " + name_ + " >/dev/null 2>&1";
    if (std::system(del.c_str()) != 0) {
    }
  }
  bool Made() const { return uid_ != 0; }
  uid_t Uid() const { return uid_; }
  gid_t Gid() const { return gid_; }
  // Runs `work` in a child process as this user; the child's pid.
  pid_t Start(const std::function<void()>& work) const {
    const pid_t pid = ::fork();
    if (pid == 0) {
      // Never outlives the test, whichever way it ends.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::setgroups(0, nullptr) != 0 || ::setgid(gid_) != 0 || ::setuid(uid_) != 0) ::_exit(99);
      work();
      ::_exit(0);
    }
    return pid;
  }
  int Run(const std::function<void()>& work) const {
    int status = 0;
    ::waitpid(Start(work), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  std::string name_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

// A service user's data folder prepared by root, and a file of root's elsewhere that the user
// wants to own or change.
class Root_Safety : public Service {
 protected:
  void SetUp() override {
    Service::SetUp();
    if (!user_.Made()) GTEST_SKIP() << "needs root and useradd to make a throw-away user";
    std::filesystem::create_directories(folder_);
    ASSERT_EQ(::chmod(scratch_.c_str(), 0755), 0);
    ASSERT_EQ(::chmod((scratch_ + "/receivers").c_str(), 0755), 0);
    ASSERT_EQ(::chown(folder_.c_str(), user_.Uid(), user_.Gid()), 0);
    target_ = scratch_ + "/root-file";
    Write_File(target_, std::string(300, 'r'));
    ASSERT_EQ(::chmod(target_.c_str(), 0644), 0);
  }
  void Expect_Target_Untouched() {
    struct stat st {};
    ASSERT_EQ(::stat(target_.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(Read_File(target_), std::string(300, 'r'));
  }
  Throwaway_User user_;
  std::string target_;
};

TEST_F(Root_Safety, RootNeverWritesThroughALinkThePlantedSettingsFile) {
  const std::string link = folder_ + "dorvex.cfg";
  ASSERT_EQ(user_.Run([&] { ::_exit(::symlink(target_.c_str(), link.c_str()) == 0 ? 0 : 1); }), 0);
  const Run_Result r = Quenor({"settings", "DC9_Port=7001"});
  EXPECT_NE(r.Code, 0) << r.Out;
  Expect_Target_Untouched();
  // Showing does not read through it either.
  const Run_Result shown = Quenor({"settings"});
  EXPECT_EQ(shown.Code, 2);
  EXPECT_EQ(shown.Out.find("rrrr"), std::string::npos);
  Expect_Target_Untouched();
}

TEST_F(Root_Safety, ANewSettingsFileSwappedForALinkNeverHandsRootsFileOver) {
  // The user keeps putting a link to root's file in place of each new settings file.
  const std::string cfg = folder_ + "dorvex.cfg", spare = folder_ + "spare";
  const std::string stop = scratch_ + "/stop";
  const pid_t swapper = user_.Start([&] {
    while (::access(stop.c_str(), F_OK) != 0) {
      ::symlink(target_.c_str(), spare.c_str());
      struct stat st {};
      if (::lstat(cfg.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        ::rename(spare.c_str(), cfg.c_str());
    }
  });
  int handed_over_at = -1;
  for (int attempt = 0; attempt < 60 && handed_over_at < 0; ++attempt) {
    ::unlink(cfg.c_str());
    Quenor({"settings", "DC9_Port=" + std::to_string(7100 + attempt)});
    struct stat st {};
    if (::stat(target_.c_str(), &st) != 0 || st.st_uid != 0) handed_over_at = attempt;
  }
  Write_File(stop, "");
  int status = 0;
  ::waitpid(swapper, &status, 0);
  EXPECT_EQ(handed_over_at, -1) << "root's file handed over";
  Expect_Target_Untouched();
}

TEST_F(Root_Safety, PortsTheServiceUserCannotOpenAreRefused) {
  Run_Result r = Quenor({"settings", "DC9_Port=80"});
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("DC9_Port: '80'"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("CAP_NET_BIND_SERVICE"), std::string::npos) << r.Err;
  EXPECT_EQ(File_Size(folder_ + "dorvex.cfg"), -1);
  r = Quenor({"settings", "DC9_Port=1024", "Out_Port=1025"});
  EXPECT_EQ(r.Code, 0) << r.Err;
  // The saved file and the lock file are the service user's, private to it.
  for (const char* name : {"dorvex.cfg", "Quenor.exe.lock"}) {
    struct stat st {};
    ASSERT_EQ(::stat((folder_ + name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_uid, user_.Uid()) << name;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
  }
  // A folder of root's runs a receiver as root, which may.
  folder_ = scratch_ + "/root-owned/";
  EXPECT_EQ(Quenor({"settings", "DC9_Port=80"}).Code, 0);
}

// A small file system of its own that can be filled.
class Full_Disk : public Service {
 protected:
  void SetUp() override {
    Service::SetUp();
    std::filesystem::create_directories(folder_);
    const std::string mount = "mount -t tmpfs -o size=64k tmpfs '" + folder_ + "' 2>/dev/null";
    if (::geteuid() != 0 || std::system(mount.c_str()) != 0)
      GTEST_SKIP() << "needs root to mount a small tmpfs";
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) {
      const std::string umount = "umount '" + folder_ + "'";
      if (std::system(umount.c_str()) != 0) {
      }
    }
    Service::TearDown();
  }
  void Fill() {
    const int fd = ::open((folder_ + "filler").c_str(), O_WRONLY | O_CREAT, 0600);
    const std::string block(4096, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
  }
  bool mounted_ = false;
};

TEST_F(Full_Disk, ASaveThatCannotBeWrittenLeavesTheOldFileWhole) {
  ASSERT_EQ(::chmod(folder_.c_str(), 0700), 0);
  // A new file on a full disk: no empty file is left behind to read as zeros.
  Fill();
  Run_Result r = Quenor({"settings", "DC9_Port=7001"});
  EXPECT_EQ(r.Code, 2);
  EXPECT_NE(r.Err.find("No space left on device"), std::string::npos) << r.Err;
  EXPECT_EQ(File_Size(folder_ + "dorvex.cfg"), -1);

  // An existing file stays as it was, byte for byte.
  ::unlink((folder_ + "filler").c_str());
  ASSERT_EQ(Quenor({"settings", "DC9_Port=7002"}).Code, 0);
  const std::string before = Read_File(folder_ + "dorvex.cfg");
  Fill();
  r = Quenor({"settings", "DC9_Port=7003"});
  EXPECT_EQ(r.Code, 2);
  EXPECT_EQ(Read_File(folder_ + "dorvex.cfg"), before);
  ::unlink((folder_ + "filler").c_str());
  EXPECT_EQ(Settings_Shown()["DC9_Port"], "7002");
  // No temporary file is left in the folder.
  for (const auto& entry : std::filesystem::directory_iterator(folder_))
    EXPECT_EQ(entry.path().filename().string().rfind(".dorvex", 0), std::string::npos)
        << entry.path();
}

TEST_F(Service, TheKeyCanComeFromStandardInputAndFileTextIsEscaped) {
  Run_Options options;
  options.Input = KEY_256 + "\n";
  Run_Result r = Run_Quenor(
      scratch_, {"settings", "--data-dir", folder_, "DC9_AES_Mode=3", "DC9_AES_Key=-"}, options);
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(Settings_Shown()["DC9_AES_Key"], KEY_256);
  // Encryption cannot be switched on without a whole key.
  r = Quenor({"settings", "DC9_AES_Mode=0", "DC9_AES_Key="});
  ASSERT_EQ(r.Code, 0) << r.Err;
  r = Quenor({"settings", "DC9_AES_Mode=1"});
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("DC9_AES_Mode"), std::string::npos) << r.Err;

  // Escape sequences in the file reach the terminal as text.
  std::string bytes = Read_File(folder_ + "dorvex.cfg");
  std::memcpy(bytes.data() + offsetof(Settings_Record, COM_Name), "\x1b[2J", 5);
  Write_File(folder_ + "dorvex.cfg", bytes);
  const Run_Result shown = Quenor({"settings"});
  EXPECT_EQ(shown.Out.find('\x1b'), std::string::npos);
  EXPECT_NE(shown.Out.find("COM_Name=\\x1b[2J"), std::string::npos) << shown.Out;
}

TEST_F(Service, AFolderThatCannotBeUsedIsAnErrorNeverDefaults) {
  // A file named as the folder.
  Write_File(scratch_ + "/plain", "x");
  folder_ = scratch_ + "/plain/";
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"settings"}, {"settings", "DC9_Port=7001"}}) {
    const Run_Result r = Quenor(args);
    EXPECT_EQ(r.Code, 2) << args.size();
    EXPECT_NE(r.Err.find("Not a directory"), std::string::npos) << r.Err;
  }
  // A lock that cannot be taken for another reason than a live receiver: an error, not a
  // second start.
  folder_ = scratch_ + "/locked/";
  std::filesystem::create_directories(folder_ + "Quenor.exe.lock");
  Run_Result r = Quenor({"--headless"});
  EXPECT_NE(r.Code, 0);
  EXPECT_EQ(r.Err.find("already running"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find(folder_), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("Is a directory"), std::string::npos) << r.Err;

  // A folder name that is no valid text is kept byte for byte.
  folder_ = scratch_ + "/caf\xe9/";
  ASSERT_EQ(Quenor({"settings", "DC9_Port=7002"}).Code, 0);
  EXPECT_GT(File_Size(folder_ + "dorvex.cfg"), 0);

  // Without HOME and --data-dir: an error, nothing made.
  Run_Options no_home;
  no_home.Home = false;
  r = Run_Quenor(scratch_, {"settings"}, no_home);
  EXPECT_EQ(r.Code, 2);
  EXPECT_NE(r.Err.find("HOME"), std::string::npos) << r.Err;
}

TEST_F(Service, WithoutADisplayTheWindowsSayHowToRun) {
  Run_Options no_display;
  no_display.Display = false;
  const Run_Result r = Run_Quenor(scratch_, {"--data-dir", folder_}, no_display);
  EXPECT_EQ(r.Code, 2);
  EXPECT_EQ(r.Err, "no display; run quenor --headless or set DISPLAY\n");
}

}  // namespace
