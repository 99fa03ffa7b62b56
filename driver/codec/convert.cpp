#include "driver/codec/convert.h"

#include "driver/codec/double_text.h"

#include <algorithm>
#include <bit>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/datetime.h"
#include "common/digits.h"
#include "common/utf.h"
#include "common/copy_fast.h"
#include "driver/codec/pieces.h"

namespace quarl::codec {

namespace {

inline ConvertResult ok() { return {SQL_SUCCESS, std::nullopt}; }
inline ConvertResult truncated() { return {SQL_SUCCESS_WITH_INFO, Diag{kErrTruncated, kTruncatedText}}; }
inline ConvertResult fraction_cut() { return {SQL_SUCCESS_WITH_INFO, Diag{kErrTruncated, "Fractional truncation"}}; }
inline ConvertResult failed(Diag d) { return {SQL_ERROR, std::move(d)}; }
ConvertResult out_of_range(int c_type) {
  return failed(Diag{kErrOutOfRange, "Numeric value out of range for C type " + std::to_string(c_type)});
}
ConvertResult restricted(int sql_type, int c_type) {
  return failed(Diag{kErrRestrictedType, "Cannot convert a column of SQL type " + std::to_string(sql_type) +
                                          " to C type " + std::to_string(c_type)});
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

bool is_character(int sql_type) {
  return sql_type == SQL_CHAR || sql_type == SQL_VARCHAR || sql_type == SQL_LONGVARCHAR;
}

// The C types the driver knows (SQL_C_DEFAULT resolved, ODBC 3 date codes
// as ODBC 2 ones).
bool known_c_type(int c) {
  switch (c) {
    case SQL_C_CHAR: case SQL_C_WCHAR: case SQL_C_BINARY: case SQL_C_BIT: case SQL_C_TINYINT: case SQL_C_STINYINT:
    case SQL_C_UTINYINT: case SQL_C_SHORT: case SQL_C_SSHORT: case SQL_C_USHORT: case SQL_C_LONG: case SQL_C_SLONG:
    case SQL_C_ULONG: case SQL_C_SBIGINT: case SQL_C_UBIGINT: case SQL_C_FLOAT: case SQL_C_DOUBLE: case SQL_C_DATE:
    case SQL_C_TIME: case SQL_C_TIMESTAMP: case SQL_C_NUMERIC:
      return true;
    default: return false;
  }
}

// The text of a value into a SQL_C_CHAR or SQL_C_WCHAR buffer (the text is
// ASCII): whole, or cut after its first `keep` characters (01004), or not at
// all when even those do not fit (22003).
ConvertResult put_value_text(const ValueText& t, int c_type, SQLPOINTER target, SQLLEN size, SQLLEN* length) {
  bool wide = c_type == SQL_C_WCHAR;
  size_t n = t.text.size();
  SQLLEN full = static_cast<SQLLEN>(wide ? 2 * n : n);
  if (target == nullptr) {
    set_length(length, full);
    return ok();
  }
  size_t unit = wide ? 2 : 1;
  size_t room = size >= static_cast<SQLLEN>(unit) ? static_cast<size_t>(size) / unit - 1 : 0;
  bool fits = n <= room;
  if (!fits && (room < t.keep || size < static_cast<SQLLEN>(unit))) return out_of_range(c_type);
  size_t copy = fits ? n : room;
  auto* out = static_cast<char*>(target);
  for (size_t i = 0; i <= copy; ++i) {
    char c = i < copy ? t.text[i] : '\0';
    if (wide) {
      uint16_t u = static_cast<unsigned char>(c);
      std::memcpy(out + 2 * i, &u, 2);
    } else {
      out[i] = c;
    }
  }
  set_length(length, full);
  return fits ? ok() : truncated();
}

// Bytes into a SQL_C_BINARY buffer: a fixed-size form must fit (22003).
ConvertResult put_binary(const void* bytes, size_t n, SQLPOINTER target, SQLLEN size, SQLLEN* length) {
  if (target != nullptr && (size < 0 || static_cast<size_t>(size) < n)) return out_of_range(SQL_C_BINARY);
  if (target != nullptr) std::memcpy(target, bytes, n);
  set_length(length, static_cast<SQLLEN>(n));
  return ok();
}

ConvertResult convert_null(const ColumnDescriptor& c, int c_type, SQLPOINTER target, SQLLEN size, SQLLEN* length) {
  if (length == nullptr) return {SQL_ERROR, Diag{kErrIndicatorRequired, {}}};
  *length = SQL_NULL_DATA;
  if (target == nullptr) return ok();
  switch (c.sql_type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      if (c_type == SQL_C_WCHAR) {
        if (size >= 2) std::memset(target, 0, 2);
      } else if (c_type == SQL_C_CHAR && size >= 1) {
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

// The integer C types (and SQL_C_BIT): range and size.
struct IntegerCType {
  int c_type;
  int64_t lowest, highest;
  size_t size;
};
constexpr IntegerCType kIntegerCTypes[] = {
    {SQL_C_BIT, 0, 1, 1},
    {SQL_C_TINYINT, INT8_MIN, INT8_MAX, 1},
    {SQL_C_STINYINT, INT8_MIN, INT8_MAX, 1},
    {SQL_C_UTINYINT, 0, UINT8_MAX, 1},
    {SQL_C_SHORT, INT16_MIN, INT16_MAX, 2},
    {SQL_C_SSHORT, INT16_MIN, INT16_MAX, 2},
    {SQL_C_USHORT, 0, UINT16_MAX, 2},
    {SQL_C_LONG, INT32_MIN, INT32_MAX, 4},
    {SQL_C_SLONG, INT32_MIN, INT32_MAX, 4},
    {SQL_C_ULONG, 0, UINT32_MAX, 4},
    {SQL_C_SBIGINT, INT64_MIN, INT64_MAX, 8},
    {SQL_C_UBIGINT, 0, INT64_MAX, 8},  // above INT64_MAX: the unsigned big values
};
const IntegerCType* integer_c_type(int c_type) {
  for (const auto& t : kIntegerCTypes)
    if (t.c_type == c_type) return &t;
  return nullptr;
}

// Integer C types (and SQL_C_BIT) from any number.
ConvertResult put_integer(const Value& v, int c_type, SQLPOINTER target, SQLLEN* length) {
  Whole w;
  if (auto d = whole_of(v, w)) return failed(std::move(*d));
  auto done = [&](ConvertResult r) { return w.fraction && r.rc == SQL_SUCCESS ? fraction_cut() : r; };
  if (w.unsigned_big) {
    if (c_type != SQL_C_UBIGINT) return out_of_range(c_type);
    return done(put_fixed(target, length, static_cast<uint64_t>(w.value)));
  }
  int64_t x = w.value;
  if (c_type == SQL_C_BIT && w.negative && (x != 0 || w.fraction)) return out_of_range(c_type);  // nothing below 0
  const IntegerCType* t = integer_c_type(c_type);
  if (x < t->lowest || x > t->highest) return out_of_range(c_type);
  // The low bytes of the two's complement value, in the machine's order.
  static_assert(std::endian::native == std::endian::little);
  if (target != nullptr) std::memcpy(target, &x, t->size);
  set_length(length, static_cast<SQLLEN>(t->size));
  return w.fraction ? fraction_cut() : ok();
}

ConvertResult put_real(const Value& v, int c_type, SQLPOINTER target, SQLLEN* length) {
  double d = 0;
  if (auto e = real_of(v, d)) return failed(std::move(*e));
  if (c_type == SQL_C_DOUBLE) return put_fixed(target, length, d);
  if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return out_of_range(c_type);
  return put_fixed(target, length, static_cast<float>(d));
}

// The value's own bytes, in the form of its SQL type's default C type.
ConvertResult put_value_binary(const Value& v, int sql_type, SQLPOINTER target, SQLLEN size, SQLLEN* length) {
  switch (v.kind) {
    case Value::Kind::Integer: {
      unsigned char bytes[8];
      size_t n = sql_type == SQL_BIT ? 1 : sql_type == SQL_SMALLINT ? 2 : sql_type == SQL_INTEGER ? 4 : 8;
      if (n == 1) bytes[0] = static_cast<unsigned char>(v.integer);
      if (n == 2) { auto s = static_cast<int16_t>(v.integer); std::memcpy(bytes, &s, 2); }
      if (n == 4) { auto i = static_cast<int32_t>(v.integer); std::memcpy(bytes, &i, 4); }
      if (n == 8) std::memcpy(bytes, &v.integer, 8);
      return put_binary(bytes, n, target, size, length);
    }
    case Value::Kind::Real: return put_binary(&v.real, 8, target, size, length);
    case Value::Kind::Date: {
      DATE_STRUCT d{static_cast<SQLSMALLINT>(v.stamp.year), static_cast<SQLUSMALLINT>(v.stamp.month),
                    static_cast<SQLUSMALLINT>(v.stamp.day)};
      return put_binary(&d, sizeof d, target, size, length);
    }
    case Value::Kind::Time: {
      TIME_STRUCT t{static_cast<SQLUSMALLINT>(v.stamp.hour), static_cast<SQLUSMALLINT>(v.stamp.minute),
                    static_cast<SQLUSMALLINT>(v.stamp.second)};
      return put_binary(&t, sizeof t, target, size, length);
    }
    case Value::Kind::Timestamp: {
      TIMESTAMP_STRUCT t{};
      t.year = static_cast<SQLSMALLINT>(v.stamp.year), t.month = static_cast<SQLUSMALLINT>(v.stamp.month);
      t.day = static_cast<SQLUSMALLINT>(v.stamp.day), t.hour = static_cast<SQLUSMALLINT>(v.stamp.hour);
      t.minute = static_cast<SQLUSMALLINT>(v.stamp.minute), t.second = static_cast<SQLUSMALLINT>(v.stamp.second);
      t.fraction = v.stamp.fraction;
      return put_binary(&t, sizeof t, target, size, length);
    }
    default: {
      // NUMERIC: its text, as SQL_C_CHAR would give it (without terminator).
      std::string text = text_of(v).text;
      return put_binary(text.data(), text.size(), target, size, length);
    }
  }
}

// Dates and times into their structures.
ConvertResult put_stamp(Value v, int sql_type, int c_type, SQLPOINTER target, SQLLEN* length) {
  if (v.kind == Value::Kind::Text) {
    Value::Kind wanted = c_type == SQL_C_TIME ? Value::Kind::Time : Value::Kind::Date;
    if (auto d = stamp_of_text(v.text, wanted, v)) return failed(std::move(*d));
  }
  const Stamp& s = v.stamp;
  bool has_date = v.kind == Value::Kind::Date || v.kind == Value::Kind::Timestamp;
  bool has_time = v.kind == Value::Kind::Time || v.kind == Value::Kind::Timestamp;
  if (!has_date && !has_time) return restricted(sql_type, c_type);
  if (c_type == SQL_C_DATE) {
    if (!has_date) return restricted(sql_type, c_type);
    DATE_STRUCT out{static_cast<SQLSMALLINT>(s.year), static_cast<SQLUSMALLINT>(s.month),
                    static_cast<SQLUSMALLINT>(s.day)};
    return put_fixed(target, length, out);
  }
  if (c_type == SQL_C_TIME) {
    if (!has_time) return restricted(sql_type, c_type);
    TIME_STRUCT out{static_cast<SQLUSMALLINT>(s.hour), static_cast<SQLUSMALLINT>(s.minute),
                    static_cast<SQLUSMALLINT>(s.second)};
    if (v.kind == Value::Kind::Timestamp && s.fraction >= 500000000) {
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
  TIMESTAMP_STRUCT out{};
  if (has_date) {
    out.year = static_cast<SQLSMALLINT>(s.year), out.month = static_cast<SQLUSMALLINT>(s.month);
    out.day = static_cast<SQLUSMALLINT>(s.day);
  }
  if (has_time) {
    out.hour = static_cast<SQLUSMALLINT>(s.hour), out.minute = static_cast<SQLUSMALLINT>(s.minute);
    out.second = static_cast<SQLUSMALLINT>(s.second), out.fraction = s.fraction;
  }
  return put_fixed(target, length, out);
}

// Phase two: the canonical value into the C type.
ConvertResult write_c(const Value& v, int sql_type, int c_type, SQLPOINTER target, SQLLEN size, SQLLEN* length,
                      const ConvertOptions& options) {
  bool stamp = v.kind == Value::Kind::Date || v.kind == Value::Kind::Time || v.kind == Value::Kind::Timestamp;
  switch (c_type) {
    case SQL_C_CHAR:
    case SQL_C_WCHAR: return put_value_text(text_of(v, options.numeric_trailing_zeros), c_type, target, size, length);
    case SQL_C_BINARY: return put_value_binary(v, sql_type, target, size, length);
    case SQL_C_BIT: case SQL_C_TINYINT: case SQL_C_STINYINT: case SQL_C_UTINYINT: case SQL_C_SHORT:
    case SQL_C_SSHORT: case SQL_C_USHORT: case SQL_C_LONG: case SQL_C_SLONG: case SQL_C_ULONG:
    case SQL_C_SBIGINT: case SQL_C_UBIGINT:
      if (stamp) return restricted(sql_type, c_type);
      return put_integer(v, c_type, target, length);
    case SQL_C_FLOAT:
    case SQL_C_DOUBLE:
      if (stamp) return restricted(sql_type, c_type);
      return put_real(v, c_type, target, length);
    case SQL_C_DATE:
    case SQL_C_TIME:
    case SQL_C_TIMESTAMP: return put_stamp(v, sql_type, c_type, target, length);
    default: return restricted(sql_type, c_type);
  }
}

}  // namespace

namespace {

// Copies n bytes, n at most 32.
inline void copy_short(void* dest, const void* src, size_t n) {
  if (n < 16) return copy_bytes(dest, src, n);
  unsigned char a[16], b[16];
  std::memcpy(a, src, 16);
  std::memcpy(b, static_cast<const unsigned char*>(src) + n - 16, 16);
  std::memcpy(dest, a, 16);
  std::memcpy(static_cast<unsigned char*>(dest) + n - 16, b, 16);
}

}  // namespace

namespace {

// The most characters a number's, date's or time's text takes (a double's).
constexpr SQLLEN kLongestText = 31;

// The text of the common number and date columns (INTEGER, BIGINT, whole
// NUMERIC, DOUBLE, DATE) at text (room for kLongestText characters), not
// terminated: its length, or 0 for other columns and for a DOUBLE whose text
// has no form here.
[[gnu::always_inline]] inline size_t common_text(const ColumnDescriptor& c, const unsigned char* slot, char* text) {
  switch (c.sql_type) {
    case SQL_INTEGER: {
      int32_t v;
      std::memcpy(&v, slot, 4);
      return static_cast<size_t>(write_decimal(text, int64_t{v}));
    }
    case SQL_NUMERIC:
      // Whole numbers only: a fraction's text follows a setting.
      if (c.scale != 0) return 0;
      [[fallthrough]];
    case SQL_BIGINT:
      if (c.row_form == RowForm::Digits19) return digits19_text(slot, text);
      return static_cast<size_t>(write_decimal(text, whole_value(c, slot)));
    case SQL_DOUBLE: {
      // The host's own text of the number, as it came.
      size_t n = double_text_length(slot);
      if (n == 0) return 0;
      copy_short(text, stored_double_text(slot), n);
      return n;
    }
    case SQL_DATE: return date_digits_text(slot, text);
    default: return 0;
  }
}

// put_whole_text for everything but the common columns' text into a narrow
// buffer that holds it in place.
[[gnu::noinline]] bool put_other_text(const ColumnDescriptor& c, const unsigned char* slot, bool wide,
                                      SQLPOINTER target, SQLLEN target_size, SQLLEN* length) {
  char text[kLongestText + 1];
  size_t n;
  switch (c.sql_type) {
    case SQL_BIT:
      text[0] = *slot ? '1' : '0';
      n = 1;
      break;
    case SQL_SMALLINT: {
      int16_t v;
      std::memcpy(&v, slot, 2);
      n = static_cast<size_t>(write_decimal(text, int64_t{v}));
      break;
    }
    case SQL_TIME:
    case SQL_TIMESTAMP: {
      Value v = column_value(c, slot);
      n = v.kind == Value::Kind::Date   ? write_date_text(text, v.stamp)
          : v.kind == Value::Kind::Time ? write_time_text(text, v.stamp)
                                        : write_timestamp_text(text, v.stamp, v.fraction_digits);
      break;
    }
    default:
      n = common_text(c, slot, text);
      if (n == 0) return false;
      break;
  }
  size_t unit = wide ? 2 : 1;
  if (target_size < 0 || static_cast<size_t>(target_size) / unit <= n) return false;
  if (wide) {
    auto* out = static_cast<unsigned char*>(target);
    for (size_t i = 0; i < n; ++i) out[2 * i] = static_cast<unsigned char>(text[i]), out[2 * i + 1] = 0;
    out[2 * n] = out[2 * n + 1] = 0;
  } else {
    copy_short(target, text, n);
    static_cast<char*>(target)[n] = '\0';
  }
  if (length != nullptr) *length = static_cast<SQLLEN>(unit * n);
  return true;
}

}  // namespace

size_t detail::write_number_text(const ColumnDescriptor& c, const unsigned char* slot, char* text) {
  size_t n = common_text(c, slot, text);
  text[n] = '\0';
  return n;
}

void put_double_value(const unsigned char* slot, SQLPOINTER target, SQLLEN* length) {
  double d;
  if (!double_text_quick(slot, d)) d = double_text_value(slot);
  std::memcpy(target, &d, 8);
  if (length != nullptr) *length = 8;
}

bool detail::put_whole_text(const ColumnDescriptor& c, const unsigned char* slot, bool wide, SQLPOINTER target,
                            SQLLEN target_size, SQLLEN* length) {
  // Every text here is at most 31 characters (a double's): the common ones
  // go straight into a narrow buffer of 32 bytes or more (every fetch of
  // such columns as text), everything else through a buffer of its own.
  if (!wide && target_size > kLongestText) {
    if (size_t n = common_text(c, slot, static_cast<char*>(target))) {
      static_cast<char*>(target)[n] = '\0';
      if (length != nullptr) *length = static_cast<SQLLEN>(n);
      return true;
    }
  }
  return put_other_text(c, slot, wide, target, target_size, length);
}

ConvertResult detail::convert_general(ColumnDescriptor& c, SQLSMALLINT c_type_in, SQLPOINTER target, SQLLEN size,
                                      SQLLEN* length, const unsigned char* row_buffer, const ConvertOptions& options) {
  int c_type = odbc2_datetime(c_type_in);
  if (c_type == SQL_C_DEFAULT) c_type = default_c_type(c.sql_type);
  if (!known_c_type(c_type))
    return failed(Diag{kErrProgramType, "C type " + std::to_string(c_type_in) + " is not one the driver knows"});
  if (c.value_length < 0) return convert_null(c, c_type_in == SQL_C_DEFAULT ? SQL_C_DEFAULT : c_type, target, size,
                                              length);
  const unsigned char* slot = row_buffer + c.row_offset;
  Value v;
  bool binary = is_binary_sql_type(c.sql_type);
  if (is_character(c.sql_type) || binary) {
    bool piece = c_type == SQL_C_CHAR || c_type == SQL_C_WCHAR || c_type == SQL_C_BINARY;
    if (binary && !piece) return restricted(c.sql_type, c_type);
    if (c.value_place == kOnHost)  // the caller fetches it (driver/core/long_values.h)
      return failed(Diag{kErrGeneral, "The value of column " + std::string(c.name) + " is on the host"});
    if (piece) return value_piece(c, row_buffer, c_type, target, size, length);
    v.kind = Value::Kind::Text;
    v.text = std::string_view(value_bytes(c, row_buffer), static_cast<size_t>(c.value_length));
  } else {
    v = column_value(c, slot);
  }
  return write_c(v, c.sql_type, c_type, target, size, length, options);
}

}  // namespace quarl::codec
