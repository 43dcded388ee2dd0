#include "protocol/dc9_frame_builder.h"

#include <cstdio>
#include <ctime>

#include "protocol/crc16.h"

namespace {

bool Is_Hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}
bool Is_Digit(char c) {
  return c >= '0' && c <= '9';
}

// The upper-case hexadecimal number of text[pos..pos+4), or -1.
int Hex16_At(std::string_view text, std::size_t pos) {
  if (pos + 4 > text.size()) return -1;
  int value = 0;
  for (std::size_t i = pos; i < pos + 4; ++i) {
    const char c = text[i];
    if (!Is_Hex(c)) return -1;
    value = value * 16 + (c <= '9' ? c - '0' : c - 'A' + 10);
  }
  return value;
}

Dc9_Answer Fail(Dc9_Answer answer, std::string problem) {
  answer.Valid = false;
  answer.Problem = std::move(problem);
  return answer;
}

}  // namespace

std::string Frame_DC9_Body(std::string_view body) {
  char header[16];
  std::snprintf(header, sizeof header, "\n%04X%04X", Crc16_Arc(body.data(), body.size()),
                static_cast<unsigned>(body.size() & 0xFFFF));
  std::string frame = header;
  frame += body;
  frame += '\r';
  return frame;
}

std::string Build_DC9_Frame(const Dc9_Frame_Fields& fields, const Dc9_Aes_Config& aes,
                            const Pad_Source& pad) {
  const bool encrypted = aes.Mode != 0;
  std::string body = encrypted ? "\"*" : "\"";
  body += fields.Token;
  char number[8];
  std::snprintf(number, sizeof number, "\"%04u", static_cast<unsigned>(fields.Sequence % 10000));
  body += number;
  if (!fields.Receiver.empty()) body += "R" + fields.Receiver;
  if (!fields.Line.empty()) body += "L" + fields.Line;
  if (!fields.Account.empty()) body += "#" + fields.Account;
  body += '[';
  body += encrypted ? Encrypt_DC9_Data(aes.Mode, aes.Key, fields.Data, pad) : fields.Data;
  return Frame_DC9_Body(body);
}

std::string DC9_Time_Stamp(int64_t utc_seconds) {
  const std::time_t t = static_cast<std::time_t>(utc_seconds);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[40];
  std::snprintf(text, sizeof text, "_%02d:%02d:%02d,%02d-%02d-%04d", utc.tm_hour, utc.tm_min,
                utc.tm_sec, utc.tm_mon + 1, utc.tm_mday, utc.tm_year + 1900);
  return text;
}

std::string Contact_ID_Data(std::string_view account, std::string_view event,
                            std::string_view group, std::string_view zone,
                            std::string_view extended, std::string_view time_stamp) {
  std::string data = "#";
  data += account;
  data += '|';
  data += event;
  data += ' ';
  data += group;
  data += ' ';
  data += zone;
  data += ']';
  data += extended;
  data += time_stamp;
  return data;
}

std::string Link_Test_Data(std::string_view extended, std::string_view time_stamp) {
  std::string data = "]";
  data += extended;
  data += time_stamp;
  return data;
}

Dc9_Answer Decode_DC9_Answer(std::string_view frame, const Dc9_Aes_Config& aes) {
  Dc9_Answer answer;
  if (frame.size() < 10 || frame.front() != '\n' || frame.back() != '\r') {
    return Fail(answer, "not one frame from LF to CR");
  }
  const int crc = Hex16_At(frame, 1);
  const int length = Hex16_At(frame, 5);
  if (crc < 0 || length < 0) return Fail(answer, "CRC or length field not upper-case hex");
  const std::string_view body = frame.substr(9, frame.size() - 10);
  if (frame[5] != '0' || frame[6] != '0') return Fail(answer, "length field does not start 00");
  if (static_cast<std::size_t>(length) != body.size()) return Fail(answer, "length mismatch");
  if (Crc16_Arc(body.data(), body.size()) != crc) return Fail(answer, "CRC mismatch");

  if (body.empty() || body[0] != '"') return Fail(answer, "no token");
  const std::size_t close = body.find('"', 1);
  if (close == std::string_view::npos) return Fail(answer, "token not closed");
  answer.Token = std::string(body.substr(1, close - 1));
  std::size_t pos = close + 1;
  for (std::size_t i = 0; i < 4; ++i) {
    if (pos + i >= body.size() || !Is_Digit(body[pos + i])) return Fail(answer, "bad sequence");
    answer.Sequence = answer.Sequence * 10 + static_cast<uint32_t>(body[pos + i] - '0');
  }
  pos += 4;
  while (pos < body.size() && body[pos] != '[') {
    std::string* field = body[pos] == 'R'   ? &answer.Receiver
                         : body[pos] == 'L' ? &answer.Line
                         : body[pos] == '#' ? &answer.Account
                                            : nullptr;
    ++pos;
    if (field == nullptr) continue;
    field->clear();
    while (pos < body.size() && Is_Hex(body[pos])) *field += body[pos++];
  }
  if (pos >= body.size()) return Fail(answer, "no [");
  const std::string_view data = body.substr(pos + 1);

  if (answer.Token != "*ACK") {
    answer.Data = std::string(data);
  } else {
    if (data.empty() || data.size() % 32 != 0) return Fail(answer, "cipher text not whole blocks");
    for (char c : data) {
      if (!Is_Hex(c)) return Fail(answer, "cipher text not upper-case hex");
    }
    std::string text(data);
    const char* plain = Decrypt_DC9_Data(aes.Mode, aes.Key, text.data(), text.size());
    if (plain == nullptr) return Fail(answer, "no | after decryption");
    const std::size_t pad = static_cast<std::size_t>(plain - text.data()) - 1;
    if (pad < 1 || pad > 16) return Fail(answer, "pad length outside 1..16");
    for (std::size_t i = 0; i < pad; ++i) {
      const auto b = static_cast<unsigned char>(text[i]);
      if (b < 16 || b > 79) return Fail(answer, "pad byte outside 16..79");
    }
    answer.Data = plain;  // up to the NUL behind the decrypted bytes
  }
  answer.Valid = true;
  return answer;
}
