#include "driver/codec/row.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/driver_codec/codec_fixture.h"

namespace quarl::codec {
namespace {

using test::Col;
using test::result_set;
using test::unpack;

const std::vector<Col> kEveryType = {
    {SQL_BIT, 1},     {SQL_CHAR, 3},     {SQL_VARCHAR, 6}, {SQL_LONGVARCHAR, 4}, {SQL_NUMERIC, 7, 2},
    {SQL_INTEGER, 10}, {SQL_SMALLINT, 5}, {SQL_DOUBLE, 15}, {SQL_DATE, 10},       {SQL_TIME, 8},
    {SQL_TIMESTAMP, 29, 9}, {SQL_NUMERIC, 19, 0},
};

// One row of every type, in wire form (marker byte first).
const std::string kRow = std::string("0") + "1" + "xabc" + "003xyz" + "000" + "-0012345" + "-2147483648" +
                         "32767" + "04-1.5" + "20240229" + "235958" + "19991231235959" "600000000" +
                         "-9223372036854775808";

template <typename T>
T at(const ResultSet& rs, size_t column) {
  T v;
  std::memcpy(&v, rs.row_buffer.data() + rs.columns[column].row_offset, sizeof v);
  return v;
}

TEST(UnpackRow, EveryTypeIntoItsRowStorage) {
  ResultSet rs = result_set(kEveryType);
  RowResult r = unpack(rs, kRow + "1");
  ASSERT_EQ(r.kind, RowResult::Row) << r.diag().text;
  EXPECT_EQ(r.used, kRow.size());
  const unsigned char* buf = rs.row_buffer.data();
  EXPECT_EQ(buf[rs.columns[0].row_offset], 1);
  EXPECT_EQ(std::string(value_bytes(rs.columns[1], buf), 3), "abc");
  EXPECT_EQ(std::string(value_bytes(rs.columns[2], buf), 3), "xyz");
  EXPECT_EQ(at<int64_t>(rs, 4), -12345);
  EXPECT_EQ(at<int32_t>(rs, 5), INT32_MIN);
  EXPECT_EQ(at<int16_t>(rs, 6), 32767);
  const unsigned char* d_slot = buf + rs.columns[7].row_offset;
  EXPECT_EQ(std::string(stored_double_text(d_slot), double_text_length(d_slot)), "-1.5");
  DATE_STRUCT d = at<DATE_STRUCT>(rs, 8);
  EXPECT_EQ(d.year, 2024);
  EXPECT_EQ(d.month, 2);
  EXPECT_EQ(d.day, 29);
  TIME_STRUCT t = at<TIME_STRUCT>(rs, 9);
  EXPECT_EQ(t.hour, 23);
  EXPECT_EQ(t.minute, 59);
  EXPECT_EQ(t.second, 58);
  TIMESTAMP_STRUCT ts = at<TIMESTAMP_STRUCT>(rs, 10);
  EXPECT_EQ(ts.year, 1999);
  EXPECT_EQ(ts.second, 59);
  EXPECT_EQ(ts.fraction, 600000000u);
  EXPECT_EQ(rs.columns[11].sql_type, SQL_BIGINT);
  EXPECT_EQ(whole_value(rs.columns[11], buf + rs.columns[11].row_offset), INT64_MIN);
  int16_t lengths[] = {1, 3, 3, 0, 8, 4, 2, 8, 6, 6, 16, 8};
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(rs.columns[i].value_length, lengths[i]) << i;
}

TEST(UnpackRow, NullsAndTheEndMarker) {
  ResultSet rs = result_set(kEveryType);
  rs.columns[1].returned_count = 2;
  RowResult r = unpack(rs, "0NNNNNNNNNNNN" "1");
  ASSERT_EQ(r.kind, RowResult::Row);
  EXPECT_EQ(r.used, 13u);
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(rs.columns[i].value_length, -1) << i;
  EXPECT_EQ(unpack(rs, "1").kind, RowResult::End);
  // A CHAR value starting with its flag byte is a value, not a NULL.
  ResultSet chars = result_set({{SQL_CHAR, 2}, {SQL_BIT, 1}});
  r = unpack(chars, "0 NNN");
  ASSERT_EQ(r.kind, RowResult::Row);
  EXPECT_EQ(chars.columns[0].value_length, 2);
  EXPECT_EQ(chars.columns[1].value_length, -1);
  // A BIT other than '1' is 0.
  r = unpack(chars, "0 112");
  ASSERT_EQ(r.kind, RowResult::Row);
  EXPECT_EQ(chars.row_buffer[chars.columns[1].row_offset], 0);
  // Only '0' starts a row: a block of anything else (NUL bytes) is no rows.
  for (const std::string& bad : {std::string("X 112"), std::string(8, '\0'), std::string(" ab1")}) {
    r = unpack(chars, bad);
    EXPECT_EQ(r.kind, RowResult::Malformed);
    EXPECT_EQ(r.diag().index, kErrCommLink);
  }
}

TEST(UnpackRow, EveryCutOfARowIsRefused) {
  ResultSet rs = result_set(kEveryType);
  for (size_t n = 0; n < kRow.size(); ++n) {
    std::vector<char> bytes(kRow.begin(), kRow.begin() + static_cast<long>(n));  // exactly n bytes
    RowResult r = unpack_row(std::string_view(bytes.data(), n), std::span(rs.columns.data(), rs.column_count),
                             rs.row_buffer.data());
    EXPECT_EQ(r.kind, RowResult::Malformed) << "cut at " << n;
    EXPECT_EQ(r.diag().index, kErrCommLink);
  }
}

// Character values and a double's text are read where they came: a row
// whose values end exactly where the buffered bytes end (an exactly sized
// buffer) is unpacked without a read past it, and each value is its own
// bytes.
TEST(UnpackRow, ValuesAtTheEndOfTheBufferedBytes) {
  ResultSet rs = result_set({{SQL_CHAR, 1}, {SQL_VARCHAR, 44}, {SQL_VARCHAR, 44}, {SQL_DOUBLE, 15}});
  const std::string long_text = "the quick brown fox jumps over the lazy dog!";  // 44 bytes
  for (const std::string& last : {std::string("02-0"), std::string("16167.607096471984")}) {
    std::string row = "0" "xZ" "044" + long_text + "005hello" + last;
    std::vector<char> bytes(row.begin(), row.end());
    RowResult r = unpack_row(std::string_view(bytes.data(), bytes.size()),
                             std::span(rs.columns.data(), rs.column_count), rs.row_buffer.data());
    ASSERT_EQ(r.kind, RowResult::Row) << r.diag().text;
    EXPECT_EQ(r.used, row.size());
    const unsigned char* buf = rs.row_buffer.data();
    EXPECT_EQ(value_bytes(rs.columns[0], buf)[0], 'Z');
    EXPECT_EQ(std::string(value_bytes(rs.columns[1], buf), 44), long_text);
    EXPECT_EQ(std::string(value_bytes(rs.columns[2], buf), 5), "hello");
    EXPECT_EQ(rs.columns[2].value_length, 5);
    const unsigned char* d_slot = buf + rs.columns[3].row_offset;
    EXPECT_EQ(std::string(stored_double_text(d_slot), double_text_length(d_slot)), last.substr(2));
  }
}

TEST(UnpackRow, HostileValues) {
  struct Case {
    const char* what;
    Col col;
    std::string value;
    RowResult::Kind kind;
  } cases[] = {
      // Longer than the column's precision: the slot holds what the wire carries.
      {"varchar longer than its column", {SQL_VARCHAR, 2}, "003abc", RowResult::Row},
      {"varchar of 999 bytes", {SQL_VARCHAR, 2}, "999" + std::string(999, 'v'), RowResult::Row},
      {"varchar length not digits", {SQL_VARCHAR, 9}, "0x3abc", RowResult::Malformed},
      {"integer past 32 bits", {SQL_INTEGER, 10}, "2147483648", RowResult::BadValue},
      {"integer below 32 bits", {SQL_INTEGER, 10}, "-2147483649", RowResult::BadValue},
      {"integer not digits", {SQL_INTEGER, 10}, "00000000x1", RowResult::Malformed},
      {"smallint past 16 bits", {SQL_SMALLINT, 5}, "32768", RowResult::BadValue},
      {"smallint lowest", {SQL_SMALLINT, 5}, "-32768", RowResult::Row},
      {"numeric of 12 digits that fits", {SQL_NUMERIC, 12, 2}, "-000000012345", RowResult::Row},
      {"numeric of 12 digits past 32 bits", {SQL_NUMERIC, 12, 2}, "002147483648", RowResult::Row},
      {"numeric of 19 digits past 64 bits", {SQL_NUMERIC, 19, 2}, std::string(19, '9'), RowResult::BadValue},
      {"bigint largest", {SQL_NUMERIC, 19}, "9223372036854775807", RowResult::Row},
      {"bigint past 64 bits", {SQL_NUMERIC, 19}, "9223372036854775808", RowResult::BadValue},
      {"bigint below 64 bits", {SQL_NUMERIC, 19}, "-9223372036854775809", RowResult::BadValue},
      {"bigint not digits", {SQL_NUMERIC, 19}, "92233720368547758x7", RowResult::Malformed},
      {"double text of 28 characters", {SQL_DOUBLE, 15}, "28" + std::string(28, '1'), RowResult::Row},
      {"double text of 31 characters", {SQL_DOUBLE, 15}, "31" + std::string(31, '1'), RowResult::Row},
      {"double length not digits", {SQL_DOUBLE, 15}, "1:" + std::string(10, '1'), RowResult::Malformed},
      {"double text of 32 characters", {SQL_DOUBLE, 15}, "32" + std::string(32, '1'), RowResult::BadValue},
      {"date not digits", {SQL_DATE, 10}, "2024-1-1", RowResult::Malformed},
      {"date that does not exist", {SQL_DATE, 10}, "20230229", RowResult::BadValue},
      {"time past midnight", {SQL_TIME, 8}, "240000", RowResult::BadValue},
      {"timestamp of month 13", {SQL_TIMESTAMP, 29}, "20241301000000" "000000000", RowResult::BadValue},
      {"timestamp fraction not digits", {SQL_TIMESTAMP, 29}, "19991231235959" "6000000 0", RowResult::Malformed},
  };
  for (const Case& c : cases) {
    ResultSet rs = result_set({c.col, {SQL_INTEGER, 10}});
    std::string row = "0" + c.value + "0000000007";
    RowResult r = unpack(rs, row);
    EXPECT_EQ(r.kind, c.kind) << c.what;
    if (c.kind == RowResult::Row || c.kind == RowResult::BadValue) {
      EXPECT_EQ(r.used, row.size()) << c.what << ": the next row starts after this one";
    }
    if (c.kind == RowResult::BadValue) {
      EXPECT_EQ(r.diag().text, "Value in column 1 does not fit the column's type");
    }
  }
}

// The 19 digits of a BIGINT field: any byte that is no digit, at any place,
// makes the row malformed; random values come out as they went in.
TEST(UnpackRow, BigintFieldsDigitByDigit) {
  const std::string good = "1234567890123456789";
  for (size_t at = 0; at < good.size(); ++at) {
    for (char bad : {'/', ':', ' ', 'a', '\x80', '\xff', '\0'}) {
      ResultSet rs = result_set({{SQL_NUMERIC, 19}, {SQL_INTEGER, 10}});
      std::string value = good;
      value[at] = bad;
      EXPECT_EQ(unpack(rs, "0" + value + "0000000007").kind, RowResult::Malformed) << at << " " << int(bad);
    }
  }
  uint64_t x = 88172645463325252u;
  for (int i = 0; i < 2000; ++i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    int64_t want = static_cast<int64_t>(x >> (i % 64));
    if (i % 2) want = -want;
    char value[32];
    std::snprintf(value, sizeof value, "%s%019llu", want < 0 ? "-" : "",
                  static_cast<unsigned long long>(want < 0 ? 0 - static_cast<uint64_t>(want) : want));
    ResultSet rs = result_set({{SQL_NUMERIC, 19}});
    ASSERT_EQ(unpack(rs, std::string("0") + value).kind, RowResult::Row) << value;
    EXPECT_EQ(whole_value(rs.columns[0], rs.row_buffer.data() + rs.columns[0].row_offset), want) << value;
  }
}

TEST(RowArea, RowsOfSeveralBlocksAreHandedOutInOrder) {
  ResultSet rs = result_set({{SQL_INTEGER, 10}, {SQL_VARCHAR, 5}});
  RowArea area(40);
  ASSERT_FALSE(area.append("00000000001" "002ab" "0000"));  // a row may span two blocks
  ASSERT_FALSE(area.append("0000002" "000" "1"));
  EXPECT_EQ(area.buffered(), 31u);
  RowResult r = area.next_row(std::span(rs.columns.data(), 2), rs.row_buffer.data());
  ASSERT_EQ(r.kind, RowResult::Row);
  EXPECT_EQ(at<int32_t>(rs, 0), 1);
  EXPECT_EQ(rs.columns[1].value_length, 2);
  r = area.next_row(std::span(rs.columns.data(), 2), rs.row_buffer.data());
  ASSERT_EQ(r.kind, RowResult::Row);
  EXPECT_EQ(at<int32_t>(rs, 0), 2);
  EXPECT_EQ(rs.columns[1].value_length, 0);
  EXPECT_EQ(area.buffered(), 1u);
  EXPECT_EQ(area.next_row(std::span(rs.columns.data(), 2), rs.row_buffer.data()).kind, RowResult::End);
  EXPECT_EQ(area.buffered(), 0u);
}

TEST(RowArea, ABlockThatWouldOverflowIsRefused) {
  RowArea area(9);  // 2 x 4 data bytes + 1
  ASSERT_FALSE(area.append("12345"));
  std::optional<Diag> d = area.append("abcde");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->index, kErrCommLink);
  EXPECT_EQ(area.buffered(), 5u);
  ASSERT_FALSE(area.append("abcd"));
  EXPECT_EQ(area.buffered(), 9u);
  area.reset();
  ASSERT_FALSE(area.append("123456789"));
}

TEST(FetchReply, StatusDigitAndBlockFlag) {
  struct Case {
    std::string data;
    FetchReply::Kind kind;
    int rc;
    bool last;
    std::string rows;
  } cases[] = {
      {"01" "0rowdata", FetchReply::Rows, SQL_SUCCESS, true, "0rowdata"},
      {"00", FetchReply::Rows, SQL_SUCCESS, false, ""},
      {"5", FetchReply::NoData, SQL_NO_DATA_FOUND, false, ""},
      {"2" "0003" "0004" "oops" "0000", FetchReply::HostErrors, SQL_ERROR, false, ""},
      {"1" "0000", FetchReply::HostErrors, SQL_SUCCESS_WITH_INFO, false, ""},
      {"0", FetchReply::Malformed, SQL_ERROR, false, ""},
      {"", FetchReply::Malformed, SQL_ERROR, false, ""},
  };
  for (const Case& c : cases) {
    FetchReply f = read_fetch_reply(c.data);
    EXPECT_EQ(f.kind, c.kind) << c.data;
    EXPECT_EQ(f.rc, c.rc) << c.data;
    EXPECT_EQ(f.last_block, c.last) << c.data;
    EXPECT_EQ(std::string(f.rows), c.rows) << c.data;
  }
  EXPECT_EQ(std::string(read_fetch_reply("2" "0003" "0004" "oops" "0000").items), "0003" "0004" "oops" "0000");
}

}  // namespace
}  // namespace quarl::codec
