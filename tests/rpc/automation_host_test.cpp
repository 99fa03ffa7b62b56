// "Quarl.RPC" objects calling host procedures: against a running
// quarl-hostserver with its demo procedures, and against the scripted
// provider for the exact bytes of a call and for what a released object
// does with its conversation.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/hostmsg.h"
#include "common/scramble.h"
#include "tests/rpc/automation_client.h"
#include "tests/rpc/rpc_library.h"
#include "tests/support/scripted_provider.h"
#include "tests/support/test_env.h"

namespace {

using autotest::RpcObject;
using rpctest::padded;

class AutomationHost : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(DllRegisterServer(), S_OK); }
  void TearDown() override { exports.call("Disconnect", "", 10); }

  // A data source for the server with the stored user DEMO / DEMO.
  void add_dsn(const std::string& name) {
    config.add_dsn(name, {{"Provider", "TCP/IP"},
                          {"Connection", server.address()},
                          {"UID", "DEMO"},
                          {"PWD", quarl::scramble("DEMO")}});
  }
  // Call(ECHO, DEMO) through object; true when the text came back.
  static bool echoes(const RpcObject& object) {
    std::string param = "still here";
    return object.call("ECHO", "DEMO", param) == 0 && param == "still here";
  }

  testsupport::OdbcConfig config;
  testsupport::HostServer server;  // with the demo procedures
  rpctest::RpcLibrary exports;     // the same library, through its buffer exports
};

TEST_F(AutomationHost, EachObjectIsACallerOfItsOwn) {
  add_dsn("HOSTA");
  add_dsn("HOSTB");
  RpcObject a, b;
  EXPECT_EQ(a.connect("HOSTA"), 0) << a.get_error();
  EXPECT_EQ(b.connect("HOSTB, demo, demo"), 0) << b.get_error();
  EXPECT_TRUE(echoes(a));
  EXPECT_TRUE(echoes(b));

  // The exports' session has no conversation; its Disconnect fails and
  // leaves both objects connected.
  EXPECT_EQ(exports.call("Disconnect", "", 8), "*****   ");
  EXPECT_TRUE(echoes(a));
  EXPECT_TRUE(echoes(b));
  // Connected and disconnected again, it still affects neither.
  EXPECT_EQ(exports.call("Connect", "HOSTA", 8), padded("", 8)) << exports.error();
  EXPECT_EQ(exports.call("Disconnect", "", 8), padded("", 8));
  EXPECT_TRUE(echoes(a));
  EXPECT_TRUE(echoes(b));

  // Disconnect on one object leaves the other connected.
  EXPECT_EQ(a.disconnect(), 0);
  std::string param = "kept";
  EXPECT_EQ(a.call("ECHO", "DEMO", param), 1);
  EXPECT_EQ(param, "kept");
  EXPECT_EQ(a.get_error(), "There is not a connection open");
  EXPECT_EQ(a.disconnect(), 1);
  EXPECT_TRUE(echoes(b));
  EXPECT_EQ(b.get_error(), "") << "each object has its own error text";

  // Names and error texts are the object's own too: the exports still call
  // their default names and keep their own message.
  param = "x";
  EXPECT_EQ(b.call("NOPE", "DEMO", param), 1);
  EXPECT_EQ(b.get_error(), "Unknown procedure DEMO entry point NOPE");
  EXPECT_NE(exports.error(), b.get_error());
  EXPECT_EQ(exports.call("Connect", "HOSTA", 8), padded("", 8)) << exports.error();
  EXPECT_EQ(exports.call("ExeCall", "default names", 16), padded("default names", 16));
}

TEST_F(AutomationHost, CallsOfTheDemoProcedures) {
  add_dsn("HOST1");
  RpcObject rpc;
  ASSERT_EQ(rpc.connect("HOST1"), 0) << rpc.get_error();
  struct Case {
    const char* first;  // the entry point
    const char* second;  // the library
    std::string param;
    int result;
    std::string param_after;
    std::string error;  // after a failure
  };
  const Case cases[] = {
      {"UPPER", "DEMO", "hello, world", 0, "HELLO, WORLD", ""},
      {"ECHO", "demo", "trailing blanks   ", 0, "trailing blanks", ""},
      {"ECHO", "DEMO", "  leading blanks", 0, "  leading blanks", ""},
      {"ECHO", "DEMO", "", 0, "", ""},
      {"ECHO", "DEMO", "gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC", 0, "gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC", ""},
      {"PROC1", "OBJECT/DEC/RPC1", "abc", 0, "abc", ""},
      // The first argument is the entry point: the other way round fails.
      {"DEMO", "UPPER", "keep me  ", 1, "keep me  ", "Unknown procedure UPPER entry point DEMO"},
      {"NOPE", "DEMO", "keep me", 1, "keep me", "Unknown procedure DEMO entry point NOPE"},
  };
  for (const auto& c : cases) {
    std::string param = c.param;
    EXPECT_EQ(rpc.call(c.first, c.second, param), c.result) << c.first << " " << c.second;
    EXPECT_EQ(param, c.param_after) << c.first << " " << c.second;
    if (c.result) {
      EXPECT_EQ(rpc.get_error(), c.error);
    }
  }
  std::string param = "co";
  EXPECT_EQ(rpc.cor_call("object/dec/cor", param), 0) << rpc.get_error();
  EXPECT_EQ(param, "co");
  std::string stamp;
  EXPECT_EQ(rpc.call("DateTime", "Demo", stamp), 0);
  EXPECT_EQ(stamp.size(), 19u) << stamp;
}

TEST_F(AutomationHost, TheParameterSizeBoundsWhatIsSentAndReturned) {
  add_dsn("HOST2");
  RpcObject rpc;
  ASSERT_EQ(rpc.connect("HOST2"), 0) << rpc.get_error();
  rpc.set_param_size(10);
  std::string param = "ABCDEFGHIJKLMNOPQRST";
  EXPECT_EQ(rpc.call("ECHO", "DEMO", param), 0);
  EXPECT_EQ(param, "ABCDEFGHIJ");
  // A character is never split: the euro sign's three bytes do not fit.
  param = "aaaaaaaaa\xE2\x82\xAC";
  EXPECT_EQ(rpc.call("ECHO", "DEMO", param), 0);
  EXPECT_EQ(param, "aaaaaaaaa");
  rpc.set_param_size(0);
  param = "nothing goes";
  EXPECT_EQ(rpc.call("ECHO", "DEMO", param), 0);
  EXPECT_EQ(param, "");
  rpc.set_param_size(30000);
  param = std::string(29000, 'x') + "y";
  EXPECT_EQ(rpc.call("ECHO", "DEMO", param), 0);
  EXPECT_EQ(param, std::string(29000, 'x') + "y");
}

// The scripted host: answers the version request and the login, and each
// call block as told.
class AutomationWire : public ::testing::Test {
 protected:
  using Reply = std::vector<scripted::Incoming>;

  void SetUp() override {
    testsupport::write_file(config.profile_dir() / "tellix.ini",
                            "[providers]\nScripted=" +
                                testsupport::lib_path("libquarl_scripted_provider.so").string() + "\n");
    config.add_dsn("S", {{"Provider", "Scripted"}, {"Connection", "HOST1"}, {"UID", "demo"},
                         {"PWD", quarl::scramble("demo")}});
    ASSERT_EQ(DllRegisterServer(), S_OK);
    scripted::reset();
    scripted::set_responder([this](const std::string& bytes) -> Reply {
      auto header = quarl::hostmsg::read_header(bytes.data());
      if (header.type == 0 && header.code == 0) return message(0, 0, "005000021Host.");
      if (header.type == 0 && header.code == 6) return message(0, 6, "008192");
      if (header.type == 3) {
        blocks.push_back(bytes.substr(14));
        return message(3, header.code, "0100013" + answer);
      }
      return {};
    });
  }
  static Reply message(unsigned type, unsigned code, const std::string& data) {
    return {{scripted::Incoming::Message, scripted::reply(type, code, data)}};
  }

  testsupport::OdbcConfig config;
  std::vector<std::string> blocks;  // the data of each call block sent
  std::string answer = "0123456789ABC";
};

TEST_F(AutomationWire, ArgumentOrderAndParameterSizeOnTheWire) {
  RpcObject rpc;
  ASSERT_EQ(rpc.connect("S"), 0) << rpc.get_error();
  rpc.set_param_size(10);
  std::string param = "abcdefghijklmnopqrst";
  EXPECT_EQ(rpc.call("Proc9", "object/dec/rpc1", param), 0) << rpc.get_error();
  // Library then entry point, upper-cased; the area's length and the chunk
  // are the parameter size's 10 bytes.
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0], "11" "0015OBJECT/DEC/RPC1" "0005PROC9" "00010" "00010" "abcdefghij");
  // Of the 13 bytes the host answers only 10 are kept.
  EXPECT_EQ(param, "0123456789");

  param = "short    ";
  answer = "ok           ";
  EXPECT_EQ(rpc.cor_call("my/cor", param), 0);
  EXPECT_EQ(blocks.back(), "11" "0006MY/COR" "0000" "00010" "00005" "short");
  EXPECT_EQ(param, "ok");
}

TEST_F(AutomationWire, ReleasingAnObjectDropsItsConnection) {
  {
    RpcObject rpc;
    ASSERT_EQ(rpc.connect("S"), 0) << rpc.get_error();
    scripted::clear_log();
  }
  auto calls = scripted::calls();
  EXPECT_EQ(calls, (std::vector<std::string>{"disconnect", "close", "unload"}));
  EXPECT_EQ(scripted::open_count(), 0);
  EXPECT_TRUE(scripted::sent().empty()) << "no logout message is sent";
}

}  // namespace
