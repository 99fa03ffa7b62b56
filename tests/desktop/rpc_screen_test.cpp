// The dialogs, help and shell exports of libquarl-rpc.so on a real X
// server: a client program calls them, a person (xdotool) answers, and the
// buffer the client gets back is checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/desktop/x_session.h"
#include "tests/support/test_env.h"

namespace {

using xtest::Program;

std::string rpc_client() { return testsupport::bin_path("quarl_rpc_test_client").string(); }

// "EXPORT:LENGTH:TEXT" for the client.
std::string step(const std::string& name, const std::string& text, int length = 200) {
  return name + ":" + std::to_string(length) + ":" + text;
}

// The first buffer the client printed, less trailing blanks.
std::string buffer_of(const std::string& output) {
  size_t open = output.find('[');
  size_t close = output.find("]\n", open);
  if (open == std::string::npos || close == std::string::npos) return "(no buffer) " + output;
  std::string b = output.substr(open + 1, close - open - 1);
  while (!b.empty() && b.back() == ' ') b.pop_back();
  return b;
}

class RpcScreen : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("QUARL_PROFILE_DIR", (dir / "profile").c_str(), 1); }
  void TearDown() override { ::unsetenv("QUARL_PROFILE_DIR"); }

  // Runs one export in a client, waits for its window and presses the keys;
  // the client's output.
  std::string answer(const std::string& export_step, const std::string& window, const std::string& keys,
                     const std::string& picture = "") {
    Program program({rpc_client(), "--keep-going", export_step});
    std::string w = xtest::wait_for_window(window, &program);
    if (w.empty()) {
      ADD_FAILURE() << "no window " << window << " for " << export_step << ": " << program.output();
      return program.output();
    }
    if (!picture.empty()) xtest::screenshot(w, picture);
    xtest::keys(w, keys);
    EXPECT_GE(program.wait(), 0) << program.output();  // 1 when the call failed
    return program.output();
  }

  testsupport::TempDir dir;
  xtest::XServer x;
};

TEST_F(RpcScreen, MessageBoxesAnsweredByKey) {
  struct Case {
    std::string text, window, keys, answer, picture;
  };
  const Case cases[] = {
      {"Hello", "^Error$", "Return", "IDOK", "msgbox-default-caption"},
      {"Proceed?,Check,MB_YESNO | MB_ICONQUESTION", "^Check$", "n", "IDNO", "msgbox-yesno-question"},
      {"Proceed?,Check,MB_YESNO|MB_DEFBUTTON2", "^Check$", "Return", "IDNO", ""},
      // Without a Cancel button Escape does nothing; Enter takes the default.
      {"Sure?,Check,MB_YESNO", "^Check$", "Escape Return", "IDYES", ""},
      {"Save?,Check,MB_YESNOCANCEL|MB_ICONWARNING", "^Check$", "Escape", "IDCANCEL", "msgbox-yesnocancel-warning"},
      {"Failed,Check,MB_ABORTRETRYIGNORE|MB_DEFBUTTON3|MB_ICONSTOP", "^Check$", "Return", "IDIGNORE",
       "msgbox-abortretryignore-stop"},
      {"Failed,Check,MB_ABORTRETRYIGNORE", "^Check$", "r", "IDRETRY", ""},
      {"Busy,Check,MB_RETRYCANCEL|MB_ICONINFORMATION", "^Check$", "Tab Return", "IDCANCEL",
       "msgbox-retrycancel-information"},
      // No fourth button: the first is the default.
      {"Go,Check,MB_OKCANCEL|MB_DEFBUTTON4|MB_TOPMOST", "^Check$", "Return", "IDOK", ""},
      {"Done,Check,MB_OK|MB_ICONEXCLAMATION|MB_RIGHT", "^Check$", "Escape", "IDOK", "msgbox-ok-exclamation-right"},
  };
  for (const Case& c : cases) {
    std::string out = answer(step("MsgBox", c.text), c.window, c.keys, c.picture);
    EXPECT_EQ(buffer_of(out), c.answer) << c.text << ": " << out;
  }
  // A style Windows refuses too shows nothing.
  Program program({rpc_client(), "--keep-going", step("MsgBox", "x,Check,MB_ABORTRETRYIGNORE|MB_YESNOCANCEL|MB_YESNO")});
  program.wait();
  EXPECT_NE(program.output().find("error: MsgBox: Cannot create message box"), std::string::npos) << program.output();
}

TEST_F(RpcScreen, FileDialogsConfirmedAndCancelled) {
  const std::string folder = (dir / "files").string();
  testsupport::write_file(dir / "files" / "a.txt", "a");
  testsupport::write_file(dir / "files" / "b.dat", "b");
  std::string out = answer(step("ReadFileDialog", "Text files,txt," + folder + ",Pick a file,a.txt"), "^Pick a file$",
                           "Return", "file-open-dialog");
  EXPECT_EQ(buffer_of(out), folder + "/a.txt") << out;

  out = answer(step("ReadFileDialog", "Text files,txt," + folder + ",Pick a file,a.txt"), "^Pick a file$", "Escape");
  EXPECT_NE(out.find("error: ReadFileDialog: IDCANCEL"), std::string::npos) << out;

  // A name typed without an extension gets the filter's.
  out = answer(step("WriteFileDialog", "Text files,txt," + folder + ",Save the report,report"), "^Save the report$",
               "Return", "file-save-dialog");
  EXPECT_EQ(buffer_of(out), folder + "/report.txt") << out;

  // ... and when that names a file that exists, the user is asked first
  // (however the name came about: the dialog may also complete "a" itself).
  Program save({rpc_client(), "--keep-going", step("WriteFileDialog", "Text files,txt," + folder + ",Save it,a")});
  std::string w = xtest::wait_for_window("^Save it$", &save);
  ASSERT_FALSE(w.empty()) << save.output();
  xtest::keys(w, "Return");
  std::string confirm = xtest::wait_for_window("^Confirm Save As$", &save);
  ASSERT_FALSE(confirm.empty()) << save.output();
  xtest::screenshot(confirm, "file-save-replace-question");
  xtest::keys(confirm, "y");
  ASSERT_EQ(save.wait(), 0) << save.output();
  EXPECT_EQ(buffer_of(save.output()), folder + "/a.txt") << save.output();
}

TEST_F(RpcScreen, ColourAndFontDialogsReturnTheChoice) {
  EXPECT_EQ(buffer_of(answer(step("ShowColor", "10,200,30"), "^Color$", "Return", "colour-dialog")), "10,200,30");
  // Components keep their low byte; an empty buffer starts from black.
  EXPECT_EQ(buffer_of(answer(step("ShowColor", "266,-1"), "^Color$", "Return")), "10,255,0");
  EXPECT_EQ(buffer_of(answer(step("ShowColor", ""), "^Color$", "Return")), "0,0,0");
  std::string out = answer(step("ShowColor", "1,2,3"), "^Color$", "Escape");
  EXPECT_NE(out.find("error: ShowColor: IDCANCEL"), std::string::npos) << out;

  EXPECT_EQ(buffer_of(answer(step("ShowFont", "DejaVu Sans,12,bi"), "^Font$", "Return", "font-dialog")),
            "DejaVu Sans,12,BI,0,0,0");
  EXPECT_EQ(buffer_of(answer(step("ShowFont", "DejaVu Serif,9,SU,255,0,128"), "^Font$", "Return")),
            "DejaVu Serif,9,US,255,0,128");
  out = answer(step("ShowFont", "DejaVu Sans,12,"), "^Font$", "Escape");
  EXPECT_NE(out.find("error: ShowFont: IDCANCEL"), std::string::npos) << out;
}

TEST_F(RpcScreen, UpdateLongFieldEditsAndKeepsItsPlacement) {
  const auto ini = dir / "profile" / "quarl.ini";
  // The first time the dialog opens in the middle of the screen.
  Program first({rpc_client(), "--keep-going", step("UpdateLongField", "Notes,first part, second part", 40)});
  std::string w = xtest::wait_for_window("^Notes$", &first);
  ASSERT_FALSE(w.empty()) << first.output();
  xtest::screenshot(w, "field-edit-dialog");
  xtest::Geometry g = xtest::geometry(w);
  EXPECT_NEAR(g.x + g.width / 2, 640, 2);
  EXPECT_NEAR(g.y + g.height / 2, 512, 2);
  // The caret starts at the beginning; Ctrl+Enter breaks the line, Enter is OK.
  xtest::type(w, "X");
  xtest::keys(w, "ctrl+Return");
  xtest::type(w, "Y");
  xtest::xdotool("windowsize --sync " + w + " 400 200 windowmove --sync " + w + " 50 60");
  xtest::screenshot(w, "field-edit-dialog-resized");
  xtest::keys(w, "Return");
  ASSERT_EQ(first.wait(), 0) << first.output();
  EXPECT_EQ(buffer_of(first.output()), "X\r\nYfirst part, second part") << first.output();
  EXPECT_EQ(testsupport::read_file(ini), "[rpc]\nWindowPos=0,1,-1,-1,-1,-1,50,60,450,260\n");

  // The next time the placement is applied; Escape cancels and keeps it.
  Program second({rpc_client(), "--keep-going", step("UpdateLongField", ",text", 12)});
  w = xtest::wait_for_window("^Edit$", &second);
  ASSERT_FALSE(w.empty()) << second.output();
  g = xtest::geometry(w);
  EXPECT_EQ(g.x, 50);
  EXPECT_EQ(g.y, 60);
  EXPECT_EQ(g.width, 400);
  EXPECT_EQ(g.height, 200);
  xtest::keys(w, "Escape");
  ASSERT_EQ(second.wait(), 1) << second.output();
  EXPECT_NE(second.output().find("error: UpdateLongField: Operation Cancelled"), std::string::npos)
      << second.output();
  EXPECT_EQ(testsupport::read_file(ini), "[rpc]\nWindowPos=0,1,-1,-1,-1,-1,50,60,450,260\n");

  // The edit takes no more than the buffer holds.
  std::string out = answer(step("UpdateLongField", ",abcdefghij", 12), "^Edit$", "X Y Z Return");
  EXPECT_EQ(buffer_of(out), "XYabcdefghij") << out;
}

// A desktop whose handler for HTML and text files records what it was asked to open.
class ShellScreen : public RpcScreen {
 protected:
  void SetUp() override {
    RpcScreen::SetUp();
    opened = dir / "opened.txt";
    testsupport::write_file(dir / "recorder", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + opened.string() + "'\n");
    std::filesystem::permissions(dir / "recorder", std::filesystem::perms::owner_all);
    testsupport::write_file(dir / "data" / "applications" / "quarl-recorder.desktop",
                            "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + (dir / "recorder").string() +
                                " %u\nMimeType=text/html;text/plain;\n");
    testsupport::write_file(dir / "config" / "mimeapps.list",
                            "[Default Applications]\ntext/html=quarl-recorder.desktop\n"
                            "text/plain=quarl-recorder.desktop\n");
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", "/usr/share", 1);
    testsupport::write_file(dir / "help.html", "<html></html>");
    testsupport::write_file(dir / "doc.txt", "text");
    testsupport::write_file(dir / "blob.quarl-unknown", std::string(64, '\1'));
  }
  void TearDown() override {
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS"}) ::unsetenv(name);
    RpcScreen::TearDown();
  }

  // Runs the calls; their buffers and errors.
  std::string call(const std::vector<std::string>& steps) {
    std::vector<std::string> argv{rpc_client(), "--keep-going"};
    argv.insert(argv.end(), steps.begin(), steps.end());
    Program program(argv);
    EXPECT_EQ(program.wait(), 1) << program.output();  // some steps fail on purpose
    return program.output();
  }
  // What the handler was asked to open, once it has been asked count times.
  std::string recorded(size_t count) {
    auto deadline = std::chrono::steady_clock::now() + xtest::kBound;
    std::string text;
    while (std::chrono::steady_clock::now() < deadline) {
      text = testsupport::read_file(opened);
      if (size_t(std::count(text.begin(), text.end(), '\n')) >= count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return text;
  }

  std::filesystem::path opened;
};

TEST_F(ShellScreen, DocumentsAndHelpOpenWithTheDesktopsHandler) {
  const std::string d = dir.path().string();
  std::string out = call({step("ShellOpen", d + "/doc.txt"), step("WinHelp", d + "/help.html"),
                          step("WinHelp", d + "/help.html,HELP_CONTEXT,42"),
                          step("WinHelp", d + "/help.html,HELP_KEY,printing"),
                          step("WinHelp", d + "/help.html,HELP_QUIT"),
                          step("WinHelp", d + "/doc.txt,HELP_CONTEXTPOPUP,7"),
                          step("ShellOpen", d + "/missing.txt"), step("ShellOpen", d + "/no/doc.txt"),
                          step("ShellOpen", d + "/blob.quarl-unknown"), step("WinHelp", d + "/missing.html")});
  EXPECT_NE(out.find("error: ShellOpen: Error opening file " + d + "/missing.txt (2)"), std::string::npos) << out;
  EXPECT_NE(out.find("error: ShellOpen: Error opening file " + d + "/no/doc.txt (3)"), std::string::npos) << out;
  EXPECT_NE(out.find("error: ShellOpen: Error opening file " + d + "/blob.quarl-unknown (31)"), std::string::npos)
      << out;
  EXPECT_NE(out.find("error: WinHelp: Cannot open help file " + d + "/missing.html"), std::string::npos) << out;
  // The handler runs on its own, so the order of its records is its own
  // too.  Files come as paths, anchors in addresses.
  std::string text = recorded(5);
  const std::string uri = "file://" + d;
  for (const std::string& expected : {d + "/doc.txt\n", d + "/help.html\n", uri + "/help.html#42\n",
                                      uri + "/help.html#printing\n"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << " in\n" << text;
  // Help in a text file has no anchors; HELP_QUIT opened nothing.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5) << text;
  EXPECT_EQ(text.find('#' + std::string("7")), std::string::npos) << text;
}

}  // namespace
