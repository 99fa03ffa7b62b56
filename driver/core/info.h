// What the driver tells an application about itself and the data source:
// SQLGetInfo from one fixed table of facts, and SQLGetTypeInfo, whose result
// set the Host Server describes and which is fetched like any other.
#pragma once

#include <sql.h>

#include <cstdint>
#include <optional>
#include <string>

namespace quarl::driver {

struct ConnBlock;
struct StmtBlock;

// How an information type is answered.
enum class InfoKind : uint8_t { Int16, Int32, Text };
// Where a text comes from: the table itself or the connection and settings.
enum class InfoSource : uint8_t { Fixed, DataSourceName, HostVersion, UserName, OuterJoins };

struct InfoEntry {
  uint16_t type;  // fInfoType
  InfoKind kind;
  uint32_t number;  // Int16 and Int32
  const char* text;  // Fixed texts
  InfoSource source;
};

// The table entry of an information type; null for types the driver does not answer.
const InfoEntry* find_info(unsigned info_type);

// The body of SQLGetInfo.
SQLRETURN get_info(ConnBlock& conn, SQLUSMALLINT fInfoType, SQLPOINTER rgbInfoValue, SQLSMALLINT cbInfoValueMax,
                   SQLSMALLINT* pcbInfoValue);

// The data of a type information request (code 8): the statement id, then
// the type as '-' and two digits when negative, else two digits.
std::string encode_type_info_request(uint16_t statement_id, SQLSMALLINT fSqlType);

// The body of SQLGetTypeInfo.
SQLRETURN get_type_info(StmtBlock& stmt, SQLSMALLINT fSqlType);

}  // namespace quarl::driver
