// SQLDriverConnect's prompt path: the driver manager loads libquarl.so, whose
// built-in setup dialog is played by the headless host, and the connection
// ends at a real quarl-hostserver through the TCP/IP provider.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "common/scramble.h"
#include "tests/support/dialog_script.h"
#include "tests/support/test_env.h"

namespace {

using testsupport::DialogScript;

SQLHWND const kWindow = reinterpret_cast<SQLHWND>(0x1234);  // the application's window

// unixODBC keeps the configuration folder of its first use for the whole
// process: one configuration and one server serve every test.
class DriverConnectTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    config = new testsupport::OdbcConfig();
    server = new testsupport::HostServer();
    config->add_tcp_connection("DEMOHOST", server->address());
    config->add_dsn("NoLogin", {{"Description", "demo"}, {"Provider", "TCP/IP"}, {"Connection", "DEMOHOST"}});
    config->add_dsn("Full", {{"Provider", "TCP/IP"}, {"Connection", "DEMOHOST"}, {"UID", "DEMO"},
                             {"PWD", quarl::scramble("DEMO")}});
  }
  static void TearDownTestSuite() {
    delete server;
    delete config;
  }
  void SetUp() override {
    ::unsetenv("QUARL_DIALOG_SCRIPT");
    ASSERT_EQ(SQLAllocEnv(&henv), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocConnect(henv, &hdbc), SQL_SUCCESS);
  }
  void TearDown() override {
    SQLDisconnect(hdbc);
    SQLFreeConnect(hdbc);
    SQLFreeEnv(henv);
  }

  SQLRETURN driver_connect(const std::string& in, SQLUSMALLINT completion) {
    SQLCHAR out_buffer[1024] = {};
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLDriverConnect(hdbc, kWindow, (SQLCHAR*)in.c_str(), SQL_NTS, out_buffer, sizeof out_buffer,
                                    &length, completion);
    out = reinterpret_cast<char*>(out_buffer);
    return rc;
  }
  std::string error() {
    SQLCHAR state[6] = {}, text[512] = {};
    if (SQLError(SQL_NULL_HENV, hdbc, SQL_NULL_HSTMT, state, nullptr, text, sizeof text, nullptr) != SQL_SUCCESS)
      return "none";
    return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(text);
  }

  static testsupport::OdbcConfig* config;
  static testsupport::HostServer* server;
  SQLHENV henv = SQL_NULL_HENV;
  SQLHDBC hdbc = SQL_NULL_HDBC;
  std::string out;
};
testsupport::OdbcConfig* DriverConnectTest::config = nullptr;
testsupport::HostServer* DriverConnectTest::server = nullptr;

TEST_F(DriverConnectTest, PromptShowsTheDataSourceAndConnectsWithWhatTheUserTyped) {
  DialogScript script(1001, {"snapshot", "type 406 \"   \"", "press 1", "type 406 demo", "press 1", "type 407 demo",
                             "press 1"});
  ASSERT_EQ(driver_connect("DSN=NoLogin", SQL_DRIVER_PROMPT), SQL_SUCCESS) << error() << script.transcript();
  auto c = script.snapshot();
  EXPECT_EQ(c[400].text, "NoLogin");
  EXPECT_TRUE(c[400].enabled);  // given in the connection string: not fixed
  EXPECT_EQ(c[403].text, "demo");
  EXPECT_EQ(c[402].text, "TCP/IP");
  EXPECT_EQ(c[404].text, "DEMOHOST");
  // Blank user id, then blank password, refused while the dialog stays open.
  std::string t = script.transcript();
  EXPECT_NE(t.find("focus 406\nselect-all 406"), std::string::npos);
  EXPECT_NE(t.find("focus 407\nselect-all 407"), std::string::npos);
  EXPECT_EQ(out, "DSN=NoLogin;Description=demo;Provider=TCP/IP;Connection=DEMOHOST;"
                 "DataDescriptionFile=quarl/clientconfig;UID=demo;PWD=demo;chargecode=");
}

TEST_F(DriverConnectTest, PromptCancelledOrNotShownConnectsNothing) {
  {
    DialogScript script(1001, {"type 406 DEMO", "type 407 DEMO", "press 2"});
    EXPECT_EQ(driver_connect("DSN=NoLogin", SQL_DRIVER_PROMPT), SQL_NO_DATA);
  }
  // Without a script or a screen the dialog ends as cancelled.
  EXPECT_EQ(driver_connect("DSN=Full", SQL_DRIVER_PROMPT), SQL_NO_DATA);
}

TEST_F(DriverConnectTest, CompleteAsksOnlyForWhatIsMissing) {
  // Everything stored: no dialog (none could be shown anyway).
  ASSERT_EQ(driver_connect("DSN=Full", SQL_DRIVER_COMPLETE), SQL_SUCCESS) << error();
  EXPECT_EQ(SQLDisconnect(hdbc), SQL_SUCCESS);

  // The password is missing: the dialog opens with the rest in place.
  DialogScript script(1001, {"snapshot", "type 407 DEMO", "press 1"});
  ASSERT_EQ(driver_connect("DSN=NoLogin;UID=DEMO", SQL_DRIVER_COMPLETE), SQL_SUCCESS) << error()
                                                                                     << script.transcript();
  auto c = script.snapshot();
  EXPECT_EQ(c[406].text, "DEMO");
  EXPECT_EQ(c[407].text, "");
}

TEST_F(DriverConnectTest, CompleteRequiredFixesWhatHasAValue) {
  DialogScript script(1001, {"snapshot", "type 406 other", "type 407 DEMO", "press 1"});
  ASSERT_EQ(driver_connect("DSN=NoLogin;UID=DEMO", SQL_DRIVER_COMPLETE_REQUIRED), SQL_SUCCESS)
      << error() << script.transcript();
  auto c = script.snapshot();
  for (int id : {400, 401, 403, 405, 406, 413, 402, 404, 408, 411}) EXPECT_FALSE(c[id].enabled) << id;
  EXPECT_TRUE(c[407].enabled);
  EXPECT_NE(script.transcript().find("refused: type 406"), std::string::npos);
}

TEST_F(DriverConnectTest, AWrongPasswordTypedInTheDialogIsRefusedByTheHost) {
  DialogScript script(1001, {"type 406 DEMO", "type 407 wrong", "press 1"});
  EXPECT_EQ(driver_connect("DSN=NoLogin", SQL_DRIVER_PROMPT), SQL_ERROR);
  EXPECT_NE(error(), "none");
}

}  // namespace
