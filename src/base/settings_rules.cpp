#include "base/settings_rules.h"

#include <QString>

bool Parse_Whole_Number(const std::string& text, int32_t& value) {
  bool ok = false;
  const int number = QString::fromStdString(text).trimmed().toInt(&ok, 10);
  if (ok) value = number;
  return ok;
}

bool Port_In_Range(int32_t port) {
  return port >= 1 && port <= 65535;
}

std::string Invalid_Integer_Text(std::string_view text) {
  return "'" + std::string(text) + "' is not a valid integer value";
}
