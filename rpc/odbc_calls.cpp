#include "rpc/odbc_calls.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "common/text.h"

namespace quarl::rpc {
namespace {

SQLCHAR* sql_text(std::string& text) { return reinterpret_cast<SQLCHAR*>(text.data()); }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string_view skip_blanks(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  return text.substr(i);
}

struct Attribute {
  std::string_view keyword;
  SQLUSMALLINT id;
  bool numeric;
};
// The order of "ALL".
constexpr Attribute kAttributes[] = {
    {"SQL_COLUMN_NAME", SQL_COLUMN_NAME, false},
    {"SQL_COLUMN_LENGTH", SQL_COLUMN_LENGTH, true},
    {"SQL_COLUMN_PRECISION", SQL_COLUMN_PRECISION, true},
    {"SQL_COLUMN_SCALE", SQL_COLUMN_SCALE, true},
    {"SQL_COLUMN_DISPLAY_SIZE", SQL_COLUMN_DISPLAY_SIZE, true},
    {"SQL_COLUMN_TYPE", SQL_COLUMN_TYPE, true},
    {"SQL_COLUMN_TYPE_NAME", SQL_COLUMN_TYPE_NAME, false},
    {"SQL_COLUMN_TABLE_NAME", SQL_COLUMN_TABLE_NAME, false},
};

// Writes the text at pos and advances it.
void write_at(Buffer buffer, size_t& pos, std::string_view text) {
  std::memcpy(buffer.data() + pos, text.data(), text.size());
  pos += text.size();
}

}  // namespace

Status OdbcCalls::fail_odbc(const char* call, SQLRETURN rc) {
  SQLCHAR state[6] = {};
  SQLCHAR message[256] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  SQLRETURN got = SQLError(env_, dbc_, stmt_, state, &native, message, sizeof message, &length);
  const char* text = reinterpret_cast<const char*>(message);
  if ((got == SQL_SUCCESS || got == SQL_SUCCESS_WITH_INFO) && text[0] != '\0')
    return error_.fail(std::string_view(text, strnlen(text, 255)));
  // The driver left no diagnostic: say at least which call did not succeed.
  return error_.fail(fmt::format("{} returned {}", call, int(rc)));
}

Status OdbcCalls::not_connected() { return error_.fail("You are not connected to an ODBC Datasource"); }

void OdbcCalls::free_columns() {
  if (stmt_ != SQL_NULL_HSTMT && !columns_.empty()) SQLFreeStmt(stmt_, SQL_UNBIND);
  columns_.clear();
}

void OdbcCalls::release_handles() {
  if (dbc_ != SQL_NULL_HDBC) SQLFreeConnect(dbc_);
  if (env_ != SQL_NULL_HENV) SQLFreeEnv(env_);
  dbc_ = SQL_NULL_HDBC;
  env_ = SQL_NULL_HENV;
}

Status OdbcCalls::odbc_connect(Buffer buffer) {
  if (connected()) return error_.fail("You are already connected to an ODBC Datasource");
  if (SQLAllocEnv(&env_) != SQL_SUCCESS) {
    env_ = SQL_NULL_HENV;
    return error_.fail("Cannot allocate an ODBC environment");
  }
  SQLRETURN rc = SQLAllocConnect(env_, &dbc_);
  if (rc != SQL_SUCCESS) {
    dbc_ = SQL_NULL_HDBC;
    Status s = fail_odbc("SQLAllocConnect", rc);
    release_handles();
    return s;
  }
  std::string text(buffer.text());
  std::string connection = istarts_with(text, "DSN=") ? text : "DSN=" + text;
  rc = SQLDriverConnect(dbc_, nullptr, sql_text(connection), static_cast<SQLSMALLINT>(connection.size()), nullptr,
                        0, nullptr, SQL_DRIVER_NOPROMPT);
  if (rc != SQL_SUCCESS) {
    Status s = fail_odbc("SQLDriverConnect", rc);
    // Connected with a warning: the connection must be closed before its
    // handle can be freed.
    if (rc == SQL_SUCCESS_WITH_INFO) SQLDisconnect(dbc_);
    release_handles();
    return s;
  }
  rc = SQLAllocStmt(dbc_, &stmt_);
  if (rc != SQL_SUCCESS) {
    Status s = fail_odbc("SQLAllocStmt", rc);
    if (rc == SQL_SUCCESS_WITH_INFO) SQLFreeStmt(stmt_, SQL_DROP);
    stmt_ = SQL_NULL_HSTMT;
    SQLDisconnect(dbc_);  // an open connection cannot be freed
    release_handles();
    return s;
  }
  return kOk;
}

Status OdbcCalls::odbc_disconnect(Buffer) {
  if (!connected()) return not_connected();
  SQLFreeStmt(stmt_, SQL_DROP);
  stmt_ = SQL_NULL_HSTMT;
  columns_.clear();  // the statement and its bindings are gone
  SQLDisconnect(dbc_);
  release_handles();
  return kOk;
}

Status OdbcCalls::odbc_execute(Buffer buffer) {
  if (!connected()) return not_connected();
  SQLFreeStmt(stmt_, SQL_CLOSE);
  std::string sql(skip_blanks(buffer.text()));
  if (sql.empty()) return error_.fail("Empty SQL string");
  SQLRETURN rc = SQLExecDirect(stmt_, sql_text(sql), static_cast<SQLINTEGER>(sql.size()));
  if (rc != SQL_SUCCESS) return fail_odbc("SQLExecDirect", rc);
  if (istarts_with(sql, "select ")) return prepare_result_set(buffer);
  SQLLEN count = 0;
  rc = SQLRowCount(stmt_, &count);
  if (rc != SQL_SUCCESS) return fail_odbc("SQLRowCount", rc);
  buffer.put(std::to_string(count));
  return kOk;
}

Status OdbcCalls::prepare_result_set(Buffer buffer) {
  free_columns();
  buffer.blank();
  SQLSMALLINT count = 0;
  SQLRETURN rc = SQLNumResultCols(stmt_, &count);
  if (rc != SQL_SUCCESS) return fail_odbc("SQLNumResultCols", rc);
  if (count <= 0) return kOk;
  columns_.reserve(static_cast<size_t>(count));
  const char separator = special_.separator();
  size_t pos = 0;
  for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
    SQLLEN display = 0;
    rc = SQLColAttributes(stmt_, i, SQL_COLUMN_DISPLAY_SIZE, nullptr, 0, nullptr, &display);
    if (rc != SQL_SUCCESS) return fail_odbc("SQLColAttributes", rc);
    SQLCHAR name[256] = {};
    SQLSMALLINT name_length = 0, type = 0, scale = 0, nullable = 0;
    SQLULEN precision = 0;
    rc = SQLDescribeCol(stmt_, i, name, sizeof name, &name_length, &type, &precision, &scale, &nullable);
    // A name longer than 255 characters comes back cut, with a warning.
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return fail_odbc("SQLDescribeCol", rc);
    std::string_view column_name(reinterpret_cast<char*>(name), strnlen(reinterpret_cast<char*>(name), 255));
    if (column_name.size() + 1 > buffer.size() - pos)
      return error_.fail("Not enough room for all column names in buffer");
    write_at(buffer, pos, column_name);
    write_at(buffer, pos, std::string_view(&separator, 1));  // whatever the separator flag

    Column& c = columns_.emplace_back();
    c.width = display > 0 && display <= kMaxColumnWidth ? display : kMaxColumnWidth;
    c.block = std::make_unique<char[]>(static_cast<size_t>(c.width) + 1);
    rc = SQLBindCol(stmt_, i, SQL_C_CHAR, c.block.get(), c.width + 1, &c.length);
    if (rc != SQL_SUCCESS) return fail_odbc("SQLBindCol", rc);
  }
  return kOk;
}

Status OdbcCalls::odbc_fetch(Buffer buffer) {
  if (!connected()) return not_connected();
  SQLRETURN rc = SQLFetch(stmt_);
  if (rc == SQL_NO_DATA_FOUND) return error_.fail("EOF");
  if (rc == SQL_SUCCESS_WITH_INFO) {
    // A value longer than its column's block (a long text or blob): name it
    // rather than pass on the driver's truncation warning.
    for (size_t i = 0; i < columns_.size(); ++i) {
      const Column& c = columns_[i];
      if (c.length == SQL_NO_TOTAL)
        return error_.fail(fmt::format("Column {} holds more than the {} bytes a column takes", i + 1, c.width));
      if (c.length > c.width)
        return error_.fail(
            fmt::format("Column {} holds {} bytes, more than the {} a column takes", i + 1, c.length, c.width));
    }
  }
  if (rc != SQL_SUCCESS) return fail_odbc("SQLFetch", rc);
  buffer.blank();
  const char separator = special_.separator();
  size_t pos = 0;
  for (const Column& c : columns_) {
    // Only the bytes in the block count: a value cut by the driver reports
    // its full length (or SQL_NO_TOTAL) in the indicator.
    SQLLEN length = c.length;
    if (length == SQL_NO_TOTAL || length > c.width) length = c.width;
    if (length < 0) length = 0;  // NULL
    size_t n = static_cast<size_t>(length);
    if (!variable_) {
      size_t width = static_cast<size_t>(c.width);
      if (width + 1 > buffer.size() - pos) return error_.fail("Not enough room for all column data in buffer");
      write_at(buffer, pos, std::string_view(c.block.get(), n));
      pos += width - n;
    } else {
      size_t take = std::max<size_t>(n, 1);
      if (take + 1 > buffer.size() - pos) return error_.fail("Not enough room for all column data in buffer");
      write_at(buffer, pos, n > 0 ? std::string_view(c.block.get(), n) : std::string_view(" "));
    }
    if (separator_) write_at(buffer, pos, std::string_view(&separator, 1));
  }
  return kOk;
}

Status OdbcCalls::odbc_set_options(Buffer buffer) {
  std::string_view text = buffer.text();
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == ',')) ++i;
    size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != ',') ++i;
    std::string_view word = text.substr(start, i - start);
    if (word.empty()) break;
    if (iequals(word, "TAB")) separator_ = true;
    else if (iequals(word, "NOTAB")) separator_ = false;
    else if (iequals(word, "FIXED")) variable_ = false;
    else if (iequals(word, "VARIABLE")) variable_ = true;
    else return error_.fail(fmt::format("Unknown option {}", word));
  }
  return kOk;
}

Status OdbcCalls::odbc_tables(Buffer buffer) {
  if (!connected()) return not_connected();
  std::string name(buffer.text());
  SQLRETURN rc = SQLTables(stmt_, nullptr, 0, nullptr, 0, name.empty() ? nullptr : sql_text(name),
                           static_cast<SQLSMALLINT>(name.size()), nullptr, 0);
  if (rc != SQL_SUCCESS) return fail_odbc("SQLTables", rc);
  return prepare_result_set(buffer);
}

Status OdbcCalls::odbc_columns(Buffer buffer) {
  if (!connected()) return not_connected();
  std::string_view text = skip_blanks(buffer.text());
  if (text.empty()) return error_.fail("Table name expected in ODBCColumns");
  size_t end = text.find_first_of(" ,");
  std::string table(text.substr(0, end));
  std::string pattern;
  if (end != std::string_view::npos && text[end] == ',') pattern = std::string(skip_blanks(text.substr(end + 1)));
  SQLRETURN rc = SQLColumns(stmt_, nullptr, 0, nullptr, 0, sql_text(table), static_cast<SQLSMALLINT>(table.size()),
                            pattern.empty() ? nullptr : sql_text(pattern), static_cast<SQLSMALLINT>(pattern.size()));
  if (rc != SQL_SUCCESS) return fail_odbc("SQLColumns", rc);
  return prepare_result_set(buffer);
}

Status OdbcCalls::odbc_col_attributes(Buffer buffer) {
  if (!connected()) return not_connected();
  std::string_view text = skip_blanks(buffer.text());
  if (text.empty() || !is_digit(text[0])) return error_.fail("Column number expected");
  size_t i = 0;
  uint64_t column = 0;
  for (; i < text.size() && is_digit(text[i]); ++i)
    column = std::min<uint64_t>(column * 10 + uint64_t(text[i] - '0'), 1 << 20);
  std::string_view digits = text.substr(0, i);
  if (i < text.size()) ++i;  // the character right after the number
  while (i < text.size() && text[i] == ' ') ++i;
  if (i < text.size() && text[i] == ',') ++i;
  while (i < text.size() && text[i] == ' ') ++i;
  std::string_view keyword = text.substr(i);
  // Column numbers are 16-bit in the ODBC call; a larger one would wrap
  // round to another column.
  if (column > 65535) return error_.fail(fmt::format("Column number out of range: {}", digits));

  bool all = iequals(keyword, "ALL") || keyword == "*";
  const Attribute* single = nullptr;
  if (!all) {
    for (const Attribute& a : kAttributes)
      if (iequals(keyword, a.keyword)) single = &a;
    if (!single) return error_.fail(fmt::format("Unknown option in ODBCColAttributes = {}", keyword));
  }

  buffer.blank();
  const char separator = special_.separator();
  size_t pos = 0;
  for (const Attribute& a : kAttributes) {
    if (!all && &a != single) continue;
    char value_text[256] = {};
    SQLSMALLINT text_length = 0;
    SQLLEN number = 0;
    SQLRETURN rc = SQLColAttributes(stmt_, static_cast<SQLUSMALLINT>(column), a.id, value_text, 255, &text_length,
                                    &number);
    if (rc != SQL_SUCCESS) return fail_odbc("SQLColAttributes", rc);
    std::string value = a.numeric ? std::to_string(number) : std::string(value_text, strnlen(value_text, 255));
    size_t width = std::max<size_t>(value.size(), 1);
    if (width + 1 > buffer.size() - pos) return error_.fail("No room in buffer for attribute");
    write_at(buffer, pos, value.empty() ? std::string_view(" ") : std::string_view(value));
    if (all) write_at(buffer, pos, std::string_view(&separator, 1));
  }
  return kOk;
}

}  // namespace quarl::rpc
