#include "base/data_log_text.h"

std::string Data_Log_Printable(std::string_view bytes) {
  static constexpr char HEX[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte <= 0x7E) {
      text += c;
    } else {
      text += '<';
      text += HEX[byte >> 4];
      text += HEX[byte & 0x0F];
      text += '>';
    }
  }
  return text;
}
