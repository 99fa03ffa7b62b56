// The SQLSTATE table: every diagnostic is classified by an error index, a row
// of this table.  The Host Server's error items carry the same indexes, so
// the order is part of the protocol; the driver, its codec and the Host
// Server all name rows through this one enum.
#pragma once

#include <cstdint>

namespace quarl {

enum ErrorIndex : uint16_t {
  kErrSuccess = 0,             // 00000
  kErrBaseTableNotFound = 1,   // S0002
  kErrColumnNotFound = 2,      // S0022
  kErrGeneral = 3,             // S1000
  kErrMemory = 4,              // S1001
  kErrColumnNumber = 5,        // S1002
  kErrArgument = 6,            // S1009
  kErrSequence = 7,            // S1010
  kErrDescriptorType = 8,      // S1091
  kErrOptionType = 9,          // S1092
  kErrInfoType = 10,           // S1096
  kErrNotCapable = 11,         // S1C00
  kErrTruncated = 12,          // 01004
  kErrCommLink = 13,           // 08S01
  kErrAuthorization = 14,      // 28000
  kErrSyntax = 15,             // 37000
  kErrDuplicateCursor = 16,    // 3C000
  kErrUnableToConnect = 17,    // 08001
  kErrConnectionInUse = 18,    // 08002
  kErrNotOpen = 19,            // 08003
  kErrNoFunction = 20,         // IM001
  kErrCanceled = 21,           // S1008
  kErrCursorName = 22,         // 34000
  kErrIndicatorRequired = 23,  // 22002
  // Added after the original 24 rows, for the Host Server: the transaction
  // was rolled back (a conflict with another client, or the host ended an
  // idle one); running it again can succeed.
  kErrSerialization = 24,      // 40001
  // Rows only the driver raises (its conversions).
  kErrRestrictedType = 25,     // 07006
  kErrRightTruncation = 26,    // 22001
  kErrOutOfRange = 27,         // 22003
  kErrInvalidCharacter = 28,   // 22005
  kErrDatetimeOverflow = 29,   // 22008
  kErrProgramType = 30,        // S1003
};

struct SqlStateRow {
  const char* state;
  const char* message;
};

inline constexpr SqlStateRow kSqlStates[] = {
    {"00000", "Success"},
    {"S0002", "Base table not found"},
    {"S0022", "Column not found"},
    {"S1000", "General failure"},
    {"S1001", "Memory allocation failure"},
    {"S1002", "Invalid column number"},
    {"S1009", "Invalid argument value"},
    {"S1010", "Function sequence error"},
    {"S1091", "Descriptor type out of range"},
    {"S1092", "Option type out of range"},
    {"S1096", "Information type out of range"},
    {"S1C00", "Driver not capable"},
    {"01004", "Data truncated"},
    {"08S01", "Communication link failure"},
    {"28000", "Invalid authorization specification"},
    {"37000", "Syntax error or access violation"},
    {"3C000", "Duplicate cursor name: %s"},
    {"08001", "Unable to connect to data source"},
    {"08002", "Connection is already in use"},
    {"08003", "Connection not open"},
    {"IM001", "Driver does not support this function"},
    {"S1008", "Operation canceled"},
    {"34000", "Invalid cursor name"},
    {"22002", "Indicator variable required but not supplied"},
    {"40001", "Serialization failure"},
    // ODBC 2 codes; the driver manager shows ODBC 3 applications their ODBC 3
    // equivalents (22005 as 22018, S1003 as HY003).
    {"07006", "Restricted data type attribute violation"},
    {"22001", "String data right truncation"},
    {"22003", "Numeric value out of range"},
    {"22005", "Error in assignment"},
    {"22008", "Datetime field overflow"},
    {"S1003", "Program type out of range"},
};
inline constexpr int kSqlStateCount = static_cast<int>(sizeof kSqlStates / sizeof kSqlStates[0]);
static_assert(kSqlStateCount == kErrProgramType + 1, "one row for every error index");
// The Host Server's error items name the first 25 rows.  Rows that only the
// driver raises belong after them, so that no host item can name one.
inline constexpr unsigned kHostErrorIndexCount = 25;

// The SQLSTATE and the message of an index.  The Host Server may send
// indexes outside the table: those report the general failure.
constexpr const SqlStateRow& sqlstate_row(unsigned index) {
  return kSqlStates[index < static_cast<unsigned>(kSqlStateCount) ? index : unsigned{kErrGeneral}];
}
constexpr const char* sqlstate_of(unsigned index) { return sqlstate_row(index).state; }
constexpr const char* sqlstate_message(unsigned index) { return sqlstate_row(index).message; }

}  // namespace quarl
