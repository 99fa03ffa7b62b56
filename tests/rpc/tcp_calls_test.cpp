// Transaction-code calls through the exports against a small scripted TCP
// peer that records the exact request bytes and answers with scripted bytes,
// including hostile replies that a real host does not send.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/trancode.h"
#include "tests/rpc/rpc_library.h"
#include "tests/support/test_env.h"

namespace {

using rpctest::padded;

// What the peer does after it has read one request.
struct Reply {
  std::vector<std::string> chunks;  // sent in order, each with its own send
  bool close_after = false;
};

Reply normal_reply(const std::string& data) { return {{quarl::trancode::encode_reply("HEADER", data)}}; }

class ScriptedPeer {
 public:
  ScriptedPeer() {
    listener_ = testsupport::listen_on_loopback(port_, 4);
    thread_ = std::thread([this] { serve(); });
  }
  ~ScriptedPeer() {
    stopping_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    if (int c = connection_.load(); c >= 0) ::shutdown(c, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }

  int port() const { return port_; }
  void script(Reply reply) {
    std::lock_guard lock(mutex_);
    replies_.push_back(std::move(reply));
  }
  std::vector<std::string> requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  static bool read_exact(int fd, char* data, size_t size) {
    while (size > 0) {
      ssize_t n = ::read(fd, data, size);
      if (n <= 0) return false;
      data += n;
      size -= size_t(n);
    }
    return true;
  }

  void serve() {
    while (!stopping_) {
      int c = ::accept(listener_, nullptr, nullptr);
      if (c < 0) return;
      int one = 1;
      ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      connection_ = c;
      for (bool open = true; open;) {
        char length[6];
        if (!read_exact(c, length, 6)) break;
        std::string request(length, 6);
        request.resize(quarl::trancode::read_length(request.substr(0, 6)));
        if (!read_exact(c, request.data() + 6, request.size() - 6)) break;
        Reply reply;
        {
          std::lock_guard lock(mutex_);
          requests_.push_back(request);
          if (!replies_.empty()) {
            reply = replies_.front();
            replies_.pop_front();
          }
        }
        for (const auto& chunk : reply.chunks) {
          (void)!::write(c, chunk.data(), chunk.size());
          if (reply.chunks.size() > 1) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        open = !reply.close_after;
      }
      connection_ = -1;
      ::close(c);
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<int> connection_{-1};
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::deque<Reply> replies_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

class TcpCalls : public ::testing::Test {
 protected:
  // The session's connection and names are process-wide: leave them clean.
  void TearDown() override { lib.call("Disconnect22", "", 10); }
  std::string ok(const char* name, const std::string& text, int length = 40) {
    std::string out = lib.call(name, text, length);
    EXPECT_NE(out.substr(0, 5), "*****") << name << " '" << text << "' failed: " << lib.error();
    return out;
  }
  std::string fails(const char* name, const std::string& text, int length = 40) {
    EXPECT_EQ(lib.call(name, text, length), padded("*****", size_t(length))) << name << " '" << text << "'";
    return lib.error();
  }
  void connect() {
    ok("Connect22", "127.0.0.1," + std::to_string(peer.port()));
    ok("Trancode22", "ABC");
    ok("LibraryName22", "LIB");
    ok("EntryPoint22", "EP");
  }
  rpctest::RpcLibrary lib;
  ScriptedPeer peer;
};

TEST_F(TcpCalls, ConnectTakesHostAndPortInSeveralForms) {
  std::string port = std::to_string(peer.port());
  for (const std::string& text : {"127.0.0.1," + port, "127.0.0.1 " + port, "  localhost, " + port}) {
    EXPECT_EQ(ok("Connect22", text), padded(text, 40)) << text;  // no output
    ok("Disconnect22", "");
  }
  EXPECT_EQ(fails("Connect22", "127.0.0.1"), "Port number expected");
  EXPECT_EQ(fails("Connect22", "127.0.0.1, port"), "Port number expected");
  EXPECT_EQ(fails("Connect22", "127.0.0.1:" + port), "Port number expected");  // the colon belongs to the host
  ok("Connect22", "127.0.0.1," + port);
  EXPECT_EQ(fails("Connect22", "127.0.0.1," + port), "You are already connected");
  ok("Disconnect22", "");
  EXPECT_EQ(fails("Disconnect22", ""), "You are not connected");
}

TEST_F(TcpCalls, ConnectRefusesWhatItCannotHold) {
  EXPECT_EQ(fails("Connect22", "127.0.0.1,70000"), "Port number 70000 is above 65535");
  EXPECT_EQ(fails("Connect22", "127.0.0.1," + std::string(256, '1'), 300), "Port number has more than 255 digits");
  EXPECT_EQ(fails("Connect22", std::string(252, 'h') + ",2001", 300), "Host name has more than 251 characters");
  // Nothing listens on a port that was just released.
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(s);
  EXPECT_EQ(fails("Connect22", "127.0.0.1," + std::to_string(ntohs(addr.sin_port))), "Cannot connect (111)");
  EXPECT_EQ(fails("ExeCall22", "data"), "You are not connected");
}

TEST_F(TcpCalls, RequestBytesAndReplyData) {
  connect();
  peer.script(normal_reply("world"));
  EXPECT_EQ(ok("ExeCall22", "HELLO", 20), padded("world", 20));
  // A blank code is refused and the earlier one stays; names go as given.
  EXPECT_EQ(fails("Trancode22", "    "), "You must specify a trancode");
  // Names longer than their fields would call another program: refused, the earlier ones stay.
  EXPECT_EQ(fails("Trancode22", "BALANCE"), "Transaction code BALANCE has more than 6 characters");
  EXPECT_EQ(fails("LibraryName22", std::string(51, 'L'), 60),
            "Library name " + std::string(51, 'L') + " has more than 50 characters");
  EXPECT_EQ(fails("EntryPoint22", std::string(51, 'E'), 60),
            "Entry point name " + std::string(51, 'E') + " has more than 50 characters");
  ok("LibraryName22", "obj/dec/Lib, 2");
  peer.script(normal_reply(std::string(30, 'r')));
  EXPECT_EQ(ok("ExeCall22", "", 10), std::string(10, 'r'));  // cut to the caller's length
  peer.script(normal_reply(""));
  EXPECT_EQ(ok("ExeCall22", std::string(12000, 'x'), 12000), std::string(12000, ' '));
  peer.script(normal_reply(std::string(10111, 'm')));  // the most the transfer buffer takes
  EXPECT_EQ(ok("ExeCall22", "", 10111), std::string(10111, 'm'));

  auto requests = peer.requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0], "000117ABC   LIB" + std::string(47, ' ') + "EP" + std::string(48, ' ') + "HELLO");
  EXPECT_EQ(requests[1], "000112ABC   obj/dec/Lib, 2" + std::string(36, ' ') + "EP" + std::string(48, ' '));
  EXPECT_EQ(requests[2].size(), 10111u);  // only the first 9999 bytes of the text
  EXPECT_EQ(requests[2].substr(0, 6), "010111");
  EXPECT_EQ(requests[2].substr(112), std::string(9999, 'x'));
}

TEST_F(TcpCalls, FailureReplyGivesItsMessage) {
  connect();
  peer.script(normal_reply("*****No such account 42"));
  EXPECT_EQ(fails("ExeCall22", "ACCOUNT 42", 30), "No such account 42");
  peer.script(normal_reply("after"));
  EXPECT_EQ(ok("ExeCall22", "x", 8), "after   ");  // the connection stays usable
}

TEST_F(TcpCalls, HostileReplies) {
  const std::string header(106, 'h');
  struct Case {
    const char* what;
    Reply reply;
    std::string message;
  };
  const Case cases[] = {
      {"short length header", {{"000"}, true}, "Error on receive of length header"},
      {"no reply at all", {{}, true}, "Error on receive of length header"},
      {"length below the header", {{"000050" + std::string(44, 'x')}, true}, "Short message received from host"},
      {"length that is no number", {{"abcdef" + header}, true}, "Short message received from host"},
      {"header cut short", {{"000200" + header.substr(0, 50)}, true}, "Error on receive of header"},
      {"data cut short", {{"000200" + header + "0123456789"}, true}, "Error on receive of data"},
  };
  for (const auto& c : cases) {
    connect();
    peer.script(c.reply);
    EXPECT_EQ(fails("ExeCall22", "x"), c.message) << c.what;
    ok("Disconnect22", "");
  }
}

TEST_F(TcpCalls, APeerThatClosedGivesErrorsNotSignals) {
  connect();
  peer.script({{}, true});
  EXPECT_EQ(fails("ExeCall22", "x"), "Error on receive of length header");
  // The send now meets a closed connection: a failure, not SIGPIPE.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(fails("ExeCall22", "x"), "Error on receive of length header");
  ok("Disconnect22", "");
}

TEST_F(TcpCalls, OversizedReplyIsDiscardedAndTheConnectionStaysUsable) {
  connect();
  peer.script(normal_reply(std::string(20000, 'z')));
  EXPECT_EQ(fails("ExeCall22", "x"),
            "Reply data of 20000 bytes exceeds the 10111-byte transfer buffer; the reply was discarded");
  peer.script(normal_reply("fine"));
  EXPECT_EQ(ok("ExeCall22", "x", 6), "fine  ");
}

TEST_F(TcpCalls, LengthHeaderMayArriveInPieces) {
  connect();
  std::string reply = quarl::trancode::encode_reply("H", "pieces");
  peer.script({{reply.substr(0, 3), reply.substr(3)}});
  EXPECT_EQ(ok("ExeCall22", "x", 8), "pieces  ");
}

TEST_F(TcpCalls, ASilentOrStalledHostEndsTheCallAtTheTransactionTime) {
  testsupport::TempDir profile;
  ::setenv("QUARL_PROFILE_DIR", profile.path().c_str(), 1);
  {
    std::ofstream ini(profile / "quarl.ini");
    ini << "[rpc]\ntransaction seconds=1\n";
  }
  std::string whole = quarl::trancode::encode_reply("HEADER", "late");
  // No reply at all; a length header alone; a reply that stops in its data.
  for (const std::string& sent : {std::string(), whole.substr(0, 6), whole.substr(0, whole.size() - 2)}) {
    connect();
    if (!sent.empty()) peer.script({{sent}});
    EXPECT_EQ(fails("ExeCall22", "x", 80), "No reply from host within 1 second; the connection is closed") << sent;
    // A late reply cannot answer the next call.
    EXPECT_EQ(fails("ExeCall22", "x"), "You are not connected");
  }
  ::unsetenv("QUARL_PROFILE_DIR");
}

TEST_F(TcpCalls, CallNeedsAConnectionThenACode) {
  // Codes and names live as long as the session: use a fresh process.
  std::string client = testsupport::bin_path("quarl_rpc_test_client").string();
  auto unconnected = testsupport::run_command("'" + client + "' ExeCall22:10:x");
  EXPECT_NE(unconnected.output.find("ExeCall22: You are not connected"), std::string::npos) << unconnected.output;
  auto no_code = testsupport::run_command("'" + client + "' Connect22:40:127.0.0.1," + std::to_string(peer.port()) +
                                          " ExeCall22:10:x");
  EXPECT_EQ(no_code.status, 1);
  EXPECT_NE(no_code.output.find("ExeCall22: You must specify a trancode before making a call"), std::string::npos)
      << no_code.output;
  EXPECT_TRUE(peer.requests().empty());
}

}  // namespace
