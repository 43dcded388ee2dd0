// The settings as "Name=value" text: every value the pages' rules allow is stored where the
// receiver reads it, every value they refuse is named and changes nothing.
#include "app/settings_text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string Bytes(const Settings_Record& r) {
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

TEST(Settings_Text, TheLinesNameEveryFieldAndReadBackToTheSameRecord) {
  Settings_Record r = Settings_Defaults();
  r.DC9_AES_Mode = 2;
  for (int i = 0; i < 24; ++i) r.DC9_AES_Key[i] = static_cast<uint8_t>(0xA0 + i);
  std::strcpy(r.COM_Name, "COM12");
  r.HB_Receiver_Nr = 9;
  const std::vector<std::string> lines = Settings_Lines(r);
  ASSERT_EQ(lines.size(), Settings_Names().size());
  EXPECT_EQ(lines[0], "DC9_Port_Enable=0");
  EXPECT_EQ(lines[1], "DC9_Port=7777");
  EXPECT_EQ(lines[3], "DC9_AES_Key=a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7");
  EXPECT_EQ(lines[8], "COM_Name=COM12");

  Settings_Record back = Settings_Defaults();
  EXPECT_TRUE(Apply_Settings(back, lines).empty());
  EXPECT_EQ(Bytes(back), Bytes(r));
}

TEST(Settings_Text, AKeyIsShownAtTheLengthOfItsMode) {
  Settings_Record r = Settings_Defaults();
  std::memset(r.DC9_AES_Key, 0x11, sizeof r.DC9_AES_Key);
  struct Row {
    int8_t mode;
    std::size_t hex_digits;
  } rows[] = {{1, 32}, {2, 48}, {3, 64}, {0, 64}};
  for (const Row& row : rows) {
    r.DC9_AES_Mode = row.mode;
    EXPECT_EQ(Settings_Lines(r)[3].size(), std::string("DC9_AES_Key=").size() + row.hex_digits);
  }
  std::memset(r.DC9_AES_Key + 4, 0, sizeof r.DC9_AES_Key - 4);
  EXPECT_EQ(Settings_Lines(r)[3], "DC9_AES_Key=11111111");  // off: the non-zero bytes
}

TEST(Settings_Text, AcceptedValuesLandInTheirFields) {
  Settings_Record r = Settings_Defaults();
  ASSERT_TRUE(Apply_Settings(r, {"DC9_Port= 65535", "Out_Port=1", "COM_Baud=1200", "COM_Name=COM64",
                                 "Report_Format=SG MLR2000", "HB_Period=999", "HB_Receiver_Nr=99",
                                 "Out_IP=192.168.10.200", "Out_Mode=2", "DC9_AES_Mode=1",
                                 "DC9_AES_Key=000102030405060708090A0B0C0D0E0F", "DC9_UDP_Enable=1",
                                 "DC9_Repeat_Window=60"})
                  .empty());
  EXPECT_EQ(r.DC9_UDP_Enable, 1);
  EXPECT_EQ(r.DC9_Repeat_Window, 60);
  EXPECT_EQ(int32_t{r.DC9_Port}, 65535);
  EXPECT_EQ(int32_t{r.Out_Port}, 1);
  EXPECT_EQ(int32_t{r.COM_Baud}, 1200);
  EXPECT_STREQ(r.COM_Name, "COM64");
  EXPECT_EQ(r.Report_Format, 1);
  EXPECT_EQ(int32_t{r.HB_Period}, 999);
  EXPECT_EQ(r.HB_Receiver_Nr, 99);
  EXPECT_STREQ(r.Out_IP, "192.168.10.200");
  EXPECT_EQ(r.Out_Mode, 2);
  EXPECT_EQ(r.DC9_AES_Key[15], 0x0F);
  EXPECT_EQ(r.DC9_AES_Key[16], 0);

  // The empty COM name (the first port found) and a whole key entered with encryption off.
  ASSERT_TRUE(Apply_Settings(r, {"COM_Name=", "DC9_AES_Mode=0",
                                 "DC9_AES_Key=abcd0102030405060708090a0b0c0d0e0f10111213141516"})
                  .empty());
  EXPECT_STREQ(r.COM_Name, "");
  EXPECT_EQ(r.DC9_AES_Key[0], 0xAB);
  EXPECT_EQ(r.DC9_AES_Key[24], 0);
  // That stored key turns on the mode of its length, and no other.
  Settings_Record on = r;
  EXPECT_TRUE(Apply_Settings(on, {"DC9_AES_Mode=2"}).empty());
  EXPECT_FALSE(Apply_Settings(on, {"DC9_AES_Mode=1"}).empty());
  EXPECT_FALSE(Apply_Settings(on, {"DC9_AES_Mode=3"}).empty());
}

TEST(Settings_Text, RefusedValuesAreNamedAndChangeNothing) {
  struct Row {
    std::vector<std::string> assignments;
    std::string named;
  } rows[] = {
      {{"DC9_Port=70000"}, "DC9_Port: '70000'"},
      {{"DC9_Port=0"}, "DC9_Port: '0'"},
      {{"Out_Port=x"}, "Out_Port: 'x'"},
      {{"DC9_AES_Mode=4"}, "DC9_AES_Mode: '4'"},
      {{"DC9_AES_Mode=3", "DC9_AES_Key=0123456789"}, "DC9_AES_Key: 5 bytes"},
      // The key is checked against the mode in force after all assignments.
      {{"DC9_AES_Key=000102030405060708090a0b0c0d0e0f", "DC9_AES_Mode=2"}, "DC9_AES_Key: 16"},
      {{"DC9_AES_Key=0g"}, "DC9_AES_Key: 2 characters"},
      {{"COM_Baud=9601"}, "COM_Baud: '9601'"},
      {{"COM_Name=COM0"}, "COM_Name: 'COM0'"},
      {{"COM_Name=ttyS0"}, "COM_Name: 'ttyS0'"},
      {{"Report_Format=-1"}, "Report_Format: '-1'"},
      {{"Out_IP=1.2.3.4.5"}, "Out_IP: '1.2.3.4.5'"},
      {{"Out_IP=example.org"}, "Out_IP: 'example.org'"},
      {{"Out_IP=10.1.2"}, "Out_IP: '10.1.2'"},
      {{"Out_IP=1.2.3.256"}, "Out_IP: '1.2.3.256'"},
      {{"Out_IP=1.2.3."}, "Out_IP: '1.2.3.'"},
      {{"Out_IP=010.1.1.1"}, "Out_IP: '010.1.1.1'"},
      {{"HB_Receiver_Nr=200"}, "HB_Receiver_Nr: '200'"},
      {{"Time_Synch=2"}, "Time_Synch: '2'"},
      {{"DC9_UDP_Enable=2"}, "DC9_UDP_Enable: '2'"},
      {{"DC9_Repeat_Window=61"}, "DC9_Repeat_Window: '61'"},
      {{"DC9_Repeat_Window=-1"}, "DC9_Repeat_Window: '-1'"},
      {{"Cfg_Stamp=1"}, "Unknown setting 'Cfg_Stamp'"},
      {{"DC9_Port"}, "'DC9_Port' is no Name=value"},
      // Encryption never runs with a missing or zero-padded key.
      {{"DC9_AES_Mode=1"}, "DC9_AES_Mode: AES mode 1 needs a key of 16 bytes"},
      {{"DC9_AES_Mode=3"}, "DC9_AES_Mode: AES mode 3 needs a key of 32 bytes"},
      {{"DC9_AES_Key=0102030405060708"}, "DC9_AES_Key: 8 bytes (expected a key of 16, 24 or 32"},
      // One port for two listeners.
      {{"DC9_Port=9999"}, "DC9_Port and Out_Port: both 9999"},
      {{"Out_Port=7777"}, "DC9_Port and Out_Port: both 7777"},
      // Text echoed to a terminal is escaped.
      {{"Out_IP=\x1b]0;x\x07"}, "Out_IP: '\\x1b]0;x\\x07'"},
  };
  for (const Row& row : rows) {
    Settings_Record r = Settings_Defaults();
    const auto errors = Apply_Settings(r, row.assignments);
    ASSERT_EQ(errors.size(), 1u) << row.named;
    EXPECT_NE(errors[0].find(row.named), std::string::npos) << errors[0];
    EXPECT_EQ(Bytes(r), Bytes(Settings_Defaults())) << row.named;
  }

  // Every bad assignment is named, not only the first; the key's digits are never echoed.
  Settings_Record r = Settings_Defaults();
  const auto errors =
      Apply_Settings(r, {"DC9_Port=1", "Bogus=1", "COM_Baud=7", "DC9_AES_Key=secretXY"});
  EXPECT_EQ(errors.size(), 3u);
  for (const std::string& e : errors) EXPECT_EQ(e.find("secret"), std::string::npos) << e;
  EXPECT_EQ(int32_t{r.DC9_Port}, 7777);
}

TEST(Settings_Text, ControlCharactersAndBytesThatAreNoTextAreEscaped) {
  struct Row {
    std::string text, shown;
  } rows[] = {
      {"COM7", "COM7"},
      {"\x1b[2J", "\\x1b[2J"},
      {"a\rb\nc\x7f", "a\\x0db\\x0ac\\x7f"},
      {"back\\slash", "back\\x5cslash"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},  // UTF-8 stands
      {"\xc2\x9b"
       "31m",
       "\\xc2\\x9b"
       "31m"},                       // the C1 control CSI
      {"\xff\xe9x", "\\xff\\xe9x"},  // no UTF-8
  };
  for (const Row& row : rows) EXPECT_EQ(Printable_Text(row.text), row.shown) << row.shown;

  Settings_Record r = Settings_Defaults();
  std::memcpy(r.COM_Name, "\x1b[0m", 5);
  std::memcpy(r.Out_IP, "1.2.3.4\x1b", 9);
  const auto lines = Settings_Lines(r);
  EXPECT_EQ(lines[7], "Out_IP=1.2.3.4\\x1b");
  EXPECT_EQ(lines[8], "COM_Name=\\x1b[0m");
}

}  // namespace
