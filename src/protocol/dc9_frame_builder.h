// The communicator's side of DC-09, for the simulator tool and for tests: building message frames,
// plain or encrypted, and checking and decoding the receiver's answer frames. The frame writer and
// the time stamp also make the receiver's own answers (dc9_response). Pure code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/dc9_crypto.h"
#include "protocol/dc9_parser.h"

// The fields of one message frame.
struct Dc9_Frame_Fields {
  std::string Token = "ADM-CID";  // "ADM-CID", "NULL" or any other; '*' is added when encrypted
  uint32_t Sequence = 1;          // written as 4 decimal digits (modulo 10000)
  std::string Receiver;           // R field; none when empty
  std::string Line;               // L field; none when empty
  std::string Account;            // # field of the header; none when empty
  std::string Data;               // what follows '[' in the clear, e.g. "#1234|1401 01 001]"
};

// The one writer of a DC-09 frame, for messages and for the receiver's answers alike: LF, the
// CRC-16/ARC of the body and its length (low 16 bits), each as 4 upper-case hexadecimal digits,
// the body, CR.
std::string Frame_DC9_Body(std::string_view body);

// The frame of a message. With aes.Mode 0 it is plain; otherwise the token gets '*' and the data
// is padded, encrypted and written as hexadecimal text (pad bytes from `pad`, see
// Encrypt_DC9_Data).
std::string Build_DC9_Frame(const Dc9_Frame_Fields& fields, const Dc9_Aes_Config& aes = {},
                            const Pad_Source& pad = {});

// "_HH:MM:SS,MM-DD-YYYY" of a time in seconds since 1970 UTC, the time written as UTC.
std::string DC9_Time_Stamp(int64_t utc_seconds);

// Contact ID data: "#" account "|" event " " group " " zone "]", then the extended data (such as
// "[Q25][B10.1.2.3]") and the time stamp (from DC9_Time_Stamp), each possibly empty. `event` is
// the qualifier and event code, such as "1401".
std::string Contact_ID_Data(std::string_view account, std::string_view event,
                            std::string_view group, std::string_view zone,
                            std::string_view extended = {}, std::string_view time_stamp = {});

// Link-test data: "]" followed by the extended data and the time stamp, each possibly empty.
std::string Link_Test_Data(std::string_view extended = {}, std::string_view time_stamp = {});

// One answer frame decoded.
struct Dc9_Answer {
  bool Valid = false;     // every check held
  std::string Problem;    // the first check that failed; empty when Valid
  std::string Token;      // "ACK", "*ACK", "NAK", "DUH" (or whatever came)
  uint32_t Sequence = 0;  // the 4 sequence digits
  std::string Receiver;   // R field, empty when absent
  std::string Line;       // L field
  std::string Account;    // # field
  std::string Data;       // after '[': as sent, or for "*ACK" the plain text after the pad's '|'
};

// Checks and decodes `frame`, which must be exactly one answer from its LF to its CR: the CRC and
// length fields (upper-case hex, length "00" + 2 digits), the token, 4 sequence digits and, for
// "*ACK", whole cipher blocks that decrypt with `aes` to 1..16 pad bytes in 16..79 and '|'.
Dc9_Answer Decode_DC9_Answer(std::string_view frame, const Dc9_Aes_Config& aes = {});
