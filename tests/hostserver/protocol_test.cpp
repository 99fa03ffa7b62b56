// quarl-hostserver as a process, driven over real sockets: version, login,
// statement allocation, and what hostile clients send.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>

#include "hostlink/session.h"
#include "tests/hostserver/raw_client.h"
#include "tests/support/test_env.h"

using rawclient::Msg;
using rawclient::RawClient;

namespace {

class ProtocolTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { rawclient::use_own_build(); }
};

TEST_F(ProtocolTest, VersionLoginAllocateAndFree) {
  testsupport::HostServer server;
  RawClient c(server.port());
  Msg version = c.request(0, 0, "", 7);
  EXPECT_EQ(version.type, 0u);
  EXPECT_EQ(version.code, 0u);
  EXPECT_EQ(version.sub_id, 7u);
  ASSERT_GE(version.data.size(), 10u);
  EXPECT_EQ(version.data.substr(0, 1), "0");
  EXPECT_EQ(version.data.substr(6, 3), "021");  // after two and three version digits
  // The clients keep the text up to its first '.'; the offer of long values
  // follows it, where a client that does not know it never reads.
  EXPECT_EQ(version.data.substr(version.data.find('.')), ".+LONG1");

  EXPECT_EQ(c.login("DEMO/DEMO.QUARL/CLIENTCONFIG.", 8192).data, "008192");
  std::set<std::string> ids;
  for (int i = 0; i < 3; ++i) ids.insert(c.alloc());
  EXPECT_EQ(ids.size(), 3u);
  for (const auto& id : ids) EXPECT_EQ(c.request(1, 2, id + "1").data, "0");
  Msg again = c.request(1, 2, *ids.begin() + "1");
  EXPECT_EQ(again.status(), '9');
  EXPECT_EQ(again.error_index(), 3u);

  // Replies carry the host's own sequence characters, never one twice in a row.
  char last = 0;
  for (int i = 0; i < 25; ++i) {
    Msg m = c.request(0, 0, "", static_cast<unsigned>(i % 64));
    EXPECT_NE(m.sequence, last);
    EXPECT_EQ(m.sub_id, static_cast<unsigned>(i % 64));
    last = m.sequence;
  }
  // Logout has no reply; the host ends the link after it.
  c.send(0, 3, "");
  EXPECT_TRUE(c.closed_by_server());
}

TEST_F(ProtocolTest, LoginIsCheckedAndGrantsAtMostWhatWasAsked) {
  testsupport::TempDir dir;
  testsupport::write_file(dir / "users", "# who may log in\nsmith:Pa.ss\nJONES:\n");
  testsupport::HostServer demo;
  testsupport::HostServer file({"--users", (dir / "users").string()});
  struct Case {
    const testsupport::HostServer& server;
    unsigned code;
    std::string text;
    unsigned size;
    std::string reply;  // the whole reply, or the error index after "!"
  } cases[] = {
      {demo, 1, "DEMO/DEMO.QUARL/CLIENTCONFIG.", 4096, "004096"},
      {demo, 1, "DEMO/DEMO/CHARGE.CFG.", 20000, "010013"},  // at most 9999 data bytes
      {demo, 6, "DEMO/DEMO.", 8192, "008192"},              // the RPC library's login
      {demo, 1, "demo/demo.cfg.", 8192, "008192"},          // any case
      {demo, 1, "DEMO/WRONG.CFG.", 8192, "!14"},
      {demo, 6, "NOBODY/DEMO.", 8192, "!14"},
      {demo, 1, "DEMO/DEMO.CFG.", 100, "!3"},  // too small to serve
      {file, 1, "SMITH/PA.SS.CFG.", 8192, "008192"},
      {file, 1, "JONES.CFG.", 8192, "008192"},  // an empty password
      {file, 1, "DEMO/DEMO.CFG.", 8192, "!14"},
  };
  for (auto& t : cases) {
    RawClient c(t.server.port());
    Msg m = c.login(t.text, t.size, t.code);
    if (t.reply[0] == '!') {
      EXPECT_EQ(m.status(), '9') << t.text;
      EXPECT_EQ(std::to_string(m.error_index()), t.reply.substr(1)) << t.text;
      EXPECT_FALSE(m.error_text().empty());
    } else {
      EXPECT_EQ(m.data, t.reply) << t.text;
    }
  }
  RawClient c(demo.port());
  EXPECT_EQ(c.request(1, 1, "1").error_index(), 14u);  // not logged in
  EXPECT_EQ(c.login().status(), '0');
  EXPECT_EQ(c.login().error_index(), 18u);  // already logged in
}

TEST_F(ProtocolTest, HostileInputEndsOnlyItsOwnLink) {
  testsupport::HostServer server;
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"not framed at all", "GET / HTTP/1.0\r\n\r\n"},
      {"oversized frame", std::string("\x00\x01\x00\x00", 4) + std::string(1000, 'x')},
      {"header cut short", std::string("\x00\x00\x00\x05", 4) + "#@!12"},
      {"header fields not digits", std::string("\x00\x00\x00\x0e", 4) + "#@!1ab1001000x"},
  };
  for (auto& t : cases) {
    RawClient bad(server.port());
    RawClient good(server.port());
    bad.send_bytes(t.bytes);
    EXPECT_TRUE(bad.closed_by_server()) << t.what;
    EXPECT_EQ(good.request(0, 0).status(), '0') << t.what;
  }
  // A length field that lies gets an error reply; the link goes on.
  RawClient liar(server.port());
  liar.send_frame("#@!3071000009999abc");
  auto m = liar.receive();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->status(), '9');
  EXPECT_EQ(m->error_index(), 3u);
  EXPECT_EQ(m->sub_id, 7u);
  // Text that is not a HostMessage (a login script's) is passed over.
  liar.send_frame("login: DEMO\r\n");
  EXPECT_EQ(liar.request(0, 0).status(), '0');
  // Half a frame and then nothing: the server goes on serving others.
  RawClient half(server.port());
  half.send_bytes(std::string("\x00\x00\x10\x00", 4) + "#@!");
  EXPECT_EQ(RawClient(server.port()).request(0, 0).status(), '0');
}

TEST_F(ProtocolTest, AClientThatNeverReadsIsCutOff) {
  testsupport::HostServer server;
  RawClient flood(server.port(), 4096);
  std::string burst;
  for (int i = 0; i < 1000; ++i) burst += std::string("\x00\x00\x00\x0e", 4) + "#@!9010000000";
  bool cut = false;
  for (int i = 0; i < 3000 && !cut; ++i) cut = !flood.send_bytes(burst);
  EXPECT_TRUE(cut || flood.closed_by_server());
  EXPECT_EQ(RawClient(server.port()).request(0, 0).status(), '0');
}

TEST_F(ProtocolTest, ClientSlotsWaitingConnectionsAndStatementsAreBounded) {
  testsupport::HostServer server({"--max-clients", "3", "--max-waiting", "8"});
  // Logged-in clients work side by side up to the limit; beyond it a login
  // is refused with a message that says why, and the link is closed.
  std::vector<std::unique_ptr<RawClient>> in;
  for (int i = 0; i < 3; ++i) {
    in.push_back(std::make_unique<RawClient>(server.port()));
    ASSERT_EQ(in.back()->login().status(), '0');
  }
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (auto& c : in)
    threads.emplace_back([&] {
      std::string id = c->alloc();
      auto d = c->exec(id, "SELECT 1");
      if (c->fetch_all(id, d.columns).rows.size() == 1) ++good;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(good, 3);
  RawClient over(server.port());
  Msg busy = over.login();
  EXPECT_EQ(busy.error_index(), 17u);
  EXPECT_NE(busy.error_text().find("busy"), std::string::npos) << busy.error_text();
  EXPECT_TRUE(over.closed_by_server());
  // A slot that is given back is taken again.
  in.pop_back();
  for (int attempt = 0;; ++attempt) {  // until the server has seen that client go
    RawClient again(server.port());
    if (again.login().status() == '0') break;
    ASSERT_LT(attempt, 1000);
  }

  // Connections that do not log in are few: a newcomer takes the place of
  // the oldest, and is served.
  std::vector<std::unique_ptr<RawClient>> waiting;
  for (int i = 0; i < 8; ++i) waiting.push_back(std::make_unique<RawClient>(server.port()));
  RawClient newcomer(server.port());
  EXPECT_EQ(newcomer.request(0, 0).status(), '0');
  EXPECT_TRUE(waiting.front()->closed_by_server());

  // Statements per client are limited too.
  RawClient& c = *in.front();
  for (int i = 0; i < 127; ++i) c.alloc();  // one is held already
  Msg refused = c.request(1, 1, "1");
  EXPECT_EQ(refused.error_index(), 4u);
}

TEST_F(ProtocolTest, TheTcpProviderAndTheSessionLayerReachTheServer) {
  testsupport::HostServer server;
  testsupport::TempDir dir;
  ::setenv("QUARL_PROFILE_DIR", dir.path().c_str(), 1);
  testsupport::write_file(dir / "tellix.ini", "[TCP/IP]\nHOST=" + server.address() + ",4000\n");
  {
    quarl::hostlink::ProviderLink link;
    ASSERT_EQ(link.open("TCP/IP", "HOST"), quarl::hostlink::ProviderStep::None);
    EXPECT_EQ(link.message_size(), 4000);
    quarl::hostlink::HostChannel channel;
    ASSERT_TRUE(channel.attach(link));
    channel.sub_id = 5;
    channel.receive_timeout = 10;
    auto version = quarl::hostlink::exchange_versions(channel, {});
    ASSERT_EQ(version.result, quarl::hostlink::VersionCheck::Ok);
    EXPECT_EQ(version.version.first, 5u);
    auto login = quarl::hostlink::log_in(channel, quarl::hostlink::LoginKind::Database, {"demo", "demo", "", "cfg"}, {});
    ASSERT_EQ(login.result, quarl::hostlink::LoginCheck::Ok);
    EXPECT_EQ(login.granted, 4000u);
    channel.detach();
  }
  ::unsetenv("QUARL_PROFILE_DIR");
}

}  // namespace
