#include "protocol/aes.h"

#include <array>
#include <bit>

// Round transformations are done with 32-bit lookup tables that combine SubBytes and MixColumns
// (and InvSubBytes with InvMixColumns), the standard's own suggestion for 32-bit processors
// (FIPS-197 section 5.2 and 5.3.5). The tables are built at compile time from GF(2^8) arithmetic.

namespace {

constexpr uint8_t Xtime(uint8_t x) {
  return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0x00));
}

constexpr uint8_t Gf_Mul(uint8_t a, uint8_t b) {
  uint8_t product = 0;
  while (b != 0) {
    if (b & 1) product ^= a;
    a = Xtime(a);
    b >>= 1;
  }
  return product;
}

// The S-box: the multiplicative inverse in GF(2^8) (found through powers of the generator 3),
// then the affine transformation.
constexpr std::array<uint8_t, 256> Make_Sbox() {
  std::array<uint8_t, 256> power{};
  std::array<uint8_t, 256> logarithm{};
  uint8_t p = 1;
  for (int i = 0; i < 255; ++i) {
    power[i] = p;
    logarithm[p] = static_cast<uint8_t>(i);
    p = static_cast<uint8_t>(p ^ Xtime(p));
  }
  std::array<uint8_t, 256> box{};
  for (int x = 0; x < 256; ++x) {
    uint8_t inverse = x == 0 ? 0 : power[(255 - logarithm[x]) % 255];
    uint8_t s = inverse;
    for (int shift = 1; shift <= 4; ++shift) {
      s ^= static_cast<uint8_t>((inverse << shift) | (inverse >> (8 - shift)));
    }
    box[x] = static_cast<uint8_t>(s ^ 0x63);
  }
  return box;
}

constexpr std::array<uint8_t, 256> Sbox = Make_Sbox();

constexpr std::array<uint8_t, 256> Make_Inv_Sbox() {
  std::array<uint8_t, 256> box{};
  for (int x = 0; x < 256; ++x) box[Sbox[x]] = static_cast<uint8_t>(x);
  return box;
}

constexpr std::array<uint8_t, 256> Inv_Sbox = Make_Inv_Sbox();

// Te[x]: the MixColumns column (2,1,1,3)*S[x]; Td[x]: the InvMixColumns column (14,9,13,11)*S'[x].
// The other three byte positions use the same table rotated.
constexpr std::array<uint32_t, 256> Make_Te() {
  std::array<uint32_t, 256> table{};
  for (int x = 0; x < 256; ++x) {
    uint8_t s = Sbox[x];
    table[x] = (uint32_t{Gf_Mul(s, 2)} << 24) | (uint32_t{s} << 16) | (uint32_t{s} << 8) |
               uint32_t{Gf_Mul(s, 3)};
  }
  return table;
}

constexpr std::array<uint32_t, 256> Make_Td() {
  std::array<uint32_t, 256> table{};
  for (int x = 0; x < 256; ++x) {
    uint8_t s = Inv_Sbox[x];
    table[x] = (uint32_t{Gf_Mul(s, 14)} << 24) | (uint32_t{Gf_Mul(s, 9)} << 16) |
               (uint32_t{Gf_Mul(s, 13)} << 8) | uint32_t{Gf_Mul(s, 11)};
  }
  return table;
}

constexpr std::array<uint32_t, 256> Te = Make_Te();
constexpr std::array<uint32_t, 256> Td = Make_Td();

inline uint32_t Load_Word(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline void Store_Word(uint32_t w, uint8_t* p) {
  p[0] = static_cast<uint8_t>(w >> 24);
  p[1] = static_cast<uint8_t>(w >> 16);
  p[2] = static_cast<uint8_t>(w >> 8);
  p[3] = static_cast<uint8_t>(w);
}

inline uint32_t Sub_Word(uint32_t w) {
  return (uint32_t{Sbox[w >> 24]} << 24) | (uint32_t{Sbox[(w >> 16) & 0xFF]} << 16) |
         (uint32_t{Sbox[(w >> 8) & 0xFF]} << 8) | uint32_t{Sbox[w & 0xFF]};
}

inline uint32_t Te_Round(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  return Te[a >> 24] ^ std::rotr(Te[(b >> 16) & 0xFF], 8) ^ std::rotr(Te[(c >> 8) & 0xFF], 16) ^
         std::rotr(Te[d & 0xFF], 24);
}

inline uint32_t Td_Round(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  return Td[a >> 24] ^ std::rotr(Td[(b >> 16) & 0xFF], 8) ^ std::rotr(Td[(c >> 8) & 0xFF], 16) ^
         std::rotr(Td[d & 0xFF], 24);
}

// InvMixColumns of one round-key word: Td undoes the S-box it starts with.
inline uint32_t Inv_Mix_Word(uint32_t w) {
  return Td_Round(uint32_t{Sbox[w >> 24]} << 24, uint32_t{Sbox[(w >> 16) & 0xFF]} << 16,
                  uint32_t{Sbox[(w >> 8) & 0xFF]} << 8, uint32_t{Sbox[w & 0xFF]});
}

}  // namespace

bool Aes_Key_Expansion(const uint8_t* key, std::size_t key_bytes, Aes_Key_Schedule& schedule) {
  schedule.Rounds = 0;
  if (key_bytes != 16 && key_bytes != 24 && key_bytes != 32) return false;
  const int nk = static_cast<int>(key_bytes / 4);
  const int rounds = nk + 6;
  const int words = 4 * (rounds + 1);
  uint32_t* w = schedule.Enc;
  for (int i = 0; i < nk; ++i) w[i] = Load_Word(key + 4 * i);
  uint8_t rcon = 1;
  for (int i = nk; i < words; ++i) {
    uint32_t temp = w[i - 1];
    if (i % nk == 0) {
      temp = Sub_Word(std::rotl(temp, 8)) ^ (uint32_t{rcon} << 24);
      rcon = Xtime(rcon);
    } else if (nk > 6 && i % nk == 4) {
      temp = Sub_Word(temp);
    }
    w[i] = w[i - nk] ^ temp;
  }
  // Equivalent inverse cipher: round keys in reverse order, the inner ones through InvMixColumns.
  uint32_t* dw = schedule.Dec;
  for (int round = 0; round <= rounds; ++round) {
    for (int c = 0; c < 4; ++c) {
      uint32_t word = w[4 * (rounds - round) + c];
      dw[4 * round + c] = (round == 0 || round == rounds) ? word : Inv_Mix_Word(word);
    }
  }
  schedule.Rounds = rounds;
  return true;
}

void Aes_Cipher(const Aes_Key_Schedule& schedule, const uint8_t* in, uint8_t* out) {
  const uint32_t* rk = schedule.Enc;
  uint32_t s0 = Load_Word(in) ^ rk[0];
  uint32_t s1 = Load_Word(in + 4) ^ rk[1];
  uint32_t s2 = Load_Word(in + 8) ^ rk[2];
  uint32_t s3 = Load_Word(in + 12) ^ rk[3];
  for (int round = 1; round < schedule.Rounds; ++round) {
    rk += 4;
    uint32_t t0 = Te_Round(s0, s1, s2, s3) ^ rk[0];
    uint32_t t1 = Te_Round(s1, s2, s3, s0) ^ rk[1];
    uint32_t t2 = Te_Round(s2, s3, s0, s1) ^ rk[2];
    uint32_t t3 = Te_Round(s3, s0, s1, s2) ^ rk[3];
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  }
  rk += 4;
  auto last = [](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return (uint32_t{Sbox[a >> 24]} << 24) | (uint32_t{Sbox[(b >> 16) & 0xFF]} << 16) |
           (uint32_t{Sbox[(c >> 8) & 0xFF]} << 8) | uint32_t{Sbox[d & 0xFF]};
  };
  Store_Word(last(s0, s1, s2, s3) ^ rk[0], out);
  Store_Word(last(s1, s2, s3, s0) ^ rk[1], out + 4);
  Store_Word(last(s2, s3, s0, s1) ^ rk[2], out + 8);
  Store_Word(last(s3, s0, s1, s2) ^ rk[3], out + 12);
}

void Aes_Inv_Cipher(const Aes_Key_Schedule& schedule, const uint8_t* in, uint8_t* out) {
  const uint32_t* rk = schedule.Dec;
  uint32_t s0 = Load_Word(in) ^ rk[0];
  uint32_t s1 = Load_Word(in + 4) ^ rk[1];
  uint32_t s2 = Load_Word(in + 8) ^ rk[2];
  uint32_t s3 = Load_Word(in + 12) ^ rk[3];
  for (int round = 1; round < schedule.Rounds; ++round) {
    rk += 4;
    uint32_t t0 = Td_Round(s0, s3, s2, s1) ^ rk[0];
    uint32_t t1 = Td_Round(s1, s0, s3, s2) ^ rk[1];
    uint32_t t2 = Td_Round(s2, s1, s0, s3) ^ rk[2];
    uint32_t t3 = Td_Round(s3, s2, s1, s0) ^ rk[3];
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  }
  rk += 4;
  auto last = [](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return (uint32_t{Inv_Sbox[a >> 24]} << 24) | (uint32_t{Inv_Sbox[(b >> 16) & 0xFF]} << 16) |
           (uint32_t{Inv_Sbox[(c >> 8) & 0xFF]} << 8) | uint32_t{Inv_Sbox[d & 0xFF]};
  };
  Store_Word(last(s0, s3, s2, s1) ^ rk[0], out);
  Store_Word(last(s1, s0, s3, s2) ^ rk[1], out + 4);
  Store_Word(last(s2, s1, s0, s3) ^ rk[2], out + 8);
  Store_Word(last(s3, s2, s1, s0) ^ rk[3], out + 12);
}
