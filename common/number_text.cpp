#include "common/number_text.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include <fmt/format.h>

#include "common/digits.h"

namespace quarl {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Exponents are kept within this bound while reading, so that no sum of
// them can overflow.
constexpr int64_t kMaxExponent = 1000000;

// Turns the n digits written at p + 1 into the plain text of digits x
// 10^-fraction (fraction > 0) starting at p; returns its length.  The p + 1
// start lets the usual case (a whole part of a few digits) move only those
// digits, one place left, in one word.
size_t place_point(char* p, int n, int fraction) {
  const int whole = n - fraction;
  if (whole <= 0) {  // "0.", zeros, the digits
    const int zeros = -whole;
    std::memmove(p + 2 + zeros, p + 1, static_cast<size_t>(n));
    p[0] = '0';
    p[1] = '.';
    std::memset(p + 2, '0', static_cast<size_t>(zeros));
    return static_cast<size_t>(2 + zeros + n);
  }
  if (whole < 8 && std::endian::native == std::endian::little) {
    // Byte i of the word at p is p[i]: the whole digits from the word one
    // byte on, the point, the rest of the word as it is.
    uint64_t shifted, here;
    std::memcpy(&shifted, p + 1, 8);
    std::memcpy(&here, p, 8);
    const int bits = 8 * whole;
    const uint64_t low = (uint64_t{1} << bits) - 1;
    here = (shifted & low) | (uint64_t{'.'} << bits) | (here & ~(low | (uint64_t{0xFF} << bits)));
    std::memcpy(p, &here, 8);
  } else {
    std::memmove(p, p + 1, static_cast<size_t>(whole));
    p[whole] = '.';
  }
  return static_cast<size_t>(n + 1);
}

}  // namespace

namespace {

// The shortest digits of a value as std::to_chars writes them: fixed or
// exponent notation, whichever is shorter (fixed on a tie), the exponent
// with a sign and at least two digits.  The digits come from {fmt}'s
// Dragonbox, a third of the cost of the C++ library's own search.  Returns
// 0 for what it leaves to the library (zero, no digits, whole numbers past
// 2^53 in fixed notation, which are written with their exact digits).
size_t write_shortest_digits(char* out, double value) {
#if FMT_VERSION >= 90000 && FMT_VERSION < 120000
  if (value != 0 && std::isfinite(value)) {
    auto decimal = fmt::detail::dragonbox::to_decimal(std::fabs(value));
    char* p = out;
    if (value < 0) *p++ = '-';
    // The digits go one place to the right of where the text starts, so
    // that the usual forms need at most a short move: the leading digit
    // before the point, or the whole part before it.
    char* digits = p + 1;
    const int n = write_decimal(digits, decimal.significand);
    const int e = decimal.exponent;  // value = digits x 10^e
    const int power = e + n - 1;     // in exponent notation
    const int power_digits = std::abs(power) >= 100 ? 3 : 2;
    const int exponent_length = n + (n > 1 ? 1 : 0) + 2 + power_digits;
    const int fixed_length = e >= 0 ? n + e : n + e > 0 ? n + 1 : 2 - e;
    if (fixed_length <= exponent_length) {
      // Below 2^53 a whole number's exact digits are the shortest ones
      // followed by zeros.
      if (e > 0 && std::fabs(value) >= 0x1p53) return 0;
      if (e >= 0) {  // digits, then zeros
        std::memmove(p, digits, static_cast<size_t>(n));
        std::memset(p + n, '0', static_cast<size_t>(e));
        p += n + e;
      } else {
        p += place_point(p, n, -e);
      }
    } else {
      // The leading digit, the point in its place, the others where they are.
      p[0] = digits[0];
      if (n > 1) {
        p[1] = '.';
        p += n + 1;
      } else {
        p += 1;
      }
      *p++ = 'e';
      *p++ = power < 0 ? '-' : '+';
      put_fixed_digits(p, power_digits, static_cast<uint64_t>(std::abs(power)));
      p += power_digits;
    }
    return static_cast<size_t>(p - out);
  }
#else
  (void)out;
  (void)value;
#endif
  return 0;
}

size_t write_shortest(char* out, double value) {
  if (size_t n = write_shortest_digits(out, value)) return n;
  auto [end, ec] = std::to_chars(out, out + kDoubleTextMax, value);
  if (ec != std::errc()) {
    std::memcpy(out, "nan", 3);
    return 3;
  }
  return static_cast<size_t>(end - out);
}

}  // namespace

namespace {

// The text of a value of 0.001 <= |value| < 10^15 that is not whole (prices,
// measures, most stored values); 0 for what it leaves to the general search.
//
// With w digits before the point (w = 0, -1, -2 for 0.1, 0.01, 0.001 <= a,
// a = |value|), a decimal of n significant digits is D x 10^-s, s = n - w.
//
// Fifteen digits first, in doubles: 10^s is exact (s <= 17), and if some
// D x 10^-s (D < 10^15) reads back as a, a lies within half an ulp of it, at
// most a x 2^-53, so |a x 10^s - D| < 10^15 x 2^-53 < 0.12; the product
// a x 10^s is below 2^50, so rounding it adds at most 2^-4: rounding the
// product gives that D.  D and 10^s are exact doubles, so D / 10^s is the
// correctly rounded reading of the decimal, and comparing it with a tells
// whether the decimal reads back.  Two different decimals of at most 15
// significant digits never read back as the same double (every such
// decimal survives the trip through a double), so D without its trailing
// zeros is then the only text of 15 digits or fewer that reads back: the
// shortest.
//
// Otherwise 16, then 17 digits (which always suffice), exactly in integers:
// a = m x 2^-k (m the 53-bit significand); m x 10^s (below 2^117) shifted
// right by k, rounded to nearest, is the nearest D, and the bits shifted out
// give its distance from a: D x 10^-s reads back as a when it lies within
// half the gap to a's neighbours, |D x 2^k - m x 10^s| <= 10^s / 2 (the
// bound itself only when m is even: a tie reads as the even one).  The gaps
// on both sides are equal except at a power of two, which is left to the
// general search, and so is a value exactly halfway between two decimals;
// then the nearest decimal of n digits reads back whenever any of n digits
// does, so the first n that reads back is the shortest length, and the
// nearest of that length is the one std::to_chars writes.
//
// Fixed notation is what std::to_chars chooses at or above 0.001 for a value
// with a fraction (the exponent form is never shorter there).
//
// out needs kDoubleTextMax bytes, all of which may be written.
size_t write_common_double(char* out, double value) {
  static constexpr double kScale[] = {1e0, 1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,
                                      1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17};
  const double a = std::fabs(value);
  // (Below 10^15 the conversion to an integer is exact where a is whole.)
  if (!(a >= 1e-3 && a < 1e15)) return 0;  // also NaN
  const auto whole = static_cast<uint64_t>(static_cast<int64_t>(a));
  if (static_cast<double>(whole) == a) return 0;
  const int w = whole > 0 ? decimal_width(whole) : a >= 0.1 ? 0 : a >= 0.01 ? -1 : -2;
  const bool negative = std::bit_cast<uint64_t>(value) >> 63;
  int s = 15 - w;
  uint64_t digits = s > 0 ? static_cast<uint64_t>(a * kScale[s] + 0.5) : 0;
  if (s <= 0 || static_cast<double>(digits) / kScale[s] != a) {
    const auto bits = std::bit_cast<uint64_t>(a);
    constexpr uint64_t kHidden = uint64_t{1} << 52;
    const uint64_t m = (bits & (kHidden - 1)) | kHidden;
    if (m == kHidden) return 0;  // a power of two: the gap below is half the gap above
    const int k = 1075 - static_cast<int>(bits >> 52);  // 4 to 62 in this range
    const uint64_t half = uint64_t{1} << (k - 1), below_mask = (uint64_t{1} << k) - 1;
    for (int n = 16;; ++n) {
      if (n > 17) return 0;
      s = n - w;
      const auto product = static_cast<unsigned __int128>(m) * kPowersOf10[s];
      digits = static_cast<uint64_t>(product >> k);
      uint64_t distance = static_cast<uint64_t>(product) & below_mask;
      if (distance == half) return 0;  // halfway between two decimals
      if (distance > half) {
        ++digits;
        distance = below_mask + 1 - distance;
      }
      if (2 * distance + (m & 1) <= kPowersOf10[s]) break;  // at the bound only when m is even
    }
  } else if (whole > 0 && w < 8 && digits % 10000000 == 0) {
    // Eight digits or fewer (prices, measures): one word of digits, the
    // point put in between by shifts.
    const uint64_t word = detail::eight_digit_word(static_cast<uint32_t>(digits / 10000000));
    const int bits = 8 * w;
    const uint64_t text = (word & ((uint64_t{1} << bits) - 1)) | uint64_t{'.'} << bits | (word >> bits << 8) << bits;
    char* p = out;
    *p = '-';
    p += negative;
    detail::store_digit_word(p, text);
    p[8] = static_cast<char>(word >> 56);
    // The last digits are the word's high bytes; the fraction ends in one
    // that is not 0 (the value is not whole).
    return static_cast<size_t>(negative) + 9 - static_cast<size_t>(std::countl_zero(word - 0x3030303030303030ULL) / 8);
  }
  if (whole > 0) {
#if defined(__SSE2__)
    // D has n = w + s digits (15 to 17): the whole part is its first w,
    // the fraction the other s, of which the last is not 0 (the value is
    // not whole).  The last sixteen digits are made in one register; the
    // text is, byte i, D's digit i before the point (i < w), the point
    // (i == w), D's digit i - 1 after it: two shifts of the digits blended
    // under masks from the byte index.  A text longer than sixteen bytes
    // ends in digits of the fraction, which the second shift alone places:
    // those are stored first, at their place, and the blend over them.
    char* p = out;
    *p = '-';
    p += negative;
    int n = s + w;
    if (n == 15) {  // one more digit, a trailing zero, so that the sixteen are all D's
      digits *= 10;
      n = 16;
    }
    const uint64_t top = n == 17 ? digits / kPowersOf10[16] : 0;
    const __m128i last16 = detail::sixteen_digit_vector(digits - top * kPowersOf10[16]);
    __m128i whole_digits, fraction_digits;  // D's digit i, and i - 1, at byte i
    if (n == 16) {
      whole_digits = last16;
      fraction_digits = _mm_slli_si128(last16, 1);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 1), last16);
    } else {
      whole_digits = _mm_or_si128(_mm_slli_si128(last16, 1), _mm_cvtsi32_si128(static_cast<int>('0' + top)));
      fraction_digits = _mm_slli_si128(last16, 2);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 2), last16);
    }
    const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i point_at = _mm_set1_epi8(static_cast<char>(w));
    const __m128i before = _mm_cmplt_epi8(index, point_at), at = _mm_cmpeq_epi8(index, point_at);
    const __m128i text = _mm_or_si128(_mm_or_si128(_mm_and_si128(before, whole_digits),
                                                   _mm_andnot_si128(_mm_or_si128(before, at), fraction_digits)),
                                      _mm_and_si128(at, _mm_set1_epi8('.')));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), text);
    return static_cast<size_t>(negative) + static_cast<size_t>(n + 1 - detail::trailing_zero_digits(last16));
#else
    return 0;  // the general search
#endif
  }
  // "0.", the zeros of a value below 0.1, the n digits without trailing
  // zeros (written into a wider area: the digits' writer may use more
  // bytes than they take).
  char text[2 * kDoubleTextMax];
  text[0] = '-';
  char* p = text + negative;
  std::memcpy(p, "0.00", 4);
  p += 2 - w;
  p += write_decimal(p, digits);
  while (p[-1] == '0') --p;
  std::memcpy(out, text, kDoubleTextMax);
  return static_cast<size_t>(p - text);
}

}  // namespace

// Common values directly; everything else through the shortest search.
size_t write_double_text(char* out, double value) {
  if (size_t n = write_common_double(out, value)) return n;
  return write_shortest(out, value);
}

std::string double_text(double value) {
  char text[kDoubleTextMax];
  return std::string(text, write_double_text(text, value));
}

bool parse_decimal(std::string_view text, Decimal& out) {
  size_t at = 0, n = text.size();
  while (at < n && is_blank(text[at])) ++at;
  while (n > at && is_blank(text[n - 1])) --n;
  bool negative = false;
  if (at < n && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  std::string digits;
  int64_t exponent = 0;
  bool any = false, point = false;
  for (; at < n; ++at) {
    char c = text[at];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    any = true;
    if (c == '0' && digits.empty()) {
      if (point) --exponent;  // a leading zero after the point still moves it
      continue;
    }
    if (digits.size() > static_cast<size_t>(kMaxExponent)) return false;
    digits += c;
    if (point) --exponent;
  }
  if (!any) return false;
  if (at < n && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    bool exponent_negative = false;
    if (at < n && (text[at] == '+' || text[at] == '-')) exponent_negative = text[at++] == '-';
    if (at == n) return false;
    int64_t e = 0;
    for (; at < n && text[at] >= '0' && text[at] <= '9'; ++at) {
      e = e * 10 + (text[at] - '0');
      if (e > kMaxExponent) return false;
    }
    exponent += exponent_negative ? -e : e;
  }
  if (at != n) return false;
  if (digits.empty()) {
    out = Decimal{};
    return true;
  }
  size_t keep = digits.find_last_not_of('0') + 1;
  exponent += static_cast<int64_t>(digits.size() - keep);
  digits.resize(keep);
  out.negative = negative;
  out.digits = std::move(digits);
  out.exponent = exponent;
  return true;
}

bool decimal_to_int64(const Decimal& v, int64_t& out) {
  if (v.is_zero()) {
    out = 0;
    return true;
  }
  if (v.exponent < 0) return false;
  if (static_cast<int64_t>(v.digits.size()) + v.exponent > 19) return false;
  uint64_t magnitude = 0;
  for (char c : v.digits) magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
  for (int64_t i = 0; i < v.exponent; ++i) {
    if (magnitude > std::numeric_limits<uint64_t>::max() / 10) return false;
    magnitude *= 10;
  }
  uint64_t limit = v.negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  if (magnitude > limit) return false;
  out = v.negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

double decimal_to_double(const Decimal& v) {
  if (v.is_zero()) return v.negative ? -0.0 : 0.0;
  // Far outside the range of doubles: no need to build the text.
  int64_t magnitude = static_cast<int64_t>(v.digits.size()) + v.exponent;  // digits before the point
  if (magnitude > 400) return v.negative ? -HUGE_VAL : HUGE_VAL;
  if (magnitude < -400) return v.negative ? -0.0 : 0.0;
  std::string text = v.digits;
  text += 'e';
  text += std::to_string(v.exponent);
  double d = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), d);
  if (r.ec == std::errc::result_out_of_range) d = magnitude > 0 ? HUGE_VAL : 0.0;
  return v.negative ? -d : d;
}

std::string decimal_text(const Decimal& v, size_t max_plain) {
  if (v.is_zero()) return "0";
  std::string out = v.negative ? "-" : "";
  int64_t n = static_cast<int64_t>(v.digits.size());
  int64_t before_point = n + v.exponent;  // digits of the integer part
  size_t plain_length = out.size() + static_cast<size_t>(before_point > 0 ? before_point : 1) +
                        static_cast<size_t>(v.exponent < 0 ? 1 - v.exponent : 0);
  if (plain_length <= max_plain) {
    if (v.exponent >= 0) {
      out += v.digits;
      out.append(static_cast<size_t>(v.exponent), '0');
    } else if (before_point > 0) {
      out.append(v.digits, 0, static_cast<size_t>(before_point));
      out += '.';
      out.append(v.digits, static_cast<size_t>(before_point));
    } else {
      out += "0.";
      out.append(static_cast<size_t>(-before_point), '0');
      out += v.digits;
    }
    return out;
  }
  out += v.digits[0];
  if (n > 1) {
    out += '.';
    out.append(v.digits, 1);
  }
  int64_t e = before_point - 1;
  out += e < 0 ? "e-" : "e+";
  out += std::to_string(e < 0 ? -e : e);
  return out;
}

}  // namespace quarl
