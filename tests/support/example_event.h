// The example event of the tests and benchmarks, built field by field: the Contact ID alarm
// 1401 of account 1234, receiver 1, line 1, group 01, zone 001, received at 1700000000
// (2023-11-14 22:13:20 UTC) without a signal quality. A test names only the fields it changes:
//   Example_Event({.Account = "2000", .Code = "1130"})
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "protocol/event_record.h"

struct Example_Fields {
  uint8_t Status = EVT_PRESENT;
  std::string Receiver = "1";
  std::string Line = "1";
  std::string Account = "1234";
  std::string Code = "1401";
  std::string Group = "01";
  std::string Zone = "001";
  int64_t Time = 1700000000;
  std::string Address = "";  // IP_Address
  int32_t Quality = 255;     // 255 = none
};

// Copies `text` into a fixed field, cut to fit with its NUL.
template <std::size_t N>
void Put_Field(char (&field)[N], const std::string& text) {
  const std::size_t n = text.size() < N ? text.size() : N - 1;
  std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, N - n);
}

inline Event_Record Example_Event(const Example_Fields& fields = {}) {
  Event_Record record{};
  record.Status = fields.Status;
  Put_Field(record.Receiver_Nr, fields.Receiver);
  Put_Field(record.Line_Nr, fields.Line);
  Put_Field(record.Account_Nr, fields.Account);
  Put_Field(record.Event_Code, fields.Code);
  Put_Field(record.Group_Nr, fields.Group);
  Put_Field(record.Zone_Nr, fields.Zone);
  record.Time_Received = fields.Time;
  Put_Field(record.IP_Address, fields.Address);
  record.Signal_Quality = fields.Quality;
  return record;
}
