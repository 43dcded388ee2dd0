// Decoding of the report lines the receiver sends to the automation software, for the
// automation software simulator and its tests. A line is given without its closing DC4 (0x14).
// Heartbeat: "1" + receiver (two or more characters) + "000" + 11 spaces + "@" + 4 spaces.
// Event: "5" + receiver + line + " 18" + account (0..4) + qualifier letter + 3-digit event +
// 2-character group + 3-character zone. Receiver and line are split by the report format: in
// "SG MLR2-DG" (0) the receiver is the first two digits (a receiver above 99 cannot be told
// apart from its line there), in "SG MLR2000" (1) the line is the last three digits.
// Header-only, plain C++, no state.
#pragma once

#include <string>
#include <string_view>

enum class Report_Line_Kind { Unknown, Heartbeat, Event };

struct Decoded_Report_Line {
  Report_Line_Kind Kind = Report_Line_Kind::Unknown;
  std::string Receiver;
  std::string Line;
  std::string Account;
  char Qualifier = 0;  // 'E' new event, 'R' restore, 'P' previous, or the digit as sent
  std::string Event;
  std::string Group;
  std::string Zone;
};

inline bool Report_Line_Digits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

inline Decoded_Report_Line Decode_Report_Line(std::string_view text, int report_format) {
  Decoded_Report_Line d;
  constexpr std::string_view HEARTBEAT_TAIL = "000           @    ";
  if (text.size() >= 1 + 2 + HEARTBEAT_TAIL.size() && text[0] == '1' &&
      text.substr(text.size() - HEARTBEAT_TAIL.size()) == HEARTBEAT_TAIL) {
    const std::string_view receiver = text.substr(1, text.size() - 1 - HEARTBEAT_TAIL.size());
    const std::string_view digits = receiver[0] == '-' ? receiver.substr(1) : receiver;
    if (!Report_Line_Digits(digits)) return d;
    d.Kind = Report_Line_Kind::Heartbeat;
    d.Receiver = receiver;
    return d;
  }
  if (text.empty() || text[0] != '5') return d;
  const std::size_t space = text.find(' ');
  if (space == std::string_view::npos || text.substr(space, 3) != " 18") return d;
  const std::string_view numbers = text.substr(1, space - 1);
  const std::string_view tail = text.substr(space + 3);
  constexpr std::size_t FIXED_TAIL = 1 + 3 + 2 + 3;  // qualifier, event, group, zone
  if (!Report_Line_Digits(numbers) || tail.size() < FIXED_TAIL || tail.size() > FIXED_TAIL + 4) {
    return d;
  }
  const std::size_t receiver_digits =
      report_format == 1 ? (numbers.size() >= 5 ? numbers.size() - 3 : 0) : 2;
  if (receiver_digits == 0 || numbers.size() <= receiver_digits) return d;
  const std::size_t account = tail.size() - FIXED_TAIL;
  d.Kind = Report_Line_Kind::Event;
  d.Receiver = numbers.substr(0, receiver_digits);
  d.Line = numbers.substr(receiver_digits);
  d.Account = tail.substr(0, account);
  d.Qualifier = tail[account];
  d.Event = tail.substr(account + 1, 3);
  d.Group = tail.substr(account + 4, 2);
  d.Zone = tail.substr(account + 6, 3);
  return d;
}
