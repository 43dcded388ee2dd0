#include "protocol/dc9_frame_builder.h"

#include <gtest/gtest.h>

#include "protocol/dc9_response.h"
#include "protocol/dc9_test_support.h"

namespace {

constexpr int64_t Now = 1721039400;  // 10:30:00 UTC on 15 July 2024

class Dc9FrameBuilder : public testing::Test {
 protected:
  void SetUp() override { Use_Vilnius_Zone(); }
};

TEST_F(Dc9FrameBuilder, BuildsTheWorkedExample) {
  Dc9_Frame_Fields fields;
  fields.Sequence = 1;
  fields.Receiver = "1";
  fields.Line = "1";
  fields.Account = "1234";
  fields.Data = Contact_ID_Data("1234", "1401", "01", "001");
  EXPECT_EQ(Build_DC9_Frame(fields), "\nB5050029\"ADM-CID\"0001R1L1#1234[#1234|1401 01 001]\r");
  EXPECT_EQ(DC9_Time_Stamp(Now), "_10:30:00,07-15-2024");
}

// Built frames parse back, plain and encrypted, with extended data and a time stamp.
TEST_F(Dc9FrameBuilder, BuiltFramesParseBack) {
  for (int mode = 0; mode <= 3; ++mode) {
    SCOPED_TRACE(mode);
    const Dc9_Aes_Config aes{mode, Test_Key()};
    Dc9_Frame_Fields cid;
    cid.Sequence = 10042;  // written modulo 10000
    cid.Receiver = "A1";
    cid.Line = "2";
    cid.Account = "BEEF";
    cid.Data =
        Contact_ID_Data("BEEF", "3130", "02", "017", "[Q25][B10.1.2.3]", DC9_Time_Stamp(Now));
    Parsed p = Parse(Build_DC9_Frame(cid, aes), aes);
    EXPECT_EQ(p.Result, mode == 0 ? PARSE_PLAIN : PARSE_ENCRYPTED);
    EXPECT_EQ(p.Sequence, 42u);
    EXPECT_EQ(Field_Text(p.Record.Receiver_Nr), "A1");
    EXPECT_EQ(Field_Text(p.Record.Account_Nr), "BEEF");
    EXPECT_EQ(Field_Text(p.Record.Event_Code), "3130");
    EXPECT_EQ(Field_Text(p.Record.Zone_Nr), "017");
    EXPECT_EQ(Extended_Text(p.Extended), "[Q25][B10.1.2.3]");
    EXPECT_EQ(p.Record.Time_Received, Now - 7200);  // the stamp read as Vilnius standard time

    Dc9_Frame_Fields link;
    link.Token = "NULL";
    link.Account = "77";
    link.Data = Link_Test_Data();
    p = Parse(Build_DC9_Frame(link, aes), aes);
    EXPECT_EQ(p.Result, mode == 0 ? PARSE_PLAIN : PARSE_ENCRYPTED);
    EXPECT_EQ(Field_Text(p.Record.Event_Code), "NULL");
  }
}

TEST_F(Dc9FrameBuilder, DecodesEveryAnswerKind) {
  const Dc9_Aes_Config aes{2, Test_Key()};
  Event_Record record{};
  std::memcpy(record.Receiver_Nr, "12", 3);
  std::memcpy(record.Account_Nr, "1234", 5);
  struct Case {
    Response_Kind Kind;
    const char* Token;
    std::string Data;
  };
  const Case cases[] = {
      {RESPONSE_ACK, "ACK", "]"},
      {RESPONSE_AES_ACK, "*ACK", "]_10:30:00,07-15-2024"},
      {RESPONSE_NAK, "NAK", "]_10:30:00,07-15-2024"},
      {RESPONSE_DUH, "DUH", "]"},
  };
  for (const Case& c : cases) {
    const Dc9_Answer a =
        Decode_DC9_Answer(Build_DC9_Response(c.Kind, 5, record, aes, Now, {}), aes);
    EXPECT_TRUE(a.Valid) << a.Problem;
    EXPECT_EQ(a.Token, c.Token);
    EXPECT_EQ(a.Data, c.Data);
    if (c.Kind != RESPONSE_NAK) {
      EXPECT_EQ(a.Sequence, 5u);
      EXPECT_EQ(a.Receiver, "12");
      EXPECT_EQ(a.Line, "0");
      EXPECT_EQ(a.Account, "1234");
    }
  }
}

TEST_F(Dc9FrameBuilder, RejectsDamagedAnswers) {
  const std::string good = "\nD2770014\"ACK\"0001R1L1#1234[]\r";
  ASSERT_TRUE(Decode_DC9_Answer(good).Valid);
  struct Case {
    std::string Frame;
    Dc9_Aes_Config Aes;
  };
  const Dc9_Aes_Config wrong{2, Test_Key() + 1};
  Event_Record record{};
  const std::string aes_ack =
      Build_DC9_Response(RESPONSE_AES_ACK, 1, record, {2, Test_Key()}, Now, {});
  const Case cases[] = {
      {"\nD2780014\"ACK\"0001R1L1#1234[]\r", {}},  // CRC
      {"\nd2770014\"ACK\"0001R1L1#1234[]\r", {}},  // lower-case CRC
      {"\nD2770015\"ACK\"0001R1L1#1234[]\r", {}},  // length
      {good.substr(0, good.size() - 1), {}},       // no CR
      {Frame_DC9_Body("\"ACK\"00x1[]"), {}},       // sequence
      {aes_ack, wrong},                            // *ACK under another key
  };
  for (const Case& c : cases) {
    const Dc9_Answer a = Decode_DC9_Answer(c.Frame, c.Aes);
    EXPECT_FALSE(a.Valid) << c.Frame;
    EXPECT_FALSE(a.Problem.empty());
  }
}

}  // namespace
