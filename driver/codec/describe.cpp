#include "driver/codec/describe.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "common/hostmsg.h"
#include "common/long_values.h"
#include "common/utf.h"
#include "driver/codec/wire_read.h"

namespace quarl::codec {

DescribeReader::Step DescribeReader::fail(int index, std::string text) {
  diag_ = Diag{index, std::move(text)};
  state_ = Step::Failed;
  return state_;
}

DescribeReader::Step DescribeReader::feed(std::string_view data) noexcept {
  if (state_ != Step::NeedMore) return state_;
  try {
    WireReader in(data);
    Description& d = description_;
    if (!started_) {
      started_ = true;
      d.row_count = -1;
      if (code_ == hostmsg::code::kExecDirect || code_ == hostmsg::code::kExecute) {
        int64_t rows = 0;
        if (!in.signed_digits(10, rows)) return fail(kErrCommLink, "Malformed describe reply from host: row count");
        d.row_count = static_cast<int32_t>(std::clamp<int64_t>(rows, INT32_MIN, INT32_MAX));
      }
      if (code_ == hostmsg::code::kExecute) {
        // The prepare's description stays.
        d.columns_sent = false;
        return state_ = Step::Done;
      }
      d.columns_sent = true;
      uint64_t count = 0, markers = 0;
      if (!in.digits(4, count)) return fail(kErrCommLink, "Malformed describe reply from host: column count");
      if (code_ == hostmsg::code::kPrepare && !in.digits(4, markers))
        return fail(kErrCommLink, "Malformed describe reply from host: parameter count");
      d.column_count = static_cast<uint16_t>(count);
      d.param_marker_count = static_cast<uint16_t>(markers);
      d.columns.assign(count, ColumnDescriptor{});
    }
    while (next_column_ < d.column_count) {
      if (in.empty()) return Step::NeedMore;
      size_t number = next_column_ + 1;
      auto malformed = [&] {
        return fail(kErrCommLink, "Malformed describe reply from host: column " + std::to_string(number));
      };
      ColumnDescriptor& c = d.columns[next_column_];
      uint64_t name_length = 0, precision = 0, scale = 0, nullable = 0;
      int64_t type = 0;
      std::string_view name;
      if (!in.digits(2, name_length) || !in.bytes(name_length, name) || !in.signed_digits(2, type) ||
          !in.digits(long_values_ ? longvalues::kPrecisionDigits : longvalues::kClassicPrecisionDigits, precision) ||
          !in.digits(2, scale) || !in.digits(1, nullable))
        return malformed();
      // Longer names are cut to what the descriptor holds, between characters.
      size_t kept = utf8_cut(name.data(), name.size(), kMaxColumnName);
      std::memcpy(c.name, name.data(), kept);
      c.name[kept] = '\0';
      c.sql_type = static_cast<int8_t>(type);
      c.precision = static_cast<uint32_t>(std::min<uint64_t>(precision, UINT32_MAX));
      c.scale = static_cast<uint8_t>(scale);
      c.reserved = 0;
      c.nullable = static_cast<uint8_t>(nullable);
      auto cannot = [&](const std::string& why) {
        return fail(kErrGeneral, "Column " + std::to_string(number) + " has SQL type " + std::to_string(type) +
                                       why + ", which the driver cannot fetch");
      };
      // Only the types that have a row wire form: the binary types only with
      // long values, CHAR only as wide as a classic item makes it.
      if (type == SQL_BIGINT || !row_slot(c.sql_type, c.precision) ||
          (!long_values_ && longvalues::is_binary_type(static_cast<int>(type))))
        return cannot("");
      if (type == SQL_CHAR && precision > 9999) return cannot(" with precision " + std::to_string(precision));
      c.long_forms = long_values_ && (type == SQL_VARCHAR || type == SQL_LONGVARCHAR ||
                                      longvalues::is_binary_type(static_cast<int>(type)));
      if (type == SQL_NUMERIC) {
        if (precision == 0 || precision > kMaxNumericDigits || scale > precision)
          return cannot(" with precision " + std::to_string(precision) + " and scale " + std::to_string(scale));
        // 64-bit integers travel as NUMERIC(19,0): the application sees BIGINT.
        if (precision == kMaxNumericDigits && scale == 0) c.sql_type = SQL_BIGINT;
      }
      ++next_column_;
    }
    // Row storage in column order, each slot at its alignment.
    uint32_t offset = 0;
    for (size_t i = 0; i < d.column_count; ++i) {
      ColumnDescriptor& c = d.columns[i];
      RowSlot slot = *row_slot(c.sql_type, c.precision);
      if (slot.align > 1) offset = (offset + slot.align - 1) / slot.align * slot.align;
      c.row_offset = offset;
      c.row_form = row_form(c.sql_type, c.precision, c.long_forms);
      offset += slot.size;
    }
    d.row_size = offset;
    return state_ = Step::Done;
  } catch (const std::bad_alloc&) {
    return fail(kErrMemory, {});
  }
}

}  // namespace quarl::codec
