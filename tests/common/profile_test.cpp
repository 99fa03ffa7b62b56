#include "common/platform/profile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "common/platform/system.h"
#include "tests/support/test_env.h"

namespace quarl::platform {
namespace {

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("QUARL_PROFILE_DIR", (dir.path() / "profile").c_str(), 1); }
  void TearDown() override { ::unsetenv("QUARL_PROFILE_DIR"); }
  std::string file_text(const char* name) { return testsupport::read_file(dir.path() / "profile" / name); }
  testsupport::TempDir dir;
};

TEST_F(ProfileTest, BareNamesLiveInTheProfileDirectory) {
  EXPECT_EQ(resolve_profile_file("quarl.ini"), dir.path() / "profile" / "quarl.ini");
  EXPECT_EQ(resolve_profile_file("/etc/x.ini"), std::filesystem::path("/etc/x.ini"));
  EXPECT_EQ(resolve_profile_file("sub/x.ini"), std::filesystem::path("sub/x.ini"));
  ::unsetenv("QUARL_PROFILE_DIR");
  ::setenv("XDG_CONFIG_HOME", "/xdg", 1);
  EXPECT_EQ(profile_directory(), std::filesystem::path("/xdg/quarl"));
  ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(ProfileTest, ReadsWithDefaultsQuotesAndCase) {
  testsupport::write_file(dir.path() / "profile" / "a.ini",
                          "; comment\n[Timeouts]\nxmt = 30 \nname=\"quoted value\"\n[other]\nxmt=1\n");
  EXPECT_EQ(get_private_profile_string("timeouts", "XMT", "60", "a.ini"), "30");
  EXPECT_EQ(get_private_profile_string("Timeouts", "name", "", "a.ini"), "quoted value");
  EXPECT_EQ(get_private_profile_string("Timeouts", "rcv", "60", "a.ini"), "60");
  EXPECT_EQ(get_private_profile_string("Timeouts", "rcv", "60", "missing.ini"), "60");
  EXPECT_EQ(get_private_profile_int("timeouts", "xmt", 60, "a.ini"), 30);
  EXPECT_EQ(get_private_profile_int("timeouts", "rcv", 60, "a.ini"), 60);
  EXPECT_EQ(get_private_profile_int("timeouts", "name", 60, "a.ini"), 0);
}

TEST_F(ProfileTest, ListsSectionsAndKeysAsZeroSeparatedNames) {
  testsupport::write_file(dir.path() / "profile" / "a.ini", "[one]\na=1\nb=2\n[two]\n");
  char out[64];
  size_t n = get_private_profile_string(nullptr, nullptr, "", out, sizeof out, "a.ini");
  EXPECT_EQ(std::string(out, n), std::string("one\0two\0", 8));
  EXPECT_EQ(out[n], '\0');
  n = get_private_profile_string("one", nullptr, "", out, sizeof out, "a.ini");
  EXPECT_EQ(std::string(out, n), std::string("a\0b\0", 4));
  EXPECT_EQ(out[n], '\0');
  // Cut lists end with two zero bytes and report size - 2.
  char small[5];
  n = get_private_profile_string(nullptr, nullptr, "", small, sizeof small, "a.ini");
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(small[3], '\0');
  EXPECT_EQ(small[4], '\0');
  // A cut value reports size - 1.
  n = get_private_profile_string("one", "a", "", small, 1, "a.ini");
  EXPECT_EQ(n, 0u);
}

TEST_F(ProfileTest, WritesKeepCommentsAndOrder) {
  testsupport::write_file(dir.path() / "profile" / "a.ini", "; top\n[s]\nk1=1\n; inner\nk2=2\n\n[t]\nx=1\n");
  ASSERT_TRUE(write_private_profile_string("S", "K2", "two", "a.ini"));
  ASSERT_TRUE(write_private_profile_string("s", "k3", "3", "a.ini"));
  ASSERT_TRUE(write_private_profile_string("new", "n", "v", "a.ini"));
  EXPECT_EQ(file_text("a.ini"), "; top\n[s]\nk1=1\n; inner\nK2=two\nk3=3\n\n[t]\nx=1\n[new]\nn=v\n");
  ASSERT_TRUE(write_private_profile_string("s", "k1", nullptr, "a.ini"));
  ASSERT_TRUE(write_private_profile_string("t", nullptr, nullptr, "a.ini"));
  EXPECT_EQ(file_text("a.ini"), "; top\n[s]\n; inner\nK2=two\nk3=3\n\n[new]\nn=v\n");
}

TEST_F(ProfileTest, WritingCreatesTheFolderAndFile) {
  ASSERT_TRUE(write_private_profile_string("general", "trace", "1", "fresh.ini"));
  EXPECT_EQ(file_text("fresh.ini"), "[general]\ntrace=1\n");
}

TEST_F(ProfileTest, CrLfFilesStayCrLf) {
  testsupport::write_file(dir.path() / "profile" / "w.ini", "[s]\r\nk=1\r\n");
  ASSERT_TRUE(write_private_profile_string("s", "j", "2", "w.ini"));
  EXPECT_EQ(file_text("w.ini"), "[s]\r\nk=1\r\nj=2\r\n");
  EXPECT_EQ(get_private_profile_string("s", "k", "", "w.ini"), "1");
}

}  // namespace
}  // namespace quarl::platform
