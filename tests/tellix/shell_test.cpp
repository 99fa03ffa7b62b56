#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "tellix/tellix.h"
#include "tests/support/scripted_provider.h"
#include "tests/support/test_env.h"

namespace {

std::vector<std::string> names(const char* buffer) {
  std::vector<std::string> out;
  for (const char* p = buffer; *p; p += std::string(p).size() + 1) out.emplace_back(p);
  return out;
}

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QUARL_PROFILE_DIR", dir.path().c_str(), 1);
    scripted::reset();
  }
  void TearDown() override { ::unsetenv("QUARL_PROFILE_DIR"); }
  void register_scripted(const std::string& extra = "") { testsupport::register_scripted_provider(dir.path(), extra); }
  testsupport::TempDir dir;
};

TEST_F(ShellTest, BuiltInProviderComesFirstThenTheFileInOrder) {
  char buffer[128];
  ShellListProviders(buffer, sizeof buffer);
  EXPECT_EQ(names(buffer), std::vector<std::string>{"TCP/IP"});
  register_scripted("Zeta=/nonexistent.so\nAlpha=/also-missing.so\n");
  ShellListProviders(buffer, sizeof buffer);
  EXPECT_EQ(names(buffer), (std::vector<std::string>{"TCP/IP", "Scripted", "Zeta", "Alpha"}));
  EXPECT_EQ(ShellFindProvider("tcp/ip"), 0);
  EXPECT_EQ(ShellFindProvider("scripted"), 1);
  EXPECT_EQ(ShellFindProvider("nope"), -1);
  EXPECT_STREQ(ShellProviderName(3), "Alpha");
  EXPECT_STREQ(ShellProviderName(9), "");
}

TEST_F(ShellTest, ListNeverOverrunsItsBuffer) {
  register_scripted();
  char buffer[12];
  std::memset(buffer, 'x', sizeof buffer);
  ShellListProviders(buffer, 10);  // "TCP/IP\0" fits, "Scripted\0" does not
  EXPECT_EQ(names(buffer), std::vector<std::string>{"TCP/IP"});
  EXPECT_EQ(buffer[10], 'x');
}

TEST_F(ShellTest, LoadsAProviderLibraryAndUnloadsIt) {
  register_scripted("Missing=/nonexistent.so\n");
  ProviderTable table{};
  ASSERT_EQ(ShellLoadProvider(ShellFindProvider("Scripted"), &table), 0);
  ASSERT_NE(table.open, nullptr);
  EXPECT_EQ(table.configure, nullptr);
  ShellUnloadProvider(ShellFindProvider("Scripted"));
  EXPECT_EQ(scripted::calls(), (std::vector<std::string>{"load", "unload"}));
  EXPECT_NE(ShellLoadProvider(ShellFindProvider("Missing"), &table), 0);
  EXPECT_NE(ShellLoadProvider(42, &table), 0);
}

}  // namespace
