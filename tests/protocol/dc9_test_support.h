// Helpers of the protocol tests: framing a body with its CRC and length, and parsing a read from
// an exactly sized heap buffer (its bytes and the one NUL after them), so AddressSanitizer sees
// any access outside what the receiver would hold.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "protocol/crc16.h"
#include "protocol/dc9_parser.h"

// LF, CRC, length, body, CR.
inline std::string Frame_Of(std::string_view body) {
  char header[16];
  std::snprintf(header, sizeof header, "\n%04X%04X", Crc16_Arc(body.data(), body.size()),
                static_cast<unsigned>(body.size()));
  return std::string(header) + std::string(body) + "\r";
}

struct Parsed {
  Parse_Result Result;
  uint32_t Sequence;
  Event_Record Record;
  Extended_Data Extended;
};

inline Parsed Parse(std::string_view bytes, const Dc9_Aes_Config& aes = {}) {
  std::unique_ptr<char[]> buffer(new char[bytes.size() + 1]);
  std::memcpy(buffer.get(), bytes.data(), bytes.size());
  buffer[bytes.size()] = '\0';
  Parsed parsed{};
  parsed.Sequence = 12345;  // the parser must reset it
  parsed.Result = Parse_DC9_Message(buffer.get(), bytes.size(), parsed.Record, parsed.Sequence,
                                    parsed.Extended, aes);
  return parsed;
}

// Message time stamps are local calendar times; the tests pin the zone.
inline void Use_Vilnius_Zone() {
  setenv("TZ", "Europe/Vilnius", 1);
  tzset();
}

// A 32-byte DC9_AES_Key: bytes 0x00..0x1F, as in the FIPS-197 examples.
inline const uint8_t* Test_Key() {
  static const uint8_t key[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                                  16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31};
  return key;
}
