#include "protocol/dc9_crypto.h"

#include <array>
#include <cstring>

namespace {

// Value of an upper-case hexadecimal digit; other characters give a meaningless 0, and the
// parser's later checks decide about such a message.
constexpr std::array<uint8_t, 256> Make_Hex_Values() {
  std::array<uint8_t, 256> values{};
  for (int c = '0'; c <= '9'; ++c) values[c] = static_cast<uint8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) values[c] = static_cast<uint8_t>(c - 'A' + 10);
  return values;
}

constexpr std::array<uint8_t, 256> Hex_Values = Make_Hex_Values();
constexpr char Hex_Digits[] = "0123456789ABCDEF";

}  // namespace

void Cbc_Encrypt(const Aes_Key_Schedule& schedule, const uint8_t* iv, uint8_t* data,
                 std::size_t length) {
  const uint8_t* previous = iv;
  for (std::size_t block = 0; block + AES_BLOCK_BYTES <= length; block += AES_BLOCK_BYTES) {
    for (std::size_t i = 0; i < AES_BLOCK_BYTES; ++i) data[block + i] ^= previous[i];
    if (schedule.Rounds != 0) Aes_Cipher(schedule, data + block, data + block);
    previous = data + block;
  }
}

void Cbc_Decrypt(const Aes_Key_Schedule& schedule, const uint8_t* iv, uint8_t* data,
                 std::size_t length) {
  uint8_t previous[AES_BLOCK_BYTES];
  std::memcpy(previous, iv, AES_BLOCK_BYTES);
  for (std::size_t block = 0; block + AES_BLOCK_BYTES <= length; block += AES_BLOCK_BYTES) {
    uint8_t cipher[AES_BLOCK_BYTES];
    std::memcpy(cipher, data + block, AES_BLOCK_BYTES);
    if (schedule.Rounds != 0) Aes_Inv_Cipher(schedule, data + block, data + block);
    for (std::size_t i = 0; i < AES_BLOCK_BYTES; ++i) data[block + i] ^= previous[i];
    std::memcpy(previous, cipher, AES_BLOCK_BYTES);
  }
}

std::size_t DC9_Aes_Key_Bytes(int aes_mode) {
  switch (aes_mode) {
    case 1:
      return 16;
    case 2:
      return 24;
    case 3:
      return 32;
    default:
      return 0;
  }
}

char* Decrypt_DC9_Data(int aes_mode, const uint8_t* key, char* text, std::size_t length) {
  const std::size_t key_bytes = DC9_Aes_Key_Bytes(aes_mode);
  if (key_bytes == 0 || key == nullptr) return nullptr;

  const std::size_t n = length / 2;
  auto* bytes = reinterpret_cast<uint8_t*>(text);
  for (std::size_t i = 0; i < n; ++i) {
    bytes[i] = static_cast<uint8_t>((Hex_Values[bytes[2 * i]] << 4) | Hex_Values[bytes[2 * i + 1]]);
  }
  text[n] = '\0';

  Aes_Key_Schedule schedule;
  Aes_Key_Expansion(key, key_bytes, schedule);
  const uint8_t zero_iv[AES_BLOCK_BYTES] = {};
  Cbc_Decrypt(schedule, zero_iv, bytes, n);

  char* bar = static_cast<char*>(std::memchr(text, '|', n));
  if (bar == nullptr) return nullptr;
  // The pad ends at the first '|', and a NUL before it ends the text first.
  if (std::memchr(text, '\0', static_cast<std::size_t>(bar - text)) != nullptr) return nullptr;
  return bar + 1;
}

std::string Encrypt_DC9_Data(int aes_mode, const uint8_t* key, std::string_view data,
                             const Pad_Source& pad) {
  const std::size_t body = data.size() + 1;  // '|' and the data
  const std::size_t pad_bytes = ((body + 16) & ~std::size_t{15}) - body;
  std::string plain;
  plain.reserve(pad_bytes + body);
  uint32_t fallback_state = 0x2545F491u;
  for (std::size_t i = 0; i < pad_bytes; ++i) {
    uint32_t r;
    if (pad) {
      r = pad();
    } else {
      fallback_state ^= fallback_state << 13;
      fallback_state ^= fallback_state >> 17;
      fallback_state ^= fallback_state << 5;
      r = fallback_state;
    }
    plain.push_back(static_cast<char>(16 + r % 64));
  }
  plain.push_back('|');
  plain.append(data);

  const std::size_t key_bytes = DC9_Aes_Key_Bytes(aes_mode);
  Aes_Key_Schedule schedule;
  if (key_bytes != 0 && key != nullptr) Aes_Key_Expansion(key, key_bytes, schedule);

  const uint8_t zero_iv[AES_BLOCK_BYTES] = {};
  Cbc_Encrypt(schedule, zero_iv, reinterpret_cast<uint8_t*>(plain.data()), plain.size());

  std::string hex;
  hex.reserve(2 * plain.size());
  for (uint8_t b : plain) {
    hex.push_back(Hex_Digits[b >> 4]);
    hex.push_back(Hex_Digits[b & 15]);
  }
  return hex;
}
