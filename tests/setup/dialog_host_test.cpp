// The headless dialog host: which scripts it accepts, and how the scripted
// user acts on controls.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "common/platform/dialog.h"
#include "common/platform/dialog_script.h"
#include "tests/support/dialog_script.h"
#include "tests/support/test_env.h"

namespace {

using namespace quarl::platform;

constexpr ControlTemplate kControls[] = {
    {10, ControlKind::Edit, "", {0, 0, 10, 10}, 0},
    {11, ControlKind::Edit, "", {0, 0, 10, 10}, kCtlDisabled},
    {12, ControlKind::DropDownList, "", {0, 0, 10, 10}, 0},
    {1, ControlKind::DefaultPushButton, "OK", {0, 0, 10, 10}, 0},
};
constexpr DialogTemplate kDialog{77, "Probe", {0, 0, 100, 50}, "MS Sans Serif", 8, kDlgPopup, kControls};

// What the probe procedure saw.
struct Seen {
  std::vector<std::string> events;
} seen;

intptr_t probe(DialogHandle dialog, unsigned message, uintptr_t wparam, intptr_t lparam) {
  if (message == kWmInitDialog) {
    seen.events.push_back("init " + std::to_string(lparam));
    limit_item_text(dialog, 10, 4);
    list_add(dialog, 12, "a");
    list_add(dialog, 12, "b");
    return 1;
  }
  if (message != kWmCommand) return 0;
  int id = command_id(wparam);
  unsigned code = command_notification(wparam);
  seen.events.push_back(std::to_string(id) + "/" + std::to_string(code) + " " + get_item_text(dialog, id, 100));
  if (id == 1) end_dialog(dialog, 42);
  if (id == 2) end_dialog(dialog, 2);
  return 1;
}

class DialogHostTest : public ::testing::Test {
 protected:
  void SetUp() override { seen = {}; }
  void TearDown() override { ::unsetenv(kDialogScriptVariable); }
  testsupport::TempDir dir;
};

TEST_F(DialogHostTest, TheScriptedUserTypesPicksAndPresses) {
  testsupport::DialogScript script(77, {"type 10 abcdef", "type 11 x", "pick 12 b", "pick-index 12 5",
                                        "snapshot", "press 1"});
  EXPECT_EQ(dialog_box(kDialog, nullptr, probe, 5), 42);
  EXPECT_EQ(seen.events, (std::vector<std::string>{"init 5", "10/768 abcd", "12/7 ", "12/1 b", "12/7 b",
                                                   "1/0 OK"}));
  auto c = script.snapshot();
  EXPECT_EQ(c[10].text, "abcd");  // typing stops at the limit
  EXPECT_EQ(c[11].text, "");      // disabled: the user cannot type there
  EXPECT_EQ(c[12].selection, 1);
  std::string t = script.transcript();
  EXPECT_NE(t.find("refused: type 11 \"x\" (disabled)"), std::string::npos);
  EXPECT_NE(t.find("refused: pick-index 12 5 (no such entry)"), std::string::npos);
  EXPECT_NE(t.find("end 42"), std::string::npos);
}

TEST_F(DialogHostTest, ADialogLeftOpenIsCancelled) {
  testsupport::DialogScript script(77, {"type 10 x"});
  EXPECT_EQ(dialog_box(kDialog, nullptr, probe, 0), 2);
  EXPECT_EQ(seen.events.back(), "2/0 ");
}

TEST_F(DialogHostTest, OnlyAPrivateScriptForThisDialogRuns) {
  struct Case {
    const char* name;
    std::string text;
    unsigned mode;
  };
  const std::string good = "quarl-dialog-script 1\ndialog 77\npress 1\n";
  const std::vector<Case> cases = {
      {"no magic line", "dialog 77\npress 1\n", 0600},
      {"another version", "quarl-dialog-script 2\ndialog 77\npress 1\n", 0600},
      {"another dialog", "quarl-dialog-script 1\ndialog 1001\npress 1\n", 0600},
      {"no dialog line", "quarl-dialog-script 1\npress 1\n", 0600},
      {"unknown step", "quarl-dialog-script 1\ndialog 77\nclick 1\n", 0600},
      {"writable by others", good, 0622},
      {"writable by the group", good, 0620},
  };
  for (const Case& c : cases) {
    seen = {};
    auto path = dir / "script";
    testsupport::write_file(path, c.text);
    ::chmod(path.c_str(), c.mode);
    ::setenv(kDialogScriptVariable, path.c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(dialog_box(kDialog, nullptr, probe, 0), kIdCancel) << c.name;
    EXPECT_NE(testing::internal::GetCapturedStderr().find("dialog cancelled"), std::string::npos) << c.name;
    EXPECT_TRUE(seen.events.empty()) << c.name;  // the procedure never ran
  }
  ::setenv(kDialogScriptVariable, (dir / "missing").c_str(), 1);
  EXPECT_EQ(dialog_box(kDialog, nullptr, probe, 0), kIdCancel);

  auto path = dir / "script";
  testsupport::write_file(path, good);
  ::chmod(path.c_str(), 0600);
  ::setenv(kDialogScriptVariable, path.c_str(), 1);
  EXPECT_EQ(dialog_box(kDialog, nullptr, probe, 0), 42);
}

TEST_F(DialogHostTest, OperationsOnUnknownHandlesDoNothing) {
  int other = 0;
  set_item_text(&other, 10, "x");
  EXPECT_EQ(get_item_text(&other, 10, 10), "");
  EXPECT_EQ(list_add(&other, 12, "x"), -1);
  EXPECT_EQ(list_selection(&other, 12), -1);
  EXPECT_EQ(get_owner(&other), nullptr);
  EXPECT_EQ(window_rect(&other).width, kHeadlessScreen.width);
  end_dialog(nullptr, 1);
}

}  // namespace
