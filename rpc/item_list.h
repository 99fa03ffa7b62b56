// The item list: how operations take several inputs from one buffer.  The
// text (less its trailing blanks) is split at commas; blanks around each item
// are dropped; there is no quoting, so items cannot hold commas.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "rpc/buffer.h"

namespace quarl::rpc {

class ItemList {
 public:
  explicit ItemList(std::string_view text);
  explicit ItemList(const Buffer& buffer) : ItemList(buffer.bytes()) {}

  // The next item; an empty text once the list is exhausted.  The comma
  // after the item is consumed.
  std::string next();
  // Whether any text remains after the items taken so far.
  bool more() const { return pos_ < text_.size(); }
  // The rest of the text after the items taken so far, less its leading
  // blanks, commas included; the list is exhausted afterwards.
  std::string rest();

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// The number at the start of text, as the C library's atoi reads it:
// leading blanks, an optional sign, then digits up to the first other
// character; no digits give 0.  Accumulates modulo 2^64, so the text of any
// unsigned 64-bit value reads back as its bit pattern.
int64_t leading_integer(std::string_view text);

}  // namespace quarl::rpc
