// Statement requests through the entry point bodies against the scripted
// host: the exact messages (text clean-up, parameter entries, requests over
// several messages), the describe reply with its continuations, data at
// execution, and what is refused before anything is sent.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/driver/stmt_fixture.h"

namespace drivertest {
namespace {

using namespace quarl::driver;

constexpr size_t kBudget = 1796;  // data bytes of one statement request message

class ExecuteTest : public StmtTest {};

TEST_F(ExecuteTest, TextIsCleanedAndControlBytesTravelAsBlanks) {
  answer(9, "000000000000000");
  ASSERT_EQ(exec_direct("  select * from SELECT a\tfrom t\x01\xC3\xA9;"), SQL_SUCCESS) << testing::PrintToString(diags());
  auto r = sent(1, 9);
  ASSERT_EQ(r.size(), 1u);
  // Statement id, first and last flags, no entries, the text.
  EXPECT_EQ(r[0].data, "0007110000SELECT a from t \xC3\xA9");
  // The exchange waits up to 255; the connection's own time-out comes back.
  auto calls = scripted::calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "receive 255"), calls.end());
  EXPECT_EQ(conn->channel.receive_timeout, 60);
  EXPECT_EQ(stmt->result.row_count, 0);
}

TEST_F(ExecuteTest, PrepareCarriesNoParametersAndExecuteSendsThemAlone) {
  int32_t a = 7, b = -7;
  SQLLEN four = 4;
  ASSERT_EQ(sql_bind_parameter(*stmt, 1, SQL_C_LONG, SQL_INTEGER, 0, 0, &a, nullptr), SQL_SUCCESS);
  ASSERT_EQ(sql_bind_parameter(*stmt, 2, SQL_C_LONG, SQL_INTEGER, 10, 0, &b, &four), SQL_SUCCESS);
  answer(10, "0" "0001" "0002" + column_item("N", SQL_INTEGER, 10));
  answer(11, "0-0000000001");
  ASSERT_EQ(sql_prepare(*stmt, (SQLCHAR*)"select n from t where a = ? and b = ?", SQL_NTS), SQL_SUCCESS);
  SQLSMALLINT markers = 0;
  EXPECT_EQ(sql_num_params(*stmt, &markers), SQL_SUCCESS);
  EXPECT_EQ(markers, 2);
  ASSERT_EQ(sql_execute(*stmt), SQL_SUCCESS) << testing::PrintToString(diags());

  auto prepare = sent(1, 10);
  ASSERT_EQ(prepare.size(), 1u);
  EXPECT_EQ(prepare[0].data, "0007110000select n from t where a = ? and b = ?");
  auto execute = sent(1, 11);
  ASSERT_EQ(execute.size(), 1u);
  EXPECT_EQ(execute[0].data,
            "0007110002"
            "0001" "04" "0000" "00" "0" "0000000007"
            "0002" "04" "0010" "00" "0" "-0000000007");
  // The execute reply only refreshes the row count: the prepared description stays.
  EXPECT_EQ(stmt->result.row_count, -1);
  EXPECT_EQ(stmt->result.column_count, 1);
  EXPECT_EQ(stmt->result.param_marker_count, 2);

  // After an execute direct the marker count is 0, whatever the text holds.
  answer(9, "0-00000000010000");
  ASSERT_EQ(exec_direct("select 1 where 1 = ?"), SQL_SUCCESS);
  EXPECT_EQ(sql_num_params(*stmt, &markers), SQL_SUCCESS);
  EXPECT_EQ(markers, 0);
}

TEST_F(ExecuteTest, RequestsOverSeveralMessagesAreSentOneByOneEachAnswered) {
  // Three 900-byte character values: one entry (916 bytes) fills a message.
  std::string big(900, 'x');
  for (SQLUSMALLINT i = 1; i <= 3; ++i)
    ASSERT_EQ(sql_bind_parameter(*stmt, i, SQL_C_CHAR, SQL_VARCHAR, 900, 0, big.data(), nullptr), SQL_SUCCESS);
  std::string text = "insert into t values (?, ?, ?) -- " + std::string(2000, 'c');
  int replies = 0;
  answers[{1, 9}] = [&](const Request& r) {
    ++replies;
    // The host's own way: a bare success, or an empty description, until the last.
    if (r.data[5] == '0') return message(1, 9, replies == 1 ? "0" : "000000000000000");
    return message(1, 9, "000000000030000");
  };
  ASSERT_EQ(exec_direct(text), SQL_SUCCESS) << testing::PrintToString(diags());
  auto r = sent(1, 9);
  ASSERT_EQ(r.size(), 4u);
  std::string flags, counts, all_text;
  for (auto& m : r) {
    EXPECT_LE(m.data.size(), kBudget);
    flags += m.data.substr(4, 2) + " ";
    counts += m.data.substr(6, 4) + " ";
  }
  EXPECT_EQ(flags, "10 00 00 01 ");
  EXPECT_EQ(counts, "0001 0001 0001 0000 ");
  // The text follows the last entry, as much as fits, and goes on in the next message.
  EXPECT_EQ(r[2].data.size(), kBudget);
  all_text = r[2].data.substr(10 + 916) + r[3].data.substr(10);
  EXPECT_EQ(all_text, text);
  EXPECT_EQ(r[0].data.substr(10, 16), "0001120900000900");
  EXPECT_EQ(stmt->result.row_count, 3);
}

TEST_F(ExecuteTest, AnUnsuccessfulReplyEndsTheRequest) {
  std::string big(900, 'x');
  for (SQLUSMALLINT i = 1; i <= 2; ++i)
    ASSERT_EQ(sql_bind_parameter(*stmt, i, SQL_C_CHAR, SQL_CHAR, 900, 0, big.data(), nullptr), SQL_SUCCESS);
  answer(9, "2" + error_items({{15, "near \"selec\": syntax error"}}));
  EXPECT_EQ(exec_direct("selec ?, ?"), SQL_ERROR);
  EXPECT_EQ(sent(1, 9).size(), 1u);
  EXPECT_EQ(diags(), std::vector<std::string>{"37000 near \"selec\": syntax error"});
  answer(9, "1" + error_items({{12, "cut"}}));
  EXPECT_EQ(exec_direct("select 1"), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(diags(), std::vector<std::string>{"01004 cut"});
}

TEST_F(ExecuteTest, NullsAndTheValueForms) {
  SQLLEN null = SQL_NULL_DATA, nts = SQL_NTS;
  char decimal_text[] = "12.5", stamp_text[] = "1999-12-31 23:59:59.5";
  double d = 1e20;
  unsigned char bit = 1;
  DATE_STRUCT date{2024, 2, 29};
  int16_t small = -32768;
  int64_t big = 1099511627776;  // 2^40: sent as NUMERIC(19,0), every digit
  struct Case {
    SQLSMALLINT c_type, sql_type;
    SQLULEN precision;
    SQLSMALLINT scale;
    void* value;
    SQLLEN* length;
    std::string entry;  // after the parameter number
  } cases[] = {
      // A NULL goes with any type, even one that has no value form.
      {SQL_C_CHAR, SQL_DECIMAL, 10, 2, decimal_text, &null, "02001002" "1"},
      {SQL_C_CHAR, SQL_BINARY, 10, 0, decimal_text, &null, "-02001000" "1"},
      {SQL_C_DEFAULT, SQL_VARCHAR, 1, 0, nullptr, &null, "12000100" "1"},
      {SQL_C_CHAR, SQL_NUMERIC, 5, 1, decimal_text, &nts, "02000501" "0" "03125"},
      {SQL_C_DOUBLE, SQL_FLOAT, 15, 0, &d, nullptr, "08001500" "0" "051e+20"},
      {SQL_C_BIT, SQL_BIT, 1, 0, &bit, nullptr, "-07000100" "0" "1"},
      {SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, &date, nullptr, "09001000" "0" "20240229"},
      {SQL_C_SHORT, SQL_SMALLINT, 5, 0, &small, nullptr, "05000500" "0" "-32768"},
      {SQL_C_SBIGINT, SQL_BIGINT, 19, 0, &big, nullptr, "02001900" "0" "131099511627776"},
      {SQL_C_CHAR, SQL_TIMESTAMP, 23, 3, stamp_text, nullptr, "11002303" "0" "19991231235959500000000"},
  };
  answer(9, "000000000000000");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    stmt->params.clear();
    stmt->highest_bound_param = 0;
    ASSERT_EQ(sql_bind_parameter(*stmt, 1, c.c_type, c.sql_type, c.precision, c.scale, c.value, c.length),
              SQL_SUCCESS);
    scripted::clear_log();
    ASSERT_EQ(exec_direct("x"), SQL_SUCCESS) << testing::PrintToString(diags());
    auto r = sent(1, 9);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].data, "0007110001" "0001" + c.entry + "x");
  }
}

TEST_F(ExecuteTest, WhatCannotBeSentIsRefusedBeforeAnythingIsSent) {
  std::string thousand(1000, 'y');
  char date_text[] = "2024-2-29", ok[] = "ok", too_big[] = "99999";
  SQLLEN fine = 2;
  struct Case {
    SQLSMALLINT c_type, sql_type;
    void* value;
    SQLLEN* length;
    std::string diag;
  } cases[] = {
      {SQL_C_CHAR, SQL_VARCHAR, thousand.data(), nullptr,
       "22001 " + prefixed("Parameter 2: character value of 1000 bytes is longer than 999 bytes")},
      {SQL_C_CHAR, SQL_DATE, date_text, nullptr, "22008 " + prefixed("date literal must be of form 'yyyy-mm-dd'")},
      {SQL_C_BINARY, SQL_VARBINARY, ok, &fine,
       "07006 " + prefixed("Unsupported setparam conversion fCType=-2, fSqlType=-3")},
      {SQL_C_CHAR, SQL_INTEGER, ok, &fine, "22005 " + prefixed("Parameter 2: 'ok' is not a number")},
      {SQL_C_CHAR, SQL_SMALLINT, too_big, nullptr, "22003 " + prefixed("Parameter 2: value does not fit SMALLINT")},
  };
  for (const auto& c : cases) {
    stmt->params.clear();
    stmt->highest_bound_param = 0;
    ASSERT_EQ(sql_bind_parameter(*stmt, 1, SQL_C_CHAR, SQL_CHAR, 2, 0, ok, nullptr), SQL_SUCCESS);
    ASSERT_EQ(sql_bind_parameter(*stmt, 2, c.c_type, c.sql_type, 0, 0, c.value, c.length), SQL_SUCCESS);
    EXPECT_EQ(exec_direct("x"), SQL_ERROR);
    EXPECT_EQ(diags(), std::vector<std::string>{c.diag});
  }
  EXPECT_TRUE(requests().empty());
}

TEST_F(ExecuteTest, BindingChecks) {
  int32_t v = 1;
  SQLLEN null = SQL_NULL_DATA;
  EXPECT_EQ(sql_bind_parameter(*stmt, 1, SQL_C_LONG, SQL_INTEGER, 0, 0, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(sql_bind_parameter(*stmt, 1025, SQL_C_LONG, SQL_INTEGER, 0, 0, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(sql_bind_parameter(*stmt, 0, SQL_C_LONG, SQL_INTEGER, 0, 0, &v, nullptr), SQL_ERROR);
  EXPECT_EQ(sql_bind_parameter(*stmt, 1025, SQL_C_LONG, SQL_INTEGER, 0, 0, &v, nullptr), SQL_ERROR);
  EXPECT_EQ(diags(), (std::vector<std::string>{"S1009 " + prefixed("Invalid argument value"),
                                               "S1009 " + prefixed("Invalid argument value"),
                                               "S1002 " + prefixed("Invalid column number"),
                                               "S1002 " + prefixed("Invalid column number")}));
  // A NULL needs no value buffer; the length is read only at execution, so
  // it may be set after binding.
  SQLLEN later = 5;
  EXPECT_EQ(sql_bind_parameter(*stmt, 1, SQL_C_LONG, SQL_INTEGER, 0, 0, nullptr, &later), SQL_SUCCESS);
  EXPECT_EQ(exec_direct("x"), SQL_ERROR);
  EXPECT_EQ(diags(), std::vector<std::string>{"S1000 " + prefixed("Parameter 1 has no value buffer")});
  later = SQL_NULL_DATA;
  answer(9, "000000000000000");
  EXPECT_EQ(exec_direct("x"), SQL_SUCCESS);
  EXPECT_EQ(sent(1, 9).back().data, "0007110001" "0001040000001" "x");
  EXPECT_EQ(sql_bind_parameter(*stmt, 1024, SQL_C_LONG, SQL_INTEGER, 0, 0, nullptr, &null), SQL_SUCCESS);
  EXPECT_EQ(stmt->highest_bound_param, 1024);
  // Parameter arrays would send their first row alone: refused.
  SQLULEN row = 0;
  EXPECT_EQ(sql_param_options(*stmt, 1, &row), SQL_SUCCESS);
  EXPECT_EQ(sql_param_options(*stmt, 5, &row), SQL_ERROR);
  EXPECT_EQ(diags(), std::vector<std::string>{"S1C00 " + prefixed("Parameter arrays are not supported")});
}

TEST_F(ExecuteTest, DescribeReplyWithContinuationsAndDescribeParam) {
  // The prepare reply: two columns and three markers; the second column item
  // comes in a continuation message (column items only).
  answers[{1, 10}] = [&](const Request&) {
    Reply out = message(1, 10, "0" "0002" "0003" + column_item("first_name_that_is_much_longer_than_29", 12, 40));
    Reply more = message(1, 10, column_item("amount", SQL_NUMERIC, 7, 2, 0));
    out.insert(out.end(), more.begin(), more.end());
    return out;
  };
  int32_t v = 5;
  ASSERT_EQ(sql_bind_parameter(*stmt, 2, SQL_C_LONG, SQL_SMALLINT, 5, 0, &v, nullptr), SQL_SUCCESS);
  ASSERT_EQ(sql_prepare(*stmt, (SQLCHAR*)"select ...", SQL_NTS), SQL_SUCCESS) << testing::PrintToString(diags());
  ASSERT_EQ(stmt->result.column_count, 2);
  EXPECT_STREQ(stmt->result.columns[0].name, "first_name_that_is_much_longe");  // 29 characters kept
  EXPECT_EQ(stmt->result.columns[1].sql_type, SQL_NUMERIC);
  EXPECT_EQ(stmt->result.columns[1].nullable, 0);
  // After the 999 bytes a character value may take, at 8-byte alignment.
  EXPECT_EQ(stmt->result.columns[1].row_offset, 1000u);
  EXPECT_EQ(stmt->result.row_buffer.size(), 1008u);
  EXPECT_EQ(stmt->result.row_count, -1);

  SQLSMALLINT type = 0, scale = 9, nullable = 0;
  SQLULEN precision = 0;
  EXPECT_EQ(sql_describe_param(*stmt, 1, &type, &precision, &scale, &nullable), SQL_SUCCESS);
  EXPECT_EQ(type, SQL_VARCHAR);
  EXPECT_EQ(precision, 255u);
  EXPECT_EQ(scale, 0);
  EXPECT_EQ(nullable, SQL_NULLABLE_UNKNOWN);
  EXPECT_EQ(sql_describe_param(*stmt, 2, &type, &precision, nullptr, nullptr), SQL_SUCCESS);
  EXPECT_EQ(type, SQL_SMALLINT);
  EXPECT_EQ(precision, 5u);
  EXPECT_EQ(sql_describe_param(*stmt, 0, &type, nullptr, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(sql_describe_param(*stmt, 4, &type, nullptr, nullptr, nullptr), SQL_ERROR);
  EXPECT_EQ(diags().size(), 2u);
}

TEST_F(ExecuteTest, HostileDescribeRepliesAreRefused) {
  struct Case {
    std::vector<std::string> messages;
    std::string diag;
  } cases[] = {
      // A column type without row storage.
      {{"0-0000000001" "0001" + column_item("d", 3, 10, 2)},
       "S1000 " + prefixed("Column 1 has SQL type 3, which the driver cannot fetch")},
      // A name length that runs past the message.
      {{"0-0000000001" "0001" "45abc"}, "08S01 " + prefixed("Malformed describe reply from host: column 1")},
      // A continuation that never comes.
      {{"0-0000000001" "0002" + column_item("a", 4, 10)},
       "08S01 " + prefixed("Timeout waiting for host message")},
  };
  for (const auto& c : cases) {
    answers[{1, 9}] = [&](const Request&) {
      Reply out;
      for (auto& m : c.messages) out.push_back(message(1, 9, m)[0]);
      return out;
    };
    EXPECT_EQ(exec_direct("select"), SQL_ERROR);
    auto d = diags();
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0], c.diag);
    EXPECT_EQ(stmt->result.column_count, 0);  // nothing left to fetch with
    conn->channel.receive_timeout = 60;
  }
}

TEST_F(ExecuteTest, NotConnectedAndLinkFailures) {
  scripted::fail("send");
  EXPECT_EQ(exec_direct("select 1"), SQL_ERROR);
  EXPECT_EQ(diags(), (std::vector<std::string>{"08S01 " + prefixed("Transmit error in send_host_msg"),
                                               "08S01 " + prefixed("Communication link failure")}));
  EXPECT_TRUE(conn->errors.empty());
  PhysComm* link = conn->link;
  conn->link = nullptr;
  EXPECT_EQ(exec_direct("select 1"), SQL_ERROR);
  EXPECT_EQ(diags(), std::vector<std::string>{"08003 " + prefixed("Connection not open")});
  conn->link = link;
}

TEST_F(ExecuteTest, DataAtExecution) {
  SQLLEN dae = SQL_LEN_DATA_AT_EXEC(5), dae_wide = SQL_DATA_AT_EXEC, dae_null = SQL_DATA_AT_EXEC;
  int token1 = 0, token2 = 0, token3 = 0;
  int32_t plain = 3;
  ASSERT_EQ(sql_bind_parameter(*stmt, 1, SQL_C_CHAR, SQL_LONGVARCHAR, 5, 0, &token1, &dae), SQL_SUCCESS);
  ASSERT_EQ(sql_bind_parameter(*stmt, 2, SQL_C_LONG, SQL_INTEGER, 0, 0, &plain, nullptr), SQL_SUCCESS);
  ASSERT_EQ(sql_bind_parameter(*stmt, 3, SQL_C_WCHAR, SQL_WLONGVARCHAR, 0, 0, &token2, &dae_wide), SQL_SUCCESS);
  ASSERT_EQ(sql_bind_parameter(*stmt, 4, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &token3, &dae_null), SQL_SUCCESS);
  answer(9, "000000000010000");

  // Nothing goes out while values are missing.
  EXPECT_EQ(exec_direct("insert into t values (?, ?, ?, ?)"), SQL_NEED_DATA);
  EXPECT_EQ(sql_put_data(*stmt, (SQLPOINTER) "ab", 2), SQL_ERROR);  // before SQLParamData
  EXPECT_EQ(diags(), std::vector<std::string>{"S1010 " + prefixed("Function sequence error")});
  SQLPOINTER token = nullptr;
  ASSERT_EQ(sql_param_data(*stmt, &token), SQL_NEED_DATA);
  EXPECT_EQ(token, &token1);
  EXPECT_EQ(sql_put_data(*stmt, (SQLPOINTER) "ab", 2), SQL_SUCCESS);
  EXPECT_EQ(sql_put_data(*stmt, (SQLPOINTER) "cde", SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(sql_param_data(*stmt, &token), SQL_NEED_DATA);
  EXPECT_EQ(token, &token2);
  const char16_t wide[] = u"Zo\u00eb";
  EXPECT_EQ(sql_put_data(*stmt, (SQLPOINTER)wide, 6), SQL_SUCCESS);
  ASSERT_EQ(sql_param_data(*stmt, &token), SQL_NEED_DATA);
  EXPECT_EQ(token, &token3);
  EXPECT_EQ(sql_put_data(*stmt, nullptr, SQL_NULL_DATA), SQL_SUCCESS);
  EXPECT_TRUE(requests().empty());
  ASSERT_EQ(sql_param_data(*stmt, &token), SQL_SUCCESS) << testing::PrintToString(diags());

  auto r = sent(1, 9);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].data,
            "0007110004"
            "0001-01000500" "0" "005abcde"
            "0002040000000" "0000000003"
            "0003-01000000" "0" "004Zo\xC3\xAB"
            "0004080000001"
            "insert into t values (?, ?, ?, ?)");
  EXPECT_EQ(sql_param_data(*stmt, &token), SQL_ERROR);  // nothing pending any more
  diags();

  // Values past what a character parameter carries are refused as they come.
  EXPECT_EQ(exec_direct("insert into t values (?, ?, ?, ?)"), SQL_NEED_DATA);
  ASSERT_EQ(sql_param_data(*stmt, &token), SQL_NEED_DATA);
  std::string long_value(1000, 'z');
  EXPECT_EQ(sql_put_data(*stmt, long_value.data(), 1000), SQL_ERROR);
  EXPECT_EQ(diags(),
            std::vector<std::string>{"S1000 " + prefixed("Parameter 1: character value longer than 999 bytes")});
  // A cancel drops the request.
  EXPECT_EQ(sql_cancel(*stmt), SQL_SUCCESS);
  EXPECT_EQ(sql_param_data(*stmt, &token), SQL_ERROR);
  diags();

  // A text without markers does not ask for the data of parameters left
  // bound, nor sends them; the plain ones go as before.
  scripted::clear_log();
  EXPECT_EQ(exec_direct("select 1"), SQL_SUCCESS) << testing::PrintToString(diags());
  r = sent(1, 9);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].data, "0007110001" "0002040000000" "0000000003" "select 1");
}

}  // namespace
}  // namespace drivertest
