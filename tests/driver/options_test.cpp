// Cursor names, statement and connection options, autocommit and
// transaction requests, cancelling an outstanding fetch, and SQLNativeSql,
// against the scripted host.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/driver/stmt_fixture.h"

namespace drivertest {
namespace {

using namespace quarl::driver;

class OptionsTest : public StmtTest {};

TEST_F(OptionsTest, CursorNames) {
  char name[32];
  SQLSMALLINT length = 0;
  EXPECT_EQ(sql_get_cursor_name(*stmt, (SQLCHAR*)name, sizeof name, &length), SQL_SUCCESS);
  EXPECT_STREQ(name, "SQL_CUR00007");
  EXPECT_EQ(length, 12);
  EXPECT_EQ(sql_get_cursor_name(*stmt, (SQLCHAR*)name, 5, &length), SQL_SUCCESS);
  EXPECT_STREQ(name, "SQL_");
  EXPECT_EQ(length, 12);

  EXPECT_EQ(sql_set_cursor_name(*stmt, (SQLCHAR*)"abcdefghijklmnopq", SQL_NTS), SQL_SUCCESS);
  EXPECT_EQ(sql_get_cursor_name(*stmt, (SQLCHAR*)name, sizeof name, &length), SQL_SUCCESS);
  EXPECT_STREQ(name, "abcdefghijklmnopq");
  EXPECT_EQ(sql_set_cursor_name(*stmt, (SQLCHAR*)"abcdefghijklmnopqr", SQL_NTS), SQL_ERROR);
  EXPECT_EQ(sql_set_cursor_name(*stmt, (SQLCHAR*)"abcdefghijklmnopqr", 18), SQL_ERROR);
  EXPECT_EQ(diags(), std::vector<std::string>(2, "34000 " + prefixed("Invalid cursor name")));
  // A given length bounds what is read; the name ends at its terminator within it.
  EXPECT_EQ(sql_set_cursor_name(*stmt, (SQLCHAR*)"cur\0junk", 8), SQL_SUCCESS);
  EXPECT_EQ(sql_get_cursor_name(*stmt, (SQLCHAR*)name, sizeof name, &length), SQL_SUCCESS);
  EXPECT_STREQ(name, "cur");
  // 18 characters without a terminator: nothing past them is read.
  std::vector<char> unterminated(18, 'n');
  EXPECT_EQ(sql_set_cursor_name(*stmt, (SQLCHAR*)unterminated.data(), SQL_NTS), SQL_ERROR);
  diags();
  // An empty name brings the generated one back.
  EXPECT_EQ(sql_set_cursor_name(*stmt, (SQLCHAR*)"", 0), SQL_SUCCESS);
  EXPECT_EQ(sql_get_cursor_name(*stmt, (SQLCHAR*)name, sizeof name, nullptr), SQL_SUCCESS);
  EXPECT_STREQ(name, "SQL_CUR00007");
}

TEST_F(OptionsTest, StatementOptions) {
  SQLULEN value = 99;
  // Without "allowasync" the option is accepted and ignored.
  EXPECT_EQ(sql_set_stmt_option(*stmt, SQL_ASYNC_ENABLE, 1), SQL_SUCCESS);
  EXPECT_EQ(sql_get_stmt_option(*stmt, SQL_ASYNC_ENABLE, &value), SQL_SUCCESS);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(sql_set_stmt_option(*stmt, SQL_QUERY_TIMEOUT, 30), SQL_SUCCESS);
  EXPECT_EQ(sql_get_stmt_option(*stmt, SQL_QUERY_TIMEOUT, &value), SQL_SUCCESS);
  EXPECT_EQ(value, 30u);
  // Accepted-and-ignored options answer what is in force.
  EXPECT_EQ(sql_set_stmt_option(*stmt, SQL_MAX_ROWS, 10), SQL_SUCCESS);
  value = 99;
  EXPECT_EQ(sql_get_stmt_option(*stmt, SQL_MAX_ROWS, &value), SQL_SUCCESS);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(sql_get_stmt_option(*stmt, SQL_CONCURRENCY, &value), SQL_SUCCESS);
  EXPECT_EQ(value, static_cast<SQLULEN>(SQL_CONCUR_READ_ONLY));
  EXPECT_EQ(sql_get_stmt_option(*stmt, SQL_QUERY_TIMEOUT, nullptr), SQL_SUCCESS);
  for (SQLUSMALLINT option : {SQL_BIND_TYPE, SQL_KEYSET_SIZE, SQL_RETRIEVE_DATA})
    EXPECT_EQ(sql_set_stmt_option(*stmt, option, 0), SQL_ERROR);
  EXPECT_EQ(diags(), std::vector<std::string>(3, "S1092 " + prefixed("Option type out of range")));

  DriverSettings s;
  s.allowasync = 1;
  set_settings(s);
  EXPECT_EQ(sql_set_stmt_option(*stmt, SQL_ASYNC_ENABLE, 1), SQL_SUCCESS);
  EXPECT_EQ(sql_get_stmt_option(*stmt, SQL_ASYNC_ENABLE, &value), SQL_SUCCESS);
  EXPECT_EQ(value, 1u);
}

TEST_F(OptionsTest, ConnectionOptionsAndAutocommitRequests) {
  StmtBlock* second = new_stmt();
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(second->host_id, 8);
  scripted::clear_log();
  answer(17, "0");
  EXPECT_EQ(sql_set_connect_option(*conn, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  auto r = sent(1, 17);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].data, "00070" "00080");
  EXPECT_EQ(r[0].length, 10u);
  EXPECT_EQ(stmt->autocommit, 0u);
  EXPECT_EQ(second->autocommit, 0u);
  SQLUINTEGER value = 9;
  EXPECT_EQ(sql_get_connect_option(conn, SQL_AUTOCOMMIT, &value), SQL_SUCCESS);
  EXPECT_EQ(value, 0u);

  // The host's refusal is posted on the connection.
  answer(17, "2" + error_items({{3, "cannot switch"}}));
  EXPECT_EQ(sql_set_connect_option(*conn, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), SQL_ERROR);
  EXPECT_EQ(take_all(conn->errors), std::vector<std::string>{"S1000 cannot switch"});

  // A statement option for every statement, recorded as the connection's default.
  EXPECT_EQ(sql_set_connect_option(*conn, SQL_QUERY_TIMEOUT, 30), SQL_SUCCESS);
  EXPECT_EQ(stmt->query_timeout, 30u);
  EXPECT_EQ(second->query_timeout, 30u);
  EXPECT_EQ(conn->query_timeout_default, 30u);
  EXPECT_EQ(sql_set_connect_option(*conn, SQL_BIND_TYPE, 1), SQL_ERROR);
  EXPECT_EQ(diags(), std::vector<std::string>{"S1092 " + prefixed("Option type out of range")});

  EXPECT_EQ(sql_get_connect_option(conn, SQL_TXN_ISOLATION, &value), SQL_SUCCESS);
  EXPECT_EQ(value, static_cast<SQLUINTEGER>(SQL_TXN_READ_COMMITTED));
  char qualifier[4] = "xyz";
  EXPECT_EQ(sql_get_connect_option(conn, SQL_CURRENT_QUALIFIER, qualifier), SQL_SUCCESS);
  EXPECT_STREQ(qualifier, "");
  EXPECT_EQ(sql_get_connect_option(nullptr, SQL_LOGIN_TIMEOUT, &value), SQL_SUCCESS);
  EXPECT_EQ(value, 15u);
  EXPECT_EQ(sql_get_connect_option(conn, SQL_PACKET_SIZE, &value), SQL_ERROR);
  EXPECT_EQ(take_all(conn->errors), std::vector<std::string>{"S1C00 " + prefixed("Driver not capable")});
}

TEST_F(OptionsTest, OptionsWithoutStatementsSendAndRecordNothing) {
  auto& other = connected();
  scripted::clear_log();
  EXPECT_EQ(sql_set_connect_option(other, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
  EXPECT_EQ(sql_set_connect_option(other, SQL_QUERY_TIMEOUT, 30), SQL_SUCCESS);
  EXPECT_TRUE(requests().empty());
  EXPECT_EQ(other.query_timeout_default, 0u);
  // Statements allocated later take the connection's autocommit.
  SQLHSTMT h = nullptr;
  ASSERT_EQ(alloc_stmt(other, &h), SQL_SUCCESS);
  EXPECT_EQ(requests().back().data.substr(0, 1), "0");
}

TEST_F(OptionsTest, TransactOneConnectionOrTheWholeEnvironment) {
  auto& second = connected();
  scripted::clear_log();
  answer(18, "0");
  char id1[8], id2[8];
  std::snprintf(id1, sizeof id1, "%4.4x", static_cast<unsigned>(conn->connection_id));
  std::snprintf(id2, sizeof id2, "%4.4x", static_cast<unsigned>(second.connection_id));

  EXPECT_EQ(transact_connection(second, SQL_ROLLBACK), SQL_SUCCESS);
  EXPECT_EQ(transact_environment(*env, SQL_COMMIT), SQL_SUCCESS);
  auto r = requests();
  ASSERT_EQ(r.size(), 3u);
  for (auto& m : r) {
    EXPECT_EQ(m.type, 1u);
    EXPECT_EQ(m.code, 18u);
    EXPECT_EQ(m.length, 5u);
  }
  EXPECT_EQ(r[0].data, std::string(id2, 4) + "1");
  EXPECT_EQ(r[1].data, std::string(id1, 4) + "0");
  EXPECT_EQ(r[2].data, std::string(id2, 4) + "0");

  // One refusal makes the environment's result an error; the others still go.
  answers[{1, 18}] = [&](const Request& m) {
    return message(1, 18, m.data.substr(0, 4) == std::string(id1, 4) ? "2" + error_items({{3, "no"}}) : "0");
  };
  scripted::clear_log();
  EXPECT_EQ(transact_environment(*env, SQL_ROLLBACK), SQL_ERROR);
  EXPECT_EQ(requests().size(), 2u);
  EXPECT_EQ(take_all(conn->errors), std::vector<std::string>{"S1000 no"});
  // A connection that is not connected.
  auto& idle = new_conn();
  EXPECT_EQ(transact_connection(idle, SQL_COMMIT), SQL_ERROR);
  EXPECT_EQ(take_all(idle.errors), std::vector<std::string>{"08003 " + prefixed("Connection not open")});
}

TEST_F(OptionsTest, CancelOfAnOutstandingFetchWaitsForTheAcknowledgement) {
  // No fetch outstanding: nothing is sent.
  EXPECT_EQ(sql_cancel(*stmt), SQL_SUCCESS);
  EXPECT_TRUE(requests().empty());

  DriverSettings s;
  s.allowasync = 1;
  set_settings(s);
  ASSERT_EQ(sql_set_stmt_option(*stmt, SQL_ASYNC_ENABLE, 1), SQL_SUCCESS);
  answer(9, "0-0000000001" "0001" + column_item("n", SQL_INTEGER, 10));
  ASSERT_EQ(sql_exec_direct(*stmt, (SQLCHAR*)"select n", SQL_NTS), SQL_SUCCESS);
  answers[{1, 4}] = [&](const Request&) { return Reply{}; };
  ASSERT_EQ(sql_fetch(*stmt), SQL_STILL_EXECUTING);

  // The cancelled fetch's reply arrives before the acknowledgement and is dropped.
  answers[{0, 5}] = [&](const Request&) {
    Reply out = message(1, 4, "01" "0" "0000000001" "1");
    out.push_back(message(1, 19, "00007")[0]);
    return out;
  };
  scripted::clear_log();
  EXPECT_EQ(sql_cancel(*stmt), SQL_SUCCESS);
  auto cancel = sent(0, 5);
  ASSERT_EQ(cancel.size(), 1u);
  EXPECT_EQ(cancel[0].data, "0007");
  EXPECT_EQ(stmt->fetch_state, kFetchCancelled);

  EXPECT_EQ(sql_fetch(*stmt), SQL_ERROR);
  EXPECT_EQ(diags(), std::vector<std::string>{"S1008 " + prefixed("Operation canceled")});
  // A fresh query on the same statement.
  ASSERT_EQ(sql_exec_direct(*stmt, (SQLCHAR*)"select n", SQL_NTS), SQL_SUCCESS);
  answers[{1, 4}] = [&](const Request&) { return message(1, 4, "01" "0" "0000000002" "1"); };
  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS);
  int32_t n = 0;
  EXPECT_EQ(sql_get_data(*stmt, 1, SQL_C_LONG, &n, 0, nullptr), SQL_SUCCESS);
  EXPECT_EQ(n, 2);

  // An acknowledgement that never comes: the wait ends with the link failure.
  answers[{1, 4}] = [&](const Request&) { return Reply{}; };
  ASSERT_EQ(sql_exec_direct(*stmt, (SQLCHAR*)"select n", SQL_NTS), SQL_SUCCESS);
  ASSERT_EQ(sql_fetch(*stmt), SQL_STILL_EXECUTING);
  answers.erase({0, 5});
  EXPECT_EQ(sql_cancel(*stmt), SQL_ERROR);
  EXPECT_EQ(diags(), std::vector<std::string>{"08S01 " + prefixed("Timeout waiting for host message")});
}

TEST_F(OptionsTest, NativeSqlReturnsTheTextUnchanged) {
  char out[64];
  SQLINTEGER length = 0;
  EXPECT_EQ(sql_native_sql(*conn, (SQLCHAR*)"{fn UCASE(a)}", SQL_NTS, (SQLCHAR*)out, sizeof out, &length), SQL_SUCCESS);
  EXPECT_STREQ(out, "{fn UCASE(a)}");
  EXPECT_EQ(length, 13);
  EXPECT_EQ(sql_native_sql(*conn, (SQLCHAR*)"select 1", 6, (SQLCHAR*)out, 6, &length), SQL_SUCCESS_WITH_INFO);
  EXPECT_STREQ(out, "selec");
  EXPECT_EQ(length, 6);
  EXPECT_EQ(take_all(conn->errors), std::vector<std::string>{"01004 " + prefixed("Data truncated")});
}

}  // namespace
}  // namespace drivertest
