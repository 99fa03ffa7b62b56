// The special characters: printable stand-ins for tab, line feed, carriage
// return with line feed, carriage return and the zero byte, for clients whose
// fixed-length text fields cannot hold control characters.  The clipboard
// transfers and the ODBC calls translate through them while the flag is on.
#pragma once

#include <optional>
#include <string_view>

#include "rpc/buffer.h"
#include "rpc/error_text.h"

namespace quarl::rpc {

class SpecialChars {
 public:
  enum Kind { kTab, kLf, kCrLf, kCr, kNull, kCount };

  explicit SpecialChars(ErrorText& error) : error_(error) {}

  // Operations of the buffer exports.
  Status get_special_char(Buffer buffer);   // item 1: keyword; out: the character
  Status set_special_char(Buffer buffer);   // items: keyword, one new character
  Status enable_special_ch(Buffer buffer);  // never fails
  Status disable_special_ch(Buffer buffer);

  bool enabled() const { return enabled_; }
  char get(Kind kind) const { return chars_[kind]; }
  // What separates fetched columns: the "TAB" character while the flag is
  // on, else a real tab.
  char separator() const { return enabled_ ? chars_[kTab] : '\t'; }

  // "CR", "CRLF", "LF", "TAB" or "NULL", without regard to case.
  static std::optional<Kind> find(std::string_view keyword);

 private:
  ErrorText& error_;
  bool enabled_ = true;
  char chars_[kCount] = {'@', ']', '#', '[', '~'};
};

}  // namespace quarl::rpc
