#include "protocol/dc9_parser.h"

#include <cstring>
#include <ctime>

#include "protocol/crc16.h"
#include "protocol/dc9_crypto.h"

namespace {

// Hexadecimal fields are upper case only: a lower-case letter is not a digit here.
inline bool Is_Hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}
inline int Hex_Value(char c) {
  return c <= '9' ? c - '0' : c - 'A' + 10;
}
inline bool Is_Digit(char c) {
  return c >= '0' && c <= '9';
}

// The message text buffer[0..end): every read at or past `end` gives NUL, so no check of a field
// at a fixed offset can look beyond the end of the message.
struct Message_Text {
  const char* Data;
  std::size_t End;
  char At(std::size_t i) const { return i < End ? Data[i] : '\0'; }
};

// Reads the 4 upper-case hexadecimal digits at `pos`.
bool Read_Hex16(const Message_Text& text, std::size_t pos, uint32_t& value) {
  value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    char c = text.At(pos + i);
    if (!Is_Hex(c)) return false;
    value = value * 16 + static_cast<uint32_t>(Hex_Value(c));
  }
  return true;
}

// Copies at most `max` hexadecimal digits at `pos` into a NUL-padded field; returns the position
// after them.
template <std::size_t N>
std::size_t Copy_Hex(const Message_Text& text, std::size_t pos, char (&field)[N], std::size_t max) {
  static_assert(N > 1);
  std::memset(field, 0, N);
  std::size_t n = 0;
  while (n < max && n < N - 1 && Is_Hex(text.At(pos + n))) {
    field[n] = text.At(pos + n);
    ++n;
  }
  return pos + n;
}

struct Token_Kind {
  const char* Token;
  bool Link_Test;
  bool Encrypted;
};

// Compared in this order; each must be followed by the closing double quote.
constexpr Token_Kind Token_Kinds[] = {
    {"ADM-CID", false, false},
    {"NULL", true, false},
    {"*ADM-CID", false, true},
    {"*NULL", true, true},
};

// A two-character field of the time stamp: the characters are not checked to be digits.
inline int Two_Chars(const Message_Text& text, std::size_t pos) {
  return 10 * (text.At(pos) & 15) + (text.At(pos + 1) & 15);
}

// Tries the time stamp "_HH:MM:SS,MM-DD-YYYY" whose underscore is at `pos`. On success writes a
// NUL behind the year, stores the local calendar time (daylight saving not in effect) in `time`
// and returns true; otherwise `failed_at` is where the check failed.
bool Try_Time_Stamp(char* buffer, const Message_Text& text, std::size_t pos, int64_t& time,
                    std::size_t& failed_at) {
  static constexpr struct {
    std::size_t Offset;
    char Separator;
  } separators[] = {{3, ':'}, {6, ':'}, {9, ','}, {12, '-'}, {15, '-'}};
  for (const auto& s : separators) {
    if (text.At(pos + s.Offset) != s.Separator) {
      failed_at = pos + s.Offset;
      return false;
    }
  }
  const int hour = Two_Chars(text, pos + 1);
  if (hour > 23) {
    failed_at = pos + 1;
    return false;
  }
  // A year that is not four decimal digits has no agreed meaning: the stamp counts as absent.
  int year = 0;
  for (std::size_t i = 16; i < 20; ++i) {
    char c = text.At(pos + i);
    if (!Is_Digit(c)) {
      failed_at = pos + i;
      return false;
    }
    year = year * 10 + (c - '0');
  }
  // pos + 19 is inside the message, so pos + 20 is at most its terminating NUL.
  buffer[pos + 20] = '\0';

  std::tm fields{};
  fields.tm_hour = hour;
  fields.tm_min = Two_Chars(text, pos + 4);
  fields.tm_sec = Two_Chars(text, pos + 7);
  fields.tm_mon = Two_Chars(text, pos + 10) - 1;
  fields.tm_mday = Two_Chars(text, pos + 13);
  fields.tm_year = year - 1900;
  fields.tm_isdst = 0;
  time = static_cast<int64_t>(std::mktime(&fields));
  return true;
}

// Walks from `pos` to the end of the message, collecting extended data and the time stamp.
void Walk_Extended_Data(char* buffer, const Message_Text& text, std::size_t pos,
                        Event_Record& record, Extended_Data& extended) {
  std::size_t collected = 0;
  for (;;) {
    char c = text.At(pos);
    if (c == '\0' || c == '\r') return;
    c = text.At(++pos);
    if (c == '[') {
      // A run ends only at an underscore, a CR or the end, so text between fields is kept too.
      for (;;) {
        c = text.At(pos);
        if (c == '_' || c == '\r' || c == '\0') break;
        if (collected < extended.size()) extended[collected++] = c;
        ++pos;
      }
      if (c != '_') continue;
    }
    if (c == '_') {
      std::size_t failed_at = pos;
      if (Try_Time_Stamp(buffer, text, pos, record.Time_Received, failed_at)) return;
      pos = failed_at;
    }
  }
}

}  // namespace

Parse_Result Parse_DC9_Message(char* buffer, std::size_t length, Event_Record& record,
                               uint32_t& sequence, Extended_Data& extended,
                               const Dc9_Aes_Config& aes) {
  sequence = 0;

  // The frame starts at the first LF; bytes before it are ignored.
  std::size_t lf = 0;
  while (lf < length && buffer[lf] != '\n') {
    if (buffer[lf] == '\0') return PARSE_UNRECOGNISED;
    ++lf;
  }
  if (lf >= length) return PARSE_UNRECOGNISED;

  const Message_Text received{buffer, length};
  uint32_t crc_field = 0;
  uint32_t length_field = 0;
  if (!Read_Hex16(received, lf + 1, crc_field) || !Read_Hex16(received, lf + 5, length_field)) {
    return PARSE_UNRECOGNISED;
  }

  std::size_t quote = lf + 9;
  while (quote < length && buffer[quote] != '"') {
    if (buffer[quote] == '\0') return PARSE_UNRECOGNISED;
    ++quote;
  }
  if (quote >= length) return PARSE_UNRECOGNISED;

  const std::size_t cr = quote + length_field;
  if (cr >= length || buffer[cr] != '\r') return PARSE_UNRECOGNISED;
  buffer[cr] = '\0';
  if (Crc16_Arc(buffer + quote, length_field) != crc_field) return PARSE_UNRECOGNISED;

  Message_Text text{buffer, cr};

  const Token_Kind* kind = nullptr;
  std::size_t token_length = 0;
  for (const Token_Kind& candidate : Token_Kinds) {
    const std::size_t n = std::strlen(candidate.Token);
    if (quote + 1 + n < cr && std::memcmp(buffer + quote + 1, candidate.Token, n) == 0 &&
        buffer[quote + 1 + n] == '"') {
      kind = &candidate;
      token_length = n;
      break;
    }
  }
  if (kind == nullptr) return PARSE_REFUSED;

  const std::size_t digits = quote + token_length + 2;
  uint32_t number = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    char c = text.At(digits + i);
    if (!Is_Digit(c)) return PARSE_REFUSED;
    number = number * 10 + static_cast<uint32_t>(c - '0');
  }
  sequence = number;

  // Header fields up to the first '['; each R, L or # restarts its field.
  std::size_t pos = digits;
  for (;;) {
    const char c = text.At(pos);
    if (c == '\0') return PARSE_UNRECOGNISED;
    if (c == '[') break;
    if (c == 'R') {
      pos = Copy_Hex(text, pos + 1, record.Receiver_Nr, 6);
    } else if (c == 'L') {
      pos = Copy_Hex(text, pos + 1, record.Line_Nr, 6);
    } else if (c == '#') {
      pos = Copy_Hex(text, pos + 1, record.Account_Nr, 16);
    } else {
      ++pos;
    }
  }
  std::size_t data = pos + 1;
  const Parse_Result accepted = kind->Encrypted ? PARSE_ENCRYPTED : PARSE_PLAIN;

  if (kind->Encrypted) {
    // With encryption off no key exists to check the message with: refuse it outright.
    if (DC9_Aes_Key_Bytes(aes.Mode) == 0 || aes.Key == nullptr) return PARSE_REFUSED;
    char* start = Decrypt_DC9_Data(aes.Mode, aes.Key, buffer + data, cr - data);
    text.End = data + (cr - data) / 2;
    if (start == nullptr) return PARSE_REFUSED;
    data = static_cast<std::size_t>(start - buffer);
  }

  if (text.At(data) == '#') ++data;

  std::size_t walk_from = data;
  if (kind->Link_Test) {
    std::memcpy(record.Event_Code, "NULL", 5);
  } else {
    std::size_t account_digits = 0;
    while (account_digits < 16 && Is_Hex(text.At(data + account_digits))) ++account_digits;
    const std::size_t header_digits = std::strlen(record.Account_Nr);
    if (account_digits < header_digits ||
        std::memcmp(buffer + data, record.Account_Nr, header_digits) != 0) {
      return PARSE_REFUSED;
    }
    std::size_t bar = data;
    while (text.At(bar) != '\0' && text.At(bar) != '|') ++bar;
    if (text.At(bar) != '|') return accepted;  // no Contact ID: nothing more is read

    // The Contact ID "QEEE GG ZZZ]".
    const std::size_t cid = bar + 1;
    for (std::size_t i = 0; i < 4; ++i) {
      if (!Is_Hex(text.At(cid + i))) return PARSE_REFUSED;
    }
    std::memcpy(record.Event_Code, buffer + cid, 4);
    record.Event_Code[4] = '\0';
    if (text.At(cid + 4) != ' ' || text.At(cid + 7) != ' ' || text.At(cid + 11) != ']') {
      return PARSE_REFUSED;
    }
    Copy_Hex(text, cid + 5, record.Group_Nr, 2);
    Copy_Hex(text, cid + 8, record.Zone_Nr, 3);
    walk_from = cid;
  }

  Walk_Extended_Data(buffer, text, walk_from, record, extended);
  return accepted;
}
