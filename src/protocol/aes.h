// The AES block cipher of FIPS-197: KeyExpansion, Cipher and InvCipher for 128-, 192- and 256-bit
// keys (10, 12 and 14 rounds). Pure code with no state between calls; the schedule is the
// caller's value and may be used from any thread that owns it.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t AES_BLOCK_BYTES = 16;

// The round keys of one key. Rounds is 0 until a key was expanded.
struct Aes_Key_Schedule {
  int Rounds = 0;
  uint32_t Enc[60];  // FIPS-197 w[0 .. 4*(Rounds+1)), each word big-endian as in the standard
  uint32_t Dec[60];  // round keys of the standard's equivalent inverse cipher, in use order
};

// Expands a key of 16, 24 or 32 bytes; any other size returns false and leaves Rounds at 0.
bool Aes_Key_Expansion(const uint8_t* key, std::size_t key_bytes, Aes_Key_Schedule& schedule);

// Encrypts (Cipher) or decrypts (InvCipher) one 16-byte block; in and out may be the same place.
void Aes_Cipher(const Aes_Key_Schedule& schedule, const uint8_t* in, uint8_t* out);
void Aes_Inv_Cipher(const Aes_Key_Schedule& schedule, const uint8_t* in, uint8_t* out);
