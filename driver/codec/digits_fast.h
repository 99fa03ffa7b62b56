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

// 4 digits at p (4 bytes readable) as a number; false when any is not a digit.
inline bool parse4(const char* p, uint32_t& out) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  if (((v & 0xF0F0F0F0u) | (((v + 0x06060606u) & 0xF0F0F0F0u) >> 4)) != 0x33333333u) return false;
  v -= 0x30303030u;
  v = v * 10 + (v >> 8);  // pairs of digits in bytes 0 and 2 (little-endian)
  out = (v & 0xFF) * 100 + ((v >> 16) & 0xFF);
  return true;
}

// 3 digits at p with 4 bytes readable; false when any of the 3 is not a digit.
inline bool parse3_of4(const char* p, uint32_t& out) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  v &= 0x00FFFFFFu;
  if (((v & 0x00F0F0F0u) | (((v + 0x00060606u) & 0x00F0F0F0u) >> 4)) != 0x00333333u) return false;
  v -= 0x00303030u;
  out = (v & 0xFF) * 100 + ((v >> 8) & 0xFF) * 10 + (v >> 16);
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
