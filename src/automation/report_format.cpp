#include "automation/report_format.h"

#include <algorithm>
#include <cstdio>

namespace {

// Contact ID qualifier digit -> the letter of the report line.
struct Qualifier_Letter {
  char digit;
  char letter;
};
constexpr Qualifier_Letter QUALIFIER_LETTERS[] = {{'1', 'E'}, {'3', 'R'}, {'6', 'P'}};

constexpr std::size_t LINE_BUFFER = 256;

}  // namespace

uint32_t Leading_Number(std::string_view text) {
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10u + static_cast<uint32_t>(c - '0');
  }
  return value;
}

std::string Format_Report_Line(const Event_Record& record, int8_t report_format) {
  // The texts are read through Field_Text, so a field without its NUL never runs into the next.
  std::string event_code(Field_Text(record.Event_Code));
  if (!event_code.empty()) {
    for (const auto& q : QUALIFIER_LETTERS) {
      if (event_code[0] == q.digit) {
        event_code[0] = q.letter;
        break;
      }
    }
  }
  const std::string account(Field_Text(record.Account_Nr).substr(0, 4));
  const std::string group(Field_Text(record.Group_Nr));
  const std::string zone(Field_Text(record.Zone_Nr));
  const uint32_t receiver = Leading_Number(Field_Text(record.Receiver_Nr));
  const uint32_t line = Leading_Number(Field_Text(record.Line_Nr));

  const char* format =
      report_format == REPORT_FORMAT_MLR2000 ? "5%.2u%.3u 18%s%s%s%s" : "5%.2u%u 18%s%s%s%s";
  char buffer[LINE_BUFFER];
  int n = std::snprintf(buffer, sizeof buffer, format, receiver, line, account.c_str(),
                        event_code.c_str(), group.c_str(), zone.c_str());
  std::string text(buffer, static_cast<std::size_t>(std::max(n, 0)));
  text.push_back(REPORT_LINE_END);
  return text;
}

std::string Format_Heartbeat_Line(int8_t hb_receiver_nr) {
  char buffer[LINE_BUFFER];
  int n = std::snprintf(buffer, sizeof buffer, "1%.2d000           @    ",
                        static_cast<int>(hb_receiver_nr));
  std::string text(buffer, static_cast<std::size_t>(std::max(n, 0)));
  text.push_back(REPORT_LINE_END);
  return text;
}
