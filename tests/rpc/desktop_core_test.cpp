// The pure parts of the desktop exports: message box flags, help commands,
// the field dialog's window placement, the clipboard's conversions and line
// splitting, the text published to other programs; and the field dialog's
// procedure driven by the scripted user.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/platform/clipboard.h"
#include "common/platform/dialog.h"
#include "common/platform/msgbox.h"
#include "common/platform/profile.h"
#include "rpc/clipboard.h"
#include "rpc/desktop_calls.h"
#include "rpc/field_dialog.h"
#include "rpc/item_list.h"
#include "tests/support/dialog_script.h"
#include "tests/support/test_env.h"

namespace {

using namespace quarl::rpc;
namespace platform = quarl::platform;

TEST(MessageBoxFlags, KeywordsJoinedByBars) {
  struct Case {
    std::string text;
    std::optional<unsigned> style;
  };
  const Case cases[] = {
      {"", 0u},
      {"MB_OK", 0u},
      {"MB_YESNO | MB_ICONQUESTION", 0x24u},
      {"  MB_YESNOCANCEL|MB_ICONWARNING|MB_DEFBUTTON3", 0x233u},
      {"MB_ICONSTOP|MB_ICONHAND|MB_ICONERROR", 0x10u},
      {"MB_ICONASTERISK | MB_ICONINFORMATION", 0x40u},
      {"MB_SYSTEMMODAL|MB_TASKMODAL|MB_APPLMODAL", 0x3000u},
      {"MB_RIGHT|MB_RTLREADING|MB_SETFOREGROUND|MB_TOPMOST|MB_DEFBUTTON4", 0x1D0300u},
      {"MB_OK |", 0u},  // a bar at the very end is accepted
      {"MB_YESNO MB_ICONQUESTION", std::nullopt},  // blanks only between keywords
      {"mb_ok", std::nullopt},                     // case matters
      {"MB_OK||MB_ICONSTOP", std::nullopt},        // an empty keyword
      {"|MB_OK", std::nullopt},
      {"|", std::nullopt},
      {"MB_OK | | ", std::nullopt},
      {"MB_OKAY", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_message_box_flags(c.text), c.style) << c.text;
}

TEST(MessageBoxFlags, AnswersAndHelpCommands) {
  const char* answers[] = {"", "IDOK", "IDCANCEL", "IDABORT", "IDRETRY", "IDIGNORE", "IDYES", "IDNO"};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(answer_keyword(i), answers[i]);
  EXPECT_EQ(help_command("HELP_CONTEXT"), 1u);
  EXPECT_EQ(help_command("HELP_INDEX"), 3u);
  EXPECT_EQ(help_command("HELP_CONTENTS"), 3u);
  EXPECT_EQ(help_command("HELP_PARTIALKEY"), 261u);
  EXPECT_EQ(help_command("HELP_FINDER"), 11u);
  EXPECT_EQ(help_command("help_key"), std::nullopt);
}

TEST(ItemList, RestKeepsCommasAndDropsLeadingBlanks) {
  ItemList items(std::string_view("Notes,first part, second part   "));
  EXPECT_EQ(items.next(), "Notes");
  EXPECT_EQ(items.rest(), "first part, second part");
  EXPECT_FALSE(items.more());
  EXPECT_EQ(ItemList(std::string_view("my.ini,sect,key")).rest(), "my.ini,sect,key");
  ItemList none(std::string_view("a"));
  none.next();
  EXPECT_EQ(none.rest(), "");
}

TEST(FieldDialogPlacement, TenNumbersExactly) {
  auto p = parse_window_placement("2,3,-1,-1,-32000,-32000, 10 ,20,510,320");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->flags, 2u);
  EXPECT_EQ(p->show, 3u);
  EXPECT_EQ(p->max_x, -32000);
  EXPECT_EQ(p->left, 10);
  EXPECT_EQ(p->bottom, 320);
  EXPECT_EQ(format_window_placement(*p), "2,3,-1,-1,-32000,-32000,10,20,510,320");
  for (const char* bad : {"", "1,2,3,4,5,6,7,8,9", "1,2,3,4,5,6,7,8,9,10,11", "1,2,3,4,5,6,7,8,9,x",
                          "-1,1,0,0,0,0,0,0,10,10", "0,1,0,0,0,0,0,0,10,", "0,1,0,0,0,0,0,0,10,99999999999"})
    EXPECT_FALSE(parse_window_placement(bad)) << bad;
}

class ClipboardText : public ::testing::Test {
 protected:
  ErrorText error;
  SpecialChars special{error};

  std::string buffer_of(std::string_view text, size_t size) {
    std::string area(size, 'x');
    put_clipboard_text(text, special, Buffer(area.data(), area.size()));
    return area;
  }
  // Every line as GetClipboardLine returns them with a buffer of size bytes.
  std::vector<std::string> lines_of(std::string_view text, size_t size) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
      std::string area(size, 'x');
      at = put_clipboard_line(text, at, special, Buffer(area.data(), area.size()));
      lines.push_back(area);
    }
    return lines;
  }
};

TEST_F(ClipboardText, OutgoingSpecialCharacters) {
  EXPECT_EQ(to_clipboard_text("a#b@c", special), "a\r\nb\tc");
  EXPECT_EQ(to_clipboard_text("[x]y", special), "\rx\ny");
  EXPECT_EQ(to_clipboard_text("~ stays", special), "~ stays");  // NULL is never converted
  // The first special character that matches decides.
  special.set_special_char(Buffer(std::string("tab,#").data(), 5));
  EXPECT_EQ(to_clipboard_text("a#b", special), "a\tb");
  special.disable_special_ch(Buffer(nullptr, 0));
  EXPECT_EQ(to_clipboard_text("a#b@c", special), "a#b@c");
}

TEST_F(ClipboardText, IncomingWholeText) {
  EXPECT_EQ(buffer_of("a\r\nb\tc", 10), "a#b@c     ");
  EXPECT_EQ(buffer_of("x\ry\nz", 6), "x[y]z ");
  // A pair counts as two consumed characters.
  EXPECT_EQ(buffer_of("a\r\nbc", 4), "a#b ");
  EXPECT_EQ(buffer_of("abcdef", 3), "abc");
  EXPECT_EQ(buffer_of("", 3), "   ");
  special.disable_special_ch(Buffer(nullptr, 0));
  EXPECT_EQ(buffer_of("a\r\nb", 6), "a\r\nb  ");
}

TEST_F(ClipboardText, LinesByBufferSize) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(lines_of("one\r\ntwo\r\n", 5), (Lines{"one  ", "two  "}));
  EXPECT_EQ(lines_of("one\r\nlast", 5), (Lines{"one  ", "last "}));
  // A line longer than the buffer comes over two calls.
  EXPECT_EQ(lines_of("abcde", 3), (Lines{"abc", "de "}));
  // A line that fills the buffer exactly has ended: no empty line follows.
  EXPECT_EQ(lines_of("abc\r\ndef\r\n", 3), (Lines{"abc", "def"}));
  EXPECT_EQ(lines_of("\r\n\r\nx", 2), (Lines{"  ", "  ", "x "}));
  // Lone carriage returns always show as "[", tabs and line feeds while the flag is on.
  EXPECT_EQ(lines_of("a\rb\tc\nd", 8), (Lines{"a[b@c]d "}));
  special.disable_special_ch(Buffer(nullptr, 0));
  EXPECT_EQ(lines_of("a\rb\tc\nd", 8), (Lines{"a[b\tc\nd "}));
}

TEST(ClipboardPublishing, TextBecomesValidUtf8) {
  EXPECT_EQ(platform::clipboard_text_as_utf8("plain"), "plain");
  EXPECT_EQ(platform::clipboard_text_as_utf8("caf\xC3\xA9"), "caf\xC3\xA9");  // UTF-8 stays
  EXPECT_EQ(platform::clipboard_text_as_utf8("caf\xE9"), "caf\xC3\xA9");      // a Latin-1 byte
  EXPECT_EQ(platform::clipboard_text_as_utf8("\x80 \x9F \x81"), "\xE2\x82\xAC \xC5\xB8 \xC2\x81");  // Windows-1252
  EXPECT_EQ(platform::clipboard_text_as_utf8("\xC3("), "\xC3\x83(");          // a cut sequence
  EXPECT_EQ(platform::clipboard_text_as_utf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");  // a surrogate
  EXPECT_EQ(platform::clipboard_text_as_utf8("\xF0\x9F\x98\x80!"), "\xF0\x9F\x98\x80!");
  EXPECT_EQ(platform::clipboard_text_as_utf8(std::string_view("ab\0cd", 5)), "ab");  // a zero byte ends it
}

// The field dialog's procedure, played by the scripted user where no screen is.
class FieldDialogScript : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("QUARL_PROFILE_DIR", dir.path().c_str(), 1); }
  void TearDown() override { ::unsetenv("QUARL_PROFILE_DIR"); }
  testsupport::TempDir dir;
};

TEST_F(FieldDialogScript, EditsKeepsPlacementAndLimit) {
  platform::write_private_profile_string("rpc", "WindowPos", "0,1,-1,-1,-1,-1,100,50,600,350", "quarl.ini");
  {
    testsupport::DialogScript script(kFieldDialogResource, {"type 1000 \"new text, longer than twelve\"", "press 1"});
    EXPECT_EQ(edit_long_field("", "old", 12), "new text, lo");  // the edit takes the buffer's length
    std::string t = script.transcript();
    EXPECT_NE(t.find("title \"Edit\""), std::string::npos) << t;
    EXPECT_NE(t.find("placement 100,50,600,350"), std::string::npos) << t;
    EXPECT_NE(t.find("caret 1000 0"), std::string::npos) << t;
  }
  EXPECT_EQ(platform::get_private_profile_string("rpc", "WindowPos", "", "quarl.ini"),
            "0,1,-1,-1,-1,-1,100,50,600,350");
  {
    testsupport::DialogScript script(kFieldDialogResource, {"press 2"});
    EXPECT_EQ(edit_long_field("Notes", "old", 100), std::nullopt);
  }
}

TEST_F(FieldDialogScript, MoreThan9999CharactersAreRefusedAndTheDialogStays) {
  struct Box : platform::MessageBoxBackend {
    int show(void*, std::string_view text, std::string_view, unsigned) override {
      texts.emplace_back(text);
      return platform::kIdOk;
    }
    std::vector<std::string> texts;
  } box;
  auto* old = platform::set_message_box_backend(&box);
  testsupport::DialogScript script(kFieldDialogResource,
                                   {"type 1000 \"" + std::string(10000, 'a') + "\"", "press 1",
                                    "type 1000 \"" + std::string(9999, 'b') + "\"", "press 1"});
  auto edited = edit_long_field("Notes", "", 20000);
  platform::set_message_box_backend(old);
  EXPECT_EQ(edited, std::string(9999, 'b'));
  EXPECT_EQ(box.texts, std::vector<std::string>{"Please enter no more than 9999 characters."});
}

}  // namespace
