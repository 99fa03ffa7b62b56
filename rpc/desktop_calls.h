// The desktop's standard interactions for clients: a message box, help,
// opening a document, the open- and save-file dialogs, the colour and font
// dialogs and a dialog for editing a long text field.  Argument errors are
// reported before anything is shown; without a display a message box fails
// ("Cannot create message box") and the dialogs end as cancelled.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "rpc/buffer.h"
#include "rpc/error_text.h"

namespace quarl::rpc {

// "MB_YESNO | MB_ICONQUESTION" -> the style value; nullopt for an unknown or
// empty keyword, or two keywords with blanks only between them.  An empty
// text gives 0; one "|" at the very end is accepted.
std::optional<unsigned> parse_message_box_flags(std::string_view text);
// "IDOK" for 1 ...; empty for an answer without a keyword.
std::string_view answer_keyword(int answer);

// A help command keyword ("HELP_CONTEXT") -> its value; exact case.
std::optional<unsigned> help_command(std::string_view keyword);

class DesktopCalls {
 public:
  explicit DesktopCalls(ErrorText& error) : error_(error) {}

  Status msg_box(Buffer buffer);            // text[, caption[, flags]] -> the answer keyword
  Status win_help(Buffer buffer);           // file[, command[, data]]
  Status shell_open(Buffer buffer);         // path
  Status read_file_dialog(Buffer buffer);   // description, extension, directory, title, file name -> the path
  Status write_file_dialog(Buffer buffer);  // as read_file_dialog
  Status show_color(Buffer buffer);         // red, green, blue -> "r,g,b"
  Status show_font(Buffer buffer);          // face, points, styles[, red, green, blue] -> "face,points,styles,r,g,b"
  Status update_long_field(Buffer buffer);  // caption, then the field text -> the edited text

 private:
  Status file_dialog(Buffer buffer, bool save);

  ErrorText& error_;
};

}  // namespace quarl::rpc
