#include "base/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "base/raw_file.h"
#include "store/test_files.h"
#include "support/temp_folder.h"

namespace {

// The 32-bit fields of the packed record are compared by value (int32_t{...}): a reference to
// a field at an odd offset would be misaligned.

std::string Record_Bytes(const Settings_Record& r) {
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

class Settings_Test : public ::testing::Test {
 protected:
  Temp_Folder folder_;
  std::string path_ = folder_.File(SETTINGS_FILE_NAME);
  Settings_Record record_{};
};

TEST_F(Settings_Test, FirstStartCreatesTheDefaultFile) {
  Settings_Load(record_, path_);
  const std::string file = Read_Bytes(path_);
  ASSERT_EQ(file.size(), 256u);
  EXPECT_EQ(file, Record_Bytes(Settings_Defaults()));
  EXPECT_EQ(file.substr(96, 4), std::string("\x42\x06\x00\x00", 4));
  EXPECT_EQ(int32_t{record_.DC9_Port}, 7777);
  EXPECT_EQ(int32_t{record_.DC9_Conn_Timeout}, 30);
  EXPECT_EQ(record_.Out_TCP_Server, 1);
  EXPECT_EQ(int32_t{record_.Out_Port}, 9999);
  EXPECT_EQ(record_.HB_Receiver_Nr, 1);
  EXPECT_STREQ(record_.Out_IP, "127.0.0.1");
  EXPECT_EQ(int32_t{record_.COM_Baud}, 9600);
  EXPECT_EQ(int32_t{record_.HB_Period}, 30);
  // Everything else of the default record is zero.
  Settings_Record rest = record_;
  rest.DC9_Port = 0;
  rest.DC9_Conn_Timeout = 0;
  rest.Out_Port = 0;
  rest.COM_Baud = 0;
  rest.HB_Period = 0;
  rest.Cfg_Stamp = 0;
  rest.Out_TCP_Server = 0;
  rest.HB_Receiver_Nr = 0;
  std::memset(rest.Out_IP, 0, sizeof rest.Out_IP);
  EXPECT_TRUE(All_Zero(Record_Bytes(rest)));
  EXPECT_FALSE(Settings_Differ_From_File(record_, path_));
}

TEST_F(Settings_Test, ShortOldFileIsStampedAndGrownTo256Bytes) {
  std::string old(100, '\0');
  const int32_t port = 1234;
  std::memcpy(&old[1], &port, 4);
  Write_Bytes(path_, old);

  Settings_Load(record_, path_);
  EXPECT_EQ(int32_t{record_.DC9_Port}, 1234);
  EXPECT_EQ(int32_t{record_.Cfg_Stamp}, 1602);
  EXPECT_EQ(int32_t{record_.COM_Baud}, 0);  // the old file did not hold it; no default is applied
  const std::string file = Read_Bytes(path_);
  ASSERT_EQ(file.size(), 256u);
  EXPECT_EQ(file, Record_Bytes(record_));
  EXPECT_TRUE(All_Zero(file.substr(100)));
}

TEST_F(Settings_Test, BytesAfterTheRecordAreKeptAndIgnored) {
  std::string bytes = Record_Bytes(Settings_Defaults()) + std::string(44, '\x5A');
  Write_Bytes(path_, bytes);
  Settings_Load(record_, path_);
  EXPECT_EQ(Read_Bytes(path_), bytes);  // a stamped file is not rewritten
  EXPECT_FALSE(Settings_Differ_From_File(record_, path_));

  record_.Time_Synch = 1;
  EXPECT_TRUE(Settings_Differ_From_File(record_, path_));
  ASSERT_TRUE(Settings_Save(record_, path_));
  EXPECT_FALSE(Settings_Differ_From_File(record_, path_));
  const std::string file = Read_Bytes(path_);
  ASSERT_EQ(file.size(), 300u);
  EXPECT_EQ(file.substr(0, 256), Record_Bytes(record_));
  EXPECT_EQ(file.substr(256), std::string(44, '\x5A'));
}

TEST_F(Settings_Test, ComparisonFollowsChangesAndTheirUndoing) {
  Settings_Load(record_, path_);
  record_.DC9_Port = 7778;
  EXPECT_TRUE(Settings_Differ_From_File(record_, path_));
  record_.DC9_Port = 7777;
  EXPECT_FALSE(Settings_Differ_From_File(record_, path_));
  record_.Reserved_115[140] = 1;  // reserved bytes take part in the comparison
  EXPECT_TRUE(Settings_Differ_From_File(record_, path_));
}

TEST_F(Settings_Test, SaveNeverRecreatesADeletedFile) {
  Settings_Load(record_, path_);
  ASSERT_EQ(::unlink(path_.c_str()), 0);
  record_.HB_Period = 60;
  EXPECT_FALSE(Settings_Save(record_, path_));
  EXPECT_EQ(File_Size(path_), -1);
  EXPECT_TRUE(Settings_Differ_From_File(record_, path_));
}

TEST_F(Settings_Test, UnopenableFileLeavesEveryFieldZeroAndWritesNothing) {
  ASSERT_EQ(::mkdir(path_.c_str(), 0755), 0);  // exists, but cannot be opened as a file
  record_.DC9_Port = 5;
  Settings_Load(record_, path_);
  EXPECT_TRUE(All_Zero(Record_Bytes(record_)));
  struct stat st;
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(Settings_Key_Length, FollowsTheAesModeWithSixteenForOffAndUnknownModes) {
  const struct {
    int8_t Mode;
    int Length;
  } cases[] = {{0, 16}, {1, 16}, {2, 24}, {3, 32}, {4, 16}, {-1, 16}};
  for (const auto& c : cases) EXPECT_EQ(DC9_Key_Length(c.Mode), c.Length) << int(c.Mode);
}

}  // namespace

namespace {

unsigned Mode_Of(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

// The file holds the AES key: whoever writes it leaves it readable by its owner alone.
TEST_F(Settings_Test, TheFileIsPrivateWhereverItIsWritten) {
  Settings_Load(record_, path_);
  EXPECT_EQ(Mode_Of(path_), 0600u);

  ::chmod(path_.c_str(), 0644);  // as an earlier version left it
  ASSERT_TRUE(Settings_Save(record_, path_));
  EXPECT_EQ(Mode_Of(path_), 0600u);

  const std::string created = folder_.File("created.cfg");
  ASSERT_TRUE(Settings_Create(Settings_Defaults(), created));
  EXPECT_EQ(Mode_Of(created), 0600u);
  EXPECT_FALSE(Settings_Create(Settings_Defaults(), created));  // never over an existing file
}

TEST_F(Settings_Test, ReadingTouchesNoFile) {
  Settings_Record read{};
  ASSERT_TRUE(Settings_Read(read, path_));
  EXPECT_EQ(Record_Bytes(read), Record_Bytes(Settings_Defaults()));
  EXPECT_FALSE(File_Exists(path_));

  // An old file without the stamp reads as stamped, but stays as it was.
  Settings_Record old = Settings_Defaults();
  old.Cfg_Stamp = 0;
  old.DC9_Port = 7001;
  Write_Bytes(path_, Record_Bytes(old).substr(0, 100));
  ASSERT_TRUE(Settings_Read(read, path_));
  EXPECT_EQ(int32_t{read.DC9_Port}, 7001);
  EXPECT_EQ(int32_t{read.Cfg_Stamp}, CFG_STAMP);
  EXPECT_EQ(Read_Bytes(path_).size(), 100u);
}

}  // namespace
