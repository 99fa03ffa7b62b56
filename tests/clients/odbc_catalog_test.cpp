// An ODBC 2 C client through unixODBC against a demo Host Server: the
// catalog functions that pyodbc and DBD::ODBC do not reach, read as users
// read them (SQLFetch, SQLGetData), and SQLProcedures, which does nothing.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <functional>
#include <string>
#include <vector>

#include "common/scramble.h"
#include "tests/support/test_env.h"

namespace {

class OdbcCatalog : public ::testing::Test {
 protected:
  void SetUp() override {
    // unixODBC caches what it read of odbc.ini for the process: a name of
    // its own for each test's server.
    static int count = 0;
    dsn = "QuarlDemo" + std::to_string(++count);
    config.add_dsn(dsn, {{"Provider", "TCP/IP"},
                                 {"Connection", server.address()},
                                 {"UID", "DEMO"},
                                 {"PWD", quarl::scramble("DEMO")}});
    ASSERT_EQ(SQLAllocEnv(&henv), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocConnect(henv, &hdbc), SQL_SUCCESS);
    ASSERT_EQ(SQLConnect(hdbc, (SQLCHAR*)dsn.c_str(), SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS) << error();
    ASSERT_EQ(SQLAllocStmt(hdbc, &hstmt), SQL_SUCCESS);
  }
  void TearDown() override {
    SQLFreeStmt(hstmt, SQL_DROP);
    SQLDisconnect(hdbc);
    SQLFreeConnect(hdbc);
    SQLFreeEnv(henv);
  }

  std::string error() {
    SQLCHAR state[6] = {}, text[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (SQLError(henv, hdbc, hstmt, state, &native, text, sizeof text, &length) != SQL_SUCCESS) return "none";
    return std::string((char*)state) + " " + (char*)text;
  }

  // Every row of the current result set, the given columns as text ("NULL" for NULL).
  std::vector<std::string> rows(std::vector<SQLUSMALLINT> columns) {
    std::vector<std::string> out;
    SQLRETURN rc;
    while ((rc = SQLFetch(hstmt)) == SQL_SUCCESS) {
      std::string row;
      for (SQLUSMALLINT c : columns) {
        char text[256] = {};
        SQLLEN length = 0;
        EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(hstmt, c, SQL_C_CHAR, text, sizeof text, &length))) << error();
        row += (row.empty() ? "" : "|") + (length == SQL_NULL_DATA ? std::string("NULL") : std::string(text));
      }
      out.push_back(row);
    }
    EXPECT_EQ(rc, SQL_NO_DATA_FOUND) << error();
    SQLFreeStmt(hstmt, SQL_CLOSE);
    return out;
  }

  std::string dsn;
  testsupport::OdbcConfig config;
  testsupport::TempDir data;
  testsupport::HostServer server{{"--demo", "--database", (data / "demo.sqlite").string()}};
  SQLHENV henv = SQL_NULL_HENV;
  SQLHDBC hdbc = SQL_NULL_HDBC;
  SQLHSTMT hstmt = SQL_NULL_HSTMT;
};

SQLCHAR* text(const char* s) { return (SQLCHAR*)s; }

TEST_F(OdbcCatalog, SpecialColumnsPrivilegesAndForeignKeys) {
  ASSERT_EQ(SQLSpecialColumns(hstmt, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, text("assignments"), SQL_NTS,
                              SQL_SCOPE_CURROW, SQL_NULLABLE),
            SQL_SUCCESS)
      << error();
  EXPECT_EQ(rows({2, 4}), (std::vector<std::string>{"emp_id|BIGINT", "project_id|BIGINT"}));

  ASSERT_EQ(SQLTablePrivileges(hstmt, nullptr, 0, nullptr, 0, text("depart%"), SQL_NTS), SQL_SUCCESS) << error();
  EXPECT_EQ(rows({3, 6}), (std::vector<std::string>{"departments|DELETE", "departments|INSERT",
                                                    "departments|REFERENCES", "departments|SELECT",
                                                    "departments|UPDATE"}));

  ASSERT_EQ(SQLColumnPrivileges(hstmt, nullptr, 0, nullptr, 0, text("departments"), SQL_NTS, text("budget"), SQL_NTS),
            SQL_SUCCESS)
      << error();
  EXPECT_EQ(rows({4, 7}).size(), 4u);

  // Whatever the arguments, every foreign key of the data source.
  ASSERT_EQ(SQLForeignKeys(hstmt, nullptr, 0, nullptr, 0, text("nothing"), SQL_NTS, nullptr, 0, nullptr, 0,
                           text("such"), SQL_NTS),
            SQL_SUCCESS)
      << error();
  auto keys = rows({3, 7, 8});
  EXPECT_NE(std::find(keys.begin(), keys.end(), "departments|employees|dept_id"), keys.end())
      << testing::PrintToString(keys);
  EXPECT_NE(std::find(keys.begin(), keys.end(), "employees|assignments|emp_id"), keys.end())
      << testing::PrintToString(keys);
}

TEST_F(OdbcCatalog, ProceduresLeaveTheStatementAsItWas) {
  ASSERT_EQ(SQLExecDirect(hstmt, text("select dept_id, name, budget from departments"), SQL_NTS), SQL_SUCCESS)
      << error();
  ASSERT_EQ(SQLFreeStmt(hstmt, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(SQLProcedures(hstmt, nullptr, 0, nullptr, 0, text("%"), SQL_NTS), SQL_SUCCESS) << error();
  SQLSMALLINT columns = 0;
  EXPECT_EQ(SQLNumResultCols(hstmt, &columns), SQL_SUCCESS);
  EXPECT_EQ(columns, 3);
  SQLFreeStmt(hstmt, SQL_CLOSE);
  EXPECT_EQ(SQLProcedureColumns(hstmt, nullptr, 0, nullptr, 0, text("%"), SQL_NTS, text("%"), SQL_NTS),
            SQL_SUCCESS);
}

TEST_F(OdbcCatalog, TypeInformation) {
  ASSERT_EQ(SQLGetTypeInfo(hstmt, SQL_ALL_TYPES), SQL_SUCCESS) << error();
  auto all = rows({1, 2});
  // The driver agreed to long values: the binary types are there too.
  EXPECT_EQ(all.size(), 15u) << testing::PrintToString(all);
  EXPECT_NE(std::find(all.begin(), all.end(), "TIMESTAMP|11"), all.end());
  EXPECT_NE(std::find(all.begin(), all.end(), "LONGVARBINARY|-4"), all.end());
  ASSERT_EQ(SQLGetTypeInfo(hstmt, SQL_LONGVARCHAR), SQL_SUCCESS) << error();
  EXPECT_EQ(rows({1, 2}), std::vector<std::string>{"LONGVARCHAR|-1"});
  ASSERT_EQ(SQLGetTypeInfo(hstmt, SQL_BIGINT), SQL_SUCCESS) << error();
  EXPECT_EQ(rows({1, 2, 3}), std::vector<std::string>{"BIGINT|-5|19"});
  ASSERT_EQ(SQLGetTypeInfo(hstmt, SQL_REAL), SQL_SUCCESS) << error();  // a type the host does not have
  EXPECT_TRUE(rows({1}).empty());
}

}  // namespace
