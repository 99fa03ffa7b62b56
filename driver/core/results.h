// Result sets: describing the columns, binding them, fetching rows from the
// host and converting the current row's values for the application.
#pragma once

#include <sql.h>
#include <sqlext.h>

namespace quarl::driver {

struct ConnBlock;
struct StmtBlock;

// Receives the rows of the outstanding fetch request (when receive is set)
// and unpacks the next buffered row.  With async enable set the wait is a
// poll, whose time-out comes back as kRecvTimedOut.
SQLRETURN fetch_row(ConnBlock& conn, StmtBlock& stmt, bool receive);

// Entry point bodies.
SQLRETURN sql_num_result_cols(StmtBlock& stmt, SQLSMALLINT* pccol);
SQLRETURN sql_describe_col(StmtBlock& stmt, SQLUSMALLINT icol, SQLCHAR* szColName, SQLSMALLINT cbColNameMax,
                           SQLSMALLINT* pcbColName, SQLSMALLINT* pfSqlType, SQLULEN* pcbColDef,
                           SQLSMALLINT* pibScale, SQLSMALLINT* pfNullable);
SQLRETURN sql_col_attributes(StmtBlock& stmt, SQLUSMALLINT icol, SQLUSMALLINT fDescType, SQLPOINTER rgbDesc,
                             SQLSMALLINT cbDescMax, SQLSMALLINT* pcbDesc, SQLLEN* pfDesc);
SQLRETURN sql_bind_col(StmtBlock& stmt, SQLUSMALLINT icol, SQLSMALLINT fCType, SQLPOINTER rgbValue,
                       SQLLEN cbValueMax, SQLLEN* pcbValue);
SQLRETURN sql_fetch(StmtBlock& stmt);
SQLRETURN sql_get_data(StmtBlock& stmt, SQLUSMALLINT icol, SQLSMALLINT fCType, SQLPOINTER rgbValue,
                       SQLLEN cbValueMax, SQLLEN* pcbValue);
SQLRETURN sql_row_count(StmtBlock& stmt, SQLLEN* pcrow);
SQLRETURN sql_more_results(StmtBlock& stmt);
SQLRETURN sql_set_pos(StmtBlock& stmt);

}  // namespace quarl::driver
