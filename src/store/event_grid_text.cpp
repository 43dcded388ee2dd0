#include "store/event_grid_text.h"

#include <cstdio>
#include <ctime>

std::string Qualifier_Event_Text(const char (&event_code)[5]) {
  if (Field_Text(event_code) == "NULL") return " PING";
  // The code's other three characters, stopping at a NUL: a short code must not read past it.
  const std::string_view rest = Field_Text(event_code).substr(event_code[0] == '\0' ? 0 : 1);
  return " " + std::to_string(event_code[0] & 0x0F) + "   " + std::string(rest.substr(0, 3));
}

std::string Local_Time_Text(int64_t seconds, const char* separator) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d%s%04d-%02d-%02d", local.tm_hour, local.tm_min,
                local.tm_sec, separator, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  return text;
}

std::string Event_Cell_Text(const Event_Record& event, int column) {
  switch (column) {
    case 0:
      return "   " + Local_Time_Text(event.Time_Received, " ");
    case 1:
      return " " + std::string(Field_Text(event.Receiver_Nr));
    case 2:
      return " " + std::string(Field_Text(event.Line_Nr));
    case 3:
      return " " + std::string(Field_Text(event.Account_Nr));
    case 4:
      return Qualifier_Event_Text(event.Event_Code);
    case 5:
      return " " + std::string(Field_Text(event.Group_Nr));
    case 6:
      return " " + std::string(Field_Text(event.Zone_Nr));
    case 7:
      return " " + std::string(Field_Text(event.IP_Address));
    case 8:
      // 255 means "no value"; a value outside 0..100 (only a damaged record has one) is not a
      // quality either.
      if (event.Signal_Quality < 0 || event.Signal_Quality > 100) return {};
      return std::to_string(event.Signal_Quality) + " %";
    case 9:
      return Event_State_Word(event);
    default:
      return {};
  }
}

Cell_Colours Event_Cell_Colours(bool selected) {
  if (selected) return {Cell_Text_Colour::Selection_Text, Cell_Back_Colour::Selection};
  return {Cell_Text_Colour::Window_Text, Cell_Back_Colour::Window};
}
