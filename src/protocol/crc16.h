// CRC-16/ARC, the checksum of every DC-09 frame: polynomial 0x8005 in reflected form (0xA001),
// initial value 0, bits taken least significant first, no final XOR. Pure function.
#pragma once

#include <cstddef>
#include <cstdint>

// The CRC of data[0..length). The check value of "123456789" is 0xBB3D.
uint16_t Crc16_Arc(const void* data, std::size_t length);
