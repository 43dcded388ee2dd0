#include "base/settings_rules.h"

#include <QString>

bool Parse_Whole_Number(const std::string& text, int32_t& value) {
  bool ok = false;
  const int number = QString::fromStdString(text).trimmed().toInt(&ok, 10);
  if (ok) value = number;
  return ok;
}

int AES_Key_Length(int8_t aes_mode) {
  switch (aes_mode) {
    case 3:
      return 32;
    case 2:
      return 24;
    default:
      return 16;
  }
}

bool Port_In_Range(int32_t port) {
  return port >= 1 && port <= 65535;
}
