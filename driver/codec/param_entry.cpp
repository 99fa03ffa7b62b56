#include "driver/codec/param_entry.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/digits.h"
#include "common/long_values.h"
#include "common/number_text.h"
#include "common/utf.h"
#include "driver/codec/value.h"

namespace quarl::codec {

namespace {

template <typename... Args>
Diag param_diag(int index, const char* format, Args... args) {
  char text[192];
  std::snprintf(text, sizeof text, format, args...);
  return Diag{index, text};
}

Diag unsupported(const ParamRecord& p) {
  return param_diag(kErrRestrictedType, "Unsupported setparam conversion fCType=%d, fSqlType=%d", p.c_type, p.sql_type);
}

// The SQL type code as it travels: wide character types as their single-byte
// equivalents, ODBC 3 date and time codes as ODBC 2 ones, DECIMAL as
// NUMERIC, TINYINT as SMALLINT, FLOAT and REAL as DOUBLE.  BIGINT is decided
// by the value (INTEGER or NUMERIC(19,0)); a NULL goes as INTEGER.
int wire_type_of(int sql_type) {
  switch (sql_type) {
    case SQL_FLOAT:
    case SQL_REAL: return SQL_DOUBLE;
    case SQL_DECIMAL: return SQL_NUMERIC;
    case SQL_TINYINT: return SQL_SMALLINT;
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

void append_header(std::string& out, int number, int wire_type, uint32_t precision, int scale, bool null) {
  append_digits(out, 4, static_cast<uint64_t>(number));
  if (wire_type < 0) out += '-';
  append_digits(out, 2, static_cast<uint64_t>(wire_type < 0 ? -wire_type : wire_type));
  append_digits(out, 4, precision);
  append_digits(out, 2, scale < 0 ? 0u : static_cast<uint64_t>(scale));
  out += null ? '1' : '0';
}

template <typename T>
T read_value(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The character value of the parameter (SQL_C_CHAR, or SQL_C_WCHAR converted
// to UTF-8 into storage, or the bytes of SQL_C_BINARY).
std::optional<Diag> char_value(int number, const ParamRecord& p, int c_type, std::string& storage,
                               std::string_view& out) {
  bool wide = c_type == SQL_C_WCHAR;
  SQLLEN length = p.length != nullptr ? *p.length : SQL_NTS;
  if (length == SQL_NTS) {
    if (c_type == SQL_C_BINARY)
      return param_diag(kErrArgument, "Parameter %d: binary data need their length", number);
    length = wide ? static_cast<SQLLEN>(2 * utf16_length(p.value))
                  : static_cast<SQLLEN>(std::strlen(static_cast<const char*>(p.value)));
  } else if (length < 0) {
    return param_diag(kErrGeneral, "Parameter %d: length %ld is not supported (no data at execution)", number,
                      static_cast<long>(length));
  }
  if (!wide) {
    out = std::string_view(static_cast<const char*>(p.value), static_cast<size_t>(length));
    return std::nullopt;
  }
  if (length % 2 != 0)
    return param_diag(kErrInvalidCharacter, "Parameter %d: wide character data of odd length %ld", number,
                      static_cast<long>(length));
  size_t bad = 0;
  if (!utf16_to_utf8(p.value, static_cast<size_t>(length) / 2, storage, bad))
    return param_diag(kErrInvalidCharacter, "Parameter %d: unpaired surrogate at character %lu", number,
                      static_cast<unsigned long>(bad + 1));
  out = storage;
  return std::nullopt;
}

std::optional<Diag> check_stamp(int number, const Stamp& s, bool date, bool time) {
  if ((date && !valid_date(s.year, s.month, s.day)) || (time && !valid_time(s.hour, s.minute, s.second, s.fraction)))
    return param_diag(kErrDatetimeOverflow, "Parameter %d: %s %04d-%02d-%02d %02d:%02d:%02d.%09u does not exist", number,
                      date && time ? "timestamp" : date ? "date" : "time", s.year, s.month, s.day, s.hour, s.minute,
                      s.second, s.fraction);
  return std::nullopt;
}

// The exact decimal text of a SQL_NUMERIC_STRUCT: its 128-bit magnitude
// (little-endian), the sign (0 negative, any other value positive) and the
// point moved scale places.
std::string numeric_struct_text(const SQL_NUMERIC_STRUCT& n, int scale) {
  unsigned __int128 magnitude = 0;
  for (int i = SQL_MAX_NUMERIC_LEN - 1; i >= 0; --i) magnitude = (magnitude << 8) | n.val[i];
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  if (scale < 0) {
    digits.append(static_cast<size_t>(-scale), '0');
  } else if (scale > 0) {
    if (digits.size() <= static_cast<size_t>(scale)) digits.insert(0, static_cast<size_t>(scale) + 1 - digits.size(), '0');
    digits.insert(digits.size() - static_cast<size_t>(scale), 1, '.');
  }
  return n.sign != 0 || digits.find_first_not_of("0.") == std::string::npos ? digits : "-" + digits;
}

// Phase one: the application's value in its canonical form.
std::optional<Diag> read_parameter(int number, const ParamRecord& p, int c_type, Value& v, std::string& storage) {
  switch (c_type) {
    case SQL_C_CHAR:
    case SQL_C_WCHAR:
    case SQL_C_BINARY:
      v.kind = Value::Kind::Text;
      return char_value(number, p, c_type, storage, v.text);
    case SQL_C_BIT:
    case SQL_C_UTINYINT: v.integer = read_value<uint8_t>(p.value); return std::nullopt;
    case SQL_C_TINYINT:
    case SQL_C_STINYINT: v.integer = read_value<int8_t>(p.value); return std::nullopt;
    case SQL_C_SHORT:
    case SQL_C_SSHORT: v.integer = read_value<int16_t>(p.value); return std::nullopt;
    case SQL_C_USHORT: v.integer = read_value<uint16_t>(p.value); return std::nullopt;
    case SQL_C_LONG:
    case SQL_C_SLONG: v.integer = read_value<int32_t>(p.value); return std::nullopt;
    case SQL_C_ULONG: v.integer = read_value<uint32_t>(p.value); return std::nullopt;
    case SQL_C_SBIGINT: v.integer = read_value<int64_t>(p.value); return std::nullopt;
    case SQL_C_UBIGINT: {
      auto u = read_value<uint64_t>(p.value);
      if (u > static_cast<uint64_t>(INT64_MAX)) v.above_int64 = true, v.big = u;
      else v.integer = static_cast<int64_t>(u);
      return std::nullopt;
    }
    case SQL_C_NUMERIC: {
      // The exact decimal, read as its text.
      auto n = read_value<SQL_NUMERIC_STRUCT>(p.value);
      v.kind = Value::Kind::Text;
      storage = numeric_struct_text(n, p.c_scale != ParamRecord::kFromValue ? p.c_scale : n.scale);
      v.text = storage;
      return std::nullopt;
    }
    case SQL_C_FLOAT:
      v.kind = Value::Kind::Real;
      v.real = read_value<float>(p.value);
      return std::nullopt;
    case SQL_C_DOUBLE:
      v.kind = Value::Kind::Real;
      v.real = read_value<double>(p.value);
      return std::nullopt;
    case SQL_C_DATE: {
      auto d = read_value<DATE_STRUCT>(p.value);
      v.kind = Value::Kind::Date;
      v.stamp.year = d.year, v.stamp.month = d.month, v.stamp.day = d.day;
      return check_stamp(number, v.stamp, true, false);
    }
    case SQL_C_TIME: {
      auto t = read_value<TIME_STRUCT>(p.value);
      v.kind = Value::Kind::Time;
      v.stamp.hour = t.hour, v.stamp.minute = t.minute, v.stamp.second = t.second;
      return check_stamp(number, v.stamp, false, true);
    }
    case SQL_C_TIMESTAMP: {
      auto t = read_value<TIMESTAMP_STRUCT>(p.value);
      v.kind = Value::Kind::Timestamp;
      v.stamp.year = t.year, v.stamp.month = t.month, v.stamp.day = t.day;
      v.stamp.hour = t.hour, v.stamp.minute = t.minute, v.stamp.second = t.second, v.stamp.fraction = t.fraction;
      return check_stamp(number, v.stamp, true, true);
    }
    default: return unsupported(p);
  }
}

// Character dates and times in their ODBC forms: the digit positions must
// hold digits (the separators are not checked) and make a value that exists.
constexpr const char* kDateForm = "date literal must be of form 'yyyy-mm-dd'";
constexpr const char* kTimeForm = "time literal must be of form 'hh:mm:ss'";
constexpr const char* kTimestampForm = "date literal must be of form 'yyyy-mm-dd hh:mm:ss[.ffffff]'";

bool digits_at(std::string_view s, size_t at, int width, int& out) {
  int v = 0;
  for (int i = 0; i < width; ++i) {
    unsigned d = static_cast<unsigned char>(s[at + static_cast<size_t>(i)]) - '0';
    if (d > 9) return false;
    v = v * 10 + static_cast<int>(d);
  }
  out = v;
  return true;
}

// The fraction after character 20 of a timestamp, in nanoseconds (".5" is
// 500000000); digits past the ninth must be zeros.
bool literal_fraction(std::string_view s, uint32_t& fraction) {
  fraction = 0;
  if (s.size() <= 19 || s[19] != '.') return true;
  int digits = 0;
  for (size_t at = 20; at < s.size() && s[at] >= '0' && s[at] <= '9'; ++at) {
    if (digits < 9) fraction = fraction * 10 + static_cast<uint32_t>(s[at] - '0'), ++digits;
    else if (s[at] != '0') return false;
  }
  for (; digits < 9; ++digits) fraction *= 10;
  return true;
}

std::optional<Diag> stamp_literal(int number, std::string_view s, int wire_type, Stamp& t) {
  if (wire_type == SQL_DATE) {
    if (s.size() != 10 || !digits_at(s, 0, 4, t.year) || !digits_at(s, 5, 2, t.month) || !digits_at(s, 8, 2, t.day))
      return Diag{kErrDatetimeOverflow, kDateForm};
    return check_stamp(number, t, true, false);
  }
  if (wire_type == SQL_TIME) {
    if (s.size() != 8 || !digits_at(s, 0, 2, t.hour) || !digits_at(s, 3, 2, t.minute) || !digits_at(s, 6, 2, t.second))
      return Diag{kErrDatetimeOverflow, kTimeForm};
    return check_stamp(number, t, false, true);
  }
  if (s.size() < 19 || !digits_at(s, 0, 4, t.year) || !digits_at(s, 5, 2, t.month) || !digits_at(s, 8, 2, t.day) ||
      !digits_at(s, 11, 2, t.hour) || !digits_at(s, 14, 2, t.minute) || !digits_at(s, 17, 2, t.second) ||
      !literal_fraction(s, t.fraction))
    return Diag{kErrDatetimeOverflow, kTimestampForm};
  return check_stamp(number, t, true, true);
}

// The longest number text a parameter carries (two length digits).
constexpr size_t kMaxNumberText = 99;

// A number's exact decimal text, the point moved by scale places.
std::optional<Diag> number_text(int number, const Value& v, int scale, std::string& out) {
  Decimal d;
  switch (v.kind) {
    case Value::Kind::Integer:
    case Value::Kind::Decimal:
      parse_decimal(text_of(v).text, d);
      break;
    case Value::Kind::Real:
      if (!std::isfinite(v.real)) return param_diag(kErrOutOfRange, "Parameter %d: value is not a finite number", number);
      parse_decimal(double_text(v.real), d);
      break;
    case Value::Kind::Text:
      if (!parse_decimal(v.text, d))
        return param_diag(kErrInvalidCharacter, "Parameter %d: '%.40s' is not a number", number,
                          std::string(v.text).c_str());
      break;
    default: return Diag{kErrRestrictedType, {}};
  }
  d.shift(scale);
  out = decimal_text(d);
  if (out.size() > kMaxNumberText) return param_diag(kErrOutOfRange, "Parameter %d: number too long to send", number);
  return std::nullopt;
}

void counted(std::string& wire, int width, std::string_view text) {
  append_digits(wire, width, text.size());
  wire += text;
}

void signed_value(std::string& v, int width, int64_t value) {
  if (value < 0) v += '-';
  append_digits(v, width, value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value));
}

}  // namespace

std::optional<Diag> encode_parameter(int number, const ParamRecord& p, std::string& out,
                                     const LongValueForms* long_forms, std::vector<ApartValue>* apart) {
  int wire_type = wire_type_of(p.sql_type);
  if (p.length != nullptr && *p.length == SQL_NULL_DATA) {
    // A NULL goes with any SQL type.
    append_header(out, number, wire_type == SQL_BIGINT ? SQL_INTEGER : wire_type, p.precision, p.scale, true);
    return std::nullopt;
  }
  if (p.sent_apart >= 0) {
    // Its bytes went ahead in parameter pieces.
    append_header(out, number, wire_type, p.precision, p.scale, false);
    char digits[longvalues::kLengthDigits];
    put_digits(digits, longvalues::kLengthDigits, static_cast<uint64_t>(p.sent_apart));
    out += longvalues::kApart;
    out.append(digits, sizeof digits);
    return std::nullopt;
  }
  if (p.value == nullptr) return param_diag(kErrGeneral, "Parameter %d has no value buffer", number);

  int c_type = odbc2_datetime(p.c_type);
  if (c_type == SQL_C_DEFAULT) c_type = default_c_type(wire_type);
  Value v;
  std::string storage;
  if (auto d = read_parameter(number, p, c_type, v, storage)) return d;
  bool stamp = v.kind == Value::Kind::Date || v.kind == Value::Kind::Time || v.kind == Value::Kind::Timestamp;
  bool text = v.kind == Value::Kind::Text;
  if (long_forms && is_binary_sql_type(wire_type)) {
    std::string binary, wire;
    std::string_view bytes;
    if (auto d = binary_parameter_bytes(number, p, c_type, text ? v.text : std::string_view(), binary, bytes)) return d;
    std::string* owner = bytes.data() == binary.data() ? &binary : bytes.data() == storage.data() ? &storage : nullptr;
    if (auto d = long_value_wire(number, bytes, owner, *long_forms, wire, apart)) return d;
    append_header(out, number, wire_type, p.precision, p.scale, false);
    out += wire;
    return std::nullopt;
  }
  // Binary data go only to character types, as their bytes.
  if (c_type == SQL_C_BINARY && wire_type != SQL_CHAR && wire_type != SQL_VARCHAR && wire_type != SQL_LONGVARCHAR)
    return unsupported(p);

  int scale = p.scale;
  std::string wire;  // the value's wire form
  switch (wire_type) {
    case SQL_BIT: {
      if (stamp) return unsupported(p);
      bool on;
      if (text) {
        // Its whole number, read as for the integer types: text that is no
        // number is refused rather than sent as 0.
        Whole w;
        auto d = whole_of(v, w);
        if (d && d->index == kErrInvalidCharacter)
          return param_diag(kErrInvalidCharacter, "Parameter %d: '%.40s' is not a number", number,
                            std::string(v.text).c_str());
        if (d && d->index != kErrOutOfRange) return d;
        on = d || w.unsigned_big || w.value != 0;  // beyond 64 bits is not 0 either
      } else {
        on = v.kind == Value::Kind::Real ? v.real != 0 : (v.above_int64 || v.integer != 0);
      }
      wire += on ? '1' : '0';
      break;
    }
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR: {
      std::string shown;
      std::string_view bytes = v.text;
      if (!text) {
        if (v.kind == Value::Kind::Timestamp) v.fraction_digits = significant_fraction_digits(v.stamp.fraction);
        shown = text_of(v).text;
        bytes = shown;
      }
      if (long_forms) {
        std::string* owner = !shown.empty() ? &shown : bytes.data() == storage.data() ? &storage : nullptr;
        if (auto d = long_value_wire(number, bytes, owner, *long_forms, wire, apart)) return d;
        break;
      }
      if (bytes.size() > kMaxCharParam)
        return param_diag(kErrRightTruncation, "Parameter %d: character value of %lu bytes is longer than %d bytes",
                          number, static_cast<unsigned long>(bytes.size()), static_cast<int>(kMaxCharParam));
      counted(wire, 3, bytes);
      break;
    }
    case SQL_NUMERIC: {
      if (stamp) return unsupported(p);
      if (scale < 0 || scale > 99) return param_diag(kErrGeneral, "Parameter %d: scale %d is out of range", number, scale);
      std::string digits;
      if (auto d = number_text(number, v, scale, digits)) return d;
      counted(wire, 2, digits);
      break;
    }
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_BIGINT: {
      if (stamp) return unsupported(p);
      // A fraction is cut toward zero.
      Whole w;
      if (auto d = whole_of(v, w)) {
        if (d->index == kErrOutOfRange) return param_diag(kErrOutOfRange, "Parameter %d: value out of range", number);
        if (d->index == kErrInvalidCharacter)
          return param_diag(kErrInvalidCharacter, "Parameter %d: '%.40s' is not a number", number,
                            std::string(v.text).c_str());
        return d;
      }
      int64_t lo = wire_type == SQL_SMALLINT ? INT16_MIN : wire_type == SQL_INTEGER ? INT32_MIN : INT64_MIN;
      int64_t hi = wire_type == SQL_SMALLINT ? INT16_MAX : wire_type == SQL_INTEGER ? INT32_MAX : INT64_MAX;
      if (w.unsigned_big || w.value < lo || w.value > hi)
        return param_diag(kErrOutOfRange, "Parameter %d: value does not fit %s", number,
                          wire_type == SQL_SMALLINT ? "SMALLINT" : wire_type == SQL_INTEGER ? "INTEGER" : "BIGINT");
      if (wire_type == SQL_BIGINT) {
        // 32 bits go as INTEGER, the rest as NUMERIC(19,0), every digit exact.
        if (w.value >= INT32_MIN && w.value <= INT32_MAX) {
          wire_type = SQL_INTEGER;
        } else {
          wire_type = SQL_NUMERIC;
          scale = 0;
          char digits[24];
          auto r = std::to_chars(digits, digits + sizeof digits, w.value);
          counted(wire, 2, std::string_view(digits, static_cast<size_t>(r.ptr - digits)));
          break;
        }
      }
      signed_value(wire, wire_type == SQL_SMALLINT ? 5 : 10, w.value);
      break;
    }
    case SQL_DOUBLE: {
      if (stamp) return unsupported(p);
      std::string digits;
      if (auto d = number_text(number, v, 0, digits)) return d;
      // The shortest text that reads back as the double, every digit of an
      // integer, a decimal text exactly as given.
      if (v.kind == Value::Kind::Real) {
        digits = double_text(v.real);
      } else if (double nearest; real_of(v, nearest)) {
        // A number beyond the range of a double would arrive as an infinity.
        return param_diag(kErrOutOfRange, "Parameter %d: %.40s is beyond the range of a double", number,
                          std::string(text ? v.text : std::string_view(digits)).c_str());
      }
      counted(wire, 2, digits);
      break;
    }
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP: {
      Stamp t;
      if (text) {
        if (auto d = stamp_literal(number, v.text, wire_type, t)) return d;
      } else if (!stamp) {
        return unsupported(p);
      } else {
        bool has_date = v.kind != Value::Kind::Time, has_time = v.kind != Value::Kind::Date;
        if ((wire_type == SQL_DATE && !has_date) || (wire_type == SQL_TIME && !has_time)) return unsupported(p);
        if (wire_type == SQL_TIMESTAMP && !has_date)
          return param_diag(kErrDatetimeOverflow, "Parameter %d: a time has no date to make a timestamp of", number);
        t = v.stamp;
        if (!has_time) t.hour = t.minute = t.second = 0, t.fraction = 0;
      }
      if (wire_type != SQL_TIME) {
        append_digits(wire, 4, static_cast<uint64_t>(t.year));
        append_digits(wire, 2, static_cast<uint64_t>(t.month));
        append_digits(wire, 2, static_cast<uint64_t>(t.day));
      }
      if (wire_type != SQL_DATE) {
        append_digits(wire, 2, static_cast<uint64_t>(t.hour));
        append_digits(wire, 2, static_cast<uint64_t>(t.minute));
        append_digits(wire, 2, static_cast<uint64_t>(t.second));
      }
      if (wire_type == SQL_TIMESTAMP) append_digits(wire, 9, t.fraction);
      break;
    }
    default: return unsupported(p);
  }
  append_header(out, number, wire_type, p.precision, scale, false);
  out += wire;
  return std::nullopt;
}

}  // namespace quarl::codec
