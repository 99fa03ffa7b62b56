#include "driver/core/execute.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/hostmsg.h"
#include "common/long_values.h"
#include "driver/codec/describe.h"
#include "driver/codec/param_entry.h"
#include "driver/codec/request.h"
#include "driver/codec/sql_text.h"
#include "driver/codec/value.h"
#include "common/utf.h"
#include "driver/core/handles.h"
#include "driver/core/link.h"
#include "driver/core/long_values.h"
#include "driver/core/results.h"
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
  // message outgrows the send buffer.  With long values the whole message.
  size_t budget = conn.long_values ? conn.channel.max_data_length()
                                   : std::min(codec::kRequestBudget, conn.channel.max_data_length());
  codec::StatementRequest request(stmt.host_id, request_code, clean, budget, long_value_forms(conn));
  // Every parameter is read and checked before the first message goes out.
  if (auto d = request.start(params)) return post_diag(stmt.errors, SQL_ERROR, *d);

  uint8_t saved_timeout = conn.channel.receive_timeout;
  conn.channel.receive_timeout = kStatementReceiveTimeout;
  struct Restore {
    ConnBlock& conn;
    uint8_t timeout;
    ~Restore() { conn.channel.receive_timeout = timeout; }
  } restore{conn, saved_timeout};

  // Values too long for their entries go ahead of the request.
  for (const codec::ApartValue& v : request.apart_values())
    if (SQLRETURN rc = send_param_pieces(conn, stmt, v.number, true, v.view()); rc != SQL_SUCCESS) return rc;

  StatementRun run(conn, stmt);
  // Until the request is known to have ended without one, the host may hold
  // a result for the statement.
  stmt.host_result_open = true;
  // A query's first rows are asked for with it: the fetch request goes
  // right behind the execution's last message, and its reply (which the
  // host sends right behind the execution's) is read before the execution
  // returns, so that a short result costs one round trip.  When the
  // execution gives no rows after all, that reply is dropped as it comes.
  bool fetch_ahead = conn.face().overlap_round_trips && !stmt.async_enable &&
                     (request_code == code::kExecute ? stmt.result.column_count > 0
                                                     : request_code == code::kExecDirect && clean &&
                                                           codec::reads_rows(*clean));
  bool fetch_sent = false;
  auto finish = [&](SQLRETURN rc) {
    if (fetch_sent) conn.channel.await_no_reply(hostmsg::kDatabase, code::kFetch);
    return run.finish(rc);
  };
  for (;;) {
    size_t n = request.build_next(conn.channel.out());
    hostlink::Reply reply;
    if (fetch_ahead && request.finished()) {
      fetch_sent = true;
      reply = host_request_and_fetch(conn, request_code, n, stmt);
    } else {
      reply = host_request(conn, hostmsg::kDatabase, request_code, n, WaitFor::Statement, &stmt);
    }
    if (!reply) return finish(link_failure(conn, stmt.errors));
    codec::StatementRequest::ReplyStep step = request.on_reply(reply.data());
    switch (step.kind) {
      case codec::StatementRequest::ReplyStep::HostErrors:
        return finish(post_host_items(stmt.errors, reply.after_status(), static_cast<SQLRETURN>(step.rc)));
      case codec::StatementRequest::ReplyStep::Malformed:
        return finish(post(stmt.errors, SQL_ERROR, kErrCommLink, "Empty reply from host to a statement request"));
      case codec::StatementRequest::ReplyStep::SendNext:
        break;
      case codec::StatementRequest::ReplyStep::Describe:
        if (SQLRETURN rc = read_describe_reply(conn, stmt, request_code, reply.after_status()); rc != SQL_SUCCESS)
          return finish(rc);
        break;
    }
    if (request.finished()) {
      // A prepare leaves no result on the host; an execution one with columns.
      stmt.host_result_open = request_code != code::kPrepare && stmt.result.column_count > 0;
      if (fetch_sent && stmt.host_result_open) {
        fetch_sent = false;
        receive_rows_ahead(conn, stmt);
      }
      return finish(SQL_SUCCESS);
    }
  }
}

// Bound parameters that wait for data at execution, in parameter order.
std::vector<uint16_t> data_at_exec_params(std::span<const codec::ParamRecord> params) {
  std::vector<uint16_t> out;
  for (size_t i = 0; i < params.size(); ++i) {
    const codec::ParamRecord& p = params[i];
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

// The bound parameters of one set of a parameter array, their pointers moved
// to where the set lies: by the bind offset, and by the set's place in
// row-wise (SQL_ATTR_PARAM_BIND_TYPE bytes a set) or column-wise arrays (a
// value's size, or its buffer length for text; a length indicator's size).
std::optional<codec::Diag> set_params(const StmtBlock& stmt, SQLULEN set, std::vector<codec::ParamRecord>& out) {
  std::span<const codec::ParamRecord> bound = bound_params(stmt);
  out.assign(bound.begin(), bound.end());
  const ParamArray& array = stmt.param_array;
  SQLULEN offset = array.bind_offset ? *array.bind_offset : 0;
  bool by_column = array.bind_type == SQL_PARAM_BIND_BY_COLUMN;
  for (size_t i = 0; i < out.size(); ++i) {
    codec::ParamRecord& p = out[i];
    size_t value_step = array.bind_type, length_step = array.bind_type;
    if (by_column) {
      size_t fixed = codec::c_type_size(p.c_type);
      value_step = fixed != 0 ? fixed : static_cast<size_t>(p.buffer_length > 0 ? p.buffer_length : 0);
      length_step = sizeof(SQLLEN);
      if (set > 0 && value_step == 0 && p.value != nullptr)
        return codec::Diag{kErrStringLength, "Parameter " + std::to_string(i + 1) +
                                                 ": a column-wise array of text needs its buffer length"};
    }
    if (p.value) p.value = static_cast<char*>(p.value) + offset + set * value_step;
    if (p.length) p.length = reinterpret_cast<SQLLEN*>(reinterpret_cast<char*>(p.length) + offset + set * length_step);
  }
  return std::nullopt;
}

// Execute direct and execute with one set of values: held back while
// parameters wait for data.
SQLRETURN defer_or_run(StmtBlock& stmt, unsigned request_code, SQLCHAR* text, SQLINTEGER length,
                       std::span<const codec::ParamRecord> params) {
  ConnBlock& conn = *stmt.conn;
  const char* sql = reinterpret_cast<const char*>(text);
  std::vector<codec::ParamRecord> only_marked;
  if (text != nullptr && (length >= 0 || length == SQL_NTS)) {
    // A parameter waiting for data beyond the text's markers is not the
    // statement's: it asks for no data and is not sent (pyodbc leaves a
    // failed execution's parameters bound for the next text).
    std::string_view whole =
        length == SQL_NTS ? std::string_view(sql) : std::string_view(sql, static_cast<size_t>(length));
    auto markers = codec::count_parameter_markers(whole);
    for (size_t i = markers ? *markers : params.size(); i < params.size(); ++i) {
      if (params[i].length == nullptr || !is_data_at_exec(*params[i].length)) continue;
      if (only_marked.empty()) only_marked.assign(params.begin(), params.end());
      only_marked[i].value = nullptr;
      only_marked[i].length = nullptr;
    }
    if (!only_marked.empty()) params = only_marked;
  }
  if (conn.connected()) {
    std::vector<uint16_t> needed = data_at_exec_params(params);
    if (!needed.empty()) {
      PendingExecution& p = stmt.pending;
      if (text != nullptr) {
        if (length == SQL_NTS) {
          p.text.assign(sql);
        } else if (length >= 0) {
          p.text.assign(sql, static_cast<size_t>(length));
        } else {
          return run_request(conn, stmt, request_code, sql, length, params);
        }
      }
      p.active = true;
      p.code = request_code;
      p.params.assign(params.begin(), params.end());
      p.values.resize(needed.size());
      p.needed = std::move(needed);
      return SQL_NEED_DATA;
    }
  }
  return run_request(conn, stmt, request_code, sql, length, params);
}

// The status of the only set, where the application asked for it.
SQLRETURN note_single_set(StmtBlock& stmt, SQLRETURN rc) {
  if (rc == SQL_NEED_DATA) return rc;
  ParamArray& array = stmt.param_array;
  if (array.processed) *array.processed = 1;
  if (array.status)
    array.status[0] = rc == SQL_SUCCESS ? SQL_PARAM_SUCCESS
                      : rc == SQL_SUCCESS_WITH_INFO ? SQL_PARAM_SUCCESS_WITH_INFO
                                                    : SQL_PARAM_ERROR;
  return rc;
}

// The host's error items of a failed set, each text saying which set it was.
void post_set_items(ErrorList& list, std::string_view items, SQLULEN set) {
  std::string prefix = "Parameter set " + std::to_string(set + 1) + ": ";
  int posted = hostmsg::for_each_error_item(items, [&](unsigned index, std::string_view text) {
    std::string t = prefix + std::string(text);
    post_raw_error(list, index < kHostErrorIndexCount ? index : unsigned{kErrGeneral}, 0, t.data(), t.size());
  });
  if (posted == 0) post_error(list, kErrGeneral, prefix + "the host reported a failure without a message");
}

// An array of parameter sets (SQL_ATTR_PARAMSET_SIZE above 1): the statement
// is prepared (for execute direct), then its sets go in as few messages as
// the message size allows, each run on the host in turn.  The first set that
// fails ends the execution: the sets before it keep what they did (as the
// same statements run one by one would), the rest are not run.  The status
// array and the processed count tell each set's fate; the row count is the
// sum of the sets' rows.
SQLRETURN run_array(ConnBlock& conn, StmtBlock& stmt, unsigned request_code, SQLCHAR* text, SQLINTEGER length) {
  if (!conn.connected()) return post(stmt.errors, SQL_ERROR, kErrNotOpen);
  ParamArray& array = stmt.param_array;
  if (request_code == code::kExecDirect) {
    SQLRETURN rc = run_request(conn, stmt, code::kPrepare, reinterpret_cast<const char*>(text), length, {});
    if (rc != SQL_SUCCESS) return rc;
  }
  if (stmt.result.column_count > 0)
    return post(stmt.errors, SQL_ERROR, kErrNotCapable,
                "A statement with a result takes one set of parameters at a time (SQL_ATTR_PARAMSET_SIZE 1)");
  if (array.status)
    for (SQLULEN i = 0; i < array.size; ++i) array.status[i] = SQL_PARAM_UNUSED;
  SQLULEN processed = 0;
  auto note_processed = [&] {
    if (array.processed) *array.processed = processed;
  };
  note_processed();

  int64_t changed = 0;
  SQLRETURN result = SQL_SUCCESS;
  std::vector<SQLULEN> in_message;  // the sets of the message being built
  std::vector<codec::ParamRecord> params;
  codec::SetsMessage message(stmt.host_id, conn.channel.max_data_length(), long_value_forms(conn));
  StatementRun run(conn, stmt);
  stmt.host_result_open = true;  // the host's statement stays as the sets left it

  // Sends the message and takes the fate of its sets; false ends the execution.
  auto send_message = [&]() -> bool {
    if (message.sets() == 0) return true;
    std::string_view data = message.data();
    std::memcpy(conn.channel.out(), data.data(), data.size());
    hostlink::Reply reply =
        host_request(conn, hostmsg::kDatabase, code::kExecuteSets, data.size(), WaitFor::Statement, &stmt);
    if (!reply) {
      result = link_failure(conn, stmt.errors);
      return false;
    }
    codec::SetsReply r = codec::read_sets_reply(reply.data());
    switch (r.kind) {
      case codec::SetsReply::Malformed:
        result = post(stmt.errors, SQL_ERROR, kErrCommLink, "Malformed reply from host to parameter sets");
        return false;
      case codec::SetsReply::HostErrors:
        if (array.status) array.status[in_message.front()] = SQL_PARAM_ERROR;
        ++processed;
        post_set_items(stmt.errors, r.items, in_message.front());
        result = SQL_ERROR;
        return false;
      case codec::SetsReply::Ran:
        break;
    }
    size_t ran = std::min<size_t>(r.run, in_message.size());
    changed += r.changed;
    for (size_t k = 0; k < ran; ++k) {
      bool failed = r.last_failed && k + 1 == ran;
      if (array.status) array.status[in_message[k]] = failed ? SQL_PARAM_ERROR : SQL_PARAM_SUCCESS;
      if (failed) post_set_items(stmt.errors, r.items, in_message[k]);
    }
    processed += ran;
    in_message.clear();
    message.clear();
    if (r.last_failed || ran < r.run) {
      result = SQL_ERROR;
      return false;
    }
    return true;
  };

  for (SQLULEN set = 0; set < array.size && result != SQL_ERROR; ++set) {
    if (array.operation && array.operation[set] == SQL_PARAM_IGNORE) continue;
    std::optional<codec::Diag> diag = set_params(stmt, set, params);
    if (!diag && !data_at_exec_params(params).empty())
      diag = codec::Diag{kErrNotCapable, "Data at execution is not supported in parameter arrays"};
    codec::SetsMessage::Add added = codec::SetsMessage::Add::Failed;
    if (!diag) {
      added = message.add(params, diag);
      if (added == codec::SetsMessage::Add::Full) {
        if (!send_message()) break;
        added = message.add(params, diag);
      }
    }
    if (added == codec::SetsMessage::Add::Added) {
      in_message.push_back(set);
      continue;
    }
    // This set cannot be sent: the sets before it are run first.
    if (!send_message()) break;
    if (added == codec::SetsMessage::Add::TooLarge && conn.long_values) {
      // Long values that no message of sets holds: this set alone, as an
      // execution whose long values go ahead in pieces.
      SQLRETURN rc = run_request(conn, stmt, code::kExecute, nullptr, 0, params);
      stmt.host_result_open = true;
      ++processed;
      if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
        if (array.status) array.status[set] = rc == SQL_SUCCESS ? SQL_PARAM_SUCCESS : SQL_PARAM_SUCCESS_WITH_INFO;
        changed += std::max<int64_t>(stmt.result.row_count, 0);
        continue;
      }
      if (array.status) array.status[set] = SQL_PARAM_ERROR;
      result = SQL_ERROR;
      break;
    }
    if (added == codec::SetsMessage::Add::TooLarge)
      diag = codec::Diag{kErrGeneral, "Parameter set " + std::to_string(set + 1) + " does not fit a message"};
    if (array.status) array.status[set] = SQL_PARAM_ERROR;
    ++processed;
    post_diag(stmt.errors, SQL_ERROR, *diag);
    result = SQL_ERROR;
  }
  if (result != SQL_ERROR) send_message();
  note_processed();
  stmt.result.row_count = static_cast<int32_t>(std::clamp<int64_t>(changed, INT32_MIN, INT32_MAX));
  return run.finish(result);
}

// Execute direct and execute: arrays of parameter sets where the face has
// them; one set held back while parameters wait for data.
SQLRETURN execute_or_defer(StmtBlock& stmt, unsigned request_code, SQLCHAR* text, SQLINTEGER length) {
  ConnBlock& conn = *stmt.conn;
  stmt.pending.clear();
  if (!conn.face().parameter_arrays) return defer_or_run(stmt, request_code, text, length, bound_params(stmt));
  if (stmt.param_array.size > 1) return run_array(conn, stmt, request_code, text, length);
  std::vector<codec::ParamRecord> params;
  if (auto d = set_params(stmt, 0, params)) return note_single_set(stmt, post_diag(stmt.errors, SQL_ERROR, *d));
  return note_single_set(stmt, defer_or_run(stmt, request_code, text, length, params));
}

// Data at execution is collected up to what a character parameter can carry
// (three length digits of UTF-8 bytes; a wide character is at least one).
size_t data_at_exec_limit(SQLSMALLINT c_type) {
  return c_type == SQL_C_WCHAR ? 2 * codec::kMaxCharParam : codec::kMaxCharParam;
}

// Sends the pieces that a streamed value has filled (all it holds when the
// value is complete).
SQLRETURN flush_pieces(StmtBlock& stmt, uint16_t number, PendingExecution::Value& v, bool complete) {
  ConnBlock& conn = *stmt.conn;
  size_t per_piece = conn.channel.max_data_length() - longvalues::kParamPieceHead;
  size_t n = complete ? v.bytes.size() : v.bytes.size() / per_piece * per_piece;
  if (n == 0 && !(complete && v.sent == 0)) return SQL_SUCCESS;
  SQLRETURN rc = send_param_pieces(conn, stmt, number, v.sent == 0, std::string_view(v.bytes).substr(0, n));
  v.sent += n;
  v.bytes.erase(0, n);
  return rc;
}

// Runs the held-back request with the collected values in place of the
// data-at-execution parameters.
SQLRETURN run_pending(StmtBlock& stmt) {
  PendingExecution p = std::move(stmt.pending);
  stmt.pending.clear();
  std::vector<codec::ParamRecord>& params = p.params;
  for (size_t i = 0; i < p.needed.size(); ++i) {
    codec::ParamRecord& r = params[p.needed[i] - 1u];
    PendingExecution::Value& v = p.values[i];
    if (v.streamed && v.put && !v.null) {
      // The rest of its pieces; the entry then says how many bytes went ahead.
      if (auto d = v.stream.finish(p.needed[i])) return post_diag(stmt.errors, SQL_ERROR, *d);
      if (SQLRETURN rc = flush_pieces(stmt, p.needed[i], v, true); rc != SQL_SUCCESS) return rc;
      r.sent_apart = static_cast<int64_t>(v.sent);
      v.length = static_cast<SQLLEN>(v.sent);
      r.value = v.bytes.data();
      r.length = &v.length;
      continue;
    }
    size_t fixed = codec::c_type_size(r.c_type);
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
  codec::DescribeReader reader(request_code, conn.long_values);
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
  stmt.host_result_open = true;
  hostlink::Reply reply = host_request(conn, hostmsg::kDatabase, request_code, length, WaitFor::Statement, &stmt);
  if (!reply) return run.finish(link_failure(conn, stmt.errors));
  if (reply.data().empty()) return run.finish(post(stmt.errors, SQL_ERROR, kErrCommLink, "Empty reply from host"));
  if (reply.carries_error_items()) return run.finish(host_status(stmt.errors, reply));
  SQLRETURN rc = read_describe_reply(conn, stmt, request_code, reply.after_status());
  stmt.host_result_open = rc != SQL_SUCCESS || stmt.result.column_count > 0;
  return run.finish(rc);
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
  // A marker without a binding: the driver's own answer (the host does not
  // describe parameters).
  SQLSMALLINT type = stmt.conn->face().unbound_param.sql_type;
  SQLULEN precision = stmt.conn->face().unbound_param.size;
  SQLSMALLINT scale = stmt.conn->face().unbound_param.decimal_digits;
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
    if (prgbValue) *prgbValue = p.params[p.needed[next] - 1u].value;
    return SQL_NEED_DATA;
  }
  return run_pending(stmt);
}

SQLRETURN sql_put_data(StmtBlock& stmt, SQLPOINTER rgbValue, SQLLEN cbValue) {
  PendingExecution& p = stmt.pending;
  if (!p.active || p.current < 0) return post(stmt.errors, SQL_ERROR, kErrSequence);
  uint16_t number = p.needed[static_cast<size_t>(p.current)];
  const codec::ParamRecord& r = p.params[number - 1u];
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
  size_t fixed = codec::c_type_size(r.c_type);
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
  ConnBlock& conn = *stmt.conn;
  int c_type = r.c_type == SQL_C_DEFAULT ? codec::default_c_type(r.sql_type) : r.c_type;
  std::optional<codec::PutDataConverter::Form> form;
  if (conn.long_values) form = codec::PutDataConverter::form_for(c_type, r.sql_type);
  if (form) {
    // Text and binary values go to the host as they come.
    if (!v.streamed) {
      v.streamed = true;
      v.stream = codec::PutDataConverter(*form);
      v.bytes.clear();
    }
    if (auto d = v.stream.feed(number, static_cast<const char*>(rgbValue), n, v.bytes))
      return post_diag(stmt.errors, SQL_ERROR, *d);
    if (v.sent + v.bytes.size() > conn.long_value_limit)
      return post(stmt.errors, SQL_ERROR, kErrRightTruncation,
                  "Parameter " + std::to_string(number) + ": a value of more than " +
                      std::to_string(conn.long_value_limit) + " bytes is longer than the host stores");
    return flush_pieces(stmt, number, v, false);
  }
  if (v.bytes.size() + n > data_at_exec_limit(r.c_type))
    return post(stmt.errors, SQL_ERROR, kErrGeneral,
                "Parameter " + std::to_string(number) + ": character value longer than " +
                    std::to_string(codec::kMaxCharParam) + " bytes");
  v.bytes.append(static_cast<const char*>(rgbValue), n);
  return SQL_SUCCESS;
}

}  // namespace quarl::driver
