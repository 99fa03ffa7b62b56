// The SQLSTATE table: every diagnostic is classified by an error index, a row
// of this table.  The Host Server's error items carry the same indexes, so
// the order of the rows it may send is part of the protocol; the drivers,
// their codec and the Host Server all name rows through this one enum.
//
// Each row has the SQLSTATE of ODBC 2 and the one of ODBC 3: a driver
// reports the column of the ODBC version its application asked for.
#pragma once

#include <cstdint>

namespace quarl {

enum ErrorIndex : uint16_t {
  kErrSuccess = 0,             // 00000
  kErrBaseTableNotFound = 1,   // S0002  42S02
  kErrColumnNotFound = 2,      // S0022  42S22
  kErrGeneral = 3,             // S1000  HY000
  kErrMemory = 4,              // S1001  HY001
  kErrColumnNumber = 5,        // S1002  07009
  kErrArgument = 6,            // S1009  HY009
  kErrSequence = 7,            // S1010  HY010
  kErrDescriptorType = 8,      // S1091  HY091
  kErrOptionType = 9,          // S1092  HY092
  kErrInfoType = 10,           // S1096  HY096
  kErrNotCapable = 11,         // S1C00  HYC00
  kErrTruncated = 12,          // 01004
  kErrCommLink = 13,           // 08S01
  kErrAuthorization = 14,      // 28000
  kErrSyntax = 15,             // 37000  42000
  kErrDuplicateCursor = 16,    // 3C000
  kErrUnableToConnect = 17,    // 08001
  kErrConnectionInUse = 18,    // 08002
  kErrNotOpen = 19,            // 08003
  kErrNoFunction = 20,         // IM001
  kErrCanceled = 21,           // S1008  HY008
  kErrCursorName = 22,         // 34000
  kErrIndicatorRequired = 23,  // 22002
  // Added after the original 24 rows, for the Host Server.
  // The transaction was rolled back (a conflict with another client, or the
  // host ended an idle one); running it again can succeed.
  kErrSerialization = 24,      // 40001
  // A constraint refused the change (UNIQUE, NOT NULL, CHECK, FOREIGN KEY).
  kErrConstraint = 25,         // 23000
  // Rows only the drivers raise.
  kErrRestrictedType = 26,     // 07006
  kErrRightTruncation = 27,    // 22001
  kErrOutOfRange = 28,         // 22003
  kErrInvalidCharacter = 29,   // 22005  22018
  kErrDatetimeOverflow = 30,   // 22008
  kErrProgramType = 31,        // S1003  HY003
  kErrTimeout = 32,            // S1T00  HYT00
  kErrConnectionTimeout = 33,  // S1T00  HYT01
  kErrStringLength = 34,       // S1090  HY090
  kErrFetchType = 35,          // S1106  HY106
  kErrCursorState = 36,        // 24000
  kErrAttributeValue = 37,     // S1009  HY024
  kErrOptionChanged = 38,      // 01S02
  kErrImplementationDescriptor = 39,  // S1000  HY016
  kErrDataType = 40,           // S1004  HY004
  kErrParamType = 41,          // S1105  HY105
  kErrDescriptorIndex = 42,    // S1002  07009
  kErrAttributeNow = 43,       // S1011  HY011
};

struct SqlStateRow {
  const char* odbc2;
  const char* odbc3;
  const char* message;
};

inline constexpr SqlStateRow kSqlStates[] = {
    {"00000", "00000", "Success"},
    {"S0002", "42S02", "Base table not found"},
    {"S0022", "42S22", "Column not found"},
    {"S1000", "HY000", "General failure"},
    {"S1001", "HY001", "Memory allocation failure"},
    {"S1002", "07009", "Invalid column number"},
    {"S1009", "HY009", "Invalid argument value"},
    {"S1010", "HY010", "Function sequence error"},
    {"S1091", "HY091", "Descriptor type out of range"},
    {"S1092", "HY092", "Option type out of range"},
    {"S1096", "HY096", "Information type out of range"},
    {"S1C00", "HYC00", "Driver not capable"},
    {"01004", "01004", "Data truncated"},
    {"08S01", "08S01", "Communication link failure"},
    {"28000", "28000", "Invalid authorization specification"},
    {"37000", "42000", "Syntax error or access violation"},
    {"3C000", "3C000", "Duplicate cursor name: %s"},
    {"08001", "08001", "Unable to connect to data source"},
    {"08002", "08002", "Connection is already in use"},
    {"08003", "08003", "Connection not open"},
    {"IM001", "IM001", "Driver does not support this function"},
    {"S1008", "HY008", "Operation canceled"},
    {"34000", "34000", "Invalid cursor name"},
    {"22002", "22002", "Indicator variable required but not supplied"},
    {"40001", "40001", "Serialization failure"},
    {"23000", "23000", "Integrity constraint violation"},
    {"07006", "07006", "Restricted data type attribute violation"},
    {"22001", "22001", "String data right truncation"},
    {"22003", "22003", "Numeric value out of range"},
    {"22005", "22018", "Error in assignment"},
    {"22008", "22008", "Datetime field overflow"},
    {"S1003", "HY003", "Program type out of range"},
    {"S1T00", "HYT00", "Timeout expired"},
    {"S1T00", "HYT01", "Connection timeout expired"},
    {"S1090", "HY090", "Invalid string or buffer length"},
    {"S1106", "HY106", "Fetch type out of range"},
    {"24000", "24000", "Invalid cursor state"},
    {"S1009", "HY024", "Invalid attribute value"},
    {"01S02", "01S02", "Option value changed"},
    {"S1000", "HY016", "Cannot modify an implementation row descriptor"},
    {"S1004", "HY004", "Invalid SQL data type"},
    {"S1105", "HY105", "Invalid parameter type"},
    {"S1002", "07009", "Invalid descriptor index"},
    {"S1011", "HY011", "Attribute cannot be set now"},
};
inline constexpr int kSqlStateCount = static_cast<int>(sizeof kSqlStates / sizeof kSqlStates[0]);
static_assert(kSqlStateCount == kErrAttributeNow + 1, "one row for every error index");
// The Host Server's error items name the first 26 rows.  Rows that only the
// drivers raise belong after them, so that no host item can name one.
inline constexpr unsigned kHostErrorIndexCount = 26;

// Which column an application sees.
enum class SqlStateVersion : uint8_t { Odbc2, Odbc3 };

// The SQLSTATE and the message of an index.  The Host Server may send
// indexes outside the table: those report the general failure.
constexpr const SqlStateRow& sqlstate_row(unsigned index) {
  return kSqlStates[index < static_cast<unsigned>(kSqlStateCount) ? index : unsigned{kErrGeneral}];
}
constexpr const char* sqlstate_of(unsigned index, SqlStateVersion version = SqlStateVersion::Odbc2) {
  return version == SqlStateVersion::Odbc3 ? sqlstate_row(index).odbc3 : sqlstate_row(index).odbc2;
}
constexpr const char* sqlstate_message(unsigned index) { return sqlstate_row(index).message; }

}  // namespace quarl
