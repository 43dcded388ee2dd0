// The cell texts, row order, widths and colours of the events and object list grids.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <numeric>

#include "base/settings_rules.h"
#include "store/event_grid_text.h"
#include "store/object_grid_text.h"
#include "support/example_event.h"

namespace {

class Grid_Text : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "Europe/Vilnius", 1);
    tzset();
  }
};

template <std::size_t N>
void Put(char (&field)[N], const char* text) {
  std::memset(field, 0, N);
  std::memcpy(field, text, std::min(std::strlen(text), N - 1));
}

Event_Record Event(const char* code, uint8_t status = 1, int32_t quality = 255) {
  // Received 2023-11-14 22:13:20 UTC, 00:13:20 in Vilnius (UTC+2).
  return Example_Event({.Status = status,
                        .Receiver = "12",
                        .Line = "3",
                        .Code = code,
                        .Zone = "015",
                        .Address = "10.0.0.7",
                        .Quality = quality});
}

TEST_F(Grid_Text, Journal_Rows_Put_The_Newest_Slot_First) {
  struct Case {
    uint32_t head;
    int slot;
    int row;
  };
  const Case cases[] = {
      {10, 9, 1},   {10, 0, 10}, {10, 4095, 11},  {10, 10, 4096},     {0, 4095, 1},
      {0, 0, 4096}, {1, 0, 1},   {4095, 4094, 1}, {4095, 4095, 4096},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Journal_Row(c.head, c.slot), c.row) << "head " << c.head << " slot " << c.slot;
    EXPECT_EQ(Journal_Slot_Of_Row(c.head, c.row), c.slot) << "head " << c.head;
  }
  for (int k = 0; k < 4096; ++k) ASSERT_EQ(Journal_Slot_Of_Row(1234, Journal_Row(1234, k)), k);
}

TEST_F(Grid_Text, Event_Cells_Read_As_The_Window_Shows_Them) {
  const Event_Record e = Event("1401", 3, 55);
  const char* expected[] = {"   00:13:20 2023-11-15",
                            " 12",
                            " 3",
                            " 1234",
                            " 1   401",
                            " 01",
                            " 015",
                            " 10.0.0.7",
                            "55 %",
                            "Pending"};
  for (int c = 0; c < EVENT_GRID_COLUMN_COUNT; ++c) {
    EXPECT_EQ(Event_Cell_Text(e, c), expected[c]) << "column " << c;
  }
}

TEST_F(Grid_Text, Qualifier_And_Event_Texts) {
  EXPECT_EQ(Event_Cell_Text(Event("1401"), 4), " 1   401");
  EXPECT_EQ(Event_Cell_Text(Event("3401"), 4), " 3   401");
  EXPECT_EQ(Event_Cell_Text(Event("NULL"), 4), " PING");
  EXPECT_EQ(Event_Cell_Text(Event(""), 4), " 0   ");
}

TEST_F(Grid_Text, Status_Words_Test_The_Link_Test_First) {
  EXPECT_EQ(Event_Cell_Text(Event("NULL", 7), 9), "Not reportable");
  EXPECT_EQ(Event_Cell_Text(Event("NULL", 3), 9), "Not reportable");
  EXPECT_EQ(Event_Cell_Text(Event("1401", 7), 9), "Reported");
  EXPECT_EQ(Event_Cell_Text(Event("1401", 3), 9), "Pending");
  EXPECT_EQ(Event_Cell_Text(Event("1401", 1), 9), "Unknown");
  EXPECT_EQ(Event_Cell_Text(Event("1401", 5), 9), "Unknown");
}

TEST_F(Grid_Text, Event_Signal_Quality_Shows_Only_Percentages) {
  const std::pair<int32_t, const char*> cases[] = {
      {0, "0 %"}, {100, "100 %"}, {101, ""}, {255, ""}, {-1, ""}};
  for (const auto& [quality, text] : cases) {
    EXPECT_EQ(Event_Cell_Text(Event("1401", 1, quality), 8), text) << quality;
  }
}

Object_Record Object(uint8_t quality, uint32_t timeout) {
  Object_Record o{};
  o.Last_Event_Time = 1700000000;
  Put(o.Account_Nr, "5678");
  Put(o.Receiver_Nr, "1");
  Put(o.Line_Nr, "2");
  Put(o.Event_Code, "NULL");
  Put(o.IP_Address, "192.168.1.20");
  o.Signal_Quality = quality;
  o.Ping_Timeout = timeout;
  return o;
}

TEST_F(Grid_Text, Object_Cells_Read_As_The_List_Shows_Them) {
  const Object_Record o = Object(255, 70);
  const char* expected[] = {"00:13:20   2023-11-15", "5678", "1",      "2", " PING", "", "",
                            "192.168.1.20",          "",     "70 min", ""};
  for (int c = 0; c < OBJECT_GRID_COLUMN_COUNT; ++c) {
    EXPECT_EQ(Object_Cell_Text(o, c), expected[c]) << "column " << c;
  }
  EXPECT_EQ(Object_Cell_Text(Object(55, 6), 8), " 55 %");
  EXPECT_EQ(Object_Cell_Text(Object(101, 6), 8), " 101 %");
  EXPECT_EQ(Object_Cell_Text(Object(0, 4294967295u), 9), "4294967295 min");
}

TEST_F(Grid_Text, Column_Widths_Follow_The_Percentages) {
  const std::vector<int> events = Column_Widths(EVENT_GRID_COLUMNS, 874, false, 25);
  ASSERT_EQ(events.size(), 10u);
  EXPECT_EQ(events[0], 874 * 16 / 100);
  EXPECT_EQ(events[9], 874 * 17 / 100);
  const std::vector<int> scrolled = Column_Widths(EVENT_GRID_COLUMNS, 874, true, 25);
  EXPECT_EQ(scrolled[0], 849 * 16 / 100);

  int events_percent = 0, objects_percent = 0;
  for (const Grid_Column& c : EVENT_GRID_COLUMNS) events_percent += c.Percent;
  for (const Grid_Column& c : OBJECT_GRID_COLUMNS) objects_percent += c.Percent;
  EXPECT_EQ(events_percent, 98);
  EXPECT_EQ(objects_percent, 98);
  const std::vector<int> objects = Column_Widths(OBJECT_GRID_COLUMNS, 777, true, 15);
  EXPECT_EQ(objects[7], 762 * 15 / 100);
  EXPECT_LE(std::accumulate(objects.begin(), objects.end(), 0), 762);
}

TEST_F(Grid_Text, Cell_Colours) {
  using T = Cell_Text_Colour;
  using B = Cell_Back_Colour;
  EXPECT_EQ(Object_Cell_Colours(true, true), (Cell_Colours{T::Yellow, B::Red}));
  EXPECT_EQ(Object_Cell_Colours(true, false), (Cell_Colours{T::Selection_Text, B::Red}));
  EXPECT_EQ(Object_Cell_Colours(false, true), (Cell_Colours{T::Window_Text, B::Light_Grey}));
  EXPECT_EQ(Object_Cell_Colours(false, false), (Cell_Colours{T::Window_Text, B::Window}));
  EXPECT_EQ(Event_Cell_Colours(true), (Cell_Colours{T::Selection_Text, B::Selection}));
  EXPECT_EQ(Event_Cell_Colours(false), (Cell_Colours{T::Window_Text, B::Window}));
}

TEST_F(Grid_Text, Timeout_Texts) {
  using R = Timeout_Reading;
  const std::tuple<const char*, R::Kind, uint32_t> cases[] = {
      {"", R::Empty, 0},
      {"1", R::Valid, 1},
      {"15", R::Valid, 15},
      {"0", R::Valid, 0},
      {"007", R::Valid, 7},
      {"71582788", R::Valid, 71582788},
      {"71582789", R::Too_Large, 71582789},
      {"4294967295", R::Too_Large, 4294967295u},
      {"4294967296", R::Not_Number, 0},
      {"abc", R::Not_Number, 0},
      {"1a", R::Not_Number, 0},
      {"-5", R::Not_Number, 0},
      {"+5", R::Not_Number, 0},
      {" 5", R::Not_Number, 0},
      {"5 ", R::Not_Number, 0},
      {"0x10", R::Not_Number, 0},
  };
  for (const auto& [text, kind, minutes] : cases) {
    const Timeout_Reading reading = Read_Timeout_Text(text);
    EXPECT_EQ(reading.Result, kind) << '"' << text << '"';
    if (kind == R::Valid) {
      EXPECT_EQ(reading.Minutes, minutes) << text;
    }
  }
  EXPECT_EQ(Invalid_Integer_Text("1a"), "'1a' is not a valid integer value");
}

}  // namespace
