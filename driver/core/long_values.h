// Long and binary values with a host that agreed to them
// (common/long_values.h): parameter values sent ahead of their request in
// pieces, and values left on the host, read piece by piece as the
// application asks for them.  The driver holds no more of such a value than
// one exchange brings (at most kHeldReadMax bytes, and what did not fit the
// application's buffer), whatever its length.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "driver/codec/param_entry.h"
#include "driver/codec/records.h"

namespace quarl::driver {

struct ConnBlock;
struct StmtBlock;

// The most bytes of a held value one exchange asks for.
inline constexpr uint64_t kHeldReadMax = 1 << 20;
// The fewest it asks for (when so much is left): small buffers are filled
// from bytes read ahead, not with an exchange each.
inline constexpr uint64_t kHeldReadAhead = 64 << 10;
// The longest held text that is read whole to convert it to a number or a date.
inline constexpr uint64_t kHeldConvertMax = 1 << 16;

// Bytes of a held value read ahead of the application: what did not fit
// its buffer, kept for the next call.  One column at a time; every new row
// forgets them.
struct HeldWindow {
  uint16_t column = 0;   // 1-based; 0: none
  uint64_t offset = 0;   // the value's offset of bytes[pos]
  std::string bytes;
  size_t pos = 0;
  void clear() {
    column = 0;
    bytes.clear();
    pos = 0;
  }
};

// The entry forms of the connection: long values agreed, or nullopt.
std::optional<codec::LongValueForms> long_value_forms(const ConnBlock& conn);

// Sends bytes of parameter `number` in parameter pieces (type 1 code 22, not
// answered); first: they begin the value.  SQL_SUCCESS, or SQL_ERROR with the
// link failure posted on the statement.
SQLRETURN send_param_pieces(ConnBlock& conn, StmtBlock& stmt, int number, bool first, std::string_view bytes);

// The current row's value of column (0-based index) that the host holds,
// into the application's buffer as SQLGetData gives it: in pieces for the
// text and binary C types, whole (if short enough) for the others.
SQLRETURN get_held_value(StmtBlock& stmt, size_t column, SQLSMALLINT c_type, SQLPOINTER target, SQLLEN size,
                         SQLLEN* length);

}  // namespace quarl::driver
