// SQLGetData's common case for the entry points of both drivers: an
// application that reads every column this way makes a call per column, so
// the call that finds the statement the thread used last, a value of the
// current row and the C type the last call on that column asked for goes
// straight into the caller's buffer, without the dispatcher.
//
// The entry point's own code keeps to what needs no frame: the short
// conversions are done in place; the longer ones (a double's text, character
// values, numbers as text) are tail calls to functions that cannot fail,
// since the entry point has checked first everything that sends a call to
// the dispatcher (a value that does not fit whole, a piece handed out).
#pragma once

#include <sql.h>

#include <cstdint>
#include <cstring>

#include "driver/codec/convert.h"
#include "driver/codec/double_text.h"
#include "driver/codec/value.h"
#include "driver/core/handles.h"
#include "driver/core/registry.h"
#include "driver/core/statement.h"

namespace quarl::driver {

// Face: what the driver adds around a call.
//   static bool enter(StmtBlock&)  -- true: entered (false: the call goes the other way)
//   static bool ready(StmtBlock&)  -- entered, true: the quick way may go on
//   static SQLRETURN done(StmtBlock&) -- ends a quick call: SQL_SUCCESS
//   static SQLRETURN dispatched(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*)
//                                  -- the call, the other way (not entered)
//   static SQLRETURN missed(the same) -- the same, entered
namespace get_data_detail {

// The longer quick ways, each a call of its own that cannot fail (the entry
// point has checked everything that could make them).
template <typename Face>
[[gnu::noinline]] SQLRETURN get_double(StmtBlock& stmt, const unsigned char* slot, SQLPOINTER target,
                                       SQLLEN* length) noexcept {
  double value;
  if (!codec::double_text_quick(slot, value)) value = codec::double_text_value(slot);
  std::memcpy(target, &value, 8);
  if (length != nullptr) *length = 8;
  return Face::done(stmt);
}

// n bytes and the terminator: above 64 bytes through memcpy, in a call of
// its own so that the short ones need no frame.
template <typename Face>
[[gnu::noinline]] SQLRETURN get_long_chars(StmtBlock& stmt, const unsigned char* from, size_t n,
                                           SQLPOINTER target) noexcept {
  std::memcpy(target, from, n);
  static_cast<char*>(target)[n] = '\0';
  return Face::done(stmt);
}

template <typename Face>
[[gnu::noinline]] SQLRETURN get_chars(StmtBlock& stmt, const unsigned char* from, size_t n, SQLPOINTER target,
                                      SQLLEN* length) noexcept {
  if (length != nullptr) *length = static_cast<SQLLEN>(n);
  if (n > 64) return get_long_chars<Face>(stmt, from, n, target);
  quarl::copy_bytes(target, from, n);
  static_cast<char*>(target)[n] = '\0';
  return Face::done(stmt);
}

template <typename Face>
[[gnu::noinline]] SQLRETURN get_number_text(StmtBlock& stmt, const codec::ColumnDescriptor& column,
                                            const unsigned char* slot, SQLPOINTER target, SQLLEN* length) noexcept {
  size_t n = codec::detail::write_number_text(column, slot, static_cast<char*>(target));
  if (length != nullptr) *length = static_cast<SQLLEN>(n);
  return Face::done(stmt);
}

template <typename Face>
[[gnu::noinline]] SQLRETURN get_digits19_text(StmtBlock& stmt, const unsigned char* slot, SQLPOINTER target,
                                              SQLLEN* length) noexcept {
  size_t n = codec::digits19_text(slot, static_cast<char*>(target));
  static_cast<char*>(target)[n] = '\0';
  if (length != nullptr) *length = static_cast<SQLLEN>(n);
  return Face::done(stmt);
}

}  // namespace get_data_detail

template <typename Face>
[[gnu::always_inline]] inline SQLRETURN get_data_quick(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLSMALLINT c_type,
                                                       SQLPOINTER target, SQLLEN target_size,
                                                       SQLLEN* length) noexcept {
  using codec::QuickWay;
  if (!is_recently_live(hstmt, HandleKind::Stmt))
    return Face::dispatched(hstmt, icol, c_type, target, target_size, length);
  StmtBlock& stmt = *static_cast<StmtBlock*>(hstmt);
  if (!Face::enter(stmt)) return Face::dispatched(hstmt, icol, c_type, target, target_size, length);
  unsigned index = icol - 1u;
  if (Face::ready(stmt) && index < stmt.result.column_count && target != nullptr) {
    codec::ColumnDescriptor& c = stmt.result.columns.data()[index];
    if (c.quick_c_type == c_type && c.value_length >= 0) {
      const unsigned char* slot = stmt.result.row_buffer.data() + c.row_offset;
      auto way = static_cast<QuickWay>(c.quick_way);
      switch (way) {
        case QuickWay::Double: return get_data_detail::get_double<Face>(stmt, slot, target, length);
        case QuickWay::Chars: {
          // A value at hand (not on the host), not yet handed out, that fits
          // whole with its terminator.
          if (c.piece_returned || c.value_length >= target_size || c.value_place == codec::kOnHost) goto missed;
          const auto* from = reinterpret_cast<const unsigned char*>(codec::value_bytes(c, stmt.result.row_buffer.data()));
          c.returned_count = static_cast<uint64_t>(c.value_length);
          c.piece_returned = true;
          if (c.value_length == 1) {
            // CHAR(1), common enough to take no call.
            static_cast<char*>(target)[0] = static_cast<char>(from[0]);
            static_cast<char*>(target)[1] = '\0';
            if (length != nullptr) *length = 1;
            return Face::done(stmt);
          }
          return get_data_detail::get_chars<Face>(stmt, from, static_cast<size_t>(c.value_length), target, length);
        }
        case QuickWay::DoubleChars: {
          size_t text = codec::double_text_length(slot);
          if (text == 0 || static_cast<SQLLEN>(text) >= target_size) goto missed;
          return get_data_detail::get_chars<Face>(stmt, reinterpret_cast<const unsigned char*>(codec::stored_double_text(slot)),
                                                  text, target, length);
        }
        case QuickWay::NumberText:
          // Every such text is shorter than 32 characters.
          if (target_size < 32) goto missed;
          return get_data_detail::get_number_text<Face>(stmt, c, slot, target, length);
        case QuickWay::Digits19Text:
          // At most a '-' and 19 digits.
          if (target_size <= 20) goto missed;
          return get_data_detail::get_digits19_text<Face>(stmt, slot, target, length);
        case QuickWay::DateText:
          if (target_size <= 10) goto missed;
          static_cast<char*>(target)[codec::date_digits_text(slot, static_cast<char*>(target))] = '\0';
          if (length != nullptr) *length = 10;
          return Face::done(stmt);
        default:
          if (SQLLEN n = codec::put_fixed_quick(way, slot, target)) {
            if (length != nullptr) *length = n;
            return Face::done(stmt);
          }
          break;
      }
    }
  }
missed:
  return Face::missed(hstmt, icol, c_type, target, target_size, length);
}

}  // namespace quarl::driver
