// The session steps above the envelope: the version exchange, the login of
// either kind, and the data sources' stored keys.
#include "hostlink/session.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hostlink/dsn_keys.h"
#include "tests/support/scripted_provider.h"
#include "tests/support/test_env.h"

namespace quarl::hostlink {
namespace {

using Incoming = std::vector<scripted::Incoming>;

TEST(VersionReply, Parse) {
  struct Case {
    std::string data;  // after the status digit
    bool ok;
    unsigned first, second, protocol;
    std::string software;
  } cases[] = {
      {"05001021Quarl Host Server 5.0.", true, 5, 1, 21, "Quarl Host Server 5"},
      {"05001021", true, 5, 1, 21, ""},
      {"05001021No dot", true, 5, 1, 21, "No dot"},
      {" 5  1 21Spaced.", true, 5, 1, 21, "Spaced"},  // blanks before the digits
      {"xx001x21.", true, 0, 1, 0, ""},               // a field without digits reads as 0
      {"0500102", false, 0, 0, 0, ""},
      {"", false, 0, 0, 0, ""},
  };
  for (const auto& c : cases) {
    auto v = parse_version_reply(c.data);
    ASSERT_EQ(v.has_value(), c.ok) << c.data;
    if (!v) continue;
    EXPECT_EQ(v->first, c.first) << c.data;
    EXPECT_EQ(v->second, c.second) << c.data;
    EXPECT_EQ(v->protocol, c.protocol) << c.data;
    EXPECT_EQ(v->software, c.software) << c.data;
  }
  EXPECT_EQ(version_mismatch_text(20), "Host(20)/Micro(21) protocol version mismatch");
}

TEST(LoginData, BothKinds) {
  struct Case {
    LoginKind kind;
    LoginFields fields;
    std::string data;
  } cases[] = {
      {LoginKind::Database, {"Demo", "pw", "acct9", "quarl/cfg"}, "108192DEMO/PW/ACCT9.QUARL/CFG."},
      {LoginKind::Database, {"demo", ".hidden", "", "c"}, "108192DEMO.C."},
      {LoginKind::Database, {"demo", "", "c1", ""}, "108192DEMO/C1.."},
      {LoginKind::Procedures, {"user1", "Secret", "ignored", "ignored"}, "108192USER1/SECRET."},
      {LoginKind::Procedures, {"user1", ".x", "", ""}, "108192USER1."},
  };
  for (const auto& c : cases) EXPECT_EQ(login_data(c.kind, 8192, c.fields), c.data) << c.data;
  EXPECT_EQ(login_data(LoginKind::Procedures, 123456, {"u", "", "", ""}), "112345U.");
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted::reset();
    ASSERT_EQ(scripted::load(&table), 0);
    ASSERT_TRUE(channel.attach(&table, 1, 8192));
    scripted::set_responder([this](const std::string& sent) -> Incoming {
      auto h = hostmsg::read_header(sent.data());
      auto& answer = h.code == 0 ? version : login;
      if (!answer) return {};
      return {{scripted::Incoming::Message, scripted::reply(h.type, h.code, *answer)}};
    });
  }
  ProviderTable table{};
  HostChannel channel;
  std::optional<std::string> version = "005001021Host.";
  std::optional<std::string> login = "004096";
};

TEST_F(SessionTest, VersionExchange) {
  struct Case {
    std::optional<std::string> reply;
    VersionCheck::Result result;
  } cases[] = {
      {"005001021Quarl Host Server.", VersionCheck::Ok},
      {"005001020Old.", VersionCheck::Mismatch},
      {"90014" "0004busy" "0000", VersionCheck::Refused},
      {"5", VersionCheck::Refused},
      {"0050", VersionCheck::Malformed},
      {std::nullopt, VersionCheck::ExchangeFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply.value_or("(none)"));
    scripted::queue_message("left over");  // waiting before the request: drained
    scripted::clear_log();
    version = c.reply;
    channel.last_sequence = '3';
    VersionCheck check = exchange_versions(channel, {});
    EXPECT_EQ(check.result, c.result);
    EXPECT_EQ(scripted::calls().at(0), "receive 0");
    EXPECT_EQ(scripted::sent().back().bytes.substr(4), "0000000000");
    if (c.result == VersionCheck::Ok) {
      EXPECT_EQ(check.version.protocol, 21u);
      EXPECT_EQ(check.version.software, "Quarl Host Server");
    }
    if (c.result == VersionCheck::Mismatch) {
      EXPECT_EQ(check.version.protocol, 20u);
    }
    if (c.result == VersionCheck::Refused) {
      EXPECT_EQ(check.reply.status(), c.reply->at(0));
    }
    if (c.result == VersionCheck::ExchangeFailed) {
      EXPECT_EQ(check.reply.outcome(), Outcome::Timeout);
      EXPECT_EQ(check.refusal_detail(), " (the host said: left over)");
    } else {
      EXPECT_EQ(check.refusal_detail(), "");
    }
  }
}

TEST_F(SessionTest, AHostThatTurnsTheClientAwayIsUnderstood) {
  // The host's own text, whether it came before the version request (and
  // was drained) or after it, and otherwise the provider's words for the
  // link it ended; at most 255 characters of the text.
  const std::string closed = "HOST1 (127.0.0.1:5000): connection closed by the host";
  const std::string busy = "Host Server busy: try again later";
  struct Case {
    std::vector<scripted::Incoming> before, after;
    std::string words;  // the provider's
    std::string detail;
  } cases[] = {
      {{{scripted::Incoming::Message, busy}}, {{scripted::Incoming::Error, {}}}, closed,
       " (the host said: " + busy + ")"},
      {{}, {{scripted::Incoming::Message, "\r\n" + busy}, {scripted::Incoming::Error, {}}}, closed,
       " (the host said: " + busy + ")"},
      {{{scripted::Incoming::Message, std::string(300, 'b')}}, {{scripted::Incoming::Error, {}}}, "",
       " (the host said: " + std::string(255, 'b') + ")"},
      {{}, {{scripted::Incoming::Error, {}}}, closed,
       " (" + closed + "; the server may be busy, with all the clients it takes)"},
      {{}, {{scripted::Incoming::Error, {}}}, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.detail);
    ASSERT_TRUE(channel.attach(&table, 1, 8192));
    scripted::set_last_error(c.words);
    for (const auto& in : c.before) scripted::queue(in);
    scripted::set_responder([&](const std::string&) { return c.after; });
    VersionCheck check = exchange_versions(channel, {});
    EXPECT_EQ(check.result, VersionCheck::ExchangeFailed);
    EXPECT_EQ(check.reply.outcome(), Outcome::ReceiveError);
    EXPECT_EQ(check.refusal_detail(), c.detail);
  }
}

TEST_F(SessionTest, Login) {
  struct Case {
    std::optional<std::string> reply;
    LoginCheck::Result result;
    size_t message_size;  // afterwards
  } cases[] = {
      {"004096", LoginCheck::Ok, 4096},
      {"065000", LoginCheck::Ok, 8192},  // never more than the send buffer
      {"90014" "0014Wrong password" "0000", LoginCheck::Refused, 8192},
      {"1" "0014" "0004warn" "0000", LoginCheck::Refused, 8192},  // anything but 0 refuses
      {"0", LoginCheck::Malformed, 8192},
      {"000014", LoginCheck::UnusableSize, 8192},
      {std::nullopt, LoginCheck::ExchangeFailed, 8192},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply.value_or("(none)"));
    ASSERT_TRUE(channel.attach(&table, 1, 8192));
    scripted::clear_log();
    login = c.reply;
    LoginCheck check = log_in(channel, LoginKind::Database, {"demo", "x", "", "cfg"}, {});
    EXPECT_EQ(check.result, c.result);
    EXPECT_EQ(channel.message_size(), c.message_size);
    auto h = hostmsg::read_header(scripted::sent().at(0).bytes.data());
    EXPECT_EQ(h.type, 0u);
    EXPECT_EQ(h.code, 1u);
    if (c.result == LoginCheck::Refused) {
      EXPECT_FALSE(check.reply.after_status().empty());
    }
  }
  // The code of host procedure calls, and data that cannot fit.
  scripted::clear_log();
  login = "004096";
  EXPECT_EQ(log_in(channel, LoginKind::Procedures, {"demo", "x", "", ""}, {}).result, LoginCheck::Ok);
  EXPECT_EQ(hostmsg::read_header(scripted::sent().at(0).bytes.data()).code, 6u);
  channel.set_message_size(20);
  scripted::clear_log();
  EXPECT_EQ(log_in(channel, LoginKind::Procedures, {"demo", "x", "", ""}, {}).result, LoginCheck::TooLong);
  EXPECT_TRUE(scripted::sent().empty());
}

TEST(DsnKeys, ReadThroughTheInstaller) {
  testsupport::OdbcConfig config;
  config.add_dsn("D", {{"Provider", "TCP/IP"}, {"Long", std::string(300, 'x')}});
  EXPECT_EQ(read_dsn_key("D", "Provider"), "TCP/IP");
  EXPECT_EQ(read_dsn_key("D", "Missing", "dflt"), "dflt");
  EXPECT_EQ(read_dsn_key("D", "Long"), std::string(255, 'x'));
  EXPECT_EQ(read_dsn_key("D", "Long", "", 15), std::string(15, 'x'));
  EXPECT_EQ(read_dsn_key("", "Provider", "dflt"), "dflt");
  EXPECT_EQ(read_dsn_key("Nope", "Provider"), "");
}

}  // namespace
}  // namespace quarl::hostlink
