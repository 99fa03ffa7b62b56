// A DOUBLE column's stored text read as a number: the quick way of the
// common plain texts, inline for SQLGetData and bound columns; every other
// text goes to double_text_value (value.h).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "driver/codec/digits_fast.h"
#include "driver/codec/records.h"

namespace quarl::codec {

// Powers of ten that a double holds exactly.
inline constexpr double kExactPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// m / 10^fraction rounded once to double, for any m below 2^64: where long
// double carries a 64-bit significand, m and 10^fraction (fraction <= 22)
// are exact in it and the quotient is rounded once to 64 bits; rounding that
// to the double's 53 bits gives the correctly rounded value unless the
// quotient lies exactly on a midpoint between two doubles (low 11 bits
// 0x400), where the true value may lie on either side: false then.
[[gnu::noinline]] bool divide_wide(uint64_t m, size_t fraction, double& out);

// (-)m / 10^fraction (fraction <= 22) rounded once: exact doubles divided
// when m is at most 2^53, else divide_wide; false where that cannot round.
inline bool rounded_quotient(uint64_t m, size_t fraction, bool negative, double& out) {
  double v;
  if (m <= (uint64_t{1} << 53)) {
    v = static_cast<double>(m) / kExactPow10[fraction];
  } else if (!divide_wide(m, fraction, v)) {
    return false;
  }
  out = negative ? -v : v;
  return true;
}

// A DOUBLE's text in its plain form (an optional '-', then digits with at
// most one point: at most 19 digits, at most 16 of them after the point)
// read without a loop: the 32 bytes from its start (kDoubleTextReadable, all
// readable whatever the text's length) are copied behind 16 '0's; the point is found by one
// compare; the last 16 digits are gathered into one vector from two loads
// (the digits before the point, ending where the fraction begins, and the
// fraction) and read as parse16 reads them, which also refuses any byte
// that is no digit; the up to 3 digits before those follow.  false for any
// other text and where rounded_quotient cannot round (the exact reader
// decides then).
[[gnu::always_inline]] inline bool plain_decimal_text(const unsigned char* text, size_t n, double& out) {
#if defined(__SSE2__)
  if (n == 0 || n > 21) return false;
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 16));
  const __m128i point = _mm_set1_epi8('.');
  const uint32_t points = (static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(low, point))) |
                           static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(high, point))) << 16) &
                          ((uint32_t{1} << n) - 1);
  const bool negative = text[0] == '-';
  const size_t at_point = points ? static_cast<size_t>(__builtin_ctz(points)) : n;
  const size_t fraction = points ? n - at_point - 1 : 0;
  const size_t digits = at_point - negative + fraction;
  if (digits == 0 || digits > 19 || fraction > 16) return false;
  // padded: 16 '0's, then the text's 32 bytes (its '-' made a '0').
  char padded[48];
  const __m128i zeros = _mm_set1_epi8('0');
  _mm_storeu_si128(reinterpret_cast<__m128i*>(padded), zeros);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(padded + 16), low);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(padded + 32), high);
  if (negative) padded[16] = '0';
  // The 16 - fraction bytes before the point, then the fraction.
  const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(padded + at_point + fraction));
  const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(padded + n));
  const __m128i lanes = _mm_set_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  const __m128i in_fraction = _mm_cmpgt_epi8(lanes, _mm_set1_epi8(static_cast<char>(15 - fraction)));
  uint64_t m;
  if (!parse16(_mm_or_si128(_mm_andnot_si128(in_fraction, before), _mm_and_si128(in_fraction, after)), m))
    return false;
  if (digits > 16) {
    // The first digits, before the 16 - fraction last ones of the whole part.
    uint32_t first = 0;
    size_t count = digits - 16;
    if (!parse_n(padded + at_point + fraction - count, static_cast<unsigned>(count), first)) return false;
    m += uint64_t{first} * 10000000000000000u;
  }
  return rounded_quotient(m, fraction, negative, out);
#else
  (void)text, (void)n, (void)out;
  return false;
#endif
}

// The stored text of a DOUBLE slot in its plain form, read the quick way;
// false: double_text_value reads it.
[[gnu::always_inline]] inline bool double_text_quick(const unsigned char* slot, double& out) {
  return plain_decimal_text(reinterpret_cast<const unsigned char*>(stored_double_text(slot)), double_text_length(slot), out);
}

}  // namespace quarl::codec
