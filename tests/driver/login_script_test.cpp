// Login scripts run over the raw provider link at connect and disconnect.
#include <gtest/gtest.h>

#include "driver/core/link.h"
#include "driver/core/subconn.h"
#include "tests/driver/driver_fixture.h"

namespace drivertest {
namespace {

using namespace quarl::driver;

class LoginScriptTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    trace = config.dir() / "script-trace.txt";
    auto s = settings();
    s.script_trace = 1;
    std::snprintf(s.script_tracefile, sizeof s.script_tracefile, "%s", trace.c_str());
    set_settings(s);
  }
  // Names the script for provider "Scripted" and connection HOST1 in quarl.ini.
  void use_script(const std::string& text, const std::string& key = "Scripted_HOST1_scriptfile") {
    auto path = config.dir() / "login.scr";
    testsupport::write_file(path, text);
    testsupport::write_file(config.profile_dir() / "quarl.ini", "[script]\n" + key + "=" + path.string() + "\n");
  }
  // What the script sent: the raw (non-HostMessage) sends with their time-outs.
  std::vector<std::string> raw_sends() {
    std::vector<std::string> out;
    for (auto& s : scripted::sent())
      if (!is_host_message(s.bytes)) out.push_back(s.bytes + "@" + std::to_string(s.timeout));
    return out;
  }
  std::filesystem::path trace;
};

TEST_F(LoginScriptTest, ConnectSectionTalksThroughBeforeTheVersionRequest) {
  use_script(
      "[Connect] anything here\r\n"
      "send \"#USERID\"\r\n"
      "receive \"Password:\"\r\n"
      "SEND=\"#Password#x\"\r\n"
      "timeout 30\r\n"
      "receive \"never\"\r\n"
      "receive \"skipped\"\r\n"
      "send \"again\"\r\n"
      "receive\r\n"
      "[disconnect]\r\n"
      "send \"bye #userid#password\"\r\n");
  scripted::queue_message("login: banner");
  scripted::queue_message("xxPassword: ");
  raw_answer = [](const std::string& bytes) {
    return bytes == "again" ? Reply{{scripted::Incoming::Message, "anything"}} : Reply{};
  };
  auto& conn = connected();
  EXPECT_EQ(raw_sends(), (std::vector<std::string>{"demo@10", "secret#x@10", "again@30"}));
  // The script ran before any HostMessage.
  EXPECT_FALSE(is_host_message(scripted::sent()[0].bytes));
  ASSERT_EQ(sql_disconnect(conn), SQL_SUCCESS);
  EXPECT_EQ(raw_sends().back(), "bye @10");  // no user id or password in the disconnect section
  auto calls = scripted::calls();
  auto bye = std::find(calls.rbegin(), calls.rend(), "send");
  EXPECT_EQ(*(bye - 1), "receive 0");  // the host's leftovers are drained, then the link goes
  EXPECT_EQ(calls.back(), "unload");

  std::string text = testsupport::read_file(trace);
  for (const char* line : {"read quarl.ini file for Scripted_HOST1_scriptfile\r\n", "insert userid=demo\r\n",
                           "insert password=********\r\n", "send len=8 text=********#x\r\n",
                           "receive len=9 ->Password:<-\r\n", "received login: banner\r\n", "receive matched!\r\n",
                           "timeout set to 30\r\n", "receive timed out\r\n", "previous timed out, skip this receive\r\n",
                           "match anything\r\n", "after processing CONNECT ret=0\r\n",
                           "processing script disconnect\r\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
  EXPECT_EQ(text.find("secret"), std::string::npos);  // the password never reaches the trace
}

TEST_F(LoginScriptTest, TimeoutValuesAndBlankLinesEndingTheSection) {
  use_script(
      "[connect]\n"
      "timeout 30\n"
      "send \"a\"\n"
      "TIMEOUT=5\n"
      "send \"b\"\n"
      "timeout 300\n"
      "send \"c\"\n"
      "timeout none\n"
      "send \"d\"\n"
      "send without quotes\n"
      "\n"
      "send \"after the blank line\"\n",
      "Scripted_scriptfile");
  auto& conn = connected();
  EXPECT_EQ(raw_sends(), (std::vector<std::string>{"a@30", "b@5", "c@44", "d@44"}));
  scripted::clear_log();
  ASSERT_EQ(sql_disconnect(conn), SQL_SUCCESS);
  EXPECT_TRUE(raw_sends().empty());
  EXPECT_NE(testsupport::read_file(trace).find("no disconnect\r\n"), std::string::npos);
}

TEST_F(LoginScriptTest, NoScriptRunsNothing) {
  auto& conn = connected();
  EXPECT_TRUE(raw_sends().empty());
  std::string text = testsupport::read_file(trace);
  EXPECT_NE(text.find("No script file for path specified"), std::string::npos);
  EXPECT_NE(text.find("No script file for provider specified"), std::string::npos);
  sql_disconnect(conn);
}

TEST_F(LoginScriptTest, FailuresMakeTheConnectFailAndCloseTheProvider) {
  struct Case {
    std::string script;
    std::string fail;
    std::string diagnostic;
    uint16_t message_size = 8192;
  } cases[] = {
      {"", "", "Cannot open script file"},  // named but missing
      {"[connect]\nreceive \"x\"\n", "receive", "receive error in script"},
      {"[connect]\nsend \"x\"\n", "send", "Transmit error in script connect"},
      {"[connect]\nsend \"#userid and more text\"\n", "", "Script send text too long for the link", 16},
  };
  for (auto& c : cases) {
    scripted::reset();
    scripted::set_responder([this](const std::string& bytes) { return respond(bytes); });
    if (c.script.empty()) {
      use_script("");
      std::filesystem::remove(config.dir() / "login.scr");
    } else {
      use_script(c.script);
    }
    if (!c.fail.empty()) scripted::fail(c.fail);
    scripted::set_info(c.message_size, c.message_size);
    auto& conn = new_conn();
    EXPECT_EQ(driver_connect(conn, "UID=demo;PWD=x;Provider=Scripted;Connection=HOST1"), SQL_ERROR);
    EXPECT_EQ(take_all(conn.errors), std::vector<std::string>{"08001 " + prefixed(c.diagnostic)});
    EXPECT_EQ(scripted::open_count(), 0) << c.diagnostic;
    EXPECT_EQ(link_count(), 0u);
    EXPECT_EQ(sub_ids_in_use(), 0);
    auto calls = scripted::calls();
    EXPECT_EQ(calls.back(), "unload");
  }
}

}  // namespace
}  // namespace drivertest
