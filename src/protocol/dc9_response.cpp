#include "protocol/dc9_response.h"

#include "protocol/dc9_frame_builder.h"

#include <cstdio>
#include <ctime>

#include "protocol/dc9_crypto.h"

namespace {

// "]_HH:MM:SS,MM-DD-YYYY": the receiver's UTC time as answers carry it (21 characters).
std::string Time_Tail(int64_t utc_now) {
  return "]" + DC9_Time_Stamp(utc_now);
}

}  // namespace

Response_Kind Choose_Response_Kind(Parse_Result result, bool time_synch, int aes_mode) {
  if (time_synch && result == PARSE_ENCRYPTED) return RESPONSE_NAK;
  if (result == PARSE_PLAIN && aes_mode != 0) return RESPONSE_DUH;
  switch (result) {
    case PARSE_PLAIN:
      return RESPONSE_ACK;
    case PARSE_ENCRYPTED:
      return RESPONSE_AES_ACK;
    default:
      return RESPONSE_DUH;  // PARSE_REFUSED
  }
}

std::string Build_DC9_Response(Response_Kind kind, uint32_t sequence, const Event_Record& record,
                               const Dc9_Aes_Config& aes, int64_t utc_now, const Pad_Source& pad) {
  std::string body;
  body.reserve(128);
  if (kind == RESPONSE_NAK) {
    body = "\"NAK\"0000R0L0A0[";
    body += Time_Tail(utc_now);
  } else {
    body = kind == RESPONSE_ACK ? "\"ACK\"" : kind == RESPONSE_AES_ACK ? "\"*ACK\"" : "\"DUH\"";
    char number[8];
    std::snprintf(number, sizeof number, "%04u", static_cast<unsigned>(sequence % 10000));
    body += number;
    const std::string_view receiver = Field_Text(record.Receiver_Nr);
    const std::string_view line = Field_Text(record.Line_Nr);
    if (!receiver.empty()) {
      body += 'R';
      body += receiver;
    }
    body += 'L';
    body += line.empty() ? std::string_view("0") : line;
    body += '#';
    body += Field_Text(record.Account_Nr);
    body += '[';
    if (kind == RESPONSE_AES_ACK) {
      body += Encrypt_DC9_Data(aes.Mode, aes.Key, Time_Tail(utc_now), pad);
    } else if (record.Time_Received != 0) {
      body += Time_Tail(utc_now);
    } else {
      body += ']';
    }
  }

  // An answer body stays under 256 bytes, so its length field reads "00" and two digits.
  return Frame_DC9_Body(body);
}
