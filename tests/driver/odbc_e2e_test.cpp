// End to end: real clients through the unixODBC driver manager, the driver,
// the TCP/IP provider and a real quarl-hostserver.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>

#include "common/scramble.h"
#include "tests/support/test_env.h"

namespace {

class OdbcEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    config.add_tcp_connection("DEMOHOST", server.address());
    config.add_dsn("QuarlDemo", {{"Description", "demo"},
                                 {"Provider", "TCP/IP"},
                                 {"Connection", "DEMOHOST"},
                                 {"UID", "DEMO"},
                                 {"PWD", quarl::scramble("DEMO")}});
    config.add_dsn("QuarlNoUser", {{"Provider", "TCP/IP"}, {"Connection", "DEMOHOST"}});
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &henv)));
    // An ODBC 2 application, as the driver is an ODBC 2 driver (an ODBC 3 one
    // gets the driver manager's 01000 "requested version" warning on connect).
    SQLSetEnvAttr(henv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC2), 0);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, henv, &hdbc)));
  }
  void TearDown() override {
    SQLFreeHandle(SQL_HANDLE_DBC, hdbc);
    SQLFreeHandle(SQL_HANDLE_ENV, henv);
  }
  std::string diagnostic(SQLSMALLINT type, SQLHANDLE handle) {
    SQLCHAR state[6] = {}, text[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof text, &length))) return "none";
    return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(text);
  }

  testsupport::OdbcConfig config;
  testsupport::HostServer server;
  SQLHENV henv = SQL_NULL_HENV;
  SQLHDBC hdbc = SQL_NULL_HDBC;
};

TEST_F(OdbcEndToEnd, CClientConnectsAllocatesStatementsAndDisconnects) {
  ASSERT_EQ(SQLConnect(hdbc, (SQLCHAR*)"QuarlDemo", SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS)
      << diagnostic(SQL_HANDLE_DBC, hdbc);
  SQLHSTMT a = SQL_NULL_HSTMT, b = SQL_NULL_HSTMT;
  ASSERT_EQ(SQLAllocStmt(hdbc, &a), SQL_SUCCESS) << diagnostic(SQL_HANDLE_DBC, hdbc);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, hdbc, &b), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeStmt(a, SQL_CLOSE), SQL_SUCCESS) << diagnostic(SQL_HANDLE_STMT, a);
  EXPECT_EQ(SQLFreeStmt(a, SQL_UNBIND), SQL_SUCCESS);
  EXPECT_EQ(SQLFreeStmt(a, SQL_DROP), SQL_SUCCESS);
  EXPECT_EQ(SQLExecDirect(b, (SQLCHAR*)"select 1", SQL_NTS), SQL_SUCCESS) << diagnostic(SQL_HANDLE_STMT, b);
  EXPECT_EQ(SQLDisconnect(hdbc), SQL_SUCCESS) << diagnostic(SQL_HANDLE_DBC, hdbc);  // drops b too
  // Connect again on the same handle.
  ASSERT_EQ(SQLConnect(hdbc, (SQLCHAR*)"QuarlNoUser", SQL_NTS, (SQLCHAR*)"demo", SQL_NTS, (SQLCHAR*)"demo", SQL_NTS),
            SQL_SUCCESS)
      << diagnostic(SQL_HANDLE_DBC, hdbc);
  EXPECT_EQ(SQLDisconnect(hdbc), SQL_SUCCESS);
}

TEST_F(OdbcEndToEnd, WrongPasswordFailsWithTheHostsDiagnostic) {
  EXPECT_EQ(SQLConnect(hdbc, (SQLCHAR*)"QuarlDemo", SQL_NTS, (SQLCHAR*)"DEMO", SQL_NTS, (SQLCHAR*)"WRONG", SQL_NTS),
            SQL_ERROR);
  // The host's own text (the driver manager puts its name in front).
  EXPECT_EQ(diagnostic(SQL_HANDLE_DBC, hdbc), "28000 [unixODBC]Invalid user id or password");
}

TEST_F(OdbcEndToEnd, DriverConnectWithAConnectionStringOnly) {
  std::string in = "DRIVER={Quarl};UID=demo;PWD=demo;Connection=" + server.address();
  SQLCHAR out[512] = {};
  SQLSMALLINT length = 0;
  ASSERT_EQ(SQLDriverConnect(hdbc, nullptr, (SQLCHAR*)in.c_str(), SQL_NTS, out, sizeof out, &length,
                             SQL_DRIVER_NOPROMPT),
            SQL_SUCCESS)
      << diagnostic(SQL_HANDLE_DBC, hdbc);
  std::string expected = "DRIVER={Quarl};Description=;Provider=TCP/IP;Connection=" + server.address() +
                         ";DataDescriptionFile=quarl/clientconfig;UID=demo;PWD=demo;chargecode=";
  EXPECT_EQ(reinterpret_cast<char*>(out), expected);
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(expected.size()));
  SQLHSTMT s = SQL_NULL_HSTMT;
  EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, hdbc, &s), SQL_SUCCESS) << diagnostic(SQL_HANDLE_DBC, hdbc);
  EXPECT_EQ(SQLDisconnect(hdbc), SQL_SUCCESS);
}

TEST_F(OdbcEndToEnd, Isql) {
  auto ok = testsupport::run_command("isql -v QuarlDemo", "");
  EXPECT_EQ(ok.status, 0) << ok.output;
  EXPECT_NE(ok.output.find("Connected!"), std::string::npos) << ok.output;
  auto wrong = testsupport::run_command("isql -v QuarlDemo DEMO WRONG", "");
  EXPECT_NE(wrong.status, 0);
  EXPECT_NE(wrong.output.find("[28000]"), std::string::npos) << wrong.output;
  EXPECT_NE(wrong.output.find("Invalid user id or password"), std::string::npos) << wrong.output;
  auto query = testsupport::run_command("isql -v QuarlDemo", "select 1\n");
  EXPECT_EQ(query.status, 0) << query.output;
  EXPECT_NE(query.output.find("1 rows fetched"), std::string::npos) << query.output;
}

}  // namespace
