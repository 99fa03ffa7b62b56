// Catalog requests and the type information request against a scripted
// host: the exact request layouts, the reply read as a result description
// (continuations included), host errors, link failures and names that a
// request cannot carry.
#include <gtest/gtest.h>
#include <sqlext.h>

#include <functional>

#include "driver/core/catalog.h"
#include "driver/core/execute.h"
#include "driver/core/info.h"
#include "driver/core/results.h"
#include "tests/driver/driver_fixture.h"

namespace drivertest {
namespace {

using namespace quarl::driver;

CatalogName name(const char* text, SQLSMALLINT length = SQL_NTS) {
  return {reinterpret_cast<const SQLCHAR*>(text), length};
}
const CatalogName kNone{nullptr, 0};

// A describe reply's column item.
std::string item(const std::string& column, int type, unsigned precision, unsigned scale = 0, unsigned nullable = 1) {
  char head[8], tail[32];
  std::snprintf(head, sizeof head, "%02zu", column.size());
  std::snprintf(tail, sizeof tail, "%s%02d%04u%02u%u", type < 0 ? "-" : "", type < 0 ? -type : type, precision, scale,
                nullable);
  return head + column + tail;
}

class CatalogTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    conn = &connected();
    SQLHSTMT h = nullptr;
    ASSERT_EQ(alloc_stmt(*conn, &h), SQL_SUCCESS);
    stmt = find_stmt(h);
    ASSERT_EQ(stmt->host_id, 7);
    scripted::clear_log();
  }

  // The type 1 requests sent since the log was cleared.
  std::vector<Request> statement_requests() {
    std::vector<Request> out;
    for (auto& r : requests())
      if (r.type == 1) out.push_back(r);
    return out;
  }

  // Every catalog code answers with a two-column description.
  void answer_all(const std::string& data) {
    for (unsigned code : {3u, 5u, 6u, 7u, 8u, 12u, 13u, 15u, 16u})
      answers[{1, code}] = [=](const Request&) { return message(1, code, data); };
  }

  ConnBlock* conn = nullptr;
  StmtBlock* stmt = nullptr;
};

TEST_F(CatalogTest, RequestLayouts) {
  answer_all("00000");
  struct Case {
    const char* what;
    std::function<SQLRETURN(StmtBlock&)> call;
    unsigned code;
    std::string data;  // after the statement id "0007"
  } cases[] = {
      {"tables with a pattern", [](StmtBlock& s) { return sql_tables(s, kNone, name("SYS%"), kNone); }, 3,
       "000004SYS%000"},
      {"tables, all three names",
       [](StmtBlock& s) { return sql_tables(s, name("Q"), name("own"), name("EMP\\_%")); }, 3,
       "001Q003own006EMP\\_%"},
      {"explicit lengths count, a null name with length 0 is empty",
       [](StmtBlock& s) { return sql_columns(s, name("QUALIFIER", 0), name(nullptr, 0), name("employeesXYZ", 9)); },
       6, "000000009employees"},
      {"a length of SQL_NTS with a null name is empty",
       [](StmtBlock& s) { return sql_primary_keys(s, name(nullptr), name(nullptr), name("t")); }, 12, "000000001t"},
      {"statistics, SQL_INDEX_ALL",
       [](StmtBlock& s) { return sql_statistics(s, kNone, kNone, name("employees"), SQL_INDEX_ALL); }, 7,
       "000000009employees1"},
      {"statistics, SQL_INDEX_UNIQUE",
       [](StmtBlock& s) { return sql_statistics(s, kNone, kNone, name("t"), SQL_INDEX_UNIQUE); }, 7, "000000001t0"},
      {"special columns",
       [](StmtBlock& s) {
         return sql_special_columns(s, SQL_BEST_ROWID, kNone, kNone, name("t"), SQL_SCOPE_CURROW);
       },
       5, "000000001t0000100000"},
      {"special columns, large numbers keep five digits",
       [](StmtBlock& s) { return sql_special_columns(s, 65535, kNone, kNone, name("t"), 12345); }, 5,
       "000000001t6553512345"},
      {"foreign keys send three empty names", [](StmtBlock& s) { return sql_foreign_keys(s); }, 13, "000000000"},
      {"table privileges", [](StmtBlock& s) { return sql_table_privileges(s, kNone, kNone, name("%")); }, 15,
       "000000001%"},
      {"column privileges carry a fourth name",
       [](StmtBlock& s) { return sql_column_privileges(s, kNone, kNone, name("t"), name("c_%")); }, 16,
       "000000001t003c_%"},
      {"type information, all types", [](StmtBlock& s) { return get_type_info(s, SQL_ALL_TYPES); }, 8, "00"},
      {"type information, a negative type", [](StmtBlock& s) { return get_type_info(s, SQL_LONGVARCHAR); }, 8,
       "-01"},
      {"type information, an ODBC 3 code goes as it is",
       [](StmtBlock& s) { return get_type_info(s, SQL_TYPE_TIMESTAMP); }, 8, "93"},
      {"type information, -9", [](StmtBlock& s) { return get_type_info(s, SQL_WVARCHAR); }, 8, "-09"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    scripted::clear_log();
    EXPECT_EQ(c.call(*stmt), SQL_SUCCESS) << testing::PrintToString(take_all(stmt->errors));
    auto sent = statement_requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].code, c.code);
    EXPECT_EQ(sent[0].data, "0007" + c.data);
    EXPECT_EQ(sent[0].length, sent[0].data.size());
  }
  // The layouts' lengths as the protocol states them.
  EXPECT_EQ(encode_type_info_request(7, SQL_ALL_TYPES).size(), 6u);
  EXPECT_EQ(encode_type_info_request(7, SQL_LONGVARCHAR).size(), 7u);
}

TEST_F(CatalogTest, TheReplyDescribesTheResultSet) {
  // A statement that had a result with more columns and a row count.
  stmt->result.row_count = 12;
  stmt->result.param_marker_count = 3;
  std::string first = "00003" + item("TABLE_QUALIFIER", SQL_VARCHAR, 128) + item("DATA_TYPE", SQL_SMALLINT, 5, 0, 0);
  std::string second = item("REMARKS", SQL_LONGVARCHAR, 254);
  answers[{1, 3}] = [&](const Request&) {
    Reply r = message(1, 3, first);
    auto more = message(1, 3, second);  // continuation: column items only
    r.insert(r.end(), more.begin(), more.end());
    return r;
  };
  ASSERT_EQ(sql_tables(*stmt, kNone, kNone, kNone), SQL_SUCCESS) << testing::PrintToString(take_all(stmt->errors));
  const auto& rs = stmt->result;
  EXPECT_EQ(rs.column_count, 3);
  EXPECT_EQ(rs.row_count, -1);
  EXPECT_EQ(rs.param_marker_count, 0);
  ASSERT_GE(rs.columns.size(), 3u);
  EXPECT_STREQ(rs.columns[0].name, "TABLE_QUALIFIER");
  EXPECT_EQ(rs.columns[1].sql_type, SQL_SMALLINT);
  EXPECT_EQ(rs.columns[1].nullable, 0);
  EXPECT_STREQ(rs.columns[2].name, "REMARKS");
  EXPECT_EQ(rs.columns[2].sql_type, SQL_LONGVARCHAR);
  EXPECT_EQ(rs.columns[2].precision, 254);
}

TEST_F(CatalogTest, UnfetchedRowsOfTheStatementAreDiscarded) {
  // A query of five rows, fetched one at a time from one fetch reply.
  answers[{1, 9}] = [&](const Request&) { return message(1, 9, "0000000000500001" + item("N", SQL_INTEGER, 10)); };
  int fetches = 0;
  answers[{1, 4}] = [&](const Request&) {
    ++fetches;
    if (fetches == 1) return message(1, 4, "01000000000100000000020000000003");
    return message(1, 4, "01" "0" "005hello" "1");  // the catalog's one row, then the end
  };
  answers[{1, 3}] = [&](const Request&) { return message(1, 3, "00001" + item("TABLE_NAME", SQL_VARCHAR, 128)); };
  ASSERT_EQ(sql_exec_direct(*stmt, (SQLCHAR*)"select n from t", SQL_NTS), SQL_SUCCESS);
  SQLLEN rows = 0;
  EXPECT_EQ(sql_row_count(*stmt, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, 5);
  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS) << testing::PrintToString(take_all(stmt->errors));

  ASSERT_EQ(sql_tables(*stmt, kNone, kNone, kNone), SQL_SUCCESS);
  EXPECT_EQ(sql_row_count(*stmt, &rows), SQL_SUCCESS);
  EXPECT_EQ(rows, -1);
  // The next fetch asks the host again instead of handing out row 2.
  ASSERT_EQ(sql_fetch(*stmt), SQL_SUCCESS) << testing::PrintToString(take_all(stmt->errors));
  EXPECT_EQ(fetches, 2);
  char text[16] = {};
  SQLLEN length = 0;
  EXPECT_EQ(sql_get_data(*stmt, 1, SQL_C_CHAR, text, sizeof text, &length), SQL_SUCCESS);
  EXPECT_STREQ(text, "hello");
  EXPECT_EQ(sql_fetch(*stmt), SQL_NO_DATA_FOUND);
}

TEST_F(CatalogTest, HostErrorsAndLinkFailuresLandOnTheStatement) {
  // The host's error items.
  answers[{1, 6}] = [&](const Request&) { return message(1, 6, "200010014No such table!0000"); };
  EXPECT_EQ(sql_columns(*stmt, kNone, kNone, name("nope")), SQL_ERROR);
  EXPECT_EQ(take_all(stmt->errors), std::vector<std::string>{"S0002 No such table!"});
  // A warning is not read as a description.
  stmt->result.column_count = 0;
  answers[{1, 8}] = [&](const Request&) { return message(1, 8, "100120004Cut!0000"); };
  EXPECT_EQ(get_type_info(*stmt, SQL_ALL_TYPES), SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(take_all(stmt->errors), std::vector<std::string>{"01004 Cut!"});
  EXPECT_EQ(stmt->result.column_count, 0);
  // No reply at all: the connection's diagnostics move to the statement, then 08S01.
  answers[{1, 3}] = [&](const Request&) { return Reply{}; };
  EXPECT_EQ(sql_tables(*stmt, kNone, kNone, kNone), SQL_ERROR);
  auto diags = take_all(stmt->errors);
  ASSERT_EQ(diags.size(), 2u);
  EXPECT_EQ(diags[0].substr(0, 6), "08S01 ");
  EXPECT_EQ(diags[1], "08S01 " + prefixed("Communication link failure"));
  EXPECT_TRUE(conn->errors.empty());
  // A continuation that never comes: failure, and no half description remains.
  answers[{1, 7}] = [&](const Request&) { return message(1, 7, "00002" + item("A", SQL_INTEGER, 10)); };
  EXPECT_EQ(sql_statistics(*stmt, kNone, kNone, name("t"), 0), SQL_ERROR);
  EXPECT_FALSE(take_all(stmt->errors).empty());
  EXPECT_EQ(stmt->result.column_count, 0);
}

TEST_F(CatalogTest, NamesARequestCannotCarryAreRefusedBeforeSending) {
  std::string long_name(1000, 'x');
  const char* n999 = long_name.c_str() + 1;
  // A connection whose messages hold 1010 data bytes.
  scripted::set_info(1024, 1024);
  auto& small = connected();
  SQLHSTMT h = nullptr;
  ASSERT_EQ(alloc_stmt(small, &h), SQL_SUCCESS);
  StmtBlock* small_stmt = find_stmt(h);
  struct Case {
    const char* what;
    StmtBlock* on;
    std::function<SQLRETURN(StmtBlock&)> call;
  } cases[] = {
      {"negative length", stmt, [](StmtBlock& s) { return sql_tables(s, kNone, kNone, name("t", -5)); }},
      {"length without text", stmt, [](StmtBlock& s) { return sql_columns(s, name(nullptr, 4), kNone, kNone); }},
      {"a name above 999 characters", stmt,
       [&](StmtBlock& s) { return sql_primary_keys(s, kNone, kNone, name(long_name.c_str())); }},
      {"names that fit their fields but not a message", small_stmt,
       [&](StmtBlock& s) { return sql_tables(s, kNone, name(n999), name(n999 + 990)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    scripted::clear_log();
    EXPECT_EQ(c.call(*c.on), SQL_ERROR);
    auto diags = take_all(c.on->errors);
    ASSERT_EQ(diags.size(), 1u);
    EXPECT_EQ(diags[0].substr(0, 5), "S1009");
    EXPECT_TRUE(statement_requests().empty());
  }
  // A type code of three digits would arrive as another type.
  for (SQLSMALLINT type : {101, -100}) {
    scripted::clear_log();
    EXPECT_EQ(get_type_info(*stmt, type), SQL_ERROR);
    EXPECT_EQ(take_all(stmt->errors), std::vector<std::string>{"S1009 " + prefixed("SQL data type out of range: " +
                                                                                    std::to_string(type))});
    EXPECT_TRUE(statement_requests().empty());
  }
  // A request of exactly the message's data length goes out.
  answer_all("00000");
  EXPECT_EQ(sql_tables(*small_stmt, kNone, name(n999 + 3), name(n999 + 998)), SQL_SUCCESS);
  ASSERT_EQ(statement_requests().size(), 1u);
  EXPECT_EQ(statement_requests()[0].length, 1010u);
}

}  // namespace
}  // namespace drivertest
