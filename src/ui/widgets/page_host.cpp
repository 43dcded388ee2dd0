#include "ui/widgets/page_host.h"

#include <QString>

std::string Invalid_Integer_Text(const std::string& text) {
  return "'" + text + "' is not a valid integer value";
}
