#include "app/settings_text.h"

#include <cstring>
#include <iterator>
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
  return Printable_Text(Field_String(r.Out_IP));
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
  return Printable_Text(Field_String(r.COM_Name));
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

std::string Printable_Text(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string shown;
  const auto escape = [&](unsigned char byte) {
    shown += "\\x";
    shown += digits[byte >> 4];
    shown += digits[byte & 0x0F];
  };
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      if (byte < 0x20 || byte == 0x7F || byte == '\\')
        escape(byte);
      else
        shown += static_cast<char>(byte);
      ++i;
      continue;
    }
    // A whole UTF-8 sequence of a printable character stands; stray bytes and the C1 controls
    // (U+0080 to U+009F, which some terminals obey) are escaped byte by byte.
    const int length = byte >= 0xF0 && byte < 0xF5 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC2 ? 2 : 0;
    bool whole = length > 0 && byte < 0xF5 && i + length <= text.size();
    for (int k = 1; whole && k < length; ++k)
      whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (whole && length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0)
      whole = false;
    if (!whole) {
      escape(byte);
      ++i;
      continue;
    }
    shown.append(text, i, static_cast<std::size_t>(length));
    i += static_cast<std::size_t>(length);
  }
  return shown;
}

std::vector<std::string> Settings_Lines(const Settings_Record& record) {
  std::vector<std::string> lines;
  for (const Field& field : FIELDS)
    lines.push_back(std::string(field.Name) + "=" + field.Show(record));
  return lines;
}

std::string Settings_Help() {
  // The rule of each setting, in Settings_Lines' order.
  static const char* const RULES[] = {
      "1 opens the receiver port, 0 keeps it closed",
      "the receiver's TCP port, 1 to 65535, not the automation port; 1024 or above for a "
      "folder under /var/lib/quenor or not owned by root",
      "0 off, 1 AES-128, 2 AES-192, 3 AES-256; on only with a whole key of the mode's length",
      "the key in hex: 32, 48 or 64 digits for mode 1, 2 or 3; '-' reads it from standard input",
      "the automation link: 0 closed, 1 TCP, 2 serial",
      "1 the receiver is the TCP server, 0 it connects to Out_IP",
      "the automation TCP port, 1 to 65535, not the receiver port; 1024 or above for a "
      "folder under /var/lib/quenor or not owned by root",
      "the automation software's IPv4 address in client mode, such as 127.0.0.1",
      "COM1 to COM64 (see the manual's table of devices), or empty for the first port found",
      "the serial baud rate:",
      "heartbeat period in seconds, 0 to 999 (0 no heartbeat)",
      "the receiver number of the heartbeat line, 0 to 99",
      "0 (SG MLR2-DG) or 1 (SG MLR2000), or the format's name",
      "1 time synchronisation on, 0 off",
      "communicator connection timeout in seconds, 1 to 999",
      "1 starts hidden in the notification area, 0 shown",
      "1 also answers DC-09 over UDP on the receiver port, 0 TCP only",
      "minutes, 0 to 60, in which a repeated message is answered but not stored again (0 off)",
  };
  static_assert(std::size(RULES) == std::size(FIELDS));
  std::string text =
      "Usage: quenor settings [--data-dir DIR] [Name=value ...]\n"
      "Without assignments prints every setting; with them checks all and saves only when every\n"
      "one is valid (exit 0 saved, 1 refused or a receiver runs, 2 folder or file unusable).\n\n";
  for (std::size_t i = 0; i < std::size(FIELDS); ++i) {
    std::string name = FIELDS[i].Name;
    name.resize(20, ' ');
    text += "  " + name + RULES[i];
    if (FIELDS[i].Set == Set_Baud)
      for (int known : BAUD_RATES) text += " " + std::to_string(known);
    text += "\n";
  }
  return text;
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
      errors.push_back("'" + Printable_Text(assignment) + "' is no Name=value assignment");
      continue;
    }
    const std::string name = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    const Field* field = nullptr;
    for (const Field& candidate : FIELDS)
      if (name == candidate.Name) field = &candidate;
    if (field == nullptr) {
      errors.push_back("Unknown setting '" + Printable_Text(name) + "'");
      continue;
    }
    const std::string rule = field->Set(changed, value);
    if (!rule.empty()) {
      // The key is never echoed: error lines end up in logs.
      const std::string shown = field->Set == Set_Key ? std::to_string(value.size()) + " characters"
                                                      : "'" + Printable_Text(value) + "'";
      errors.push_back("Bad value for " + name + ": " + shown + " (expected " + rule + ")");
      continue;
    }
    if (field->Set == Set_Key) key_text = value;
  }
  // Encryption is on only with a whole key of the mode's length: one entered here, or one
  // already stored in full (no byte set past the mode's length, and more than the next shorter
  // mode's length in use, so a short key is never used zero-padded). While encryption is off a
  // key entered is a whole key of one of the three lengths, or empty.
  const int8_t mode = changed.DC9_AES_Mode;
  const bool on = mode >= 1 && mode <= 3;
  const std::size_t needed = static_cast<std::size_t>(DC9_Key_Length(mode));
  if (key_text && on && key_text->size() != 2 * needed) {
    errors.push_back("Bad value for DC9_AES_Key: " + std::to_string(key_text->size() / 2) +
                     " bytes, but AES mode " + std::to_string(mode) + " needs a key of " +
                     std::to_string(needed) + " bytes (" + std::to_string(2 * needed) +
                     " hex digits)");
  } else if (key_text && !on && !key_text->empty() && key_text->size() != 32 &&
             key_text->size() != 48 && key_text->size() != 64) {
    errors.push_back("Bad value for DC9_AES_Key: " + std::to_string(key_text->size() / 2) +
                     " bytes (expected a key of 16, 24 or 32 bytes, or none)");
  } else if (!key_text && on) {
    std::size_t used = sizeof changed.DC9_AES_Key;
    while (used > 0 && changed.DC9_AES_Key[used - 1] == 0) --used;
    if (used > needed || used + 8 <= needed) {
      errors.push_back("Bad value for DC9_AES_Mode: AES mode " + std::to_string(mode) +
                       " needs a key of " + std::to_string(needed) +
                       " bytes, and the stored key is " +
                       (used == 0 ? std::string("empty") : "not one") +
                       "; give DC9_AES_Key (or DC9_AES_Key=- to read it from standard input)");
    }
  }
  // The receiver and the automation link cannot listen on one port.
  const int32_t receiver_port = Load_Field<int32_t, &R::DC9_Port>(changed);
  const int32_t automation_port = Load_Field<int32_t, &R::Out_Port>(changed);
  if (receiver_port == automation_port &&
      (receiver_port != Load_Field<int32_t, &R::DC9_Port>(record) ||
       automation_port != Load_Field<int32_t, &R::Out_Port>(record))) {
    errors.push_back("Bad value for DC9_Port and Out_Port: both " + std::to_string(receiver_port) +
                     " (expected two different ports: the receiver and the automation link)");
  }
  if (errors.empty()) record = changed;
  return errors;
}
