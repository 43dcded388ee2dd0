// The rules a settings value must meet where the operator enters it: the number conversion of
// the number edits, the key length of each AES mode and the useful range of a TCP port. The
// settings pages and the command line share them. Plain functions, safe on any thread.
#pragma once

#include <cstdint>
#include <string>

// The conversion of a number edit's text: a whole decimal number that fits 32 bits, with an
// optional sign (surrounding blanks ignored). False for anything else, the empty text included.
bool Parse_Whole_Number(const std::string& text, int32_t& value);

// The key length in bytes of a DC9_AES_Mode: 24 for AES-192 (2), 32 for AES-256 (3), and 16 for
// AES-128 (1) and every other value (the length the key entry offers while encryption is off).
int AES_Key_Length(int8_t aes_mode);

// A TCP port that can be listened on or connected to: 1 to 65535.
bool Port_In_Range(int32_t port);
