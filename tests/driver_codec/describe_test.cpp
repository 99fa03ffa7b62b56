#include "driver/codec/describe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/hostmsg.h"
#include "tests/driver_codec/codec_fixture.h"

namespace quarl::codec {
namespace {

using test::Col;
using test::describe_item;
using test::exec_reply;
using Step = DescribeReader::Step;

TEST(DescribeReply, ColumnsOfEveryTypeGetTheirRowStorage) {
  std::vector<Col> cols = {
      {SQL_BIT, 1, 0, "B"},        {SQL_SMALLINT, 5, 0, "S"}, {SQL_CHAR, 3, 0, "C"},
      {SQL_INTEGER, 10, 0, "I"},   {SQL_DOUBLE, 15, 0, "D"},  {SQL_VARCHAR, 7, 0, "V"},
      {SQL_NUMERIC, 9, 2, "N"},    {SQL_DATE, 10, 0, "DT"},   {SQL_TIME, 8, 0, "T"},
      {SQL_LONGVARCHAR, 2, 0, "L"}, {SQL_TIMESTAMP, 29, 9, "TS"}, {SQL_NUMERIC, 19, 0, "BI"},
  };
  DescribeReader r(hostmsg::code::kExecDirect);
  ASSERT_EQ(r.feed(exec_reply(cols, 12)), Step::Done) << r.diag().text;
  const Description& d = r.description();
  EXPECT_EQ(d.row_count, 12);
  EXPECT_TRUE(d.columns_sent);
  EXPECT_EQ(d.column_count, 12);
  EXPECT_EQ(d.param_marker_count, 0);
  // Character values of any length the wire carries (999 bytes) fit their
  // slots; NUMERIC holds 64 bits, BIGINT its sign and 19 digits, DATE its
  // fields and 8 digits, DOUBLE where its text lies and its length.
  //                      B  S  C  I   D   V   N     DT    T     L     TS    BI
  uint32_t offsets[] = {0, 4, 6, 12, 16, 25, 1024, 1032, 1048, 1054, 2056, 2072};
  for (size_t i = 0; i < cols.size(); ++i) {
    EXPECT_EQ(d.columns[i].row_offset, offsets[i]) << i;
    // NUMERIC(19,0) carries 64-bit integers: BIGINT for the application.
    EXPECT_EQ(d.columns[i].sql_type, i == 11 ? SQL_BIGINT : cols[i].type) << i;
    EXPECT_EQ(d.columns[i].precision, cols[i].precision) << i;
    EXPECT_EQ(d.columns[i].scale, cols[i].scale) << i;
    EXPECT_EQ(d.columns[i].nullable, 1) << i;
    EXPECT_STREQ(d.columns[i].name, cols[i].name.c_str()) << i;
  }
  EXPECT_EQ(d.row_size, 2099u);
}

TEST(DescribeReply, CountsByCode) {
  // Prepare: no row count, a parameter marker count.
  DescribeReader prep(hostmsg::code::kPrepare);
  ASSERT_EQ(prep.feed("0001" "0003" + describe_item({SQL_INTEGER, 10}, 0)), Step::Done);
  EXPECT_EQ(prep.description().row_count, -1);
  EXPECT_EQ(prep.description().param_marker_count, 3);
  EXPECT_EQ(prep.description().columns[0].nullable, 0);
  // Execute: only the row count; the prepare's description stays.
  DescribeReader exec(hostmsg::code::kExecute);
  ASSERT_EQ(exec.feed("-0000000001"), Step::Done);
  EXPECT_EQ(exec.description().row_count, -1);
  EXPECT_FALSE(exec.description().columns_sent);
  // A catalog request: no row count, no marker count, no columns.
  DescribeReader tables(hostmsg::code::kTables);
  ASSERT_EQ(tables.feed("0000"), Step::Done);
  EXPECT_EQ(tables.description().row_count, -1);
  EXPECT_EQ(tables.description().column_count, 0);
  EXPECT_EQ(tables.description().row_size, 0u);
  // Row counts past 32 bits are held at the limit.
  DescribeReader many(hostmsg::code::kExecDirect);
  ASSERT_EQ(many.feed("9999999999" "0000"), Step::Done);
  EXPECT_EQ(many.description().row_count, INT32_MAX);
}

TEST(DescribeReply, ColumnItemsGoOnInContinuationMessages) {
  std::string first = "0000000000" "0003" + describe_item({SQL_INTEGER, 10, 0, "A"});
  DescribeReader r(hostmsg::code::kExecDirect);
  EXPECT_EQ(r.feed(first), Step::NeedMore);
  EXPECT_EQ(r.feed(describe_item({SQL_CHAR, 4, 0, "B"})), Step::NeedMore);
  EXPECT_EQ(r.feed(describe_item({SQL_DATE, 10, 0, "C"}) + "trailing bytes are ignored"), Step::Done);
  EXPECT_STREQ(r.description().columns[2].name, "C");
  EXPECT_EQ(r.description().columns[2].row_offset, 8u);

  // The counts alone may fill the first message.
  DescribeReader counts_only(hostmsg::code::kExecDirect);
  EXPECT_EQ(counts_only.feed("0000000000" "0001"), Step::NeedMore);
  EXPECT_EQ(counts_only.feed(describe_item({SQL_BIT, 1})), Step::Done);
}

TEST(DescribeReply, LongNamesAreCutTo29BytesOfWholeCharacters) {
  std::string ascii(35, 'n');
  ascii[28] = 'x';
  const std::string e = "\xc3\xa9", emoji = "\xf0\x9f\x98\x80", kanji = "\xe6\x9d\xb1";
  std::string accents;
  for (int i = 0; i < 20; ++i) accents += e;
  struct Case {
    std::string name, kept;
  } cases[] = {
      {ascii, ascii.substr(0, 29)},
      {accents, accents.substr(0, 28)},                                          // 14 whole characters
      {std::string(28, 'a') + emoji, std::string(28, 'a')},                      // not 1 byte of the emoji
      {std::string(26, 'a') + kanji + "b", std::string(26, 'a') + kanji},       // exactly 29
      {std::string(27, 'a') + kanji, std::string(27, 'a')},
  };
  for (const Case& c : cases) {
    DescribeReader r(hostmsg::code::kExecDirect);
    ASSERT_EQ(r.feed(exec_reply({{SQL_INTEGER, 10, 0, c.name}})), Step::Done);
    EXPECT_EQ(std::string(r.description().columns[0].name), c.kept) << c.name;
  }
}

TEST(DescribeReply, HostileRepliesAreRefusedWithoutOverrun) {
  std::string good = describe_item({SQL_INTEGER, 10, 0, "ABC"});
  struct Case {
    const char* what;
    unsigned code;
    std::string data;
    int index;
  } cases[] = {
      {"short row count", 9, "00000", kErrCommLink},
      {"non-digit row count", 9, "00000x0000" "0000", kErrCommLink},
      {"missing column count", 9, "0000000000" "01", kErrCommLink},
      {"missing marker count", 10, "0001" "00", kErrCommLink},
      {"name past the message", 9, "0000000000" "0001" "40ABC", kErrCommLink},
      {"item cut short", 9, "0000000000" "0001" + good.substr(0, good.size() - 1), kErrCommLink},
      {"non-digit precision", 9, "0000000000" "0001" "01A04001x001", kErrCommLink},
      {"second item cut", 9, "0000000000" "0002" + good + "01B12", kErrCommLink},
      {"REAL has no row storage", 9, "0000000000" "0001" + describe_item({SQL_REAL, 7}), kErrGeneral},
      {"BIGINT has no row storage", 9, "0000000000" "0001" + describe_item({SQL_BIGINT, 19}), kErrGeneral},
      {"FLOAT has no row storage", 9, "0000000000" "0001" + describe_item({SQL_FLOAT, 15}), kErrGeneral},
      {"wide char has no row storage", 9, "0000000000" "0001" + describe_item({SQL_WVARCHAR, 5}), kErrGeneral},
      {"NUMERIC wider than 64 bits", 9, "0000000000" "0001" + describe_item({SQL_NUMERIC, 20}), kErrGeneral},
      {"NUMERIC scale above precision", 9, "0000000000" "0001" + describe_item({SQL_NUMERIC, 5, 6}), kErrGeneral},
  };
  for (const Case& c : cases) {
    DescribeReader r(c.code);
    // A copy of exactly the reply's bytes, so ASan sees any read past them.
    std::vector<char> bytes(c.data.begin(), c.data.end());
    EXPECT_EQ(r.feed(std::string_view(bytes.data(), bytes.size())), Step::Failed) << c.what;
    EXPECT_EQ(r.diag().index, c.index) << c.what;
    EXPECT_EQ(r.feed("0000000000"), Step::Failed) << c.what << ": stays failed";
  }
  DescribeReader real(9);
  ASSERT_EQ(real.feed("0000000000" "0001" + describe_item({SQL_REAL, 7})), Step::Failed);
  EXPECT_EQ(real.diag().text, "Column 1 has SQL type 7, which the driver cannot fetch");
}

TEST(DescribeReply, ApplyingKeepsBindingsAndSizesTheRowBuffer) {
  ResultSet rs;
  char buffer[8];
  ASSERT_FALSE(rs.reserve_binding(3));
  rs.columns[0].bound_buffer = buffer;
  rs.columns[2].bound_buffer = buffer;
  DescribeReader r(9);
  ASSERT_EQ(r.feed(exec_reply({{SQL_INTEGER, 10}, {SQL_CHAR, 5}}, 4)), Step::Done);
  ASSERT_FALSE(rs.apply(r.description()));
  EXPECT_EQ(rs.column_count, 2);
  EXPECT_EQ(rs.row_count, 4);
  ASSERT_EQ(rs.columns.size(), 3u);  // max(column count, highest bound column)
  EXPECT_EQ(rs.columns[0].bound_buffer, buffer);
  EXPECT_EQ(rs.columns[2].bound_buffer, buffer);
  EXPECT_EQ(rs.row_buffer.size(), 9u);

  // An execute's reply changes only the row count.
  DescribeReader exec(11);
  ASSERT_EQ(exec.feed("0000000009"), Step::Done);
  ASSERT_FALSE(rs.apply(exec.description()));
  EXPECT_EQ(rs.row_count, 9);
  EXPECT_EQ(rs.column_count, 2);

  // A reply without columns leaves only the bound entries.
  DescribeReader none(9);
  ASSERT_EQ(none.feed("0000000001" "0000"), Step::Done);
  ASSERT_FALSE(rs.apply(none.description()));
  EXPECT_EQ(rs.column_count, 0);
  EXPECT_EQ(rs.columns.size(), 3u);
  EXPECT_EQ(rs.columns[2].bound_buffer, buffer);
  EXPECT_TRUE(rs.row_buffer.empty());
}

}  // namespace
}  // namespace quarl::codec
