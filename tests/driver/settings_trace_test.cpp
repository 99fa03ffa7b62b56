// Settings from quarl.ini, and the two traces.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "common/platform/msgbox.h"
#include "driver/core/settings.h"
#include "tests/support/test_env.h"

namespace {

using namespace quarl::driver;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("QUARL_PROFILE_DIR", dir.path().c_str(), 1); }
  void TearDown() override {
    ::unsetenv("QUARL_PROFILE_DIR");
    set_settings(DriverSettings{});
  }
  void write_ini(const std::string& text) { testsupport::write_file(dir / "quarl.ini", text); }
  testsupport::TempDir dir;
};

TEST_F(SettingsTest, DefaultsWithoutTheFile) {
  load_settings();
  const DriverSettings& s = settings();
  EXPECT_EQ(s.xmt_timeout, 60);
  EXPECT_EQ(s.rcv_timeout, 60);
  EXPECT_EQ(s.nonhostmsgerr, 0);
  EXPECT_EQ(s.numeric_trailing_zeros, 1);
  EXPECT_EQ(s.full_outer_joins, 1);
  EXPECT_EQ(s.allowasync, 0);
  EXPECT_EQ(s.allow_usercode_override, 0);
  EXPECT_EQ(s.trace, 0);
  EXPECT_STREQ(s.tracefile, "quarl.txt");
  EXPECT_EQ(s.script_trace, 0);
  EXPECT_STREQ(s.script_tracefile, "quarl.txt");
}

TEST_F(SettingsTest, EveryKeyAndEightBitWidths) {
  write_ini(
      "[timeouts]\nrcv=300\n"
      "[odbc]\nnonhostmsgerr=1\nnumeric trailing zeros=0\nfull outer joins=0\nallowasync=257\n"
      "allow usercode override=1\n"
      "[general]\ntrace=70000\ntracefile=/tmp/t1.txt\n"
      "[script]\ntrace=1\ntracefile=s.txt\n");
  load_settings();
  const DriverSettings& s = settings();
  EXPECT_EQ(s.rcv_timeout, 44);  // the low 8 bits of 300
  EXPECT_EQ(s.xmt_timeout, 60);  // missing key: its default
  EXPECT_EQ(s.nonhostmsgerr, 1);
  EXPECT_EQ(s.numeric_trailing_zeros, 0);
  EXPECT_EQ(s.full_outer_joins, 0);
  EXPECT_EQ(s.allowasync, 1);
  EXPECT_EQ(s.allow_usercode_override, 1);
  EXPECT_EQ(s.trace, 70000);  // 32 bits
  EXPECT_STREQ(s.tracefile, "/tmp/t1.txt");
  EXPECT_EQ(s.script_trace, 1);
  EXPECT_STREQ(s.script_tracefile, "s.txt");
}

TEST_F(SettingsTest, BothTracesGoToQuarlTxtInTheCurrentDirectory) {
  write_ini("[general]\ntrace=1\n[script]\ntrace=1\n");
  load_settings();
  char old[4096];
  ASSERT_NE(::getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  tracef("connect task=%x", 0x1f);
  script_tracef("timeout set to %d", 30);
  trace_entry("SQLFreeStmt");
  tracef("%s", std::string(300, 'x').c_str());
  ASSERT_EQ(::chdir(old), 0);
  std::string text = testsupport::read_file(dir / "quarl.txt");
  std::string first = "connect task=1f\r\ntimeout set to 30\r\nSQLFreeStmt(";
  EXPECT_EQ(text.substr(0, first.size()), first);
  // A text over 253 characters is cut.
  EXPECT_NE(text.find(")\r\n" + std::string(253, 'x') + "\r\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(SettingsTest, NothingIsWrittenWhileTracingIsOff) {
  DriverSettings s;
  std::snprintf(s.tracefile, sizeof s.tracefile, "%s", (dir / "t.txt").c_str());
  set_settings(s);
  tracef("anything");
  trace_entry("SQLFreeStmt");
  EXPECT_FALSE(std::filesystem::exists(dir / "t.txt"));
}

class RecordingBox : public quarl::platform::MessageBoxBackend {
 public:
  int show(void*, std::string_view text, std::string_view, unsigned style) override {
    texts.emplace_back(text);
    styles.push_back(style);
    return quarl::platform::kIdOk;
  }
  std::vector<std::string> texts;
  std::vector<unsigned> styles;
};

TEST_F(SettingsTest, AnUnwritableTraceFileIsNamedOnceAndTheDriverGoesOn) {
  RecordingBox box;
  auto* old = quarl::platform::set_message_box_backend(&box);
  DriverSettings s;
  s.trace = 1;
  const std::string file = (dir / "missing-folder" / "t.txt").string();
  std::snprintf(s.tracefile, sizeof s.tracefile, "%s", file.c_str());
  set_settings(s);
  tracef("one");
  tracef("two");
  // Another file that fails is told of too, once.
  std::snprintf(s.tracefile, sizeof s.tracefile, "%s", (dir / "missing-folder" / "u.txt").c_str());
  set_settings(s);
  tracef("three");
  tracef("four");
  quarl::platform::set_message_box_backend(old);
  ASSERT_EQ(box.texts.size(), 2u);
  EXPECT_EQ(box.texts[0], "Cannot append to trace file " + file + ": No such file or directory (not reported again)");
  EXPECT_NE(box.texts[1].find("u.txt"), std::string::npos);
  EXPECT_EQ(box.styles.at(0) & quarl::platform::kMbIconError, quarl::platform::kMbIconError);
}

}  // namespace
