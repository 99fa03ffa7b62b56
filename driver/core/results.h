// Result sets: describing the columns, binding them, fetching rows from the
// host and converting the current row's values for the application.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <optional>

#include "driver/codec/convert.h"
#include "driver/codec/records.h"
#include "driver/core/output.h"
#include "driver/core/statement.h"

namespace quarl::driver {

struct ConnBlock;

// Receives the rows of the outstanding fetch request (when receive is set)
// and unpacks the next buffered row.  With async enable set the wait is a
// poll, whose time-out comes back as kRecvTimedOut.
SQLRETURN fetch_row(ConnBlock& conn, StmtBlock& stmt, bool receive);

// Receives the reply of a fetch request sent right behind the statement's
// execution (host_request_and_fetch) into the row data area; what it gave
// (rows, the end, or failure with its diagnostics) is the first SQLFetch's.
void receive_rows_ahead(ConnBlock& conn, StmtBlock& stmt);

// Entry point bodies.
SQLRETURN sql_num_result_cols(StmtBlock& stmt, SQLSMALLINT* pccol);
SQLRETURN sql_describe_col(StmtBlock& stmt, SQLUSMALLINT icol, const TextBuffer& name, SQLSMALLINT* pcbColName,
                           SQLSMALLINT* pfSqlType, SQLULEN* pcbColDef, SQLSMALLINT* pibScale,
                           SQLSMALLINT* pfNullable);
// The ODBC 2 column attributes (1 to 18), text ones into desc.
SQLRETURN sql_col_attributes(StmtBlock& stmt, SQLUSMALLINT icol, SQLUSMALLINT fDescType, const TextBuffer& desc,
                             SQLSMALLINT* pcbDesc, SQLLEN* pfDesc);
// The same with narrow text buffers, as the ODBC 2 entry points pass them.
inline SQLRETURN sql_describe_col(StmtBlock& stmt, SQLUSMALLINT icol, SQLCHAR* szColName, SQLSMALLINT cbColNameMax,
                                  SQLSMALLINT* pcbColName, SQLSMALLINT* pfSqlType, SQLULEN* pcbColDef,
                                  SQLSMALLINT* pibScale, SQLSMALLINT* pfNullable) {
  return sql_describe_col(stmt, icol, TextBuffer::narrow(szColName, cbColNameMax), pcbColName, pfSqlType, pcbColDef,
                          pibScale, pfNullable);
}
inline SQLRETURN sql_col_attributes(StmtBlock& stmt, SQLUSMALLINT icol, SQLUSMALLINT fDescType, SQLPOINTER rgbDesc,
                                    SQLSMALLINT cbDescMax, SQLSMALLINT* pcbDesc, SQLLEN* pfDesc) {
  return sql_col_attributes(stmt, icol, fDescType, TextBuffer::narrow(rgbDesc, cbDescMax), pcbDesc, pfDesc);
}

// What the attributes of a result column are made of, for the ODBC 2 and
// the ODBC 3 attributes alike.
const char* sql_type_name(int sql_type);
// SQL_COLUMN_LENGTH (display: SQL_COLUMN_DISPLAY_SIZE) of a column type;
// nullopt for a type that has none.
std::optional<SQLLEN> column_length(const codec::ColumnDescriptor& c, bool display);
bool is_character_type(int sql_type);
SQLRETURN sql_bind_col(StmtBlock& stmt, SQLUSMALLINT icol, SQLSMALLINT fCType, SQLPOINTER rgbValue,
                       SQLLEN cbValueMax, SQLLEN* pcbValue);
SQLRETURN sql_fetch(StmtBlock& stmt);
// (The common case goes its own way first: driver/core/get_data_quick.h.)
SQLRETURN sql_get_data(StmtBlock& stmt, SQLUSMALLINT icol, SQLSMALLINT fCType, SQLPOINTER rgbValue,
                       SQLLEN cbValueMax, SQLLEN* pcbValue);
SQLRETURN sql_row_count(StmtBlock& stmt, SQLLEN* pcrow);
SQLRETURN sql_more_results(StmtBlock& stmt);
SQLRETURN sql_set_pos(StmtBlock& stmt);

}  // namespace quarl::driver
