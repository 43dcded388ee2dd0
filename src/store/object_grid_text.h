// The texts of the object list window's grid: its eleven columns, the cell texts and colours of
// one Object_Record, and the reading of the "Ping Timeout" edit box. Plain functions, any thread;
// times are shown in the process's local time zone.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "store/grid_layout.h"
#include "store/object_table.h"

inline constexpr int OBJECT_GRID_COLUMN_COUNT = 11;
inline constexpr std::array<Grid_Column, OBJECT_GRID_COLUMN_COUNT> OBJECT_GRID_COLUMNS = {{
    {"Time / Date", 17},
    {"Account Number", 16},
    {"Receiver Number", 6},
    {"Line Number", 6},
    {"Qualifier + Event", 6},
    {"Group / Partition", 6},
    {"Zone / User", 6},
    {"IP Address", 15},
    {"Signal Quality", 5},
    {"Ping Timeout", 9},
    {"", 6},
}};
inline constexpr int OBJECT_COLUMN_ACCOUNT = 1;
inline constexpr int OBJECT_COLUMN_TIMEOUT = 9;  // edited in place
inline constexpr int OBJECT_COLUMN_TRASH = 10;   // the delete picture, no text
// Pixels taken off the window's width while the object grid shows its vertical scroll bar.
inline constexpr int OBJECT_GRID_SCROLL_ALLOWANCE = 15;

// The text of cell `column` (0..10) of an object's row.
std::string Object_Cell_Text(const Object_Record& object, int column);

// Lost objects are red (yellow text when selected); the others take the window's colours, light
// grey when selected.
Cell_Colours Object_Cell_Colours(bool lost, bool selected);

// How a text of the "Ping Timeout" edit box reads.
struct Timeout_Reading {
  enum Kind {
    Empty,       // nothing typed: no change
    Valid,       // Minutes holds the new timeout
    Not_Number,  // not a whole decimal number of 32 bits
    Too_Large,   // a number whose seconds do not fit the 32-bit countdown
  };
  Kind Result = Empty;
  uint32_t Minutes = 0;
};
Timeout_Reading Read_Timeout_Text(std::string_view text);

// The refusal shown for a timeout above MAX_PING_TIMEOUT.
std::string Timeout_Too_Large_Message(std::string_view text);
