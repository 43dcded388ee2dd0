#include "protocol/dc9_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol/dc9_test_support.h"

namespace {

const std::string Cid_Frame = "\nB5050029\"ADM-CID\"0001R1L1#1234[#1234|1401 01 001]\r";
const std::string Link_Frame = "\nE5F70029\"NULL\"0000R0L0#1234[]_12:30:00,07-15-2024\r";

class Dc9Parser : public testing::Test {
 protected:
  void SetUp() override { Use_Vilnius_Zone(); }
};

TEST_F(Dc9Parser, ContactIdExampleFrame) {
  const Parsed p = Parse(Cid_Frame);
  EXPECT_EQ(p.Result, PARSE_PLAIN);
  EXPECT_EQ(p.Sequence, 1u);
  EXPECT_EQ(Field_Text(p.Record.Receiver_Nr), "1");
  EXPECT_EQ(Field_Text(p.Record.Line_Nr), "1");
  EXPECT_EQ(Field_Text(p.Record.Account_Nr), "1234");
  EXPECT_EQ(Field_Text(p.Record.Event_Code), "1401");
  EXPECT_EQ(Field_Text(p.Record.Group_Nr), "01");
  EXPECT_EQ(Field_Text(p.Record.Zone_Nr), "001");
  EXPECT_EQ(p.Record.Time_Received, 0);
  EXPECT_EQ(Extended_Text(p.Extended), "");
  EXPECT_EQ(p.Record.Status, 0);
  EXPECT_EQ(p.Record.Signal_Quality, 0);  // left for the server to fill
}

TEST_F(Dc9Parser, LinkTestExampleFrame) {
  const Parsed p = Parse(Link_Frame);
  EXPECT_EQ(p.Result, PARSE_PLAIN);
  EXPECT_EQ(p.Sequence, 0u);
  EXPECT_EQ(Field_Text(p.Record.Event_Code), "NULL");
  EXPECT_EQ(Field_Text(p.Record.Account_Nr), "1234");
  EXPECT_EQ(Field_Text(p.Record.Receiver_Nr), "0");
  EXPECT_EQ(Field_Text(p.Record.Line_Nr), "0");
  EXPECT_EQ(Field_Text(p.Record.Group_Nr), "");
  EXPECT_EQ(Field_Text(p.Record.Zone_Nr), "");
  // 12:30:00 on 15 July 2024 as local standard time in Vilnius (UTC+2, daylight saving ignored).
  EXPECT_EQ(p.Record.Time_Received, 1721039400);
}

// Frames that are correctly framed or not, and what the parser makes of them.
TEST_F(Dc9Parser, AcceptsAndRefuses) {
  struct Case {
    const char* Name;
    std::string Bytes;
    Parse_Result Result;
  };
  const Case cases[] = {
      {"bytes before the LF are ignored", "junk\r" + Cid_Frame, PARSE_PLAIN},
      {"CRC one off", "\nB5060029\"ADM-CID\"0001R1L1#1234[#1234|1401 01 001]\r",
       PARSE_UNRECOGNISED},
      {"lower-case CRC", "\nb5050029\"ADM-CID\"0001R1L1#1234[#1234|1401 01 001]\r",
       PARSE_UNRECOGNISED},
      {"length short of the CR", "\nB5050028\"ADM-CID\"0001R1L1#1234[#1234|1401 01 001]\r",
       PARSE_UNRECOGNISED},
      {"length past the CR", "\nB505002A\"ADM-CID\"0001R1L1#1234[#1234|1401 01 001]\r",
       PARSE_UNRECOGNISED},
      {"no CR", "\nB5050029\"ADM-CID\"0001R1L1#1234[#1234|1401 01 001]", PARSE_UNRECOGNISED},
      {"NUL before the LF", std::string("ab\0", 3) + Cid_Frame, PARSE_UNRECOGNISED},
      {"no LF", Cid_Frame.substr(1), PARSE_UNRECOGNISED},
      {"no double quote", Frame_Of("ADM-CID0001R1L1#1234[#1234|1401 01 001]"), PARSE_UNRECOGNISED},
      {"no [", Frame_Of("\"ADM-CID\"0001R1L1#1234#1234|1401 01 001]"), PARSE_UNRECOGNISED},
      {"SIA-DCS token", Frame_Of("\"SIA-DCS\"0001R1L1#1234[#1234|NRP01]"), PARSE_REFUSED},
      {"token without closing quote", Frame_Of("\"ADM-CID0001R1L1#1234[#1234|1401 01 001]"),
       PARSE_REFUSED},
      {"sequence 0A00", Frame_Of("\"ADM-CID\"0A00R1L1#1234[#1234|1401 01 001]"), PARSE_REFUSED},
      {"data account longer", Frame_Of("\"ADM-CID\"0001R1L1#1234[#12345|1401 01 001]"),
       PARSE_PLAIN},
      {"data account shorter", Frame_Of("\"ADM-CID\"0001R1L1#1234[#123|1401 01 001]"),
       PARSE_REFUSED},
      {"data account differs", Frame_Of("\"ADM-CID\"0001R1L1#1234[#1235|1401 01 001]"),
       PARSE_REFUSED},
      {"no header account matches any", Frame_Of("\"ADM-CID\"0001R1L1[#99|1401 01 001]"),
       PARSE_PLAIN},
      {"group of one digit", Frame_Of("\"ADM-CID\"0001R1L1#1234[#1234|1401 1 001]"), PARSE_REFUSED},
      {"event code not hexadecimal", Frame_Of("\"ADM-CID\"0001R1L1#1234[#1234|14x1 01 001]"),
       PARSE_REFUSED},
      {"Contact ID cut short", Frame_Of("\"ADM-CID\"0001R1L1#1234[#1234|1401 01"), PARSE_REFUSED},
      {"encrypted link test while encryption is off", Frame_Of("\"*NULL\"0001R1L1#1234[00112233]"),
       PARSE_REFUSED},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Parse(c.Bytes).Result, c.Result) << c.Name;
  }
}

TEST_F(Dc9Parser, RefusedTokenLeavesRecordEmpty) {
  const Parsed p = Parse(Frame_Of("\"SIA-DCS\"0001R1L1#1234[#1234|NRP01]"));
  EXPECT_EQ(p.Result, PARSE_REFUSED);
  EXPECT_EQ(p.Sequence, 0u);
  const Event_Record zero{};
  EXPECT_EQ(std::memcmp(&p.Record, &zero, sizeof zero), 0);
}

TEST_F(Dc9Parser, BadSequenceKeepsZero) {
  const Parsed p = Parse(Frame_Of("\"ADM-CID\"0A00R1L1#1234[#1234|1401 01 001]"));
  EXPECT_EQ(p.Result, PARSE_REFUSED);
  EXPECT_EQ(p.Sequence, 0u);
}

TEST_F(Dc9Parser, RefusalKeepsHeaderFieldsForTheAnswer) {
  const Parsed p = Parse(Frame_Of("\"ADM-CID\"0042R12L34#ABCD[#ABC|1401 01 001]"));
  EXPECT_EQ(p.Result, PARSE_REFUSED);
  EXPECT_EQ(p.Sequence, 42u);
  EXPECT_EQ(Field_Text(p.Record.Receiver_Nr), "12");
  EXPECT_EQ(Field_Text(p.Record.Line_Nr), "34");
  EXPECT_EQ(Field_Text(p.Record.Account_Nr), "ABCD");
}

TEST_F(Dc9Parser, HeaderFields) {
  struct Case {
    const char* Header;
    const char* Receiver;
    const char* Line;
    const char* Account;
  };
  const Case cases[] = {
      {"#1234", "", "", "1234"},
      {"L5#1234", "", "5", "1234"},
      {"R1234567L1#1234", "123456", "1", "1234"},  // at most 6 digits, the 7th is passed over
      {"R12R3L1#1234", "3", "1", "1234"},          // each R restarts the field
      {"Rx#1234", "", "", "1234"},
      {"#0123456789ABCDEF0", "", "", "0123456789ABCDEF"},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(Frame_Of(std::string("\"NULL\"0007") + c.Header + "[]"));
    EXPECT_EQ(p.Result, PARSE_PLAIN) << c.Header;
    EXPECT_EQ(Field_Text(p.Record.Receiver_Nr), c.Receiver) << c.Header;
    EXPECT_EQ(Field_Text(p.Record.Line_Nr), c.Line) << c.Header;
    EXPECT_EQ(Field_Text(p.Record.Account_Nr), c.Account) << c.Header;
  }
}

TEST_F(Dc9Parser, ContactIdWithoutBarIsAcceptedEmpty) {
  const Parsed p = Parse(Frame_Of("\"ADM-CID\"0001R1L1#1234[#1234][Q25]_12:30:00,07-15-2024"));
  EXPECT_EQ(p.Result, PARSE_PLAIN);
  EXPECT_EQ(Field_Text(p.Record.Event_Code), "");
  EXPECT_EQ(Extended_Text(p.Extended), "");
  EXPECT_EQ(p.Record.Time_Received, 0);
}

// The walk behind the Contact ID: extended data runs and the time stamp.
TEST_F(Dc9Parser, ExtendedDataAndTimeStamp) {
  struct Case {
    const char* Name;
    std::string Tail;  // after "[#1234|1401 01 001]"
    std::string Extended;
    int64_t Time;
  };
  const std::string run65(65, 'x');
  const Case cases[] = {
      {"fields as sent", "[Q25][B10.1.2.3]_12:30:00,07-15-2024", "[Q25][B10.1.2.3]", 1721039400},
      {"text between fields", "[Q25]ab[B1]_12:30:00,07-15-2024", "[Q25]ab[B1]", 1721039400},
      {"no time stamp", "[Q7]", "[Q7]", 0},
      {"hour 23", "_23:00:00,07-15-2024", "", 1721077200},
      {"hour 24", "_24:00:00,07-15-2024", "", 0},
      {"winter date", "_03:04:05,01-02-2024", "", 1704164645 - 7200},
      {"two-digit year", "_12:30:00,07-15-24", "", 0},
      {"year with a letter", "_12:30:00,07-15-20X4", "", 0},
      {"stamp cut short", "_12:30", "", 0},
      {"misplaced separator, later stamp", "_12-30_12:30:00,07-15-2024", "", 1721039400},
      {"nothing after a stamp is read", "_12:30:00,07-15-2024[Q9]", "", 1721039400},
      {"first 64 characters kept", "[" + run65, "[" + run65.substr(0, 63), 0},
      {"runs together capped", "[Q1]_abc[" + run65, "[Q1][" + run65.substr(0, 59), 0},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(Frame_Of("\"ADM-CID\"0001R1L1#1234[#1234|1401 01 001]" + c.Tail));
    EXPECT_EQ(p.Result, PARSE_PLAIN) << c.Name;
    EXPECT_EQ(std::string(Extended_Text(p.Extended)), c.Extended) << c.Name;
    EXPECT_EQ(p.Record.Time_Received, c.Time) << c.Name;
  }
}

// The time stamp check stops at the message's end even when the read goes on with bytes that
// would complete a stamp: here the CR is the day's second digit and "-2024" follows it.
TEST_F(Dc9Parser, TimeStampIsNotCompletedFromBytesAfterTheMessage) {
  const std::string message = Frame_Of("\"NULL\"0000R0L0#1234[]_12:30:00,07-1");
  const Parsed p = Parse(message + "-2024\r");
  EXPECT_EQ(p.Result, PARSE_PLAIN);
  EXPECT_EQ(p.Record.Time_Received, 0);
}

TEST_F(Dc9Parser, OnlyTheFirstFrameOfARead) {
  const std::string second = Frame_Of("\"ADM-CID\"0002R1L1#5678[#5678|1130 02 003]");
  Parsed p = Parse(Cid_Frame + second);
  EXPECT_EQ(p.Result, PARSE_PLAIN);
  EXPECT_EQ(p.Sequence, 1u);
  EXPECT_EQ(Field_Text(p.Record.Account_Nr), "1234");
  // A read that begins with part of a frame: the LF of the next one starts the frame.
  p = Parse(Cid_Frame.substr(20) + second);
  EXPECT_EQ(p.Result, PARSE_PLAIN);
  EXPECT_EQ(p.Sequence, 2u);
  EXPECT_EQ(Field_Text(p.Record.Zone_Nr), "003");
}

TEST_F(Dc9Parser, LinkTestDataAccountIsNotExamined) {
  const Parsed p = Parse(Frame_Of("\"NULL\"0003L2#1234[#9999|junk]"));
  EXPECT_EQ(p.Result, PARSE_PLAIN);
  EXPECT_EQ(Field_Text(p.Record.Account_Nr), "1234");
  EXPECT_EQ(Field_Text(p.Record.Event_Code), "NULL");
}

}  // namespace
