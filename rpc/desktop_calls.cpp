#include "rpc/desktop_calls.h"

#include <cctype>
#include <cstdio>
#include <string>

#include "common/platform/msgbox.h"
#include "common/platform/shell.h"
#include "common/platform/standard_dialogs.h"
#include "common/text.h"
#include "rpc/field_dialog.h"
#include "rpc/item_list.h"

namespace quarl::rpc {
namespace {

using namespace quarl::platform;

struct Keyword {
  std::string_view name;
  unsigned value;
};

constexpr Keyword kMessageBoxFlags[] = {
    {"MB_ABORTRETRYIGNORE", kMbAbortRetryIgnore}, {"MB_OK", kMbOk},
    {"MB_OKCANCEL", kMbOkCancel},                 {"MB_RETRYCANCEL", kMbRetryCancel},
    {"MB_YESNO", kMbYesNo},                       {"MB_YESNOCANCEL", kMbYesNoCancel},
    {"MB_ICONEXCLAMATION", kMbIconExclamation},   {"MB_ICONHAND", kMbIconError},
    {"MB_ICONINFORMATION", kMbIconInformation},   {"MB_ICONASTERISK", kMbIconInformation},
    {"MB_ICONSTOP", kMbIconError},                {"MB_DEFBUTTON1", kMbDefButton1},
    {"MB_DEFBUTTON2", kMbDefButton2},             {"MB_DEFBUTTON3", kMbDefButton3},
    {"MB_APPLMODAL", kMbApplModal},               {"MB_SYSTEMMODAL", kMbSystemModal},
    {"MB_TASKMODAL", kMbTaskModal},               {"MB_ICONQUESTION", kMbIconQuestion},
    {"MB_ICONERROR", kMbIconError},               {"MB_ICONWARNING", kMbIconExclamation},
    {"MB_RIGHT", kMbRight},                       {"MB_RTLREADING", kMbRtlReading},
    {"MB_SETFOREGROUND", kMbSetForeground},       {"MB_TOPMOST", kMbTopmost},
    {"MB_DEFBUTTON4", kMbDefButton4},
};

// Help commands and what each does here (the README's "Dialogs, help, shell
// and settings files" tells users):
// the file is opened with the desktop's viewer for its type; HTML help is
// opened at an anchor for a context number or a keyword; HELP_QUIT and
// HELP_SETCONTENTS show nothing.
enum : unsigned {
  kHelpContext = 1, kHelpQuit = 2, kHelpContents = 3, kHelpHelpOnHelp = 4, kHelpSetContents = 5,
  kHelpContextPopup = 8, kHelpForceFile = 9, kHelpFinder = 11, kHelpKey = 257, kHelpCommand = 258,
  kHelpPartialKey = 261
};
constexpr Keyword kHelpCommands[] = {
    {"HELP_CONTENTS", kHelpContents},     {"HELP_CONTEXT", kHelpContext},       {"HELP_CONTEXTPOPUP", kHelpContextPopup},
    {"HELP_FORCEFILE", kHelpForceFile},   {"HELP_HELPONHELP", kHelpHelpOnHelp}, {"HELP_INDEX", kHelpContents},
    {"HELP_QUIT", kHelpQuit},             {"HELP_SETCONTENTS", kHelpSetContents}, {"HELP_KEY", kHelpKey},
    {"HELP_PARTIALKEY", kHelpPartialKey}, {"HELP_COMMAND", kHelpCommand},       {"HELP_FINDER", kHelpFinder},
};

std::optional<unsigned> find(const auto& table, std::string_view name) {
  for (const Keyword& k : table)
    if (k.name == name) return k.value;
  return std::nullopt;
}

bool is_html(std::string_view file) {
  size_t dot = file.rfind('.');
  if (dot == std::string_view::npos) return false;
  std::string_view ext = file.substr(dot + 1);
  return iequals(ext, "htm") || iequals(ext, "html") || iequals(ext, "xhtml");
}

// A colour component: the low byte of the number, as the Win32 RGB macro takes it.
int component(std::string_view item) { return static_cast<int>(leading_integer(item) & 0xFF); }

constexpr size_t kFaceNameMax = 31;
constexpr size_t kFileNameMax = 255;

}  // namespace

std::optional<unsigned> parse_message_box_flags(std::string_view text) {
  unsigned value = 0;
  size_t at = 0;
  auto skip_blanks = [&] {
    while (at < text.size() && text[at] == ' ') ++at;
  };
  skip_blanks();
  if (at == text.size()) return 0;
  for (;;) {
    size_t start = at;
    while (at < text.size() && text[at] != ' ' && text[at] != '|') ++at;
    auto flag = find(kMessageBoxFlags, text.substr(start, at - start));
    if (!flag) return std::nullopt;  // unknown, or empty
    value |= *flag;
    skip_blanks();
    if (at == text.size()) return value;
    if (text[at] != '|') return std::nullopt;  // two keywords with blanks only between them
    ++at;
    skip_blanks();
    if (at == text.size()) return value;  // a "|" at the end
  }
}

std::string_view answer_keyword(int answer) {
  switch (answer) {
    case kIdOk: return "IDOK";
    case kIdCancel: return "IDCANCEL";
    case kIdAbort: return "IDABORT";
    case kIdRetry: return "IDRETRY";
    case kIdIgnore: return "IDIGNORE";
    case kIdYes: return "IDYES";
    case kIdNo: return "IDNO";
    case 10: return "IDTRYAGAIN";
    case 11: return "IDCONTINUE";
    default: return {};
  }
}

std::optional<unsigned> help_command(std::string_view keyword) { return find(kHelpCommands, keyword); }

Status DesktopCalls::msg_box(Buffer buffer) {
  ItemList items(buffer);
  std::string text = items.next();
  std::string caption = items.more() ? items.next() : std::string();
  std::string flags_text = items.more() ? items.next() : std::string();
  auto flags = parse_message_box_flags(flags_text);
  if (!flags) return error_.fail("Invalid flag in " + flags_text);
  int answer = message_box(nullptr, text, caption, *flags);
  if (answer == 0) return error_.fail("Cannot create message box");
  buffer.put(answer_keyword(answer));
  return kOk;
}

Status DesktopCalls::win_help(Buffer buffer) {
  if (buffer.text().empty()) return error_.fail("You must specify a Windows help file name");
  ItemList items(buffer);
  std::string file = items.next();
  unsigned command = kHelpContents;
  if (items.more()) {
    std::string keyword = items.next();
    auto found = help_command(keyword);
    if (!found) return error_.fail("Invalid HELP command->" + keyword);
    command = *found;
  }
  std::string data = items.more() ? items.next() : std::string();
  const bool text_data = command == kHelpKey || command == kHelpPartialKey || command == kHelpCommand;
  std::string anchor;
  if (command == kHelpContext || command == kHelpContextPopup) {
    anchor = std::to_string(static_cast<uint32_t>(leading_integer(data)));
  } else if (text_data && command != kHelpCommand) {
    anchor = data;
  }
  // Nothing to show: the desktop's viewer is a program of its own, which
  // this library neither keeps a contents topic for nor closes.
  if (command == kHelpQuit || command == kHelpSetContents) return kOk;
  if (open_document(file, is_html(file) ? anchor : std::string()) != kShellOk)
    return error_.fail("Cannot open help file " + file);
  return kOk;
}

Status DesktopCalls::shell_open(Buffer buffer) {
  if (buffer.text().empty()) return error_.fail("You must specify a file name to open");
  ItemList items(buffer);
  std::string path = items.next();
  int result = open_document(path);
  if (result != kShellOk) {
    char message[64];
    std::snprintf(message, sizeof message, " (%d)", result);
    return error_.fail("Error opening file " + path + message);
  }
  return kOk;
}

Status DesktopCalls::file_dialog(Buffer buffer, bool save) {
  ItemList items(buffer);
  std::string fields[5];
  for (std::string& field : fields)
    if (items.more()) field = items.next();
  FileDialogRequest request;
  request.save = save;
  request.filter_name = fields[0] + "(*." + fields[1] + ")";
  request.extension = fields[1];
  request.directory = fields[2];
  request.title = fields[3];
  request.file_name = fields[4].substr(0, kFileNameMax);
  auto path = platform::file_dialog(request);
  if (!path) return error_.fail("IDCANCEL");
  buffer.put(*path);
  return kOk;
}

Status DesktopCalls::read_file_dialog(Buffer buffer) { return file_dialog(buffer, false); }
Status DesktopCalls::write_file_dialog(Buffer buffer) { return file_dialog(buffer, true); }

Status DesktopCalls::show_color(Buffer buffer) {
  ItemList items(buffer);
  Rgb initial;
  initial.red = component(items.next());
  initial.green = component(items.next());
  initial.blue = component(items.next());
  auto chosen = choose_color(initial);
  if (!chosen) return error_.fail("IDCANCEL");
  buffer.put(std::to_string(chosen->red) + "," + std::to_string(chosen->green) + "," + std::to_string(chosen->blue));
  return kOk;
}

Status DesktopCalls::show_font(Buffer buffer) {
  ItemList items(buffer);
  FontChoice initial;
  initial.face = items.next().substr(0, kFaceNameMax);
  initial.points = static_cast<int>(leading_integer(items.next()));
  for (char letter : items.next()) {
    switch (ascii_upper(letter)) {
      case 'B': initial.weight = 700; break;
      case 'I': initial.italic = true; break;
      case 'S': initial.strike_out = true; break;
      case 'U': initial.underline = true; break;
      default: return error_.fail(std::string("Unknown style letter = ") + ascii_upper(letter));
    }
  }
  if (items.more()) {
    initial.color.red = component(items.next());
    initial.color.green = component(items.next());
    initial.color.blue = component(items.next());
  }
  auto chosen = choose_font(initial);
  if (!chosen) return error_.fail("IDCANCEL");
  std::string styles;
  if (chosen->weight == 700) styles += 'B';
  if (chosen->underline) styles += 'U';
  if (chosen->italic) styles += 'I';
  if (chosen->strike_out) styles += 'S';
  buffer.put(chosen->face.substr(0, kFaceNameMax) + "," + std::to_string(chosen->points) + "," + styles + "," +
             std::to_string(chosen->color.red) + "," + std::to_string(chosen->color.green) + "," +
             std::to_string(chosen->color.blue));
  return kOk;
}

Status DesktopCalls::update_long_field(Buffer buffer) {
  ItemList items(buffer);
  std::string caption = items.next();
  std::string text = items.rest();
  auto edited = edit_long_field(caption, text, buffer.size());
  if (!edited) return error_.fail("Operation Cancelled");
  buffer.put(*edited);
  return kOk;
}

}  // namespace quarl::rpc
