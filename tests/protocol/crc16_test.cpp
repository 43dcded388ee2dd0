#include "protocol/crc16.h"

#include <gtest/gtest.h>

#include <string_view>

TEST(Crc16Arc, KnownValues) {
  struct Case {
    std::string_view Text;
    uint16_t Crc;
  };
  const Case cases[] = {
      {"", 0x0000},
      {"123456789", 0xBB3D},  // the catalogue check value of CRC-16/ARC
      {"\"ADM-CID\"0001R1L1#1234[#1234|1401 01 001]", 0xB505},
      {"\"NULL\"0000R0L0#1234[]_12:30:00,07-15-2024", 0xE5F7},
      {"\"ACK\"0001R1L1#1234[]", 0xD277},
      {"\"DUH\"0000L0#[]", 0x80B6},
  };
  for (const Case& c : cases) EXPECT_EQ(Crc16_Arc(c.Text.data(), c.Text.size()), c.Crc) << c.Text;
}
