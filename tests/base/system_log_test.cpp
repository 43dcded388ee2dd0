#include "base/system_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QLocale>
#include <utility>
#include <vector>

#include "store/test_files.h"
#include "support/temp_folder.h"

namespace {

struct Recording_Pane : Log_Pane {
  std::vector<std::pair<std::string, uint32_t>> lines;
  int appended = 0;
  void Show_Log_Line(const std::string& line, uint32_t colour) override {
    lines.emplace_back(line, colour);
  }
  void Log_File_Appended() override { ++appended; }
};

QDateTime Local(int y, int mo, int d, int h, int mi, int s) {
  return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

std::string Date_Text(const QDateTime& when) {
  return QLocale::system().toString(when.date(), QLocale::ShortFormat).toStdString();
}

class System_Log_Test : public ::testing::Test {
 protected:
  Temp_Folder folder_;
  QDateTime now_ = Local(2024, 3, 31, 23, 59, 58);
  Recording_Pane pane_;
  System_Log log_{folder_.Path(), [this] { return now_; }};
  void SetUp() override { log_.Set_Pane(&pane_); }
};

TEST_F(System_Log_Test, LineGoesToPaneAndMonthFile) {
  log_.Log_Message("Program started", 0);
  log_.Log_Message("Port error", 255);
  const std::string file = folder_.File("dorvex_2024_03.log");
  EXPECT_EQ(log_.Current_File(), file);
  const std::string prefix = Date_Text(now_) + " 23:59:58  ";
  EXPECT_EQ(Read_Bytes(file), prefix + "Program started\r\n" + prefix + "Port error\r\n");
  ASSERT_EQ(pane_.lines.size(), 2u);
  EXPECT_EQ(pane_.lines[0], std::make_pair(prefix + "Program started", uint32_t{0}));
  EXPECT_EQ(pane_.lines[1], std::make_pair(prefix + "Port error", uint32_t{255}));
  EXPECT_EQ(pane_.appended, 2);
}

TEST_F(System_Log_Test, FirstLineOfANewMonthStartsANewFile) {
  log_.Log_Message("last of March", 0);
  now_ = Local(2024, 4, 1, 0, 0, 1);
  log_.Log_Message("first of April", 0);
  const std::string march = Read_Bytes(folder_.File("dorvex_2024_03.log"));
  const std::string april = Read_Bytes(folder_.File("dorvex_2024_04.log"));
  EXPECT_EQ(march, Date_Text(Local(2024, 3, 31, 0, 0, 0)) + " 23:59:58  last of March\r\n");
  EXPECT_EQ(april, Date_Text(now_) + " 00:00:01  first of April\r\n");
  EXPECT_EQ(log_.Current_File(), folder_.File("dorvex_2024_04.log"));
  EXPECT_EQ(log_.File_For(Local(2031, 12, 5, 1, 2, 3)), folder_.File("dorvex_2031_12.log"));
}

TEST_F(System_Log_Test, UnwritableFileStillShowsTheLineSilently) {
  const std::string file = folder_.File("dorvex_2024_03.log");
  ASSERT_EQ(::mkdir(file.c_str(), 0755), 0);  // a path no process can open for writing
  log_.Log_Message("still shown", 255);
  ASSERT_EQ(pane_.lines.size(), 1u);
  EXPECT_EQ(pane_.appended, 0);

  // Without a pane the line is only lost from the file; nothing fails towards the caller.
  System_Log headless(folder_.Path(), [this] { return now_; });
  headless.Log_Message("no pane", 0);
  EXPECT_EQ(headless.Current_File(), file);
}

TEST_F(System_Log_Test, ClearEmptiesTheCurrentFileOnly) {
  EXPECT_FALSE(log_.Clear_Current_File());  // nothing logged yet in this run
  log_.Log_Message("March", 0);
  now_ = Local(2024, 4, 2, 8, 0, 0);
  log_.Log_Message("April one", 0);
  ASSERT_TRUE(log_.Clear_Current_File());
  EXPECT_EQ(File_Size(folder_.File("dorvex_2024_04.log")), 0);
  log_.Log_Message("April two", 0);
  EXPECT_EQ(Read_Bytes(folder_.File("dorvex_2024_04.log")),
            Date_Text(now_) + " 08:00:00  April two\r\n");
  EXPECT_NE(Read_Bytes(folder_.File("dorvex_2024_03.log")), "");
}

}  // namespace
