// The "TCP/IP" provider against a small TCP peer in the test.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tellix/tellix.h"
#include "tests/support/test_env.h"

namespace {

// A listening socket on a free loopback port; connections complete through
// the backlog, so a test can connect first and accept afterwards.
class Peer {
 public:
  Peer() { fd_ = testsupport::listen_on_loopback(port_, 64); }
  ~Peer() {
    for (int c : accepted_) ::close(c);
    ::close(fd_);
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  int accept() {
    int c = ::accept(fd_, nullptr, nullptr);
    accepted_.push_back(c);
    return c;
  }

 private:
  int fd_;
  int port_;
  std::vector<int> accepted_;
};

void write_raw(int fd, const std::string& bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
    ASSERT_GT(n, 0);
    at += static_cast<size_t>(n);
  }
}

std::string read_exact(int fd, size_t n) {
  std::string out(n, '\0');
  size_t at = 0;
  while (at < n) {
    ssize_t got = ::read(fd, out.data() + at, n - at);
    if (got <= 0) return out.substr(0, at);
    at += static_cast<size_t>(got);
  }
  return out;
}

std::string frame(const std::string& body) {
  uint32_t n = static_cast<uint32_t>(body.size());
  std::string prefix{static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                     static_cast<char>(n)};
  return prefix + body;
}

class TcpProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QUARL_PROFILE_DIR", dir.path().c_str(), 1);
    index = ShellFindProvider("TCP/IP");
    ASSERT_GE(index, 0);
    ASSERT_EQ(ShellLoadProvider(index, &table), 0);
    ASSERT_EQ(table.open(), 0);
  }
  void TearDown() override {
    table.close();
    ShellUnloadProvider(index);
    ::unsetenv("QUARL_PROFILE_DIR");
  }
  void write_settings(const std::string& text) { testsupport::write_file(dir / "tellix.ini", text); }

  uint8_t connect(const std::string& name) {
    uint8_t handle = 0;
    EXPECT_EQ(table.connect(&handle, name.c_str(), 0), 0) << name;
    EXPECT_NE(handle, 0);
    return handle;
  }
  std::string receive(uint8_t handle, uint8_t timeout = 10) {
    char* data = nullptr;
    uint16_t length = 0;
    uint8_t rc = table.receive(handle, &data, &length, timeout);
    if (rc != 0) return "<rc " + std::to_string(rc) + ">";
    std::string out(data, length);
    table.release(handle);
    return out;
  }

  testsupport::TempDir dir;
  int8_t index = -1;
  ProviderTable table{};
};

TEST_F(TcpProviderTest, FramesTravelBothWaysWhateverTheSegmentation) {
  Peer peer;
  uint8_t h = connect(peer.address());
  int fd = peer.accept();

  ASSERT_EQ(table.send(h, "#@!hello", 8, 5), 0);
  EXPECT_EQ(read_exact(fd, 12), frame("#@!hello"));

  // Two frames in one write, then one frame in three pieces.
  write_raw(fd, frame("first") + frame(""));
  std::string third = frame(std::string(40000, 'x'));
  write_raw(fd, third.substr(0, 2));
  write_raw(fd, third.substr(2, 10));
  write_raw(fd, third.substr(12));
  EXPECT_EQ(receive(h), "first");
  EXPECT_EQ(receive(h), "");
  EXPECT_EQ(receive(h), std::string(40000, 'x'));

  // A lent message stays put until it is released, even with more arriving.
  write_raw(fd, frame("lent") + frame("next"));
  char* data = nullptr;
  uint16_t length = 0;
  ASSERT_EQ(table.receive(h, &data, &length, 5), 0);
  ASSERT_EQ(std::string(data, length), "lent");
  ASSERT_EQ(table.release(h), 0);
  EXPECT_EQ(receive(h), "next");
  EXPECT_EQ(table.disconnect(h), 0);
  EXPECT_NE(table.send(h, "x", 1, 1), 0);  // the handle is gone
}

TEST_F(TcpProviderTest, TimeOutZeroPollsAndATimeOutReportsC) {
  Peer peer;
  uint8_t h = connect(peer.address());
  int fd = peer.accept();
  char* data = nullptr;
  uint16_t length = 0;
  EXPECT_EQ(table.receive(h, &data, &length, 0), TELLIX_TIMEOUT);
  EXPECT_EQ(table.receive(h, &data, &length, 1), TELLIX_TIMEOUT);
  // Half a frame does not make a message, and is kept for later.
  write_raw(fd, frame("abcdef").substr(0, 6));
  EXPECT_EQ(table.receive(h, &data, &length, 1), TELLIX_TIMEOUT);
  write_raw(fd, frame("abcdef").substr(6));
  uint8_t rc;
  while ((rc = table.receive(h, &data, &length, 0)) == TELLIX_TIMEOUT) std::this_thread::yield();
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(std::string(data, length), "abcdef");
  table.release(h);
  table.disconnect(h);
}

TEST_F(TcpProviderTest, BrokenStreamsCloseTheLink) {
  struct Case {
    const char* what;
    std::string bytes;
    bool close_after;
  };
  const Case cases[] = {
      {"oversized frame", std::string("\x00\x01\x00\x00", 4) + "xxxx", false},
      {"garbage length", "GET / HTTP/1.1\r\n\r\n", false},
      {"peer closes mid-frame", frame("abcdef").substr(0, 7), true},
      {"peer closes between frames", "", true},
  };
  for (const auto& c : cases) {
    Peer peer;
    uint8_t h = connect(peer.address());
    int fd = peer.accept();
    write_raw(fd, c.bytes);
    if (c.close_after) ::shutdown(fd, SHUT_WR);
    char* data = nullptr;
    uint16_t length = 0;
    uint8_t rc = table.receive(h, &data, &length, 10);
    EXPECT_NE(rc, 0) << c.what;
    EXPECT_NE(rc, TELLIX_TIMEOUT) << c.what;
    // The link stays closed: no more receiving or sending on it.
    EXPECT_NE(table.receive(h, &data, &length, 0), 0) << c.what;
    EXPECT_NE(table.send(h, "#@!", 3, 1), 0) << c.what;
    EXPECT_EQ(table.disconnect(h), 0) << c.what;
  }
}

TEST_F(TcpProviderTest, OneThreadSendsWhileAnotherWaitsToReceive) {
  Peer peer;
  uint8_t h = connect(peer.address());
  int fd = peer.accept();
  // The owner waits for a reply; a second thread sends meanwhile (a cancel),
  // and the peer answers once the second message has arrived.
  std::string received;
  std::thread waiter([&] { received = receive(h, 30); });
  ASSERT_EQ(table.send(h, "#@!cancel", 9, 5), 0);
  EXPECT_EQ(read_exact(fd, 13), frame("#@!cancel"));
  write_raw(fd, frame("#@!reply"));
  waiter.join();
  EXPECT_EQ(received, "#@!reply");
}

TEST_F(TcpProviderTest, ConnectionNamesComeFromTheSettingsInFileOrder) {
  Peer peer;
  write_settings("[providers]\n[TCP/IP]\nZulu=" + peer.address() + "\nalpha=" + peer.address() +
                 ",4000\nTiny=" + peer.address() + ",100\nHuge=" + peer.address() + ",99999\n; note\nBad=nohost\n");
  char buffer[512];
  ASSERT_EQ(table.list_connections(buffer, sizeof buffer), 0);
  std::vector<std::string> names;
  for (const char* p = buffer; *p; p += std::strlen(p) + 1) names.emplace_back(p);
  EXPECT_EQ(names, (std::vector<std::string>{"Zulu", "alpha", "Tiny", "Huge", "Bad"}));

  char small[12];
  std::memset(small, '#', sizeof small);
  ASSERT_EQ(table.list_connections(small, 10), 0);  // "Zulu\0alpha\0" does not fit in 10
  EXPECT_STREQ(small, "Zulu");
  EXPECT_EQ(small[5], '\0');
  EXPECT_EQ(small[10], '#');

  struct Case {
    const char* name;
    uint16_t size;
  } cases[] = {{"Zulu", 8192}, {"ALPHA", 4000}, {"Tiny", 1810}, {"Huge", 10013}};
  for (auto c : cases) {
    uint8_t h = connect(c.name);
    ProviderInfo info{};
    ASSERT_EQ(table.get_info(h, &info), 0);
    EXPECT_EQ(info.size_b, c.size) << c.name;
    EXPECT_GE(info.size_a, info.size_b);
    table.disconnect(h);
  }
  uint8_t h = 0;
  EXPECT_NE(table.connect(&h, "Bad", 0), 0);
  EXPECT_NE(table.connect(&h, "Unknown", 0), 0);
  EXPECT_NE(table.connect(&h, "127.0.0.1:notaport", 0), 0);
}

TEST_F(TcpProviderTest, HandlesAreUniqueAndConnectionsWorkFromManyThreads) {
  Peer peer;
  constexpr int kCount = 8;
  std::vector<uint8_t> handles;
  std::vector<int> fds;
  for (int i = 0; i < kCount; ++i) {
    handles.push_back(connect(peer.address()));
    fds.push_back(peer.accept());
  }
  EXPECT_EQ(std::set<uint8_t>(handles.begin(), handles.end()).size(), size_t{kCount});
  // Each peer socket echoes what it gets, from its own thread.
  std::vector<std::thread> echo;
  for (int fd : fds)
    echo.emplace_back([fd] {
      for (int i = 0; i < 50; ++i) {
        std::string head = read_exact(fd, 4);
        if (head.size() < 4) return;
        uint32_t n = (uint32_t(uint8_t(head[0])) << 24) | (uint32_t(uint8_t(head[1])) << 16) |
                     (uint32_t(uint8_t(head[2])) << 8) | uint8_t(head[3]);
        write_raw(fd, head + read_exact(fd, n));
      }
    });
  std::vector<std::thread> clients;
  std::vector<int> good(kCount, 0);
  for (int i = 0; i < kCount; ++i)
    clients.emplace_back([&, i] {
      for (int k = 0; k < 50; ++k) {
        std::string body = "conn" + std::to_string(i) + "/" + std::to_string(k);
        if (table.send(handles[i], body.data(), static_cast<uint16_t>(body.size()), 5) != 0) return;
        if (receive(handles[i]) == body) ++good[i];
      }
    });
  for (auto& t : clients) t.join();
  for (auto& t : echo) t.join();
  EXPECT_EQ(good, std::vector<int>(kCount, 50));
  for (uint8_t h : handles) EXPECT_EQ(table.disconnect(h), 0);
}

TEST_F(TcpProviderTest, OpenIsCountedAndTheLastCloseDropsConnections) {
  Peer peer;
  ASSERT_EQ(table.open(), 0);  // a second user of the provider
  uint8_t h = connect(peer.address());
  int fd = peer.accept();
  ASSERT_EQ(table.close(), 0);  // one user left: the connection stays
  EXPECT_EQ(table.send(h, "#@!", 3, 1), 0);
  EXPECT_EQ(read_exact(fd, 7).substr(4), "#@!");
  ASSERT_EQ(table.close(), 0);  // the last: connections go
  EXPECT_NE(table.send(h, "#@!", 3, 1), 0);
  EXPECT_EQ(read_exact(fd, 1), "");  // the peer sees the end of the stream
  uint8_t other = 0;
  EXPECT_NE(table.connect(&other, peer.address().c_str(), 0), 0);  // not open
  ASSERT_EQ(table.open(), 0);                                       // for TearDown
}

TEST_F(TcpProviderTest, ConnectFailsWhenNobodyListens) {
  int port;
  {
    Peer gone;
    port = std::stoi(gone.address().substr(10));
  }
  uint8_t h = 0;
  EXPECT_NE(table.connect(&h, ("127.0.0.1:" + std::to_string(port)).c_str(), 0), 0);
}

}  // namespace
