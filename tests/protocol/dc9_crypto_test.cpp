#include "protocol/dc9_crypto.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol/dc9_test_support.h"

namespace {

const std::string Cid_Data = "#1234|1401 01 001]_12:30:00,07-15-2024";

std::string Encrypted_Cid(int mode, const uint8_t* key, uint32_t sequence = 9) {
  char header[32];
  std::snprintf(header, sizeof header, "\"*ADM-CID\"%04uR1L1#1234[", sequence);
  return Frame_Of(header + Encrypt_DC9_Data(mode, key, Cid_Data, {}));
}

class Dc9Crypto : public testing::Test {
 protected:
  void SetUp() override { Use_Vilnius_Zone(); }
};

TEST_F(Dc9Crypto, PadMakesWholeBlocks) {
  struct Case {
    std::size_t Data;
    std::size_t Hex;
  };
  // '|' and the data, padded by 1..16 bytes to whole blocks.
  const Case cases[] = {{0, 32}, {14, 32}, {15, 64}, {21, 64}, {30, 64}, {31, 96}, {38, 96}};
  for (const Case& c : cases) {
    EXPECT_EQ(Encrypt_DC9_Data(3, Test_Key(), std::string(c.Data, 'x'), {}).size(), c.Hex)
        << c.Data;
  }
}

// Three blocks: pad, '|', account, Contact ID and time stamp; the parser finds the account
// right after the '|'.
TEST_F(Dc9Crypto, EncryptedContactIdIsAccepted) {
  for (int mode = 1; mode <= 3; ++mode) {
    SCOPED_TRACE(mode);
    const std::string frame = Encrypted_Cid(mode, Test_Key());
    ASSERT_EQ(frame.size(), 9u + 24 + 96 + 1);
    const Parsed p = Parse(frame, {mode, Test_Key()});
    EXPECT_EQ(p.Result, PARSE_ENCRYPTED);
    EXPECT_EQ(p.Sequence, 9u);
    EXPECT_EQ(Field_Text(p.Record.Account_Nr), "1234");
    EXPECT_EQ(Field_Text(p.Record.Event_Code), "1401");
    EXPECT_EQ(Field_Text(p.Record.Group_Nr), "01");
    EXPECT_EQ(Field_Text(p.Record.Zone_Nr), "001");
    EXPECT_EQ(p.Record.Time_Received, 1721039400);
  }
}

TEST_F(Dc9Crypto, EncryptedLinkTestIsAccepted) {
  const std::string frame =
      Frame_Of("\"*NULL\"0002R1L1#1234[" + Encrypt_DC9_Data(1, Test_Key(), "]", {}));
  const Parsed p = Parse(frame, {1, Test_Key()});
  EXPECT_EQ(p.Result, PARSE_ENCRYPTED);
  EXPECT_EQ(Field_Text(p.Record.Event_Code), "NULL");
}

TEST_F(Dc9Crypto, WrongKeyOrModeIsRefused) {
  uint8_t other_key[32];
  std::memcpy(other_key, Test_Key(), 32);
  other_key[5] ^= 0x40;
  const std::string frame = Encrypted_Cid(3, Test_Key());
  struct Case {
    const char* Name;
    Dc9_Aes_Config Aes;
  };
  const Case cases[] = {
      {"another key", {3, other_key}},
      {"AES-128 receiver for an AES-256 message", {1, Test_Key()}},
      {"encryption off", {0, Test_Key()}},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(frame, c.Aes);
    EXPECT_EQ(p.Result, PARSE_REFUSED) << c.Name;
    EXPECT_EQ(p.Sequence, 9u) << c.Name;  // the answer still echoes it
  }
}

// While encryption is off the text is not even decoded: no chaining runs over it.
TEST_F(Dc9Crypto, EncryptionOffLeavesTextUntouched) {
  std::string text = Encrypt_DC9_Data(2, Test_Key(), Cid_Data, {});
  const std::string before = text;
  EXPECT_EQ(Decrypt_DC9_Data(0, Test_Key(), text.data(), text.size()), nullptr);
  EXPECT_EQ(text, before);
}

TEST_F(Dc9Crypto, PlainTextWithoutBarIsRefused) {
  Aes_Key_Schedule schedule;
  ASSERT_TRUE(Aes_Key_Expansion(Test_Key(), 32, schedule));
  uint8_t plain[32];
  std::memset(plain, 'A', sizeof plain);
  const uint8_t zero[16] = {};
  Cbc_Encrypt(schedule, zero, plain, sizeof plain);
  std::string hex;
  for (uint8_t b : plain) {
    char two[3];
    std::snprintf(two, sizeof two, "%02X", b);
    hex += two;
  }
  const Parsed p = Parse(Frame_Of("\"*ADM-CID\"0001R1L1#1234[" + hex), {3, Test_Key()});
  EXPECT_EQ(p.Result, PARSE_REFUSED);
}

// An odd last digit is dropped and a short last block stays as it came: the pad and the data in
// the first whole blocks still decrypt.
TEST_F(Dc9Crypto, OddLengthAndShortTail) {
  std::string text = Encrypt_DC9_Data(3, Test_Key(), "#77]", {}) + "414";
  const std::size_t length = text.size();
  const char* data = Decrypt_DC9_Data(3, Test_Key(), text.data(), length);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::string(data), "#77]A");
  EXPECT_EQ(text[length / 2], '\0');
}

TEST_F(Dc9Crypto, PadBytesComeFromTheSource) {
  // A source whose values reduce to 0 and 63 modulo 64 gives the extreme pad bytes 16 and 79.
  uint32_t calls = 0;
  std::string text =
      Encrypt_DC9_Data(1, Test_Key(), "abc", [&] { return (calls++ % 2) ? 127u : 64u; });
  char* data = Decrypt_DC9_Data(1, Test_Key(), text.data(), text.size());
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(calls, 12u);
  EXPECT_EQ(std::string(data), "abc");
  EXPECT_EQ(static_cast<uint8_t>(text[0]), 16);
  EXPECT_EQ(static_cast<uint8_t>(text[1]), 79);
}

}  // namespace
