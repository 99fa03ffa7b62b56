// The describe reply: row count (codes 9 and 11), result column count,
// parameter marker count (code 10) and one item per column, the items going
// on in continuation messages (column items only) when they do not fit the
// first.  Read incrementally: feed each message's data as it arrives.
#pragma once

#include <string_view>

#include "driver/codec/diag.h"
#include "driver/codec/records.h"

namespace quarl::codec {

class DescribeReader {
 public:
  // long_values: the connection agreed to long and binary values (ten
  // precision digits, the binary types, the long value forms).
  explicit DescribeReader(unsigned code, bool long_values = false) : code_(code), long_values_(long_values) {}

  enum class Step {
    NeedMore,  // receive the next message (same code) and feed its data
    Done,      // description() is complete, row storage assigned
    Failed,    // diag(): a malformed reply (08S01) or a column that cannot be fetched (S1000)
  };
  // The first call takes the reply's data after the status digit; later
  // calls take each continuation message's data.
  Step feed(std::string_view data) noexcept;

  const Description& description() const { return description_; }
  Description& description() { return description_; }
  const Diag& diag() const { return diag_; }

 private:
  Step fail(int index, std::string text);

  unsigned code_;
  bool long_values_;
  bool started_ = false;
  Step state_ = Step::NeedMore;
  size_t next_column_ = 0;
  Description description_;
  Diag diag_;
};

}  // namespace quarl::codec
