// Numbers as text, the way both sides of the wire write and read them:
// doubles in their shortest exact form, and decimal numbers read exactly
// (no rounding through binary floating point) so that integers of 64 bits
// and decimal fractions keep every digit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarl {

// The longest text write_double_text produces: "-2.2250738585072014e-308".
inline constexpr size_t kDoubleTextMax = 24;

// The shortest decimal text that reads back as value, in the notation
// std::to_chars chooses ("0.1", "1e+308", "5e-324", "-0", "123456789");
// "inf", "-inf" and "nan" for values without digits.  out needs
// kDoubleTextMax bytes, all of which may be written; nothing is terminated.
// Returns the length.
size_t write_double_text(char* out, double value);
std::string double_text(double value);

// A decimal number read exactly: the value is (negative ? -1 : 1) x digits
// x 10^exponent.  digits holds the significant digits without leading or
// trailing zeros; it is empty for zero.
struct Decimal {
  bool negative = false;
  std::string digits;
  int64_t exponent = 0;

  bool is_zero() const { return digits.empty(); }
  // Digits after the decimal point in plain notation.
  int64_t fraction_digits() const { return exponent < 0 ? -exponent : 0; }
  // Moves the decimal point: the value times 10^places.
  void shift(int64_t places) {
    if (!digits.empty()) exponent += places;
  }
};

// [blanks] [sign] digits [. [digits]] [(e|E) [sign] digits] [blanks], with at
// least one digit before or after the point.  Anything else (and exponents
// beyond a million) is no number: false.
bool parse_decimal(std::string_view text, Decimal& out);

// The value as a 64-bit integer: false when it has a fraction or lies
// outside the range.
bool decimal_to_int64(const Decimal& value, int64_t& out);

// The nearest double (correctly rounded); infinities beyond the range,
// zero below it.
double decimal_to_double(const Decimal& value);

// Plain notation ("-123.45", "0.001", "1200", "0") while that takes at most
// max_plain characters, else one digit, point, the other digits and an
// exponent ("1.5e+300", "-2e-50").
std::string decimal_text(const Decimal& value, size_t max_plain = 40);

}  // namespace quarl
