// Replacing a small file as a whole: the reader sees the old or the new bytes, and links planted
// beside or in place of the file are never written through.
#include "base/replace_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "support/temp_folder.h"

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TEST(Replace_File, WritesANewFileAndReplacesItWhole) {
  Temp_Folder folder;
  ASSERT_EQ(Replace_File(folder.Path(), "state", std::string(10000, 'a')), 0);
  ASSERT_EQ(Replace_File(folder.Path(), "state", "short"), 0);
  EXPECT_EQ(Read(folder.File("state")), "short");  // nothing of the longer content is left
  EXPECT_NE(::access(folder.File("state.new").c_str(), F_OK), 0);
  std::string bytes;
  EXPECT_EQ(Read_Small_File(folder.File("state"), bytes, 64), 0);
  EXPECT_EQ(bytes, "short");
  EXPECT_EQ(Read_Small_File(folder.File("state"), bytes, 4), EFBIG);
  EXPECT_EQ(Read_Small_File(folder.File("missing"), bytes, 64), ENOENT);
  EXPECT_EQ(Remove_File(folder.File("state")), 0);
  EXPECT_EQ(Remove_File(folder.File("state")), 0);  // already gone is no error
  EXPECT_NE(Replace_File(folder.File("no-such-folder/"), "state", "x"), 0);
}

TEST(Replace_File, LinksPlantedInTheFolderAreNeverWrittenThrough) {
  Temp_Folder folder, elsewhere;
  const std::string victim = elsewhere.File("victim");
  std::ofstream(victim) << "precious";
  // A link where the temporary file goes, and one in place of the file itself.
  ASSERT_EQ(::symlink(victim.c_str(), folder.File("state.new").c_str()), 0);
  ASSERT_EQ(::symlink(victim.c_str(), folder.File("state").c_str()), 0);
  std::string bytes;
  EXPECT_EQ(Read_Small_File(folder.File("state"), bytes, 64), ELOOP);  // read: not followed
  ASSERT_EQ(Replace_File(folder.Path(), "state", "fresh"), 0);
  EXPECT_EQ(Read(victim), "precious");
  EXPECT_EQ(Read(folder.File("state")), "fresh");  // the link itself was replaced
}

}  // namespace
