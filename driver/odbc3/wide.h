// The wide (UTF-16) arguments of the Unicode driver's W entry points: text
// arguments become the core's UTF-8 at the edge; text results are written by
// the core's one text writer in UTF-16 (driver/core/output.h).
#pragma once

#include <sql.h>
#include <sqlucode.h>

#include <string>

#include "driver/core/diag.h"

namespace quarl::driver::odbc3 {

// A text argument: null stays null (with its length as given), anything
// else becomes UTF-8 with its exact length.  A length other than SQL_NTS
// below 0, or an unpaired surrogate, is refused on the list given (HY090,
// 22018).
class WideArg {
 public:
  WideArg(const SQLWCHAR* text, SQLINTEGER length_in_chars, ErrorList& errors, const char* what);

  bool ok() const { return ok_; }
  // What the core takes: the UTF-8 bytes (null for a null argument) and
  // their length (the caller's own length for a null argument).
  SQLCHAR* text() { return null_ ? nullptr : reinterpret_cast<SQLCHAR*>(utf8_.data()); }
  SQLINTEGER length() const { return null_ ? length_ : static_cast<SQLINTEGER>(utf8_.size()); }
  // For arguments with a 16-bit length: SQL_NTS when the UTF-8 text is
  // longer than a 16-bit length can say (it is terminated).
  SQLSMALLINT short_length() const {
    if (null_) return static_cast<SQLSMALLINT>(length_);
    return utf8_.size() > 32767 ? SQLSMALLINT{SQL_NTS} : static_cast<SQLSMALLINT>(utf8_.size());
  }
  const std::string& utf8() const { return utf8_; }
  bool null() const { return null_; }

 private:
  std::string utf8_;
  SQLINTEGER length_ = 0;
  bool null_ = false;
  bool ok_ = true;
};

}  // namespace quarl::driver::odbc3
