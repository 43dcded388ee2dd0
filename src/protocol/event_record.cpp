#include "protocol/event_record.h"

#include <cstring>

std::string_view Extended_Text(const Extended_Data& data) {
  std::size_t n = 0;
  while (n < data.size() && data[n] != '\0') ++n;
  return std::string_view(data.data(), n);
}

bool Is_Link_Test(const Event_Record& record) {
  return Field_Text(record.Event_Code) == "NULL";
}

const char* Event_State_Word(const Event_Record& record) {
  if (Is_Link_Test(record)) return "Not reportable";
  if (record.Status == 7) return "Reported";
  if (record.Status == 3) return "Pending";
  return "Unknown";
}
