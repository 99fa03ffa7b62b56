#include "driver/codec/param_entry.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "common/digits.h"
#include "common/utf.h"

namespace quarl::codec {

namespace {

template <typename... Args>
Diag param_diag(const char* format, Args... args) {
  char text[160];
  std::snprintf(text, sizeof text, format, args...);
  return Diag{kErrGeneral, text};
}

Diag unsupported(const ParamRecord& p) {
  return param_diag("Unsupported setparam conversion fCType=%d, fSqlType=%d", p.c_type, p.sql_type);
}

// The SQL type code as it travels: wide character types as their single-byte
// equivalents, ODBC 3 date and time codes as ODBC 2 ones, FLOAT as DOUBLE.
// BIGINT is decided by the value (INTEGER or DOUBLE); a NULL goes as INTEGER.
int wire_type_of(int sql_type) {
  switch (sql_type) {
    case SQL_FLOAT: return SQL_DOUBLE;
    case SQL_WCHAR: return SQL_CHAR;
    case SQL_WVARCHAR: return SQL_VARCHAR;
    case SQL_WLONGVARCHAR: return SQL_LONGVARCHAR;
    default: return odbc2_datetime(sql_type);
  }
}

void append_digits(std::string& out, int width, uint64_t value) {
  char buf[24];
  put_digits(buf, width, value);
  out.append(buf, static_cast<size_t>(width));
}

void append_header(std::string& out, int number, int wire_type, const ParamRecord& p, bool null) {
  append_digits(out, 4, static_cast<uint64_t>(number));
  if (wire_type < 0) out += '-';
  append_digits(out, 2, static_cast<uint64_t>(wire_type < 0 ? -wire_type : wire_type));
  append_digits(out, 4, p.precision);
  append_digits(out, 2, p.scale < 0 ? 0u : static_cast<uint64_t>(p.scale));
  out += null ? '1' : '0';
}

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The C library's decimal conversion of a string (leading white space, sign,
// digits, point, exponent), independent of the locale.  Text without a
// number gives 0; false for a magnitude that no double holds.
bool text_to_double(std::string_view s, double& out) {
  size_t at = 0;
  while (at < s.size() && is_space(s[at])) ++at;
  if (at < s.size() && s[at] == '+' && !(at + 1 < s.size() && s[at + 1] == '-')) ++at;
  out = 0;
  auto r = std::from_chars(s.data() + at, s.data() + s.size(), out);
  if (r.ec == std::errc::result_out_of_range) return false;
  if (r.ec != std::errc()) out = 0;
  return true;
}

// Leading white space, a sign and decimal digits.  False when the magnitude
// passes 64 bits' worth; text without digits gives 0.
bool text_to_integer(std::string_view s, int64_t& out) {
  size_t at = 0;
  while (at < s.size() && is_space(s[at])) ++at;
  bool negative = false;
  if (at < s.size() && (s[at] == '+' || s[at] == '-')) negative = s[at++] == '-';
  uint64_t v = 0;
  for (; at < s.size() && s[at] >= '0' && s[at] <= '9'; ++at) {
    if (v > (static_cast<uint64_t>(INT64_MAX) - 9) / 10) return false;
    v = v * 10 + static_cast<uint64_t>(s[at] - '0');
  }
  out = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
  return true;
}

template <typename T>
T read_value(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The character value of the parameter (SQL_C_CHAR, or SQL_C_WCHAR converted
// to UTF-8 into storage).
std::optional<Diag> char_value(int number, const ParamRecord& p, bool wide, std::string& storage,
                               std::string_view& out) {
  SQLLEN length = p.length != nullptr ? *p.length : SQL_NTS;
  if (length == SQL_NTS) {
    length = wide ? static_cast<SQLLEN>(2 * utf16_length(p.value))
                  : static_cast<SQLLEN>(std::strlen(static_cast<const char*>(p.value)));
  } else if (length < 0) {
    return param_diag("Parameter %d: length %ld is not supported (no data at execution)", number,
                      static_cast<long>(length));
  }
  if (!wide) {
    out = std::string_view(static_cast<const char*>(p.value), static_cast<size_t>(length));
    return std::nullopt;
  }
  if (length % 2 != 0)
    return param_diag("Parameter %d: wide character data of odd length %ld", number, static_cast<long>(length));
  size_t bad = 0;
  if (!utf16_to_utf8(p.value, static_cast<size_t>(length) / 2, storage, bad))
    return param_diag("Parameter %d: unpaired surrogate at character %lu", number,
                      static_cast<unsigned long>(bad + 1));
  out = storage;
  return std::nullopt;
}

// A 64-bit integer value; nullopt for an unsigned one above INT64_MAX.
std::optional<int64_t> integer_value(const ParamRecord& p, int c_type) {
  if (c_type == SQL_C_UBIGINT) {
    uint64_t v = read_value<uint64_t>(p.value);
    if (v > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<int64_t>(v);
  }
  if (c_type == SQL_C_LONG || c_type == SQL_C_SLONG) return read_value<int32_t>(p.value);
  return read_value<int64_t>(p.value);
}

bool is_bigint_c(int c) { return c == SQL_C_SBIGINT || c == SQL_C_UBIGINT; }

constexpr int64_t kExactLimit = 1'000'000'000'000'000;  // 10^15: 15 digits are exact

// General format with 15 significant digits and a two-digit length.
std::optional<Diag> general_value(int number, double value, std::string& v) {
  std::optional<std::string> text = format_general15(value);
  if (!text) return param_diag("Parameter %d: value is not a finite number", number);
  size_t hash = text->find('#');
  if (hash != std::string::npos) text->resize(hash);
  append_digits(v, 2, text->size());
  v += *text;
  return std::nullopt;
}

void signed_value(std::string& v, int width, int64_t value) {
  if (value < 0) v += '-';
  append_digits(v, width, static_cast<uint64_t>(value < 0 ? -value : value));
}

// Character dates and times: the digit positions must hold digits; the
// separators are not checked.
bool digits_at(std::string_view s, size_t at, int width, uint32_t& out) {
  uint32_t v = 0;
  for (int i = 0; i < width; ++i) {
    unsigned d = static_cast<unsigned char>(s[at + static_cast<size_t>(i)]) - '0';
    if (d > 9) return false;
    v = v * 10 + d;
  }
  out = v;
  return true;
}

constexpr const char* kDateForm = "date literal must be of form 'yyyy-mm-dd'";
constexpr const char* kTimeForm = "time literal must be of form 'hh:mm:ss'";
constexpr const char* kTimestampForm = "date literal must be of form 'yyyy-mm-dd hh:mm:ss[.ffffff]'";

struct Stamp {
  uint32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, fraction = 0;
};

std::optional<Diag> parse_char_date(std::string_view s, Stamp& t) {
  if (s.size() != 10 || !digits_at(s, 0, 4, t.year) || !digits_at(s, 5, 2, t.month) || !digits_at(s, 8, 2, t.day))
    return Diag{kErrGeneral, kDateForm};
  return std::nullopt;
}

std::optional<Diag> parse_char_time(std::string_view s, Stamp& t) {
  if (s.size() != 8 || !digits_at(s, 0, 2, t.hour) || !digits_at(s, 3, 2, t.minute) || !digits_at(s, 6, 2, t.second))
    return Diag{kErrGeneral, kTimeForm};
  return std::nullopt;
}

// 'yyyy-mm-dd hh:mm:ss' and, after a '.', the fraction of a second.  The
// fraction travels in nanoseconds (as in the timestamp structure): ".5" is
// 500000000; digits past the ninth are dropped.
std::optional<Diag> parse_char_timestamp(std::string_view s, Stamp& t) {
  if (s.size() < 19 || !digits_at(s, 0, 4, t.year) || !digits_at(s, 5, 2, t.month) || !digits_at(s, 8, 2, t.day) ||
      !digits_at(s, 11, 2, t.hour) || !digits_at(s, 14, 2, t.minute) || !digits_at(s, 17, 2, t.second))
    return Diag{kErrGeneral, kTimestampForm};
  t.fraction = 0;
  if (s.size() > 19 && s[19] == '.') {
    int digits = 0;
    for (size_t at = 20; at < s.size() && s[at] >= '0' && s[at] <= '9'; ++at) {
      if (digits < 9) {
        t.fraction = t.fraction * 10 + static_cast<uint32_t>(s[at] - '0');
        ++digits;
      }
    }
    for (; digits < 9; ++digits) t.fraction *= 10;
  }
  return std::nullopt;
}

std::optional<Diag> check_year(int number, int16_t year) {
  if (year < 0) return param_diag("Parameter %d: negative year %d", number, year);
  return std::nullopt;
}

void stamp_from_date(Stamp& t, const DATE_STRUCT& d) {
  t.year = static_cast<uint32_t>(d.year), t.month = d.month, t.day = d.day;
}
void stamp_from_time(Stamp& t, const TIME_STRUCT& d) { t.hour = d.hour, t.minute = d.minute, t.second = d.second; }
void stamp_from_timestamp(Stamp& t, const TIMESTAMP_STRUCT& d) {
  t.year = static_cast<uint32_t>(d.year), t.month = d.month, t.day = d.day;
  t.hour = d.hour, t.minute = d.minute, t.second = d.second, t.fraction = d.fraction;
}

}  // namespace

std::optional<Diag> encode_parameter(int number, const ParamRecord& p, std::string& out) {
  int wire_type = wire_type_of(p.sql_type);
  if (p.length != nullptr && *p.length == SQL_NULL_DATA) {
    // A NULL goes with any SQL type.
    append_header(out, number, wire_type == SQL_BIGINT ? SQL_INTEGER : wire_type, p, true);
    return std::nullopt;
  }
  if (p.value == nullptr) return param_diag("Parameter %d has no value buffer", number);

  int c_type = odbc2_datetime(p.c_type);
  bool wide = c_type == SQL_C_WCHAR;
  bool is_text = c_type == SQL_C_CHAR || wide;
  std::string wide_storage;
  std::string_view text;
  auto load_text = [&]() { return char_value(number, p, wide, wide_storage, text); };

  std::string v;  // the value's wire form
  switch (wire_type) {
    case SQL_BIT: {
      unsigned bit;
      if (c_type == SQL_C_BIT || c_type == SQL_C_DEFAULT) {
        bit = read_value<unsigned char>(p.value);
      } else if (c_type == SQL_C_SHORT) {
        bit = read_value<int16_t>(p.value) != 0;
      } else if (is_text) {
        if (auto d = load_text()) return d;
        int64_t i = 0;
        bit = !text_to_integer(text, i) || i != 0;
      } else {
        return unsupported(p);
      }
      append_digits(v, 1, bit);
      break;
    }
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR: {
      if (!is_text && c_type != SQL_C_DEFAULT) return unsupported(p);
      if (auto d = load_text()) return d;
      if (text.size() > kMaxCharParam)
        return param_diag("Parameter %d: character value of %lu bytes is longer than %d bytes", number,
                          static_cast<unsigned long>(text.size()), static_cast<int>(kMaxCharParam));
      append_digits(v, 3, text.size());
      v += text;
      break;
    }
    case SQL_NUMERIC: {
      if (is_bigint_c(c_type)) {
        std::optional<int64_t> i = integer_value(p, c_type);
        for (int32_t s = 0; i && s < p.scale; ++s)
          i = (*i > -kExactLimit && *i < kExactLimit) ? std::optional<int64_t>(*i * 10) : std::nullopt;
        if (!i || *i <= -kExactLimit || *i >= kExactLimit)
          return param_diag("Parameter %d: value cannot be sent exactly as NUMERIC with scale %d", number, p.scale);
        if (auto d = general_value(number, static_cast<double>(*i), v)) return d;
        break;
      }
      double d = 0;
      if (c_type == SQL_C_DOUBLE) {
        d = read_value<double>(p.value);
      } else if (is_text || c_type == SQL_C_DEFAULT) {
        if (auto e = load_text()) return e;
        if (!text_to_double(text, d)) return param_diag("Parameter %d: numeric value out of range", number);
      } else {
        return unsupported(p);
      }
      for (int32_t s = 0; s < p.scale; ++s) d *= 10;
      if (auto e = general_value(number, d, v)) return e;
      break;
    }
    case SQL_INTEGER: {
      int64_t i;
      if (c_type == SQL_C_LONG || c_type == SQL_C_SLONG || c_type == SQL_C_DEFAULT) {
        i = read_value<int32_t>(p.value);
      } else if (is_bigint_c(c_type)) {
        std::optional<int64_t> big = integer_value(p, c_type);
        if (!big || *big < INT32_MIN || *big > INT32_MAX)
          return param_diag("Parameter %d: value does not fit INTEGER", number);
        i = *big;
      } else if (is_text) {
        if (auto e = load_text()) return e;
        double d = 0;
        if (!text_to_double(text, d) || !std::isfinite(d) || std::trunc(d) < INT32_MIN || std::trunc(d) > INT32_MAX)
          return param_diag("Parameter %d: value does not fit INTEGER", number);
        i = static_cast<int64_t>(std::trunc(d));
      } else {
        return unsupported(p);
      }
      signed_value(v, 10, i);
      break;
    }
    case SQL_SMALLINT: {
      int64_t i;
      if (c_type == SQL_C_SHORT || c_type == SQL_C_SSHORT || c_type == SQL_C_DEFAULT) {
        i = read_value<int16_t>(p.value);
      } else if (c_type == SQL_C_USHORT) {
        i = read_value<uint16_t>(p.value);
      } else if (c_type == SQL_C_SLONG) {
        i = read_value<int32_t>(p.value);
      } else if (is_bigint_c(c_type)) {
        std::optional<int64_t> big = integer_value(p, c_type);
        i = big ? *big : INT64_MAX;
      } else if (is_text) {
        if (auto e = load_text()) return e;
        if (!text_to_integer(text, i)) i = INT64_MAX;
      } else {
        return unsupported(p);
      }
      if (i < INT16_MIN || i > INT16_MAX) return param_diag("Parameter %d: value does not fit SMALLINT", number);
      signed_value(v, 5, i);
      break;
    }
    case SQL_DOUBLE: {
      double d = 0;
      if (c_type == SQL_C_DOUBLE || c_type == SQL_C_DEFAULT) {
        d = read_value<double>(p.value);
      } else if (is_bigint_c(c_type)) {
        std::optional<int64_t> i = integer_value(p, c_type);
        if (!i || *i <= -kExactLimit || *i >= kExactLimit)
          return param_diag("Parameter %d: value cannot be sent exactly as DOUBLE", number);
        d = static_cast<double>(*i);
      } else if (is_text) {
        if (auto e = load_text()) return e;
        if (!text_to_double(text, d)) return param_diag("Parameter %d: numeric value out of range", number);
      } else {
        return unsupported(p);
      }
      if (auto e = general_value(number, d, v)) return e;
      break;
    }
    case SQL_BIGINT: {
      // Sent as INTEGER when the value fits 32 bits, else as DOUBLE while 15
      // digits carry it exactly.
      if (!is_bigint_c(c_type) && c_type != SQL_C_DEFAULT && c_type != SQL_C_LONG && c_type != SQL_C_SLONG)
        return unsupported(p);
      std::optional<int64_t> i = integer_value(p, c_type == SQL_C_DEFAULT ? SQL_C_SBIGINT : c_type);
      if (i && *i >= INT32_MIN && *i <= INT32_MAX) {
        wire_type = SQL_INTEGER;
        signed_value(v, 10, *i);
      } else if (i && *i > -kExactLimit && *i < kExactLimit) {
        wire_type = SQL_DOUBLE;
        if (auto d = general_value(number, static_cast<double>(*i), v)) return d;
      } else {
        return param_diag("Parameter %d: BIGINT value has more than 15 digits and cannot be sent exactly", number);
      }
      break;
    }
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP: {
      Stamp t;
      int16_t year = 0;
      bool from_struct = true;
      if (is_text) {
        if (auto e = load_text()) return e;
        std::optional<Diag> bad = wire_type == SQL_DATE   ? parse_char_date(text, t)
                                  : wire_type == SQL_TIME ? parse_char_time(text, t)
                                                          : parse_char_timestamp(text, t);
        if (bad) return bad;
        from_struct = false;
      } else if (c_type == SQL_C_DATE && wire_type != SQL_TIME) {
        auto d = read_value<DATE_STRUCT>(p.value);
        stamp_from_date(t, d), year = d.year;
      } else if (c_type == SQL_C_TIME && wire_type != SQL_DATE) {
        stamp_from_time(t, read_value<TIME_STRUCT>(p.value));
      } else if (c_type == SQL_C_TIMESTAMP ||
                 (c_type == SQL_C_DEFAULT && wire_type == SQL_TIMESTAMP)) {
        auto d = read_value<TIMESTAMP_STRUCT>(p.value);
        stamp_from_timestamp(t, d), year = d.year;
      } else if (c_type == SQL_C_DEFAULT && wire_type == SQL_DATE) {
        auto d = read_value<DATE_STRUCT>(p.value);
        stamp_from_date(t, d), year = d.year;
      } else if (c_type == SQL_C_DEFAULT && wire_type == SQL_TIME) {
        stamp_from_time(t, read_value<TIME_STRUCT>(p.value));
      } else {
        return unsupported(p);
      }
      if (from_struct && wire_type != SQL_TIME)
        if (auto e = check_year(number, year)) return e;
      if (wire_type != SQL_TIME) {
        append_digits(v, 4, t.year);
        append_digits(v, 2, t.month);
        append_digits(v, 2, t.day);
      }
      if (wire_type != SQL_DATE) {
        append_digits(v, 2, t.hour);
        append_digits(v, 2, t.minute);
        append_digits(v, 2, t.second);
      }
      if (wire_type == SQL_TIMESTAMP) append_digits(v, 9, t.fraction);
      break;
    }
    default:
      return unsupported(p);
  }
  append_header(out, number, wire_type, p, false);
  out += v;
  return std::nullopt;
}

}  // namespace quarl::codec
