#include "store/object_grid_text.h"

#include <charconv>

#include "store/event_grid_text.h"

std::string Object_Cell_Text(const Object_Record& object, int column) {
  switch (column) {
    case 0:
      return Local_Time_Text(object.Last_Event_Time, "   ");
    case 1:
      return std::string(Field_Text(object.Account_Nr));
    case 2:
      return std::string(Field_Text(object.Receiver_Nr));
    case 3:
      return std::string(Field_Text(object.Line_Nr));
    case 4:
      return Qualifier_Event_Text(object.Event_Code);
    case 5:
      return std::string(Field_Text(object.Group_Nr));
    case 6:
      return std::string(Field_Text(object.Zone_Nr));
    case 7:
      return std::string(Field_Text(object.IP_Address));
    case 8:
      if (object.Signal_Quality == 255) return {};
      return " " + std::to_string(object.Signal_Quality) + " %";
    case OBJECT_COLUMN_TIMEOUT:
      return std::to_string(object.Ping_Timeout) + " min";
    default:
      return {};
  }
}

Cell_Colours Object_Cell_Colours(bool lost, bool selected) {
  if (lost) {
    return {selected ? Cell_Text_Colour::Yellow : Cell_Text_Colour::Selection_Text,
            Cell_Back_Colour::Red};
  }
  return {Cell_Text_Colour::Window_Text,
          selected ? Cell_Back_Colour::Light_Grey : Cell_Back_Colour::Window};
}

Timeout_Reading Read_Timeout_Text(std::string_view text) {
  if (text.empty()) return {};
  uint32_t minutes = 0;
  const char* end = text.data() + text.size();
  // Only plain decimal digits: no sign, no blanks, no hexadecimal; from_chars refuses overflow.
  const auto [stop, error] = std::from_chars(text.data(), end, minutes, 10);
  if (error != std::errc() || stop != end || text.front() == '+' || text.front() == '-') {
    return {Timeout_Reading::Not_Number, 0};
  }
  if (minutes > MAX_PING_TIMEOUT) return {Timeout_Reading::Too_Large, minutes};
  return {Timeout_Reading::Valid, minutes};
}

std::string Timeout_Too_Large_Message(std::string_view text) {
  return "'" + std::string(text) + "' is too large a ping timeout (at most " +
         std::to_string(MAX_PING_TIMEOUT) + " min)";
}
