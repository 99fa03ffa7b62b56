// Host procedure calls from the exports to a running quarl-hostserver over
// the TCP/IP provider, and the quarl-rpc command-line client.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "common/scramble.h"
#include "tests/rpc/rpc_library.h"
#include "tests/support/test_env.h"

namespace {

using rpctest::padded;

// Each test names its own data sources: unixODBC keeps profile values it has
// read for a while, by section and key, whatever file they came from.
class HostCallServer : public ::testing::Test {
 protected:
  void TearDown() override {
    lib.call("Disconnect", "", 10);
    lib.call("LibraryName", "OBJECT/DEC/RPC1", 20);
    lib.call("EntryPoint", "PROC1", 10);
    lib.call("CoRoutineName", "OBJECT/DEC/COR", 20);
  }

  // A data source for the server with the stored user DEMO / DEMO; size
  // sets the provider connection's message size.
  void add_dsn(const testsupport::HostServer& server, const std::string& name, const std::string& size = "") {
    config.add_dsn(name, {{"Provider", "TCP/IP"},
                          {"Connection", server.address() + size},
                          {"UID", "DEMO"},
                          {"PWD", quarl::scramble("DEMO")}});
  }
  void add_procedure(const std::string& path, const std::string& body) {
    testsupport::write_file(procedures / path, "#!/bin/sh\n" + body + "\n");
    ::chmod((procedures / path).c_str(), 0755);
  }
  std::vector<std::string> with_procedures(std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"--procedures", procedures.path().string()});
    return args;
  }
  void set_names(const std::string& library, const std::string& entry) {
    lib.call("LibraryName", library, 40);
    lib.call("EntryPoint", entry, 20);
  }

  testsupport::OdbcConfig config;
  testsupport::TempDir procedures;
  rpctest::RpcLibrary lib;
};

TEST_F(HostCallServer, DemoProceduresWithTheStoredUserAndPassword) {
  testsupport::HostServer server;  // the demo procedures next to the server
  add_dsn(server, "HOST1");
  EXPECT_EQ(lib.call("Connect", "HOST1", 12), padded("", 12)) << lib.error();
  set_names("demo", "upper");
  EXPECT_EQ(lib.call("ExeCall", "hello, world", 16), "HELLO, WORLD    ");
  set_names("DEMO", "ECHO");
  EXPECT_EQ(lib.call("ExeCall", "", 5), "     ");  // an all-blank area comes back blank
  set_names("Demo", "DateTime");
  std::string stamp = lib.call("ExeCall", "", 19);
  EXPECT_EQ(stamp.size(), 19u);
  EXPECT_EQ(stamp[4], '-');
  EXPECT_EQ(stamp[13], ':');
  lib.call("CoRoutineName", "object/dec/cor", 20);
  EXPECT_EQ(lib.call("CorCall", "co", 4), "co  ");

  EXPECT_EQ(lib.call("Disconnect", "x", 4), "    ");
  EXPECT_EQ(lib.call("Disconnect", "x", 8), "*****   ");
  EXPECT_EQ(lib.error(), "There is not a connection open");
  EXPECT_EQ(lib.call("ExeCall", "abc", 8), "*****   ");
  EXPECT_EQ(lib.error(), "There is not a connection open");
}

TEST_F(HostCallServer, CredentialsInTheBufferAndFailingDataSources) {
  testsupport::HostServer server;
  config.add_dsn("BARE2", {{"Provider", "TCP/IP"}, {"Connection", server.address()}});
  config.add_dsn("NOPROVIDER", {{"Connection", server.address()}});
  config.add_dsn("NOCONNECTION", {{"Provider", "TCP/IP"}});
  add_dsn(server, "HOST2");

  EXPECT_EQ(lib.call("Connect", " BARE2 , demo , Demo ", 24), padded("", 24)) << lib.error();
  set_names("DEMO", "ECHO");
  EXPECT_EQ(lib.call("ExeCall", "ok", 2), "ok");

  const std::pair<const char*, const char*> failures[] = {
      {"BARE2", "Cannot get userid for datasource BARE2"},
      {"BARE2,DEMO", "Cannot get password for datasource BARE2"},
      {"NOPROVIDER", "Cannot get provider for datasource NOPROVIDER"},
      {"NOCONNECTION", "Cannot get connection for datasource NOCONNECTION"},
      {"MISSING", "Cannot get provider for datasource MISSING"},
      {"HOST2,DEMO,WRONG", "Invalid user id or password"},
  };
  for (auto& [items, message] : failures) {
    EXPECT_EQ(lib.call("Connect", items, 20), padded("*****", 20)) << items;
    EXPECT_EQ(lib.error(), message) << items;
  }
  // A failed Connect leaves no conversation open.
  EXPECT_EQ(lib.call("ExeCall", "ok", 8), "*****   ");
  EXPECT_EQ(lib.error(), "There is not a connection open");
}

TEST_F(HostCallServer, AreasOfManyBlocksEachWay) {
  add_procedure("BIG/ECHO", "exec cat");
  add_procedure("BIG/DIGITS", "cat >/dev/null; printf 0123456789");
  add_procedure("BIG/LENGTH", "wc -c | tr -d ' \\n'");
  testsupport::HostServer server(with_procedures());
  add_dsn(server, "SMALL", ",1810");  // 1796 data bytes a message
  ASSERT_EQ(lib.call("Connect", "SMALL", 8), padded("", 8)) << lib.error();

  std::string area(30000, ' ');
  for (size_t i = 0; i < 29990; ++i) area[i] = char('A' + (i * 7) % 26);
  set_names("big", "echo");
  EXPECT_EQ(lib.call("ExeCall", area, 30000), area);
  set_names("BIG", "DIGITS");  // output beyond the area is cut
  EXPECT_EQ(lib.call("ExeCall", "abc", 4), "0123");
  set_names("BIG", "LENGTH");  // the procedure gets the whole area, trailing blanks too
  EXPECT_EQ(lib.call("ExeCall", "x", 20000), padded("20000", 20000));
}

TEST_F(HostCallServer, FailingProceduresAndTheirMessages) {
  add_procedure("LIB/FAIL", "echo 'No such account' >&2; echo second line >&2; exit 1");
  add_procedure("LIB/QUIET", "exit 3");
  add_procedure("LIB/CRASH", "kill -SEGV $$");
  testsupport::HostServer server(with_procedures());
  add_dsn(server, "HOST4");
  ASSERT_EQ(lib.call("Connect", "HOST4", 8), padded("", 8)) << lib.error();
  const std::pair<const char*, const char*> cases[] = {
      {"FAIL", "No such account"},
      {"QUIET", "Procedure LIB/QUIET failed with exit status 3"},
      {"CRASH", "Procedure LIB/CRASH was killed by signal 11"},
      {"NOPE", "Unknown procedure LIB entry point NOPE"},
  };
  for (auto& [entry, message] : cases) {
    set_names("LIB", entry);
    EXPECT_EQ(lib.call("ExeCall", "abc", 10), padded("*****", 10)) << entry;
    EXPECT_EQ(lib.error(), message) << entry;
  }
}

TEST_F(HostCallServer, ServerSurvivesHangingProceduresAndBadNames) {
  add_procedure("LIB/HANG", "sleep 60");
  add_procedure("LIB/ECHO", "exec cat");
  testsupport::HostServer server(with_procedures({"--procedure-seconds", "1"}));
  add_dsn(server, "HOST5");
  ASSERT_EQ(lib.call("Connect", "HOST5", 8), padded("", 8)) << lib.error();

  set_names("LIB", "HANG");
  EXPECT_EQ(lib.call("ExeCall", "abc", 10), padded("*****", 10));
  EXPECT_EQ(lib.error(), "Procedure LIB/HANG exceeded its time limit of 1 second");

  const std::pair<std::string, std::string> names[] = {
      {"LIB/../LIB", "Invalid library name LIB/../LIB"},
      {"/LIB", "Invalid library name /LIB"},
      {"LIB//X", "Invalid library name LIB//X"},
      {"", "Invalid library name"},
      {"LIB X", "Invalid library name LIB X"},
  };
  set_names("", "ECHO");
  for (auto& [library, message] : names) {
    lib.call("LibraryName", library, 20);
    EXPECT_EQ(lib.call("ExeCall", "abc", 10), padded("*****", 10)) << library;
    EXPECT_EQ(lib.error(), message) << library;
  }
  set_names("LIB", "../ECHO");
  EXPECT_EQ(lib.call("ExeCall", "abc", 10), padded("*****", 10));
  EXPECT_EQ(lib.error(), "Invalid entry point name ../ECHO");

  // The same conversation goes on working.
  set_names("LIB", "ECHO");
  EXPECT_EQ(lib.call("ExeCall", "still here", 12), "still here  ");
}

// Waits (a while) for cond; false when it never held.
template <typename F>
bool eventually(F cond) {
  for (int i = 0; i < 200; ++i) {
    if (cond()) return true;
    ::usleep(50000);
  }
  return false;
}

TEST_F(HostCallServer, ProcedureOfAClientThatGoesAwayIsStopped) {
  const auto pid_file = procedures / "hang.pid";
  add_procedure("LIB/HANG", "echo $$ > '" + pid_file.string() + "'; exec sleep 60");
  testsupport::HostServer server(with_procedures({"--procedure-seconds", "60"}));
  add_dsn(server, "HOST7");
  std::string rpc = testsupport::bin_path("quarl-rpc").string();
  pid_t client = ::fork();
  if (client == 0) {
    ::execl(rpc.c_str(), rpc.c_str(), "HOST7", "LIB", "HANG", "x", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_TRUE(eventually([&] { return !testsupport::read_file(pid_file).empty(); }));
  pid_t procedure = std::stoi(testsupport::read_file(pid_file));
  ::kill(client, SIGKILL);
  ::waitpid(client, nullptr, 0);
  EXPECT_TRUE(eventually([&] { return ::kill(procedure, 0) != 0; })) << "the procedure is still running";

  // The server serves the next client.
  EXPECT_EQ(lib.call("Connect", "HOST7", 8), padded("", 8)) << lib.error();
}

TEST_F(HostCallServer, CommandLineClient) {
  testsupport::HostServer server;
  add_dsn(server, "HOST6");
  config.add_dsn("BARE6", {{"Provider", "TCP/IP"}, {"Connection", server.address()}});
  const std::string rpc = testsupport::bin_path("quarl-rpc").string();

  auto r = testsupport::run_command(rpc + " HOST6 demo upper 'a, b'");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "A, B\n");
  r = testsupport::run_command(rpc + " -u demo -p demo -n 6 -k BARE6 DEMO ECHO -", "xy\n");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "xy    \n");
  r = testsupport::run_command(rpc + " --coroutine HOST6 OBJECT/DEC/COR co");
  EXPECT_EQ(r.output, "co\n");

  r = testsupport::run_command(rpc + " -u demo -p wrong BARE6 DEMO ECHO x");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "quarl-rpc: Connect: Invalid user id or password\n");
  r = testsupport::run_command(rpc + " HOST6 DEMO NOPE x");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "quarl-rpc: ExeCall: Unknown procedure DEMO entry point NOPE\n");
  r = testsupport::run_command(rpc + " HOST6 DEMO");
  EXPECT_EQ(r.status, 2) << r.output;
}

}  // namespace
