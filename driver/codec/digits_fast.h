// Fast checked parsing of fixed-width ASCII digits for the row hot path.
#pragma once

#include <cstdint>
#include <cstring>

namespace quarl::codec {

// 8 digits at p (8 bytes readable) as a number; false when any is not a digit.
inline bool parse8(const char* p, uint32_t& out) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if (((v & 0xF0F0F0F0F0F0F0F0ULL) | (((v + 0x0606060606060606ULL) & 0xF0F0F0F0F0F0F0F0ULL) >> 4)) !=
      0x3333333333333333ULL)
    return false;
  v -= 0x3030303030303030ULL;
  v = v * 10 + (v >> 8);  // pairs of digits (little-endian bytes)
  v = (((v & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32))) +
       (((v >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32)))) >>
      32;
  out = static_cast<uint32_t>(v);
  return true;
}

// n digits at p (n small); false when any is not a digit.
inline bool parse_n(const char* p, unsigned n, uint32_t& out) {
  uint32_t v = 0;
  for (unsigned i = 0; i < n; ++i) {
    unsigned d = static_cast<unsigned>(static_cast<unsigned char>(p[i])) - '0';
    if (d > 9) return false;
    v = v * 10 + d;
  }
  out = v;
  return true;
}

}  // namespace quarl::codec
