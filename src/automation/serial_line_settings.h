// The portable line settings of the serial port, in the codes of the port's operations: the
// baud rate in bits per second, the byte size in data bits, the parity code and the stop-bit
// code. The system itself always uses 8 data bits, no parity and one stop bit.
#pragma once

#include <cstdint>

inline constexpr uint8_t PARITY_NONE = 0;
inline constexpr uint8_t PARITY_ODD = 1;
inline constexpr uint8_t PARITY_EVEN = 2;
inline constexpr uint8_t PARITY_MARK = 3;
inline constexpr uint8_t PARITY_SPACE = 4;

inline constexpr uint8_t STOP_BITS_ONE = 0;
inline constexpr uint8_t STOP_BITS_ONE_AND_HALF = 1;  // has no form on this platform
inline constexpr uint8_t STOP_BITS_TWO = 2;

struct Serial_Line_Settings {
  int32_t Baud_Rate = 9600;
  uint8_t Byte_Size = 8;  // 5..8
  uint8_t Parity = PARITY_NONE;
  uint8_t Stop_Bits = STOP_BITS_ONE;

  bool operator==(const Serial_Line_Settings&) const = default;
};

// The baud rates offered for the automation link, in list order.
inline constexpr int BAUD_RATES[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

// True when `rate` is one of BAUD_RATES.
constexpr bool Known_Baud_Rate(int32_t rate) {
  for (int known : BAUD_RATES)
    if (known == rate) return true;
  return false;
}
