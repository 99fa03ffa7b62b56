// What differs between the drivers built on this core.  The core's defaults
// are the ODBC 2 driver "Quarl" (libquarl.so), exactly as its callers know
// it; the Unicode driver "Quarl Unicode" (libquarlw.so, driver/odbc3) gives
// its own values.  Every difference is a value here or a table that one of
// these names, never a second copy of the logic.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <span>

namespace quarl::driver {

struct InfoEntry;

// SQLDescribeParam's answer for a marker that has no binding.
struct ParamDescription {
  SQLSMALLINT sql_type = SQL_VARCHAR;
  SQLULEN size = 255;
  SQLSMALLINT decimal_digits = 0;
};

struct DriverFace {
  // SQL_DRIVER_NAME.
  const char* driver_name = "QUARL.DLL";
  // Information types answered before the shared table (core/info.cpp), so
  // that a face adds types and gives others its own value.
  std::span<const InfoEntry> info{};
  ParamDescription unbound_param{};
  // The connection's time-outs bound its waits: the login time-out the whole
  // connect, the query time-out each statement (which is cancelled on the
  // host when it passes, HYT00), the connection time-out every other request
  // (HYT01).  Without it they are stored only, and the waits use the
  // settings' time-outs ("rcv", and 255 for statements and fetches).
  bool timeouts_bound_waits = false;
  // SQLCancel may come from another thread while the statement runs: the
  // host is told at once and the running call ends with HY008.  Without
  // it, SQLCancel acts only on an outstanding asynchronous fetch and waits
  // for the host's acknowledgement itself.
  bool cancel_from_any_thread = false;
  // A connection's calls are serialized by the driver (the application may
  // share it between threads).
  bool serialize_connection = false;
  // Parameter arrays (SQL_ATTR_PARAMSET_SIZE above 1) are executed; without
  // it SQLParamOptions refuses them.
  bool parameter_arrays = false;
  // SQLFreeStmt sends the host only what changes something there: not
  // SQL_UNBIND and SQL_RESET_PARAMS (the host keeps no bindings), not
  // SQL_CLOSE of a statement without an open result.  Without it every
  // SQLFreeStmt is a request (clients such as pyodbc free twice per
  // execution).
  bool free_only_what_the_host_holds = false;
  // Round trips overlap: a query's first fetch request goes right behind its
  // execution (its rows are read before the execution returns), and
  // SQL_CLOSE of a result read to its end does not wait for the host's
  // answer.  Without it SQLFetch sends each fetch request and SQLFreeStmt
  // returns the host's answer.
  bool overlap_round_trips = false;
};

// The ODBC 2 driver: every default above.
inline constexpr DriverFace kOdbc2Face{};

// The ODBC version an application asked for (SQL_ATTR_ODBC_VERSION): it
// decides the SQLSTATEs, the codes of the date and time types and the
// catalog's result columns that the application sees.
enum class OdbcVersion : uint8_t { V2, V3 };

// The SQL type code an application of that version sees: ODBC 3 names the
// date and time types 91, 92 and 93.
constexpr SQLSMALLINT reported_sql_type(int type, OdbcVersion version) {
  if (version == OdbcVersion::V3) {
    switch (type) {
      case SQL_DATE: return SQL_TYPE_DATE;
      case SQL_TIME: return SQL_TYPE_TIME;
      case SQL_TIMESTAMP: return SQL_TYPE_TIMESTAMP;
      default: break;
    }
  }
  return static_cast<SQLSMALLINT>(type);
}

}  // namespace quarl::driver
