#include "driver/core/execute.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/hostmsg.h"
#include "driver/codec/describe.h"
#include "driver/codec/param_entry.h"
#include "driver/codec/request.h"
#include "driver/codec/sql_text.h"
#include "common/utf.h"
#include "driver/core/handles.h"
#include "driver/core/link.h"
#include "driver/core/statement.h"

namespace quarl::driver {

namespace code = hostmsg::code;

namespace {

// The highest parameter number an application may bind.
constexpr SQLUSMALLINT kMaxParamNumber = 1024;

SQLRETURN post_diag(ErrorList& list, SQLRETURN rc, const codec::Diag& d) {
  return post(list, rc, static_cast<unsigned>(d.index), d.text.empty() ? nullptr : d.text.c_str());
}

// Forgets the result description after a reply that could not be read, so
// that no fetch unpacks rows with a stale layout.  Bindings stay.
void forget_description(StmtBlock& stmt) {
  stmt.result.column_count = 0;
  stmt.result.param_marker_count = 0;
  stmt.result.row_buffer.clear();
}

// The statement request itself, with the parameter records to send.
SQLRETURN run_request(ConnBlock& conn, StmtBlock& stmt, unsigned request_code, const char* text, SQLINTEGER length,
                      std::span<const codec::ParamRecord> params) {
  if (!conn.connected()) return post(stmt.errors, SQL_ERROR, kErrNotOpen);
  std::optional<std::string_view> clean;
  if (request_code != code::kExecute) {
    codec::CleanText c = codec::clean_sql_text(reinterpret_cast<const char*>(text), length);
    if (c.diag) return post_diag(stmt.errors, SQL_ERROR, *c.diag);
    clean = c.text;
  }
  stmt.discard_rows();
  // A fixed budget; a link whose messages are smaller lowers it, so that no
  // message outgrows the send buffer.
  size_t budget = std::min(codec::kRequestBudget, conn.channel.max_data_length());
  codec::StatementRequest request(stmt.host_id, request_code, clean, budget);
  // Every parameter is read and checked before the first message goes out.
  if (auto d = request.start(params)) return post_diag(stmt.errors, SQL_ERROR, *d);

  uint8_t saved_timeout = conn.channel.receive_timeout;
  conn.channel.receive_timeout = kStatementReceiveTimeout;
  struct Restore {
    ConnBlock& conn;
    uint8_t timeout;
    ~Restore() { conn.channel.receive_timeout = timeout; }
  } restore{conn, saved_timeout};

  StatementRun run(conn, stmt);
  for (;;) {
    size_t n = request.build_next(conn.channel.out());
    hostlink::Reply reply = host_request(conn, hostmsg::kDatabase, request_code, n, WaitFor::Statement, &stmt);
    if (!reply) return run.finish(link_failure(conn, stmt.errors));
    codec::StatementRequest::ReplyStep step = request.on_reply(reply.data());
    switch (step.kind) {
      case codec::StatementRequest::ReplyStep::HostErrors:
        return run.finish(post_host_items(stmt.errors, reply.after_status(), static_cast<SQLRETURN>(step.rc)));
      case codec::StatementRequest::ReplyStep::Malformed:
        return run.finish(post(stmt.errors, SQL_ERROR, kErrCommLink, "Empty reply from host to a statement request"));
      case codec::StatementRequest::ReplyStep::SendNext:
        break;
      case codec::StatementRequest::ReplyStep::Describe:
        if (SQLRETURN rc = read_describe_reply(conn, stmt, request_code, reply.after_status()); rc != SQL_SUCCESS)
          return run.finish(rc);
        break;
    }
    if (request.finished()) return run.finish(SQL_SUCCESS);
  }
}

// Bound parameters that wait for data at execution, in parameter order.
std::vector<uint16_t> data_at_exec_params(const StmtBlock& stmt) {
  std::vector<uint16_t> out;
  for (size_t i = 0; i < stmt.params.size() && i < stmt.highest_bound_param; ++i) {
    const codec::ParamRecord& p = stmt.params[i];
    if (codec::is_bound(p) && p.length != nullptr && is_data_at_exec(*p.length))
      out.push_back(static_cast<uint16_t>(i + 1));
  }
  return out;
}

// The bound parameters that a request reads.
std::span<const codec::ParamRecord> bound_params(const StmtBlock& stmt) {
  return std::span<const codec::ParamRecord>(stmt.params.data(),
                                             std::min<size_t>(stmt.params.size(), stmt.highest_bound_param));
}

// Execute direct and execute: held back while parameters wait for data.
SQLRETURN execute_or_defer(StmtBlock& stmt, unsigned request_code, SQLCHAR* text, SQLINTEGER length) {
  ConnBlock& conn = *stmt.conn;
  stmt.pending.clear();
  if (conn.connected()) {
    std::vector<uint16_t> needed = data_at_exec_params(stmt);
    if (!needed.empty()) {
      PendingExecution& p = stmt.pending;
      if (text != nullptr) {
        if (length == SQL_NTS) {
          p.text.assign(reinterpret_cast<const char*>(text));
        } else if (length >= 0) {
          p.text.assign(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
        } else {
          return execute_statement(conn, stmt, request_code, reinterpret_cast<const char*>(text), length);
        }
      }
      p.active = true;
      p.code = request_code;
      p.values.resize(needed.size());
      p.needed = std::move(needed);
      return SQL_NEED_DATA;
    }
  }
  return execute_statement(conn, stmt, request_code, reinterpret_cast<const char*>(text), length);
}

// Bytes a value of a fixed-size C type takes; 0 for the variable-length ones.
size_t fixed_size_of(SQLSMALLINT c_type) {
  switch (c_type) {
    case SQL_C_BIT:
    case SQL_C_TINYINT:
    case SQL_C_STINYINT:
    case SQL_C_UTINYINT: return 1;
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT: return 2;
    case SQL_C_LONG:
    case SQL_C_SLONG:
    case SQL_C_ULONG:
    case SQL_C_FLOAT: return 4;
    case SQL_C_DOUBLE:
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT: return 8;
    case SQL_C_NUMERIC: return sizeof(SQL_NUMERIC_STRUCT);
    case SQL_C_DATE:
    case SQL_C_TYPE_DATE: return sizeof(DATE_STRUCT);
    case SQL_C_TIME:
    case SQL_C_TYPE_TIME: return sizeof(TIME_STRUCT);
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_TIMESTAMP: return sizeof(TIMESTAMP_STRUCT);
    default: return 0;
  }
}

// Data at execution is collected up to what a character parameter can carry
// (three length digits of UTF-8 bytes; a wide character is at least one).
size_t data_at_exec_limit(SQLSMALLINT c_type) {
  return c_type == SQL_C_WCHAR ? 2 * codec::kMaxCharParam : codec::kMaxCharParam;
}

// Runs the held-back request with the collected values in place of the
// data-at-execution parameters.
SQLRETURN run_pending(StmtBlock& stmt) {
  PendingExecution p = std::move(stmt.pending);
  stmt.pending.clear();
  std::vector<codec::ParamRecord> params(bound_params(stmt).begin(), bound_params(stmt).end());
  for (size_t i = 0; i < p.needed.size(); ++i) {
    codec::ParamRecord& r = params[p.needed[i] - 1u];
    PendingExecution::Value& v = p.values[i];
    size_t fixed = fixed_size_of(r.c_type);
    if (!v.put || v.null || (fixed != 0 && v.bytes.size() < fixed)) {
      v.length = SQL_NULL_DATA;  // no value was supplied: NULL
    } else {
      v.length = static_cast<SQLLEN>(v.bytes.size());
    }
    r.value = v.bytes.data();
    r.length = &v.length;
  }
  ConnBlock& conn = *stmt.conn;
  if (p.code == code::kExecute) return run_request(conn, stmt, p.code, nullptr, 0, params);
  return run_request(conn, stmt, p.code, p.text.data(), static_cast<SQLINTEGER>(p.text.size()), params);
}

}  // namespace

SQLRETURN execute_statement(ConnBlock& conn, StmtBlock& stmt, unsigned request_code, const char* text,
                            SQLINTEGER length) {
  return run_request(conn, stmt, request_code, text, length, bound_params(stmt));
}

SQLRETURN read_describe_reply(ConnBlock& conn, StmtBlock& stmt, unsigned request_code, std::string_view data) {
  codec::DescribeReader reader(request_code);
  codec::DescribeReader::Step step = reader.feed(data);
  while (step == codec::DescribeReader::Step::NeedMore) {
    // The column items go on in the next message (same code, not checked).
    hostlink::Reply next = recv_host_msg(conn, conn.channel.receive_timeout, WaitFor::Statement, &stmt);
    if (!next) {
      stmt.errors.take_all(conn.errors);
      stmt.result.columns.clear();
      forget_description(stmt);
      return SQL_ERROR;
    }
    step = reader.feed(next.data());
  }
  if (step == codec::DescribeReader::Step::Failed) {
    forget_description(stmt);
    return post_diag(stmt.errors, SQL_ERROR, reader.diag());
  }
  if (auto d = stmt.result.apply(reader.description())) return post_diag(stmt.errors, SQL_ERROR, *d);
  return SQL_SUCCESS;
}

SQLRETURN request_description(ConnBlock& conn, StmtBlock& stmt, unsigned request_code, size_t length) {
  if (!conn.connected()) return post(stmt.errors, SQL_ERROR, kErrNotOpen);
  stmt.discard_rows();
  StatementRun run(conn, stmt);
  hostlink::Reply reply = host_request(conn, hostmsg::kDatabase, request_code, length, WaitFor::Statement, &stmt);
  if (!reply) return run.finish(link_failure(conn, stmt.errors));
  if (reply.data().empty()) return run.finish(post(stmt.errors, SQL_ERROR, kErrCommLink, "Empty reply from host"));
  if (reply.carries_error_items()) return run.finish(host_status(stmt.errors, reply));
  return run.finish(read_describe_reply(conn, stmt, request_code, reply.after_status()));
}

// ---- entry point bodies ----

SQLRETURN sql_prepare(StmtBlock& stmt, SQLCHAR* szSqlStr, SQLINTEGER cbSqlStr) {
  stmt.pending.clear();
  return execute_statement(*stmt.conn, stmt, code::kPrepare, reinterpret_cast<const char*>(szSqlStr), cbSqlStr);
}

SQLRETURN sql_exec_direct(StmtBlock& stmt, SQLCHAR* szSqlStr, SQLINTEGER cbSqlStr) {
  return execute_or_defer(stmt, code::kExecDirect, szSqlStr, cbSqlStr);
}

SQLRETURN sql_execute(StmtBlock& stmt) { return execute_or_defer(stmt, code::kExecute, nullptr, 0); }

SQLRETURN sql_bind_parameter(StmtBlock& stmt, SQLUSMALLINT ipar, SQLSMALLINT fCType, SQLSMALLINT fSqlType,
                             SQLULEN cbColDef, SQLSMALLINT ibScale, SQLPOINTER rgbValue, SQLLEN* pcbValue,
                             SQLLEN cbValueMax) {
  // A NULL or a data-at-execution value needs no buffer behind it; the length
  // is read only at execution (the application may set it after binding).
  if (rgbValue == nullptr && pcbValue == nullptr) return post(stmt.errors, SQL_ERROR, kErrArgument);
  if (ipar == 0 || ipar > kMaxParamNumber) return post(stmt.errors, SQL_ERROR, kErrColumnNumber);
  try {
    stmt.highest_bound_param = std::max<uint16_t>(stmt.highest_bound_param, ipar);
    if (stmt.params.size() < stmt.highest_bound_param) stmt.params.resize(stmt.highest_bound_param, {});
  } catch (const std::bad_alloc&) {
    return post(stmt.errors, SQL_ERROR, kErrGeneral, "Cannot lock parameter info");
  }
  codec::ParamRecord& p = stmt.params[ipar - 1u];
  p.c_type = fCType;
  p.sql_type = fSqlType;
  p.precision = static_cast<uint32_t>(cbColDef);
  p.scale = ibScale;
  p.value = rgbValue;
  p.length = pcbValue;
  p.buffer_length = cbValueMax;
  return SQL_SUCCESS;
}

SQLRETURN sql_describe_param(StmtBlock& stmt, SQLUSMALLINT ipar, SQLSMALLINT* pfSqlType, SQLULEN* pcbColDef,
                             SQLSMALLINT* pibScale, SQLSMALLINT* pfNullable) {
  if (ipar == 0 || ipar > stmt.result.param_marker_count) return post(stmt.errors, SQL_ERROR, kErrColumnNumber);
  SQLSMALLINT type = SQL_VARCHAR;
  SQLULEN precision = 255;
  SQLSMALLINT scale = 0;
  if (ipar <= stmt.highest_bound_param && ipar <= stmt.params.size() && stmt.params[ipar - 1u].sql_type != 0) {
    const codec::ParamRecord& p = stmt.params[ipar - 1u];
    type = p.sql_type;
    precision = p.precision;
    scale = static_cast<SQLSMALLINT>(p.scale);
  }
  if (pfSqlType) *pfSqlType = type;
  if (pcbColDef) *pcbColDef = precision;
  if (pibScale) *pibScale = scale;
  if (pfNullable) *pfNullable = SQL_NULLABLE_UNKNOWN;
  return SQL_SUCCESS;
}

SQLRETURN sql_num_params(StmtBlock& stmt, SQLSMALLINT* pcpar) {
  if (pcpar) *pcpar = static_cast<SQLSMALLINT>(stmt.result.param_marker_count);
  return SQL_SUCCESS;
}

SQLRETURN sql_param_options(StmtBlock& stmt, SQLULEN crow, SQLULEN* pirow) {
  // One set of values per execution: an array of them would be sent as its
  // first row alone, so it is refused.
  if (crow > 1) return post(stmt.errors, SQL_ERROR, kErrNotCapable, "Parameter arrays are not supported");
  if (pirow) *pirow = crow;
  return SQL_SUCCESS;
}

SQLRETURN sql_param_data(StmtBlock& stmt, SQLPOINTER* prgbValue) {
  PendingExecution& p = stmt.pending;
  if (!p.active) return post(stmt.errors, SQL_ERROR, kErrSequence);
  size_t next = static_cast<size_t>(p.current + 1);
  if (next < p.needed.size()) {
    p.current = static_cast<int>(next);
    if (prgbValue) *prgbValue = stmt.params[p.needed[next] - 1u].value;
    return SQL_NEED_DATA;
  }
  return run_pending(stmt);
}

SQLRETURN sql_put_data(StmtBlock& stmt, SQLPOINTER rgbValue, SQLLEN cbValue) {
  PendingExecution& p = stmt.pending;
  if (!p.active || p.current < 0) return post(stmt.errors, SQL_ERROR, kErrSequence);
  uint16_t number = p.needed[static_cast<size_t>(p.current)];
  const codec::ParamRecord& r = stmt.params[number - 1u];
  PendingExecution::Value& v = p.values[static_cast<size_t>(p.current)];
  v.put = true;
  if (cbValue == SQL_NULL_DATA) {
    v.null = true;
    v.bytes.clear();
    return SQL_SUCCESS;
  }
  v.null = false;
  if (rgbValue == nullptr) {
    if (cbValue == 0) return SQL_SUCCESS;
    return post(stmt.errors, SQL_ERROR, kErrArgument);
  }
  size_t fixed = fixed_size_of(r.c_type);
  if (fixed != 0) {  // a fixed-size value comes whole
    v.bytes.assign(static_cast<const char*>(rgbValue), fixed);
    return SQL_SUCCESS;
  }
  size_t n;
  if (cbValue == SQL_NTS) {
    n = r.c_type == SQL_C_WCHAR ? 2 * utf16_length(rgbValue) : std::strlen(static_cast<const char*>(rgbValue));
  } else if (cbValue >= 0) {
    n = static_cast<size_t>(cbValue);
  } else {
    return post(stmt.errors, SQL_ERROR, kErrArgument);
  }
  if (v.bytes.size() + n > data_at_exec_limit(r.c_type))
    return post(stmt.errors, SQL_ERROR, kErrGeneral,
                "Parameter " + std::to_string(number) + ": character value longer than " +
                    std::to_string(codec::kMaxCharParam) + " bytes");
  v.bytes.append(static_cast<const char*>(rgbValue), n);
  return SQL_SUCCESS;
}

}  // namespace quarl::driver
