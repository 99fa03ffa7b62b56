// The desktop exports in a process without a display: argument errors as
// specified, a message box that cannot be created, dialogs that end as
// cancelled, no clipboard to open, settings files in the profile folder;
// and the desktop library is never loaded.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "tests/rpc/rpc_library.h"
#include "tests/support/test_env.h"

namespace {

using rpctest::padded;
using rpctest::RpcLibrary;

class DesktopHeadless : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("QUARL_PROFILE_DIR", (dir.path() / "profile").c_str(), 1); }
  void TearDown() override { ::unsetenv("QUARL_PROFILE_DIR"); }

  // The buffer after a call that must succeed.
  std::string ok(const char* name, std::string_view text, int length = 64) {
    std::string out = lib.call(name, text, length);
    EXPECT_NE(out.substr(0, 5), "*****") << name << " " << text << ": " << lib.error();
    return out;
  }
  // The message of a call that must fail.
  std::string fails(const char* name, std::string_view text, int length = 64) {
    std::string out = lib.call(name, text, length);
    EXPECT_EQ(out, padded("*****", size_t(length))) << name << " " << text;
    return lib.error();
  }

  testsupport::TempDir dir;
  RpcLibrary lib;
};

TEST_F(DesktopHeadless, ArgumentErrorsComeFirstThenTheDialogsEndAsCancelled) {
  struct Case {
    const char* name;
    std::string text;
    std::string message;
  };
  const std::string missing_dir = (dir / "no-such-folder" / "doc.txt").string();
  const std::string missing_file = (dir / "doc.txt").string();
  testsupport::write_file(dir / "there.txt", "x");
  const Case cases[] = {
      {"MsgBox", "x,Check,MB_YESNO MB_ICONQUESTION", "Invalid flag in MB_YESNO MB_ICONQUESTION"},
      {"MsgBox", "x,Check,mb_ok", "Invalid flag in mb_ok"},
      {"MsgBox", "Hello", "Cannot create message box"},
      {"MsgBox", "Proceed?,Check,MB_YESNO | MB_ICONQUESTION", "Cannot create message box"},
      {"WinHelp", "", "You must specify a Windows help file name"},
      {"WinHelp", "app.hlp,help_key", "Invalid HELP command->help_key"},
      {"WinHelp", "app.hlp, ,42", "Invalid HELP command->"},
      {"WinHelp", "app.hlp,HELP_CONTEXT,42", "Cannot open help file app.hlp"},
      {"WinHelp", (dir / "there.txt").string(), "Cannot open help file " + (dir / "there.txt").string()},
      {"ShellOpen", "", "You must specify a file name to open"},
      {"ShellOpen", missing_file, "Error opening file " + missing_file + " (2)"},
      {"ShellOpen", missing_dir, "Error opening file " + missing_dir + " (3)"},
      {"ShellOpen", (dir / "there.txt").string(), "Error opening file " + (dir / "there.txt").string() + " (31)"},
      {"ReadFileDialog", "Text files,txt", "IDCANCEL"},
      {"WriteFileDialog", "Text files,txt," + dir.path().string() + ",Save,out", "IDCANCEL"},
      {"ShowColor", "", "IDCANCEL"},
      {"ShowFont", "Sans,12,bx", "Unknown style letter = X"},
      {"ShowFont", "Sans,12,BIUS,1,2,3", "IDCANCEL"},
      {"UpdateLongField", "Notes,first part, second part", "Operation Cancelled"},
  };
  for (const Case& c : cases) EXPECT_EQ(fails(c.name, c.text, 200), c.message) << c.name << " " << c.text;
  // Commands that show nothing succeed without a viewer.
  EXPECT_EQ(ok("WinHelp", "app.hlp,HELP_QUIT"), padded("app.hlp,HELP_QUIT", 64));
  EXPECT_EQ(ok("WinHelp", "app.hlp,HELP_SETCONTENTS,3"), padded("app.hlp,HELP_SETCONTENTS,3", 64));
}

TEST_F(DesktopHeadless, NoClipboardToOpen) {
  for (const char* name : {"PutClipboard", "GetClipboard", "OpenClipboardIn", "OpenClipboardOut"})
    EXPECT_EQ(fails(name, "text"), "Cannot open clipboard") << name;
  for (const char* name : {"GetClipboardLine", "CloseClipboardIn", "PutClipboardLine", "CloseClipboardOut"})
    EXPECT_EQ(fails(name, "text"), "Clipboard not open") << name;
}

TEST_F(DesktopHeadless, TheDesktopLibraryIsNeverLoaded) {
  for (const char* name : {"MsgBox", "ShowColor", "GetClipboard", "ShellOpen", "UpdateLongField"})
    lib.call(name, "x,y", 20);
  for (const char* library : {"libquarl-gtk.so", "libgtk-3.so.0", "libgdk-3.so.0"}) {
    void* loaded = ::dlopen(library, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(loaded, nullptr) << library;
    if (loaded) ::dlclose(loaded);
  }
}

TEST_F(DesktopHeadless, SettingsFilesWithoutAFolderLiveInTheProfileFolder) {
  EXPECT_EQ(ok("PutIniFileParam", "my.ini, sect , key ,value, with commas"),
            padded("my.ini, sect , key ,value, with commas", 64));
  EXPECT_EQ(testsupport::read_file(dir / "profile" / "my.ini"), "[sect]\nkey=value, with commas\n");
  ok("PutIniFileParam", "my.ini,sect,other,2");
  EXPECT_EQ(ok("GetIniFileParam", "my.ini,sect,key,fallback"), padded("value, with commas", 64));
  EXPECT_EQ(ok("GetIniFileParam", "my.ini,sect,missing,fallback value"), padded("fallback value", 64));
  // Empty section or key: the names, each ended by a zero byte.
  EXPECT_EQ(ok("GetIniFileParam", "my.ini,,,", 12), std::string("sect\0", 5) + std::string(7, ' '));
  EXPECT_EQ(ok("GetIniFileParam", "my.ini,sect,,", 12), std::string("key\0other\0", 10) + "  ");
  // An empty value removes the key; an empty key the section.
  ok("PutIniFileParam", "my.ini,sect,key");
  EXPECT_EQ(ok("GetIniFileParam", "my.ini,sect,key,gone"), padded("gone", 64));
  ok("PutIniFileParam", "my.ini,sect,,");
  EXPECT_EQ(testsupport::read_file(dir / "profile" / "my.ini"), "");
  // A file named with a folder is used where it says.
  const std::string named = (dir / "named.ini").string();
  ok("PutIniFileParam", named + ",a,b,c");
  EXPECT_EQ(testsupport::read_file(dir / "named.ini"), "[a]\nb=c\n");
  // Errors carry the system's error number.
  testsupport::write_file(dir / "there.txt", "x");
  EXPECT_EQ(fails("PutIniFileParam", "my.ini,,key,value"), "Error writing profile string = 22");
  EXPECT_EQ(fails("PutIniFileParam", (dir / "there.txt" / "x.ini").string() + ",a,b,c", 200),
            "Error writing profile string = 20");
}

}  // namespace
