// SQLGetData's common case for the entry points of both drivers: an
// application that reads every column this way makes a call per column, so
// the call that finds the statement the thread used last, a value of the
// current row and the C type the last call on that column asked for goes
// straight into the caller's buffer, without the dispatcher.
//
// The entry point checks the handle, the column and the C type, then jumps
// through a table, by the conversion the column keeps, to a function of
// that conversion alone: the entry point keeps no values of its own across
// the jump, so it builds no frame, and no conversion pays for the others'
// registers.  A conversion that finds the value does not fit whole (or a
// piece already handed out) sends the call the other way itself.
#pragma once

#include <sql.h>

#include <array>
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

// One conversion of the current row's value of a column (not NULL, asked
// for in the C type the column keeps) into a target that is not null.  The
// arguments after the column are the entry point's, in their registers.
using QuickFn = SQLRETURN (*)(StmtBlock& stmt, codec::ColumnDescriptor& c, SQLSMALLINT c_type, SQLPOINTER target,
                              SQLLEN target_size, SQLLEN* length) noexcept;

inline const unsigned char* slot_of(const StmtBlock& stmt, const codec::ColumnDescriptor& c) {
  return stmt.result.row_buffer.data() + c.row_offset;
}

// The call the quick way cannot serve, the other way, with its arguments as
// the application gave them (the column's number from its place).
template <typename Face>
[[gnu::noinline]] SQLRETURN missed(StmtBlock& stmt, codec::ColumnDescriptor& c, SQLSMALLINT c_type, SQLPOINTER target,
                                   SQLLEN target_size, SQLLEN* length) noexcept {
  auto icol = static_cast<SQLUSMALLINT>(&c - stmt.result.columns.data() + 1);
  return Face::missed(&stmt, icol, c_type, target, target_size, length);
}

// The fixed-size C types (SQL_C_LONG, SQL_C_SBIGINT, SQL_C_DATE; a BIGINT
// that SQL_C_LONG cannot hold goes the other way).
template <typename Face, codec::QuickWay kWay>
SQLRETURN get_fixed(StmtBlock& stmt, codec::ColumnDescriptor& c, SQLSMALLINT c_type, SQLPOINTER target,
                    SQLLEN target_size, SQLLEN* length) noexcept {
  SQLLEN n = codec::put_fixed_quick(kWay, slot_of(stmt, c), target);
  if (n == 0) return missed<Face>(stmt, c, c_type, target, target_size, length);
  if (length != nullptr) *length = n;
  return Face::done(stmt);
}

template <typename Face>
SQLRETURN get_double(StmtBlock& stmt, codec::ColumnDescriptor& c, SQLSMALLINT, SQLPOINTER target, SQLLEN,
                     SQLLEN* length) noexcept {
  const unsigned char* slot = slot_of(stmt, c);
  double value;
  if (!codec::double_text_quick(slot, value)) value = codec::double_text_value(slot);
  std::memcpy(target, &value, 8);
  if (length != nullptr) *length = 8;
  return Face::done(stmt);
}

// n bytes and the terminator: above 64 bytes through memcpy, in a call of
// its own so that the short ones need no frame.
template <typename Face>
[[gnu::noinline]] SQLRETURN put_long_chars(StmtBlock& stmt, const unsigned char* from, size_t n,
                                           SQLPOINTER target) noexcept {
  std::memcpy(target, from, n);
  static_cast<char*>(target)[n] = '\0';
  return Face::done(stmt);
}

template <typename Face>
[[gnu::always_inline]] inline SQLRETURN put_chars(StmtBlock& stmt, const unsigned char* from, size_t n,
                                                  SQLPOINTER target, SQLLEN* length) noexcept {
  if (length != nullptr) *length = static_cast<SQLLEN>(n);
  if (n > 64) return put_long_chars<Face>(stmt, from, n, target);
  quarl::copy_bytes(target, from, n);
  static_cast<char*>(target)[n] = '\0';
  return Face::done(stmt);
}

// A character value at hand (not on the host), not yet handed out, that
// fits whole with its terminator: handed out whole.
template <typename Face>
SQLRETURN get_chars(StmtBlock& stmt, codec::ColumnDescriptor& c, SQLSMALLINT c_type, SQLPOINTER target,
                    SQLLEN target_size, SQLLEN* length) noexcept {
  if (c.piece_returned || c.value_length >= target_size || c.value_place == codec::kOnHost)
    return missed<Face>(stmt, c, c_type, target, target_size, length);
  const auto* from = reinterpret_cast<const unsigned char*>(codec::value_bytes(c, stmt.result.row_buffer.data()));
  c.returned_count = static_cast<uint64_t>(c.value_length);
  c.piece_returned = true;
  if (c.value_length == 1) {
    // CHAR(1), common enough to go without the copy's tests of the length.
    static_cast<char*>(target)[0] = static_cast<char>(from[0]);
    static_cast<char*>(target)[1] = '\0';
    if (length != nullptr) *length = 1;
    return Face::done(stmt);
  }
  return put_chars<Face>(stmt, from, static_cast<size_t>(c.value_length), target, length);
}

// A DOUBLE's text as it came.
template <typename Face>
SQLRETURN get_double_chars(StmtBlock& stmt, codec::ColumnDescriptor& c, SQLSMALLINT c_type, SQLPOINTER target,
                           SQLLEN target_size, SQLLEN* length) noexcept {
  const unsigned char* slot = slot_of(stmt, c);
  size_t text = codec::double_text_length(slot);
  if (text == 0 || static_cast<SQLLEN>(text) >= target_size)
    return missed<Face>(stmt, c, c_type, target, target_size, length);
  return put_chars<Face>(stmt, reinterpret_cast<const unsigned char*>(codec::stored_double_text(slot)), text, target,
                         length);
}

// An INTEGER's text: shorter than 32 characters.
template <typename Face>
SQLRETURN get_number_text(StmtBlock& stmt, codec::ColumnDescriptor& c, SQLSMALLINT c_type, SQLPOINTER target,
                          SQLLEN target_size, SQLLEN* length) noexcept {
  if (target_size < 32) return missed<Face>(stmt, c, c_type, target, target_size, length);
  size_t n = codec::detail::write_number_text(c, slot_of(stmt, c), static_cast<char*>(target));
  if (length != nullptr) *length = static_cast<SQLLEN>(n);
  return Face::done(stmt);
}

// A BIGINT's or a DATE's text, written by kWrite (at most kLongest
// characters), and its terminator.
template <typename Face, size_t (*kWrite)(const unsigned char* slot, char* text), SQLLEN kLongest>
SQLRETURN get_text(StmtBlock& stmt, codec::ColumnDescriptor& c, SQLSMALLINT c_type, SQLPOINTER target,
                   SQLLEN target_size, SQLLEN* length) noexcept {
  if (target_size <= kLongest) return missed<Face>(stmt, c, c_type, target, target_size, length);
  size_t n = kWrite(slot_of(stmt, c), static_cast<char*>(target));
  static_cast<char*>(target)[n] = '\0';
  if (length != nullptr) *length = static_cast<SQLLEN>(n);
  return Face::done(stmt);
}

// The conversions by QuickWay.
inline constexpr size_t kQuickWayCount = static_cast<size_t>(codec::QuickWay::Text) + 1;
template <typename Face>
constexpr std::array<QuickFn, kQuickWayCount> quick_ways() {
  using codec::QuickWay;
  std::array<QuickFn, kQuickWayCount> ways{};
  for (QuickFn& way : ways) way = missed<Face>;  // General, Text
  ways[static_cast<size_t>(QuickWay::Int32)] = get_fixed<Face, QuickWay::Int32>;
  ways[static_cast<size_t>(QuickWay::Int64)] = get_fixed<Face, QuickWay::Int64>;
  ways[static_cast<size_t>(QuickWay::Int64AsInt32)] = get_fixed<Face, QuickWay::Int64AsInt32>;
  ways[static_cast<size_t>(QuickWay::Double)] = get_double<Face>;
  ways[static_cast<size_t>(QuickWay::Date)] = get_fixed<Face, QuickWay::Date>;
  ways[static_cast<size_t>(QuickWay::Chars)] = get_chars<Face>;
  ways[static_cast<size_t>(QuickWay::NumberText)] = get_number_text<Face>;
  ways[static_cast<size_t>(QuickWay::Digits19Text)] = get_text<Face, codec::digits19_text, 20>;  // '-' and 19 digits
  ways[static_cast<size_t>(QuickWay::DateText)] = get_text<Face, codec::date_digits_text, 10>;
  ways[static_cast<size_t>(QuickWay::DoubleChars)] = get_double_chars<Face>;
  return ways;
}
template <typename Face>
inline constexpr std::array<QuickFn, kQuickWayCount> kQuickWays = quick_ways<Face>();

}  // namespace get_data_detail

template <typename Face>
[[gnu::always_inline]] inline SQLRETURN get_data_quick(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLSMALLINT c_type,
                                                       SQLPOINTER target, SQLLEN target_size,
                                                       SQLLEN* length) noexcept {
  if (!is_recently_live(hstmt, HandleKind::Stmt))
    return Face::dispatched(hstmt, icol, c_type, target, target_size, length);
  StmtBlock& stmt = *static_cast<StmtBlock*>(hstmt);
  if (!Face::enter(stmt)) return Face::dispatched(hstmt, icol, c_type, target, target_size, length);
  unsigned index = icol - 1u;
  if (Face::ready(stmt) && index < stmt.result.column_count && target != nullptr) {
    codec::ColumnDescriptor& c = stmt.result.columns.data()[index];
    // The C type the column keeps, and a value (the column's way was chosen
    // for its C type, so it is one of the table's).
    if (c.quick_c_type == c_type && c.value_length >= 0)
      return get_data_detail::kQuickWays<Face>[c.quick_way](stmt, c, c_type, target, target_size, length);
  }
  return Face::missed(hstmt, icol, c_type, target, target_size, length);
}

}  // namespace quarl::driver
