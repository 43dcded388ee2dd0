// Data log lines show every byte that is not printable ASCII as <XX>.
#include <gtest/gtest.h>

#include <string>

#include "base/data_log_text.h"

TEST(Data_Log_Text, Unprintable_Bytes_Become_Hexadecimal) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"plain text ~!", "plain text ~!"},
      {"\n\"SIA-DCS\"0001R1L0#1234[#1234|1401 01 015]\r",
       "<0A>\"SIA-DCS\"0001R1L0#1234[#1234|1401 01 015]<0D>"},
      {std::string("a\0b", 3), "a<00>b"},
      {"\x7F\x80\xFF\x1F", "<7F><80><FF><1F>"},
      {"\t", "<09>"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(Data_Log_Printable(bytes), text);
}
