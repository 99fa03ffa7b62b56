// Every way a connect fails leaves a diagnostic that the driver manager
// returns, and the diagnostic says what went wrong: SQLConnect and
// SQLDriverConnect through unixODBC, against a real quarl-hostserver, a port
// nobody listens on, and a host that turns the client away.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "common/scramble.h"
#include "tests/support/test_env.h"

namespace {

// A listening loopback socket; port() is where it listens.
class Listener {
 public:
  Listener() { fd_ = testsupport::listen_on_loopback(port_, 4); }
  ~Listener() { close(); }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd() const { return fd_; }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A host that answers each of `clients` connections with one framed text
// (not a HostMessage) and closes it, as a server with no room may do.
class RefusingHost {
 public:
  RefusingHost(std::string text, int clients) {
    thread_ = std::thread([this, text, clients] {
      for (int i = 0; i < clients; ++i) {
        int client = ::accept(listener_.fd(), nullptr, nullptr);
        if (client < 0) return;
        unsigned char prefix[4] = {0, 0, static_cast<unsigned char>(text.size() >> 8),
                                   static_cast<unsigned char>(text.size())};
        std::string frame(reinterpret_cast<char*>(prefix), 4);
        frame += text;
        (void)::send(client, frame.data(), frame.size(), MSG_NOSIGNAL);
        ::shutdown(client, SHUT_WR);
        char drain[256];
        while (::recv(client, drain, sizeof drain, 0) > 0) {
        }
        ::close(client);
      }
    });
  }
  ~RefusingHost() {
    ::shutdown(listener_.fd(), SHUT_RDWR);
    thread_.join();
  }
  int port() const { return listener_.port(); }

 private:
  Listener listener_;
  std::thread thread_;
};

class ConnectFailures : public ::testing::Test {
 protected:
  void SetUp() override {
    config.add_tcp_connection("DEMOHOST", server.address());
    config.add_tcp_connection("FULLHOST", full_server.address());
    config.add_dsn("Demo", {{"Provider", "TCP/IP"}, {"Connection", "DEMOHOST"}, {"UID", "DEMO"},
                            {"PWD", quarl::scramble("DEMO")}});
    config.add_dsn("NoPassword", {{"Provider", "TCP/IP"}, {"Connection", "DEMOHOST"}, {"UID", "DEMO"}});
    const std::string pwd = quarl::scramble("DEMO");
    config.add_dsn("BadProvider", {{"Provider", "Nope"}, {"Connection", "DEMOHOST"}, {"UID", "DEMO"}, {"PWD", pwd}});
    config.add_dsn("Unnamed", {{"Provider", "TCP/IP"}, {"Connection", "NOSUCHHOST"}, {"UID", "DEMO"}, {"PWD", pwd}});
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &henv)));
    SQLSetEnvAttr(henv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  }
  void TearDown() override { SQLFreeHandle(SQL_HANDLE_ENV, henv); }

  SQLHDBC new_dbc() {
    SQLHDBC hdbc = SQL_NULL_HDBC;
    EXPECT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, henv, &hdbc)));
    return hdbc;
  }
  static std::string diagnostic(SQLHDBC hdbc) {
    SQLCHAR state[6] = {}, text[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::string all;
    for (SQLSMALLINT i = 1; SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_DBC, hdbc, i, state, &native, text, sizeof text,
                                                        &length));
         ++i)
      all += std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(text) + "\n";
    return all;
  }

  testsupport::OdbcConfig config;
  testsupport::HostServer server;
  testsupport::HostServer full_server{{"--max-clients", "1"}};
  SQLHENV henv = SQL_NULL_HENV;
};

TEST_F(ConnectFailures, EveryFailureSaysWhy) {
  // One client takes the only place of the full server.
  SQLHDBC holder = new_dbc();
  std::string hold = "DRIVER={Quarl};UID=DEMO;PWD=DEMO;Connection=FULLHOST";
  ASSERT_TRUE(SQL_SUCCEEDED(SQLDriverConnect(holder, nullptr, (SQLCHAR*)hold.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                             SQL_DRIVER_NOPROMPT)))
      << diagnostic(holder);
  RefusingHost refusing("Host Server busy: try again later", 1);
  Listener closed;
  const std::string closed_address = "127.0.0.1:" + std::to_string(closed.port());
  closed.close();  // nobody listens there now
  const std::string refusing_address = "127.0.0.1:" + std::to_string(refusing.port());

  struct Case {
    std::string dsn;  // SQLConnect with the stored credentials, unless connect_string is given
    std::string connect_string;
    std::vector<std::string> said;  // fragments of the diagnostics
  } cases[] = {
      {"Demo", "", {}},  // the control: connects
      {"NoPassword", "", {"28000", "no password", "NoPassword"}},
      {"BadProvider", "", {"08001", "Invalid communications provider: Nope", "TCP/IP"}},
      {"Unnamed", "", {"08001", "NOSUCHHOST", "tellix.ini"}},
      {"", "DRIVER={Quarl};UID=DEMO;PWD=DEMO;Connection=" + closed_address,
       {"08001", "TCP/IP", closed_address, "Connection refused"}},
      {"", "DRIVER={Quarl};UID=DEMO;PWD=WRONG;Connection=DEMOHOST", {"28000", "Invalid user id or password"}},
      // A full server answers the login itself: it is busy.
      {"", "DRIVER={Quarl};UID=DEMO;PWD=DEMO;Connection=FULLHOST",
       {"08001", "Host Server busy: all 1 client slots are in use; try again later"}},
      {"", "DRIVER={Quarl};UID=DEMO;PWD=DEMO;Connection=" + refusing_address,
       {"Cannot determine version of host software (the host said: Host Server busy: try again later)"}},
      {"", "DRIVER={Quarl};DATABASE=:memory:", {"28000", "no Provider, Connection, UID, PWD", "DATABASE"}},
      {"", "DSN=NoPassword;UID=;PWD=", {"28000", "no PWD", "NoPassword"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dsn + c.connect_string);
    SQLHDBC hdbc = new_dbc();
    SQLRETURN rc = c.connect_string.empty()
                       ? SQLConnect(hdbc, (SQLCHAR*)c.dsn.c_str(), SQL_NTS, nullptr, 0, nullptr, 0)
                       : SQLDriverConnect(hdbc, nullptr, (SQLCHAR*)c.connect_string.c_str(), SQL_NTS, nullptr, 0,
                                          nullptr, SQL_DRIVER_NOPROMPT);
    std::string said = diagnostic(hdbc);
    if (c.said.empty()) {
      EXPECT_TRUE(SQL_SUCCEEDED(rc)) << said;
      SQLDisconnect(hdbc);
    } else {
      EXPECT_FALSE(SQL_SUCCEEDED(rc));
      EXPECT_FALSE(said.empty());
      for (const auto& fragment : c.said) EXPECT_NE(said.find(fragment), std::string::npos) << said;
    }
    SQLFreeHandle(SQL_HANDLE_DBC, hdbc);
  }
  SQLDisconnect(holder);
  SQLFreeHandle(SQL_HANDLE_DBC, holder);
}

}  // namespace
