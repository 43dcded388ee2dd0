#include "protocol/dc9_response.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol/dc9_test_support.h"

namespace {

// 10:30:00 UTC on 15 July 2024.
constexpr int64_t Now = 1721039400;

std::string Answer(const std::string& frame, bool time_synch, const Dc9_Aes_Config& aes = {}) {
  Parsed p = Parse(frame, aes);
  EXPECT_NE(p.Result, PARSE_UNRECOGNISED);
  const Response_Kind kind = Choose_Response_Kind(p.Result, time_synch, aes.Mode);
  return Build_DC9_Response(kind, p.Sequence, p.Record, aes, Now, {});
}

// Checks the frame around a body: LF, CRC of the body, length "00" + 2 digits, CR.
void Expect_Well_Framed(const std::string& frame) {
  ASSERT_GE(frame.size(), 10u);
  EXPECT_EQ(frame.front(), '\n');
  EXPECT_EQ(frame.back(), '\r');
  const std::string body = frame.substr(9, frame.size() - 10);
  char header[16];
  std::snprintf(header, sizeof header, "%04X00%02X", Crc16_Arc(body.data(), body.size()),
                static_cast<unsigned>(body.size()));
  EXPECT_EQ(frame.substr(1, 8), header) << frame;
}

class Dc9Response : public testing::Test {
 protected:
  void SetUp() override { Use_Vilnius_Zone(); }
};

TEST_F(Dc9Response, ChoiceOfKind) {
  struct Case {
    Parse_Result Result;
    bool Time_Synch;
    int Aes_Mode;
    Response_Kind Kind;
  };
  const Case cases[] = {
      {PARSE_PLAIN, false, 0, RESPONSE_ACK},         {PARSE_PLAIN, true, 0, RESPONSE_ACK},
      {PARSE_PLAIN, false, 3, RESPONSE_DUH},         {PARSE_PLAIN, true, 1, RESPONSE_DUH},
      {PARSE_ENCRYPTED, false, 2, RESPONSE_AES_ACK}, {PARSE_ENCRYPTED, true, 2, RESPONSE_NAK},
      {PARSE_REFUSED, false, 0, RESPONSE_DUH},       {PARSE_REFUSED, true, 3, RESPONSE_DUH},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Choose_Response_Kind(c.Result, c.Time_Synch, c.Aes_Mode), c.Kind)
        << c.Result << " " << c.Time_Synch << " " << c.Aes_Mode;
  }
}

TEST_F(Dc9Response, ExactAnswers) {
  struct Case {
    const char* Name;
    std::string Message;
    bool Time_Synch;
    int Aes_Mode;
    std::string Answer;
  };
  const uint8_t* key = Test_Key();
  const Case cases[] = {
      {"Contact ID example", "\nB5050029\"ADM-CID\"0001R1L1#1234[#1234|1401 01 001]\r", false, 0,
       "\nD2770014\"ACK\"0001R1L1#1234[]\r"},
      {"SIA-DCS refused", Frame_Of("\"SIA-DCS\"0001R1L1#1234[#1234|NRP01]"), false, 0,
       "\n80B6000E\"DUH\"0000L0#[]\r"},
      {"time stamp answered with the time",
       Frame_Of("\"ADM-CID\"0002R1L1#1234[#1234|1401 01 001]_12:30:00,07-15-2024"), false, 0,
       Frame_Of("\"ACK\"0002R1L1#1234[]_10:30:00,07-15-2024")},
      {"plain while encryption is on",
       Frame_Of("\"ADM-CID\"0003R1L1#1234[#1234|1401 01 001]_12:30:00,07-15-2024"), false, 3,
       Frame_Of("\"DUH\"0003R1L1#1234[]_10:30:00,07-15-2024")},
      {"no receiver, no line", Frame_Of("\"NULL\"0004#77[]"), false, 0,
       Frame_Of("\"ACK\"0004L0#77[]")},
      {"no account", Frame_Of("\"NULL\"9999R5[]"), false, 0, Frame_Of("\"ACK\"9999R5L0#[]")},
      {"refused Contact ID echoes the header",
       Frame_Of("\"ADM-CID\"0005R1L2#1234[#1234|1401 1 001]"), false, 0,
       Frame_Of("\"DUH\"0005R1L2#1234[]")},
  };
  for (const Case& c : cases) {
    const std::string answer = Answer(c.Message, c.Time_Synch, {c.Aes_Mode, key});
    EXPECT_EQ(answer, c.Answer) << c.Name;
    Expect_Well_Framed(answer);
  }
}

TEST_F(Dc9Response, TimeSynchronisationNak) {
  const Dc9_Aes_Config aes{3, Test_Key()};
  const std::string frame = Build_DC9_Response(RESPONSE_NAK, 17, Event_Record{}, aes, Now, {});
  EXPECT_EQ(frame, Frame_Of("\"NAK\"0000R0L0A0[]_10:30:00,07-15-2024"));
  Expect_Well_Framed(frame);
}

// "*ACK": 64 hexadecimal digits that decrypt to 10 pad bytes in 16..79, '|' and the time text.
TEST_F(Dc9Response, EncryptedAckDecryptsToPadAndTime) {
  for (int mode = 1; mode <= 3; ++mode) {
    SCOPED_TRACE(mode);
    const Dc9_Aes_Config aes{mode, Test_Key()};
    Event_Record record{};
    std::memcpy(record.Receiver_Nr, "1", 2);
    std::memcpy(record.Account_Nr, "1234", 5);
    uint32_t counter = 0;
    const std::string frame =
        Build_DC9_Response(RESPONSE_AES_ACK, 8, record, aes, Now, [&] { return counter += 7; });
    Expect_Well_Framed(frame);
    const std::string head = "\"*ACK\"0008R1L0#1234[";
    ASSERT_EQ(frame.substr(9, head.size()), head);
    std::string hex = frame.substr(9 + head.size());
    hex.pop_back();  // the CR
    ASSERT_EQ(hex.size(), 64u);
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);

    const char* data = Decrypt_DC9_Data(mode, Test_Key(), hex.data(), hex.size());
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(data - hex.data(), 11);
    for (int i = 0; i < 10; ++i) {
      const int b = static_cast<uint8_t>(hex[i]);
      EXPECT_TRUE(b >= 16 && b <= 79) << b;
    }
    EXPECT_EQ(std::string(data), "]_10:30:00,07-15-2024");
  }
}

}  // namespace
