// Diagnostics: a queue of ErrorRecords per handle, classified through the
// SQLSTATE table (common/sqlstate.h) whose indexes the Host Server uses too.
#pragma once

#include <sql.h>

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "common/sqlstate.h"
#include "driver/core/face.h"
#include "driver/core/output.h"

namespace quarl::driver {

struct EnvBlock;
struct ConnBlock;
struct StmtBlock;

// The error indexes, visible to every user of the driver's namespace.
using enum quarl::ErrorIndex;

inline constexpr const char* kMessagePrefix = "[Velmor Software][Quarl ODBC Driver]";
// The composed text (prefix and specific text) is at most this long.
inline constexpr size_t kFormattedTextMax = 1024;

struct ErrorRecord {
  uint16_t index = 0;
  int32_t native = 0;
  std::string text;
};

// A handle's diagnostics: new records at the back, SQLError takes the front.
struct ErrorList {
  std::deque<ErrorRecord> records;
  SQLRETURN returned = SQL_SUCCESS;  // what the handle's last ODBC 3 call returned
  bool empty() const { return records.empty(); }
  // (Every ODBC 3 call empties its handle's list: an empty one costs a test.)
  void clear() {
    if (!records.empty()) records.clear();
  }
  // Moves every record of other to the end of this list; other becomes empty.
  void take_all(ErrorList& other);
};

// Appends a diagnostic composed by the driver: the prefix followed by text,
// or by the table's message when text is null.  A record that cannot be
// allocated is dropped silently.
void post_error(ErrorList& list, unsigned index, const char* text = nullptr);
inline void post_error(ErrorList& list, unsigned index, const std::string& text) {
  post_error(list, index, text.c_str());
}
// The same, returning rc, so that failing paths read "return post(...)".
inline SQLRETURN post(ErrorList& list, SQLRETURN rc, unsigned index, const char* text = nullptr) {
  post_error(list, index, text);
  return rc;
}
inline SQLRETURN post(ErrorList& list, SQLRETURN rc, unsigned index, const std::string& text) {
  post_error(list, index, text.c_str());
  return rc;
}
// Appends a record whose text is exactly the given characters (no prefix).
void post_raw_error(ErrorList& list, unsigned index, int32_t native, const char* text, size_t length);
// Appends the error items of a Host Server reply; items is what follows the
// status digit.  Returns the number of items posted.
int post_host_errors(ErrorList& list, std::string_view items);

// Empties the lists of the handles that are given.
void clear_errors(EnvBlock* env, ConnBlock* conn, StmtBlock* stmt);

// The SQLSTATE of a record as an application of that version sees it.
inline const char* record_state(const ErrorRecord& record, OdbcVersion version) {
  return sqlstate_of(record.index, version == OdbcVersion::V3 ? SqlStateVersion::Odbc3 : SqlStateVersion::Odbc2);
}

// Writes one record for SQLError and SQLGetDiagRec: the SQLSTATE (five
// characters and the terminator) into state when given, the native error,
// and the text; SQL_SUCCESS_WITH_INFO when the text was cut.
SQLRETURN write_record(const ErrorRecord& record, OdbcVersion version, const TextBuffer& state,
                       SQLINTEGER* pfNativeError, const TextBuffer& message, SQLSMALLINT* pcbErrorMsg);

// The body of SQLError, on the list chosen from the handles (null: none):
// the oldest record, which leaves the list.
SQLRETURN take_error(ErrorList* list, SQLCHAR* szSqlState, SQLINTEGER* pfNativeError, SQLCHAR* szErrorMsg,
                     SQLSMALLINT cbErrorMsgMax, SQLSMALLINT* pcbErrorMsg, OdbcVersion version = OdbcVersion::V2);;

}  // namespace quarl::driver
