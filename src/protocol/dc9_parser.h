// Parse_DC9_Message: checks the bytes of one read from a receiver-port connection as a SIA DC-09
// frame (LF, CRC-16/ARC, length, ID token, sequence, account, Contact ID, extended data, time
// stamp) and fills an Event_Record. Pure code: no state between calls, no clock, no I/O.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/event_record.h"

// What the parser made of one read.
enum Parse_Result : int {
  PARSE_UNRECOGNISED = 0,  // no valid DC-09 frame: no answer
  PARSE_PLAIN = 1,         // accepted plain "ADM-CID" / "NULL"
  PARSE_ENCRYPTED = 2,     // accepted "*ADM-CID" / "*NULL"
  PARSE_REFUSED = 4,       // recognised frame with bad content: answered "DUH"
};

// The receiver's AES configuration: DC9_AES_Mode (0 off, 1 AES-128, 2 AES-192, 3 AES-256) and
// the 32 bytes of DC9_AES_Key, of which the mode's key size is used.
struct Dc9_Aes_Config {
  int Mode = 0;
  const uint8_t* Key = nullptr;  // 32 bytes; may be null while Mode is 0
};

// Parses buffer[0..length) in place; buffer[length] must be a NUL (the caller allocates one byte
// more). The parser never reads or writes outside buffer[0..length]. `record` and `extended` must
// be zeroed by the caller; `sequence` receives 0..9999 (0 until the four digits were read).
// Whatever the result, `record.Time_Received` carries the message's own time stamp (mktime with
// tm_isdst = 0, in the process's local zone) or 0; the caller replaces it before storing.
Parse_Result Parse_DC9_Message(char* buffer, std::size_t length, Event_Record& record,
                               uint32_t& sequence, Extended_Data& extended,
                               const Dc9_Aes_Config& aes);
