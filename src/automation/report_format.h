// The report lines sent to the automation software: one line per event or supervision change,
// and the heartbeat line. Each is short 8-bit ASCII ending with DC4 (0x14); nothing else is
// added (no CR, LF, checksum or sequence number). Pure functions: safe on any thread; the caller
// passes the settings fields it read (Report_Format, HB_Receiver_Nr).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "protocol/event_record.h"

// Every report and heartbeat line ends with this byte.
inline constexpr char REPORT_LINE_END = 0x14;  // DC4

// Report_Format values and their names as the automation settings page lists them.
inline constexpr int8_t REPORT_FORMAT_MLR2_DG = 0;
inline constexpr int8_t REPORT_FORMAT_MLR2000 = 1;
inline constexpr std::array<const char*, 2> REPORT_FORMAT_NAMES = {"SG MLR2-DG", "SG MLR2000"};

// The event or supervision line for `record` (DC4 included), e.g. "5011 181234E13001015" + DC4.
// The first Event_Code character is the qualifier: '1' becomes 'E', '3' 'R', '6' 'P', any other
// stays. The account is cut after four characters. Receiver and line numbers are the leading
// decimal digits of their texts (none gives 0). `report_format` 1 prints the line number with
// at least three digits ("SG MLR2000"); 0 and every value outside 0..1 give "SG MLR2-DG".
// A link test ("NULL") is never reported; the caller skips it.
std::string Format_Report_Line(const Event_Record& record, int8_t report_format);

// The heartbeat line (DC4 included): "1" + receiver number with at least two digits + "000",
// eleven spaces, "@", four spaces. A negative number keeps its sign ("1-56000...").
std::string Format_Heartbeat_Line(int8_t hb_receiver_nr);

// The value of the run of decimal digits at the start of `text` (unsigned 32-bit, wrapping),
// stopping at the first other character; 0 when there is none.
uint32_t Leading_Number(std::string_view text);
