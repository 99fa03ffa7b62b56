// The system clipboard's text.  On a desktop it is the display's clipboard
// (the X11 CLIPBOARD selection, or Wayland's), through desktop.h; headless
// there is no clipboard to open.
//
// Text is UTF-8 on the desktop side.  What a client puts is published as
// UTF-8: a zero byte ends it (as the clipboard's text format always did) and
// each byte that does not belong to a valid UTF-8 sequence is taken as the
// Windows-1252 character of that code (0xE9 becomes "é"), so other programs
// always receive valid text.  What is read comes as the other program offered
// it in UTF-8 (Latin-1 text converted), up to its first zero byte.
#pragma once

#include <string>
#include <string_view>

#include "common/platform/desktop.h"

namespace quarl::platform {

// Whether a clipboard can be opened in this process (a desktop is there).
bool clipboard_available();
ClipboardStatus read_clipboard_text(std::string& text);
// Empty text leaves the clipboard empty.  The text stays available to other
// programs after this process ends.
ClipboardStatus write_clipboard_text(std::string_view text);

// text up to its first zero byte, as valid UTF-8 (the rule above).
std::string clipboard_text_as_utf8(std::string_view text);

}  // namespace quarl::platform
