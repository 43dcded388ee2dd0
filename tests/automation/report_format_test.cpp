#include "automation/report_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "store/object_table.h"
#include "support/example_event.h"

namespace {

const std::string DC4(1, '\x14');

template <std::size_t N>
void Set(char (&field)[N], const char* text) {
  std::memset(field, 0, N);
  std::memcpy(field, text, std::min(std::strlen(text), N));
}

// The record of the example: receiver 1, line 1, account 1234, event 1130, group 01, zone 015.
Event_Record Example() {
  return Example_Event({.Status = 7, .Code = "1130", .Zone = "015", .Time = 0, .Quality = 0});
}

TEST(Report_Format, ExampleLinesOfBothFormats) {
  EXPECT_EQ(Format_Report_Line(Example(), REPORT_FORMAT_MLR2_DG), "5011 181234E13001015" + DC4);
  EXPECT_EQ(Format_Report_Line(Example(), REPORT_FORMAT_MLR2000), "501001 181234E13001015" + DC4);
}

TEST(Report_Format, UnknownFormatFallsBackToMlr2Dg) {
  for (int8_t format : {int8_t{-1}, int8_t{2}, int8_t{127}, int8_t{-128}}) {
    EXPECT_EQ(Format_Report_Line(Example(), format), "5011 181234E13001015" + DC4) << int(format);
  }
}

struct Field_Case {
  const char* what;
  void (*change)(Event_Record&);
  int8_t format;
  const char* expected;  // before DC4
};

const Field_Case FIELD_CASES[] = {
    {"empty receiver", [](Event_Record& r) { Set(r.Receiver_Nr, ""); }, 0, "5001 181234E13001015"},
    {"receiver 1A", [](Event_Record& r) { Set(r.Receiver_Nr, "1A"); }, 0, "5011 181234E13001015"},
    {"receiver A1", [](Event_Record& r) { Set(r.Receiver_Nr, "A1"); }, 0, "5001 181234E13001015"},
    {"receiver 123", [](Event_Record& r) { Set(r.Receiver_Nr, "123"); }, 0,
     "51231 181234E13001015"},
    {"receiver 999999", [](Event_Record& r) { Set(r.Receiver_Nr, "999999"); }, 1,
     "5999999001 181234E13001015"},
    {"line 12 MLR2-DG", [](Event_Record& r) { Set(r.Line_Nr, "12"); }, 0, "50112 181234E13001015"},
    {"line 12 MLR2000", [](Event_Record& r) { Set(r.Line_Nr, "12"); }, 1, "501012 181234E13001015"},
    {"line 1234 MLR2000", [](Event_Record& r) { Set(r.Line_Nr, "1234"); }, 1,
     "5011234 181234E13001015"},
    {"empty line", [](Event_Record& r) { Set(r.Line_Nr, ""); }, 0, "5010 181234E13001015"},
    {"account 12345678", [](Event_Record& r) { Set(r.Account_Nr, "12345678"); }, 0,
     "5011 181234E13001015"},
    {"account 12", [](Event_Record& r) { Set(r.Account_Nr, "12"); }, 0, "5011 1812E13001015"},
    {"account hex", [](Event_Record& r) { Set(r.Account_Nr, "AB12CDEF"); }, 0,
     "5011 18AB12E13001015"},
    {"event 1401", [](Event_Record& r) { Set(r.Event_Code, "1401"); }, 0, "5011 181234E40101015"},
    {"event 3401", [](Event_Record& r) { Set(r.Event_Code, "3401"); }, 0, "5011 181234R40101015"},
    {"event 6602", [](Event_Record& r) { Set(r.Event_Code, "6602"); }, 0, "5011 181234P60201015"},
    {"event 5401", [](Event_Record& r) { Set(r.Event_Code, "5401"); }, 0, "5011 181234540101015"},
    {"group and zone as stored", [](Event_Record& r) { Set(r.Group_Nr, "A"), Set(r.Zone_Nr, "7"); },
     0, "5011 181234E130A7"},
    // A field that fills its array without a NUL must not run into the next field.
    {"unterminated event code", [](Event_Record& r) { std::memcpy(r.Event_Code, "14019", 5); }, 0,
     "5011 181234E401901015"},
};

TEST(Report_Format, FieldEdgeCases) {
  for (const auto& c : FIELD_CASES) {
    Event_Record r = Example();
    c.change(r);
    EXPECT_EQ(Format_Report_Line(r, c.format), c.expected + DC4) << c.what;
  }
}

TEST(Report_Format, HeartbeatLine) {
  const std::string tail = std::string("000") + std::string(11, ' ') + "@" + std::string(4, ' ');
  struct {
    int8_t receiver;
    std::string expected;
  } cases[] = {
      {1, "101" + tail + DC4},
      {0, "100" + tail + DC4},
      {99, "199" + tail + DC4},
      {127, "1127" + tail + DC4},
      {static_cast<int8_t>(0xC8), "1-56" + tail + DC4},
      {-5, "1-05" + tail + DC4},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Format_Heartbeat_Line(c.receiver), c.expected) << int(c.receiver);
  }
  EXPECT_EQ(Format_Heartbeat_Line(1).size(), 23u);
  EXPECT_EQ(Format_Heartbeat_Line(1), "101000           @    \x14");
}

TEST(Report_Format, SupervisionLinesOfLostAndRestoredObject) {
  Object_Record object{};
  object.Last_Event_Time = 1700000000;
  Set(object.Receiver_Nr, "1");
  Set(object.Line_Nr, "1");
  Set(object.Account_Nr, "1234");
  Set(object.Event_Code, "1130");
  Set(object.Group_Nr, "02");
  Set(object.Zone_Nr, "015");
  object.Object_Flags = OBJ_LOST | OBJ_REPORT_DUE;

  Event_Record lost = Supervision_Record(object);
  EXPECT_EQ(lost.Status, 0);
  EXPECT_EQ(lost.Time_Received, 0);
  EXPECT_EQ(Format_Report_Line(lost, REPORT_FORMAT_MLR2_DG), "5011 181234E35001000" + DC4);

  object.Object_Flags = OBJ_REPORT_DUE;
  EXPECT_EQ(Format_Report_Line(Supervision_Record(object), REPORT_FORMAT_MLR2_DG),
            "5011 181234R35001000" + DC4);
  EXPECT_EQ(Format_Report_Line(Supervision_Record(object), REPORT_FORMAT_MLR2000),
            "501001 181234R35001000" + DC4);
}

}  // namespace
