// The host link against the scripted provider: exact bytes of requests,
// filtering of received messages, version check, login, sub ids, statement
// allocation and freeing.
#include <gtest/gtest.h>

#include <optional>

#include "driver/core/link.h"
#include "driver/core/statement.h"
#include "driver/core/subconn.h"
#include "tests/driver/driver_fixture.h"

namespace drivertest {
namespace {

using namespace quarl::driver;

class HostLinkTest : public DriverTest {
 protected:
  void TearDown() override {
    DriverTest::TearDown();
    // Nothing may stay behind: no sub id, no provider link, no open provider.
    EXPECT_EQ(sub_ids_in_use(), 0);
    EXPECT_EQ(link_count(), 0u);
    EXPECT_EQ(scripted::open_count(), 0);
  }
  StmtBlock* alloc(ConnBlock& conn) {
    SQLHSTMT h = nullptr;
    if (alloc_stmt(conn, &h) != SQL_SUCCESS) return nullptr;
    return find_stmt(h);
  }
};

TEST_F(HostLinkTest, ConnectSendsVersionAndLoginThenSequenceGoesRoundTheDigits) {
  auto& conn = connected();
  for (int i = 0; i < 9; ++i) ASSERT_NE(alloc(conn), nullptr);
  auto sent = requests();
  ASSERT_EQ(sent.size(), 11u);
  std::string sequences;
  for (auto& r : sent) sequences += r.sequence;
  EXPECT_EQ(sequences, "90123456789");
  EXPECT_EQ(scripted::sent()[0].bytes, "#@!90100000000");  // version request, sub id 1
  EXPECT_EQ(sent[1].type, 0u);
  EXPECT_EQ(sent[1].code, 1u);
  EXPECT_EQ(sent[1].data, "108192DEMO/SECRET.QUARL/CLIENTCONFIG.");
  EXPECT_EQ(sent[1].length, sent[1].data.size());
  EXPECT_EQ(scripted::sent()[0].timeout, 60);  // "xmt" default
  EXPECT_STREQ(conn.host_version, "Quarl Host Server");  // up to ".", at most 17 characters
  EXPECT_EQ(conn.protocol_version, 21);
  // The granted message size replaces the provider's.
  EXPECT_EQ(conn.channel.message_size(), 4096u);
}

TEST_F(HostLinkTest, LoginData) {
  struct Case {
    std::string connect;
    std::string login;
  } cases[] = {
      {"UID=Demo;PWD=pw;chargecode=acct9", "DEMO/PW/ACCT9.QUARL/CLIENTCONFIG."},
      {"UID=demo;PWD=.hidden", "DEMO.QUARL/CLIENTCONFIG."},
      {"UID=demo;PWD=.;chargecode=c1", "DEMO/C1.QUARL/CLIENTCONFIG."},
      {"UID=demo;PWD=x;DataDescriptionFile=my/cfg", "DEMO/X.MY/CFG."},
  };
  for (auto& c : cases) {
    scripted::clear_log();
    auto& conn = new_conn();
    ASSERT_EQ(driver_connect(conn, c.connect + ";Provider=Scripted;Connection=HOST1"), SQL_SUCCESS) << c.connect;
    EXPECT_EQ(requests().at(1).data, "108192" + c.login) << c.connect;
    EXPECT_EQ(sql_disconnect(conn), SQL_SUCCESS);
    free_connect(conn);
  }
}

TEST_F(HostLinkTest, DisconnectDropsStatementsLogsOutAndClosesTheProvider) {
  auto& conn = connected();
  ASSERT_NE(alloc(conn), nullptr);
  scripted::clear_log();
  EXPECT_EQ(sql_disconnect(conn), SQL_SUCCESS);
  auto sent = requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].code, 2u);  // free statement, SQL_DROP
  EXPECT_EQ(sent[0].data, "00071");
  EXPECT_EQ(sent[1].type, 0u);  // logout, no reply awaited
  EXPECT_EQ(sent[1].code, 3u);
  auto calls = scripted::calls();
  EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()),
            (std::vector<std::string>{"disconnect", "close", "unload"}));
  EXPECT_FALSE(conn.connected());
  EXPECT_EQ(sql_disconnect(conn), SQL_SUCCESS);  // not connected: nothing to do
}

TEST_F(HostLinkTest, ReceivedMessagesAreFiltered) {
  auto& conn = connected();
  answers[{1, 1}] = [](const Request&) {
    auto ok = scripted::reply_seq('5', 1, 1, "00042");
    return Reply{{scripted::Incoming::Message, "\r\n\x1bRx03abc"},      // only control bytes: skipped
                 {scripted::Incoming::Message, "junk"},                 // not from the host: skipped
                 {scripted::Incoming::Message, scripted::reply_seq('4', 1, 14, "x")},  // consumed
                 {scripted::Incoming::Message, "\r\n\x1bRx03abc" + ok}, // accepted
                 {scripted::Incoming::Message, ok}};                    // a repeat: dropped
  };
  StmtBlock* stmt = alloc(conn);
  ASSERT_NE(stmt, nullptr);
  EXPECT_EQ(stmt->host_id, 42);
  answers.erase({1, 1});
  stmt = alloc(conn);  // the repeat is dropped; the next reply is this one's
  ASSERT_NE(stmt, nullptr);
  EXPECT_EQ(stmt->host_id, next_statement_id - 1);
}

TEST_F(HostLinkTest, ForeignMessagesAreErrorsWithNonhostmsgerr) {
  auto& conn = connected();
  answers[{1, 1}] = [](const Request&) {
    return Reply{{scripted::Incoming::Message, "junk"}, {scripted::Incoming::Message, scripted::reply(1, 1, "00003")}};
  };
  auto s = settings();
  s.nonhostmsgerr = 1;
  set_settings(s);
  EXPECT_EQ(alloc(conn), nullptr);
  EXPECT_EQ(take_all(conn.errors), (std::vector<std::string>{"08S01 " + prefixed("Non Quarl message received from host->junk"),
                                                             "08S01 " + prefixed("Communication link failure")}));
  s.nonhostmsgerr = 0;
  set_settings(s);
  ASSERT_NE(alloc(conn), nullptr);  // skips the junk of the next reply
}

TEST_F(HostLinkTest, TimeoutsAndReceiveErrors) {
  auto& conn = connected();
  answers[{1, 1}] = [](const Request&) { return Reply{{scripted::Incoming::Timeout, {}}}; };
  EXPECT_EQ(alloc(conn), nullptr);
  EXPECT_EQ(take_all(conn.errors), (std::vector<std::string>{"08S01 " + prefixed("Timeout waiting for host message"),
                                                             "08S01 " + prefixed("Communication link failure")}));
  EXPECT_EQ(conn.channel.receive_timeout, 10);  // later receives wait less
  answers[{1, 1}] = [](const Request&) { return Reply{{scripted::Incoming::Error, {}}}; };
  EXPECT_EQ(alloc(conn), nullptr);
  EXPECT_EQ(take_all(conn.errors).at(0), "08S01 " + prefixed("Error waiting for host message"));
  scripted::clear_log();
  scripted::fail("send");
  EXPECT_EQ(alloc(conn), nullptr);
  EXPECT_EQ(take_all(conn.errors).at(0), "08S01 " + prefixed("Transmit error in send_host_msg"));
  scripted::fail("send", 0);
}

TEST_F(HostLinkTest, VersionMismatchFailsAndReleasesEverything) {
  answers[{0, 0}] = [](const Request&) { return message(0, 0, "005001020Old."); };
  auto& conn = new_conn();
  EXPECT_EQ(driver_connect(conn, "UID=demo;PWD=x;Provider=Scripted;Connection=HOST1"), SQL_ERROR);
  EXPECT_EQ(take_all(conn.errors),
            (std::vector<std::string>{"S1000 " + prefixed("Host(20)/Micro(21) protocol version mismatch"),
                                      "S1000 " + prefixed("Cannot determine version of host software")}));
  EXPECT_FALSE(conn.connected());
}

TEST_F(HostLinkTest, RefusedLoginFailsWithTheHostsItemsAndReleasesEverything) {
  for (std::string status : {"2", "1"}) {
    answers[{0, 1}] = [&](const Request&) { return message(0, 1, status + "00140014Wrong password0000"); };
    auto& conn = new_conn();
    // Not connected, so never reported as any kind of success.
    EXPECT_EQ(driver_connect(conn, "UID=demo;PWD=x;Provider=Scripted;Connection=HOST1"), SQL_ERROR);
    EXPECT_EQ(take_all(conn.errors), std::vector<std::string>{"28000 Wrong password"});
    EXPECT_FALSE(conn.connected());
    EXPECT_EQ(sub_ids_in_use(), 0);
  }
}

TEST_F(HostLinkTest, EveryFailedVersionOrLoginExplainsItself) {
  const std::string version_failed = "S1000 " + prefixed("Cannot determine version of host software");
  struct Case {
    unsigned code;                       // 0 version, 1 login
    std::optional<std::string> reply;    // none: the host does not answer
    std::vector<std::string> diagnostics;
  } cases[] = {
      {0, "90015" "0004busy" "0000", {"37000 busy", version_failed}},
      {0, "9", {"S1000 " + prefixed("The host server reported a failure without a message"), version_failed}},
      {0, "0050", {"08S01 " + prefixed("Malformed version reply from host server"), version_failed}},
      {0, std::nullopt,
       {"08S01 " + prefixed("Timeout waiting for host message"), "08S01 " + prefixed("Cannot get host server version"),
        version_failed}},
      {1, "5", {"S1000 " + prefixed("The host server reported a failure without a message")}},
      {1, "0", {"08S01 " + prefixed("Cannot Login to host server: malformed reply")}},
      {1, "000010", {"08S01 " + prefixed("Cannot Login to host server: unusable message size")}},
      {1, std::nullopt,
       {"08S01 " + prefixed("Timeout waiting for host message"), "08S01 " + prefixed("Cannot Login to host server")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply.value_or("(no reply)"));
    answers.clear();
    answers[{0, c.code}] = [&](const Request&) { return c.reply ? message(0, c.code, *c.reply) : Reply{}; };
    auto& conn = new_conn();
    EXPECT_EQ(driver_connect(conn, "UID=demo;PWD=x;Provider=Scripted;Connection=HOST1"), SQL_ERROR);
    EXPECT_EQ(take_all(conn.errors), c.diagnostics);
    EXPECT_FALSE(conn.connected());
    EXPECT_EQ(sub_ids_in_use(), 0);
    EXPECT_EQ(scripted::open_count(), 0);
  }
}

TEST_F(HostLinkTest, ProviderFailures) {
  auto& conn = new_conn();
  EXPECT_EQ(driver_connect(conn, "UID=demo;PWD=x;Provider=Nope;Connection=HOST1"), SQL_ERROR);
  EXPECT_EQ(take_all(conn.errors), std::vector<std::string>{"08001 " + prefixed("Invalid communications provider: Nope "
                                                                                 "(providers: TCP/IP, Scripted)")});
  // A provider that tells nothing more than its result code.
  scripted::fail("connect");
  EXPECT_EQ(driver_connect(conn, "UID=demo;PWD=x;Provider=Scripted;Connection=HOST1"), SQL_ERROR);
  EXPECT_EQ(take_all(conn.errors),
            std::vector<std::string>{"08001 " + prefixed("Unable to connect to data source: provider Scripted, "
                                                         "connection HOST1: the provider's connect failed (code 1)")});
  EXPECT_FALSE(conn.connected());
}

TEST_F(HostLinkTest, LongUserIdsAndPasswordsAreRefused) {
  auto& conn = new_conn();
  EXPECT_EQ(driver_connect(conn, "UID=abcdefghijklmnopqrs;PWD=x;Provider=Scripted;Connection=HOST1"), SQL_ERROR);
  EXPECT_EQ(take_all(conn.errors), std::vector<std::string>{"28000 " + prefixed("User id longer than 18 characters")});
  EXPECT_EQ(driver_connect(conn, "UID=demo;PWD=abcdefghijklmnopqrs;Provider=Scripted;Connection=HOST1"), SQL_ERROR);
  EXPECT_EQ(take_all(conn.errors), std::vector<std::string>{"28000 " + prefixed("Password longer than 18 characters")});
  EXPECT_TRUE(scripted::calls().empty());  // refused before the provider is touched
  EXPECT_EQ(driver_connect(conn, "UID=abcdefghijklmnopqr;PWD=abcdefghijklmnopqr;Provider=Scripted;Connection=H"),
            SQL_SUCCESS);
}

TEST_F(HostLinkTest, SecondConnectOnAConnectedHandleIsRefused) {
  auto& conn = connected();
  EXPECT_EQ(driver_connect(conn, "UID=demo;PWD=x;Provider=Scripted;Connection=HOST1"), SQL_ERROR);
  EXPECT_EQ(take_all(conn.errors), std::vector<std::string>{"08002 " + prefixed("Connection is already in use")});
  EXPECT_TRUE(conn.connected());
}

TEST_F(HostLinkTest, SubIdsRunOutAfter63Connections) {
  SQLHENV h2 = nullptr;
  ASSERT_EQ(alloc_env(&h2), SQL_SUCCESS);
  EnvBlock* env2 = find_env(h2);
  std::vector<ConnBlock*> conns;
  for (int i = 0; i < 63; ++i) conns.push_back(&connected());
  EXPECT_EQ(conns.back()->sub->sub_id, 63);
  SQLHDBC hdbc = nullptr;
  ASSERT_EQ(alloc_connect(*env2, &hdbc), SQL_SUCCESS);
  ConnBlock& last = *find_conn(hdbc);
  EXPECT_EQ(driver_connect(last, "UID=demo;PWD=x;Provider=Scripted;Connection=HOST1"), SQL_ERROR);
  EXPECT_EQ(take_all(last.errors),
            (std::vector<std::string>{"08001 " + prefixed("No free sub connections"),
                                      "S1001 " + prefixed("Cannot allocate memory for connection handler structure")}));
  EXPECT_FALSE(last.connected());
  EXPECT_EQ(sql_disconnect(*conns[4]), SQL_SUCCESS);  // sub id 5 comes free
  EXPECT_EQ(driver_connect(last, "UID=demo;PWD=x;Provider=Scripted;Connection=HOST1"), SQL_SUCCESS);
  EXPECT_EQ(last.sub->sub_id, 5);
  sql_disconnect(last);
  free_env(*env2);
}

TEST_F(HostLinkTest, StatementAllocationRequest) {
  auto& a = connected();
  auto& b = connected();
  scripted::clear_log();
  ASSERT_NE(alloc(a), nullptr);
  a.autocommit = 0;
  ASSERT_NE(alloc(b), nullptr);
  ASSERT_NE(alloc(a), nullptr);
  auto sent = requests();
  ASSERT_EQ(sent.size(), 3u);
  // autocommit digit, connection id as four hex digits, name length, name
  std::string app = "DRIVER_UNIT_TEST";  // the test program's name, cut to 16
  EXPECT_EQ(sent[0].data.substr(5), "016" + app);
  EXPECT_EQ(sent[0].data[0], '1');
  EXPECT_EQ(sent[2].data[0], '0');
  EXPECT_EQ(sent[0].data.substr(1, 4), sent[2].data.substr(1, 4));  // stays the same for a connection
  EXPECT_NE(sent[0].data.substr(1, 4), sent[1].data.substr(1, 4));  // differs between connections
  EXPECT_EQ(sent[0].sub_id, 1u);
  EXPECT_EQ(sent[1].sub_id, 2u);
}

TEST_F(HostLinkTest, StatementAllocationFailures) {
  auto& conn = connected();
  // Status "1": no statement, so SQL_ERROR, and the host's items on the connection.
  answers[{1, 1}] = [](const Request&) { return message(1, 1, "100030004warn0000"); };
  SQLHSTMT h = reinterpret_cast<SQLHSTMT>(1);
  EXPECT_EQ(alloc_stmt(conn, &h), SQL_ERROR);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(take_all(conn.errors), std::vector<std::string>{"S1000 warn"});
  answers[{1, 1}] = [](const Request&) { return message(1, 1, "5"); };
  EXPECT_EQ(alloc_stmt(conn, &h), SQL_ERROR);
  EXPECT_EQ(take_all(conn.errors), std::vector<std::string>{"S1000 " + prefixed("Host refused the statement allocation")});
  // An error without items still says something.
  answers[{1, 1}] = [](const Request&) { return message(1, 1, "9"); };
  EXPECT_EQ(alloc_stmt(conn, &h), SQL_ERROR);
  EXPECT_EQ(take_all(conn.errors),
            std::vector<std::string>{"S1000 " + prefixed("The host server reported a failure without a message")});
  answers.clear();
  for (int i = 0; i < 64; ++i) ASSERT_NE(alloc(conn), nullptr);
  EXPECT_EQ(alloc_stmt(conn, &h), SQL_ERROR);
  EXPECT_EQ(take_all(conn.errors), std::vector<std::string>{"S1001 " + prefixed("No free statement handles")});
  // Freeing one makes room again.
  ASSERT_EQ(free_stmt(*conn.statements[10], SQL_DROP), SQL_SUCCESS);
  EXPECT_NE(alloc(conn), nullptr);
  EXPECT_NE(conn.statements[10], nullptr);

  auto& never = new_conn();
  EXPECT_EQ(alloc_stmt(never, &h), SQL_ERROR);
  EXPECT_EQ(take_all(never.errors), std::vector<std::string>{"08003 " + prefixed("Connection not open")});
}

TEST_F(HostLinkTest, FreeStatementOptions) {
  auto& conn = connected();
  StmtBlock* stmt = alloc(conn);
  ASSERT_NE(stmt, nullptr);
  stmt->result.columns.resize(2);
  stmt->result.column_count = 2;
  int buffer = 0;
  stmt->result.columns[0].bound_buffer = &buffer;
  stmt->params.resize(3);
  stmt->highest_bound_param = 3;
  scripted::clear_log();
  EXPECT_EQ(free_stmt(*stmt, SQL_CLOSE), SQL_SUCCESS);
  EXPECT_EQ(stmt->result.columns[0].bound_buffer, &buffer);
  EXPECT_EQ(free_stmt(*stmt, SQL_UNBIND), SQL_SUCCESS);
  EXPECT_EQ(stmt->result.columns[0].bound_buffer, nullptr);
  EXPECT_EQ(free_stmt(*stmt, SQL_RESET_PARAMS), SQL_SUCCESS);
  EXPECT_EQ(stmt->highest_bound_param, 0);
  EXPECT_TRUE(stmt->params.empty());
  // A host error on a close is the statement's; on a drop it does not matter.
  answers[{1, 2}] = [](const Request&) { return message(1, 2, "200030006no way0000"); };
  EXPECT_EQ(free_stmt(*stmt, SQL_CLOSE), SQL_ERROR);
  EXPECT_EQ(take_all(stmt->errors), std::vector<std::string>{"S1000 no way"});
  SQLHSTMT h = stmt;
  EXPECT_EQ(free_stmt(*stmt, SQL_DROP), SQL_SUCCESS);
  EXPECT_EQ(find_stmt(h), nullptr);
  std::vector<std::string> data;
  for (auto& r : requests()) data.push_back(std::to_string(r.type) + "/" + std::to_string(r.code) + " " + r.data);
  EXPECT_EQ(data, (std::vector<std::string>{"1/2 00070", "1/2 00072", "1/2 00073", "1/2 00070", "1/2 00071"}));
}

TEST_F(HostLinkTest, FreeStatementCommunicationFailureLandsOnTheStatement) {
  auto& conn = connected();
  StmtBlock* stmt = alloc(conn);
  ASSERT_NE(stmt, nullptr);
  answers[{1, 2}] = [](const Request&) { return Reply{{scripted::Incoming::Error, {}}}; };
  EXPECT_EQ(free_stmt(*stmt, SQL_CLOSE), SQL_ERROR);
  EXPECT_TRUE(conn.errors.empty());
  EXPECT_EQ(take_all(stmt->errors), (std::vector<std::string>{"08S01 " + prefixed("Error waiting for host message"),
                                                               "08S01 " + prefixed("Communication link failure")}));
}

}  // namespace
}  // namespace drivertest
