// The host conversation's bytes against the scripted provider: login, call
// blocks and procedure responses, and the failures of each step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/hostmsg.h"
#include "common/scramble.h"
#include "tests/rpc/rpc_library.h"
#include "tests/support/scripted_provider.h"
#include "tests/support/test_env.h"

namespace {

using rpctest::padded;
using Reply = std::vector<scripted::Incoming>;

struct Sent {
  char sequence;
  unsigned sub_id, type, code;
  std::string data;
};

Sent parse(const std::string& bytes) {
  auto h = quarl::hostmsg::read_header(bytes.data());
  return {h.sequence, h.sub_id, h.type, h.code, bytes.substr(14)};
}

Reply message(unsigned type, unsigned code, const std::string& data) {
  return {{scripted::Incoming::Message, scripted::reply(type, code, data)}};
}

// A procedure response block: status 0, last-block digit, length, chunk.
std::string response(bool last, const std::string& chunk) {
  char digits[6];
  std::snprintf(digits, sizeof digits, "%05zu", chunk.size());
  return std::string("0") + (last ? "1" : "0") + digits + chunk;
}

std::string error_item(const std::string& text) {
  char head[9];
  std::snprintf(head, sizeof head, "0003%04zu", text.size());
  return "9" + std::string(head) + text + "0000";
}

class HostCallWire : public ::testing::Test {
 public:
  void SetUp() override {
    testsupport::register_scripted_provider(config.profile_dir());
    config.add_dsn("S", {{"Provider", "Scripted"}, {"Connection", "HOST1"}, {"UID", "demo"},
                         {"PWD", quarl::scramble("Secret")}});
    config.add_dsn("N", {{"Provider", "Nope"}, {"Connection", "X"}});
    script_host();
  }
  // A host that answers the version request and the login as told.
  void script_host() {
    scripted::reset();
    version_reply = "005000021Host.";
    login_reply = "008192";
    scripted::set_responder([this](const std::string& bytes) -> Reply {
      Sent s = parse(bytes);
      if (s.type == 0 && s.code == 0) return message(0, 0, version_reply);
      if (s.type == 0 && s.code == 6) return message(0, 6, login_reply);
      if (s.type == 3 && on_call) return on_call(s);
      return {};
    });
  }
  void TearDown() override {
    lib.call("Disconnect", "", 10);
    lib.call("LibraryName", "OBJECT/DEC/RPC1", 20);
    lib.call("EntryPoint", "PROC1", 10);
  }

  // The messages the library sent, in order.
  static std::vector<Sent> sent() {
    std::vector<Sent> out;
    for (auto& s : scripted::sent()) out.push_back(parse(s.bytes));
    return out;
  }

  bool connect(const std::string& items = "S") { return lib.call("Connect", items, 40) == padded("", 40); }

  testsupport::OdbcConfig config;
  rpctest::RpcLibrary lib;
  std::string version_reply = "005000021Host.";
  std::string login_reply = "008192";
  std::function<Reply(const Sent&)> on_call;
};

TEST_F(HostCallWire, LoginAndOneBlockCallAsTheHostSeesThem) {
  ASSERT_TRUE(connect()) << lib.error();
  auto s = sent();
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(scripted::sent()[0].bytes, "#@!90000000000");  // version request, sub id 0
  EXPECT_EQ(scripted::sent()[0].timeout, 60);
  EXPECT_EQ(s[1].sequence, '0');
  EXPECT_EQ(s[1].type, 0u);
  EXPECT_EQ(s[1].code, 6u);
  EXPECT_EQ(s[1].data, "108192DEMO/SECRET.");  // the stored password unscrambled, all upper-cased

  scripted::clear_log();
  on_call = [](const Sent&) { return message(3, 1, response(true, "reply")); };
  lib.call("LibraryName", "obj/lib", 20);
  lib.call("EntryPoint", "Proc", 10);
  EXPECT_EQ(lib.call("ExeCall", "abc", 10), padded("reply", 10));
  s = sent();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].sub_id, 0u);
  EXPECT_EQ(s[0].type, 3u);
  EXPECT_EQ(s[0].code, 1u);
  EXPECT_EQ(s[0].data, "110007OBJ/LIB0004PROC0001000003abc");

  // An all-blank area still sends one block, chunk length 0 and last.
  scripted::clear_log();
  on_call = [](const Sent&) { return message(3, 2, response(true, "co")); };
  lib.call("CoRoutineName", "my/Cor", 20);
  EXPECT_EQ(lib.call("CorCall", "", 6), padded("co", 6));
  s = sent();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].code, 2u);
  EXPECT_EQ(s[0].data, "110006MY/COR00000000600000");
}

TEST_F(HostCallWire, PasswordBeginningWithDotIsNotSent) {
  ASSERT_TRUE(connect("S, user1 , .hidden")) << lib.error();
  EXPECT_EQ(sent()[1].data, "108192USER1.");
}

TEST_F(HostCallWire, SeveralBlocksEachWayWithinTheGrantedSize) {
  login_reply = "000064";  // the host grants 64 bytes: 50 data bytes a message
  std::vector<std::string> chunks;
  on_call = [&](const Sent& s) -> Reply {
    chunks.push_back(s.data);
    if (s.data[1] == '0') return message(3, 1, "0");
    // Three response blocks; a repeat of the second (same sequence
    // character) is dropped; the last holds more than the area takes.
    std::string second = scripted::reply(3, 1, response(false, "BBBBB"));
    return {{scripted::Incoming::Message, scripted::reply(3, 1, response(false, std::string(30, 'A')))},
            {scripted::Incoming::Message, second},
            {scripted::Incoming::Message, second},
            {scripted::Incoming::Message, scripted::reply(3, 1, response(true, "CCCCCCCCCC"))}};
  };
  ASSERT_TRUE(connect()) << lib.error();
  lib.call("LibraryName", "L", 5);
  lib.call("EntryPoint", "E", 5);
  std::string area(70, 'x');
  for (size_t i = 0; i < area.size(); ++i) area[i] = char('a' + i % 26);
  EXPECT_EQ(lib.call("ExeCall", area, 40), std::string(30, 'A') + "BBBBB" + "CCCCC");

  // The area's 40 bytes: 50 - 22 = 28 in the first block, 12 in the second.
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0], "100001L0001E0004000028" + area.substr(0, 28));
  EXPECT_EQ(chunks[1], "0100012" + area.substr(28, 12));
}

TEST_F(HostCallWire, NamesThatCannotFitAreRefused) {
  login_reply = "000064";
  ASSERT_TRUE(connect()) << lib.error();
  lib.call("LibraryName", std::string(40, 'L'), 40);
  EXPECT_EQ(lib.call("ExeCall", "abc", 8), "*****   ");
  EXPECT_EQ(lib.error(), "Library and entry point names do not fit in a host message of 64 bytes");
  EXPECT_EQ(sent().size(), 2u);  // nothing was sent
}

TEST_F(HostCallWire, FailuresOfEachStep) {
  struct Case {
    const char* name;
    std::function<void(HostCallWire&)> arrange;
    std::string items;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"version", [](HostCallWire& t) { t.version_reply = "005000020Host."; }, "S",
       "Host(20)/Micro(21) protocol version mismatch"},
      {"version status", [](HostCallWire& t) { t.version_reply = "9"; }, "S", "Cannot get host version"},
      {"version without numbers", [](HostCallWire& t) { t.version_reply = "0050"; }, "S", "Cannot get host version"},
      {"login grant unusable", [](HostCallWire& t) { t.login_reply = "000010"; }, "S",
       "Cannot Login to host server: unusable message size"},
      {"login refused", [](HostCallWire& t) { t.login_reply = error_item("Bad password"); }, "S", "Bad password"},
      {"login unanswered", [](HostCallWire& t) { t.login_reply.clear(); }, "S", "Cannot Login to host server"},
      {"connect", [](HostCallWire&) { scripted::fail("connect", 7); }, "S", "Cannot open connection HOST1 (7)"},
      {"open", [](HostCallWire&) { scripted::fail("open"); }, "S", "Cannot initialize provider: Scripted"},
      {"load", [](HostCallWire&) { scripted::fail("load"); }, "S", "Cannot open provider: Scripted"},
      {"provider", [](HostCallWire&) {}, "N,U,P", "Invalid provider Nope"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    script_host();
    if (c.name == std::string("login unanswered"))
      scripted::set_responder([this](const std::string& bytes) -> Reply {
        Sent s = parse(bytes);
        return s.code == 0 ? message(0, 0, version_reply) : Reply{};
      });
    c.arrange(*this);
    EXPECT_EQ(lib.call("Connect", c.items, 12), "*****       ");
    EXPECT_EQ(lib.error(), c.message);
    EXPECT_EQ(scripted::open_count(), 0) << "the provider was left open";
  }
}

TEST_F(HostCallWire, CallFailuresKeepTheConversation) {
  ASSERT_TRUE(connect()) << lib.error();
  on_call = [](const Sent&) { return message(3, 1, error_item("No such program")); };
  EXPECT_EQ(lib.call("ExeCall", "abc", 8), "*****   ");
  EXPECT_EQ(lib.error(), "No such program");

  // No answer: the step's message, and later receives wait 10 instead of 60.
  on_call = nullptr;
  EXPECT_EQ(lib.call("ExeCall", "abc", 8), "*****   ");
  EXPECT_EQ(lib.error(), "Cannot execute call command");
  scripted::clear_log();
  on_call = [](const Sent&) {
    return Reply{{scripted::Incoming::Message, scripted::reply(3, 1, response(false, "part"))}};
  };
  EXPECT_EQ(lib.call("ExeCall", "abc", 8), "*****   ");
  EXPECT_EQ(lib.error(), "Error waiting for procedure response");
  auto calls = scripted::calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "receive 10"), calls.end());
  EXPECT_EQ(std::find(calls.begin(), calls.end(), "receive 60"), calls.end());

  on_call = [](const Sent&) { return message(3, 1, response(true, "ok")); };
  EXPECT_EQ(lib.call("ExeCall", "abc", 4), "ok  ");
}

// ---- special characters ----

class SpecialChars : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const char* reset : {"TAB,@", "LF,]", "CRLF,#", "CR,[", "NULL,~"}) lib.call("SetSpecialChar", reset, 10);
    lib.call("EnableSpecialCh", "", 1);
  }
  rpctest::RpcLibrary lib;
};

TEST_F(SpecialChars, InitialValuesAndKeywordsWithoutRegardToCase) {
  const std::pair<const char*, const char*> cases[] = {
      {"crlf", "#   "}, {"TAB", "@   "}, {" Lf ", "]   "}, {"cR", "[   "}, {"null", "~   "}};
  for (auto& [keyword, expected] : cases) EXPECT_EQ(lib.call("GetSpecialChar", keyword, 4), expected) << keyword;
  EXPECT_EQ(lib.call("GetSpecialChar", "tabs", 8), "*****   ");
  EXPECT_EQ(lib.error(), "Unknown special character: tabs");
}

TEST_F(SpecialChars, SetNeedsOneCharacterAndAKnownKeyword) {
  EXPECT_EQ(lib.call("SetSpecialChar", "tab,%", 10), padded("tab,%", 10));  // the buffer is kept
  EXPECT_EQ(lib.call("GetSpecialChar", "tab", 3), "%  ");
  EXPECT_EQ(lib.call("SetSpecialChar", " cr , ! ", 10), padded(" cr , ! ", 10));
  EXPECT_EQ(lib.call("GetSpecialChar", "CR", 2), "! ");

  const std::pair<const char*, const char*> failures[] = {
      {"tab,%%", "You must specify one new character"},
      {"tab,", "You must specify one new character"},
      {"tab", "You must specify one new character"},
      {"tabs,%%", "You must specify one new character"},  // the character is checked first
      {"tabs,%", "Unknown special character: tabs"},
  };
  for (auto& [text, message] : failures) {
    EXPECT_EQ(lib.call("SetSpecialChar", text, 10), "*****     ") << text;
    EXPECT_EQ(lib.error(), message) << text;
  }
  EXPECT_EQ(lib.call("GetSpecialChar", "tab", 3), "%  ");  // failures change nothing
}

TEST_F(SpecialChars, EnableAndDisableNeverFailAndKeepTheBuffer) {
  EXPECT_EQ(lib.call("DisableSpecialCh", "keep", 6), "keep  ");
  EXPECT_EQ(lib.call("DisableSpecialCh", "", 0), "");
  EXPECT_EQ(lib.call("EnableSpecialCh", "keep", 6), "keep  ");
  EXPECT_EQ(lib.call("GetSpecialChar", "tab", 3), "@  ");  // the characters stay while off and on
}

}  // namespace
