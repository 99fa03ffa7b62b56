#include "driver/odbc3/wide.h"

#include "common/utf.h"

namespace quarl::driver::odbc3 {

WideArg::WideArg(const SQLWCHAR* text, SQLINTEGER length_in_chars, ErrorList& errors, const char* what) {
  if (text == nullptr) {
    null_ = true;
    length_ = length_in_chars;
    return;
  }
  size_t units;
  if (length_in_chars == SQL_NTS) {
    units = utf16_length(text);
  } else if (length_in_chars < 0) {
    post_error(errors, kErrStringLength, std::string("Invalid length of ") + what);
    ok_ = false;
    return;
  } else {
    units = static_cast<size_t>(length_in_chars);
  }
  size_t bad = 0;
  if (!utf16_to_utf8(text, units, utf8_, bad)) {
    post_error(errors, kErrInvalidCharacter,
               std::string(what) + ": unpaired surrogate at character " + std::to_string(bad + 1));
    ok_ = false;
  }
}

}  // namespace quarl::driver::odbc3
