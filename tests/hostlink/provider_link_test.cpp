// Opening a provider connection through the shell, step by step, and the
// raw transport that login scripts use.
#include "hostlink/provider_link.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "tests/support/scripted_provider.h"
#include "tests/support/test_env.h"

namespace quarl::hostlink {
namespace {

class ProviderLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QUARL_PROFILE_DIR", dir.path().c_str(), 1);
    testsupport::register_scripted_provider(dir.path());
    scripted::reset();
  }
  void TearDown() override { ::unsetenv("QUARL_PROFILE_DIR"); }
  testsupport::TempDir dir;
};

TEST_F(ProviderLinkTest, OpensInOrderAndUndoesFailures) {
  {
    ProviderLink link;
    ASSERT_EQ(link.open("Scripted", "HOST1"), ProviderStep::None);
    EXPECT_EQ(link.message_size(), 8192);
  }
  EXPECT_EQ(scripted::calls(), (std::vector<std::string>{"load", "open", "connect HOST1", "get_info", "disconnect",
                                                          "close", "unload"}));
  struct Case {
    const char* step;
    ProviderStep failed;
    std::vector<std::string> calls;
  } cases[] = {
      {"load", ProviderStep::Load, {"load"}},
      {"open", ProviderStep::Open, {"load", "open", "unload"}},
      {"connect", ProviderStep::Connect, {"load", "open", "connect HOST1", "close", "unload"}},
  };
  for (const auto& c : cases) {
    scripted::reset();
    scripted::fail(c.step, 7);
    ProviderLink link;
    EXPECT_EQ(link.open("Scripted", "HOST1"), c.failed) << c.step;
    EXPECT_EQ(scripted::calls(), c.calls) << c.step;
    EXPECT_EQ(scripted::open_count(), 0) << c.step;
  }
  ProviderLink link;
  EXPECT_EQ(link.open("Nope", "x"), ProviderStep::Find);
  EXPECT_EQ(link.connect_result, 0);
}

TEST_F(ProviderLinkTest, AFailedConnectKeepsTheProvidersWords) {
  // Asked before the provider is unloaded; a provider with nothing to tell
  // leaves them empty, and a new open forgets the last ones.
  for (std::string words : {"HOST1 (127.0.0.1:9): Connection refused", ""}) {
    scripted::reset();
    scripted::fail("connect", 3);
    scripted::set_last_error(words);
    ProviderLink link;
    EXPECT_EQ(link.open("Scripted", "HOST1"), ProviderStep::Connect);
    EXPECT_EQ(link.connect_result, 3);
    EXPECT_EQ(link.connect_error, words);
    EXPECT_EQ(link.last_error(), "");  // unloaded: nothing more to ask
    scripted::fail("connect", 0);
    ASSERT_EQ(link.open("Scripted", "HOST1"), ProviderStep::None);
    EXPECT_EQ(link.connect_error, "");
  }
}

TEST_F(ProviderLinkTest, ListsProvidersInTheShellsOrder) {
  EXPECT_EQ(list_providers(), (std::vector<std::string>{"TCP/IP", "Scripted"}));
}

TEST_F(ProviderLinkTest, RawTransportOnlyWhileConnected) {
  ProviderLink link;
  std::string_view got;
  EXPECT_NE(link.send_raw("x", 1, 5), 0);
  EXPECT_NE(link.receive_raw(got, 5), 0);
  ASSERT_EQ(link.open("Scripted", "HOST1"), ProviderStep::None);
  scripted::clear_log();
  scripted::queue_message("login:");
  EXPECT_EQ(link.send_raw("user", 4, 5), 0);
  ASSERT_EQ(link.receive_raw(got, 5), 0);
  EXPECT_EQ(got, "login:");
  link.release_raw();
  EXPECT_EQ(link.receive_raw(got, 5), TELLIX_TIMEOUT);  // nothing more waiting
  EXPECT_EQ(scripted::sent().at(0).bytes, "user");
  EXPECT_EQ(scripted::calls(), (std::vector<std::string>{"send", "receive 5", "release", "receive 5"}));
}

}  // namespace
}  // namespace quarl::hostlink
