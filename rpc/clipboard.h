// The clipboard exports: the whole text at once, or line by line.  Carriage
// returns, line feeds and tabs cross as the special characters while their
// flag is on.  The two line modes exclude each other and PutClipboard and
// GetClipboard: the text read at OpenClipboardIn is the text the lines come
// from, whatever other programs do meanwhile, and the lines written appear
// on the clipboard together at CloseClipboardOut.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "rpc/buffer.h"
#include "rpc/error_text.h"
#include "rpc/replacement_chars.h"

namespace quarl::rpc {

// Buffer text to clipboard text: "CR", "LF", "TAB" and "CRLF" special
// characters become carriage return, line feed, tab and both (the first of
// them that matches decides); with the flag off, the text unchanged.
std::string to_clipboard_text(std::string_view text, const SpecialChars& special);

// Clipboard text into the buffer (blank padded), as GetClipboard returns it.
void put_clipboard_text(std::string_view text, const SpecialChars& special, Buffer buffer);

// The next line of text from position into the buffer (blank padded);
// returns the position after it.
size_t put_clipboard_line(std::string_view text, size_t position, const SpecialChars& special, Buffer buffer);

class Clipboard {
 public:
  Clipboard(ErrorText& error, const SpecialChars& special) : error_(error), special_(special) {}

  Status put_clipboard(Buffer buffer);
  Status get_clipboard(Buffer buffer);
  Status open_clipboard_in(Buffer buffer);
  Status get_clipboard_line(Buffer buffer);
  Status close_clipboard_in(Buffer buffer);
  Status open_clipboard_out(Buffer buffer);
  Status put_clipboard_line(Buffer buffer);
  Status close_clipboard_out(Buffer buffer);

  // Text written line by line may grow to this many bytes.
  static constexpr size_t kMaxLineText = size_t(64) << 20;

 private:
  // The clipboard can be opened: not held by a line mode, and a desktop is there.
  bool can_open() const;
  // Reads the clipboard's text, or fails with the message of why not.
  Status read(std::string& text);

  ErrorText& error_;
  const SpecialChars& special_;
  bool input_open_ = false;
  bool output_open_ = false;
  std::string text_;     // the input text read at open, or the output text written so far
  size_t position_ = 0;  // the read offset in the input text
};

}  // namespace quarl::rpc
