// The program as a service sees it: the real `quenor` with a command line. Settings and status
// from the shell on a data folder given by --data-dir, receivers side by side on two folders,
// and the headless log on standard output.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "store/event_journal.h"
#include "store/object_table.h"
#include "system/system_config.h"

namespace {

using namespace std::chrono_literals;
using namespace sys;

const char* const START_LINE = "Program started. Hostname of this computer: ";

struct Run_Result {
  int Code = -1;  // -1: did not end within 20 s
  std::string Out, Err;
};

// Runs build/quenor with `args` until it ends, with an empty environment but PATH and a HOME of
// its own, so the default data folder is never the tester's.
Run_Result Run_Quenor(const std::string& scratch, const std::vector<std::string>& args) {
  const std::string out_path = scratch + "/run.out", err_path = scratch + "/run.err";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::clearenv();
    ::setenv("PATH", "/usr/bin:/bin", 1);
    ::setenv("HOME", scratch.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("TZ", "UTC", 1);
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
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

// `quenor --headless --data-dir DIR` in the background; standard output goes to a file.
class Headless_Receiver {
 public:
  Headless_Receiver(const std::string& scratch, const std::string& data_dir, const std::string& tag)
      : out_path_(scratch + "/" + tag + ".out"), err_path_(scratch + "/" + tag + ".err") {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setenv("HOME", scratch.c_str(), 1);
      ::unsetenv("XDG_DATA_HOME");
      ::unsetenv("DISPLAY");
      ::unsetenv("WAYLAND_DISPLAY");
      const int out = ::open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = ::open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out, 1);
      ::dup2(err, 2);
      const std::string exe = std::string(QUENOR_BIN_DIR) + "/quenor";
      ::execl(exe.c_str(), "quenor", "--headless", "--data-dir", data_dir.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~Headless_Receiver() { Stop(); }

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
};

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
  // A folder that does not exist yet reads as the defaults and is not created by reading.
  auto shown = Settings_Shown();
  EXPECT_EQ(shown.size(), 18u);
  EXPECT_EQ(shown["DC9_Port"], "7777");
  EXPECT_EQ(shown["Out_IP"], "127.0.0.1");
  EXPECT_EQ(File_Size(folder_), -1);

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

TEST_F(Service, SettingsAreRefusedWhileAReceiverRunsOnTheFolder) {
  ASSERT_EQ(Quenor({"settings", "HB_Period=0"}).Code, 0);
  Headless_Receiver receiver(scratch_, folder_, "main");
  ASSERT_TRUE(receiver.Wait_Out(START_LINE)) << receiver.Err();
  const std::string before = Read_File(folder_ + "dorvex.cfg");

  const Run_Result r = Quenor({"settings", "DC9_Port=7792"});
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("A receiver runs on"), std::string::npos) << r.Err;
  EXPECT_EQ(Read_File(folder_ + "dorvex.cfg"), before);
  // Reading is still allowed, and the status sees the receiver.
  EXPECT_EQ(Settings_Shown()["HB_Period"], "0");
  EXPECT_NE(Quenor({"status"}).Out.find("Receiver: running"), std::string::npos);

  ASSERT_EQ(receiver.Stop(), 0);
  EXPECT_EQ(Quenor({"settings", "DC9_Port=7792"}).Code, 0);
  EXPECT_NE(Quenor({"status"}).Out.find("Receiver: not running"), std::string::npos);
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

TEST_F(Status_Folder, JsonReportsTheCountsExactlyAndTheExitCodeFollowsALostObject) {
  const int64_t now = std::time(nullptr);
  for (int k = 0; k < 7; ++k) Add_Event(k, 7, now - 3600 + k);  // reported
  Add_Event(7, 1, now - 10);                                    // saved, not yet reported
  Add_Event(8, 1, now - 5);
  Add_Event(9, 1, now - 2, "NULL");  // link test: never reported
  for (int i = 0; i < 25; ++i) Add_Object(i, 0);
  Write();

  Run_Result r = Quenor({"status", "--json"});
  EXPECT_EQ(r.Code, 0) << r.Out << r.Err;
  for (const char* part :
       {"\"saved\":10", "\"pending\":2", "\"reported\":7", "\"link_tests\":1", "\"total\":25",
        "\"lost\":0", "\"receiver_running\":false", "\"healthy\":true"})
    EXPECT_NE(r.Out.find(part), std::string::npos) << part << " in " << r.Out;
  EXPECT_NE(r.Out.find("\"last_event_unix\":" + std::to_string(now - 2)), std::string::npos);

  Add_Object(25, OBJ_LOST | OBJ_REPORT_DUE);
  Write();
  r = Quenor({"status", "--json"});
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Out.find("\"total\":26"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\"lost\":1"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\"healthy\":false"), std::string::npos) << r.Out;
}

TEST_F(Status_Folder, AnEventWaitingOverAMinuteIsUnhealthyAndAnUnreadableFolderIsTwo) {
  Add_Event(0, 1, std::time(nullptr) - 120);
  Write();
  const Run_Result late = Quenor({"status"});
  EXPECT_EQ(late.Code, 1);
  EXPECT_NE(late.Out.find("Events: 1 saved, 1 pending, 0 reported"), std::string::npos) << late.Out;

  Write_File(folder_ + OBJECT_FILE_NAME, "short");
  const Run_Result broken = Quenor({"status"});
  EXPECT_EQ(broken.Code, 2);
  EXPECT_NE(broken.Err.find("latevn.dat"), std::string::npos) << broken.Err;

  folder_ = scratch_ + "/no-such-folder/";
  EXPECT_EQ(Quenor({"status", "--json"}).Code, 2);
}

TEST_F(Service, VersionHelpAndABadCommandLine) {
  Run_Result r = Run_Quenor(scratch_, {"--version"});
  EXPECT_EQ(r.Code, 0);
  EXPECT_EQ(r.Out, "quenor 1.07.1\n");
  r = Run_Quenor(scratch_, {"--help"});
  EXPECT_EQ(r.Code, 0);
  EXPECT_NE(r.Out.find("--data-dir"), std::string::npos);
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"frobnicate"}, {"--no-such-option"}, {"status", "extra"}, {"--headless", "status"}}) {
    r = Run_Quenor(scratch_, bad);
    EXPECT_EQ(r.Code, 2) << bad[0];
    EXPECT_NE(r.Err.find("quenor --help"), std::string::npos) << r.Err;
  }
}

}  // namespace
