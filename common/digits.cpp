#include "common/digits.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace quarl {

int write_decimal(char* dest, uint64_t value) {
  // Words of eight digits from the left (dest may be written to its
  // kDecimalTextMax bytes, so a word may run past the digits): the leading
  // digits moved to the front of their word, then whole words.
  const int n = decimal_width(value);
  if (n <= 8) {
    detail::store_digit_word(dest, detail::last_digits(detail::eight_digit_word(static_cast<uint32_t>(value)), n));
    return n;
  }
  const auto low = static_cast<uint32_t>(value % 100000000);
  value /= 100000000;
  if (n <= 16) {
    detail::store_digit_word(dest, detail::last_digits(detail::eight_digit_word(static_cast<uint32_t>(value)), n - 8));
  } else {
    detail::store_digit_word(
        dest, detail::last_digits(detail::eight_digit_word(static_cast<uint32_t>(value / 100000000)), n - 16));
    detail::store_digit_word(dest + n - 16, detail::eight_digit_word(static_cast<uint32_t>(value % 100000000)));
  }
  detail::store_digit_word(dest + n - 8, detail::eight_digit_word(low));
  return n;
}

int write_decimal(char* dest, int64_t value) {
  if (value >= 0) return write_decimal(dest, static_cast<uint64_t>(value));
  dest[0] = '-';
  return 1 + write_decimal(dest + 1, 0 - static_cast<uint64_t>(value));
}

void put_digits(char* dest, int width, uint64_t value) {
  if (width <= 0) return;
  if (width >= 20 || value < kPowersOf10[width]) {
    if (width > 20) {
      std::memset(dest, '0', static_cast<size_t>(width - 20));
      dest += width - 20;
      width = 20;
    }
    put_fixed_digits(dest, width, value);
    return;
  }
  // More digits than the field: its leading width digits.
  char text[kDecimalTextMax];
  write_decimal(text, value);
  std::memcpy(dest, text, static_cast<size_t>(width));
}

uint32_t get_digits(const char* src, int width) {
  uint32_t v = 0;
  for (int i = 0; i < width; ++i)
    v = v * 10u + static_cast<uint32_t>(static_cast<unsigned char>(src[i]) - '0');
  return v;
}

void put_hex_digits(char* dest, int width, uint32_t value) {
  for (int i = width - 1; i >= 0; --i, value >>= 4) dest[i] = "0123456789abcdef"[value & 15];
}

uint32_t get_hex_digits(const char* src, int width) {
  uint32_t v = 0;
  for (int i = 0; i < width; ++i) {
    char c = src[i];
    uint32_t d = 0;
    if (c >= '0' && c <= '9') d = static_cast<uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f') d = static_cast<uint32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') d = static_cast<uint32_t>(c - 'A' + 10);
    v = v * 16u + d;
  }
  return v;
}

int get_signed_digits(const char* src, int width, int32_t& out) {
  bool negative = src[0] == '-';
  uint32_t magnitude = get_digits(src + (negative ? 1 : 0), width);
  out = static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
  return width + (negative ? 1 : 0);
}

int get_signed_digits16(const char* src, int width, int16_t& out) {
  int32_t v = 0;
  int used = get_signed_digits(src, width, v);
  out = static_cast<int16_t>(v);
  return used;
}

int get_digits32(const char* src, int width, uint32_t& out) {
  out = get_digits(src, width);
  return width;
}

int put_signed_digits(char* dest, int width, int32_t value) {
  int at = 0;
  uint64_t magnitude = value < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(value))
                                 : static_cast<uint64_t>(value);
  if (value < 0) dest[at++] = '-';
  put_digits(dest + at, width, magnitude);
  return width + at;
}

int put_signed_digits16(char* dest, int width, int16_t value) {
  return put_signed_digits(dest, width, value);
}

int put_digits32(char* dest, int width, int32_t value) {
  if (width <= 0) return 0;
  // "%0*ld" cut to width: the sign first, then the magnitude padded to the
  // rest of the width (or its leading digits when it has more).
  char text[kDecimalTextMax + 1];
  int n = write_decimal(text, static_cast<int64_t>(value));
  if (n >= width) {
    std::memcpy(dest, text, static_cast<size_t>(width));
    return width;
  }
  int sign = value < 0 ? 1 : 0;
  if (sign) dest[0] = '-';
  std::memset(dest + sign, '0', static_cast<size_t>(width - n));
  std::memcpy(dest + width - (n - sign), text + sign, static_cast<size_t>(n - sign));
  return width;
}

uint32_t read_number_field(const char* src, int width) {
  int i = 0;
  while (i < width && src[i] == ' ') ++i;
  uint32_t v = 0;
  for (; i < width && src[i] >= '0' && src[i] <= '9'; ++i) v = v * 10u + static_cast<uint32_t>(src[i] - '0');
  return v;
}

std::string scaled_decimal(int64_t value, int scale, bool keep_zeros) {
  if (scale < 0) scale = 0;
  uint64_t magnitude = value < 0 ? 0u - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string digits = std::to_string(magnitude);
  if (digits.size() < static_cast<size_t>(scale) + 1)
    digits.insert(0, static_cast<size_t>(scale) + 1 - digits.size(), '0');
  std::string out;
  if (value < 0) out += '-';
  size_t split = digits.size() - static_cast<size_t>(scale);
  out.append(digits, 0, split);
  if (scale == 0) return out;
  std::string fraction = digits.substr(split);
  if (!keep_zeros) {
    size_t last = fraction.find_last_not_of('0');
    fraction = last == std::string::npos ? std::string() : fraction.substr(0, last + 1);
    if (fraction.empty()) return out;
  }
  out += '.';
  out += fraction;
  return out;
}

int format_scaled_decimal(char* dest, int64_t value, int scale, bool keep_zeros) {
  std::string text = scaled_decimal(value, scale, keep_zeros);
  std::memcpy(dest, text.c_str(), text.size() + 1);
  return static_cast<int>(text.size());
}

namespace {

// Drops trailing zeros of the fraction of a fixed or mantissa text; the point stays.
void trim_fraction_zeros(std::string& text) {
  size_t point = text.find('.');
  if (point == std::string::npos) return;
  size_t end = text.find_first_of("eE", point);
  if (end == std::string::npos) end = text.size();
  size_t keep = end;
  while (keep > point + 1 && text[keep - 1] == '0') --keep;
  text.erase(keep, end - keep);
}

// value in exponent form with 14 fraction digits, independent of the locale.
std::string scientific14(double value) {
  char text[48];
  auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 14);
  return std::string(text, r.ptr);
}

std::string exponent_form(double value) {
  std::string s = scientific14(value);
  size_t e = s.find('e');
  int exponent = std::atoi(s.c_str() + e + 1);
  std::string mantissa = s.substr(0, e);
  trim_fraction_zeros(mantissa);
  // "e", the sign and at least three digits.
  char tail[2 + kDecimalTextMax] = {'e', exponent < 0 ? '-' : '+'};
  auto magnitude = static_cast<uint64_t>(std::abs(exponent));
  int digits = decimal_width(magnitude) < 3 ? 3 : decimal_width(magnitude);
  put_fixed_digits(tail + 2, digits, magnitude);
  return mantissa + std::string(tail, static_cast<size_t>(2 + digits));
}

}  // namespace

std::optional<std::string> format_general15(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  if (value == 0.0) return std::string(std::signbit(value) ? "-0." : "0.");
  // The exponent after rounding to 15 significant digits decides the notation.
  std::string sci = scientific14(value);
  int exponent = std::atoi(sci.c_str() + sci.find('e') + 1);
  if (exponent < -1 || exponent > 14) return exponent_form(value);
  char text[48];
  auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 14 - exponent);
  std::string s(text, r.ptr);
  if (s.find('.') == std::string::npos) s += '.';
  trim_fraction_zeros(s);
  return s;
}

int format_double(char* dest, double value) {
  std::string text;
  if (std::isnan(value)) text = "nan";
  else if (std::isinf(value)) text = value < 0 ? "-inf" : "inf";
  else if (value == 0.0) text = exponent_form(value);
  else text = *format_general15(value);
  if (text.size() > 31) text.resize(31);
  std::memcpy(dest, text.c_str(), text.size() + 1);
  return static_cast<int>(text.size());
}

}  // namespace quarl
