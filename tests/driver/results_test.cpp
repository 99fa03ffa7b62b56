// Result sets through the entry point bodies against the scripted host:
// fetch requests and replies (blocks over several messages, the end marker,
// asynchronous waits), bound and piecewise conversions, column descriptions,
// and fetch replies that must be refused without overrunning anything.
#include <gtest/gtest.h>

#include <cstring>

#include "driver/core/get_data_quick.h"
#include "tests/driver/stmt_fixture.h"

namespace drivertest {
namespace {

using namespace quarl::driver;

class ResultsTest : public StmtTest {
 protected:
  // Executes a query whose description is `items` (column count first).
  void query(const std::string& items, StmtBlock* on = nullptr) {
    StmtBlock& s = on ? *on : *stmt;
    answer(9, "0-0000000001" + items);
    ASSERT_EQ(sql_exec_direct(s, (SQLCHAR*)"select", SQL_NTS), SQL_SUCCESS) << testing::PrintToString(take_all(s.errors));
  }
  // Fetch replies: each string is one message's data from the status digit on.
  void fetch_replies(const std::vector<std::string>& replies) {
    answers[{1, 4}] = [=](const Request&) {
      Reply out;
      for (auto& r : replies) out.push_back(message(1, 4, r)[0]);
      return out;
    };
  }
  std::string two_columns = "0002" + column_item("id", SQL_INTEGER, 10) + column_item("name", SQL_VARCHAR, 10);
};

TEST_F(ResultsTest, BoundRowsUntilTheEndMarkerThenANewRequest) {
  query(two_columns);
  fetch_replies({"01" "0" "0000000001" "003abc"
                 "0" "-0000000002" "000"
                 "0" "0000000003" "N"
                 "1"});
  int32_t id = 0;
  char name[11];
  SQLLEN id_length = 0, name_length = 0;
  ASSERT_EQ(sql_bind_col(*stmt, 1, SQL_C_LONG, &id, 0, &id_length), SQL_SUCCESS);
  ASSERT_EQ(sql_bind_col(*stmt, 2, SQL_C_CHAR, name, sizeof name, &name_length), SQL_SUCCESS);

  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS) << testing::PrintToString(diags());
  EXPECT_EQ(id, 1);
  EXPECT_STREQ(name, "abc");
  EXPECT_EQ(name_length, 3);
  EXPECT_EQ(id_length, 4);
  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS);
  EXPECT_EQ(id, -2);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(name_length, 0);
  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS);
  EXPECT_EQ(id, 3);
  EXPECT_EQ(name_length, SQL_NULL_DATA);
  EXPECT_EQ(name[0], '\0');
  EXPECT_EQ(sql_fetch(*stmt), SQL_NO_DATA_FOUND);
  auto fetches = sent(1, 4);
  ASSERT_EQ(fetches.size(), 1u);
  EXPECT_EQ(fetches[0].data, "0007");

  // After the end, a further fetch asks the host again.
  fetch_replies({"5"});
  EXPECT_EQ(sql_fetch(*stmt), SQL_NO_DATA_FOUND);
  EXPECT_EQ(sent(1, 4).size(), 2u);

  SQLLEN count = 0;
  EXPECT_EQ(sql_row_count(*stmt, &count), SQL_SUCCESS);
  EXPECT_EQ(count, -1);
  EXPECT_EQ(sql_more_results(*stmt), SQL_NO_DATA_FOUND);
  EXPECT_EQ(sql_set_pos(*stmt), SQL_SUCCESS);
}

TEST_F(ResultsTest, ARowSplitBetweenTwoMessagesOfOneReply) {
  query(two_columns);
  fetch_replies({"00" "0" "0000000042" "005he", "01" "llo" "1"});
  int32_t id = 0;
  char name[11];
  SQLLEN length = 0;
  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS) << testing::PrintToString(diags());
  EXPECT_EQ(sql_get_data(*stmt, 1, SQL_C_LONG, &id, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(sql_get_data(*stmt, 2, SQL_C_CHAR, name, sizeof name, &length), SQL_SUCCESS);
  EXPECT_EQ(id, 42);
  EXPECT_STREQ(name, "hello");
  EXPECT_EQ(sql_fetch(*stmt), SQL_NO_DATA_FOUND);
}

TEST_F(ResultsTest, GetDataPiecesNullsAndRepeatedReads) {
  query("0003" + column_item("v", SQL_VARCHAR, 10) + column_item("c", SQL_CHAR, 5) +
        column_item("n", SQL_INTEGER, 10));
  fetch_replies({"01" "0" "010abcdefghij" "xHELLO" "N"
                 "0" "003xyz" "xWORLD" "0000000009"
                 "1"});
  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS);
  char piece[4];
  SQLLEN length = 0;
  struct Step {
    SQLRETURN rc;
    const char* text;
    SQLLEN length;
  } steps[] = {{SQL_SUCCESS_WITH_INFO, "abc", 10}, {SQL_SUCCESS_WITH_INFO, "def", 7},
               {SQL_SUCCESS_WITH_INFO, "ghi", 4}, {SQL_SUCCESS, "j", 1}};
  for (const auto& s : steps) {
    EXPECT_EQ(sql_get_data(*stmt, 1, SQL_C_CHAR, piece, sizeof piece, &length), s.rc);
    EXPECT_STREQ(piece, s.text);
    EXPECT_EQ(length, s.length);
  }
  EXPECT_EQ(sql_get_data(*stmt, 1, SQL_C_CHAR, piece, sizeof piece, &length), SQL_NO_DATA_FOUND);
  EXPECT_EQ(diags(), std::vector<std::string>(3, "01004 " + prefixed("String data, right truncated")));

  // A NULL needs a length pointer; with one it reads as -1.
  int32_t n = 77;
  EXPECT_EQ(sql_get_data(*stmt, 3, SQL_C_LONG, &n, 0, nullptr), SQL_ERROR);
  EXPECT_EQ(diags(), std::vector<std::string>{"22002 " + prefixed("Indicator variable required but not supplied")});
  EXPECT_EQ(n, 77);
  EXPECT_EQ(sql_get_data(*stmt, 3, SQL_C_LONG, &n, 0, &length), SQL_SUCCESS);
  EXPECT_EQ(length, SQL_NULL_DATA);

  // A CHAR(5) read whole on one row is whole again on the next.
  char c[6];
  EXPECT_EQ(sql_get_data(*stmt, 2, SQL_C_CHAR, c, sizeof c, &length), SQL_SUCCESS);
  EXPECT_STREQ(c, "HELLO");
  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS);
  EXPECT_EQ(sql_get_data(*stmt, 2, SQL_C_CHAR, c, sizeof c, &length), SQL_SUCCESS);
  EXPECT_STREQ(c, "WORLD");

  EXPECT_EQ(sql_get_data(*stmt, 4, SQL_C_CHAR, c, sizeof c, &length), SQL_ERROR);
  EXPECT_EQ(sql_get_data(*stmt, 1, SQL_C_CHAR, nullptr, 0, &length), SQL_ERROR);
  EXPECT_EQ(diags(), (std::vector<std::string>{"S1002 " + prefixed("Invalid column number"),
                                               "S1009 " + prefixed("Invalid argument value")}));
}

// SQLGetData's quick way as the entry points take it, with nothing around it.
struct PlainFace {
  static bool enter(StmtBlock&) { return true; }
  static bool ready(StmtBlock&) { return true; }
  static SQLRETURN done(StmtBlock&) { return SQL_SUCCESS; }
  static SQLRETURN dispatched(SQLHSTMT h, SQLUSMALLINT icol, SQLSMALLINT c_type, SQLPOINTER target, SQLLEN size,
                              SQLLEN* length) {
    return sql_get_data(*static_cast<StmtBlock*>(h), icol, c_type, target, size, length);
  }
  static SQLRETURN missed(SQLHSTMT h, SQLUSMALLINT icol, SQLSMALLINT c_type, SQLPOINTER target, SQLLEN size,
                          SQLLEN* length) {
    return dispatched(h, icol, c_type, target, size, length);
  }
};

// Values are read where the row came (the row data area, which the next
// fetch request's reply overwrites): without a row at hand, before the
// first fetch and after the last, SQLGetData refuses, the quick way too.
TEST_F(ResultsTest, GetDataWithoutARowAtHandIsRefused) {
  query(two_columns);
  ASSERT_TRUE(is_live(stmt, HandleKind::Stmt));  // the quick way finds the statement
  auto get = [&](SQLUSMALLINT icol, SQLSMALLINT c_type, void* target, SQLLEN size, SQLLEN* length) {
    return get_data_quick<PlainFace>(stmt, icol, c_type, target, size, length);
  };
  char name[11];
  int32_t id = 0;
  SQLLEN length = 0;
  EXPECT_EQ(get(2, SQL_C_CHAR, name, sizeof name, &length), SQL_ERROR);
  EXPECT_EQ(diags(), std::vector<std::string>{"24000 " + prefixed("No row has been fetched")});
  fetch_replies({"01" "0" "0000000001" "003abc" "0" "0000000002" "003xyz" "1"});
  for (const char* want : {"abc", "xyz"}) {
    ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS);
    EXPECT_EQ(get(1, SQL_C_LONG, &id, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(get(2, SQL_C_CHAR, name, sizeof name, &length), SQL_SUCCESS);  // the quick way on the second row
    EXPECT_STREQ(name, want);
  }
  // The end marker: no row at hand; the next fetch request's reply then
  // takes the row data area.
  fetch_replies({"01" "0" "0000000003" "003new" "1"});
  EXPECT_EQ(sql_fetch(*stmt), SQL_NO_DATA_FOUND);
  EXPECT_EQ(get(2, SQL_C_CHAR, name, sizeof name, &length), SQL_ERROR);
  EXPECT_EQ(get(1, SQL_C_LONG, &id, 0, nullptr), SQL_ERROR);
  EXPECT_EQ(diags(), std::vector<std::string>(2, "24000 " + prefixed("No row has been fetched")));
  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS);
  EXPECT_EQ(get(2, SQL_C_CHAR, name, sizeof name, &length), SQL_SUCCESS);
  EXPECT_STREQ(name, "new");
}

// A quick conversion that cannot give the value whole hands the call on as
// the application made it: the same column, C type and buffer, so each
// column answers for itself (a piece already handed out, a text that does
// not fit, a BIGINT beyond 32 bits).
TEST_F(ResultsTest, GetDataQuickWayHandsOnWhatItCannotGiveWhole) {
  query("0005" + column_item("v", SQL_VARCHAR, 10) + column_item("k", SQL_NUMERIC, 19) +
        column_item("d", SQL_DATE, 10) + column_item("x", SQL_DOUBLE, 15) + column_item("b", SQL_NUMERIC, 19));
  fetch_replies({"01" "0" "005hello" "-0000000000000000042" "20240229" "04-0.5" "0000000004294967296" "1"});
  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS);
  auto get = [&](SQLUSMALLINT icol, SQLSMALLINT c_type, void* target, SQLLEN size, SQLLEN* length) {
    return get_data_quick<PlainFace>(stmt, icol, c_type, target, size, length);
  };
  char text[32];
  SQLLEN length = 0;
  // Each column once whole (which chooses its quick way), then again into
  // a buffer one byte short of the text and its terminator.
  struct Case {
    SQLUSMALLINT icol;
    const char* whole;
    SQLRETURN short_rc;
    const char* short_text;  // what the short buffer holds after
    const char* state;       // the diagnostic's SQLSTATE, if any
  } cases[] = {
      {2, "-42", SQL_ERROR, "", "22003"},
      {3, "2024-02-29", SQL_ERROR, "", "22003"},
      {4, "-0.5", SQL_SUCCESS_WITH_INFO, "-0.", "01004"},  // fraction digits may be cut
      {1, "hello", SQL_NO_DATA_FOUND, "", nullptr},  // handed out whole already
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.whole);
    ASSERT_EQ(get(c.icol, SQL_C_CHAR, text, sizeof text, &length), SQL_SUCCESS);
    EXPECT_STREQ(text, c.whole);
    EXPECT_EQ(length, static_cast<SQLLEN>(std::strlen(c.whole)));
    std::memset(text, 0, sizeof text);
    EXPECT_EQ(get(c.icol, SQL_C_CHAR, text, static_cast<SQLLEN>(std::strlen(c.whole)), &length), c.short_rc);
    EXPECT_STREQ(text, c.short_text);
    std::vector<std::string> got = diags();
    if (c.state) {
      ASSERT_EQ(got.size(), 1u);
      EXPECT_EQ(got[0].substr(0, 5), c.state);
    } else {
      EXPECT_TRUE(got.empty());
    }
  }
  // A BIGINT read as SQL_C_LONG: -42 fits; 2^32 does not.
  int32_t n = 0;
  ASSERT_EQ(get(2, SQL_C_LONG, &n, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(n, -42);
  ASSERT_EQ(get(5, SQL_C_LONG, &n, 0, nullptr), SQL_ERROR);
  ASSERT_EQ(get(5, SQL_C_LONG, &n, 0, nullptr), SQL_ERROR);  // the quick way chosen by the first
  std::vector<std::string> got = diags();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].substr(0, 5), "22003");
  EXPECT_EQ(got[1], got[0]);
  EXPECT_EQ(n, -42);
}

TEST_F(ResultsTest, NumericTextFollowsTheTrailingZerosSetting) {
  query("0001" + column_item("amount", SQL_NUMERIC, 7, 2));
  fetch_replies({"01" "0" "0001200" "0" "-0012345" "1"});
  char text[16];
  SQLLEN length = 0;
  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS);
  EXPECT_EQ(sql_get_data(*stmt, 1, SQL_C_CHAR, text, sizeof text, &length), SQL_SUCCESS);
  EXPECT_STREQ(text, "12.00");
  // Text of a non-character column is cut to the buffer too.
  char small[4] = "xyz";
  EXPECT_EQ(sql_get_data(*stmt, 1, SQL_C_CHAR, small, sizeof small, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(small, "12.");
  EXPECT_EQ(length, 5);
  EXPECT_EQ(diags(), std::vector<std::string>{"01004 " + prefixed("String data, right truncated")});
  DriverSettings s;
  s.numeric_trailing_zeros = 0;
  set_settings(s);
  EXPECT_EQ(sql_get_data(*stmt, 1, SQL_C_CHAR, text, sizeof text, &length), SQL_SUCCESS);
  EXPECT_STREQ(text, "12");
  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS);
  double d = 0;
  EXPECT_EQ(sql_get_data(*stmt, 1, SQL_C_DOUBLE, &d, 0, &length), SQL_SUCCESS);
  EXPECT_DOUBLE_EQ(d, -123.45);
  EXPECT_EQ(sql_get_data(*stmt, 1, SQL_C_CHAR, text, sizeof text, &length), SQL_SUCCESS);
  EXPECT_STREQ(text, "-123.45");
}

TEST_F(ResultsTest, NumericValuesAreTracedAsTheyAreRead) {
  testsupport::TempDir dir;
  DriverSettings s;
  s.trace = 1;
  std::snprintf(s.tracefile, sizeof s.tracefile, "%s", (dir / "trace.txt").c_str());
  set_settings(s);
  query("0002" + column_item("amount", SQL_NUMERIC, 7, 2) + column_item("n", SQL_INTEGER, 10));
  fetch_replies({"01" "0" "-0001200" "0000000004" "1"});
  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS);
  std::string trace = testsupport::read_file(dir / "trace.txt");
  EXPECT_NE(trace.find("numeric=-000120000000000041 prec=7\r\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("numeric ln=" + std::to_string(static_cast<unsigned long>(-1200L)) + "\r\n"),
            std::string::npos)
      << trace;
}

TEST_F(ResultsTest, AsynchronousFetchWaitsForTheSameReplyWithoutASecondRequest) {
  DriverSettings s;
  s.allowasync = 1;
  set_settings(s);
  ASSERT_EQ(sql_set_stmt_option(*stmt, SQL_ASYNC_ENABLE, 1), SQL_SUCCESS);
  query(two_columns);
  fetch_replies({});  // the host has not answered yet
  EXPECT_EQ(sql_fetch(*stmt), SQL_STILL_EXECUTING);
  EXPECT_TRUE(diags().empty());
  auto calls = scripted::calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "receive 0"), calls.end());
  // Half of the reply arrives: still waiting, and the half is kept.
  scripted::queue_message(scripted::reply(1, 4, "00" "0" "0000000005" "004ab"));
  EXPECT_EQ(sql_fetch(*stmt), SQL_STILL_EXECUTING);
  scripted::queue_message(scripted::reply(1, 4, "01" "cd" "1"));
  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS) << testing::PrintToString(diags());
  char name[11];
  SQLLEN length = 0;
  EXPECT_EQ(sql_get_data(*stmt, 2, SQL_C_CHAR, name, sizeof name, &length), SQL_SUCCESS);
  EXPECT_STREQ(name, "abcd");
  EXPECT_EQ(sent(1, 4).size(), 1u);
  EXPECT_EQ(stmt->fetch_state, kFetchIdle);
}

TEST_F(ResultsTest, HostileFetchRepliesAreRefusedWithoutOverrun) {
  // A short message size: the row data area holds 2 x 86 + 1 bytes.
  conn->channel.set_message_size(100);
  StmtBlock* small = new_stmt();
  ASSERT_NE(small, nullptr);
  ASSERT_EQ(small->rows.capacity(), 173u);
  query("0001" + column_item("v", SQL_VARCHAR, 80), small);
  std::string block(84, 'x');
  fetch_replies({"00" + block, "00" + block, "00" + block, "01" + block});
  EXPECT_EQ(sql_fetch(*small), SQL_ERROR);
  EXPECT_EQ(take_all(small->errors),
            std::vector<std::string>{"08S01 " + prefixed("Fetch reply from host overflows the row data area")});
  // The rest of that reply was read and dropped: the next request meets its own reply.
  EXPECT_EQ(scripted::calls().back(), "release");
  fetch_replies({"01" "0" "002ok" "1"});
  ASSERT_EQ(sql_fetch(*small), SQL_SUCCESS) << testing::PrintToString(take_all(small->errors));

  struct Case {
    std::string items, reply, diag;
  } cases[] = {
      {two_columns, "01" "0" "0000000001" "050abc",
       "08S01 " + prefixed("Malformed row data from host in column 2")},
      {"0001" + column_item("big", SQL_NUMERIC, 19, 2), "01" "0" "9999999999999999999" "1",
       "S1000 " + prefixed("Value in column 1 does not fit the column's type")},
      // A block of NUL bytes (what a faulty host once sent): no rows at all.
      {two_columns, "01" + std::string(40, '\0'), "08S01 " + prefixed("Malformed row data from host: no row marker")},
      {two_columns, "2" + error_items({{3, "host trouble"}}), "S1000 host trouble"},
      {two_columns, "", "08S01 " + prefixed("Malformed fetch reply from host: no status")},
  };
  for (const auto& c : cases) {
    query(c.items);
    fetch_replies({c.reply});
    EXPECT_EQ(sql_fetch(*stmt), SQL_ERROR);
    EXPECT_EQ(diags(), std::vector<std::string>{c.diag});
  }
  // NUMERIC values of up to 19 digits are held in 64 bits.
  query("0001" + column_item("big", SQL_NUMERIC, 18, 2));
  fetch_replies({"01" "0" "-123456789012345678" "1"});
  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS);
  char text[32];
  SQLLEN length = 0;
  EXPECT_EQ(sql_get_data(*stmt, 1, SQL_C_CHAR, text, sizeof text, &length), SQL_SUCCESS);
  EXPECT_STREQ(text, "-1234567890123456.78");
}

TEST_F(ResultsTest, DescribeColAndColAttributes) {
  query("0006" + column_item("department", SQL_VARCHAR, 40) + column_item("amount", SQL_NUMERIC, 7, 2, 0) +
        column_item("seen", SQL_TIMESTAMP, 29, 9) + column_item("id", SQL_NUMERIC, 19, 0, 0) +
        column_item("at", SQL_TIMESTAMP, 23, 3) + column_item("ratio", SQL_DOUBLE, 15));
  SQLSMALLINT count = 0;
  EXPECT_EQ(sql_num_result_cols(*stmt, &count), SQL_SUCCESS);
  EXPECT_EQ(count, 6);

  char name[5];
  SQLSMALLINT name_length = 0, type = 0, scale = 0, nullable = 9;
  SQLULEN precision = 0;
  EXPECT_EQ(sql_describe_col(*stmt, 1, (SQLCHAR*)name, sizeof name, &name_length, &type, &precision, &scale,
                             &nullable),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(name, "depa");
  EXPECT_EQ(name_length, 10);  // the full length, so that the caller can size its buffer
  EXPECT_EQ(diags(), std::vector<std::string>{"01004 " + prefixed("Data truncated")});
  EXPECT_EQ(sql_describe_col(*stmt, 2, nullptr, 50, &name_length, &type, &precision, &scale, &nullable),
            SQL_SUCCESS);
  EXPECT_EQ(name_length, 6);
  EXPECT_EQ(type, SQL_NUMERIC);
  EXPECT_EQ(precision, 7u);
  EXPECT_EQ(scale, 2);
  EXPECT_EQ(nullable, SQL_NO_NULLS);
  // 64-bit integers travel as NUMERIC(19,0) and are BIGINT to the application.
  EXPECT_EQ(sql_describe_col(*stmt, 4, nullptr, 50, &name_length, &type, &precision, &scale, &nullable),
            SQL_SUCCESS);
  EXPECT_EQ(type, SQL_BIGINT);
  EXPECT_EQ(precision, 19u);
  EXPECT_EQ(sql_describe_col(*stmt, 7, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr), SQL_ERROR);

  struct Case {
    SQLUSMALLINT column, field;
    SQLLEN number;     // for numeric attributes
    const char* text;  // for text attributes
  } cases[] = {
      {1, SQL_COLUMN_LENGTH, 40, nullptr},          {2, SQL_COLUMN_LENGTH, 9, nullptr},
      {3, SQL_COLUMN_LENGTH, 16, nullptr},          {2, SQL_COLUMN_DISPLAY_SIZE, 9, nullptr},
      // A TIMESTAMP's precision, display size and text agree.
      {3, SQL_COLUMN_PRECISION, 29, nullptr},       {3, SQL_COLUMN_DISPLAY_SIZE, 29, nullptr},
      {5, SQL_COLUMN_PRECISION, 23, nullptr},       {5, SQL_COLUMN_DISPLAY_SIZE, 23, nullptr},
      {4, SQL_COLUMN_LENGTH, 8, nullptr},           {4, SQL_COLUMN_DISPLAY_SIZE, 20, nullptr},
      {4, SQL_COLUMN_TYPE_NAME, 0, "BIGINT"},       {6, SQL_COLUMN_DISPLAY_SIZE, 24, nullptr},
      {1, SQL_COLUMN_UNSIGNED, 1, nullptr},
      {2, SQL_COLUMN_CASE_SENSITIVE, 0, nullptr},   {2, SQL_COLUMN_NULLABLE, 0, nullptr},
      {1, SQL_COLUMN_UPDATABLE, 2, nullptr},        {1, SQL_COLUMN_SEARCHABLE, 3, nullptr},
      {0, SQL_COLUMN_COUNT, 6, nullptr},            {2, SQL_COLUMN_TYPE_NAME, 0, "NUMERIC"},
      {3, SQL_COLUMN_TYPE_NAME, 0, "TIMESTAMP"},    {1, SQL_COLUMN_LABEL, 0, "department"},
      {1, SQL_COLUMN_TABLE_NAME, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    char text[32] = "untouched";
    SQLSMALLINT text_length = -1;
    SQLLEN number = -1;
    ASSERT_EQ(sql_col_attributes(*stmt, c.column, c.field, text, sizeof text, &text_length, &number), SQL_SUCCESS);
    if (c.text) {
      EXPECT_STREQ(text, c.text);
      EXPECT_EQ(text_length, static_cast<SQLSMALLINT>(std::strlen(c.text)));
      EXPECT_EQ(number, -1);
    } else {
      EXPECT_EQ(number, c.number);
      EXPECT_STREQ(text, "untouched");
    }
  }
  char small[4];
  SQLSMALLINT text_length = 0;
  EXPECT_EQ(sql_col_attributes(*stmt, 1, SQL_COLUMN_NAME, small, sizeof small, &text_length, nullptr),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(small, "dep");
  EXPECT_EQ(text_length, 10);
  EXPECT_EQ(sql_col_attributes(*stmt, 1, 19, nullptr, 0, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(sql_col_attributes(*stmt, 7, SQL_COLUMN_TYPE, nullptr, 0, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(diags(), (std::vector<std::string>{"S1002 " + prefixed("Invalid column number")}));
}

TEST_F(ResultsTest, BindingsSurviveReexecutionAndUnbind) {
  int32_t id = 0;
  EXPECT_EQ(sql_bind_col(*stmt, 0, SQL_C_LONG, &id, 0, nullptr), SQL_ERROR);
  EXPECT_EQ(sql_bind_col(*stmt, 1025, SQL_C_LONG, &id, 0, nullptr), SQL_ERROR);
  diags();
  // Bound before the statement has a result; beyond its columns too.
  ASSERT_EQ(sql_bind_col(*stmt, 1, SQL_C_LONG, &id, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(sql_bind_col(*stmt, 5, SQL_C_LONG, &id, 0, nullptr), SQL_SUCCESS);
  query(two_columns);
  EXPECT_EQ(stmt->result.columns.size(), 5u);
  fetch_replies({"01" "0" "0000000011" "000" "1"});
  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS);
  EXPECT_EQ(id, 11);
  query(two_columns);
  fetch_replies({"01" "0" "0000000012" "000" "1"});
  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS);
  EXPECT_EQ(id, 12);
  ASSERT_EQ(free_stmt(*stmt, SQL_UNBIND), SQL_SUCCESS);
  query(two_columns);
  fetch_replies({"01" "0" "0000000013" "000" "1"});
  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS);
  EXPECT_EQ(id, 12);
}

}  // namespace
}  // namespace drivertest
