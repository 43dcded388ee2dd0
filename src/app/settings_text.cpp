#include "app/settings_text.h"

#include <cstring>
#include <optional>

#include "automation/report_format.h"
#include "automation/serial_line_settings.h"
#include "automation/serial_names.h"
#include "base/settings_rules.h"

namespace {

// What one setting accepts: `Set` stores the text into the record and returns "" or the rule
// the text broke.
struct Field {
  const char* Name;
  std::string (*Show)(const Settings_Record&);
  std::string (*Set)(Settings_Record&, const std::string&);
};

// A whole number within [low, high] (the rule text names the range).
std::optional<int32_t> Number_In(const std::string& text, int32_t low, int32_t high,
                                 std::string& rule) {
  int32_t value = 0;
  if (!Parse_Whole_Number(text, value) || value < low || value > high) {
    rule = "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
    return std::nullopt;
  }
  return value;
}

// The record is packed, so a number field may sit at any address: it is read and written
// bytewise, never through a typed load or store.
template <typename T, T Settings_Record::*Member>
T Load_Field(const Settings_Record& r) {
  T value;
  std::memcpy(&value, &(r.*Member), sizeof value);
  return value;
}

template <typename T, T Settings_Record::*Member>
void Store_Field(Settings_Record& r, T value) {
  std::memcpy(&(r.*Member), &value, sizeof value);
}

template <typename T, int32_t Low, int32_t High, T Settings_Record::*Member>
std::string Set_Number(Settings_Record& r, const std::string& text) {
  std::string rule;
  const auto value = Number_In(text, Low, High, rule);
  if (value) Store_Field<T, Member>(r, static_cast<T>(*value));
  return rule;
}

template <typename T, T Settings_Record::*Member>
std::string Show_Number(const Settings_Record& r) {
  return std::to_string(static_cast<long long>(Load_Field<T, Member>(r)));
}

template <int32_t Settings_Record::*Member>
std::string Set_Port(Settings_Record& r, const std::string& text) {
  int32_t port = 0;
  if (!Parse_Whole_Number(text, port) || !Port_In_Range(port)) return "a TCP port from 1 to 65535";
  Store_Field<int32_t, Member>(r, port);
  return {};
}

template <std::size_t N>
std::string Field_String(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

template <std::size_t N>
void Store_Text(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), text.size());
}

int Hex_Value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Show_Key(const Settings_Record& r) {
  int length = DC9_Key_Length(r.DC9_AES_Mode);
  if (r.DC9_AES_Mode < 1 || r.DC9_AES_Mode > 3) {
    length = sizeof r.DC9_AES_Key;
    while (length > 0 && r.DC9_AES_Key[length - 1] == 0) --length;
  }
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (int i = 0; i < length; ++i) {
    hex += digits[r.DC9_AES_Key[i] >> 4];
    hex += digits[r.DC9_AES_Key[i] & 0x0F];
  }
  return hex;
}

// The key's length is checked against the mode once all assignments are in (Apply_Settings).
std::string Set_Key(Settings_Record& r, const std::string& text) {
  if (text.size() % 2 != 0 || text.size() > 2 * sizeof r.DC9_AES_Key)
    return "hex digits, two per key byte, at most 32 bytes";
  uint8_t key[sizeof r.DC9_AES_Key] = {};
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int digit = Hex_Value(text[i]);
    if (digit < 0) return "hex digits, two per key byte, at most 32 bytes";
    key[i / 2] = static_cast<uint8_t>(key[i / 2] << 4 | digit);
  }
  std::memcpy(r.DC9_AES_Key, key, sizeof key);
  return {};
}

std::string Show_IP(const Settings_Record& r) {
  return Field_String(r.Out_IP);
}

// Four dotted decimal numbers of 0 to 255; the shorthand forms ("10.1.2", "0x7f.1", "010.1.1.1")
// that address parsers also take would not be the address the operator meant.
bool Dotted_IPv4(const std::string& text) {
  int parts = 0;
  std::size_t at = 0;
  while (parts < 4) {
    std::size_t end = at;
    while (end < text.size() && end - at < 4 && text[end] >= '0' && text[end] <= '9') ++end;
    // A leading zero would read as octal elsewhere.
    if (end == at || end - at > 3 || (end - at > 1 && text[at] == '0') ||
        std::stoi(text.substr(at, end - at)) > 255)
      return false;
    ++parts;
    if (end == text.size()) return parts == 4;
    if (text[end] != '.') return false;
    at = end + 1;
  }
  return false;
}

std::string Set_IP(Settings_Record& r, const std::string& text) {
  if (text.size() >= sizeof r.Out_IP || !Dotted_IPv4(text))
    return "an IPv4 address such as 127.0.0.1";
  Store_Text(r.Out_IP, text);
  return {};
}

std::string Show_COM(const Settings_Record& r) {
  return Field_String(r.COM_Name);
}

std::string Set_COM(Settings_Record& r, const std::string& text) {
  if (!Valid_COM_Name(text))
    return "COM1 to COM" + std::to_string(COM_PORT_COUNT) + ", or empty for the first port found";
  Store_Text(r.COM_Name, text);
  return {};
}

std::string Set_Baud(Settings_Record& r, const std::string& text) {
  int32_t rate = 0;
  if (!Parse_Whole_Number(text, rate) || !Known_Baud_Rate(rate)) {
    std::string rule = "one of";
    for (int known : BAUD_RATES) rule += " " + std::to_string(known);
    return rule;
  }
  r.COM_Baud = rate;
  return {};
}

// The position in the format list, or the format's name.
std::string Set_Format(Settings_Record& r, const std::string& text) {
  for (std::size_t i = 0; i < REPORT_FORMAT_NAMES.size(); ++i) {
    if (text == REPORT_FORMAT_NAMES[i] || text == std::to_string(i)) {
      r.Report_Format = static_cast<int8_t>(i);
      return {};
    }
  }
  std::string rule = "the position in the format list:";
  for (std::size_t i = 0; i < REPORT_FORMAT_NAMES.size(); ++i)
    rule +=
        std::string(i ? "," : "") + " " + std::to_string(i) + " (" + REPORT_FORMAT_NAMES[i] + ")";
  return rule;
}

using R = Settings_Record;
// The useful ranges of the numbers the pages' edits hold: a 3-digit timeout and heartbeat period,
// a two-digit heartbeat receiver number.
const Field FIELDS[] = {
    {"DC9_Port_Enable", Show_Number<uint8_t, &R::DC9_Port_Enable>,
     Set_Number<uint8_t, 0, 1, &R::DC9_Port_Enable>},
    {"DC9_Port", Show_Number<int32_t, &R::DC9_Port>, Set_Port<&R::DC9_Port>},
    {"DC9_AES_Mode", Show_Number<int8_t, &R::DC9_AES_Mode>,
     Set_Number<int8_t, 0, 3, &R::DC9_AES_Mode>},
    {"DC9_AES_Key", Show_Key, Set_Key},
    {"Out_Mode", Show_Number<uint8_t, &R::Out_Mode>, Set_Number<uint8_t, 0, 2, &R::Out_Mode>},
    {"Out_TCP_Server", Show_Number<uint8_t, &R::Out_TCP_Server>,
     Set_Number<uint8_t, 0, 1, &R::Out_TCP_Server>},
    {"Out_Port", Show_Number<int32_t, &R::Out_Port>, Set_Port<&R::Out_Port>},
    {"Out_IP", Show_IP, Set_IP},
    {"COM_Name", Show_COM, Set_COM},
    {"COM_Baud", Show_Number<int32_t, &R::COM_Baud>, Set_Baud},
    {"HB_Period", Show_Number<int32_t, &R::HB_Period>, Set_Number<int32_t, 0, 999, &R::HB_Period>},
    {"HB_Receiver_Nr", Show_Number<int8_t, &R::HB_Receiver_Nr>,
     Set_Number<int8_t, 0, 99, &R::HB_Receiver_Nr>},
    {"Report_Format", Show_Number<int8_t, &R::Report_Format>, Set_Format},
    {"Time_Synch", Show_Number<uint8_t, &R::Time_Synch>, Set_Number<uint8_t, 0, 1, &R::Time_Synch>},
    {"DC9_Conn_Timeout", Show_Number<int32_t, &R::DC9_Conn_Timeout>,
     Set_Number<int32_t, 1, 999, &R::DC9_Conn_Timeout>},
    {"Start_In_Background", Show_Number<uint8_t, &R::Start_In_Background>,
     Set_Number<uint8_t, 0, 1, &R::Start_In_Background>},
    {"DC9_UDP_Enable", Show_Number<uint8_t, &R::DC9_UDP_Enable>,
     Set_Number<uint8_t, 0, 1, &R::DC9_UDP_Enable>},
    {"DC9_Repeat_Window", Show_Number<uint8_t, &R::DC9_Repeat_Window>,
     Set_Number<uint8_t, 0, 60, &R::DC9_Repeat_Window>},
};

}  // namespace

std::vector<std::string> Settings_Lines(const Settings_Record& record) {
  std::vector<std::string> lines;
  for (const Field& field : FIELDS)
    lines.push_back(std::string(field.Name) + "=" + field.Show(record));
  return lines;
}

std::vector<std::string> Settings_Names() {
  std::vector<std::string> names;
  for (const Field& field : FIELDS) names.emplace_back(field.Name);
  return names;
}

std::vector<std::string> Apply_Settings(Settings_Record& record,
                                        const std::vector<std::string>& assignments) {
  Settings_Record changed = record;
  std::vector<std::string> errors;
  std::optional<std::string> key_text;
  for (const std::string& assignment : assignments) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos) {
      errors.push_back("'" + assignment + "' is no Name=value assignment");
      continue;
    }
    const std::string name = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    const Field* field = nullptr;
    for (const Field& candidate : FIELDS)
      if (name == candidate.Name) field = &candidate;
    if (field == nullptr) {
      errors.push_back("Unknown setting '" + name + "'");
      continue;
    }
    const std::string rule = field->Set(changed, value);
    if (!rule.empty()) {
      // The key is never echoed: error lines end up in logs.
      const std::string shown =
          field->Set == Set_Key ? std::to_string(value.size()) + " characters" : "'" + value + "'";
      errors.push_back("Bad value for " + name + ": " + shown + " (expected " + rule + ")");
      continue;
    }
    if (field->Set == Set_Key) key_text = value;
  }
  // A key entered here must fit the mode in force afterwards; while encryption is off any key of
  // up to 32 bytes is kept for later.
  const int8_t mode = changed.DC9_AES_Mode;
  if (key_text && mode >= 1 && mode <= 3 &&
      key_text->size() != 2 * static_cast<std::size_t>(DC9_Key_Length(mode))) {
    errors.push_back("Bad value for DC9_AES_Key: " + std::to_string(key_text->size() / 2) +
                     " bytes, but AES mode " + std::to_string(mode) + " needs a key of " +
                     std::to_string(DC9_Key_Length(mode)) + " bytes (" +
                     std::to_string(2 * DC9_Key_Length(mode)) + " hex digits)");
  }
  if (errors.empty()) record = changed;
  return errors;
}
