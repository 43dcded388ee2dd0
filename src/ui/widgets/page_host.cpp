#include "ui/widgets/page_host.h"

#include <QString>

std::string Invalid_Integer_Text(const std::string& text) {
  return "'" + text + "' is not a valid integer value";
}

bool Parse_Whole_Number(const std::string& text, int32_t& value) {
  bool ok = false;
  const int number = QString::fromStdString(text).trimmed().toInt(&ok, 10);
  if (ok) value = number;
  return ok;
}
