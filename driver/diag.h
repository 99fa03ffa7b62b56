// Diagnostics: a queue of ErrorRecords per handle, classified through the
// fixed SQLSTATE table whose indexes the Host Server uses too.
#pragma once

#include <sql.h>

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace quarl::driver {

struct EnvBlock;
struct ConnBlock;
struct StmtBlock;

// Error indexes: rows of the SQLSTATE table.  The order is part of the
// protocol: the Host Server's error items carry these numbers.
enum ErrorIndex : uint16_t {
  kErrSuccess = 0,            // 00000
  kErrBaseTableNotFound = 1,  // S0002
  kErrColumnNotFound = 2,     // S0022
  kErrGeneral = 3,            // S1000
  kErrMemory = 4,             // S1001
  kErrColumnNumber = 5,       // S1002
  kErrArgument = 6,           // S1009
  kErrSequence = 7,           // S1010
  kErrDescriptorType = 8,     // S1091
  kErrOptionType = 9,         // S1092
  kErrInfoType = 10,          // S1096
  kErrNotCapable = 11,        // S1C00
  kErrTruncated = 12,         // 01004
  kErrCommLink = 13,          // 08S01
  kErrAuthorization = 14,     // 28000
  kErrSyntax = 15,            // 37000
  kErrDuplicateCursor = 16,   // 3C000
  kErrUnableToConnect = 17,   // 08001
  kErrConnectionInUse = 18,   // 08002
  kErrNotOpen = 19,           // 08003
  kErrNoFunction = 20,        // IM001
  kErrCanceled = 21,          // S1008
  kErrCursorName = 22,        // 34000
  kErrIndicatorRequired = 23, // 22002
};
inline constexpr int kSqlStateCount = 24;

inline constexpr const char* kMessagePrefix = "[Velmor Software][Quarl ODBC Driver]";
// The composed text (prefix and specific text) is at most this long.
inline constexpr size_t kFormattedTextMax = 1024;

// The SQLSTATE of an index.  The Host Server may send indexes outside the
// table: those report the general failure "S1000".
const char* sqlstate_of(unsigned index);
const char* table_message(unsigned index);

struct ErrorRecord {
  uint16_t index = 0;
  int32_t native = 0;
  std::string text;
};

// A handle's diagnostics: new records at the back, SQLError takes the front.
struct ErrorList {
  std::deque<ErrorRecord> records;
  bool empty() const { return records.empty(); }
  void clear() { records.clear(); }
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
// status digit.
void post_host_errors(ErrorList& list, std::string_view items);

// Empties the lists of the handles that are given.
void clear_errors(EnvBlock* env, ConnBlock* conn, StmtBlock* stmt);

// The body of SQLError, on the list chosen from the handles (null: none).
SQLRETURN take_error(ErrorList* list, SQLCHAR* szSqlState, SQLINTEGER* pfNativeError, SQLCHAR* szErrorMsg,
                     SQLSMALLINT cbErrorMsgMax, SQLSMALLINT* pcbErrorMsg);

}  // namespace quarl::driver
