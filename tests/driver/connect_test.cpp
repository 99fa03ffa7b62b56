// SQLConnect and SQLDriverConnect: stored data source keys, connection
// strings, completion modes and the output connection string.
#include <gtest/gtest.h>

#include <cstring>

#include "common/scramble.h"
#include "driver/core/subconn.h"
#include "tests/driver/driver_fixture.h"

namespace drivertest {
namespace {

using namespace quarl::driver;

class ConnectTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    config.add_dsn("Stored", {{"Provider", "Scripted"},
                              {"Connection", "HOST1"},
                              {"UID", "keeper"},
                              {"PWD", quarl::scramble("secret")},
                              {"ClientConfig", "my/cfg"},
                              {"Description", "kept here"}});
    config.add_dsn("Bare", {{"Provider", "Scripted"}, {"Connection", "HOST1"}});
  }
  SQLRETURN connect(ConnBlock& conn, const char* dsn, const char* uid, const char* pwd) {
    return sql_connect(conn, (SQLCHAR*)dsn, SQL_NTS, (SQLCHAR*)uid, SQL_NTS, (SQLCHAR*)pwd, SQL_NTS);
  }
  std::string login_text() { return requests().at(1).data.substr(6); }
};

TEST_F(ConnectTest, SqlConnectUsesStoredKeys) {
  auto& conn = new_conn();
  ASSERT_EQ(connect(conn, "Stored", nullptr, nullptr), SQL_SUCCESS) << take_all(conn.errors).at(0);
  EXPECT_EQ(login_text(), "KEEPER/SECRET.MY/CFG.");  // stored password unscrambled
  EXPECT_STREQ(conn.dsn, "Stored");
  sql_disconnect(conn);
  scripted::clear_log();
  // A password with "/" carries the charge code.
  ASSERT_EQ(connect(conn, "Bare", "user", "pw/acct/9"), SQL_SUCCESS);
  EXPECT_EQ(login_text(), "USER/PW/ACCT/9.QUARL/CLIENTCONFIG.");
  sql_disconnect(conn);
  // Lengths count; a missing user id or password with none stored is refused.
  EXPECT_EQ(sql_connect(conn, (SQLCHAR*)"Barexx", 4, (SQLCHAR*)"user", SQL_NTS, (SQLCHAR*)"", SQL_NTS), SQL_ERROR);
  EXPECT_EQ(take_all(conn.errors),
            std::vector<std::string>{"28000 " + prefixed("Invalid authorization specification: no password given "
                                                         "to SQLConnect or stored in data source Bare")});
}

TEST_F(ConnectTest, DriverConnectCompletesFromTheDataSourceButNotItsProvider) {
  auto& conn = new_conn();
  std::string out;
  // Without "Provider" in the string the provider is "TCP/IP", whatever is stored.
  EXPECT_EQ(driver_connect(conn, "DSN=Stored;Connection=NOSUCHNAME", SQL_DRIVER_NOPROMPT, &out), SQL_ERROR);
  EXPECT_EQ(out,
            "DSN=Stored;Description=kept here;Provider=TCP/IP;Connection=NOSUCHNAME;DataDescriptionFile=my/cfg;"
            "UID=keeper;PWD=secret;chargecode=");
  EXPECT_TRUE(scripted::calls().empty());
  ASSERT_EQ(driver_connect(conn, "DSN=Stored;Provider=Scripted", SQL_DRIVER_NOPROMPT, &out), SQL_SUCCESS);
  EXPECT_EQ(login_text(), "KEEPER/SECRET.MY/CFG.");
  EXPECT_STREQ(conn.dsn, "Stored");
}

TEST_F(ConnectTest, OutputStringWithoutDataSourceNamesTheDriver) {
  auto& conn = new_conn();
  std::string out;
  ASSERT_EQ(driver_connect(conn, " uid = u;PWD=p;Provider=Scripted;Connection=HOST1;chargecode=cc;Other=1", 
                           SQL_DRIVER_NOPROMPT, &out),
            SQL_SUCCESS);
  EXPECT_EQ(out,
            "DRIVER={Quarl};Description=;Provider=Scripted;Connection=HOST1;"
            "DataDescriptionFile=quarl/clientconfig;UID=u;PWD=p;chargecode=cc");
  EXPECT_EQ(login_text(), "U/P/CC.QUARL/CLIENTCONFIG.");
}

TEST_F(ConnectTest, OutputStringIsCutToItsBuffer) {
  auto& conn = new_conn();
  char buffer[64];
  std::memset(buffer, 0x5A, sizeof buffer);
  SQLSMALLINT length = 0;
  std::string in = "UID=u;PWD=p;Provider=Scripted;Connection=HOST1";
  EXPECT_EQ(sql_driver_connect(conn, nullptr, (SQLCHAR*)in.c_str(), (SQLCHAR*)buffer + 4, 20, &length,
                               SQL_DRIVER_NOPROMPT),
            SQL_SUCCESS_WITH_INFO);
  EXPECT_EQ(std::string(buffer + 4), "DRIVER={Quarl};Desc");
  EXPECT_EQ(length, static_cast<SQLSMALLINT>(std::strlen("DRIVER={Quarl};Description=;Provider=Scripted;Connection=HOST1;"
                                                          "DataDescriptionFile=quarl/clientconfig;UID=u;PWD=p;chargecode=")));
  for (int i : {0, 1, 2, 3, 24, 25, 63}) EXPECT_EQ(buffer[i], 0x5A) << i;
  EXPECT_EQ(take_all(conn.errors), std::vector<std::string>{"01004 " + prefixed("Data truncated")});
  EXPECT_TRUE(conn.connected());
}

TEST_F(ConnectTest, CompletionModes) {
  struct Case {
    std::string in;
    SQLUSMALLINT completion;
    SQLRETURN rc;
    std::string diagnostic;  // what a failure says (every failure says something)
  } cases[] = {
      {"Provider=Scripted;Connection=HOST1", SQL_DRIVER_NOPROMPT, SQL_NO_DATA_FOUND,
       "28000 " + prefixed("Invalid authorization specification: no UID, PWD in the connection string and no DSN= "
                           "naming a data source that stores them")},
      {"DSN=Bare;UID=u;Provider=Scripted", SQL_DRIVER_NOPROMPT, SQL_NO_DATA_FOUND,
       "28000 " + prefixed("Invalid authorization specification: no PWD in the connection string or stored in "
                           "data source Bare")},
      // Keywords of other drivers are named (pyodbc.connect(driver="Quarl", database=":memory:")).
      {"DRIVER={Quarl};DATABASE=:memory:;", SQL_DRIVER_NOPROMPT, SQL_NO_DATA_FOUND,
       "28000 " + prefixed("Invalid authorization specification: no Connection, UID, PWD in the connection string "
                           "and no DSN= naming a data source that stores them; not keywords of this driver: "
                           "DATABASE")},
      {"UID=u;PWD=p", SQL_DRIVER_NOPROMPT, SQL_NO_DATA_FOUND,
       "08001 " + prefixed("Incomplete connection: no Connection in the connection string and no DSN= naming a data "
                           "source that stores them")},
      {"DSN=Bare;UID=u;Provider=Scripted", SQL_DRIVER_COMPLETE, SQL_NO_DATA_FOUND,
       "S1000 " + prefixed("The connection dialog was cancelled")},
      {"DSN=Bare;UID=u;Provider=Scripted", SQL_DRIVER_COMPLETE_REQUIRED, SQL_NO_DATA_FOUND,
       "S1000 " + prefixed("The connection dialog was cancelled")},
      {"DSN=Stored;Provider=Scripted", SQL_DRIVER_PROMPT, SQL_NO_DATA_FOUND,  // always the dialog
       "S1000 " + prefixed("The connection dialog was cancelled")},
      {"DSN=Stored;Provider=Scripted", SQL_DRIVER_COMPLETE, SQL_SUCCESS, ""},  // complete: no dialog
      {"DSN=Stored;Provider=Scripted", SQL_DRIVER_COMPLETE_REQUIRED, SQL_SUCCESS, ""},
      // Empty UID= and PWD= take the stored values, as SQLConnect's empty arguments do.
      {"DSN=Stored;Provider=Scripted;UID=;PWD=", SQL_DRIVER_NOPROMPT, SQL_SUCCESS, ""},
  };
  for (auto& c : cases) {
    scripted::clear_log();
    auto& conn = new_conn();
    testing::internal::CaptureStderr();  // the headless dialog's note
    EXPECT_EQ(driver_connect(conn, c.in, c.completion), c.rc) << c.in << " " << c.completion;
    testing::internal::GetCapturedStderr();
    if (c.rc == SQL_NO_DATA_FOUND) {
      EXPECT_TRUE(scripted::calls().empty());
      EXPECT_EQ(take_all(conn.errors), std::vector<std::string>{c.diagnostic}) << c.in;
    } else {
      EXPECT_EQ(login_text(), "KEEPER/SECRET.MY/CFG.") << c.in;
    }
    sql_disconnect(conn);
    free_connect(conn);
  }
  EXPECT_EQ(sub_ids_in_use(), 0);
}

}  // namespace
}  // namespace drivertest
