#include "driver/core/results.h"

#include <algorithm>
#include <span>
#include <string_view>

#include "common/digits.h"
#include "common/hostmsg.h"
#include "common/number_text.h"
#include "driver/codec/convert.h"
#include "driver/codec/row.h"
#include "driver/core/handles.h"
#include "driver/core/link.h"
#include "driver/core/long_values.h"
#include "driver/core/output.h"
#include "driver/core/settings.h"
#include "driver/core/statement.h"

namespace quarl::driver {

namespace {

// Column numbers an application may bind.
constexpr SQLUSMALLINT kMaxColumnNumber = 1024;
// Receive time-out of a synchronous fetch.
constexpr uint8_t kFetchReceiveTimeout = 255;

SQLRETURN post_diag(ErrorList& list, SQLRETURN rc, const codec::Diag& d) {
  return post(list, rc, static_cast<unsigned>(d.index), d.text.empty() ? nullptr : d.text.c_str());
}

codec::ConvertOptions convert_options() {
  codec::ConvertOptions o;
  o.numeric_trailing_zeros = settings().numeric_trailing_zeros != 0;
  return o;
}

std::span<codec::ColumnDescriptor> result_columns(StmtBlock& stmt) {
  return std::span<codec::ColumnDescriptor>(stmt.result.columns.data(), stmt.result.column_count);
}

// Fetch request: type 1, code 4, the statement id; its reply is read later.
SQLRETURN send_fetch_request(ConnBlock& conn, StmtBlock& stmt) {
  if (!conn.connected()) return post(stmt.errors, SQL_ERROR, kErrNotOpen);
  put_digits(conn.channel.out(), 4, stmt.host_id);
  if (send_host_msg(conn, hostmsg::kDatabase, hostmsg::code::kFetch, 4) != SQL_SUCCESS)
    return link_failure(conn, stmt.errors);
  return SQL_SUCCESS;
}

}  // namespace

std::optional<SQLLEN> column_length(const codec::ColumnDescriptor& c, bool display) {
  switch (c.sql_type) {
    case SQL_BIT: return 1;
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR: return c.precision;
    // Binary values show as two hexadecimal digits a byte.
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return display ? 2 * static_cast<SQLLEN>(c.precision) : c.precision;
    case SQL_NUMERIC: return c.precision + 2;
    case SQL_BIGINT: return display ? 20 : 8;
    case SQL_INTEGER: return display ? 11 : 4;
    case SQL_SMALLINT: return display ? 6 : 2;
    // The shortest text of a double takes up to 24 characters
    // ("-2.2250738585072014e-308").
    case SQL_DOUBLE: return display ? static_cast<SQLLEN>(kDoubleTextMax) : 8;
    case SQL_DATE: return display ? 10 : 6;
    case SQL_TIME: return display ? 8 : 6;
    // The text has as many fraction digits as the scale says: as long as
    // the precision.
    case SQL_TIMESTAMP: return display ? c.precision : 16;
    default: return std::nullopt;
  }
}

const char* sql_type_name(int sql_type) {
  switch (sql_type) {
    case SQL_BIT: return "BIT";
    case SQL_BIGINT: return "BIGINT";
    case SQL_LONGVARBINARY: return "LONGVARBINARY";
    case SQL_VARBINARY: return "VARBINARY";
    case SQL_BINARY: return "BINARY";
    case SQL_LONGVARCHAR: return "LONGVARCHAR";
    case SQL_CHAR: return "CHAR";
    case SQL_NUMERIC: return "NUMERIC";
    case SQL_INTEGER: return "INTEGER";
    case SQL_SMALLINT: return "SMALLINT";
    case SQL_DOUBLE: return "DOUBLE";
    case SQL_DATE: return "DATE";
    case SQL_TIME: return "TIME";
    case SQL_TIMESTAMP: return "TIMESTAMP";
    case SQL_VARCHAR: return "VARCHAR";
    default: return "UNKNOWN";
  }
}

bool is_character_type(int sql_type) {
  return sql_type == SQL_CHAR || sql_type == SQL_VARCHAR || sql_type == SQL_LONGVARCHAR;
}

namespace {

// The trace lines of NUMERIC values as they are read.
class NumericTrace final : public codec::NumericWatch {
 public:
  void before(std::string_view from_value, unsigned precision) override {
    // The row data from the value on, as much as a trace line holds.
    std::string_view shown = from_value.substr(0, kTraceTextMax);
    tracef("numeric=%.*s prec=%u", static_cast<int>(shown.size()), shown.data(), precision);
  }
  void after(int64_t value) override { tracef("numeric ln=%lu", static_cast<unsigned long>(value)); }
};

}  // namespace

namespace {

// The rows of the outstanding fetch request, appended to the row data area:
// SQL_SUCCESS when rows came, else what ends the fetch.
SQLRETURN receive_rows(ConnBlock& conn, StmtBlock& stmt) {
  uint8_t wait = stmt.async_enable ? 0 : kFetchReceiveTimeout;
  for (;;) {
    hostlink::Reply reply = recv_host_msg(conn, wait, WaitFor::Statement, &stmt);
    if (!reply) {
      stmt.errors.take_all(conn.errors);
      if (wait != 0) post_error(stmt.errors, kErrCommLink);
      return exchange_rc(reply);
    }
    codec::FetchReply r = codec::read_fetch_reply(reply.data());
    SQLRETURN result = SQL_SUCCESS;
    bool done = true;
    switch (r.kind) {
      case codec::FetchReply::Rows:
        // A reply that would overflow the row data area is refused; the rest
        // of it is read and dropped, so that the next request meets its own reply.
        if (!stmt.discarding_rows) {
          if (auto d = stmt.rows.append(r.rows)) {
            post_diag(stmt.errors, SQL_ERROR, *d);
            stmt.discarding_rows = true;
            stmt.rows.reset();
          }
        }
        done = r.last_block;
        break;
      case codec::FetchReply::NoData:
        stmt.host_result_ended = true;
        if (stmt.rows.buffered() == 0) result = SQL_NO_DATA_FOUND;
        break;
      case codec::FetchReply::HostErrors:
        result = post_host_items(stmt.errors, r.items, static_cast<SQLRETURN>(r.rc));
        break;
      case codec::FetchReply::Malformed:
        result = post_diag(stmt.errors, SQL_ERROR, r.diag);
        break;
    }
    reply.release();
    if (!done) continue;
    if (stmt.discarding_rows) {
      stmt.discarding_rows = false;
      stmt.rows.reset();
      return SQL_ERROR;
    }
    return result;
  }
}

}  // namespace

void receive_rows_ahead(ConnBlock& conn, StmtBlock& stmt) {
  // Its diagnostics wait for the first SQLFetch.
  std::swap(stmt.errors.records, stmt.rows_ahead_errors.records);
  stmt.operation = kOperationFetch;
  stmt.fetch_state = kFetchOutstanding;
  SQLRETURN rc = receive_rows(conn, stmt);
  stmt.fetch_state = kFetchIdle;
  stmt.rows_ahead = rc == kRecvTimedOut ? SQL_ERROR : rc;
  stmt.rows_ahead_pending = true;
  std::swap(stmt.errors.records, stmt.rows_ahead_errors.records);
}

namespace {

// The next row with its NUMERIC values traced.
[[gnu::noinline]] codec::RowResult next_traced_row(StmtBlock& stmt) {
  NumericTrace trace;
  return stmt.rows.next_row(result_columns(stmt), stmt.result.row_buffer.data(), &trace);
}

// Unpacks the row at the row read offset (fetch_row without receiving).
SQLRETURN unpack_next_row(StmtBlock& stmt) {
  if (stmt.held_window.column != 0) stmt.held_window.clear();
  const codec::RowResult row =
      tracing() ? next_traced_row(stmt)
                : stmt.rows.next_row(result_columns(stmt), stmt.result.row_buffer.data(), nullptr,
                                     stmt.result.longest_row);
  if (row.kind == codec::RowResult::Row) {
    // The last row: the host's cursor has nothing left (a close need not wait).
    if (stmt.rows.at_end_marker()) stmt.host_result_ended = true;
    return SQL_SUCCESS;
  }
  if (row.kind == codec::RowResult::End) {
    stmt.host_result_ended = true;
    return SQL_NO_DATA_FOUND;
  }
  return post_diag(stmt.errors, SQL_ERROR, row.diag());
}

}  // namespace

SQLRETURN fetch_row(ConnBlock& conn, StmtBlock& stmt, bool receive) {
  if (receive) {
    SQLRETURN rc = receive_rows(conn, stmt);
    if (rc != SQL_SUCCESS) return rc;
  }
  return unpack_next_row(stmt);
}

namespace {

// SQLFetch's way when no row is buffered (or an asynchronous fetch waits):
// a fetch request, unless one is outstanding, and the first row of its reply.
[[gnu::noinline]] SQLRETURN fetch_from_host(ConnBlock& conn, StmtBlock& stmt) {
  if (stmt.fetch_state != kFetchOutstanding) {
    // A new fetch request; an outstanding one (asynchronous fetch) is
    // waited for again without a second request.
    stmt.operation = kOperationFetch;
    SQLRETURN rc = send_fetch_request(conn, stmt);
    if (rc != SQL_SUCCESS) {
      stmt.fetch_state = kFetchIdle;
      return rc;
    }
    stmt.rows.reset();
  }
  stmt.fetch_state = kFetchOutstanding;
  StatementRun run(conn, stmt);
  SQLRETURN rc = run.finish(fetch_row(conn, stmt, true));
  if (rc != SQL_SUCCESS) {
    if (rc == kRecvTimedOut && stmt.async_enable) return SQL_STILL_EXECUTING;
    stmt.fetch_state = kFetchIdle;
    return rc == kRecvTimedOut ? SQL_ERROR : rc;
  }
  return SQL_SUCCESS;
}

// The bound columns of the row just fetched into their buffers.
[[gnu::noinline]] SQLRETURN convert_bound_columns(StmtBlock& stmt) {
  // Columns past the highest ever bound are not bound.
  SQLRETURN result = SQL_SUCCESS;
  const unsigned char* row_buffer = stmt.result.row_buffer.data();
  size_t bindable = std::min<size_t>(stmt.result.column_count, stmt.result.highest_bound_column);
  for (codec::ColumnDescriptor& c : result_columns(stmt).first(bindable)) {
    if (c.bound_buffer == nullptr) continue;
    if (codec::convert_natural(c, c.bound_c_type, c.bound_buffer, c.bound_buffer_length, c.bound_length, row_buffer))
      continue;
    codec::ConvertResult r;
    if (c.value_length >= 0 && c.value_place == codec::kOnHost) {
      // Left on the host: its first piece now (the rest through SQLGetData).
      r.rc = get_held_value(stmt, static_cast<size_t>(&c - stmt.result.columns.data()), c.bound_c_type,
                            c.bound_buffer, c.bound_buffer_length, c.bound_length);
    } else {
      r = codec::convert_column(c, c.bound_c_type, c.bound_buffer, c.bound_buffer_length, c.bound_length, row_buffer,
                                convert_options());
    }
    if (r.diag) post_diag(stmt.errors, r.rc, *r.diag);
    if (r.rc == SQL_SUCCESS_WITH_INFO) {
      result = SQL_SUCCESS_WITH_INFO;
    } else if (r.rc != SQL_SUCCESS) {
      return r.rc;
    }
  }
  return result;
}

}  // namespace

SQLRETURN sql_fetch(StmtBlock& stmt) {
  if (stmt.fetch_state == kFetchCancelled) {
    stmt.fetch_state = kFetchIdle;
    return post(stmt.errors, SQL_ERROR, kErrCanceled);
  }
  if (stmt.rows_ahead_pending) {
    // The reply of the fetch request that went with the execution.
    stmt.rows_ahead_pending = false;
    stmt.errors.take_all(stmt.rows_ahead_errors);
    if (stmt.rows_ahead != SQL_SUCCESS) return stmt.rows_ahead;
  }
  // The rows of one fetch request are handed out one a call; the next
  // request goes out when they are used up.
  SQLRETURN rc = stmt.fetch_state != kFetchOutstanding && stmt.rows.buffered() > 0 ? unpack_next_row(stmt)
                                                                                    : fetch_from_host(*stmt.conn, stmt);
  if (rc != SQL_SUCCESS) {
    stmt.leave_row();
    return rc;
  }
  stmt.row_at_hand = true;
  stmt.fetch_state = kFetchIdle;
  // An application that reads with SQLGetData alone binds no column.
  return stmt.result.highest_bound_column == 0 ? SQL_SUCCESS : convert_bound_columns(stmt);
}

SQLRETURN sql_get_data(StmtBlock& stmt, SQLUSMALLINT icol, SQLSMALLINT fCType, SQLPOINTER rgbValue,
                       SQLLEN cbValueMax, SQLLEN* pcbValue) {
  if (rgbValue == nullptr) {
    tracef("S1009 mark 2");
    return post(stmt.errors, SQL_ERROR, kErrArgument);
  }
  if (icol < 1 || icol > stmt.result.column_count) return post(stmt.errors, SQL_ERROR, kErrColumnNumber);
  // Before the first row, after the last and after a fetch that failed.
  if (!stmt.row_at_hand) return post(stmt.errors, SQL_ERROR, kErrCursorState, "No row has been fetched");
  codec::ColumnDescriptor& c = stmt.result.columns[icol - 1u];
  const unsigned char* row_buffer = stmt.result.row_buffer.data();
  // The choice of conversion for the next call that asks for this C type.
  codec::QuickWay way = codec::quick_way(c.sql_type, fCType);
  c.quick_c_type = fCType;
  c.quick_way = static_cast<uint8_t>(way);
  if (codec::convert_quick(way, c, fCType, rgbValue, cbValueMax, pcbValue, row_buffer)) return SQL_SUCCESS;
  if (c.value_length >= 0 && c.value_place == codec::kOnHost)
    return get_held_value(stmt, icol - 1u, fCType, rgbValue, cbValueMax, pcbValue);
  codec::ConvertResult r = codec::convert_column(c, fCType, rgbValue, cbValueMax, pcbValue, row_buffer,
                                                 convert_options());
  if (r.diag) post_diag(stmt.errors, r.rc, *r.diag);
  return r.rc;
}

SQLRETURN sql_num_result_cols(StmtBlock& stmt, SQLSMALLINT* pccol) {
  if (pccol) *pccol = static_cast<SQLSMALLINT>(stmt.result.column_count);
  return SQL_SUCCESS;
}

SQLRETURN sql_describe_col(StmtBlock& stmt, SQLUSMALLINT icol, const TextBuffer& name, SQLSMALLINT* pcbColName,
                           SQLSMALLINT* pfSqlType, SQLULEN* pcbColDef, SQLSMALLINT* pibScale,
                           SQLSMALLINT* pfNullable) {
  stmt.errors.clear();
  if (icol < 1 || icol > stmt.result.column_count) return post(stmt.errors, SQL_ERROR, kErrColumnNumber);
  const codec::ColumnDescriptor& c = stmt.result.columns[icol - 1u];
  SQLRETURN rc = SQL_SUCCESS;
  // The name's full length is reported, cut or not, so that a caller can
  // size its buffer.
  bool cut = write_text_out(std::string_view(c.name), name, pcbColName);
  if (cut && name.data != nullptr) rc = post(stmt.errors, SQL_SUCCESS_WITH_INFO, kErrTruncated);
  if (pfSqlType) *pfSqlType = reported_sql_type(c.sql_type, stmt.conn->version());
  if (pcbColDef) *pcbColDef = c.precision;
  if (pibScale) *pibScale = c.scale;
  if (pfNullable) *pfNullable = c.nullable;
  return rc;
}

SQLRETURN sql_col_attributes(StmtBlock& stmt, SQLUSMALLINT icol, SQLUSMALLINT fDescType, const TextBuffer& desc,
                             SQLSMALLINT* pcbDesc, SQLLEN* pfDesc) {
  stmt.errors.clear();
  if (fDescType == SQL_COLUMN_COUNT) {
    if (pfDesc) *pfDesc = stmt.result.column_count;
    return SQL_SUCCESS;
  }
  if (icol < 1 || icol > stmt.result.column_count) return post(stmt.errors, SQL_ERROR, kErrColumnNumber);
  if (fDescType < SQL_COLUMN_NAME || fDescType > SQL_COLUMN_LABEL)
    return post(stmt.errors, SQL_ERROR, kErrDescriptorType);
  const codec::ColumnDescriptor& c = stmt.result.columns[icol - 1u];

  auto text = [&](std::string_view value) -> SQLRETURN {
    bool cut = write_text_out(value, desc, pcbDesc);
    if (cut && desc.data != nullptr) return post(stmt.errors, SQL_SUCCESS_WITH_INFO, kErrTruncated);
    return SQL_SUCCESS;
  };
  auto number = [&](std::optional<SQLLEN> value) -> SQLRETURN {
    if (pfDesc && value) *pfDesc = *value;
    return SQL_SUCCESS;
  };
  switch (fDescType) {
    case SQL_COLUMN_NAME:
    case SQL_COLUMN_LABEL: return text(c.name);
    case SQL_COLUMN_TYPE: return number(reported_sql_type(c.sql_type, stmt.conn->version()));
    case SQL_COLUMN_LENGTH: return number(column_length(c, false));
    case SQL_COLUMN_PRECISION: return number(c.precision);
    case SQL_COLUMN_SCALE: return number(c.scale);
    case SQL_COLUMN_DISPLAY_SIZE: return number(column_length(c, true));
    case SQL_COLUMN_NULLABLE: return number(c.nullable);
    case SQL_COLUMN_UNSIGNED:
    case SQL_COLUMN_CASE_SENSITIVE: return number(is_character_type(c.sql_type) ? 1 : 0);
    case SQL_COLUMN_MONEY:
    case SQL_COLUMN_AUTO_INCREMENT: return number(0);
    case SQL_COLUMN_UPDATABLE: return number(SQL_ATTR_READWRITE_UNKNOWN);
    case SQL_COLUMN_SEARCHABLE: return number(SQL_SEARCHABLE);
    case SQL_COLUMN_TYPE_NAME: return text(sql_type_name(c.sql_type));
    default: return text("");  // table, owner and qualifier names
  }
}

SQLRETURN sql_bind_col(StmtBlock& stmt, SQLUSMALLINT icol, SQLSMALLINT fCType, SQLPOINTER rgbValue,
                       SQLLEN cbValueMax, SQLLEN* pcbValue) {
  if (icol == 0 || icol > kMaxColumnNumber) return post(stmt.errors, SQL_ERROR, kErrColumnNumber);
  if (stmt.result.reserve_binding(icol)) return post(stmt.errors, SQL_ERROR, kErrGeneral, "Cannot lock column info");
  codec::ColumnDescriptor& c = stmt.result.columns[icol - 1u];
  c.bound_buffer = rgbValue;
  c.bound_length = pcbValue;
  c.bound_c_type = fCType;
  c.bound_buffer_length = cbValueMax;
  return SQL_SUCCESS;
}

SQLRETURN sql_row_count(StmtBlock& stmt, SQLLEN* pcrow) {
  stmt.errors.clear();
  if (pcrow) *pcrow = stmt.result.row_count;
  return SQL_SUCCESS;
}

SQLRETURN sql_more_results(StmtBlock& stmt) {
  stmt.errors.clear();
  return SQL_NO_DATA_FOUND;
}

SQLRETURN sql_set_pos(StmtBlock&) {
  trace_entry("SQLsetPos");
  return SQL_SUCCESS;
}

}  // namespace quarl::driver
