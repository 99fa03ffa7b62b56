// Every SQL type by every C type, in both directions: the cases are
// generated from the conversion rules (an oracle below states them, apart
// from the codec's code), not written one by one.  Every output buffer is
// guarded.
//
// Results (SQL type to C type):
// - character columns give their bytes in pieces to the text and binary C
//   types; to numbers and dates they are read as such (22005, 22008 when
//   they are none);
// - numbers give their text (cut in the fraction with 01004; 22003 when the
//   digits before the point do not fit), every integer C type (truncated
//   toward zero with 01004; 22003 outside the type's range), SQL_C_BIT (0 or
//   1, a fraction cut), the floating types, and their native bytes to
//   SQL_C_BINARY (22003 when they do not fit); never a date (07006);
// - dates and times give their text, their own structures and SQL_C_BINARY;
//   a TIMESTAMP read as a TIME rounds to the nearest second; never a number;
// - SQL_C_DEFAULT is the SQL type's own C type; an unknown C type is S1003.
//
// Parameters (C type to SQL type): every value goes to the character types
// as its text, to the number types as its exact number (22005 for text that
// is none, 22003 outside the type), to BIT as 0 or 1 (text as a number), to the date types from
// dates, times and their ODBC literals (22008 for other text); binary data
// only to character types; anything else is 07006.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "driver/codec/convert.h"
#include "driver/codec/param_entry.h"
#include "tests/driver_codec/codec_fixture.h"

namespace quarl::codec {
namespace {

using test::bytes_of;
using test::Col;
using test::Guarded;

enum class Kind { Number, Text, Date, Time, Stamp };

// ---- results ----

struct Sample {
  const char* name;
  Col column;
  std::string wire;  // the value in the row
  Kind kind;
  std::string shown;     // the SQL_C_CHAR text; for numbers their exact decimal value
  std::string binary;    // SQL_C_BINARY's bytes (numbers, dates)
  TIMESTAMP_STRUCT ts{};  // dates and times (and text that reads as one)
  bool text_is_number = false;
  int text_stamp = 0;  // text that reads as: 1 a date, 2 a timestamp, 3 a time
};

TIMESTAMP_STRUCT ts_of(int y, int mo, int d, int h, int mi, int s, unsigned f) {
  return test::stamp(y, mo, d, h, mi, s, f);
}

std::vector<Sample> result_samples() {
  std::vector<Sample> s = {
      {"BIT 1", {SQL_BIT, 1}, "1", Kind::Number, "1", "\x01"},
      {"CHAR(5)", {SQL_CHAR, 5}, " ab de", Kind::Text, "ab de", ""},
      {"VARCHAR number", {SQL_VARCHAR, 20}, "003-42", Kind::Text, "-42", ""},
      {"VARCHAR fraction", {SQL_VARCHAR, 20}, "005 1.75", Kind::Text, " 1.75", ""},
      {"VARCHAR timestamp", {SQL_VARCHAR, 40}, "0212024-02-29 10:20:30.5", Kind::Text, "2024-02-29 10:20:30.5", ""},
      {"VARCHAR date", {SQL_VARCHAR, 40}, "0101999-12-31", Kind::Text, "1999-12-31", ""},
      {"VARCHAR time", {SQL_VARCHAR, 40}, "00823:59:58", Kind::Text, "23:59:58", ""},
      {"VARCHAR word", {SQL_VARCHAR, 20}, "005hello", Kind::Text, "hello", ""},
      {"NUMERIC(7,2)", {SQL_NUMERIC, 7, 2}, "0012345", Kind::Number, "123.45", "123.45"},
      {"NUMERIC(9,2) small", {SQL_NUMERIC, 9, 2}, "-000000007", Kind::Number, "-0.07", "-0.07"},
      {"NUMERIC(18,0)", {SQL_NUMERIC, 18, 0}, "999999999999999999", Kind::Number, "999999999999999999",
       "999999999999999999"},
      {"BIGINT 2^53+1", {SQL_NUMERIC, 19, 0}, "0009007199254740993", Kind::Number, "9007199254740993",
       bytes_of<int64_t>(9007199254740993LL)},
      {"BIGINT min", {SQL_NUMERIC, 19, 0}, "-9223372036854775808", Kind::Number, "-9223372036854775808",
       bytes_of<int64_t>(INT64_MIN)},
      {"BIGINT 200", {SQL_NUMERIC, 19, 0}, "0000000000000000200", Kind::Number, "200", bytes_of<int64_t>(200)},
      {"INTEGER", {SQL_INTEGER, 10}, "0000123456", Kind::Number, "123456", bytes_of<int32_t>(123456)},
      {"SMALLINT", {SQL_SMALLINT, 5}, "-00042", Kind::Number, "-42", bytes_of<int16_t>(-42)},
      {"DOUBLE", {SQL_DOUBLE, 15}, "05123.9", Kind::Number, "123.9", bytes_of(123.9)},
      {"DOUBLE huge", {SQL_DOUBLE, 15}, "051e+20", Kind::Number, "1e+20", bytes_of(1e20)},
      {"DOUBLE small", {SQL_DOUBLE, 15}, "040.01", Kind::Number, "0.01", bytes_of(0.01)},
      {"DOUBLE one and a half", {SQL_DOUBLE, 15}, "031.5", Kind::Number, "1.5", bytes_of(1.5)},
      // An integer in a DOUBLE column: exact as an integer, rounded as a double.
      {"DOUBLE integer", {SQL_DOUBLE, 15}, "17-9007199254740993", Kind::Number, "-9007199254740993",
       bytes_of(-9007199254740992.0)},
      {"DATE", {SQL_DATE, 10}, "20240229", Kind::Date, "2024-02-29", bytes_of(test::date(2024, 2, 29)),
       ts_of(2024, 2, 29, 0, 0, 0, 0)},
      {"TIME", {SQL_TIME, 8}, "235958", Kind::Time, "23:59:58", bytes_of(test::time_of(23, 59, 58)),
       ts_of(0, 0, 0, 23, 59, 58, 0)},
      {"TIMESTAMP(29,9)", {SQL_TIMESTAMP, 29, 9}, "19991231235959600000000", Kind::Stamp,
       "1999-12-31 23:59:59.600000000", bytes_of(ts_of(1999, 12, 31, 23, 59, 59, 600000000)),
       ts_of(1999, 12, 31, 23, 59, 59, 600000000)},
      {"TIMESTAMP(23,3)", {SQL_TIMESTAMP, 23, 3}, "20240105102030123000000", Kind::Stamp, "2024-01-05 10:20:30.123",
       bytes_of(ts_of(2024, 1, 5, 10, 20, 30, 123000000)), ts_of(2024, 1, 5, 10, 20, 30, 123000000)},
      {"TIMESTAMP(19,0)", {SQL_TIMESTAMP, 19, 0}, "20240105102030000000000", Kind::Stamp, "2024-01-05 10:20:30",
       bytes_of(ts_of(2024, 1, 5, 10, 20, 30, 0)), ts_of(2024, 1, 5, 10, 20, 30, 0)},
      // The extremes of each type, as text too (written straight into the
      // application's buffer when the whole text fits).
      {"INTEGER min", {SQL_INTEGER, 10}, "-2147483648", Kind::Number, "-2147483648", bytes_of<int32_t>(INT32_MIN)},
      {"INTEGER max", {SQL_INTEGER, 10}, "2147483647", Kind::Number, "2147483647", bytes_of<int32_t>(INT32_MAX)},
      {"INTEGER zero", {SQL_INTEGER, 10}, "0000000000", Kind::Number, "0", bytes_of<int32_t>(0)},
      {"SMALLINT min", {SQL_SMALLINT, 5}, "-32768", Kind::Number, "-32768", bytes_of<int16_t>(-32768)},
      {"BIGINT max", {SQL_NUMERIC, 19, 0}, "9223372036854775807", Kind::Number, "9223372036854775807",
       bytes_of<int64_t>(INT64_MAX)},
      {"BIGINT -7", {SQL_NUMERIC, 19, 0}, "-0000000000000000007", Kind::Number, "-7", bytes_of<int64_t>(-7)},
      // Texts made from the field's digits: no leading zeros, no "-0".
      {"BIGINT zero", {SQL_NUMERIC, 19, 0}, "0000000000000000000", Kind::Number, "0", bytes_of<int64_t>(0)},
      {"BIGINT minus zero", {SQL_NUMERIC, 19, 0}, "-0000000000000000000", Kind::Number, "0", bytes_of<int64_t>(0)},
      {"BIGINT 17 digits", {SQL_NUMERIC, 19, 0}, "0012345678901234567", Kind::Number, "12345678901234567",
       bytes_of<int64_t>(12345678901234567LL)},
      // At the edges of 32 bits (SQL_C_LONG takes the last 10 digits).
      {"BIGINT 32-bit min", {SQL_NUMERIC, 19, 0}, "-0000000002147483648", Kind::Number, "-2147483648",
       bytes_of<int64_t>(INT32_MIN)},
      {"BIGINT past 32 bits", {SQL_NUMERIC, 19, 0}, "0000000002147483648", Kind::Number, "2147483648",
       bytes_of<int64_t>(2147483648LL)},
      {"BIGINT past 32 bits in its 9th digit", {SQL_NUMERIC, 19, 0}, "0000000010000000001", Kind::Number,
       "10000000001", bytes_of<int64_t>(10000000001LL)},
      {"DOUBLE negative fraction", {SQL_DOUBLE, 15}, "04-0.5", Kind::Number, "-0.5", bytes_of(-0.5)},
      {"DOUBLE tiny", {SQL_DOUBLE, 15}, "07-1e-300", Kind::Number, "-1e-300", bytes_of(-1e-300)},
      {"DATE first", {SQL_DATE, 10}, "00010101", Kind::Date, "0001-01-01", bytes_of(test::date(1, 1, 1)),
       ts_of(1, 1, 1, 0, 0, 0, 0)},
      {"DATE last", {SQL_DATE, 10}, "99991231", Kind::Date, "9999-12-31", bytes_of(test::date(9999, 12, 31)),
       ts_of(9999, 12, 31, 0, 0, 0, 0)},
      {"TIME midnight", {SQL_TIME, 8}, "000000", Kind::Time, "00:00:00", bytes_of(test::time_of(0, 0, 0)),
       ts_of(0, 0, 0, 0, 0, 0, 0)},
      {"TIMESTAMP(21,1)", {SQL_TIMESTAMP, 21, 1}, "20240105102030100000000", Kind::Stamp, "2024-01-05 10:20:30.1",
       bytes_of(ts_of(2024, 1, 5, 10, 20, 30, 100000000)), ts_of(2024, 1, 5, 10, 20, 30, 100000000)},
      {"TIMESTAMP(29,9) first", {SQL_TIMESTAMP, 29, 9}, "00010101000000000000001", Kind::Stamp,
       "0001-01-01 00:00:00.000000001", bytes_of(ts_of(1, 1, 1, 0, 0, 0, 1)), ts_of(1, 1, 1, 0, 0, 0, 1)},
  };
  for (auto& x : s) {
    if (x.kind != Kind::Text) continue;
    double d;
    char* end = nullptr;
    d = std::strtod(x.shown.c_str(), &end);
    (void)d;
    x.text_is_number = end && *end == '\0' && end != x.shown.c_str();
  }
  s[4].text_stamp = 2, s[4].ts = ts_of(2024, 2, 29, 10, 20, 30, 500000000);
  s[5].text_stamp = 1, s[5].ts = ts_of(1999, 12, 31, 0, 0, 0, 0);
  s[6].text_stamp = 3, s[6].ts = ts_of(0, 0, 0, 23, 59, 58, 0);
  return s;
}

struct Expect {
  SQLRETURN rc = SQL_SUCCESS;
  int index = 0;
  std::string bytes;  // from the buffer's start
  SQLLEN length = 0;
};

constexpr SQLLEN kUnchanged = -777;

Expect fail(int index) { return Expect{SQL_ERROR, index, "", kUnchanged}; }
template <typename T>
Expect fixed(const T& v, bool fraction = false) {
  return Expect{static_cast<SQLRETURN>(fraction ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS), fraction ? kErrTruncated : 0,
                bytes_of(v), sizeof v};
}

struct IntType {
  int c_type;
  long double lo, hi;
  size_t size;
};
const IntType kIntTypes[] = {
    {SQL_C_TINYINT, -128, 127, 1},          {SQL_C_STINYINT, -128, 127, 1},
    {SQL_C_UTINYINT, 0, 255, 1},            {SQL_C_SHORT, -32768, 32767, 2},
    {SQL_C_SSHORT, -32768, 32767, 2},       {SQL_C_USHORT, 0, 65535, 2},
    {SQL_C_LONG, -2147483648.0L, 2147483647.0L, 4}, {SQL_C_SLONG, -2147483648.0L, 2147483647.0L, 4},
    {SQL_C_ULONG, 0, 4294967295.0L, 4},
    {SQL_C_SBIGINT, -9223372036854775808.0L, 9223372036854775807.0L, 8},
    {SQL_C_UBIGINT, 0, 18446744073709551615.0L, 8},
};

std::string int_bytes(long double v, const IntType& t) {
  switch (t.c_type) {
    case SQL_C_TINYINT: case SQL_C_STINYINT: return bytes_of(static_cast<int8_t>(v));
    case SQL_C_UTINYINT: return bytes_of(static_cast<uint8_t>(v));
    case SQL_C_SHORT: case SQL_C_SSHORT: return bytes_of(static_cast<int16_t>(v));
    case SQL_C_USHORT: return bytes_of(static_cast<uint16_t>(v));
    case SQL_C_LONG: case SQL_C_SLONG: return bytes_of(static_cast<int32_t>(v));
    case SQL_C_ULONG: return bytes_of(static_cast<uint32_t>(v));
    case SQL_C_SBIGINT: return bytes_of(static_cast<int64_t>(v));
    default: return bytes_of(static_cast<uint64_t>(v));
  }
}

// A text into a buffer of `size` bytes (or wide units): the whole, or cut
// to the room after keeping `keep` characters, or 22003.
Expect text_out(const std::string& text, size_t keep, bool wide, SQLLEN size) {
  size_t unit = wide ? 2 : 1;
  size_t room = size >= static_cast<SQLLEN>(unit) ? static_cast<size_t>(size) / unit - 1 : 0;
  size_t n = text.size();
  if (n > room && room < keep) return fail(kErrOutOfRange);
  size_t copy = std::min(n, room);
  std::string bytes;
  for (size_t i = 0; i <= copy; ++i) {
    char c = i < copy ? text[i] : '\0';
    bytes += c;
    if (wide) bytes += '\0';
  }
  return Expect{static_cast<SQLRETURN>(copy < n ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS), copy < n ? kErrTruncated : 0,
                bytes, static_cast<SQLLEN>(unit * n)};
}

// What a number's text keeps when cut: the digits before the point (all of
// it in exponent form).
size_t number_keep(const std::string& t) {
  if (t.find('e') != std::string::npos) return t.size();
  size_t point = t.find('.');
  return point == std::string::npos ? t.size() : point;
}

Expect number_to_c(const std::string& decimal, int c_type, const std::string& binary, SQLLEN size) {
  long double v = std::strtold(decimal.c_str(), nullptr);
  long double whole = std::trunc(v);
  bool fraction = whole != v;
  if (c_type == SQL_C_BIT) {
    if (v < 0 || whole > 1) return fail(kErrOutOfRange);
    return fixed(static_cast<unsigned char>(whole), fraction);
  }
  for (const IntType& t : kIntTypes) {
    if (t.c_type != c_type) continue;
    if (whole < t.lo || whole > t.hi) return fail(kErrOutOfRange);
    Expect e = fixed(0, fraction);
    e.bytes = int_bytes(whole, t);
    e.length = static_cast<SQLLEN>(t.size);
    return e;
  }
  double d = std::strtod(decimal.c_str(), nullptr);
  if (c_type == SQL_C_DOUBLE) return fixed(d);
  if (c_type == SQL_C_FLOAT) return fixed(static_cast<float>(d));
  if (c_type == SQL_C_BINARY) {
    if (static_cast<size_t>(size) < binary.size()) return fail(kErrOutOfRange);
    return Expect{SQL_SUCCESS, 0, binary, static_cast<SQLLEN>(binary.size())};
  }
  return fail(kErrRestrictedType);  // dates and times
}

Expect stamp_to_c(Kind kind, const TIMESTAMP_STRUCT& t, int c_type) {
  bool date = kind != Kind::Time, time = kind != Kind::Date;
  if (c_type == SQL_C_DATE) {
    if (!date) return fail(kErrRestrictedType);
    return fixed(test::date(t.year, t.month, t.day));
  }
  if (c_type == SQL_C_TIME) {
    if (!time) return fail(kErrRestrictedType);
    int h = t.hour, m = t.minute, s = t.second;
    if (kind == Kind::Stamp && t.fraction >= 500000000 && ++s == 60) {
      s = 0;
      if (++m == 60) m = 0, h = (h + 1) % 24;
    }
    return fixed(test::time_of(h, m, s));
  }
  TIMESTAMP_STRUCT out{};
  if (date) out.year = t.year, out.month = t.month, out.day = t.day;
  if (time) out.hour = t.hour, out.minute = t.minute, out.second = t.second, out.fraction = t.fraction;
  return fixed(out);
}

int default_of(int sql_type) {
  switch (sql_type) {
    case SQL_BIT: return SQL_C_BIT;
    case SQL_NUMERIC: case SQL_CHAR: case SQL_VARCHAR: return SQL_C_CHAR;
    case SQL_BIGINT: return SQL_C_SBIGINT;
    case SQL_INTEGER: return SQL_C_SLONG;
    case SQL_SMALLINT: return SQL_C_SSHORT;
    case SQL_DOUBLE: return SQL_C_DOUBLE;
    case SQL_DATE: return SQL_C_DATE;
    case SQL_TIME: return SQL_C_TIME;
    default: return SQL_C_TIMESTAMP;
  }
}

// The rules, for one sample, C type and buffer size.
Expect oracle(const Sample& s, int sql_type, int c_type, SQLLEN size) {
  if (c_type == SQL_C_DEFAULT) c_type = default_of(sql_type);
  if (c_type == SQL_C_TYPE_DATE) c_type = SQL_C_DATE;
  if (c_type == SQL_C_TYPE_TIME) c_type = SQL_C_TIME;
  if (c_type == SQL_C_TYPE_TIMESTAMP) c_type = SQL_C_TIMESTAMP;
  if (c_type == 999) return fail(kErrProgramType);
  if (c_type == SQL_C_NUMERIC) return fail(kErrRestrictedType);
  bool wide = c_type == SQL_C_WCHAR;
  bool stamp_c = c_type == SQL_C_DATE || c_type == SQL_C_TIME || c_type == SQL_C_TIMESTAMP;
  switch (s.kind) {
    case Kind::Text:
      if (c_type == SQL_C_CHAR || wide) return text_out(s.shown, 0, wide, size);
      if (c_type == SQL_C_BINARY) {
        size_t copy = std::min(s.shown.size(), static_cast<size_t>(size));
        return Expect{static_cast<SQLRETURN>(copy < s.shown.size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS),
                      copy < s.shown.size() ? kErrTruncated : 0, s.shown.substr(0, copy),
                      static_cast<SQLLEN>(s.shown.size())};
      }
      if (stamp_c) {
        if (!s.text_stamp) return fail(kErrDatetimeOverflow);
        if (s.text_stamp == 3 && c_type != SQL_C_TIME) return fail(kErrDatetimeOverflow);
        if (s.text_stamp == 1 && c_type == SQL_C_TIME) return fail(kErrDatetimeOverflow);
        Kind k = s.text_stamp == 1 ? Kind::Date : s.text_stamp == 2 ? Kind::Stamp : Kind::Time;
        return stamp_to_c(k, s.ts, c_type);
      }
      if (!s.text_is_number) return fail(kErrInvalidCharacter);
      return number_to_c(s.shown, c_type, "", size);
    case Kind::Number:
      if (c_type == SQL_C_CHAR || wide) return text_out(s.shown, number_keep(s.shown), wide, size);
      return number_to_c(s.shown, c_type, s.binary, size);
    default:
      if (c_type == SQL_C_CHAR || wide) return text_out(s.shown, s.kind == Kind::Stamp ? 19 : s.shown.size(), wide, size);
      if (c_type == SQL_C_BINARY) {
        if (static_cast<size_t>(size) < s.binary.size()) return fail(kErrOutOfRange);
        return Expect{SQL_SUCCESS, 0, s.binary, static_cast<SQLLEN>(s.binary.size())};
      }
      if (!stamp_c) return fail(kErrRestrictedType);
      return stamp_to_c(s.kind, s.ts, c_type);
  }
}

const int kCTypes[] = {SQL_C_CHAR,       SQL_C_WCHAR,     SQL_C_BINARY,    SQL_C_BIT,          SQL_C_TINYINT,
                       SQL_C_STINYINT,   SQL_C_UTINYINT,  SQL_C_SHORT,     SQL_C_SSHORT,       SQL_C_USHORT,
                       SQL_C_LONG,       SQL_C_SLONG,     SQL_C_ULONG,     SQL_C_SBIGINT,      SQL_C_UBIGINT,
                       SQL_C_FLOAT,      SQL_C_DOUBLE,    SQL_C_DATE,      SQL_C_TIME,         SQL_C_TIMESTAMP,
                       SQL_C_TYPE_DATE,  SQL_C_TYPE_TIME, SQL_C_TYPE_TIMESTAMP, SQL_C_DEFAULT,  SQL_C_NUMERIC,
                       999};

TEST(ConversionTable, EverySqlTypeIntoEveryCType) {
  for (const Sample& s : result_samples()) {
    for (int c_type : kCTypes) {
      bool variable = c_type == SQL_C_CHAR || c_type == SQL_C_WCHAR || c_type == SQL_C_BINARY;
      // Text buffers: roomy, small, and at the edge of the text (no room
      // for the terminator; just room) in bytes and in wide units.
      auto n = static_cast<SQLLEN>(s.shown.size());
      std::vector<SQLLEN> sizes{64, 4, n, n + 1, 2 * n, 2 * n + 2};
      for (SQLLEN size : variable ? sizes : std::vector<SQLLEN>{16}) {
        ResultSet rs = test::result_set({s.column});
        ASSERT_EQ(test::unpack(rs, "0" + s.wire).kind, RowResult::Row) << s.name;
        Guarded buffer(static_cast<size_t>(size));
        SQLLEN length = kUnchanged;
        ConvertResult r = convert_column(rs.columns[0], static_cast<SQLSMALLINT>(c_type), buffer.data(), size,
                                         &length, rs.row_buffer.data());
        Expect e = oracle(s, rs.columns[0].sql_type, c_type, size);
        std::string where = std::string(s.name) + " as C type " + std::to_string(c_type) + " into " +
                            std::to_string(size) + (r.diag ? " (" + r.diag->text + ")" : "");
        EXPECT_EQ(r.rc, e.rc) << where;
        EXPECT_EQ(r.diag ? r.diag->index : 0, e.index) << where;
        EXPECT_EQ(length, e.length) << where;
        EXPECT_EQ(buffer.content(e.bytes.size()), e.bytes) << where;
        if (r.rc == SQL_ERROR) {
          EXPECT_EQ(buffer.content(1), "\xA5") << where << ": nothing written";
        }
        EXPECT_TRUE(buffer.guards_intact()) << where;
      }
    }
  }
}

// ---- parameters ----

struct CSample {
  const char* name;
  int c_type;
  std::string bytes;  // the application's buffer
  SQLLEN length;      // *pcbValue (SQL_NTS for terminated text)
  Kind kind;
  std::string text;  // its text; for numbers their exact decimal value
  TIMESTAMP_STRUCT ts{};
  bool binary = false;
};

std::vector<CSample> parameter_samples() {
  auto cz = [](const char* s) { return std::string(s, std::strlen(s) + 1); };
  return {
      {"text number", SQL_C_CHAR, cz("123.45"), SQL_NTS, Kind::Text, "123.45"},
      {"text integer", SQL_C_CHAR, cz("-42"), SQL_NTS, Kind::Text, "-42"},
      {"text word", SQL_C_CHAR, cz("hello"), SQL_NTS, Kind::Text, "hello"},
      {"text date", SQL_C_CHAR, cz("2024-02-29"), SQL_NTS, Kind::Text, "2024-02-29"},
      {"text time", SQL_C_CHAR, cz("23:59:58"), SQL_NTS, Kind::Text, "23:59:58"},
      {"text timestamp", SQL_C_CHAR, cz("1999-12-31 23:59:59.5"), SQL_NTS, Kind::Text, "1999-12-31 23:59:59.5"},
      {"wide text", SQL_C_WCHAR, test::wz(u"7.5"), SQL_NTS, Kind::Text, "7.5"},
      {"binary", SQL_C_BINARY, "ab", 2, Kind::Text, "ab", {}, true},
      {"bit", SQL_C_BIT, bytes_of<unsigned char>(1), 1, Kind::Number, "1"},
      {"stinyint", SQL_C_STINYINT, bytes_of<int8_t>(-5), 1, Kind::Number, "-5"},
      {"utinyint", SQL_C_UTINYINT, bytes_of<uint8_t>(200), 1, Kind::Number, "200"},
      {"sshort", SQL_C_SSHORT, bytes_of<int16_t>(-42), 2, Kind::Number, "-42"},
      {"ushort", SQL_C_USHORT, bytes_of<uint16_t>(40000), 2, Kind::Number, "40000"},
      {"slong", SQL_C_SLONG, bytes_of<int32_t>(123456), 4, Kind::Number, "123456"},
      {"long", SQL_C_LONG, bytes_of<int32_t>(INT32_MIN), 4, Kind::Number, "-2147483648"},
      {"ulong", SQL_C_ULONG, bytes_of<uint32_t>(4000000000U), 4, Kind::Number, "4000000000"},
      {"sbigint", SQL_C_SBIGINT, bytes_of<int64_t>(9007199254740993LL), 8, Kind::Number, "9007199254740993"},
      {"ubigint", SQL_C_UBIGINT, bytes_of<uint64_t>(UINT64_MAX), 8, Kind::Number, "18446744073709551615"},
      {"float", SQL_C_FLOAT, bytes_of(2.5f), 4, Kind::Number, "2.5"},
      {"double", SQL_C_DOUBLE, bytes_of(0.30000000000000004), 8, Kind::Number, "0.30000000000000004"},
      {"double huge", SQL_C_DOUBLE, bytes_of(1e20), 8, Kind::Number, "1e+20"},
      {"date", SQL_C_DATE, bytes_of(test::date(2024, 2, 29)), 6, Kind::Date, "2024-02-29",
       ts_of(2024, 2, 29, 0, 0, 0, 0)},
      {"time", SQL_C_TIME, bytes_of(test::time_of(23, 59, 58)), 6, Kind::Time, "23:59:58",
       ts_of(0, 0, 0, 23, 59, 58, 0)},
      {"timestamp", SQL_C_TIMESTAMP, bytes_of(ts_of(1999, 12, 31, 23, 59, 59, 500000000)), 16, Kind::Stamp,
       "1999-12-31 23:59:59.5", ts_of(1999, 12, 31, 23, 59, 59, 500000000)},
  };
}

struct Target {
  int sql_type;
  uint32_t precision;
  int scale;
};
const Target kTargets[] = {
    {SQL_CHAR, 10, 0},     {SQL_VARCHAR, 10, 0},  {SQL_LONGVARCHAR, 0, 0}, {SQL_WVARCHAR, 10, 0},
    {SQL_BIT, 1, 0},       {SQL_TINYINT, 3, 0},   {SQL_SMALLINT, 5, 0},    {SQL_INTEGER, 10, 0},
    {SQL_BIGINT, 19, 0},   {SQL_NUMERIC, 10, 2},  {SQL_DECIMAL, 10, 0},    {SQL_REAL, 7, 0},
    {SQL_FLOAT, 15, 0},    {SQL_DOUBLE, 15, 0},   {SQL_DATE, 10, 0},       {SQL_TIME, 8, 0},
    {SQL_TIMESTAMP, 29, 9}, {SQL_TYPE_TIMESTAMP, 26, 6}, {SQL_VARBINARY, 10, 0}, {99, 1, 0},
};

struct Wire {
  int index = 0;  // 0: encoded
  int type = 0;
  int scale = 0;
  std::string value;
};

Wire refused(int index) { return Wire{index, 0, 0, {}}; }

std::string digits(long double v, int width) {
  char b[48];
  std::snprintf(b, sizeof b, "%s%0*.0Lf", v < 0 ? "-" : "", width, std::fabs(v));
  return b;
}

// A plain decimal text moved by places (exact, in the text).
std::string shifted(const std::string& decimal, int places) {
  std::string t = decimal;
  bool negative = !t.empty() && t[0] == '-';
  if (negative) t.erase(0, 1);
  int exponent = 0;
  if (size_t e = t.find('e'); e != std::string::npos) {
    exponent = std::atoi(t.c_str() + e + 1);
    t.resize(e);
  }
  size_t point = t.find('.');
  std::string all = t;
  int fraction = 0;
  if (point != std::string::npos) {
    all.erase(point, 1);
    fraction = static_cast<int>(t.size() - point - 1);
  }
  int move = places + exponent - fraction;  // value = all x 10^move
  if (move >= 0) {
    all.append(static_cast<size_t>(move), '0');
  } else {
    size_t f = static_cast<size_t>(-move);
    if (all.size() <= f) all.insert(0, f - all.size() + 1, '0');
    all.insert(all.size() - f, ".");
    while (all.back() == '0') all.pop_back();
    if (all.back() == '.') all.pop_back();
  }
  size_t nz = all.find_first_not_of('0');
  if (nz == std::string::npos) return "0";
  if (all[nz] == '.') --nz;
  all.erase(0, nz);
  return (negative ? "-" : "") + all;
}

Wire param_oracle(const CSample& s, const Target& t) {
  int sql = t.sql_type == SQL_TYPE_TIMESTAMP ? SQL_TIMESTAMP : t.sql_type;
  bool character = sql == SQL_CHAR || sql == SQL_VARCHAR || sql == SQL_LONGVARCHAR || sql == SQL_WVARCHAR;
  int char_code = sql == SQL_WVARCHAR ? SQL_VARCHAR : sql;
  bool stamp = s.kind == Kind::Date || s.kind == Kind::Time || s.kind == Kind::Stamp;
  bool number_text = false;
  if (s.kind == Kind::Text && !s.binary) {
    char* end = nullptr;
    std::strtod(s.text.c_str(), &end);
    number_text = end != s.text.c_str() && *end == '\0';
  }
  auto counted = [](int width, const std::string& v) { return digits(static_cast<long double>(v.size()), width) + v; };
  if (character) return Wire{0, char_code, t.scale, counted(3, s.text)};
  if (s.binary) return refused(kErrRestrictedType);
  long double v = std::strtold(s.text.c_str(), nullptr);
  switch (sql) {
    case SQL_BIT:
      if (stamp) return refused(kErrRestrictedType);
      if (s.kind == Kind::Text && !number_text) return refused(kErrInvalidCharacter);
      if (s.kind == Kind::Text) return Wire{0, SQL_BIT, 0, std::trunc(v) != 0 ? "1" : "0"};
      return Wire{0, SQL_BIT, 0, v != 0 ? "1" : "0"};
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT: {
      if (stamp) return refused(kErrRestrictedType);
      if (s.kind == Kind::Text && !number_text) return refused(kErrInvalidCharacter);
      long double w = std::trunc(v);
      long double limit = sql == SQL_INTEGER ? 2147483648.0L : sql == SQL_BIGINT ? 9223372036854775808.0L : 32768.0L;
      if (w < -limit || w >= limit) return refused(kErrOutOfRange);
      if (sql == SQL_BIGINT && (w < -2147483648.0L || w > 2147483647.0L)) {
        std::string d = digits(w, 0);
        return Wire{0, SQL_NUMERIC, 0, counted(2, d)};
      }
      bool small = sql != SQL_INTEGER && sql != SQL_BIGINT;
      return Wire{0, small ? SQL_SMALLINT : SQL_INTEGER, t.scale, digits(w, small ? 5 : 10)};
    }
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      if (stamp) return refused(kErrRestrictedType);
      if (s.kind == Kind::Text && !number_text) return refused(kErrInvalidCharacter);
      return Wire{0, SQL_NUMERIC, t.scale, counted(2, shifted(s.text, t.scale))};
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      if (stamp) return refused(kErrRestrictedType);
      if (s.kind == Kind::Text && !number_text) return refused(kErrInvalidCharacter);
      return Wire{0, SQL_DOUBLE, t.scale, counted(2, s.kind == Kind::Text ? shifted(s.text, 0) : s.text)};
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP: {
      TIMESTAMP_STRUCT ts = s.ts;
      bool date = s.kind == Kind::Date || s.kind == Kind::Stamp, time = s.kind == Kind::Time || s.kind == Kind::Stamp;
      if (s.kind == Kind::Text) {
        // The ODBC literals: exactly 10, exactly 8, at least 19 characters.
        int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
        double frac = 0;
        bool ok = sql == SQL_DATE   ? s.text.size() == 10 && std::sscanf(s.text.c_str(), "%4d-%2d-%2d", &y, &mo, &d) == 3
                  : sql == SQL_TIME ? s.text.size() == 8 && std::sscanf(s.text.c_str(), "%2d:%2d:%2d", &h, &mi, &se) == 3
                                    : s.text.size() >= 19 && std::sscanf(s.text.c_str(), "%4d-%2d-%2d %2d:%2d:%lf", &y,
                                                                         &mo, &d, &h, &mi, &frac) == 6;
        if (!ok) return refused(kErrDatetimeOverflow);
        if (sql == SQL_TIMESTAMP) se = static_cast<int>(frac);
        ts = ts_of(y, mo, d, h, mi, se, static_cast<unsigned>(std::lround((frac - se) * 1e9)));
        date = time = true;
      } else if (!stamp) {
        return refused(kErrRestrictedType);
      }
      if ((sql == SQL_DATE && !date) || (sql == SQL_TIME && !time)) return refused(kErrRestrictedType);
      if (sql == SQL_TIMESTAMP && !date) return refused(kErrDatetimeOverflow);
      char b[96];
      if (sql == SQL_DATE) std::snprintf(b, sizeof b, "%04d%02d%02d", ts.year, ts.month, ts.day);
      else if (sql == SQL_TIME) std::snprintf(b, sizeof b, "%02d%02d%02d", ts.hour, ts.minute, ts.second);
      else
        std::snprintf(b, sizeof b, "%04d%02d%02d%02d%02d%02d%09u", ts.year, ts.month, ts.day, time ? ts.hour : 0,
                      time ? ts.minute : 0, time ? ts.second : 0, time ? ts.fraction : 0);
      return Wire{0, sql, t.scale, b};
    }
    default: return refused(kErrRestrictedType);
  }
}

std::string entry_of(const Wire& w, const Target& t) {
  char head[32];
  std::snprintf(head, sizeof head, "0001%s%02d%04u%02d0", w.type < 0 ? "-" : "", std::abs(w.type), t.precision,
                w.scale);
  return head + w.value;
}

TEST(ConversionTable, EveryCTypeIntoEverySqlType) {
  for (const CSample& s : parameter_samples()) {
    for (const Target& t : kTargets) {
      std::vector<char> buffer(s.bytes.begin(), s.bytes.end());
      SQLLEN length = s.length;
      ParamRecord p{static_cast<SQLSMALLINT>(s.c_type), static_cast<SQLSMALLINT>(t.sql_type), t.precision, t.scale,
                    buffer.data(), &length};
      std::string out;
      std::optional<Diag> d = encode_parameter(1, p, out);
      Wire w = param_oracle(s, t);
      std::string where = std::string(s.name) + " as SQL type " + std::to_string(t.sql_type) +
                          (d ? " (" + d->text + ")" : "");
      EXPECT_EQ(d ? d->index : 0, w.index) << where;
      EXPECT_EQ(out, w.index ? "" : entry_of(w, t)) << where;
    }
  }
}

}  // namespace
}  // namespace quarl::codec
