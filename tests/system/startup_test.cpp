// The program's start-up and shutdown seen from outside: the built `quenor` runs headless in its
// own temporary data and runtime folders.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "system/system_harness.h"

namespace {

using namespace std::chrono_literals;
using namespace sys;

const char* const START_LINE = "Program started. Hostname of this computer: ";

// Runs a second `quenor` against the same folders as `first` until it ends; returns its exit
// code (-1 when it did not end within 10 s) and fills `err` with its standard error.
int Run_Second_Instance(const Quenor_Process& first, std::string& err) {
  std::string data_home = first.Data_Folder();
  data_home = data_home.substr(0, data_home.rfind("/ORN RAD-EZ Ududerud/"));
  const std::string err_path = first.Runtime_Dir() + "/second.err";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("XDG_DATA_HOME", data_home.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", first.Runtime_Dir().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const int fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 2);
    const std::string exe = Quenor_Process::Program();
    ::execl(exe.c_str(), "quenor", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  const bool ended = Wait_Until([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 10s);
  if (!ended) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  err = Read_File(err_path);
  return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Startup, FirstStartCreatesTheFolderAndTheThreeFiles) {
  Quenor_Process quenor;
  quenor.Start();
  ASSERT_TRUE(quenor.Wait_Log(START_LINE, 3s)) << quenor.Stderr();
  struct stat folder {};
  ASSERT_EQ(::stat(quenor.Data_Folder().c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  EXPECT_EQ(File_Size(quenor.File("dorvex.cfg")), 256);
  EXPECT_EQ(File_Size(quenor.File("dorvex.dat")), 327684);
  EXPECT_EQ(File_Size(quenor.File("latevn.dat")), 880000);
  EXPECT_EQ(quenor.Log_Count(START_LINE), 1u);
}

TEST(Startup, ASecondInstanceEndsAtOnceAndTouchesNothing) {
  Quenor_Process quenor;
  quenor.Start();
  ASSERT_TRUE(quenor.Wait_Log(START_LINE, 3s));
  const std::string settings_before = Read_File(quenor.File("dorvex.cfg"));
  const std::string log_before = quenor.Log_Text();

  std::string err;
  EXPECT_EQ(Run_Second_Instance(quenor, err), 0);
  EXPECT_NE(err.find("RAD-EZ Ududerud is already running?\n"), std::string::npos) << err;
  EXPECT_EQ(Read_File(quenor.File("dorvex.cfg")), settings_before);
  EXPECT_EQ(quenor.Log_Text(), log_before);
  EXPECT_TRUE(quenor.Running());
}

TEST(Startup, AJournalOfTheWrongSizeIsRecreatedAndReportedAfterTheStartLine) {
  Quenor_Process quenor;
  quenor.Make_Data_Folder();
  Write_File(quenor.File("dorvex.dat"), std::string(1000, 'x'));
  quenor.Start();
  const std::string repair = "size (1000->327684) error, new file created.";
  ASSERT_TRUE(quenor.Wait_Log(repair, 4s)) << quenor.Log_Text();
  const std::string log = quenor.Log_Text();
  EXPECT_LT(log.find(START_LINE), log.find(repair));
  EXPECT_EQ(File_Size(quenor.File("dorvex.dat")), 327684);
}

TEST(Startup, SigtermRunsTheShutdownWithoutWritingTheSettings) {
  Quenor_Process quenor;
  quenor.Start();
  ASSERT_TRUE(quenor.Wait_Log(START_LINE, 3s));
  const std::string settings_before = Read_File(quenor.File("dorvex.cfg"));
  EXPECT_EQ(quenor.Terminate(6s), 0);
  const std::string log = quenor.Log_Text();
  EXPECT_NE(log.find("Program closed"), std::string::npos);
  EXPECT_GT(log.find("Program closed"), log.find(START_LINE));
  EXPECT_EQ(Read_File(quenor.File("dorvex.cfg")), settings_before);
}

TEST(Startup, ALockLeftByAKilledInstanceDoesNotBlockTheNextStart) {
  Quenor_Process quenor;
  quenor.Start();
  ASSERT_TRUE(quenor.Wait_Log(START_LINE, 3s));
  quenor.Kill();
  quenor.Start();
  EXPECT_TRUE(Wait_Until([&] { return quenor.Log_Count(START_LINE) == 2; }, 4s)) << quenor.Stderr();
}

}  // namespace
