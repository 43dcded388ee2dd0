// DC-09 encryption of a message's data part: AES (mode by DC9_AES_Mode) in CBC mode with an
// all-zero initialisation vector, the cipher text written as upper-case hexadecimal text. The
// plain text is a pad of 1..16 bytes, '|', then the data. The key is expanded anew on every call;
// nothing is kept between calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "protocol/aes.h"

// Pseudo-random source of the pad bytes; any generator will do.
using Pad_Source = std::function<uint32_t()>;

// Key bytes used for a DC9_AES_Mode: 16, 24, 32 for modes 1, 2, 3; 0 for off (0) or any other
// value.
std::size_t DC9_Aes_Key_Bytes(int aes_mode);

// CBC chaining in place over the whole 16-byte blocks of data[0..length); a shorter tail is left
// as it is. A schedule whose Rounds is 0 runs the chaining without a block cipher. The DC-09
// operations below use these with a zero `iv`.
void Cbc_Encrypt(const Aes_Key_Schedule& schedule, const uint8_t* iv, uint8_t* data,
                 std::size_t length);
void Cbc_Decrypt(const Aes_Key_Schedule& schedule, const uint8_t* iv, uint8_t* data,
                 std::size_t length);

// Decrypts in place the hexadecimal text text[0..length) that follows the '[' of an encrypted
// message; text[length] must be a NUL. Pairs of upper-case hex digits become bytes written over
// the start of the text, followed by a NUL at text[length / 2] (an odd last character is dropped);
// each whole 16-byte block is decrypted, a short tail is left as it is. Returns the first byte
// after the first '|' of the plain text, or nullptr when there is none before a NUL. Nothing is
// touched and nullptr is returned while encryption is off (mode 0 or unknown): an encrypted
// message cannot be accepted then. `key` is the 32 bytes of DC9_AES_Key.
char* Decrypt_DC9_Data(int aes_mode, const uint8_t* key, char* text, std::size_t length);

// The hexadecimal cipher text of pad + '|' + data, to follow the '[' of an encrypted frame. Pad
// bytes are 16 + pad() % 64, so never '|', '[' or ']'; an empty `pad` uses a fixed generator.
// While encryption is off only the CBC chaining runs (the frame stays well formed).
std::string Encrypt_DC9_Data(int aes_mode, const uint8_t* key, std::string_view data,
                             const Pad_Source& pad);
