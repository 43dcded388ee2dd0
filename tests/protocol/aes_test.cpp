#include "protocol/aes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/dc9_crypto.h"

namespace {

std::vector<uint8_t> From_Hex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string To_Hex(const uint8_t* data, std::size_t n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (std::size_t i = 0; i < n; ++i) {
    hex += digits[data[i] >> 4];
    hex += digits[data[i] & 15];
  }
  return hex;
}

// FIPS-197 Appendix C: the same plain text under 128-, 192- and 256-bit keys 00 01 02 ...
TEST(Aes, Fips197AppendixC) {
  struct Case {
    std::size_t Key_Bytes;
    int Rounds;
    std::string Cipher;
  };
  const Case cases[] = {
      {16, 10, "69C4E0D86A7B0430D8CDB78070B4C55A"},
      {24, 12, "DDA97CA4864CDFE06EAF70A0EC0D7191"},
      {32, 14, "8EA2B7CA516745BFEAFC49904B496089"},
  };
  const std::vector<uint8_t> plain = From_Hex("00112233445566778899AABBCCDDEEFF");
  std::vector<uint8_t> key(32);
  for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(i);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Key_Bytes);
    Aes_Key_Schedule schedule;
    ASSERT_TRUE(Aes_Key_Expansion(key.data(), c.Key_Bytes, schedule));
    EXPECT_EQ(schedule.Rounds, c.Rounds);
    uint8_t block[16];
    Aes_Cipher(schedule, plain.data(), block);
    EXPECT_EQ(To_Hex(block, 16), c.Cipher);
    Aes_Inv_Cipher(schedule, block, block);  // in place
    EXPECT_EQ(To_Hex(block, 16), To_Hex(plain.data(), 16));
  }
}

// The last round key of FIPS-197 Appendix A.1 (AES-128 key 2B7E1516...).
TEST(Aes, KeyExpansionMatchesAppendixA) {
  const std::vector<uint8_t> key = From_Hex("2B7E151628AED2A6ABF7158809CF4F3C");
  Aes_Key_Schedule schedule;
  ASSERT_TRUE(Aes_Key_Expansion(key.data(), 16, schedule));
  EXPECT_EQ(schedule.Enc[40], 0xD014F9A8u);
  EXPECT_EQ(schedule.Enc[43], 0xB6630CA6u);
}

TEST(Aes, RejectsOtherKeySizes) {
  uint8_t key[32] = {};
  Aes_Key_Schedule schedule;
  for (std::size_t size : {0, 8, 15, 17, 20, 31, 33}) {
    EXPECT_FALSE(Aes_Key_Expansion(key, size, schedule)) << size;
    EXPECT_EQ(schedule.Rounds, 0);
  }
}

// NIST SP 800-38A F.2.1-F.2.6: four blocks in CBC mode, through the chaining the DC-09
// operations use.
struct Cbc_Case {
  const char* Name;
  std::string Key;
  std::string Cipher;
};

const std::string Cbc_Iv = "000102030405060708090A0B0C0D0E0F";
const std::string Cbc_Plain =
    "6BC1BEE22E409F96E93D7E117393172AAE2D8A571E03AC9C9EB76FAC45AF8E51"
    "30C81C46A35CE411E5FBC1191A0A52EFF69F2445DF4F9B17AD2B417BE66C3710";

const Cbc_Case Cbc_Cases[] = {
    {"CBC-AES128", "2B7E151628AED2A6ABF7158809CF4F3C",
     "7649ABAC8119B246CEE98E9B12E9197D5086CB9B507219EE95DB113A917678B2"
     "73BED6B8E3C1743B7116E69E222295163FF1CAA1681FAC09120ECA307586E1A7"},
    {"CBC-AES192", "8E73B0F7DA0E6452C810F32B809079E562F8EAD2522C6B7B",
     "4F021DB243BC633D7178183A9FA071E8B4D9ADA9AD7DEDF4E5E738763F69145A"
     "571B242012FB7AE07FA9BAAC3DF102E008B0E27988598881D920A9E64F5615CD"},
    {"CBC-AES256", "603DEB1015CA71BE2B73AEF0857D77811F352C073B6108D72D9810A30914DFF4",
     "F58C4C04D6E5F1BA779EABFB5F7BFBD69CFC4E967EDB808D679F777BC6702C7D"
     "39F23369A9D9BACFA530E26304231461B2EB05E2C39BE9FCDA6C19078C6A9D1B"},
};

TEST(AesCbc, Sp800_38aEncryptAndDecrypt) {
  const std::vector<uint8_t> iv = From_Hex(Cbc_Iv);
  for (const Cbc_Case& c : Cbc_Cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<uint8_t> key = From_Hex(c.Key);
    Aes_Key_Schedule schedule;
    ASSERT_TRUE(Aes_Key_Expansion(key.data(), key.size(), schedule));
    std::vector<uint8_t> data = From_Hex(Cbc_Plain);
    Cbc_Encrypt(schedule, iv.data(), data.data(), data.size());
    EXPECT_EQ(To_Hex(data.data(), data.size()), c.Cipher);
    Cbc_Decrypt(schedule, iv.data(), data.data(), data.size());
    EXPECT_EQ(To_Hex(data.data(), data.size()), Cbc_Plain);
  }
}

// Decrypt_DC9_Data chains from a zero vector; placing the vector's block in front of the cipher
// text makes the four blocks after it decrypt exactly as with that vector.
TEST(AesCbc, Sp800_38aThroughDc9Decryption) {
  for (int mode = 1; mode <= 3; ++mode) {
    const Cbc_Case& c = Cbc_Cases[mode - 1];
    SCOPED_TRACE(c.Name);
    std::vector<uint8_t> key = From_Hex(c.Key);
    key.resize(32, 0);
    std::string text = Cbc_Iv + c.Cipher;
    const std::size_t length = text.size();
    Decrypt_DC9_Data(mode, key.data(), text.data(), length);
    EXPECT_EQ(text[length / 2], '\0');
    EXPECT_EQ(To_Hex(reinterpret_cast<const uint8_t*>(text.data()) + 16, 64), Cbc_Plain);
  }
}

}  // namespace
