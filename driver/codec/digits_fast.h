// Fast checked parsing of fixed-width ASCII digits for the row hot path.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarl::codec {

// The 8 bytes of v are all ASCII digits.
inline bool all_digits8(uint64_t v) {
  return ((v & 0xF0F0F0F0F0F0F0F0ULL) | (((v + 0x0606060606060606ULL) & 0xF0F0F0F0F0F0F0F0ULL) >> 4)) ==
         0x3333333333333333ULL;
}

// 8 digit characters in a word (the first in the lowest byte) as a number.
inline uint32_t digits8_value(uint64_t v) {
  v -= 0x3030303030303030ULL;
  v = v * 10 + (v >> 8);  // pairs of digits (little-endian bytes)
  v = (((v & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32))) +
       (((v >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32)))) >>
      32;
  return static_cast<uint32_t>(v);
}

// 8 digits at p (8 bytes readable) as a number; false when any is not a digit.
inline bool parse8(const char* p, uint32_t& out) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if (!all_digits8(v)) return false;
  out = digits8_value(v);
  return true;
}

// yyyymmdd at p (8 bytes readable) as its three numbers; false when any
// byte is not a digit.  (The pairs of digits of parse8, taken apart.)
inline bool parse_ymd(const char* p, uint32_t& year, uint32_t& month, uint32_t& day) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if (!all_digits8(v)) return false;
  v -= 0x3030303030303030ULL;
  v = v * 10 + (v >> 8);  // byte 2k: digits 2k and 2k + 1 as a number
  year = static_cast<uint32_t>(v & 0xFF) * 100 + static_cast<uint32_t>(v >> 16 & 0xFF);
  month = static_cast<uint32_t>(v >> 32 & 0xFF);
  day = static_cast<uint32_t>(v >> 48 & 0xFF);
  return true;
}

#if defined(__SSE2__)
// 16 digit values (0 to 9, one a byte, the most significant first) as a number.
inline uint64_t digits16_value(__m128i d) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i tens = _mm_set_epi16(1, 10, 1, 10, 1, 10, 1, 10);
  __m128i pairs = _mm_packs_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(d, zero), tens),
                                  _mm_madd_epi16(_mm_unpackhi_epi8(d, zero), tens));
  __m128i fours = _mm_madd_epi16(pairs, _mm_set_epi16(1, 100, 1, 100, 1, 100, 1, 100));
  fours = _mm_packs_epi32(fours, fours);
  __m128i eights = _mm_madd_epi16(fours, _mm_set_epi16(1, 10000, 1, 10000, 1, 10000, 1, 10000));
  auto both = static_cast<uint64_t>(_mm_cvtsi128_si64(eights));
  return (both & 0xFFFFFFFFu) * 100000000u + (both >> 32);
}

// 16 digit characters in a vector as a number; false when any is not a digit.
inline bool parse16(__m128i chars, uint64_t& out) {
  __m128i d = _mm_sub_epi8(chars, _mm_set1_epi8('0'));
  // A byte below '0' wraps above 9 too.
  if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(d, _mm_set1_epi8(9)), _mm_setzero_si128())) != 0xFFFF)
    return false;
  out = digits16_value(d);
  return true;
}
#endif

// 16 characters at p (16 bytes readable) known to be digits, as a number.
inline uint64_t known_digits16(const char* p) {
#if defined(__SSE2__)
  return digits16_value(_mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi8('0')));
#else
  uint64_t v = 0;
  for (int i = 0; i < 16; ++i) v = v * 10 + static_cast<unsigned char>(p[i]) - '0';
  return v;
#endif
}

// The 16 bytes at p are all ASCII digits.
inline bool all_digits16(const char* p) {
#if defined(__SSE2__)
  __m128i d = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi8('0'));
  return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(d, _mm_set1_epi8(9)), _mm_setzero_si128())) == 0xFFFF;
#else
  uint64_t a, b;
  std::memcpy(&a, p, 8);
  std::memcpy(&b, p + 8, 8);
  return all_digits8(a) && all_digits8(b);
#endif
}

// 16 digits at p (16 bytes readable) as a number; false when any is not a
// digit.  (The 19-digit fields of BIGINT values: one check and three
// multiply-adds of lanes instead of two 8-digit words and their checks.)
inline bool parse16(const char* p, uint64_t& out) {
#if defined(__SSE2__)
  return parse16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), out);
#else
  uint32_t high, low;
  if (!parse8(p, high) || !parse8(p + 8, low)) return false;
  out = uint64_t{high} * 100000000u + low;
  return true;
#endif
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

// 2 digits at p as a number; false when either is not a digit.
inline bool parse2(const char* p, uint32_t& out) {
  unsigned high = static_cast<unsigned char>(p[0]) - 0x30u, low = static_cast<unsigned char>(p[1]) - 0x30u;
  if (high > 9 || low > 9) return false;
  out = high * 10 + low;
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
