// Bad input is safe: every prefix and every single-byte change of valid frames, each parsed from
// an exactly sized heap buffer (AddressSanitizer reports any access outside it).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/dc9_crypto.h"
#include "protocol/dc9_test_support.h"

namespace {

const Dc9_Aes_Config Aes256{3, Test_Key()};

// Bodies of valid frames: plain, encrypted, with extended data and a time stamp.
std::vector<std::string> Valid_Bodies() {
  return {
      "\"ADM-CID\"0001R1L1#1234[#1234|1401 01 001]",
      "\"ADM-CID\"0002R12L3#A1B2[#A1B2|3130 02 017][Q25][B10.1.2.3]_23:59:59,12-31-2024",
      "\"NULL\"0000R0L0#1234[]_12:30:00,07-15-2024",
      "\"*ADM-CID\"0003R1L1#1234[" +
          Encrypt_DC9_Data(3, Test_Key(), "#1234|1401 01 001][Q7]_12:30:00,07-15-2024", {}),
      "\"*NULL\"0004R1L1#1234[" + Encrypt_DC9_Data(3, Test_Key(), "]_01:02:03,01-02-2024", {}),
  };
}

bool Texts_Terminated(const Event_Record& r) {
  return Field_Text(r.Receiver_Nr).size() < sizeof r.Receiver_Nr &&
         Field_Text(r.Line_Nr).size() < sizeof r.Line_Nr &&
         Field_Text(r.Account_Nr).size() < sizeof r.Account_Nr &&
         Field_Text(r.Event_Code).size() < sizeof r.Event_Code &&
         Field_Text(r.Group_Nr).size() < sizeof r.Group_Nr &&
         Field_Text(r.Zone_Nr).size() < sizeof r.Zone_Nr;
}

bool Known_Result(Parse_Result r) {
  return r == PARSE_UNRECOGNISED || r == PARSE_PLAIN || r == PARSE_ENCRYPTED || r == PARSE_REFUSED;
}

class Dc9Robustness : public testing::Test {
 protected:
  void SetUp() override { Use_Vilnius_Zone(); }
};

TEST_F(Dc9Robustness, ValidFramesAreAccepted) {
  for (const std::string& body : Valid_Bodies()) {
    const Parse_Result expected = body[1] == '*' ? PARSE_ENCRYPTED : PARSE_PLAIN;
    EXPECT_EQ(Parse(Frame_Of(body), Aes256).Result, expected) << body;
  }
}

// A read that stops anywhere before the CR holds no frame.
TEST_F(Dc9Robustness, EveryPrefixIsUnrecognised) {
  for (const std::string& body : Valid_Bodies()) {
    const std::string frame = Frame_Of(body);
    for (std::size_t n = 0; n < frame.size(); ++n) {
      ASSERT_EQ(Parse(std::string_view(frame).substr(0, n), Aes256).Result, PARSE_UNRECOGNISED)
          << body << " cut at " << n;
    }
  }
}

// The CRC finds every change of one byte in the frame, whatever the byte becomes.
TEST_F(Dc9Robustness, EverySingleByteChangeIsUnrecognised) {
  const unsigned char values[] = {0x00, '\n', '\r', '"', '[', ']', '|', '_', '#', '0', 'F', 0xFF};
  for (const std::string& body : Valid_Bodies()) {
    const std::string frame = Frame_Of(body);
    for (std::size_t i = 0; i < frame.size(); ++i) {
      std::vector<std::string> changed;
      for (int bit = 0; bit < 8; ++bit) {
        changed.push_back(frame);
        changed.back()[i] = static_cast<char>(frame[i] ^ (1 << bit));
      }
      for (unsigned char v : values) {
        if (static_cast<unsigned char>(frame[i]) == v) continue;
        changed.push_back(frame);
        changed.back()[i] = static_cast<char>(v);
      }
      for (const std::string& bad : changed) {
        const Parsed p = Parse(bad, Aes256);
        // A new LF in front of the frame's own cannot start a frame; at the frame's LF the frame
        // is gone. The only way to stay recognised would be a matching CRC.
        ASSERT_EQ(p.Result, PARSE_UNRECOGNISED) << body << " byte " << i;
      }
    }
  }
}

// The same changes with the CRC and length made right again reach every later check: whatever
// the result, the fields stay terminated and nothing outside the buffer is touched.
TEST_F(Dc9Robustness, ReframedChangesAndCutsStaySafe) {
  const unsigned char values[] = {0x00, '\r', '"', '[', ']', '|', '_', '#', ':',  ',',
                                  '-',  ' ',  'R', 'L', '0', '9', 'A', 'f', 0x80, 0xFF};
  int accepted = 0;
  for (const std::string& body : Valid_Bodies()) {
    for (std::size_t i = 0; i < body.size(); ++i) {
      for (unsigned char v : values) {
        std::string bad = body;
        bad[i] = static_cast<char>(v);
        const Parsed p = Parse(Frame_Of(bad), Aes256);
        ASSERT_TRUE(Known_Result(p.Result));
        ASSERT_TRUE(Texts_Terminated(p.Record)) << bad;
        ASSERT_LE(p.Sequence, 9999u);
        if (p.Result == PARSE_PLAIN || p.Result == PARSE_ENCRYPTED) ++accepted;
      }
      // The message cut after i bytes, framed correctly.
      const Parsed cut = Parse(Frame_Of(body.substr(0, i)), Aes256);
      ASSERT_TRUE(Known_Result(cut.Result));
      ASSERT_TRUE(Texts_Terminated(cut.Record));
    }
  }
  EXPECT_GT(accepted, 0);  // the changes do reach the accepting paths
}

}  // namespace
