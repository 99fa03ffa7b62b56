// The setup dialog and the driver's message boxes on a real X server, used
// from the keyboard as a person would: SQLConfigDataSource with a window
// adds and renames data sources through unixODBC, SQLDriverConnect prompts
// and connects to a real quarl-hostserver, and an unwritable trace file is
// reported in a message box.
#include <gtest/gtest.h>

#include <string>

#include "common/scramble.h"
#include "tests/desktop/x_session.h"
#include "tests/support/test_env.h"

namespace {

using xtest::Program;

std::string client() { return testsupport::bin_path("quarl_odbc_dialog_client").string(); }

const char* const kSetupTitle = "^Quarl ODBC Setup$";

class SetupScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    // Listed in the order DEMOHOST, OTHER (each goes to the top).
    config.add_tcp_connection("OTHER", "127.0.0.1:1");
    config.add_tcp_connection("DEMOHOST", server.address());
  }
  std::string odbc_ini() { return testsupport::read_file(config.odbc_ini()); }

  testsupport::OdbcConfig config;
  testsupport::HostServer server;
  xtest::XServer x;
};

TEST_F(SetupScreen, AddingADataSourceByKeyboardWritesItAndItConnects) {
  Program add({client(), "config-dsn", "add", ""});
  std::string w = xtest::wait_for_window(kSetupTitle, &add);
  ASSERT_FALSE(w.empty()) << add.output();
  xtest::screenshot(w, "setup-dialog-add");
  // The focus starts in the data source name; Tab follows the template's order:
  // description, client configuration, user id, password, charge code,
  // provider, (Configure is disabled), connection name, OK.
  xtest::type(w, "Sales");
  xtest::keys(w, "Tab");
  xtest::type(w, "Sales figures;2024");
  xtest::keys(w, "Tab Tab");
  xtest::type(w, "demo");
  xtest::keys(w, "Tab");
  xtest::type(w, "demo;x");
  xtest::keys(w, "Tab Tab Tab Down Down Up");  // the second connection name, then the first
  xtest::screenshot(w, "setup-dialog-filled");
  xtest::keys(w, "Return");
  ASSERT_EQ(add.wait(), 0) << add.output();
  EXPECT_NE(add.output().find("result 1"), std::string::npos) << add.output();

  std::string ini = odbc_ini();
  EXPECT_NE(ini.find("[Sales]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Description=Sales figures 2024\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Provider=TCP/IP\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Connection=DEMOHOST\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("UID=demo\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("PWD=" + quarl::scramble("demo;x") + "\n"), std::string::npos) << ini;

  // The data source works for a real client; the password is wrong on
  // purpose for the Host Server, so log in with the right one.
  auto query = testsupport::run_command("isql -b -v Sales DEMO DEMO", "select 1+1\n");
  EXPECT_EQ(query.status, 0) << query.output;
  EXPECT_NE(query.output.find("2"), std::string::npos) << query.output;
}

TEST_F(SetupScreen, AnEmptyNameKeepsOkDisabledAndRenamingMovesTheDataSource) {
  config.add_dsn("Old", {{"Description", "kept"}, {"Provider", "TCP/IP"}, {"Connection", "DEMOHOST"}});
  Program change({client(), "config-dsn", "config", "DSN=Old"});
  std::string w = xtest::wait_for_window(kSetupTitle, &change);
  ASSERT_FALSE(w.empty()) << change.output();
  // Emptied, the name disables OK: Enter only beeps and the dialog stays.
  xtest::keys(w, "ctrl+a BackSpace Return");
  xtest::type(w, "New");
  xtest::keys(w, "Return");
  ASSERT_EQ(change.wait(), 0) << change.output();
  EXPECT_NE(change.output().find("result 1"), std::string::npos) << change.output();
  std::string ini = odbc_ini();
  EXPECT_EQ(ini.find("[Old]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("[New]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Description=kept"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Connection=DEMOHOST"), std::string::npos) << ini;
}

TEST_F(SetupScreen, EscapeCancelsAndNothingIsWritten) {
  Program add({client(), "config-dsn", "add", ""});
  std::string w = xtest::wait_for_window(kSetupTitle, &add);
  ASSERT_FALSE(w.empty()) << add.output();
  xtest::type(w, "Never");
  xtest::keys(w, "Escape");
  ASSERT_EQ(add.wait(), 0) << add.output();
  EXPECT_NE(add.output().find("result 0"), std::string::npos) << add.output();
  EXPECT_EQ(odbc_ini().find("Never"), std::string::npos);
}

TEST_F(SetupScreen, ANameTheInstallerRefusesIsReportedInAMessageBox) {
  Program add({client(), "config-dsn", "add", ""});
  std::string w = xtest::wait_for_window(kSetupTitle, &add);
  ASSERT_FALSE(w.empty()) << add.output();
  xtest::type(w, "a[b");
  xtest::keys(w, "Return");
  std::string box = xtest::wait_for_window("^Quarl ODBC Driver Setup$", &add);
  ASSERT_FALSE(box.empty()) << add.output();
  xtest::screenshot(box, "setup-bad-name-message");
  xtest::keys(box, "Return");
  ASSERT_EQ(add.wait(), 0) << add.output();
  EXPECT_NE(add.output().find("result 0"), std::string::npos) << add.output();
  EXPECT_EQ(odbc_ini().find("a[b"), std::string::npos);
}

TEST_F(SetupScreen, DriverConnectPromptsRefusesABlankUserIdAndConnects) {
  config.add_dsn("NoLogin", {{"Provider", "TCP/IP"}, {"Connection", "DEMOHOST"}});
  Program connect({client(), "driver-connect", "DSN=NoLogin"});
  std::string w = xtest::wait_for_window(kSetupTitle, &connect);
  ASSERT_FALSE(w.empty()) << connect.output();
  xtest::screenshot(w, "driver-connect-prompt");
  // OK with a blank user id is refused and the focus goes to the user id.
  xtest::keys(w, "Return");
  xtest::type(w, "demo");
  xtest::keys(w, "Tab");
  xtest::type(w, "demo");
  xtest::keys(w, "Return");
  ASSERT_EQ(connect.wait(), 0) << connect.output();
  std::string out = connect.output();
  EXPECT_NE(out.find("rc 0\n"), std::string::npos) << out;
  EXPECT_NE(out.find("UID=demo"), std::string::npos) << out;
  EXPECT_NE(out.find("value 2"), std::string::npos) << out;
}

TEST_F(SetupScreen, DriverConnectPromptCancelledIsNoData) {
  config.add_dsn("NoLogin", {{"Provider", "TCP/IP"}, {"Connection", "DEMOHOST"}});
  Program connect({client(), "driver-connect", "DSN=NoLogin"});
  std::string w = xtest::wait_for_window(kSetupTitle, &connect);
  ASSERT_FALSE(w.empty()) << connect.output();
  xtest::keys(w, "Escape");
  ASSERT_EQ(connect.wait(), 0) << connect.output();
  EXPECT_NE(connect.output().find("rc 100\n"), std::string::npos) << connect.output();
}

TEST_F(SetupScreen, AnUnwritableTraceFileIsReportedInMessageBoxesAndTheDriverGoesOn) {
  testsupport::write_file(config.profile_dir() / "quarl.ini",
                          "[general]\ntrace=1\ntracefile=" + (config.dir() / "missing" / "t.txt").string() + "\n");
  config.add_dsn("Full", {{"Provider", "TCP/IP"}, {"Connection", "DEMOHOST"}, {"UID", "DEMO"},
                          {"PWD", quarl::scramble("DEMO")}});
  Program isql({"isql", "-b", "Full"});
  int boxes = 0;
  // One box for each trace line; each is answered until the client has ended.
  for (std::string box; !(box = xtest::wait_for_window("^Error$", &isql)).empty(); ++boxes) {
    if (boxes == 0) xtest::screenshot(box, "driver-trace-message");
    xtest::keys(box, "Return");
    ASSERT_TRUE(xtest::wait_until_gone(box));
  }
  EXPECT_EQ(isql.wait(), 0) << isql.output();
  EXPECT_GT(boxes, 0);
}

}  // namespace
