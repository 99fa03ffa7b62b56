#include "driver/codec/value.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "common/digits.h"
#include "common/number_text.h"
#include "driver/codec/digits_fast.h"
#include "driver/codec/double_text.h"

namespace quarl::codec {

namespace {

// A run of decimal digits at p (before end) added to m; returns the first
// byte after it.  With `wide`, eight at a time while eight are there (for the
// long runs of fractions; integer parts are mostly short); then four at a
// time when four are there.  m may wrap past 19 digits: the caller refuses
// those.
template <bool wide>
inline const unsigned char* digit_run(const unsigned char* p, const unsigned char* end, uint64_t& m) {
  if constexpr (wide) {
    uint32_t eight;
    while (end - p >= 8 && parse8(reinterpret_cast<const char*>(p), eight)) m = m * 100000000u + eight, p += 8;
  }
  uint32_t four;
  if (end - p >= 4 && parse4(reinterpret_cast<const char*>(p), four)) m = m * 10000u + four, p += 4;
  unsigned d;
  while (p < end && (d = *p - 0x30u) <= 9) m = m * 10 + d, ++p;
  return p;
}

// Plain decimal text (sign, digits, point, digits) with at most 19 digits and
// at most 22 of them after the point: the digits make an integer m below
// 10^19, and m / 10^fraction is rounded once (exact doubles divided when m is
// at most 2^53, else divide_wide).  false for any other text, and where the
// value cannot be rounded here.
inline bool exact_decimal(const char* text, size_t n, double& out) {
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
  return rounded_quotient(m, fraction, negative, out);
}

// The stored decimal text of a DOUBLE column as a double
// (the C library's reading, independent of the locale; text without a number
// gives 0).
[[gnu::noinline]] double double_of(const char* text, size_t n) {
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

// A plain integer text ("-123"): its value, when it fits 64 bits.
bool integer_text(const char* text, size_t n, int64_t& out) {
  size_t at = text[0] == '-' ? 1 : 0;
  if (n == at || n - at > 19) return false;
  uint64_t v = 0;
  for (size_t i = at; i < n; ++i) {
    unsigned d = static_cast<unsigned char>(text[i]) - '0';
    if (d > 9) return false;
    v = v * 10 + d;
  }
  uint64_t limit = at ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  if (v > limit) return false;
  out = at ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
  return true;
}

std::string integer_digits(const Value& v) {
  char text[kDecimalTextMax];
  int n = v.above_int64 ? write_decimal(text, v.big) : write_decimal(text, v.integer);
  return std::string(text, static_cast<size_t>(n));
}

}  // namespace

bool divide_wide(uint64_t m, size_t fraction, double& out) {
#if defined(__x86_64__) || defined(__i386__)
  if constexpr (std::numeric_limits<long double>::digits == 64) {
    long double q = static_cast<long double>(m) / static_cast<long double>(kExactPow10[fraction]);
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

double double_text_value(const unsigned char* slot) {
  double d;
  if (double_text_quick(slot, d)) return d;
  return double_of(stored_double_text(slot), double_text_length(slot));
}

Value column_value(const ColumnDescriptor& c, const unsigned char* slot) {
  Value v;
  switch (c.sql_type) {
    case SQL_BIT: v.integer = *slot; break;
    case SQL_SMALLINT: {
      int16_t s;
      std::memcpy(&s, slot, 2);
      v.integer = s;
      break;
    }
    case SQL_INTEGER: {
      int32_t i;
      std::memcpy(&i, slot, 4);
      v.integer = i;
      break;
    }
    case SQL_BIGINT: v.integer = whole_value(c, slot); break;
    case SQL_NUMERIC:
      v.kind = Value::Kind::Decimal;
      v.integer = whole_value(c, slot);
      v.scale = c.scale;
      break;
    case SQL_DOUBLE: {
      v.kind = Value::Kind::Real;
      const char* text = stored_double_text(slot);
      size_t n = double_text_length(slot);
      v.text = std::string_view(text, n);
      v.real = double_of(text, n);
      v.exact_integer = integer_text(text, n, v.integer);
      break;
    }
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP: {
      uint16_t f[6] = {};
      if (c.sql_type == SQL_TIME) {
        std::memcpy(&f[3], slot, 6);
        v.kind = Value::Kind::Time;
      } else {
        std::memcpy(&f[0], slot, 6);
        v.kind = Value::Kind::Date;
        if (c.sql_type == SQL_TIMESTAMP) {
          v.kind = Value::Kind::Timestamp;
          std::memcpy(&f[3], slot + 6, 6);
          std::memcpy(&v.stamp.fraction, slot + 12, 4);
          v.fraction_digits = c.scale > 9 ? 9 : c.scale;
        }
      }
      v.stamp.year = f[0], v.stamp.month = f[1], v.stamp.day = f[2];
      v.stamp.hour = f[3], v.stamp.minute = f[4], v.stamp.second = f[5];
      break;
    }
    default: break;
  }
  return v;
}

int default_c_type(int sql_type) {
  switch (sql_type) {
    case SQL_BIT: return SQL_C_BIT;
    case SQL_BIGINT: return SQL_C_SBIGINT;
    case SQL_INTEGER: return SQL_C_SLONG;
    case SQL_SMALLINT: return SQL_C_SSHORT;
    case SQL_TINYINT: return SQL_C_STINYINT;
    case SQL_REAL: return SQL_C_FLOAT;
    case SQL_FLOAT:
    case SQL_DOUBLE: return SQL_C_DOUBLE;
    case SQL_DATE:
    case SQL_TYPE_DATE: return SQL_C_DATE;
    case SQL_TIME:
    case SQL_TYPE_TIME: return SQL_C_TIME;
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP: return SQL_C_TIMESTAMP;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return SQL_C_BINARY;
    default: return SQL_C_CHAR;  // character, NUMERIC and DECIMAL
  }
}

ValueText text_of(const Value& v, bool numeric_trailing_zeros) {
  ValueText t;
  switch (v.kind) {
    case Value::Kind::Integer: t.text = integer_digits(v); break;
    case Value::Kind::Decimal: t.text = scaled_decimal(v.integer, v.scale, numeric_trailing_zeros); break;
    case Value::Kind::Real:
      t.text = v.text.empty() ? double_text(v.real) : std::string(v.text);
      if (t.text.find_first_not_of("-+.0123456789") != std::string::npos) {
        t.keep = t.text.size();  // an exponent or no digits at all: every character counts
        return t;
      }
      break;
    case Value::Kind::Text:
      t.text = std::string(v.text);
      return t;
    case Value::Kind::Date: {
      char out[10];
      t.text.assign(out, write_date_text(out, v.stamp));
      t.keep = t.text.size();
      return t;
    }
    case Value::Kind::Time: {
      char out[8];
      t.text.assign(out, write_time_text(out, v.stamp));
      t.keep = t.text.size();
      return t;
    }
    case Value::Kind::Timestamp: {
      char out[kTimestampTextMax];
      t.text.assign(out, write_timestamp_text(out, v.stamp, v.fraction_digits));
      t.keep = 19;
      return t;
    }
  }
  // Numbers: the digits before the point must survive.
  size_t point = t.text.find('.');
  t.keep = point == std::string::npos ? t.text.size() : point;
  return t;
}

std::optional<Diag> whole_of(const Value& v, Whole& out) {
  out = Whole{};
  auto range = [] { return Diag{kErrOutOfRange, {}}; };
  switch (v.kind) {
    case Value::Kind::Integer:
      if (v.above_int64) {
        out.unsigned_big = true;
        out.value = static_cast<int64_t>(v.big);
      } else {
        out.value = v.integer;
        out.negative = v.integer < 0;
      }
      return std::nullopt;
    case Value::Kind::Decimal: {
      int64_t unit = 1;
      for (int k = 0; k < v.scale && k < 18; ++k) unit *= 10;
      out.value = v.integer / unit;
      out.fraction = v.integer % unit != 0;
      out.negative = v.integer < 0;
      return std::nullopt;
    }
    case Value::Kind::Real: {
      out.negative = v.real < 0;
      if (v.exact_integer) {
        out.value = v.integer;
        return std::nullopt;
      }
      if (std::isnan(v.real)) return range();
      double t = std::trunc(v.real);
      out.fraction = t != v.real;
      if (t >= -9223372036854775808.0 && t < 9223372036854775808.0) {
        out.value = static_cast<int64_t>(t);
      } else if (t >= 0 && t < 18446744073709551616.0) {
        out.unsigned_big = true;
        out.value = static_cast<int64_t>(static_cast<uint64_t>(t));
      } else {
        return range();
      }
      return std::nullopt;
    }
    case Value::Kind::Text: {
      Decimal d;
      if (!parse_decimal(v.text, d)) return Diag{kErrInvalidCharacter, "Invalid character value for a number"};
      out.negative = d.negative && !d.is_zero();
      if (d.exponent < 0) {
        // The digits after the point go; the last of them is never 0.
        size_t drop = static_cast<size_t>(d.fraction_digits());
        out.fraction = true;
        d.digits.resize(d.digits.size() > drop ? d.digits.size() - drop : 0);
        d.exponent = 0;
      }
      if (d.digits.empty()) return std::nullopt;
      if (decimal_to_int64(d, out.value)) return std::nullopt;
      // Past INT64_MAX, an unsigned 64-bit value may still hold it.
      if (!d.negative && static_cast<int64_t>(d.digits.size()) + d.exponent <= 20) {
        uint64_t u = 0;
        bool fits = true;
        std::string all = d.digits + std::string(static_cast<size_t>(d.exponent), '0');
        for (char c : all) {
          uint64_t digit = static_cast<uint64_t>(c - '0');
          if (u > (UINT64_MAX - digit) / 10) fits = false;
          else u = u * 10 + digit;
        }
        if (fits) {
          out.unsigned_big = true;
          out.value = static_cast<int64_t>(u);
          return std::nullopt;
        }
      }
      return range();
    }
    default: return Diag{kErrRestrictedType, {}};
  }
}

std::optional<Diag> real_of(const Value& v, double& out) {
  switch (v.kind) {
    case Value::Kind::Integer:
      out = v.above_int64 ? static_cast<double>(v.big) : static_cast<double>(v.integer);
      return std::nullopt;
    case Value::Kind::Decimal: {
      if (v.scale == 0) {
        out = static_cast<double>(v.integer);
        return std::nullopt;
      }
      Decimal d;
      parse_decimal(scaled_decimal(v.integer, v.scale, true), d);
      out = decimal_to_double(d);
      return std::nullopt;
    }
    case Value::Kind::Real: out = v.real; return std::nullopt;
    case Value::Kind::Text: {
      Decimal d;
      if (!parse_decimal(v.text, d)) return Diag{kErrInvalidCharacter, "Invalid character value for a number"};
      out = decimal_to_double(d);
      // Beyond a double's range the nearest double is an infinity: refused
      // rather than handed on as a number.
      if (!std::isfinite(out)) return Diag{kErrOutOfRange, "Numeric value out of range"};
      return std::nullopt;
    }
    default: return Diag{kErrRestrictedType, {}};
  }
}

std::optional<Diag> stamp_of_text(std::string_view text, Value::Kind wanted, Value& out) {
  StampText t;
  bool ok = parse_stamp_text(text, t);
  if (ok && wanted == Value::Kind::Time) ok = t.has_time;
  if (ok && wanted != Value::Kind::Time) ok = t.has_date;
  if (!ok) return Diag{kErrDatetimeOverflow, "Invalid date, time or timestamp text"};
  out.kind = t.has_date ? (t.has_time ? Value::Kind::Timestamp : Value::Kind::Date) : Value::Kind::Time;
  out.stamp = t.stamp;
  return std::nullopt;
}

}  // namespace quarl::codec
