// The simulator's line decoding, fed with the lines the receiver itself formats.
#include "../../tools/automation-sim/report_line_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "automation/report_format.h"

namespace {

std::string Without_End(std::string line) {
  EXPECT_EQ(line.back(), REPORT_LINE_END);
  line.pop_back();
  return line;
}

template <std::size_t N>
void Set(char (&field)[N], const char* text) {
  std::memset(field, 0, N);
  std::memcpy(field, text, std::min(std::strlen(text), N));
}

TEST(Report_Line_Decode, LinesOfTheReceiverDecodeToTheirFields) {
  struct {
    const char* receiver;
    const char* line;
    const char* account;
    const char* event_code;
    int8_t format;
    const char* want_receiver;
    const char* want_line;
    const char* want_account;
    char want_qualifier;
  } cases[] = {
      {"1", "1", "1234", "1130", 0, "01", "1", "1234", 'E'},
      {"1", "1", "1234", "1130", 1, "01", "001", "1234", 'E'},
      {"12", "345", "12345678", "3401", 0, "12", "345", "1234", 'R'},
      {"123", "12", "12", "6602", 1, "123", "012", "12", 'P'},
      {"", "", "", "5401", 1, "00", "000", "", '5'},
  };
  for (const auto& c : cases) {
    Event_Record r{};
    Set(r.Receiver_Nr, c.receiver);
    Set(r.Line_Nr, c.line);
    Set(r.Account_Nr, c.account);
    Set(r.Event_Code, c.event_code);
    Set(r.Group_Nr, "01");
    Set(r.Zone_Nr, "015");
    const std::string text = Without_End(Format_Report_Line(r, c.format));
    const Decoded_Report_Line d = Decode_Report_Line(text, c.format);
    ASSERT_EQ(d.Kind, Report_Line_Kind::Event) << text;
    EXPECT_EQ(d.Receiver, c.want_receiver) << text;
    EXPECT_EQ(d.Line, c.want_line) << text;
    EXPECT_EQ(d.Account, c.want_account) << text;
    EXPECT_EQ(d.Qualifier, c.want_qualifier) << text;
    EXPECT_EQ(d.Event, std::string(c.event_code + 1)) << text;
    EXPECT_EQ(d.Group, "01") << text;
    EXPECT_EQ(d.Zone, "015") << text;
  }
}

TEST(Report_Line_Decode, HeartbeatsAndOtherLines) {
  for (int8_t receiver : {int8_t{1}, int8_t{0}, int8_t{127}, int8_t{-56}}) {
    const Decoded_Report_Line d =
        Decode_Report_Line(Without_End(Format_Heartbeat_Line(receiver)), 0);
    EXPECT_EQ(d.Kind, Report_Line_Kind::Heartbeat);
    char want[8];
    std::snprintf(want, sizeof want, "%.2d", receiver);
    EXPECT_EQ(d.Receiver, want);
  }
  for (const char* other : {"", "garbage", "5011 17", "5011 181234", "5011 18123456E13001015",
                            "5A11 181234E13001015", "1AB000           @    "}) {
    EXPECT_EQ(Decode_Report_Line(other, 0).Kind, Report_Line_Kind::Unknown) << other;
  }
}

}  // namespace
