// Transaction-code calls from the exports to a running quarl-hostserver.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/rpc/rpc_library.h"
#include "tests/support/test_env.h"

namespace {

using rpctest::padded;

class TrancodeServer : public ::testing::Test {
 protected:
  void TearDown() override { lib.call("Disconnect22", "", 10); }
  void connect(const testsupport::HostServer& server, const std::string& code) {
    EXPECT_EQ(lib.call("Connect22", "127.0.0.1," + std::to_string(server.trancode_port()), 40).substr(0, 5),
              "127.0") << lib.error();
    lib.call("Trancode22", code, 10);
    lib.call("LibraryName22", "OBJECT/DEC/RPC1", 20);
    lib.call("EntryPoint22", "", 10);
  }
  void add(const std::string& name, const std::string& body) {
    testsupport::write_file(dir / name, "#!/bin/sh\n" + body + "\n");
    ::chmod((dir / name).c_str(), 0755);
  }
  rpctest::RpcLibrary lib;
  testsupport::TempDir dir;
};

TEST_F(TrancodeServer, DemoEchoAnswersTheLargestRequest) {
  testsupport::HostServer server({"--trancode-listen", "127.0.0.1:0"});
  connect(server, "echo");
  std::string request(9999, ' ');
  for (size_t i = 0; i < request.size(); ++i) request[i] = char('A' + i % 26);
  EXPECT_EQ(lib.call("ExeCall22", request, 9999), request);
  EXPECT_EQ(lib.call("ExeCall22", "again", 10), "again     ");  // one connection, many calls
}

TEST_F(TrancodeServer, FailuresAndRepliesLargerThanTheBuffer) {
  add("FAIL", "echo \"No account $QUARL_LIBRARY\" >&2; exit 1");
  add("DOUBLE", "d=$(cat); printf '%s%s' \"$d\" \"$d\"");
  testsupport::HostServer server({"--trancode-listen", "127.0.0.1:0", "--transactions", dir.path().string()});
  connect(server, "FAIL");
  EXPECT_EQ(lib.call("ExeCall22", "x", 20), padded("*****", 20));
  EXPECT_EQ(lib.error(), "No account OBJECT/DEC/RPC1");
  lib.call("Trancode22", "DOUBLE", 10);
  EXPECT_EQ(lib.call("ExeCall22", "abc", 4), "abca");
  lib.call("Trancode22", "NOPE", 10);
  EXPECT_EQ(lib.call("ExeCall22", "x", 8), "*****   ");
  EXPECT_EQ(lib.error(), "Unknown transaction code NOPE");
}

}  // namespace
