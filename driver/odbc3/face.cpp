#include "driver/odbc3/face.h"

#include <sqlext.h>
#include <sqlucode.h>

#include "driver/codec/param_entry.h"
#include "driver/core/info.h"

namespace quarl::driver::odbc3 {
namespace {

using namespace info_entry;

// Conversions the data source's CONVERT takes, as the shared table answers
// for the ODBC 2 types.
constexpr uint32_t kAllConversions = 0xFFFFFFFF;

// What an ODBC 3 application asks beyond the shared table (core/info.cpp),
// and the types whose answer differs: a forward-only, read-only cursor that
// hands out one row per fetch; input parameters, in arrays of sets whose row
// counts add up; no asynchronous execution.
constexpr InfoEntry kOdbc3Info[] = {
    txt(SQL_DRIVER_ODBC_VER, "03.51"),
    i16(SQL_ACTIVE_ENVIRONMENTS, 0),
    i32(SQL_ALTER_DOMAIN, 0),
    i32(SQL_SQL_CONFORMANCE, SQL_SC_SQL92_ENTRY),
    i32(SQL_DATETIME_LITERALS, 0),
    i32(SQL_BATCH_ROW_COUNT, 0),
    i32(SQL_BATCH_SUPPORT, 0),
    i32(SQL_CONVERT_WCHAR, kAllConversions),
    i32(SQL_CONVERT_INTERVAL_DAY_TIME, 0),
    i32(SQL_CONVERT_INTERVAL_YEAR_MONTH, 0),
    i32(SQL_CONVERT_WLONGVARCHAR, kAllConversions),
    i32(SQL_CONVERT_WVARCHAR, kAllConversions),
    i32(SQL_CREATE_ASSERTION, 0),
    i32(SQL_CREATE_CHARACTER_SET, 0),
    i32(SQL_CREATE_COLLATION, 0),
    i32(SQL_CREATE_DOMAIN, 0),
    i32(SQL_CREATE_SCHEMA, 0),
    i32(SQL_CREATE_TABLE, SQL_CT_CREATE_TABLE | SQL_CT_COLUMN_CONSTRAINT | SQL_CT_COLUMN_DEFAULT |
                              SQL_CT_TABLE_CONSTRAINT | SQL_CT_CONSTRAINT_NAME_DEFINITION),
    i32(SQL_CREATE_TRANSLATION, 0),
    i32(SQL_CREATE_VIEW, SQL_CV_CREATE_VIEW),
    i32(SQL_DROP_ASSERTION, 0),
    i32(SQL_DROP_CHARACTER_SET, 0),
    i32(SQL_DROP_COLLATION, 0),
    i32(SQL_DROP_DOMAIN, 0),
    i32(SQL_DROP_SCHEMA, 0),
    i32(SQL_DROP_TABLE, SQL_DT_DROP_TABLE),
    i32(SQL_DROP_TRANSLATION, 0),
    i32(SQL_DROP_VIEW, SQL_DV_DROP_VIEW),
    i32(SQL_DYNAMIC_CURSOR_ATTRIBUTES1, 0),
    i32(SQL_DYNAMIC_CURSOR_ATTRIBUTES2, 0),
    i32(SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, SQL_CA1_NEXT),
    i32(SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2, SQL_CA2_READ_ONLY_CONCURRENCY),
    i32(SQL_INDEX_KEYWORDS, SQL_IK_ASC | SQL_IK_DESC),
    i32(SQL_INFO_SCHEMA_VIEWS, 0),
    i32(SQL_KEYSET_CURSOR_ATTRIBUTES1, 0),
    i32(SQL_KEYSET_CURSOR_ATTRIBUTES2, 0),
    i32(SQL_ODBC_INTERFACE_CONFORMANCE, SQL_OIC_CORE),
    i32(SQL_PARAM_ARRAY_ROW_COUNTS, SQL_PARC_NO_BATCH),
    i32(SQL_PARAM_ARRAY_SELECTS, SQL_PAS_NO_SELECT),
    i32(SQL_SQL92_DATETIME_FUNCTIONS, 0),
    i32(SQL_SQL92_FOREIGN_KEY_DELETE_RULE, 0),
    i32(SQL_SQL92_FOREIGN_KEY_UPDATE_RULE, 0),
    i32(SQL_SQL92_GRANT, 0),
    i32(SQL_SQL92_NUMERIC_VALUE_FUNCTIONS, 0),
    i32(SQL_SQL92_PREDICATES, 0),
    i32(SQL_SQL92_RELATIONAL_JOIN_OPERATORS, 0),
    i32(SQL_SQL92_REVOKE, 0),
    i32(SQL_SQL92_ROW_VALUE_CONSTRUCTOR, 0),
    i32(SQL_SQL92_STRING_FUNCTIONS, 0),
    i32(SQL_SQL92_VALUE_EXPRESSIONS, 0),
    i32(SQL_STANDARD_CLI_CONFORMANCE, SQL_SCC_XOPEN_CLI_VERSION1),
    i32(SQL_STATIC_CURSOR_ATTRIBUTES1, 0),
    i32(SQL_STATIC_CURSOR_ATTRIBUTES2, 0),
    i32(SQL_AGGREGATE_FUNCTIONS,
        SQL_AF_ALL | SQL_AF_AVG | SQL_AF_COUNT | SQL_AF_DISTINCT | SQL_AF_MAX | SQL_AF_MIN | SQL_AF_SUM),
    i32(SQL_DDL_INDEX, SQL_DI_CREATE_INDEX | SQL_DI_DROP_INDEX),
    i32(SQL_INSERT_STATEMENT, SQL_IS_INSERT_LITERALS | SQL_IS_INSERT_SEARCHED),
    i32(SQL_DTC_TRANSITION_COST, 0),
    txt(SQL_XOPEN_CLI_YEAR, "1995"),
    i32(SQL_CURSOR_SENSITIVITY, SQL_UNSPECIFIED),
    txt(SQL_DESCRIBE_PARAMETER, "N"),
    txt(SQL_CATALOG_NAME, "N"),
    txt(SQL_COLLATION_SEQ, ""),
    i16(SQL_MAX_IDENTIFIER_LEN, 29),
    i32(SQL_ASYNC_MODE, SQL_AM_NONE),
    i32(SQL_MAX_ASYNC_CONCURRENT_STATEMENTS, 0),
    i32(SQL_ASYNC_DBC_FUNCTIONS, SQL_ASYNC_DBC_NOT_CAPABLE),
};
static_assert(ascending_types(kOdbc3Info), "the information table must be in ascending order without repeats");

constexpr DriverFace make_face() {
  DriverFace f;
  f.driver_name = "libquarlw.so";
  f.info = kOdbc3Info;
  // The host takes any text for a parameter of unknown type (its columns
  // convert it); a wide character parameter carries up to 999 UTF-8 bytes.
  // Clients that size values from the answer (pyodbc's fast executemany)
  // cut a timestamp's fraction and a decimal's scale to its decimal digits:
  // 9 keeps nanoseconds, and decimals of up to 9 fraction digits.
  f.unbound_param = {SQL_WVARCHAR, codec::kMaxCharParam, 9};
  f.timeouts_bound_waits = true;
  f.cancel_from_any_thread = true;
  f.serialize_connection = true;
  f.parameter_arrays = true;
  f.free_only_what_the_host_holds = true;
  f.overlap_round_trips = true;
  return f;
}

}  // namespace

const DriverFace kUnicodeFace = make_face();

}  // namespace quarl::driver::odbc3
