// The start-up both programs share: each data folder has its own single-instance lock, and a
// folder named on the command line is made private.
#include "app/startup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "support/qt_app.h"
#include "support/temp_folder.h"

namespace {

TEST(Data_Folder_Claim, TheLockBelongsToTheFolder) {
  Test_Core_App();
  Temp_Folder root;
  const std::string a = root.Path() + "receivers/a/", b = root.Path() + "receivers/b/";
  {
    Data_Folder_Claim first;
    ASSERT_EQ(first.Claim(a, root.Path()), Start_Refusal::None);
    EXPECT_EQ(first.Folder(), a);
    struct stat st {};
    ASSERT_EQ(::stat(a.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(Instance_Lock_Held(a));
    EXPECT_FALSE(Instance_Lock_Held(b));

    Data_Folder_Claim same, other;
    EXPECT_EQ(same.Claim(a, root.Path()), Start_Refusal::Already_Running);
    EXPECT_EQ(other.Claim(b, root.Path()), Start_Refusal::None);
  }
  EXPECT_FALSE(Instance_Lock_Held(a));  // released with its claim
  Data_Folder_Claim again;
  EXPECT_EQ(again.Claim(a, root.Path()), Start_Refusal::None);

  // A path through a file cannot become a folder.
  std::FILE* plain = std::fopen((a + "plain").c_str(), "w");
  ASSERT_NE(plain, nullptr);
  std::fclose(plain);
  Data_Folder_Claim blocked;
  EXPECT_EQ(blocked.Claim(a + "plain/x", root.Path()), Start_Refusal::No_Data_Folder);
}

TEST(Data_Folder_Claim, OnlyALiveHolderIsAnotherReceiverAndEveryOtherFailureSaysWhy) {
  Test_Core_App();
  Temp_Folder root;
  const std::string a = root.Path() + "a/";
  ASSERT_TRUE(Make_Data_Folder(a));
  // A lock file left by a process that is gone, or by another host, whatever it holds, is no
  // receiver: only the kernel's lock counts.
  std::FILE* left = std::fopen((a + "Quenor.exe.lock").c_str(), "w");
  ASSERT_NE(left, nullptr);
  std::fprintf(left, "1\nquenor\nother-host\n");
  std::fclose(left);
  EXPECT_FALSE(Instance_Lock_Held(a));
  {
    Data_Folder_Claim claim;
    EXPECT_EQ(claim.Claim(a, root.Path()), Start_Refusal::None);
  }
  // A lock that cannot be made: the folder and the system's reason, never "already running".
  const std::string b = root.Path() + "b/";
  ASSERT_TRUE(Make_Data_Folder(b));
  ASSERT_EQ(::mkdir((b + "Quenor.exe.lock").c_str(), 0700), 0);
  Data_Folder_Claim blocked;
  EXPECT_EQ(blocked.Claim(b, root.Path()), Start_Refusal::Lock_Failed);
  EXPECT_NE(blocked.Error().find(b), std::string::npos) << blocked.Error();
  EXPECT_NE(blocked.Error().find("Is a directory"), std::string::npos) << blocked.Error();
  // A link planted as the lock file is not followed.
  const std::string c = root.Path() + "c/";
  ASSERT_TRUE(Make_Data_Folder(c));
  ASSERT_EQ(::symlink((root.Path() + "elsewhere").c_str(), (c + "Quenor.exe.lock").c_str()), 0);
  Data_Folder_Claim linked;
  EXPECT_EQ(linked.Claim(c, root.Path()), Start_Refusal::Lock_Failed);
  EXPECT_NE(::access((root.Path() + "elsewhere").c_str(), F_OK), 0);
}

}  // namespace
