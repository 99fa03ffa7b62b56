// Connection and statement attributes of ODBC 3.  The attributes that ODBC 2
// had as options keep their numbers and go to the core's options; the rest
// live here: the time-outs that bound the waits, parameter arrays, the
// fetch's row attributes and the implicit descriptors.  A value the driver
// cannot honour is refused (HYC00) or, where ODBC allows it, replaced by the
// one in force with 01S02, never taken and ignored.
#include <cstring>
#include <string>

#include "common/utf.h"
#include "driver/core/options.h"
#include "driver/core/output.h"
#include "driver/odbc3/api.h"

namespace quarl::driver::odbc3 {
namespace {

uintptr_t as_number(SQLPOINTER value) { return reinterpret_cast<uintptr_t>(value); }

// A value that ODBC lets the driver replace: the one in force stays, 01S02.
SQLRETURN substituted(ErrorList& errors, const char* what) {
  return post(errors, SQL_SUCCESS_WITH_INFO, kErrOptionChanged, std::string(what) + ": the driver's value stays");
}

SQLRETURN not_capable(ErrorList& errors, const char* what) {
  return post(errors, SQL_ERROR, kErrNotCapable, what);
}

// A string attribute's value as UTF-8; length in bytes or SQL_NTS.
std::string string_value(SQLPOINTER value, SQLINTEGER length, bool wide) {
  if (!value) return {};
  if (!wide) {
    const char* s = static_cast<const char*>(value);
    return length == SQL_NTS || length < 0 ? std::string(s) : std::string(s, static_cast<size_t>(length));
  }
  size_t units = length == SQL_NTS || length < 0 ? utf16_length(value) : static_cast<size_t>(length) / 2;
  std::string out;
  utf16_to_utf8_replacing(value, units, out);
  return out;
}

// A statement attribute with one value: setting any other is refused
// (HYC00) or, where ODBC lets the driver replace it, answered with 01S02.
struct FixedAttribute {
  SQLINTEGER attribute;
  SQLULEN value;
  bool replaceable;
  const char* why;
};

constexpr FixedAttribute kFixedStmtAttributes[] = {
    {SQL_ATTR_MAX_ROWS, 0, true, "Row and length limits"},
    {SQL_ATTR_MAX_LENGTH, 0, true, "Row and length limits"},
    {SQL_ATTR_KEYSET_SIZE, 0, true, "Row and length limits"},
    {SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY, true, "SQL_ATTR_CURSOR_TYPE (cursors are forward-only)"},
    {SQL_ATTR_CONCURRENCY, SQL_CONCUR_READ_ONLY, true, "SQL_ATTR_CONCURRENCY (cursors are read-only)"},
    {SQL_ROWSET_SIZE, 1, true, "The rowset size (a fetch hands out one row)"},
    {SQL_ATTR_ROW_ARRAY_SIZE, 1, true, "The rowset size (a fetch hands out one row)"},
    {SQL_ATTR_SIMULATE_CURSOR, SQL_SC_UNIQUE, true, "SQL_ATTR_SIMULATE_CURSOR"},
    {SQL_ATTR_ASYNC_ENABLE, SQL_ASYNC_ENABLE_OFF, false, "Asynchronous execution is not supported"},
    {SQL_ATTR_CURSOR_SCROLLABLE, SQL_NONSCROLLABLE, false, "Cursors are forward-only"},
    {SQL_ATTR_RETRIEVE_DATA, SQL_RD_ON, false, "Fetches always retrieve the data"},
    {SQL_ATTR_USE_BOOKMARKS, SQL_UB_OFF, false, "Bookmarks are not supported"},
    {SQL_ATTR_FETCH_BOOKMARK_PTR, 0, false, "Bookmarks are not supported"},
    {SQL_ATTR_ENABLE_AUTO_IPD, SQL_FALSE, false, "Not supported"},
    {SQL_ATTR_METADATA_ID, SQL_FALSE, false, "Catalog arguments are patterns and names, never identifiers"},
};

const FixedAttribute* fixed_stmt_attribute(SQLINTEGER attribute) {
  for (const FixedAttribute& f : kFixedStmtAttributes)
    if (f.attribute == attribute) return &f;
  return nullptr;
}

}  // namespace

// ---- connection ----

SQLRETURN set_connect_attr(ConnBlock& conn, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length, bool wide) {
  uintptr_t v = as_number(value);
  switch (attribute) {
    case SQL_ATTR_ACCESS_MODE:
    case SQL_ATTR_AUTOCOMMIT:
    case SQL_ATTR_LOGIN_TIMEOUT:
      return sql_set_connect_option(conn, static_cast<SQLUSMALLINT>(attribute), v);
    case SQL_ATTR_CONNECTION_TIMEOUT:
      conn.connection_timeout = static_cast<uint32_t>(v);
      return SQL_SUCCESS;
    case SQL_ATTR_TXN_ISOLATION:
      if (v == SQL_TXN_READ_COMMITTED) return SQL_SUCCESS;
      return substituted(conn.errors, "SQL_ATTR_TXN_ISOLATION");
    case SQL_ATTR_CURRENT_CATALOG:
      if (string_value(value, length, wide).empty()) return SQL_SUCCESS;
      return not_capable(conn.errors, "The data source has no catalogs");
    case SQL_ATTR_PACKET_SIZE:
      return substituted(conn.errors, "SQL_ATTR_PACKET_SIZE (the host grants the message size)");
    case SQL_ATTR_QUIET_MODE:
    case SQL_ATTR_TRACE:
    case SQL_ATTR_TRACEFILE:
      return SQL_SUCCESS;  // no dialogs after connect; tracing is the driver manager's
    case SQL_ATTR_ASYNC_ENABLE:
      if (v == SQL_ASYNC_ENABLE_OFF) return SQL_SUCCESS;
      return not_capable(conn.errors, "Asynchronous execution is not supported");
    case SQL_ATTR_METADATA_ID:
      if (v == SQL_FALSE) return SQL_SUCCESS;
      return not_capable(conn.errors, "Catalog arguments are patterns and names, never identifiers");
    case SQL_ATTR_ANSI_APP:
      // The driver behaves the same for ANSI and Unicode applications.
      return not_capable(conn.errors, "The driver serves ANSI and Unicode applications alike");
    case SQL_ATTR_AUTO_IPD:
    case SQL_ATTR_CONNECTION_DEAD:
      return post(conn.errors, SQL_ERROR, kErrOptionType, "A read-only attribute");
    case SQL_ATTR_QUERY_TIMEOUT:
    case SQL_ATTR_MAX_ROWS:
    case SQL_ATTR_NOSCAN:
    case SQL_ATTR_MAX_LENGTH:
    case SQL_ATTR_CURSOR_TYPE:
    case SQL_ATTR_CONCURRENCY:
    case SQL_ROWSET_SIZE:
      // Statement options set on the connection (ODBC 2 applications).
      return sql_set_connect_option(conn, static_cast<SQLUSMALLINT>(attribute), v);
    default:
      return post(conn.errors, SQL_ERROR, kErrOptionType);
  }
}

SQLRETURN get_connect_attr(ConnBlock& conn, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER buffer_length,
                           SQLINTEGER* string_length, bool wide) {
  switch (attribute) {
    case SQL_ATTR_ACCESS_MODE:
    case SQL_ATTR_AUTOCOMMIT:
    case SQL_ATTR_LOGIN_TIMEOUT:
    case SQL_ATTR_TXN_ISOLATION:
      return sql_get_connect_option(&conn, static_cast<SQLUSMALLINT>(attribute), value);
    case SQL_ATTR_CONNECTION_TIMEOUT: put_value<SQLUINTEGER>(value, conn.connection_timeout); return SQL_SUCCESS;
    case SQL_ATTR_CURRENT_CATALOG: {
      TextBuffer out{value, buffer_length, wide ? TextUnit::WideByte : TextUnit::Byte};
      write_text_out("", out, string_length);
      return SQL_SUCCESS;
    }
    case SQL_ATTR_PACKET_SIZE:
      put_value<SQLUINTEGER>(value, conn.connected() ? static_cast<SQLUINTEGER>(conn.channel.message_size()) : 0);
      return SQL_SUCCESS;
    case SQL_ATTR_CONNECTION_DEAD:
      put_value<SQLUINTEGER>(value, conn.connected() && conn.channel.attached() ? SQL_CD_FALSE : SQL_CD_TRUE);
      return SQL_SUCCESS;
    case SQL_ATTR_AUTO_IPD:
    case SQL_ATTR_METADATA_ID: put_value<SQLUINTEGER>(value, SQL_FALSE); return SQL_SUCCESS;
    case SQL_ATTR_ASYNC_ENABLE: put_value<SQLULEN>(value, SQL_ASYNC_ENABLE_OFF); return SQL_SUCCESS;
    case SQL_ATTR_QUIET_MODE: put_value<SQLHWND>(value, nullptr); return SQL_SUCCESS;
    default: return post(conn.errors, SQL_ERROR, kErrOptionType);
  }
}

// ---- statement ----

SQLRETURN set_stmt_attr(StmtBlock& stmt, SQLINTEGER attribute, SQLPOINTER value) {
  uintptr_t v = as_number(value);
  ParamArray& params = stmt.param_array;
  RowAttributes& rows = stmt.row_attributes;
  if (const FixedAttribute* fixed = fixed_stmt_attribute(attribute)) {
    if (v == fixed->value) return SQL_SUCCESS;
    return fixed->replaceable ? substituted(stmt.errors, fixed->why) : not_capable(stmt.errors, fixed->why);
  }
  switch (attribute) {
    case SQL_ATTR_QUERY_TIMEOUT:
      stmt.query_timeout = static_cast<uint32_t>(v);
      return SQL_SUCCESS;
    case SQL_ATTR_NOSCAN:
      return SQL_SUCCESS;  // escape clauses are never translated
    case SQL_ATTR_CURSOR_SENSITIVITY:
      if (v == SQL_UNSPECIFIED || v == SQL_INSENSITIVE) return SQL_SUCCESS;
      return not_capable(stmt.errors, "Cursors do not see changes made while they are open");
    case SQL_ATTR_ROW_BIND_TYPE:
    case SQL_ATTR_ROW_OPERATION_PTR:
      return SQL_SUCCESS;  // with one row per fetch, neither changes anything
    case SQL_ATTR_ROW_BIND_OFFSET_PTR: rows.bind_offset = static_cast<SQLULEN*>(value); return SQL_SUCCESS;
    case SQL_ATTR_ROW_STATUS_PTR: rows.status = static_cast<SQLUSMALLINT*>(value); return SQL_SUCCESS;
    case SQL_ATTR_ROWS_FETCHED_PTR: rows.fetched = static_cast<SQLULEN*>(value); return SQL_SUCCESS;
    case SQL_ATTR_PARAMSET_SIZE:
      if (v == 0) return post(stmt.errors, SQL_ERROR, kErrAttributeValue, "A parameter set size of 0");
      params.size = v;
      return SQL_SUCCESS;
    case SQL_ATTR_PARAM_BIND_TYPE: params.bind_type = v; return SQL_SUCCESS;
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR: params.bind_offset = static_cast<SQLULEN*>(value); return SQL_SUCCESS;
    case SQL_ATTR_PARAM_OPERATION_PTR: params.operation = static_cast<SQLUSMALLINT*>(value); return SQL_SUCCESS;
    case SQL_ATTR_PARAM_STATUS_PTR: params.status = static_cast<SQLUSMALLINT*>(value); return SQL_SUCCESS;
    case SQL_ATTR_PARAMS_PROCESSED_PTR: params.processed = static_cast<SQLULEN*>(value); return SQL_SUCCESS;
    case SQL_ATTR_APP_ROW_DESC:
    case SQL_ATTR_APP_PARAM_DESC: {
      DescBlock& own = attribute == SQL_ATTR_APP_ROW_DESC ? stmt.app_row_desc : stmt.app_param_desc;
      if (value == nullptr || value == &own) return SQL_SUCCESS;  // back to (or still) the implicit one
      return post(stmt.errors, SQL_ERROR, kErrAttributeValue, "Only the statement's own descriptors are used");
    }
    case SQL_ATTR_IMP_ROW_DESC:
    case SQL_ATTR_IMP_PARAM_DESC:
    case SQL_ATTR_ROW_NUMBER:
      return post(stmt.errors, SQL_ERROR, kErrOptionType, "A read-only attribute");
    default:
      return post(stmt.errors, SQL_ERROR, kErrOptionType);
  }
}

SQLRETURN get_stmt_attr(StmtBlock& stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER* string_length) {
  if (string_length) *string_length = sizeof(SQLPOINTER);
  const ParamArray& params = stmt.param_array;
  const RowAttributes& rows = stmt.row_attributes;
  if (const FixedAttribute* fixed = fixed_stmt_attribute(attribute)) {
    put_value<SQLULEN>(value, fixed->value);  // pointer attributes among them are null
    return SQL_SUCCESS;
  }
  switch (attribute) {
    case SQL_ATTR_QUERY_TIMEOUT: put_value<SQLULEN>(value, stmt.query_timeout); break;
    case SQL_ATTR_ROW_NUMBER: put_value<SQLULEN>(value, 0); break;
    case SQL_ATTR_NOSCAN: put_value<SQLULEN>(value, SQL_NOSCAN_OFF); break;
    case SQL_ATTR_CURSOR_SENSITIVITY: put_value<SQLULEN>(value, SQL_UNSPECIFIED); break;
    case SQL_ATTR_ROW_BIND_TYPE: put_value<SQLULEN>(value, SQL_BIND_BY_COLUMN); break;
    case SQL_ATTR_ROW_BIND_OFFSET_PTR: put_value<SQLULEN*>(value, rows.bind_offset); break;
    case SQL_ATTR_ROW_STATUS_PTR: put_value<SQLUSMALLINT*>(value, rows.status); break;
    case SQL_ATTR_ROWS_FETCHED_PTR: put_value<SQLULEN*>(value, rows.fetched); break;
    case SQL_ATTR_ROW_OPERATION_PTR: put_value<SQLUSMALLINT*>(value, nullptr); break;
    case SQL_ATTR_PARAMSET_SIZE: put_value<SQLULEN>(value, params.size); break;
    case SQL_ATTR_PARAM_BIND_TYPE: put_value<SQLULEN>(value, params.bind_type); break;
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR: put_value<SQLULEN*>(value, params.bind_offset); break;
    case SQL_ATTR_PARAM_OPERATION_PTR: put_value<SQLUSMALLINT*>(value, params.operation); break;
    case SQL_ATTR_PARAM_STATUS_PTR: put_value<SQLUSMALLINT*>(value, params.status); break;
    case SQL_ATTR_PARAMS_PROCESSED_PTR: put_value<SQLULEN*>(value, params.processed); break;
    case SQL_ATTR_APP_ROW_DESC: put_value<SQLHDESC>(value, &stmt.app_row_desc); break;
    case SQL_ATTR_APP_PARAM_DESC: put_value<SQLHDESC>(value, &stmt.app_param_desc); break;
    case SQL_ATTR_IMP_ROW_DESC: put_value<SQLHDESC>(value, &stmt.imp_row_desc); break;
    case SQL_ATTR_IMP_PARAM_DESC: put_value<SQLHDESC>(value, &stmt.imp_param_desc); break;
    default: return post(stmt.errors, SQL_ERROR, kErrOptionType);
  }
  return SQL_SUCCESS;
}

}  // namespace quarl::driver::odbc3
