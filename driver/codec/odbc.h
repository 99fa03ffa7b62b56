// unixODBC's type codes and structures, as the codec uses them.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

namespace quarl::codec {

// ODBC 3 date and time codes stand for their ODBC 2 equivalents (C and SQL).
constexpr int odbc2_datetime(int type) {
  switch (type) {
    case SQL_TYPE_DATE: return SQL_DATE;
    case SQL_TYPE_TIME: return SQL_TIME;
    case SQL_TYPE_TIMESTAMP: return SQL_TIMESTAMP;
    default: return type;
  }
}

}  // namespace quarl::codec
