#include "protocol/crc16.h"

#include <array>

namespace {

constexpr std::array<uint16_t, 256> Make_Crc_Table() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      crc =
          (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    table[i] = crc;
  }
  return table;
}

constexpr std::array<uint16_t, 256> Crc_Table = Make_Crc_Table();

}  // namespace

uint16_t Crc16_Arc(const void* data, std::size_t length) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  uint16_t crc = 0;
  for (std::size_t i = 0; i < length; ++i) {
    crc = static_cast<uint16_t>((crc >> 8) ^ Crc_Table[(crc ^ bytes[i]) & 0xFF]);
  }
  return crc;
}
