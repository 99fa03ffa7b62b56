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

// What the generated conversion table leaves out: lengths, the default C
// types, the forms of character dates and times, wide fields.
TEST(ParamEntry, LengthsDefaultsAndLiteralForms) {
  const SQLLEN N = kNoLengthPointer;
  run({
      // number, type, precision, scale, null flag, value
      {"bit from C_DEFAULT", SQL_C_DEFAULT, SQL_BIT, 1, 0, bytes_of<unsigned char>(0), N, H("-07", 1, 0, false) + "0"},
      {"bit from text", SQL_C_CHAR, SQL_BIT, 1, 0, cz(" 0"), N, H("-07", 1, 0, false) + "0"},
      {"bit from text 2", SQL_C_CHAR, SQL_BIT, 1, 0, cz("+12"), N, H("-07", 1, 0, false) + "1"},
      {"char NTS", SQL_C_CHAR, SQL_CHAR, 10, 0, cz("abc"), N, H("01", 10, 0, false) + "003abc"},
      {"char with length", SQL_C_CHAR, SQL_CHAR, 10, 0, "abcdef", 2, H("01", 10, 0, false) + "002ab"},
      {"char length SQL_NTS", SQL_C_CHAR, SQL_VARCHAR, 10, 0, cz("x\ty"), SQL_NTS, H("12", 10, 0, false) + "003x\ty"},
      {"longvarchar C_DEFAULT", SQL_C_DEFAULT, SQL_LONGVARCHAR, 5000, 0, cz("q"), N, H("-01", 5000, 0, false) + "001q"},
      {"empty varchar", SQL_C_CHAR, SQL_VARCHAR, 1, 0, "", 0, H("12", 1, 0, false) + "000"},
      {"numeric C_DEFAULT is text", SQL_C_DEFAULT, SQL_NUMERIC, 7, 0, cz("-0.5"), N, H("02", 7, 0, false) + "04-0.5"},
      {"numeric from exponent text", SQL_C_CHAR, SQL_NUMERIC, 7, 1, cz(" 1.25e1 "), N, H("02", 7, 1, false) + "03125"},
      {"integer C_DEFAULT", SQL_C_DEFAULT, SQL_INTEGER, 10, 0, bytes_of(i32(INT32_MIN)), N,
       H("04", 10, 0, false) + "-2147483648"},
      {"integer from text truncates", SQL_C_CHAR, SQL_INTEGER, 10, 0, cz(" -12.9e0"), N,
       H("04", 10, 0, false) + "-0000000012"},
      {"smallint C_DEFAULT", SQL_C_DEFAULT, SQL_SMALLINT, 5, 0, bytes_of(i16(32767)), N,
       H("05", 5, 0, false) + "32767"},
      {"bigint C_DEFAULT", SQL_C_DEFAULT, SQL_BIGINT, 19, 0, bytes_of<int64_t>(INT64_MAX), N,
       H("02", 19, 0, false) + "199223372036854775807"},
      {"double C_DEFAULT", SQL_C_DEFAULT, SQL_DOUBLE, 15, 0, bytes_of(1234.0), N, H("08", 15, 0, false) + "041234"},
      {"date C_DEFAULT", SQL_C_DEFAULT, SQL_DATE, 10, 0, bytes_of(date(999, 12, 1)), N, H("09", 10, 0, false) + "09991201"},
      {"date separators unchecked", SQL_C_CHAR, SQL_DATE, 10, 0, cz("2024/01.31"), N,
       H("09", 10, 0, false) + "20240131"},
      // The fraction travels in nanoseconds: ".5" is half a second.
      {"timestamp text .123456", SQL_C_CHAR, SQL_TIMESTAMP, 29, 0, cz("1999-12-31 23:59:59.123456"), N,
       H("11", 29, 0, false) + "19991231235959123456000"},
      {"timestamp text 11 digits, zeros past the ninth", SQL_C_CHAR, SQL_TIMESTAMP, 29, 0,
       cz("1999-12-31 23:59:59.12345678900x"), N, H("11", 29, 0, false) + "19991231235959123456789"},
      {"timestamp text tail without point", SQL_C_CHAR, SQL_TIMESTAMP, 29, 0, cz("1999-12-31 23:59:59Z5"), N,
       H("11", 29, 0, false) + "19991231235959000000000"},
      // Fields wider than their wire width keep their leading digits.
      {"precision cut", SQL_C_CHAR, SQL_CHAR, 12345, 12, cz("a"), N, H("01", 1234, 12, false) + "001a"},
  });
}

TEST(ParamEntry, NullsGoWithAnySqlType) {
  const SQLLEN NUL = SQL_NULL_DATA;
  run({
      {"decimal goes as numeric", SQL_C_CHAR, SQL_DECIMAL, 10, 2, cz("1"), NUL, H("02", 10, 2, true)},
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
      // Beyond 32 bits: NUMERIC(19,0), every digit.
      {"bigint over 32 bits", SQL_C_SBIGINT, SQL_BIGINT, 19, 0, bytes_of<int64_t>(1LL << 40), N,
       H("02", 19, 0, false) + "131099511627776"},
      {"bigint largest", SQL_C_SBIGINT, SQL_BIGINT, 19, 0, bytes_of<int64_t>(INT64_MAX), N,
       H("02", 19, 0, false) + "199223372036854775807"},
      {"bigint smallest", SQL_C_SBIGINT, SQL_BIGINT, 19, 0, bytes_of<int64_t>(INT64_MIN), N,
       H("02", 19, 0, false) + "20-9223372036854775808"},
      {"ubigint", SQL_C_UBIGINT, SQL_BIGINT, 19, 0, bytes_of<uint64_t>(9007199254740993ULL), N,
       H("02", 19, 0, false) + "169007199254740993"},
      {"bigint C_LONG", SQL_C_LONG, SQL_BIGINT, 19, 0, bytes_of(i32(12)), N, H("04", 19, 0, false) + "0000000012"},
      {"sbigint into integer", SQL_C_SBIGINT, SQL_INTEGER, 10, 0, bytes_of<int64_t>(INT32_MIN), N,
       H("04", 10, 0, false) + "-2147483648"},
      {"ubigint into smallint", SQL_C_UBIGINT, SQL_SMALLINT, 5, 0, bytes_of<uint64_t>(32767), N,
       H("05", 5, 0, false) + "32767"},
      {"sbigint into numeric", SQL_C_SBIGINT, SQL_NUMERIC, 9, 2, bytes_of<int64_t>(-123), N,
       H("02", 9, 2, false) + "06-12300"},
      {"sbigint into double", SQL_C_SBIGINT, SQL_DOUBLE, 15, 0, bytes_of<int64_t>(42), N, H("08", 15, 0, false) + "0242"},
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
      // A BIT from text: its whole number (a fraction cut toward zero) other than 0.
      {"bit text 2", SQL_C_CHAR, SQL_BIT, 1, 0, cz(" 2"), N, H("-07", 1, 0, false) + "1"},
      {"bit text 0.5", SQL_C_CHAR, SQL_BIT, 1, 0, cz("0.5"), N, H("-07", 1, 0, false) + "0"},
      {"bit text -0", SQL_C_CHAR, SQL_BIT, 1, 0, cz("-0"), N, H("-07", 1, 0, false) + "0"},
      {"bit text 1e30", SQL_C_CHAR, SQL_BIT, 1, 0, cz("1e30"), N, H("-07", 1, 0, false) + "1"},
      {"double text at the edge", SQL_C_CHAR, SQL_DOUBLE, 53, 0, cz("1.7976931348623157e308"), N,
       H("08", 53, 0, false) + "231.7976931348623157e+308"},
      {"double text below the range", SQL_C_CHAR, SQL_DOUBLE, 53, 0, cz("1e-400"), N,
       H("08", 53, 0, false) + "061e-400"},
      {"float", SQL_C_DOUBLE, SQL_DOUBLE, 53, 0, bytes_of(0.1), N, H("08", 53, 0, false) + "030.1"},
      {"float, all 17 digits", SQL_C_DOUBLE, SQL_DOUBLE, 53, 0, bytes_of(0.1 + 0.2), N,
       H("08", 53, 0, false) + "190.30000000000000004"},
      {"Decimal", SQL_C_CHAR, SQL_NUMERIC, 5, 2, cz("-1.25"), N, H("02", 5, 2, false) + "04-125"},
      {"Decimal of 30 digits", SQL_C_CHAR, SQL_NUMERIC, 30, 10, cz("12345678901234567890.1234567891"), N,
       H("02", 30, 10, false) + "30123456789012345678901234567891"},
  });
}

// SQL_C_NUMERIC: a 128-bit magnitude, its sign and scale, read exactly.
std::string numeric(uint64_t magnitude, bool positive, int8_t scale, uint64_t high = 0) {
  SQL_NUMERIC_STRUCT n{};
  n.precision = 38;
  n.scale = scale;
  n.sign = positive ? 1 : 0;
  std::memcpy(n.val, &magnitude, 8);
  std::memcpy(n.val + 8, &high, 8);
  return bytes_of(n);
}

TEST(ParamEntry, NumericStructuresAreReadExactly) {
  run({
      {"scaled", SQL_C_NUMERIC, SQL_NUMERIC, 10, 4, numeric(123456789, false, 4), 19, H("02", 10, 4, false) + "10-123456789"},
      {"as text", SQL_C_NUMERIC, SQL_VARCHAR, 20, 0, numeric(5, true, 3), 19, H("12", 20, 0, false) + "0050.005"},
      {"negative scale", SQL_C_NUMERIC, SQL_BIGINT, 0, 0, numeric(12, true, -2), 19, H("04", 0, 0, false) + "0000001200"},
      {"beyond 64 bits", SQL_C_NUMERIC, SQL_VARCHAR, 40, 0, numeric(0, true, 0, 1), 19,
       H("12", 40, 0, false) + "02018446744073709551616"},
      {"zero stays unsigned", SQL_C_NUMERIC, SQL_VARCHAR, 5, 0, numeric(0, false, 2), 19, H("12", 5, 0, false) + "0040.00"},
      // Only 0 is negative: a sign byte other than 0 and 1 is taken as positive, as C's truth.
      {"sign 2", SQL_C_NUMERIC, SQL_VARCHAR, 5, 0, [] { auto n = numeric(5, true, 0); n[2] = 2; return n; }(), 19,
       H("12", 5, 0, false) + "0015"},
  });
}

TEST(ParamEntry, RefusedValuesNameTheProblem) {
  const SQLLEN N = kNoLengthPointer;
  std::string long_text(1000, 'x');
  constexpr int U = kErrRestrictedType, R = kErrOutOfRange, C = kErrInvalidCharacter, D = kErrDatetimeOverflow,
                L = kErrRightTruncation, G = kErrGeneral;
  struct Bad {
    const char* what;
    int c_type, sql_type, scale;
    std::string value;
    SQLLEN length;
    int index;
    std::string text;  // expected diagnostic text
  } cases[] = {
      {"binary", SQL_C_BINARY, SQL_VARBINARY, 0, "xx", 2, U, "Unsupported setparam conversion fCType=-2, fSqlType=-3"},
      {"date into time", SQL_C_DATE, SQL_TIME, 0, bytes_of(date(2000, 1, 1)), N, U,
       "Unsupported setparam conversion fCType=9, fSqlType=10"},
      {"ODBC 3 codes named as bound", SQL_C_TYPE_TIME, SQL_TYPE_DATE, 0, bytes_of(time_of(1, 1, 1)), N, U,
       "Unsupported setparam conversion fCType=92, fSqlType=91"},
      {"number into date", SQL_C_SLONG, SQL_DATE, 0, bytes_of(i32(20240101)), N, U,
       "Unsupported setparam conversion fCType=-16, fSqlType=9"},
      {"date too short", SQL_C_CHAR, SQL_DATE, 0, cz("2024-1-31"), N, D, "date literal must be of form 'yyyy-mm-dd'"},
      {"date letters", SQL_C_CHAR, SQL_DATE, 0, cz("2024-0a-31"), N, D, "date literal must be of form 'yyyy-mm-dd'"},
      {"date that does not exist", SQL_C_CHAR, SQL_DATE, 0, cz("2023-02-29"), N, D,
       "Parameter 1: date 2023-02-29 00:00:00.000000000 does not exist"},
      {"time too long", SQL_C_CHAR, SQL_TIME, 0, cz("12:00:00Z"), N, D, "time literal must be of form 'hh:mm:ss'"},
      {"timestamp short", SQL_C_CHAR, SQL_TIMESTAMP, 0, cz("1999-12-31 23:59"), N, D,
       "date literal must be of form 'yyyy-mm-dd hh:mm:ss[.ffffff]'"},
      {"timestamp past nanoseconds", SQL_C_CHAR, SQL_TIMESTAMP, 0, cz("1999-12-31 23:59:59.1234567891"), N, D,
       "date literal must be of form 'yyyy-mm-dd hh:mm:ss[.ffffff]'"},
      {"timestamp from a time", SQL_C_TIME, SQL_TIMESTAMP, 0, bytes_of(time_of(1, 2, 3)), N, D,
       "Parameter 1: a time has no date to make a timestamp of"},
      {"month 13", SQL_C_DATE, SQL_DATE, 0, bytes_of(date(2024, 13, 1)), N, D,
       "Parameter 1: date 2024-13-01 00:00:00.000000000 does not exist"},
      {"negative year", SQL_C_DATE, SQL_DATE, 0, bytes_of(date(-1, 1, 1)), N, D,
       "Parameter 1: date -001-01-01 00:00:00.000000000 does not exist"},
      {"hour 24", SQL_C_TIMESTAMP, SQL_TIMESTAMP, 0, bytes_of(stamp(2024, 1, 1, 24, 0, 0, 0)), N, D,
       "Parameter 1: timestamp 2024-01-01 24:00:00.000000000 does not exist"},
      {"char over 999", SQL_C_CHAR, SQL_VARCHAR, 0, long_text, 1000, L,
       "Parameter 1: character value of 1000 bytes is longer than 999 bytes"},
      {"wide over 999 after conversion", SQL_C_WCHAR, SQL_WVARCHAR, 0, wide(std::u16string(500, u'\u00e9')), 1000, L,
       "Parameter 1: character value of 1000 bytes is longer than 999 bytes"},
      {"unpaired high surrogate", SQL_C_WCHAR, SQL_WVARCHAR, 0, wide(u"ab\xd83d"), 6, C,
       "Parameter 1: unpaired surrogate at character 3"},
      {"unpaired low surrogate", SQL_C_WCHAR, SQL_WVARCHAR, 0, wz(u"\xde00x"), SQL_NTS, C,
       "Parameter 1: unpaired surrogate at character 1"},
      {"odd wide length", SQL_C_WCHAR, SQL_WVARCHAR, 0, wide(u"ab"), 3, C,
       "Parameter 1: wide character data of odd length 3"},
      {"data at execution", SQL_C_CHAR, SQL_VARCHAR, 0, cz("a"), SQL_DATA_AT_EXEC, G,
       "Parameter 1: length -2 is not supported (no data at execution)"},
      {"binary without length", SQL_C_BINARY, SQL_VARCHAR, 0, "ab", SQL_NTS, kErrArgument,
       "Parameter 1: binary data need their length"},
      {"infinity", SQL_C_DOUBLE, SQL_DOUBLE, 0, bytes_of(HUGE_VAL), N, R, "Parameter 1: value is not a finite number"},
      {"nan numeric", SQL_C_DOUBLE, SQL_NUMERIC, 0, bytes_of(std::nan("")), N, R,
       "Parameter 1: value is not a finite number"},
      {"numeric text not a number", SQL_C_CHAR, SQL_NUMERIC, 0, cz("12abc"), N, C,
       "Parameter 1: '12abc' is not a number"},
      {"numeric too long for its field", SQL_C_CHAR, SQL_NUMERIC, 0, cz(std::string(100, '7').c_str()), N, R,
       "Parameter 1: number too long to send"},
      {"scale out of range", SQL_C_CHAR, SQL_NUMERIC, 120, cz("1"), N, G, "Parameter 1: scale 120 is out of range"},
      {"integer text too big", SQL_C_CHAR, SQL_INTEGER, 0, cz("2147483648"), N, R,
       "Parameter 1: value does not fit INTEGER"},
      {"integer text nan", SQL_C_CHAR, SQL_INTEGER, 0, cz("nan"), N, C, "Parameter 1: 'nan' is not a number"},
      {"smallint text with a tail", SQL_C_CHAR, SQL_SMALLINT, 0, cz("  17abc"), N, C,
       "Parameter 1: '  17abc' is not a number"},
      {"smallint from long", SQL_C_SLONG, SQL_SMALLINT, 0, bytes_of(i32(70000)), N, R,
       "Parameter 1: value does not fit SMALLINT"},
      {"smallint from ushort", SQL_C_USHORT, SQL_SMALLINT, 0, bytes_of<uint16_t>(40000), N, R,
       "Parameter 1: value does not fit SMALLINT"},
      {"smallint from text", SQL_C_CHAR, SQL_SMALLINT, 0, cz("-32769"), N, R, "Parameter 1: value does not fit SMALLINT"},
      {"sbigint into integer", SQL_C_SBIGINT, SQL_INTEGER, 0, bytes_of<int64_t>(1LL << 31), N, R,
       "Parameter 1: value does not fit INTEGER"},
      {"ubigint above int64", SQL_C_UBIGINT, SQL_BIGINT, 0, bytes_of<uint64_t>(UINT64_MAX), N, R,
       "Parameter 1: value does not fit BIGINT"},
      {"double beyond 64 bits", SQL_C_DOUBLE, SQL_BIGINT, 0, bytes_of(1e20), N, R,
       "Parameter 1: value out of range"},
      {"double text beyond a double", SQL_C_CHAR, SQL_DOUBLE, 0, cz("1e400"), N, R,
       "Parameter 1: 1e400 is beyond the range of a double"},
      {"float text beyond a double", SQL_C_CHAR, SQL_FLOAT, 0, cz("-2e308"), N, R,
       "Parameter 1: -2e308 is beyond the range of a double"},
      {"bit text not a number", SQL_C_CHAR, SQL_BIT, 0, cz("x"), N, C, "Parameter 1: 'x' is not a number"},
      {"bit text empty", SQL_C_CHAR, SQL_BIT, 0, cz(""), N, C, "Parameter 1: '' is not a number"},
      {"bit text with a tail", SQL_C_CHAR, SQL_BIT, 0, cz("1abc"), N, C, "Parameter 1: '1abc' is not a number"},
      {"no value buffer", SQL_C_LONG, SQL_INTEGER, 0, kNoBuffer, 4, G, "Parameter 1 has no value buffer"},
  };
  for (const Bad& c : cases) {
    Encoded e = encode(c.c_type, c.sql_type, 10, c.scale, c.value, c.length);
    ASSERT_TRUE(e.diag) << c.what;
    EXPECT_EQ(e.diag->index, c.index) << c.what;
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
