// The texts of the events window's grid: its ten columns, the grid row of a journal slot (newest
// event in row 1) and the cell texts of one Event_Record. Plain functions, safe on any thread;
// times are shown in the process's local time zone.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "protocol/event_record.h"
#include "store/grid_layout.h"

inline constexpr int EVENT_GRID_COLUMN_COUNT = 10;
inline constexpr std::array<Grid_Column, EVENT_GRID_COLUMN_COUNT> EVENT_GRID_COLUMNS = {{
    {"Time Received", 16},
    {"Receiver Number", 6},
    {"Line Number", 6},
    {"Account Number", 16},
    {"Qualifier + Event", 8},
    {"Group / Partition", 6},
    {"Zone / User", 6},
    {"IP Address", 12},
    {"Signal Quality", 5},
    {"Status", 17},
}};
// Pixels taken off the window's width while the events grid shows its vertical scroll bar.
inline constexpr int EVENT_GRID_SCROLL_ALLOWANCE = 25;

// The grid row (1..4096, row 0 being the header) of journal slot k when the head is `head`:
// ((head - 1 - k) mod 4096) + 1, so the newest slot (head - 1) is row 1.
constexpr int Journal_Row(uint32_t head, int k) {
  return static_cast<int>((head - 1u - static_cast<uint32_t>(k)) & 0xFFFu) + 1;
}
// The journal slot shown in grid row r (1..4096): the inverse of Journal_Row.
constexpr int Journal_Slot_Of_Row(uint32_t head, int row) {
  return static_cast<int>((head - static_cast<uint32_t>(row)) & 0xFFFu);
}

// " PING" for a link test, else " %d   %s": the low 4 bits of the code's first character and
// its other three characters ("1401" -> " 1   401").
std::string Qualifier_Event_Text(const char (&event_code)[5]);

// "%02d:%02d:%02d" + `separator` + "%04d-%02d-%02d" of `seconds` (since 1970 UTC) in local time.
std::string Local_Time_Text(int64_t seconds, const char* separator);

// The text of cell `column` (0..9) of an event's row; the status word in column 9.
std::string Event_Cell_Text(const Event_Record& event, int column);

// Selected data rows take the selection colours, all others the window's; the event's status
// never changes them.
Cell_Colours Event_Cell_Colours(bool selected);
