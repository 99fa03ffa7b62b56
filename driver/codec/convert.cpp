#include "driver/codec/convert.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "common/digits.h"
#include "driver/codec/digits_fast.h"
#include "common/utf.h"

namespace quarl::codec {

namespace {

inline ConvertResult ok() { return {SQL_SUCCESS, std::nullopt}; }
inline ConvertResult truncated() { return {SQL_SUCCESS_WITH_INFO, Diag{kErrTruncated, kTruncatedText}}; }
ConvertResult out_of_range(int c_type) {
  return {SQL_ERROR, Diag{kErrGeneral, "Numeric value out of range for C type " + std::to_string(c_type)}};
}
ConvertResult unsupported(int sql_type, int c_type) {
  return {SQL_ERROR, Diag{kErrGeneral, "Cannot convert a column of SQL type " + std::to_string(sql_type) +
                                             " to C type " + std::to_string(c_type)}};
}

inline void set_length(SQLLEN* length, SQLLEN n) {
  if (length != nullptr) *length = n;
}

template <typename T>
inline ConvertResult put_fixed(SQLPOINTER target, SQLLEN* length, T value) {
  if (target != nullptr) std::memcpy(target, &value, sizeof value);
  set_length(length, sizeof value);
  return ok();
}

inline bool is_text_c(int c) { return c == SQL_C_CHAR || c == SQL_C_WCHAR; }

// A whole text into a SQL_C_CHAR or SQL_C_WCHAR buffer: cut to fit with its
// terminator (01004); the length is always the full length in bytes.
ConvertResult put_text(const char* text, size_t n, int c_type, SQLPOINTER target, SQLLEN size, SQLLEN* length) {
  if (c_type == SQL_C_WCHAR) {
    set_length(length, static_cast<SQLLEN>(2 * n));
    if (target == nullptr || size < 2) return n > 0 ? truncated() : ok();
    size_t room = static_cast<size_t>(size) / 2 - 1;
    size_t copy = n < room ? n : room;
    auto* out = static_cast<char*>(target);
    for (size_t i = 0; i <= copy; ++i) {
      uint16_t u = i < copy ? static_cast<unsigned char>(text[i]) : 0;
      std::memcpy(out + 2 * i, &u, 2);
    }
    return copy < n ? truncated() : ok();
  }
  set_length(length, static_cast<SQLLEN>(n));
  if (target == nullptr || size < 1) return n > 0 ? truncated() : ok();
  size_t room = static_cast<size_t>(size) - 1;
  size_t copy = n < room ? n : room;
  auto* out = static_cast<char*>(target);
  std::memcpy(out, text, copy);
  out[copy] = '\0';
  return copy < n ? truncated() : ok();
}

// Raw bytes into a SQL_C_BINARY buffer, cut to its size (01004).
ConvertResult put_binary(const void* bytes, size_t n, SQLPOINTER target, SQLLEN size, SQLLEN* length) {
  set_length(length, static_cast<SQLLEN>(n));
  size_t room = target == nullptr || size < 0 ? 0 : static_cast<size_t>(size);
  size_t copy = n < room ? n : room;
  if (copy > 0) std::memcpy(target, bytes, copy);
  return copy < n ? truncated() : ok();
}

// Decimal text of an integer; returns its length (at most 20).
inline size_t integer_text(char* out, int64_t value) {
  char tmp[24];
  size_t n = 0;
  uint64_t v = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    tmp[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  size_t at = 0;
  if (value < 0) out[at++] = '-';
  while (n > 0) out[at++] = tmp[--n];
  return at;
}

// An integer into the numeric C types; nullopt for C types that are not numeric.
std::optional<ConvertResult> put_integer(int64_t v, int c_type, SQLPOINTER target, SQLLEN* length) {
  auto fits = [&](int64_t lo, int64_t hi) { return v >= lo && v <= hi; };
  switch (c_type) {
    case SQL_C_DOUBLE: return put_fixed(target, length, static_cast<double>(v));
    case SQL_C_FLOAT: return put_fixed(target, length, static_cast<float>(v));
    case SQL_C_LONG:
    case SQL_C_SLONG:
      if (!fits(INT32_MIN, INT32_MAX)) return out_of_range(c_type);
      return put_fixed(target, length, static_cast<int32_t>(v));
    case SQL_C_ULONG:
      if (!fits(0, UINT32_MAX)) return out_of_range(c_type);
      return put_fixed(target, length, static_cast<uint32_t>(v));
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
      if (!fits(INT16_MIN, INT16_MAX)) return out_of_range(c_type);
      return put_fixed(target, length, static_cast<int16_t>(v));
    case SQL_C_USHORT:
      if (!fits(0, UINT16_MAX)) return out_of_range(c_type);
      return put_fixed(target, length, static_cast<uint16_t>(v));
    case SQL_C_TINYINT:
    case SQL_C_STINYINT:
      if (!fits(INT8_MIN, INT8_MAX)) return out_of_range(c_type);
      return put_fixed(target, length, static_cast<int8_t>(v));
    case SQL_C_UTINYINT:
      if (!fits(0, UINT8_MAX)) return out_of_range(c_type);
      return put_fixed(target, length, static_cast<uint8_t>(v));
    case SQL_C_BIT:
      if (!fits(0, 1)) return out_of_range(c_type);
      return put_fixed(target, length, static_cast<unsigned char>(v));
    case SQL_C_SBIGINT: return put_fixed(target, length, static_cast<int64_t>(v));
    case SQL_C_UBIGINT:
      if (v < 0) return out_of_range(c_type);
      return put_fixed(target, length, static_cast<uint64_t>(v));
    default: return std::nullopt;
  }
}

// A real number into the numeric C types: integer types take it truncated
// toward zero when that fits.
std::optional<ConvertResult> put_real(double d, int c_type, SQLPOINTER target, SQLLEN* length) {
  if (c_type == SQL_C_DOUBLE) return put_fixed(target, length, d);
  if (c_type == SQL_C_FLOAT) {
    if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) return out_of_range(c_type);
    return put_fixed(target, length, static_cast<float>(d));
  }
  double t = std::trunc(d);
  if (!(t >= -9.2e18 && t <= 9.2e18)) {  // also NaN
    if (put_integer(0, c_type, nullptr, nullptr)) return out_of_range(c_type);
    return std::nullopt;
  }
  return put_integer(static_cast<int64_t>(t), c_type, target, length);
}

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                              1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A run of decimal digits at p (before end) added to m; returns the first
// byte after it.  With `wide`, eight at a time while eight are there (for the
// long runs of fractions; integer parts are mostly short).  m may wrap past
// 19 digits: the caller refuses those.
template <bool wide>
inline const unsigned char* digit_run(const unsigned char* p, const unsigned char* end, uint64_t& m) {
  if constexpr (wide) {
    uint32_t eight;
    while (end - p >= 8 && parse8(reinterpret_cast<const char*>(p), eight)) m = m * 100000000u + eight, p += 8;
  }
  unsigned d;
  while (p < end && (d = *p - 0x30u) <= 9) m = m * 10 + d, ++p;
  return p;
}

// m / 10^fraction rounded once to double, for any m below 2^64: where long
// double carries a 64-bit significand, m and 10^fraction (fraction <= 22)
// are exact in it and the quotient is rounded once to 64 bits; rounding that
// to the double's 53 bits gives the correctly rounded value unless the
// quotient lies exactly on a midpoint between two doubles (low 11 bits
// 0x400), where the true value may lie on either side: false then.
inline bool divide_wide(uint64_t m, size_t fraction, double& out) {
#if defined(__x86_64__) || defined(__i386__)
  if constexpr (std::numeric_limits<long double>::digits == 64) {
    long double q = static_cast<long double>(m) / static_cast<long double>(kPow10[fraction]);
    uint64_t significand;
    std::memcpy(&significand, &q, 8);  // x87 extended: the 64-bit significand comes first
    if ((significand & 0x7FF) == 0x400) return false;
    out = static_cast<double>(q);
    return true;
  }
#endif
  (void)m, (void)fraction, (void)out;
  return false;
}

// Plain decimal text (sign, digits, point, digits) with at most 19 digits and
// at most 22 of them after the point: the digits make an integer m below
// 10^19, and m / 10^fraction is rounded once (exact doubles divided when m is
// at most 2^53, else divide_wide).  false for any other text, and where the
// value cannot be rounded here.
bool exact_decimal(const char* text, size_t n, double& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const auto* const end = p + n;
  if (p == end) return false;
  bool negative = *p == '-';
  p += negative;
  const auto* const first = p;
  uint64_t m = 0;
  p = digit_run<false>(p, end, m);
  size_t digits = static_cast<size_t>(p - first), fraction = 0;
  if (p < end && *p == '.') {
    const auto* const point = ++p;
    p = digit_run<true>(p, end, m);
    fraction = static_cast<size_t>(p - point);
    digits += fraction;
  }
  if (p != end || digits == 0 || digits > 19 || fraction > 22) return false;
  double v;
  if (m <= (uint64_t{1} << 53)) {
    v = static_cast<double>(m) / kPow10[fraction];
  } else if (!divide_wide(m, fraction, v)) {
    return false;
  }
  out = negative ? -v : v;
  return true;
}

// The stored decimal text of a DOUBLE column (NUL-terminated) as a double
// (the C library's reading, independent of the locale; text without a number
// gives 0).
double double_of(const char* text, size_t n) {
  double d = 0;
  if (exact_decimal(text, n, d)) return d;
  size_t at = 0;
  while (at < n && text[at] == ' ') ++at;
  if (at < n && text[at] == '+') ++at;
  auto r = std::from_chars(text + at, text + n, d);
  if (r.ec == std::errc::result_out_of_range) {
    // Too small gives 0, too large an infinity, as the C library does.
    bool negative = text[at] == '-';
    size_t e = std::string_view(text, n).find_first_of("eE");
    bool tiny = e != std::string_view::npos && e + 1 < n && text[e + 1] == '-';
    return tiny ? 0.0 : (negative ? -HUGE_VAL : HUGE_VAL);
  }
  return r.ec == std::errc() ? d : 0.0;
}

struct Stamp {
  uint16_t f[6];  // year, month, day, hour, minute, second
  uint32_t fraction;
};

inline Stamp read_stamp(const unsigned char* slot, int sql_type) {
  Stamp s{};
  if (sql_type == SQL_TIME) {
    std::memcpy(&s.f[3], slot, 6);
  } else {
    std::memcpy(&s.f[0], slot, 6);
    if (sql_type == SQL_TIMESTAMP) {
      std::memcpy(&s.f[3], slot + 6, 6);
      std::memcpy(&s.fraction, slot + 12, 4);
    }
  }
  return s;
}

// "yyyy-mm-dd", "hh:mm:ss" or "yyyy-mm-dd hh:mm:ss.fffffffff".
size_t stamp_text(char* out, const Stamp& s, int sql_type) {
  size_t at = 0;
  if (sql_type != SQL_TIME) {
    put_digits(out, 4, s.f[0]);
    out[4] = '-';
    put_digits(out + 5, 2, s.f[1]);
    out[7] = '-';
    put_digits(out + 8, 2, s.f[2]);
    at = 10;
    if (sql_type == SQL_TIMESTAMP) out[at++] = ' ';
  }
  if (sql_type != SQL_DATE) {
    put_digits(out + at, 2, s.f[3]);
    out[at + 2] = ':';
    put_digits(out + at + 3, 2, s.f[4]);
    out[at + 5] = ':';
    put_digits(out + at + 6, 2, s.f[5]);
    at += 8;
  }
  if (sql_type == SQL_TIMESTAMP) {
    out[at++] = '.';
    put_digits(out + at, 9, s.fraction);
    at += 9;
  }
  return at;
}

// The next piece of a character value.
ConvertResult char_piece(ColumnDescriptor& c, const unsigned char* slot, int c_type, SQLPOINTER target, SQLLEN size,
                         SQLLEN* length) {
  size_t total = static_cast<size_t>(c.value_length);
  size_t done = c.returned_count < total ? c.returned_count : total;
  size_t remaining = total - done;
  if (remaining == 0 && c.piece_returned) return {SQL_NO_DATA_FOUND, std::nullopt};
  c.piece_returned = true;
  const char* src = reinterpret_cast<const char*>(slot) + done;
  size_t copied;
  if (c_type == SQL_C_WCHAR) {
    // Lengths in bytes of UTF-16; a character is never split between pieces.
    set_length(length, static_cast<SQLLEN>(2 * utf16_units_of(src, remaining)));
    if (target == nullptr || size < 2) return remaining > 0 ? truncated() : ok();
    WideCopy w = utf8_to_utf16(src, remaining, target, static_cast<size_t>(size) / 2 - 1);
    std::memset(static_cast<char*>(target) + 2 * w.units, 0, 2);
    copied = w.src_used;
  } else {
    set_length(length, static_cast<SQLLEN>(remaining));
    if (target == nullptr || size < 1) return remaining > 0 ? truncated() : ok();
    size_t room = static_cast<size_t>(size) - 1;
    copied = remaining < room ? remaining : room;
    std::memcpy(target, src, copied);
    static_cast<char*>(target)[copied] = '\0';
  }
  c.returned_count = static_cast<uint16_t>(done + copied);
  return copied < remaining ? truncated() : ok();
}

ConvertResult convert_null(const ColumnDescriptor& c, int c_type, SQLPOINTER target, SQLLEN size, SQLLEN* length) {
  if (length == nullptr) return {SQL_ERROR, Diag{kErrIndicatorRequired, {}}};
  *length = SQL_NULL_DATA;
  if (target == nullptr) return ok();
  switch (c.sql_type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
      if (c_type == SQL_C_WCHAR) {
        if (size >= 2) std::memset(target, 0, 2);
      } else if (size >= 1) {
        *static_cast<char*>(target) = '\0';
      }
      break;
    case SQL_DATE:
      if (c_type == SQL_C_DATE || c_type == SQL_C_DEFAULT) std::memset(target, 0, sizeof(DATE_STRUCT));
      break;
    default: break;
  }
  return ok();
}

}  // namespace

double detail::double_text_value(const unsigned char* slot) {
  return double_of(reinterpret_cast<const char*>(slot), double_text_length(slot));
}

ConvertResult detail::convert_general(ColumnDescriptor& c, SQLSMALLINT c_type_in, SQLPOINTER target, SQLLEN size,
                                      SQLLEN* length, const unsigned char* row_buffer, const ConvertOptions& options) {
  int c_type = odbc2_datetime(c_type_in);
  if (c.value_length < 0) return convert_null(c, c_type, target, size, length);
  const unsigned char* slot = row_buffer + c.row_offset;
  char text[160];

  switch (c.sql_type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
      return char_piece(c, slot, c_type, target, size, length);

    case SQL_INTEGER:
    case SQL_SMALLINT: {
      int64_t v;
      if (c.sql_type == SQL_INTEGER) {
        int32_t i;
        std::memcpy(&i, slot, 4);
        v = i;
        if (c_type == SQL_C_LONG || c_type == SQL_C_SLONG || c_type == SQL_C_DEFAULT)
          return put_fixed(target, length, i);
      } else {
        int16_t s;
        std::memcpy(&s, slot, 2);
        v = s;
        if (c_type == SQL_C_SHORT || c_type == SQL_C_SSHORT || c_type == SQL_C_DEFAULT)
          return put_fixed(target, length, s);
      }
      if (is_text_c(c_type)) return put_text(text, integer_text(text, v), c_type, target, size, length);
      if (auto r = put_integer(v, c_type, target, length)) return *r;
      size_t width = c.sql_type == SQL_INTEGER ? 4 : 2;
      if (c_type == SQL_C_BINARY) return put_binary(slot, width, target, size, length);
      // Any other C type (structures of at least this size) takes the raw value.
      if (target != nullptr) std::memcpy(target, slot, width);
      set_length(length, static_cast<SQLLEN>(width));
      return ok();
    }

    case SQL_DOUBLE: {
      const char* stored = reinterpret_cast<const char*>(slot);
      size_t n = double_text_length(slot);
      if (is_text_c(c_type)) return put_text(stored, n, c_type, target, size, length);
      double d = double_of(stored, n);
      if (c_type == SQL_C_DEFAULT) return put_fixed(target, length, d);
      if (auto r = put_real(d, c_type, target, length)) return *r;
      return unsupported(c.sql_type, c_type_in);
    }

    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP: {
      Stamp s = read_stamp(slot, c.sql_type);
      if (is_text_c(c_type)) return put_text(text, stamp_text(text, s, c.sql_type), c_type, target, size, length);
      if (c_type == SQL_C_DEFAULT) c_type = c.sql_type;  // the column's own structure
      if (c_type == SQL_C_DATE && c.sql_type != SQL_TIME) {
        DATE_STRUCT out{static_cast<SQLSMALLINT>(s.f[0]), s.f[1], s.f[2]};
        return put_fixed(target, length, out);
      }
      if (c_type == SQL_C_TIME && c.sql_type != SQL_DATE) {
        TIME_STRUCT out{s.f[3], s.f[4], s.f[5]};
        if (c.sql_type == SQL_TIMESTAMP && s.fraction >= 500000000) {
          // Rounded to the nearest second; the hour wraps, the date stays.
          if (++out.second == 60) {
            out.second = 0;
            if (++out.minute == 60) {
              out.minute = 0;
              if (++out.hour == 24) out.hour = 0;
            }
          }
        }
        return put_fixed(target, length, out);
      }
      if (c_type == SQL_C_TIMESTAMP) {
        TIMESTAMP_STRUCT out{};
        out.year = static_cast<SQLSMALLINT>(s.f[0]), out.month = s.f[1], out.day = s.f[2];
        out.hour = s.f[3], out.minute = s.f[4], out.second = s.f[5], out.fraction = s.fraction;
        return put_fixed(target, length, out);
      }
      return unsupported(c.sql_type, c_type_in);
    }

    case SQL_BIT: {
      int64_t v = *slot;
      if (is_text_c(c_type)) return put_text(text, integer_text(text, v), c_type, target, size, length);
      if (c_type == SQL_C_DEFAULT) c_type = SQL_C_BIT;
      if (auto r = put_integer(v, c_type, target, length)) return *r;
      return unsupported(c.sql_type, c_type_in);
    }

    case SQL_NUMERIC: {
      int32_t v;
      std::memcpy(&v, slot, 4);
      if (is_text_c(c_type) || c_type == SQL_C_DEFAULT) {
        int n = format_scaled_decimal(text, v, c.scale, options.numeric_trailing_zeros);
        return put_text(text, static_cast<size_t>(n), c_type == SQL_C_WCHAR ? SQL_C_WCHAR : SQL_C_CHAR, target,
                        size, length);
      }
      if (c_type == SQL_C_DOUBLE) {
        double d = v;
        for (int k = 0; k < c.scale; ++k) d /= 10;
        return put_fixed(target, length, d);
      }
      if (c_type == SQL_C_FLOAT) {
        float f = static_cast<float>(v);
        for (int k = 0; k < c.scale; ++k) f /= 10;
        return put_fixed(target, length, f);
      }
      // Integer C types take the value truncated toward zero.
      int64_t whole = v;
      for (int k = 0; k < c.scale && whole != 0; ++k) whole /= 10;
      if (auto r = put_integer(whole, c_type, target, length)) return *r;
      return unsupported(c.sql_type, c_type_in);
    }

    default:
      return unsupported(c.sql_type, c_type_in);
  }
}

}  // namespace quarl::codec
