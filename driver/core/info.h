// What the driver tells an application about itself and the data source:
// SQLGetInfo from one fixed table of facts, and SQLGetTypeInfo, whose result
// set the Host Server describes and which is fetched like any other.
#pragma once

#include <sql.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "driver/core/face.h"
#include "driver/core/output.h"

namespace quarl::driver {

struct ConnBlock;
struct StmtBlock;

// How an information type is answered.
enum class InfoKind : uint8_t { Int16, Int32, Text };
// Where a text comes from: the table itself or the connection and settings.
enum class InfoSource : uint8_t { Fixed, DataSourceName, HostVersion, UserName, OuterJoins, DriverName };

struct InfoEntry {
  uint16_t type;  // fInfoType
  InfoKind kind;
  uint32_t number;  // Int16 and Int32
  const char* text;  // Fixed texts
  InfoSource source;
};

// How the information tables spell their entries.
namespace info_entry {
constexpr InfoEntry i16(uint16_t type, uint32_t value) { return {type, InfoKind::Int16, value, nullptr, InfoSource::Fixed}; }
constexpr InfoEntry i32(uint16_t type, uint32_t value) { return {type, InfoKind::Int32, value, nullptr, InfoSource::Fixed}; }
constexpr InfoEntry txt(uint16_t type, const char* text) { return {type, InfoKind::Text, 0, text, InfoSource::Fixed}; }
constexpr InfoEntry from(uint16_t type, InfoSource source) { return {type, InfoKind::Text, 0, nullptr, source}; }
}  // namespace info_entry

// Whether a table is in ascending order of types without repeats (each is
// searched by halves).
constexpr bool ascending_types(std::span<const InfoEntry> table) {
  for (size_t i = 1; i < table.size(); ++i)
    if (table[i - 1].type >= table[i].type) return false;
  return true;
}

// The shared table's entry of an information type; null for types it does
// not have.
const InfoEntry* find_info(unsigned info_type);
// The entry that answers an information type for a driver: its face's own
// table first, then the shared one; null for types it does not answer.
const InfoEntry* find_info(const DriverFace& face, unsigned info_type);

// The body of SQLGetInfo.  Texts go in the given unit (bytes for the narrow
// entry points; UTF-16 with lengths in bytes for SQLGetInfoW).
SQLRETURN get_info(ConnBlock& conn, SQLUSMALLINT fInfoType, SQLPOINTER rgbInfoValue, SQLSMALLINT cbInfoValueMax,
                   SQLSMALLINT* pcbInfoValue, TextUnit unit = TextUnit::Byte);

// The data of a type information request (code 8): the statement id, then
// the type as '-' and two digits when negative, else two digits.
std::string encode_type_info_request(uint16_t statement_id, SQLSMALLINT fSqlType);

// The body of SQLGetTypeInfo.
SQLRETURN get_type_info(StmtBlock& stmt, SQLSMALLINT fSqlType);

}  // namespace quarl::driver
