// Fixed-width decimal text, as numbers travel on the wire and in trace lines.
// All functions work on fields without terminators unless said otherwise.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarl {

// "00" to "99": the two digits of each value below 100.
inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";
// The last two decimal digits of value, at dest.
inline void put_two_digits(char* dest, unsigned value) {
  const char* pair = kDigitPairs + 2 * (value % 100);
  dest[0] = pair[0];
  dest[1] = pair[1];
}

// Writes value in decimal, zero-padded on the left to width; a value with more
// digits keeps only its leading width digits.  Writes exactly width bytes.
void put_digits(char* dest, int width, uint64_t value);
// The same for a value known to fit (value < 10^width, width <= 20), eight
// digits at a time: the writer of the row and parameter hot paths.  Inline,
// so that a constant width folds.
[[gnu::always_inline]] inline void put_fixed_digits(char* dest, int width, uint64_t value);
// 10^0 to 10^19.
inline constexpr uint64_t kPowersOf10[] = {1ULL,
                                           10ULL,
                                           100ULL,
                                           1000ULL,
                                           10000ULL,
                                           100000ULL,
                                           1000000ULL,
                                           10000000ULL,
                                           100000000ULL,
                                           1000000000ULL,
                                           10000000000ULL,
                                           100000000000ULL,
                                           1000000000000ULL,
                                           10000000000000ULL,
                                           100000000000000ULL,
                                           1000000000000000ULL,
                                           10000000000000000ULL,
                                           100000000000000000ULL,
                                           1000000000000000000ULL,
                                           10000000000000000000ULL};
// Decimal digits of value (1 to 20): the decimal width of the value's
// highest bit (1233 / 4096 ~ log10 2), then one comparison.
inline int decimal_width(uint64_t value) {
  if (value < 10) return 1;
  const int below = ((64 - std::countl_zero(value)) * 1233) >> 12;
  return below + (value >= kPowersOf10[below] ? 1 : 0);
}
// The value in decimal without padding ('-' first when negative), eight digits
// at a time.  dest needs kDecimalTextMax bytes, all of which may be written
// (what lies past the returned length is no text); nothing is terminated.
int write_decimal(char* dest, uint64_t value);
int write_decimal(char* dest, int64_t value);
inline constexpr int kDecimalTextMax = 21;
// width characters read as decimal digits, each character's code less that
// of '0', accumulated x10 without checking (wraps modulo 2^32).
uint32_t get_digits(const char* src, int width);
// The low 4 x width bits of value as width lower-case hexadecimal digits.
void put_hex_digits(char* dest, int width, uint32_t value);
// width characters as hexadecimal digits of either case; others count as 0.
uint32_t get_hex_digits(const char* src, int width);

// An optional '-' then width digits; returns the characters used.
int get_signed_digits(const char* src, int width, int32_t& out);
int get_signed_digits16(const char* src, int width, int16_t& out);
// width digits, unsigned; returns width.
int get_digits32(const char* src, int width, uint32_t& out);

// '-' when negative, then the magnitude zero-padded or cut to its leading
// width digits; returns width, or width + 1 with the sign.
int put_signed_digits(char* dest, int width, int32_t value);
int put_signed_digits16(char* dest, int width, int16_t value);
// The value as "%ld", zero-padded or cut to width; returns width.
int put_digits32(char* dest, int width, int32_t value);

// A numeric field read leniently: leading blanks skipped, then digits up to
// the first non-digit or the end of the field; a blank or non-numeric field
// reads as 0.
uint32_t read_number_field(const char* src, int width);

// value x 10^-scale as decimal text, terminated; dest needs 23 + scale bytes.
// With keep_zeros all scale fraction digits are written, otherwise trailing
// fraction zeros (and a bare point) are dropped.  Returns the length.
int format_scaled_decimal(char* dest, int64_t value, int scale, bool keep_zeros);
std::string scaled_decimal(int64_t value, int scale, bool keep_zeros);

// 15 significant digits: fixed notation when 0.1 <= |v| < 1e15, otherwise
// exponent notation with a three-digit exponent; trailing fraction zeros are
// removed, the point stays ("1234.", "0.5", "1.e+020").  Zero is "0.".
// Infinities and not-a-number values have no such form: nullopt.
std::optional<std::string> format_general15(double value);

// The driver's text for a double: format_general15, with zero written in the
// exponent form ("0.e+000") and "inf", "-inf" or "nan" for values that have no
// digits.  Terminated; dest needs 32 bytes.  Returns the length.
int format_double(char* dest, double value);

namespace detail {
// Two digits of v < 100.
[[gnu::always_inline]] inline void put_pair(char* dest, uint32_t v) { std::memcpy(dest, kDigitPairs + 2 * v, 2); }

// Four digits of v < 10000 (v / 100 by a multiplication exact in that range).
[[gnu::always_inline]] inline void put_four(char* dest, uint32_t v) {
  uint32_t high = (v * 5243) >> 19;
  put_pair(dest, high);
  put_pair(dest + 2, v - high * 100);
}

// The two characters of v < 100 as the low 16 bits of a word, the first in
// the lower byte.
[[gnu::always_inline]] inline uint64_t pair_bits(uint32_t v) {
  const char* pair = kDigitPairs + 2 * v;
  return static_cast<unsigned char>(pair[0]) | static_cast<uint64_t>(static_cast<unsigned char>(pair[1])) << 8;
}
// The eight digits of v < 10^8 (zero-padded) as the characters of one word,
// the first digit in its lowest byte: the value is split into halves of four
// digits, each half into pairs, each pair into digits, all lanes at once by
// multiplications that divide exactly in their ranges (x 10486 >> 20 is
// / 100 below 10^4, x 103 >> 10 is / 10 below 100).  Fewer instructions
// than four pairs from the table.
[[gnu::always_inline]] inline uint64_t eight_digit_word(uint32_t v) {
  const uint64_t halves = v / 10000 | (static_cast<uint64_t>(v % 10000) << 32);
  const uint64_t hundreds = ((halves * 10486) >> 20) & 0x0000007F0000007FULL;
  const uint64_t pairs = hundreds | ((halves - 100 * hundreds) << 16);
  const uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000FULL;
  return (tens | ((pairs - 10 * tens) << 8)) + 0x3030303030303030ULL;
}
// Stores such a word: its lowest byte at dest.
[[gnu::always_inline]] inline void store_digit_word(char* dest, uint64_t word) {
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  std::memcpy(dest, &word, 8);
}
// The last n (1 to 8) digits of the word moved to its front: the bytes
// past them are zero.
[[gnu::always_inline]] inline uint64_t last_digits(uint64_t word, int n) {
  return n >= 8 ? word : word >> (64 - 8 * n);
}

#if defined(__SSE2__)
// The sixteen digits of value < 10^16 (zero-padded) as the bytes of a
// register, the first digit in its lowest byte: both halves of eight
// digits go through the steps of eight_digit_word at once, in the lanes of
// one register.
[[gnu::always_inline]] inline __m128i sixteen_digit_vector(uint64_t value) {
  const auto high = static_cast<uint32_t>(value / 100000000), low = static_cast<uint32_t>(value % 100000000);
  // Two lanes of 64 bits: the high half first (the lower bytes).
  const __m128i halves = _mm_set_epi64x(low, high);
  // Each into its first and last four digits, in lanes of 32 bits: x / 10^4
  // is x * 0xD1B71759 >> 45 below 10^8.
  const __m128i first = _mm_srli_epi64(_mm_mul_epu32(halves, _mm_set1_epi32(static_cast<int>(0xD1B71759))), 45);
  const __m128i last = _mm_sub_epi32(halves, _mm_mul_epu32(first, _mm_set1_epi32(10000)));
  const __m128i fours = _mm_or_si128(first, _mm_slli_epi64(last, 32));
  // Each four into pairs, in lanes of 16 bits: x / 100 is x * 5243 >> 19.
  const __m128i hundreds = _mm_srli_epi16(_mm_mulhi_epu16(fours, _mm_set1_epi16(5243)), 3);
  const __m128i pairs =
      _mm_or_si128(hundreds, _mm_slli_epi32(_mm_sub_epi16(fours, _mm_mullo_epi16(hundreds, _mm_set1_epi16(100))), 16));
  // Each pair into digits, in bytes: x / 10 is x * 103 >> 10 below 100.
  const __m128i tens = _mm_mulhi_epu16(pairs, _mm_set1_epi16(103 << 6));
  const __m128i ones = _mm_sub_epi16(pairs, _mm_mullo_epi16(tens, _mm_set1_epi16(10)));
  return _mm_add_epi8(_mm_or_si128(tens, _mm_slli_epi16(ones, 8)), _mm_set1_epi8('0'));
}
// How many of the sixteen digit bytes at the end are '0'.
[[gnu::always_inline]] inline int trailing_zero_digits(__m128i digits) {
  const auto zeros = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(digits, _mm_set1_epi8('0'))));
  return std::countl_one(static_cast<uint16_t>(zeros));
}
#endif

// The sixteen digits of value < 10^16 (zero-padded) at dest; returns how
// many of them at the end are '0'.
[[gnu::always_inline]] inline int put_sixteen_digits(char* dest, uint64_t value) {
#if defined(__SSE2__)
  const __m128i digits = sixteen_digit_vector(value);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dest), digits);
  return trailing_zero_digits(digits);
#else
  const auto high = static_cast<uint32_t>(value / 100000000), low = static_cast<uint32_t>(value % 100000000);
  const uint64_t high_word = eight_digit_word(high), low_word = eight_digit_word(low);
  store_digit_word(dest, high_word);
  store_digit_word(dest + 8, low_word);
  const int low_zeros = std::countl_zero(low_word - 0x3030303030303030ULL) / 8;
  return low_zeros < 8 ? low_zeros : 8 + std::countl_zero(high_word - 0x3030303030303030ULL) / 8;
#endif
}

// Widths below five: pairs from the table.
[[gnu::always_inline]] inline void put_short_digits(char* dest, int width, uint32_t v) {
  switch (width) {
    case 4: put_four(dest, v); break;
    case 3:
      dest[0] = static_cast<char>('0' + v / 100);
      put_pair(dest + 1, v % 100);
      break;
    case 2: put_pair(dest, v); break;
    case 1: dest[0] = static_cast<char>('0' + v); break;
    default: break;
  }
}
}  // namespace detail

[[gnu::always_inline]] inline void put_fixed_digits(char* dest, int width, uint64_t value) {
  if (width < 5) {
    detail::put_short_digits(dest, width, static_cast<uint32_t>(value));
    return;
  }
  // Wide fields mostly hold small values (row keys, lengths): the zeros at
  // once, then groups of eight digits.  Words are stored from the left, so
  // that a word that writes past its digits is overwritten by the next.
  if (width <= 8 || value < 100000000) {
    if (width >= 8) {
      std::memset(dest, '0', static_cast<size_t>(width - 8));
      detail::store_digit_word(dest + width - 8, detail::eight_digit_word(static_cast<uint32_t>(value)));
    } else {  // 5 to 7 digits: no room for a whole word
      detail::put_short_digits(dest, width - 4, static_cast<uint32_t>(value / 10000));
      detail::put_four(dest + width - 4, static_cast<uint32_t>(value % 10000));
    }
    return;
  }
  const auto low = static_cast<uint32_t>(value % 100000000);
  value /= 100000000;
  if (width >= 10 && value < 100) {  // ten digits or fewer in a wider field
    // (The zeros counted so that no compiler sees a negative count in this
    // branch for the narrower fields it never takes.)
    const int zeros = width >= 10 ? width - 10 : 0;
    std::memset(dest, '0', static_cast<size_t>(zeros));
    detail::put_pair(dest + zeros, static_cast<uint32_t>(value));
  } else if (width <= 16 || value < 100000000) {
    const int head = width > 16 ? 8 : width - 8;  // digits before the low group
    std::memset(dest, '0', static_cast<size_t>(width - 16 > 0 ? width - 16 : 0));
    detail::store_digit_word(dest + width - 8 - head,
                             detail::last_digits(detail::eight_digit_word(static_cast<uint32_t>(value)), head));
  } else {  // 17 to 20 digits
    const int head = width - 16;
    const uint64_t top = detail::eight_digit_word(static_cast<uint32_t>(value / 100000000));
    detail::store_digit_word(dest, detail::last_digits(top, head));
    detail::store_digit_word(dest + head, detail::eight_digit_word(static_cast<uint32_t>(value % 100000000)));
  }
  detail::store_digit_word(dest + width - 8, detail::eight_digit_word(low));
}

}  // namespace quarl
