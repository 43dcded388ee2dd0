// The rules a settings value must meet where the operator enters it: the number conversion of
// the number edits and the useful range of a TCP port (the key length of each AES mode is
// DC9_Key_Length in base/settings.h). The settings pages and the command line share them. Plain
// functions, safe on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The conversion of a number edit's text: a whole decimal number that fits 32 bits, with an
// optional sign (surrounding blanks ignored). False for anything else, the empty text included.
bool Parse_Whole_Number(const std::string& text, int32_t& value);

// The refusal shown for a number edit's text that is not a whole number (or is out of its range):
// "'<text>' is not a valid integer value".
std::string Invalid_Integer_Text(std::string_view text);

// A TCP port that can be listened on or connected to: 1 to 65535.
bool Port_In_Range(int32_t port);
