#include "driver/core/info.h"

#include <sqlext.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "common/digits.h"
#include "common/hostmsg.h"
#include "common/text.h"
#include "driver/core/catalog.h"
#include "driver/core/execute.h"
#include "driver/core/diag.h"
#include "driver/core/handles.h"
#include "driver/core/link.h"
#include "driver/core/output.h"
#include "driver/core/settings.h"
#include "driver/core/subconn.h"

namespace quarl::driver {
namespace {

using namespace info_entry;

// Both numbers of SQL_OJ_CAPABILITIES (ODBC 2.01 used 65003) answer this.
constexpr uint32_t kOuterJoinCapabilities = SQL_OJ_LEFT | SQL_OJ_RIGHT | SQL_OJ_FULL | SQL_OJ_NESTED | SQL_OJ_NOT_ORDERED;
constexpr uint16_t kOldOjCapabilities = 65003;

// Every information type the driver answers, in ascending order.  Types not
// here (the driver's own handles 3, 4, 5 and 76, SQL_ODBC_VER 10 which the
// driver manager answers, and everything from 116 on but 65003) are refused.
constexpr InfoEntry kInfo[] = {
    i16(SQL_ACTIVE_CONNECTIONS, 0),
    i16(SQL_ACTIVE_STATEMENTS, 0),
    from(SQL_DATA_SOURCE_NAME, InfoSource::DataSourceName),
    from(SQL_DRIVER_NAME, InfoSource::DriverName),
    txt(SQL_DRIVER_VER, "04.200.000"),
    i32(SQL_FETCH_DIRECTION, SQL_FD_FETCH_NEXT),
    i16(SQL_ODBC_API_CONFORMANCE, SQL_OAC_LEVEL1),
    txt(SQL_ROW_UPDATES, "N"),
    i16(SQL_ODBC_SAG_CLI_CONFORMANCE, 0),
    from(SQL_SERVER_NAME, InfoSource::HostVersion),
    txt(SQL_SEARCH_PATTERN_ESCAPE, "\\"),
    i16(SQL_ODBC_SQL_CONFORMANCE, SQL_OSC_MINIMUM),
    txt(SQL_DATABASE_NAME, ""),
    txt(SQL_DBMS_NAME, "DMSII"),
    txt(SQL_DBMS_VER, "01.00.0000 DMSII"),
    txt(SQL_ACCESSIBLE_TABLES, "Y"),
    txt(SQL_ACCESSIBLE_PROCEDURES, "Y"),
    txt(SQL_PROCEDURES, "N"),
    i16(SQL_CONCAT_NULL_BEHAVIOR, 0),
    i16(SQL_CURSOR_COMMIT_BEHAVIOR, SQL_CB_PRESERVE),
    i16(SQL_CURSOR_ROLLBACK_BEHAVIOR, SQL_CB_PRESERVE),
    txt(SQL_DATA_SOURCE_READ_ONLY, "N"),
    i32(SQL_DEFAULT_TXN_ISOLATION, SQL_TXN_READ_COMMITTED),
    txt(SQL_EXPRESSIONS_IN_ORDERBY, "Y"),
    i16(SQL_IDENTIFIER_CASE, SQL_IC_MIXED),
    txt(SQL_IDENTIFIER_QUOTE_CHAR, "\""),
    i16(SQL_MAX_COLUMN_NAME_LEN, 29),
    i16(SQL_MAX_CURSOR_NAME_LEN, 17),
    i16(SQL_MAX_OWNER_NAME_LEN, 17),
    i16(SQL_MAX_PROCEDURE_NAME_LEN, 17),
    i16(SQL_MAX_QUALIFIER_NAME_LEN, 0),
    i16(SQL_MAX_TABLE_NAME_LEN, 29),
    txt(SQL_MULT_RESULT_SETS, "N"),
    txt(SQL_MULTIPLE_ACTIVE_TXN, "Y"),
    from(SQL_OUTER_JOINS, InfoSource::OuterJoins),
    txt(SQL_OWNER_TERM, "owner"),
    txt(SQL_PROCEDURE_TERM, "stored procedure"),
    txt(SQL_QUALIFIER_NAME_SEPARATOR, "."),
    txt(SQL_QUALIFIER_TERM, ""),
    i32(SQL_SCROLL_CONCURRENCY, SQL_SCCO_READ_ONLY),
    i32(SQL_SCROLL_OPTIONS, SQL_SO_FORWARD_ONLY),
    txt(SQL_TABLE_TERM, "table"),
    i16(SQL_TXN_CAPABLE, SQL_TC_DML),
    from(SQL_USER_NAME, InfoSource::UserName),
    i32(SQL_CONVERT_FUNCTIONS, 0),
    i32(SQL_NUMERIC_FUNCTIONS, SQL_FN_NUM_ABS | SQL_FN_NUM_CEILING | SQL_FN_NUM_EXP | SQL_FN_NUM_FLOOR |
                                   SQL_FN_NUM_SIGN | SQL_FN_NUM_PI | SQL_FN_NUM_RAND | SQL_FN_NUM_POWER |
                                   SQL_FN_NUM_ROUND | SQL_FN_NUM_TRUNCATE),
    i32(SQL_STRING_FUNCTIONS, SQL_FN_STR_CONCAT | SQL_FN_STR_LEFT | SQL_FN_STR_LTRIM | SQL_FN_STR_LENGTH |
                                  SQL_FN_STR_LCASE | SQL_FN_STR_REPEAT | SQL_FN_STR_RIGHT | SQL_FN_STR_RTRIM |
                                  SQL_FN_STR_SUBSTRING | SQL_FN_STR_UCASE | SQL_FN_STR_SPACE),
    i32(SQL_SYSTEM_FUNCTIONS, 0),
    i32(SQL_TIMEDATE_FUNCTIONS, SQL_FN_TD_NOW | SQL_FN_TD_CURDATE | SQL_FN_TD_DAYOFMONTH | SQL_FN_TD_DAYOFWEEK |
                                    SQL_FN_TD_DAYOFYEAR | SQL_FN_TD_MONTH | SQL_FN_TD_QUARTER | SQL_FN_TD_WEEK |
                                    SQL_FN_TD_YEAR | SQL_FN_TD_CURTIME | SQL_FN_TD_HOUR | SQL_FN_TD_MINUTE |
                                    SQL_FN_TD_SECOND | SQL_FN_TD_DAYNAME | SQL_FN_TD_MONTHNAME),
    // SQL_CONVERT_BIGINT .. SQL_CONVERT_LONGVARBINARY: every conversion.
    i32(53, 0xFFFFFFFF), i32(54, 0xFFFFFFFF), i32(55, 0xFFFFFFFF), i32(56, 0xFFFFFFFF), i32(57, 0xFFFFFFFF),
    i32(58, 0xFFFFFFFF), i32(59, 0xFFFFFFFF), i32(60, 0xFFFFFFFF), i32(61, 0xFFFFFFFF), i32(62, 0xFFFFFFFF),
    i32(63, 0xFFFFFFFF), i32(64, 0xFFFFFFFF), i32(65, 0xFFFFFFFF), i32(66, 0xFFFFFFFF), i32(67, 0xFFFFFFFF),
    i32(68, 0xFFFFFFFF), i32(69, 0xFFFFFFFF), i32(70, 0xFFFFFFFF), i32(71, 0xFFFFFFFF),
    i32(SQL_TXN_ISOLATION_OPTION, SQL_TXN_READ_COMMITTED),
    txt(SQL_ODBC_SQL_OPT_IEF, "N"),
    i16(SQL_CORRELATION_NAME, SQL_CN_ANY),
    i16(SQL_NON_NULLABLE_COLUMNS, SQL_NNC_NON_NULL),
    txt(SQL_DRIVER_ODBC_VER, "02.00"),
    i32(SQL_LOCK_TYPES, 0),
    i32(SQL_POS_OPERATIONS, 0),
    i32(SQL_POSITIONED_STATEMENTS, 0),
    i32(SQL_GETDATA_EXTENSIONS, SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND),
    i32(SQL_BOOKMARK_PERSISTENCE, 0),
    i32(SQL_STATIC_SENSITIVITY, 0),
    i16(SQL_FILE_USAGE, 0),
    i16(SQL_NULL_COLLATION, SQL_NC_LOW),
    i32(SQL_ALTER_TABLE, 0),
    txt(SQL_COLUMN_ALIAS, "N"),
    i16(SQL_GROUP_BY, SQL_GB_NO_RELATION),
    txt(SQL_KEYWORDS, ""),
    txt(SQL_ORDER_BY_COLUMNS_IN_SELECT, "N"),
    i32(SQL_OWNER_USAGE, SQL_OU_DML_STATEMENTS | SQL_OU_PROCEDURE_INVOCATION),
    i32(SQL_QUALIFIER_USAGE, 0),
    i16(SQL_QUOTED_IDENTIFIER_CASE, SQL_IC_UPPER),
    txt(SQL_SPECIAL_CHARACTERS, ""),
    i32(SQL_SUBQUERIES, 0),
    i32(SQL_UNION, 0),
    i16(SQL_MAX_COLUMNS_IN_GROUP_BY, 256),
    i16(SQL_MAX_COLUMNS_IN_INDEX, 0),
    i16(SQL_MAX_COLUMNS_IN_ORDER_BY, 256),
    i16(SQL_MAX_COLUMNS_IN_SELECT, 1024),
    i16(SQL_MAX_COLUMNS_IN_TABLE, 8192),
    i32(SQL_MAX_INDEX_SIZE, 0),
    txt(SQL_MAX_ROW_SIZE_INCLUDES_LONG, "Y"),
    i32(SQL_MAX_ROW_SIZE, 0),
    i32(SQL_MAX_STATEMENT_LEN, 9216),
    i16(SQL_MAX_TABLES_IN_SELECT, 36),
    i16(SQL_MAX_USER_NAME_LEN, 0),
    i32(SQL_MAX_CHAR_LITERAL_LEN, 0),
    i32(SQL_TIMEDATE_ADD_INTERVALS, 0),
    i32(SQL_TIMEDATE_DIFF_INTERVALS, 0),
    txt(SQL_NEED_LONG_DATA_LEN, "N"),
    i32(SQL_MAX_BINARY_LITERAL_LEN, 0),
    txt(SQL_LIKE_ESCAPE_CLAUSE, "Y"),
    i16(SQL_QUALIFIER_LOCATION, SQL_QL_START),
    i32(SQL_OJ_CAPABILITIES, kOuterJoinCapabilities),
    i32(kOldOjCapabilities, kOuterJoinCapabilities),
};

static_assert(ascending_types(kInfo), "the information table must be in ascending order without repeats");

// The text of an entry whose value lives on the connection or in the settings.
std::string info_text(const ConnBlock& conn, const InfoEntry& e) {
  switch (e.source) {
    case InfoSource::DataSourceName:
      return std::string(conn.dsn, strnlen(conn.dsn, sizeof conn.dsn));
    case InfoSource::HostVersion:
      return std::string(conn.host_version, strnlen(conn.host_version, sizeof conn.host_version));
    case InfoSource::UserName:
      return conn.sub ? to_upper(conn.sub->user_id) : std::string();
    case InfoSource::OuterJoins:
      return settings().full_outer_joins != 0 ? "F" : "Y";
    case InfoSource::DriverName:
      return conn.face().driver_name;
    case InfoSource::Fixed:
    default:
      return e.text ? e.text : "";
  }
}

}  // namespace

namespace {

const InfoEntry* find_in(std::span<const InfoEntry> table, unsigned info_type) {
  auto it = std::lower_bound(table.begin(), table.end(), info_type,
                             [](const InfoEntry& e, unsigned t) { return e.type < t; });
  return it != table.end() && it->type == info_type ? &*it : nullptr;
}

}  // namespace

const InfoEntry* find_info(unsigned info_type) { return find_in(kInfo, info_type); }

const InfoEntry* find_info(const DriverFace& face, unsigned info_type) {
  if (const InfoEntry* e = find_in(face.info, info_type)) return e;
  return find_info(info_type);
}

SQLRETURN get_info(ConnBlock& conn, SQLUSMALLINT fInfoType, SQLPOINTER rgbInfoValue, SQLSMALLINT cbInfoValueMax,
                   SQLSMALLINT* pcbInfoValue, TextUnit unit) {
  const InfoEntry* e = find_info(conn.face(), fInfoType);
  if (!e) {
    char text[64];
    std::snprintf(text, sizeof text, "******** Unsupported fInfoType in SQLGetInfo=%d", static_cast<int>(fInfoType));
    return post(conn.errors, SQL_ERROR, kErrInfoType, text);
  }
  switch (e->kind) {
    case InfoKind::Int16: {
      if (!rgbInfoValue) return SQL_SUCCESS;  // not even the length
      put_value(rgbInfoValue, static_cast<SQLUSMALLINT>(e->number));
      if (pcbInfoValue) *pcbInfoValue = sizeof(SQLUSMALLINT);
      return SQL_SUCCESS;
    }
    case InfoKind::Int32: {
      if (!rgbInfoValue) return SQL_SUCCESS;
      put_value(rgbInfoValue, static_cast<SQLUINTEGER>(e->number));
      if (pcbInfoValue) *pcbInfoValue = sizeof(SQLUINTEGER);
      return SQL_SUCCESS;
    }
    case InfoKind::Text:
    default: {
      std::string text = info_text(conn, *e);
      bool cut = write_text_out(text, TextBuffer{rgbInfoValue, cbInfoValueMax, unit}, pcbInfoValue);
      if (rgbInfoValue && cut) {
        char message[64];
        std::snprintf(message, sizeof message, "String data, right truncated = %d", static_cast<int>(fInfoType));
        return post(conn.errors, SQL_SUCCESS_WITH_INFO, kErrTruncated, message);
      }
      return SQL_SUCCESS;
    }
  }
}

std::string encode_type_info_request(uint16_t statement_id, SQLSMALLINT fSqlType) {
  char data[7];
  put_digits(data, 4, statement_id);
  size_t n = 4;
  if (fSqlType < 0) data[n++] = '-';
  put_digits(data + n, 2, static_cast<uint64_t>(std::abs(static_cast<int>(fSqlType))));
  return std::string(data, n + 2);
}

SQLRETURN get_type_info(StmtBlock& stmt, SQLSMALLINT fSqlType) {
  trace_entry("SQLGetTypeInfo");
  ConnBlock& conn = *stmt.conn;
  if (!conn.connected()) return post(stmt.errors, SQL_ERROR, kErrNotOpen);
  // Two digits carry the type: a longer code would reach the host as another type.
  if (std::abs(static_cast<int>(fSqlType)) > 99) {
    char text[64];
    std::snprintf(text, sizeof text, "SQL data type out of range: %d", static_cast<int>(fSqlType));
    return post(stmt.errors, SQL_ERROR, kErrArgument, text);
  }
  std::string data = encode_type_info_request(stmt.host_id, fSqlType);
  if (conn.version() == OdbcVersion::V3) data += kOdbc3Layout;  // the result columns of ODBC 3
  char* out = request_area(conn, stmt.errors, data.size());
  if (!out) return SQL_ERROR;
  std::memcpy(out, data.data(), data.size());
  return request_description(conn, stmt, hostmsg::code::kTypeInfo, data.size());
}

}  // namespace quarl::driver
