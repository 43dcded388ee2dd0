// The text of one data log line as the Data Log window shows it: printable ASCII (0x20..0x7E)
// stays as it is, every other byte becomes "<XX>" (two upper-case hexadecimal digits), so a
// frame's LF and CR and any binary bytes are visible and can never split or break the line.
#pragma once

#include <string>
#include <string_view>

std::string Data_Log_Printable(std::string_view bytes);
