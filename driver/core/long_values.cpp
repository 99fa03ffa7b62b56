#include "driver/core/long_values.h"

#include <algorithm>
#include <cstring>

#include "common/digits.h"
#include "common/hostmsg.h"
#include "common/long_values.h"
#include "driver/codec/convert.h"
#include "driver/codec/pieces.h"
#include "driver/core/execute.h"
#include "driver/core/handles.h"
#include "driver/core/link.h"
#include "driver/core/statement.h"

namespace quarl::driver {

namespace lv = longvalues;

namespace {

SQLRETURN post_diag(ErrorList& list, SQLRETURN rc, const codec::Diag& d) {
  return post(list, rc, static_cast<unsigned>(d.index), d.text.empty() ? nullptr : d.text.c_str());
}

// The statement's exchanges wait as long as a statement request does.
struct StatementWait {
  ConnBlock& conn;
  uint8_t saved;
  explicit StatementWait(ConnBlock& c) : conn(c), saved(c.channel.receive_timeout) {
    conn.channel.receive_timeout = kStatementReceiveTimeout;
  }
  ~StatementWait() { conn.channel.receive_timeout = saved; }
};

// Asks the host for up to length bytes of the held value of column (1-based)
// from offset, and appends them to out.  The reply comes in as many messages
// as the bytes take: "0", a last flag, the bytes.
SQLRETURN read_piece(ConnBlock& conn, StmtBlock& stmt, uint16_t column, uint64_t offset, uint64_t length,
                     uint64_t expected, std::string& out) {
  if (!conn.connected()) return post(stmt.errors, SQL_ERROR, kErrNotOpen);
  char* d = conn.channel.out();
  put_digits(d, 4, stmt.host_id);
  put_digits(d + 4, 4, column);
  put_digits(d + 8, lv::kLengthDigits, offset);
  put_digits(d + 18, lv::kLengthDigits, length);
  StatementWait wait(conn);
  StatementRun run(conn, stmt);
  hostlink::Reply reply =
      host_request(conn, hostmsg::kDatabase, hostmsg::code::kValuePiece, lv::kPieceRequestSize, WaitFor::Statement, &stmt);
  uint64_t got = 0;
  auto malformed = [&](const char* why) {
    return run.finish(post(stmt.errors, SQL_ERROR, kErrCommLink, std::string("Malformed value piece from host: ") + why));
  };
  for (;;) {
    if (!reply) return run.finish(link_failure(conn, stmt.errors));
    std::string_view data = reply.data();
    if (data.empty()) return malformed("no status");
    if (reply.rc() != hostmsg::kRcSuccess) {
      SQLRETURN rc = static_cast<SQLRETURN>(reply.rc());
      return run.finish(post_host_items(stmt.errors, reply.after_status(), rc == SQL_SUCCESS_WITH_INFO ? SQL_ERROR : rc));
    }
    if (data.size() < 2) return malformed("no last flag");
    std::string_view bytes = data.substr(2);
    if (bytes.size() > expected - got) return malformed("more bytes than asked for");
    out.append(bytes);
    got += bytes.size();
    bool last = data[1] == '1';
    reply.release();
    if (last) break;
    reply = recv_host_msg(conn, conn.channel.receive_timeout, WaitFor::Statement, &stmt);
  }
  if (got != expected) return malformed("fewer bytes than the value holds");
  return run.finish(SQL_SUCCESS);
}

// Bytes to ask for so that the buffer's room is filled: room units of the
// form (a wide character may take three bytes a unit).
uint64_t bytes_for(codec::PieceForm form, size_t room, bool half) {
  switch (form) {
    case codec::PieceForm::Hex:
    case codec::PieceForm::WideHex: return (room + (half ? 1 : 0) + 1) / 2;
    case codec::PieceForm::Wide: return 3 * static_cast<uint64_t>(room) + 3;
    default: return room;
  }
}

}  // namespace

std::optional<codec::LongValueForms> long_value_forms(const ConnBlock& conn) {
  if (!conn.long_values) return std::nullopt;
  return codec::LongValueForms{conn.long_value_limit, 0};
}

SQLRETURN send_param_pieces(ConnBlock& conn, StmtBlock& stmt, int number, bool first, std::string_view bytes) {
  if (!conn.connected()) return post(stmt.errors, SQL_ERROR, kErrNotOpen);
  size_t max = conn.channel.max_data_length();
  if (max <= lv::kParamPieceHead) return post(stmt.errors, SQL_ERROR, kErrGeneral, "Message size too small for pieces");
  size_t per_piece = max - lv::kParamPieceHead;
  do {
    size_t n = std::min(per_piece, bytes.size());
    char* d = conn.channel.out();
    put_digits(d, 4, stmt.host_id);
    put_digits(d + 4, 4, static_cast<uint64_t>(number));
    d[8] = first ? '1' : '0';
    std::memcpy(d + lv::kParamPieceHead, bytes.data(), n);
    if (send_host_msg(conn, hostmsg::kDatabase, hostmsg::code::kParamPiece, lv::kParamPieceHead + n) != SQL_SUCCESS)
      return link_failure(conn, stmt.errors);
    bytes.remove_prefix(n);
    first = false;
  } while (!bytes.empty());
  return SQL_SUCCESS;
}

SQLRETURN get_held_value(StmtBlock& stmt, size_t index, SQLSMALLINT c_type_in, SQLPOINTER target, SQLLEN size,
                         SQLLEN* length) {
  ConnBlock& conn = *stmt.conn;
  codec::ColumnDescriptor& c = stmt.result.columns[index];
  auto number = static_cast<uint16_t>(index + 1);
  int c_type = codec::odbc2_datetime(c_type_in);
  if (c_type == SQL_C_DEFAULT) c_type = codec::default_c_type(c.sql_type);
  uint64_t total = static_cast<uint64_t>(c.value_length);
  bool piece = c_type == SQL_C_CHAR || c_type == SQL_C_WCHAR || c_type == SQL_C_BINARY;
  if (!piece) {
    // A text read as a number or a date: whole, when it can be one.
    if (!codec::is_binary_sql_type(c.sql_type) && total > kHeldConvertMax)
      return post(stmt.errors, SQL_ERROR, kErrInvalidCharacter,
                  "Column " + std::to_string(number) + ": a text of " + std::to_string(total) +
                      " bytes is no value of C type " + std::to_string(c_type_in));
    std::string whole;
    codec::ColumnDescriptor at_hand = c;
    if (!codec::is_binary_sql_type(c.sql_type)) {
      SQLRETURN rc = read_piece(conn, stmt, number, 0, total, total, whole);
      if (rc != SQL_SUCCESS) return rc;
      at_hand.value_place = codec::kInRowArea;
      at_hand.area_bytes = whole.data();
    }
    codec::ConvertResult r = codec::convert_column(at_hand, c_type_in, target, size, length,
                                                   stmt.result.row_buffer.data());
    if (r.diag) post_diag(stmt.errors, r.rc, *r.diag);
    return r.rc;
  }

  codec::PieceForm form = codec::piece_form(c.sql_type, c_type);
  if (!c.piece_returned) {
    c.hex_half = false;
    c.units_returned = 0;
  }
  uint64_t done = std::min(c.returned_count, total);
  if (done == total && c.piece_returned) return SQL_NO_DATA_FOUND;
  c.piece_returned = true;
  uint64_t units = c.host_units > c.units_returned ? c.host_units - c.units_returned : 0;
  if (length != nullptr) *length = static_cast<SQLLEN>(codec::remaining_length(form, total - done, units, c.hex_half));
  codec::PieceWriter w(form, target, size, c.hex_half);
  if (!w.writable()) return done < total ? post(stmt.errors, SQL_SUCCESS_WITH_INFO, kErrTruncated, codec::kTruncatedText) : SQL_SUCCESS;

  HeldWindow& win = stmt.held_window;
  if (win.column != number || win.offset != done) {
    win.clear();
    win.column = number;
    win.offset = done;
  }
  SQLRETURN result = SQL_SUCCESS;
  for (;;) {
    size_t available = win.bytes.size() - win.pos;
    uint64_t after = done + available;  // the value's offset after the window
    if (available > 0) {
      size_t used = w.write(win.bytes.data() + win.pos, available, after < total);
      win.pos += used;
      win.offset += used;
      done += used;
    }
    if (w.full() || done == total || after == total) break;
    // Keep what is left (a character's first bytes), and ask for more.
    win.bytes.erase(0, win.pos);
    win.pos = 0;
    uint64_t want = std::min({std::max(bytes_for(form, w.room_left(), w.half()), kHeldReadAhead), total - after,
                              kHeldReadMax});
    result = read_piece(conn, stmt, number, after, want, want, win.bytes);
    if (result != SQL_SUCCESS) break;
  }
  w.finish();
  c.returned_count = done;
  c.hex_half = w.half();
  c.units_returned += w.units_written();
  if (result != SQL_SUCCESS) {
    win.clear();
    return result;
  }
  return done < total || c.hex_half ? post(stmt.errors, SQL_SUCCESS_WITH_INFO, kErrTruncated, codec::kTruncatedText) : SQL_SUCCESS;
}

}  // namespace quarl::driver
