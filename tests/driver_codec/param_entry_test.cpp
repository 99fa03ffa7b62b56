#include "driver/codec/param_entry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "tests/driver_codec/codec_fixture.h"

namespace quarl::codec {
namespace {

using test::bytes_of;
using test::wide;
using test::cz;
using test::wz;
using test::date;
using test::time_of;
using test::stamp;

constexpr SQLLEN kNoLengthPointer = -12345;
const std::string kNoBuffer = "<no value buffer>";


struct Encoded {
  std::optional<Diag> diag;
  std::string entry;
};

// Encodes parameter 1 from a value held in `value` (read through a copy, so
// nothing outside it can be read unnoticed under ASan).
Encoded encode(int c_type, int sql_type, uint32_t precision, int scale, const std::string& value,
               SQLLEN length = kNoLengthPointer) {
  std::vector<char> buffer(value.empty() ? 1 : value.size(), '\0');
  std::memcpy(buffer.data(), value.data(), value.size());
  SQLLEN len = length;
  ParamRecord p{static_cast<SQLSMALLINT>(c_type), static_cast<SQLSMALLINT>(sql_type), precision, scale,
                value == kNoBuffer ? nullptr : buffer.data(), length == kNoLengthPointer ? nullptr : &len};
  Encoded e;
  e.diag = encode_parameter(1, p, e.entry);
  return e;
}

struct Case {
  const char* what;
  int c_type, sql_type;
  uint32_t precision;
  int scale;
  std::string value;
  SQLLEN length;
  std::string expected;  // the whole entry
};

void run(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    Encoded e = encode(c.c_type, c.sql_type, c.precision, c.scale, c.value, c.length);
    EXPECT_FALSE(e.diag) << c.what << ": " << (e.diag ? e.diag->text : "");
    EXPECT_EQ(e.entry, c.expected) << c.what;
  }
}

// Number 1, the SQL type field as it must travel, precision, scale, null flag.
std::string H(const char* type, int precision, int scale, bool null) {
  char b[32];
  std::snprintf(b, sizeof b, "0001%s%04d%02d%c", type, precision, scale, null ? '1' : '0');
  return b;
}

int16_t i16(int v) { return static_cast<int16_t>(v); }
int32_t i32(int v) { return v; }

TEST(ParamEntry, EveryTypeAndAcceptedCType) {
  const SQLLEN N = kNoLengthPointer;
  run({
      // number, type, precision, scale, null flag, value
      {"bit from C_BIT", SQL_C_BIT, SQL_BIT, 1, 0, bytes_of<unsigned char>(1), N, H("-07", 1, 0, false) + "1"},
      {"bit from C_DEFAULT", SQL_C_DEFAULT, SQL_BIT, 1, 0, bytes_of<unsigned char>(0), N, H("-07", 1, 0, false) + "0"},
      {"bit from C_SHORT", SQL_C_SHORT, SQL_BIT, 1, 0, bytes_of(i16(-5)), N, H("-07", 1, 0, false) + "1"},
      {"bit from text", SQL_C_CHAR, SQL_BIT, 1, 0, cz(" 0"), N, H("-07", 1, 0, false) + "0"},
      {"bit from text 2", SQL_C_CHAR, SQL_BIT, 1, 0, cz("+12"), N, H("-07", 1, 0, false) + "1"},
      {"char NTS", SQL_C_CHAR, SQL_CHAR, 10, 0, cz("abc"), N, H("01", 10, 0, false) + "003abc"},
      {"char with length", SQL_C_CHAR, SQL_CHAR, 10, 0, "abcdef", 2, H("01", 10, 0, false) + "002ab"},
      {"char length SQL_NTS", SQL_C_CHAR, SQL_VARCHAR, 10, 0, cz("x\ty"), SQL_NTS, H("12", 10, 0, false) + "003x\ty"},
      {"longvarchar C_DEFAULT", SQL_C_DEFAULT, SQL_LONGVARCHAR, 5000, 0, cz("q"), N, H("-01", 5000, 0, false) + "001q"},
      {"empty varchar", SQL_C_CHAR, SQL_VARCHAR, 1, 0, "", 0, H("12", 1, 0, false) + "000"},
      {"numeric from text, scale 1", SQL_C_CHAR, SQL_NUMERIC, 7, 1, cz("12.5"), N, H("02", 7, 1, false) + "04125."},
      {"numeric from double", SQL_C_DOUBLE, SQL_NUMERIC, 7, 2, bytes_of(1.5), N, H("02", 7, 2, false) + "04150."},
      {"numeric C_DEFAULT is text", SQL_C_DEFAULT, SQL_NUMERIC, 7, 0, cz("-0.5"), N, H("02", 7, 0, false) + "04-0.5"},
      {"integer", SQL_C_LONG, SQL_INTEGER, 10, 0, bytes_of(i32(7)), N, H("04", 10, 0, false) + "0000000007"},
      {"integer negative", SQL_C_SLONG, SQL_INTEGER, 10, 0, bytes_of(i32(-7)), N, H("04", 10, 0, false) + "-0000000007"},
      {"integer min", SQL_C_DEFAULT, SQL_INTEGER, 10, 0, bytes_of(i32(INT32_MIN)), N,
       H("04", 10, 0, false) + "-2147483648"},
      {"integer from text truncates", SQL_C_CHAR, SQL_INTEGER, 10, 0, cz(" -12.9e0"), N,
       H("04", 10, 0, false) + "-0000000012"},
      {"smallint", SQL_C_SHORT, SQL_SMALLINT, 5, 0, bytes_of(i16(-42)), N, H("05", 5, 0, false) + "-00042"},
      {"smallint C_SSHORT", SQL_C_SSHORT, SQL_SMALLINT, 5, 0, bytes_of(i16(32767)), N, H("05", 5, 0, false) + "32767"},
      {"smallint C_USHORT", SQL_C_USHORT, SQL_SMALLINT, 5, 0, bytes_of<uint16_t>(9), N, H("05", 5, 0, false) + "00009"},
      {"smallint C_SLONG", SQL_C_SLONG, SQL_SMALLINT, 5, 0, bytes_of(i32(-300)), N, H("05", 5, 0, false) + "-00300"},
      {"smallint from text", SQL_C_CHAR, SQL_SMALLINT, 5, 0, cz("  17abc"), N, H("05", 5, 0, false) + "00017"},
      {"float goes as double", SQL_C_DOUBLE, SQL_FLOAT, 15, 0, bytes_of(2.5), N, H("08", 15, 0, false) + "032.5"},
      {"double fixed", SQL_C_DEFAULT, SQL_DOUBLE, 15, 0, bytes_of(1234.0), N, H("08", 15, 0, false) + "051234."},
      {"double exponent", SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, bytes_of(1e20), N, H("08", 15, 0, false) + "071.e+020"},
      {"double from text", SQL_C_CHAR, SQL_DOUBLE, 15, 0, cz("-2.5E-3"), N, H("08", 15, 0, false) + "09-2.5e-003"},
      {"date", SQL_C_DATE, SQL_DATE, 10, 0, bytes_of(date(2024, 1, 31)), N, H("09", 10, 0, false) + "20240131"},
      {"date C_DEFAULT", SQL_C_DEFAULT, SQL_DATE, 10, 0, bytes_of(date(999, 12, 1)), N, H("09", 10, 0, false) + "09991201"},
      {"date from timestamp", SQL_C_TIMESTAMP, SQL_DATE, 10, 0, bytes_of(stamp(2001, 2, 3, 4, 5, 6, 7)), N,
       H("09", 10, 0, false) + "20010203"},
      {"date from text", SQL_C_CHAR, SQL_DATE, 10, 0, cz("2024-01-31"), N, H("09", 10, 0, false) + "20240131"},
      {"date separators unchecked", SQL_C_CHAR, SQL_DATE, 10, 0, cz("2024/01.31"), N,
       H("09", 10, 0, false) + "20240131"},
      {"time", SQL_C_TIME, SQL_TIME, 8, 0, bytes_of(time_of(13, 45, 7)), N, H("10", 8, 0, false) + "134507"},
      {"time from timestamp", SQL_C_TIMESTAMP, SQL_TIME, 8, 0, bytes_of(stamp(2001, 2, 3, 4, 5, 6, 7)), N,
       H("10", 8, 0, false) + "040506"},
      {"time from text", SQL_C_CHAR, SQL_TIME, 8, 0, cz("23:59:01"), N, H("10", 8, 0, false) + "235901"},
      {"timestamp", SQL_C_TIMESTAMP, SQL_TIMESTAMP, 29, 9, bytes_of(stamp(2024, 1, 31, 13, 45, 7, 123456789)), N,
       H("11", 29, 9, false) + "20240131134507123456789"},
      {"timestamp from date", SQL_C_DATE, SQL_TIMESTAMP, 29, 0, bytes_of(date(2024, 1, 31)), N,
       H("11", 29, 0, false) + "20240131000000000000000"},
      {"timestamp from time", SQL_C_TIME, SQL_TIMESTAMP, 29, 0, bytes_of(time_of(1, 2, 3)), N,
       H("11", 29, 0, false) + "00000000010203000000000"},
      {"timestamp from text", SQL_C_CHAR, SQL_TIMESTAMP, 29, 0, cz("1999-12-31 23:59:59"), N,
       H("11", 29, 0, false) + "19991231235959000000000"},
      // The fraction travels in nanoseconds: ".5" is half a second.
      {"timestamp text .5", SQL_C_CHAR, SQL_TIMESTAMP, 29, 0, cz("1999-12-31 23:59:59.5"), N,
       H("11", 29, 0, false) + "19991231235959500000000"},
      {"timestamp text .123456", SQL_C_CHAR, SQL_TIMESTAMP, 29, 0, cz("1999-12-31 23:59:59.123456"), N,
       H("11", 29, 0, false) + "19991231235959123456000"},
      {"timestamp text 11 digits", SQL_C_CHAR, SQL_TIMESTAMP, 29, 0, cz("1999-12-31 23:59:59.12345678987x"), N,
       H("11", 29, 0, false) + "19991231235959123456789"},
      {"timestamp text tail without point", SQL_C_CHAR, SQL_TIMESTAMP, 29, 0, cz("1999-12-31 23:59:59Z5"), N,
       H("11", 29, 0, false) + "19991231235959000000000"},
      // Fields wider than their wire width keep their leading digits.
      {"precision cut", SQL_C_CHAR, SQL_CHAR, 12345, 123, cz("a"), N, H("01", 1234, 12, false) + "001a"},
  });
}

TEST(ParamEntry, NullsGoWithAnySqlType) {
  const SQLLEN NUL = SQL_NULL_DATA;
  run({
      {"decimal", SQL_C_CHAR, SQL_DECIMAL, 10, 2, cz("1"), NUL, H("03", 10, 2, true)},
      {"binary", SQL_C_BINARY, SQL_VARBINARY, 4, 0, "xx", NUL, H("-03", 4, 0, true)},
      {"integer", SQL_C_LONG, SQL_INTEGER, 10, 0, bytes_of(i32(5)), NUL, H("04", 10, 0, true)},
      {"no value buffer", SQL_C_DEFAULT, SQL_VARCHAR, 1, 0, kNoBuffer, NUL, H("12", 1, 0, true)},
      {"wide varchar as varchar", SQL_C_WCHAR, SQL_WVARCHAR, 1, 0, "", NUL, H("12", 1, 0, true)},
      {"ODBC 3 timestamp", SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 26, 6, "", NUL, H("11", 26, 6, true)},
      {"bigint as integer", SQL_C_SBIGINT, SQL_BIGINT, 19, 0, "", NUL, H("04", 19, 0, true)},
  });
}

TEST(ParamEntry, Odbc3CodesThatRealClientsSend) {
  const SQLLEN N = kNoLengthPointer;
  std::u16string smile = u"a\U0001F600b";
  run({
      // pyodbc: str as SQL_C_WCHAR with SQL_WVARCHAR / SQL_WLONGVARCHAR / SQL_WCHAR, length in bytes.
      {"wvarchar", SQL_C_WCHAR, SQL_WVARCHAR, 5, 0, wide(u"h\u00e9llo"), 10, H("12", 5, 0, false) + "006h\xc3\xa9llo"},
      {"wlongvarchar NTS", SQL_C_WCHAR, SQL_WLONGVARCHAR, 0, 0, wz(u"\u20ac1"), SQL_NTS,
       H("-01", 0, 0, false) + "004\xe2\x82\xac" "1"},
      {"wchar pair", SQL_C_WCHAR, SQL_WCHAR, 3, 0, wz(smile), N, H("01", 3, 0, false) + "006a\xf0\x9f\x98\x80" "b"},
      {"wide text as date", SQL_C_WCHAR, SQL_DATE, 10, 0, wz(u"2024-02-29"), N, H("09", 10, 0, false) + "20240229"},
      // Python int over 32 bits.
      {"bigint fits 32 bits", SQL_C_SBIGINT, SQL_BIGINT, 19, 0, bytes_of<int64_t>(-5), N,
       H("04", 19, 0, false) + "-0000000005"},
      {"bigint as double", SQL_C_SBIGINT, SQL_BIGINT, 19, 0, bytes_of<int64_t>(1LL << 40), N,
       H("08", 19, 0, false) + "141099511627776."},
      {"bigint largest exact", SQL_C_UBIGINT, SQL_BIGINT, 19, 0, bytes_of<uint64_t>(999999999999999ULL), N,
       H("08", 19, 0, false) + "16999999999999999."},
      {"bigint C_LONG", SQL_C_LONG, SQL_BIGINT, 19, 0, bytes_of(i32(12)), N, H("04", 19, 0, false) + "0000000012"},
      {"sbigint into integer", SQL_C_SBIGINT, SQL_INTEGER, 10, 0, bytes_of<int64_t>(INT32_MIN), N,
       H("04", 10, 0, false) + "-2147483648"},
      {"ubigint into smallint", SQL_C_UBIGINT, SQL_SMALLINT, 5, 0, bytes_of<uint64_t>(32767), N,
       H("05", 5, 0, false) + "32767"},
      {"sbigint into numeric", SQL_C_SBIGINT, SQL_NUMERIC, 9, 2, bytes_of<int64_t>(-123), N,
       H("02", 9, 2, false) + "07-12300."},
      {"sbigint into double", SQL_C_SBIGINT, SQL_DOUBLE, 15, 0, bytes_of<int64_t>(42), N, H("08", 15, 0, false) + "0342."},
      // datetime, date, time.
      {"type timestamp", SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 26, 6,
       bytes_of(stamp(2020, 2, 29, 12, 0, 1, 500000000)), N, H("11", 26, 6, false) + "20200229120001500000000"},
      {"type date", SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, bytes_of(date(2020, 2, 29)), N,
       H("09", 10, 0, false) + "20200229"},
      {"type time", SQL_C_TYPE_TIME, SQL_TYPE_TIME, 8, 0, bytes_of(time_of(8, 9, 10)), N,
       H("10", 8, 0, false) + "080910"},
      {"type date into old timestamp", SQL_C_TYPE_DATE, SQL_TIMESTAMP, 26, 0, bytes_of(date(2020, 2, 29)), N,
       H("11", 26, 0, false) + "20200229000000000000000"},
      // bool, float, Decimal.
      {"bool", SQL_C_BIT, SQL_BIT, 1, 0, bytes_of<unsigned char>(1), N, H("-07", 1, 0, false) + "1"},
      {"float", SQL_C_DOUBLE, SQL_DOUBLE, 53, 0, bytes_of(0.1), N, H("08", 53, 0, false) + "030.1"},
      {"Decimal", SQL_C_CHAR, SQL_NUMERIC, 5, 2, cz("-1.25"), N, H("02", 5, 2, false) + "05-125."},
  });
}

TEST(ParamEntry, RefusedValuesNameTheProblem) {
  const SQLLEN N = kNoLengthPointer;
  std::string long_text(1000, 'x');
  struct Bad {
    const char* what;
    int c_type, sql_type, scale;
    std::string value;
    SQLLEN length;
    std::string text;  // expected diagnostic text (index 3)
  } cases[] = {
      {"decimal", SQL_C_CHAR, SQL_DECIMAL, 0, cz("1"), N, "Unsupported setparam conversion fCType=1, fSqlType=3"},
      {"real", SQL_C_DOUBLE, SQL_REAL, 0, bytes_of(1.0), N, "Unsupported setparam conversion fCType=8, fSqlType=7"},
      {"tinyint", SQL_C_TINYINT, SQL_TINYINT, 0, "x", N, "Unsupported setparam conversion fCType=-6, fSqlType=-6"},
      {"binary", SQL_C_BINARY, SQL_VARBINARY, 0, "xx", 2, "Unsupported setparam conversion fCType=-2, fSqlType=-3"},
      {"long into char", SQL_C_LONG, SQL_CHAR, 0, bytes_of(i32(1)), N,
       "Unsupported setparam conversion fCType=4, fSqlType=1"},
      {"C_LONG into smallint", SQL_C_LONG, SQL_SMALLINT, 0, bytes_of(i32(1)), N,
       "Unsupported setparam conversion fCType=4, fSqlType=5"},
      {"date into time", SQL_C_DATE, SQL_TIME, 0, bytes_of(date(2000, 1, 1)), N,
       "Unsupported setparam conversion fCType=9, fSqlType=10"},
      {"ODBC 3 codes named as bound", SQL_C_TYPE_TIME, SQL_TYPE_DATE, 0, bytes_of(time_of(1, 1, 1)), N,
       "Unsupported setparam conversion fCType=92, fSqlType=91"},
      {"date too short", SQL_C_CHAR, SQL_DATE, 0, cz("2024-1-31"), N, "date literal must be of form 'yyyy-mm-dd'"},
      {"date letters", SQL_C_CHAR, SQL_DATE, 0, cz("2024-0a-31"), N, "date literal must be of form 'yyyy-mm-dd'"},
      {"time too long", SQL_C_CHAR, SQL_TIME, 0, cz("12:00:00Z"), N, "time literal must be of form 'hh:mm:ss'"},
      {"timestamp short", SQL_C_CHAR, SQL_TIMESTAMP, 0, cz("1999-12-31 23:59"), N,
       "date literal must be of form 'yyyy-mm-dd hh:mm:ss[.ffffff]'"},
      {"char over 999", SQL_C_CHAR, SQL_VARCHAR, 0, long_text, 1000,
       "Parameter 1: character value of 1000 bytes is longer than 999 bytes"},
      {"wide over 999 after conversion", SQL_C_WCHAR, SQL_WVARCHAR, 0, wide(std::u16string(500, u'\u00e9')), 1000,
       "Parameter 1: character value of 1000 bytes is longer than 999 bytes"},
      {"unpaired high surrogate", SQL_C_WCHAR, SQL_WVARCHAR, 0, wide(u"ab\xd83d"), 6,
       "Parameter 1: unpaired surrogate at character 3"},
      {"unpaired low surrogate", SQL_C_WCHAR, SQL_WVARCHAR, 0, wz(u"\xde00x"), SQL_NTS,
       "Parameter 1: unpaired surrogate at character 1"},
      {"odd wide length", SQL_C_WCHAR, SQL_WVARCHAR, 0, wide(u"ab"), 3,
       "Parameter 1: wide character data of odd length 3"},
      {"data at execution", SQL_C_CHAR, SQL_VARCHAR, 0, cz("a"), SQL_DATA_AT_EXEC,
       "Parameter 1: length -2 is not supported (no data at execution)"},
      {"infinity", SQL_C_DOUBLE, SQL_DOUBLE, 0, bytes_of(HUGE_VAL), N, "Parameter 1: value is not a finite number"},
      {"nan numeric", SQL_C_DOUBLE, SQL_NUMERIC, 0, bytes_of(std::nan("")), N,
       "Parameter 1: value is not a finite number"},
      {"numeric text overflow", SQL_C_CHAR, SQL_NUMERIC, 0, cz("1e999"), N,
       "Parameter 1: numeric value out of range"},
      {"scaled into infinity", SQL_C_DOUBLE, SQL_NUMERIC, 10, bytes_of(1e300), N,
       "Parameter 1: value is not a finite number"},
      {"integer text too big", SQL_C_CHAR, SQL_INTEGER, 0, cz("2147483648"), N,
       "Parameter 1: value does not fit INTEGER"},
      {"integer text nan", SQL_C_CHAR, SQL_INTEGER, 0, cz("nan"), N, "Parameter 1: value does not fit INTEGER"},
      {"smallint from long", SQL_C_SLONG, SQL_SMALLINT, 0, bytes_of(i32(70000)), N,
       "Parameter 1: value does not fit SMALLINT"},
      {"smallint from ushort", SQL_C_USHORT, SQL_SMALLINT, 0, bytes_of<uint16_t>(40000), N,
       "Parameter 1: value does not fit SMALLINT"},
      {"smallint from text", SQL_C_CHAR, SQL_SMALLINT, 0, cz("-32769"), N,
       "Parameter 1: value does not fit SMALLINT"},
      {"sbigint into integer", SQL_C_SBIGINT, SQL_INTEGER, 0, bytes_of<int64_t>(1LL << 31), N,
       "Parameter 1: value does not fit INTEGER"},
      {"bigint beyond 15 digits", SQL_C_SBIGINT, SQL_BIGINT, 0, bytes_of<int64_t>(1000000000000000LL), N,
       "Parameter 1: BIGINT value has more than 15 digits and cannot be sent exactly"},
      {"ubigint above int64", SQL_C_UBIGINT, SQL_BIGINT, 0, bytes_of<uint64_t>(UINT64_MAX), N,
       "Parameter 1: BIGINT value has more than 15 digits and cannot be sent exactly"},
      {"sbigint scaled past 15 digits", SQL_C_SBIGINT, SQL_NUMERIC, 3, bytes_of<int64_t>(1000000000000LL), N,
       "Parameter 1: value cannot be sent exactly as NUMERIC with scale 3"},
      {"sbigint double", SQL_C_SBIGINT, SQL_DOUBLE, 0, bytes_of<int64_t>(-1000000000000000LL), N,
       "Parameter 1: value cannot be sent exactly as DOUBLE"},
      {"negative year", SQL_C_DATE, SQL_DATE, 0, bytes_of(date(-1, 1, 1)), N, "Parameter 1: negative year -1"},
      {"no value buffer", SQL_C_LONG, SQL_INTEGER, 0, kNoBuffer, 4, "Parameter 1 has no value buffer"},
  };
  for (const Bad& c : cases) {
    Encoded e = encode(c.c_type, c.sql_type, 10, c.scale, c.value, c.length);
    ASSERT_TRUE(e.diag) << c.what;
    EXPECT_EQ(e.diag->index, kErrGeneral) << c.what;
    EXPECT_EQ(e.diag->text, c.text) << c.what;
    EXPECT_EQ(e.entry, "") << c.what << ": nothing of a refused entry stays";
  }
}

TEST(ParamEntry, LongestCharacterValue) {
  std::string text(999, 'z');
  Encoded e = encode(SQL_C_CHAR, SQL_LONGVARCHAR, 999, 0, text, 999);
  ASSERT_FALSE(e.diag);
  EXPECT_EQ(e.entry, H("-01", 999, 0, false) + "999" + text);
}

}  // namespace
}  // namespace quarl::codec
