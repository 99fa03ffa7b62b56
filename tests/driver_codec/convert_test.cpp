#include "driver/codec/convert.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/digits.h"

#include "tests/driver_codec/codec_fixture.h"

namespace quarl::codec {
namespace {

using test::bytes_of;
using test::Col;
using test::Guarded;
using test::result_set;
using test::unpack;
using test::wide;
using test::cz;
using test::wz;
using test::date;
using test::time_of;
using test::stamp;

enum Column {
  kBit, kChar5, kVarchar10, kNumeric, kInteger, kSmallint, kDouble, kDate, kTime, kTimestamp,
  kNumericNeg, kWideText, kNumeric1200, kDoubleTiny, kDoubleHuge, kVarcharEmpty
};

const std::vector<Col> kColumns = {
    {SQL_BIT, 1},       {SQL_CHAR, 5},    {SQL_VARCHAR, 10}, {SQL_NUMERIC, 7, 2}, {SQL_INTEGER, 10},
    {SQL_SMALLINT, 5},  {SQL_DOUBLE, 15}, {SQL_DATE, 10},    {SQL_TIME, 8},       {SQL_TIMESTAMP, 29, 9},
    {SQL_NUMERIC, 9, 2}, {SQL_VARCHAR, 20}, {SQL_NUMERIC, 7, 2}, {SQL_DOUBLE, 15}, {SQL_DOUBLE, 15},
    {SQL_VARCHAR, 5},
};

const std::string kRow = std::string("0") + "1" + "xab de" + "010abcdefghij" + "0012345" + "0000123456" + "-00042" +
                         "05123.9" + "20240229" + "235958" + "19991231235959" "600000000" + "-000000007" +
                         "006a\xf0\x9f\x98\x80" "b" + "0001200" + "071.e-002" + "071.e+020" + "000";

class Convert : public ::testing::Test {
 protected:
  void SetUp() override {
    rs = result_set(kColumns);
    ASSERT_EQ(unpack(rs, kRow).kind, RowResult::Row);
  }
  ConvertResult get(int column, int c_type, void* target, SQLLEN size, SQLLEN* length,
                    ConvertOptions options = {}) {
    return convert_column(rs.columns[static_cast<size_t>(column)], static_cast<SQLSMALLINT>(c_type), target, size,
                          length, rs.row_buffer.data(), options);
  }
  ResultSet rs;
};


constexpr SQLRETURN OK = SQL_SUCCESS, INFO = SQL_SUCCESS_WITH_INFO, ERR = SQL_ERROR;
constexpr SQLLEN UNCHANGED = -777;

TEST_F(Convert, VarcharReadInPiecesWithGetData) {
  struct Piece {
    std::string text;
    SQLLEN length;
    SQLRETURN rc;
  } pieces[] = {{"abc", 10, INFO}, {"def", 7, INFO}, {"ghi", 4, INFO}, {"j", 1, OK}};
  for (const Piece& p : pieces) {
    Guarded buffer(4);
    SQLLEN length = 0;
    ConvertResult r = get(kVarchar10, SQL_C_CHAR, buffer.data(), 4, &length);
    EXPECT_EQ(r.rc, p.rc) << p.text;
    EXPECT_EQ(length, p.length) << p.text;
    EXPECT_EQ(buffer.content(p.text.size() + 1), cz(p.text.c_str())) << p.text;
    EXPECT_TRUE(buffer.guards_intact());
    if (p.rc == INFO) {
      EXPECT_EQ(r.diag->text, "String data, right truncated");
    }
  }
  Guarded buffer(4);
  SQLLEN length = UNCHANGED;
  EXPECT_EQ(get(kVarchar10, SQL_C_CHAR, buffer.data(), 4, &length).rc, SQL_NO_DATA_FOUND);
  EXPECT_EQ(length, UNCHANGED);
  EXPECT_EQ(buffer.content(1), "\xA5");  // nothing written
}

TEST_F(Convert, WholeValuesComeBackOnTheNextRowAndOnlyOncePerRow) {
  char buffer[8];
  SQLLEN length = 0;
  ASSERT_EQ(get(kChar5, SQL_C_CHAR, buffer, 8, &length).rc, OK);  // as SQLFetch for a bound column
  EXPECT_EQ(get(kChar5, SQL_C_CHAR, buffer, 8, &length).rc, SQL_NO_DATA_FOUND);  // then SQLGetData
  ASSERT_EQ(unpack(rs, kRow).kind, RowResult::Row);                               // the next row
  ASSERT_EQ(get(kChar5, SQL_C_CHAR, buffer, 8, &length).rc, OK);
  EXPECT_STREQ(buffer, "ab de");
  // Non-character columns give their value on every call.
  int32_t v = 0;
  EXPECT_EQ(get(kInteger, SQL_C_LONG, &v, 0, &length).rc, OK);
  EXPECT_EQ(get(kInteger, SQL_C_LONG, &v, 0, &length).rc, OK);
  EXPECT_EQ(v, 123456);
  // An empty value is handed out once, as an empty string.
  buffer[0] = 'x';
  EXPECT_EQ(get(kVarcharEmpty, SQL_C_CHAR, buffer, 8, &length).rc, OK);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(get(kVarcharEmpty, SQL_C_CHAR, buffer, 8, &length).rc, SQL_NO_DATA_FOUND);
  // A length query (no room) hands nothing out.
  EXPECT_EQ(get(kVarchar10, SQL_C_CHAR, nullptr, 0, &length).rc, INFO);
  EXPECT_EQ(length, 10);
  EXPECT_EQ(get(kVarchar10, SQL_C_CHAR, buffer, 8, &length).rc, INFO);
  EXPECT_STREQ(buffer, "abcdefg");
}

TEST_F(Convert, WideCharacterPiecesFillTheBuffer) {
  // "a", U+1F600 (a surrogate pair), "b": 4 UTF-16 units.  Applications join
  // the pieces' bytes (pyodbc counts on a full buffer), so the pair is split.
  struct Piece {
    std::u16string text;
    SQLLEN length;
    SQLRETURN rc;
  } pieces[] = {{u"a\xD83D", 8, INFO}, {u"\xDE00" u"b", 4, OK}};
  for (const Piece& p : pieces) {
    Guarded buffer(6);  // room for two units and the terminator
    SQLLEN length = 0;
    ConvertResult r = get(kWideText, SQL_C_WCHAR, buffer.data(), 6, &length);
    EXPECT_EQ(r.rc, p.rc);
    EXPECT_EQ(length, p.length);
    EXPECT_EQ(buffer.content(2 * p.text.size() + 2), wz(p.text));
    EXPECT_TRUE(buffer.guards_intact());
  }
  EXPECT_EQ(get(kWideText, SQL_C_WCHAR, nullptr, 0, nullptr).rc, SQL_NO_DATA_FOUND);

  // Malformed UTF-8 from the host becomes U+FFFD, one per bad byte.
  ResultSet bad = result_set({{SQL_VARCHAR, 4}});
  ASSERT_EQ(unpack(bad, "0" "003" "a\xff\xc3").kind, RowResult::Row);
  Guarded buffer(10);
  SQLLEN length = 0;
  ConvertResult r = convert_column(bad.columns[0], SQL_C_WCHAR, buffer.data(), 10, &length, bad.row_buffer.data());
  EXPECT_EQ(r.rc, OK);
  EXPECT_EQ(length, 6);
  EXPECT_EQ(buffer.content(8), wz(u"a\uFFFD\uFFFD"));
}

TEST_F(Convert, NullValues) {
  ASSERT_EQ(unpack(rs, "0" + std::string(kColumns.size(), 'N')).kind, RowResult::Row);
  for (int column : {kBit, kChar5, kInteger, kDouble, kDate, kTimestamp}) {
    Guarded buffer(16);
    SQLLEN length = 0;
    EXPECT_EQ(get(column, SQL_C_CHAR, buffer.data(), 16, &length).rc, OK);
    EXPECT_EQ(length, SQL_NULL_DATA);
    // Without a length pointer: "22002" and nothing written.
    Guarded untouched(16);
    ConvertResult r = get(column, SQL_C_CHAR, untouched.data(), 16, nullptr);
    EXPECT_EQ(r.rc, ERR);
    ASSERT_TRUE(r.diag);
    EXPECT_EQ(r.diag->index, kErrIndicatorRequired);
    EXPECT_EQ(untouched.content(16), std::string(16, '\xA5'));
  }
  Guarded text(4);
  SQLLEN length = 0;
  get(kVarchar10, SQL_C_CHAR, text.data(), 4, &length);
  EXPECT_EQ(text.content(2), std::string("\0\xA5", 2));  // an empty string for character columns
  Guarded wtext(4);
  get(kVarchar10, SQL_C_WCHAR, wtext.data(), 4, &length);
  EXPECT_EQ(wtext.content(3), std::string("\0\0\xA5", 3));
  Guarded date(6);
  get(kDate, SQL_C_TYPE_DATE, date.data(), 6, &length);
  EXPECT_EQ(date.content(6), std::string(6, '\0'));
  Guarded number(4);
  get(kInteger, SQL_C_LONG, number.data(), 4, &length);
  EXPECT_EQ(number.content(4), std::string(4, '\xA5'));
  EXPECT_TRUE(text.guards_intact() && wtext.guards_intact() && date.guards_intact() && number.guards_intact());
}

TEST_F(Convert, NumericTextWithoutTrailingZeros) {
  struct Case {
    int32_t value;
    int scale;
    const char* keep;
    const char* drop;
  } cases[] = {{12345, 2, "123.45", "123.45"}, {5, 2, "0.05", "0.05"},       {-7, 2, "-0.07", "-0.07"},
               {1200, 2, "12.00", "12"},       {1230, 2, "12.30", "12.3"},   {-120, 0, "-120", "-120"},
               {0, 3, "0.000", "0"},           {INT32_MIN, 4, "-214748.3648", "-214748.3648"}};
  for (const Case& c : cases) {
    ResultSet n = result_set({{SQL_NUMERIC, 10, c.scale}});
    char wire[16];
    std::snprintf(wire, sizeof wire, "0%s%010lld", c.value < 0 ? "-" : "",
                  c.value < 0 ? -static_cast<long long>(c.value) : static_cast<long long>(c.value));
    ASSERT_EQ(unpack(n, wire).kind, RowResult::Row) << wire;
    for (bool keep : {true, false}) {
      char out[32];
      SQLLEN length = 0;
      convert_column(n.columns[0], SQL_C_CHAR, out, 32, &length, n.row_buffer.data(), ConvertOptions{keep});
      EXPECT_STREQ(out, keep ? c.keep : c.drop) << c.value;
      EXPECT_EQ(length, static_cast<SQLLEN>(std::strlen(out)));
    }
  }
}

TEST_F(Convert, TimestampToTimeRoundsToTheNearestSecond) {
  struct Case {
    const char* wire;
    TIME_STRUCT expected;
  } cases[] = {
      {"19991231235959" "499999999", time_of(23, 59, 59)}, {"19991231235959" "500000000", time_of(0, 0, 0)},
      {"20000101105959" "500000000", time_of(11, 0, 0)},   {"20000101123059" "999999999", time_of(12, 31, 0)},
      {"20000101123000" "000000000", time_of(12, 30, 0)},
  };
  for (const Case& c : cases) {
    ResultSet t = result_set({{SQL_TIMESTAMP, 29, 9}});
    ASSERT_EQ(unpack(t, std::string("0") + c.wire).kind, RowResult::Row);
    TIME_STRUCT out{};
    SQLLEN length = 0;
    ASSERT_EQ(convert_column(t.columns[0], SQL_C_TIME, &out, 0, &length, t.row_buffer.data()).rc, OK);
    EXPECT_EQ(bytes_of(out), bytes_of(c.expected)) << c.wire;
  }
}

// Text read as a floating number: beyond a double's range it is out of
// range (22003), never an infinity; below it, zero.
TEST(ConvertText, FloatingNumbersFromText) {
  struct Case {
    const char* text;
    int c_type;
    SQLRETURN rc;
    double value;  // when converted
  } cases[] = {
      {"1e400", SQL_C_DOUBLE, ERR, 0},   {"-1e400", SQL_C_DOUBLE, ERR, 0}, {"1e400", SQL_C_FLOAT, ERR, 0},
      {"1e39", SQL_C_FLOAT, ERR, 0},     {"1e-400", SQL_C_DOUBLE, OK, 0},  {" 42 ", SQL_C_DOUBLE, OK, 42},
      {"1.5e308", SQL_C_DOUBLE, OK, 1.5e308},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    char wire[64];
    std::snprintf(wire, sizeof wire, "0%03zu%s", text.size(), text.c_str());
    ResultSet rs = result_set({{SQL_VARCHAR, 20}});
    ASSERT_EQ(unpack(rs, wire).kind, RowResult::Row) << c.text;
    double as_double = -1;
    float as_float = -1;
    void* target = c.c_type == SQL_C_DOUBLE ? static_cast<void*>(&as_double) : static_cast<void*>(&as_float);
    SQLLEN length = UNCHANGED;
    ConvertResult r = convert_column(rs.columns[0], static_cast<SQLSMALLINT>(c.c_type), target, 8, &length,
                                     rs.row_buffer.data());
    EXPECT_EQ(r.rc, c.rc) << c.text;
    if (c.rc == ERR) {
      ASSERT_TRUE(r.diag) << c.text;
      EXPECT_EQ(r.diag->index, kErrOutOfRange) << c.text;
      EXPECT_EQ(length, UNCHANGED) << c.text;
    } else if (c.c_type == SQL_C_DOUBLE) {
      EXPECT_EQ(as_double, c.value) << c.text;
    }
  }
}

TEST(ConvertDouble, StoredTextReadsExactlyAsTheCLibraryReadsIt) {
  // Texts as hosts write them; each must give the same double, bit for bit,
  // as std::from_chars (the fast path for plain decimals must never round
  // differently).
  std::mt19937_64 random(12345);
  std::vector<std::string> texts = {"0.",  "-0.", "1234.", "0.5",    "1.e+020", "-2.5e-003", "123456789012345.",
                                    "9007199254740993", "0.1", "0.30000000000000004", ".5", "5.", "-.25",
                                    // Above 2^53, up to 19 digits: exact midpoints between two
                                    // doubles and their neighbours.
                                    "9007199254740993.0", "18014398509481986", "18014398509481985.00",
                                    "-9223372036854775809", "9999999999999999999", "0.9999999999999999999",
                                    "1844674407370955.1615"};
  for (int i = 0; i < 3000; ++i) {
    double v = std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 120) - 100);
    if (random() % 2) v = -v;
    char text[40];
    texts.push_back(*format_general15(v));
    std::snprintf(text, sizeof text, "%.17g", v);
    texts.push_back(text);
    std::snprintf(text, sizeof text, "%.*f", static_cast<int>(random() % 12), v / 1e6);
    if (std::strlen(text) <= 31) texts.push_back(text);
    std::snprintf(text, sizeof text, "%llu.%llu", static_cast<unsigned long long>(random() % 100000000000ULL),
                  static_cast<unsigned long long>(random() % 100000000ULL));
    texts.push_back(text);
  }
  for (const std::string& t : texts) {
    if (t.size() > 31) continue;
    char wire[64];
    std::snprintf(wire, sizeof wire, "0%02zu%s", t.size(), t.c_str());
    ResultSet rs = result_set({{SQL_DOUBLE, 15}});
    ASSERT_EQ(unpack(rs, wire).kind, RowResult::Row) << t;
    double got = 0, want = 0;
    SQLLEN length = 0;
    ASSERT_EQ(convert_column(rs.columns[0], SQL_C_DOUBLE, &got, 8, &length, rs.row_buffer.data()).rc, SQL_SUCCESS);
    const char* begin = t.c_str() + (t[0] == '+');
    std::from_chars(begin, t.c_str() + t.size(), want);
    EXPECT_EQ(bytes_of(got), bytes_of(want)) << t;
  }
}

// The stored text of a DOUBLE read as the C library reads it, bit for bit,
// over a million random plain decimals (and some that are not plain), with
// whatever follows the text in the row data area after it.
TEST(ConvertTest, DoubleTextReadsAsStrtodDoes) {
  std::mt19937_64 rng(20261210);
  const char garbage[] = "0123456789.-e+ ";
  for (int i = 0; i < 1000000; ++i) {
    char text[kDoubleTextReadable];
    for (auto& b : text) b = garbage[rng() % (sizeof garbage - 1)];
    std::string t;
    if (rng() % 4 == 0) t += '-';
    size_t whole = rng() % 17, fraction = rng() % 18;
    for (size_t k = 0; k < whole; ++k) t += static_cast<char>('0' + rng() % 10);
    if (fraction > 0 || rng() % 2) t += '.';
    for (size_t k = 0; k + 1 < fraction; ++k) t += static_cast<char>('0' + rng() % 10);
    if (!t.empty() && rng() % 50 == 0) t[rng() % t.size()] = garbage[rng() % (sizeof garbage - 1)];  // not plain
    if (t.size() > kDoubleTextKept) continue;
    std::memcpy(text, t.data(), t.size());
    unsigned char slot[kDoubleSlot];
    set_double_text(slot, text, t.size());
    double want = std::strtod(t.c_str(), nullptr);
    double got = double_text_value(slot);
    ASSERT_EQ(bytes_of(got), bytes_of(want)) << '"' << t << '"';
  }
}

}  // namespace
}  // namespace quarl::codec
