// The wide (UTF-16) forms of the Unicode driver's entry points: text
// arguments become UTF-8 at the edge (WideArg), text results are written in
// UTF-16 by the core's text writer, with lengths in characters or in bytes
// as ODBC says for each function.  The bodies are those of the narrow forms.
#pragma GCC visibility push(default)
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#pragma GCC visibility pop

#include "driver/core/catalog.h"
#include "driver/core/connect.h"
#include "driver/core/execute.h"
#include "driver/core/info.h"
#include "driver/core/options.h"
#include "driver/core/results.h"
#include "driver/odbc3/api.h"
#include "driver/odbc3/dispatch.h"
#include "driver/odbc3/wide.h"

using namespace quarl::driver;
using namespace quarl::driver::odbc3;

namespace {

TextBuffer chars(SQLPOINTER data, SQLLEN capacity) { return TextBuffer::wide_chars(data, capacity); }
TextBuffer bytes(SQLPOINTER data, SQLLEN capacity) { return TextBuffer::wide_bytes(data, capacity); }

CatalogName name_of(WideArg& arg) { return {arg.text(), arg.short_length()}; }

// A catalog call with wide names: every name converted, then the body.
template <typename F>
SQLRETURN with_names(StmtBlock& stmt, std::initializer_list<std::pair<SQLWCHAR*, SQLSMALLINT>> names, F&& body) {
  std::vector<WideArg> args;
  args.reserve(names.size());
  for (auto& [text, length] : names) {
    args.emplace_back(text, length, stmt.errors, "a catalog name");
    if (!args.back().ok()) return SQL_ERROR;
  }
  return body(args);
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLConnectW(SQLHDBC hdbc, SQLWCHAR* szDSN, SQLSMALLINT cbDSN, SQLWCHAR* szUID, SQLSMALLINT cbUID,
                              SQLWCHAR* szAuthStr, SQLSMALLINT cbAuthStr) {
  return on_conn(hdbc, [&](ConnBlock& conn) {
    WideArg dsn(szDSN, cbDSN, conn.errors, "the data source name");
    WideArg uid(szUID, cbUID, conn.errors, "the user id");
    WideArg pwd(szAuthStr, cbAuthStr, conn.errors, "the password");
    if (!dsn.ok() || !uid.ok() || !pwd.ok()) return SQLRETURN{SQL_ERROR};
    return sql_connect(conn, dsn.text(), dsn.short_length(), uid.text(), uid.short_length(), pwd.text(),
                       pwd.short_length());
  });
}

SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC hdbc, SQLHWND hwnd, SQLWCHAR* szConnStrIn, SQLSMALLINT cbConnStrIn,
                                    SQLWCHAR* szConnStrOut, SQLSMALLINT cbConnStrOutMax, SQLSMALLINT* pcbConnStrOut,
                                    SQLUSMALLINT fDriverCompletion) {
  return on_conn(hdbc, [&](ConnBlock& conn) {
    WideArg in(szConnStrIn, cbConnStrIn < 0 ? SQL_NTS : cbConnStrIn, conn.errors, "the connection string");
    if (!in.ok()) return SQLRETURN{SQL_ERROR};
    return sql_driver_connect(conn, hwnd, in.text(), chars(szConnStrOut, cbConnStrOutMax), pcbConnStrOut,
                              fDriverCompletion);
  });
}

SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC hdbc, SQLINTEGER fAttribute, SQLPOINTER rgbValue, SQLINTEGER cbValue) {
  return on_conn(hdbc, [&](ConnBlock& conn) { return set_connect_attr(conn, fAttribute, rgbValue, cbValue, true); });
}

SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC hdbc, SQLINTEGER fAttribute, SQLPOINTER rgbValue,
                                     SQLINTEGER cbValueMax, SQLINTEGER* pcbValue) {
  return on_conn(hdbc, [&](ConnBlock& conn) {
    return get_connect_attr(conn, fAttribute, rgbValue, cbValueMax, pcbValue, true);
  });
}

SQLRETURN SQL_API SQLGetInfoW(SQLHDBC hdbc, SQLUSMALLINT fInfoType, SQLPOINTER rgbInfoValue,
                              SQLSMALLINT cbInfoValueMax, SQLSMALLINT* pcbInfoValue) {
  return on_conn(hdbc, [&](ConnBlock& conn) {
    return get_info(conn, fInfoType, rgbInfoValue, cbInfoValueMax, pcbInfoValue, TextUnit::WideByte);
  });
}

SQLRETURN SQL_API SQLNativeSqlW(SQLHDBC hdbc, SQLWCHAR* szSqlStrIn, SQLINTEGER cbSqlStrIn, SQLWCHAR* szSqlStr,
                                SQLINTEGER cbSqlStrMax, SQLINTEGER* pcbSqlStr) {
  return on_conn(hdbc, [&](ConnBlock& conn) {
    WideArg in(szSqlStrIn, cbSqlStrIn, conn.errors, "the SQL text");
    if (!in.ok()) return SQLRETURN{SQL_ERROR};
    return sql_native_sql(conn, in.text(), in.length(), chars(szSqlStr, cbSqlStrMax), pcbSqlStr);
  });
}

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT fHandleType, SQLHANDLE handle, SQLSMALLINT iRecord,
                                 SQLWCHAR* szSqlState, SQLINTEGER* pfNativeError, SQLWCHAR* szErrorMsg,
                                 SQLSMALLINT cbErrorMsgMax, SQLSMALLINT* pcbErrorMsg) {
  return get_diag_rec(fHandleType, handle, iRecord, chars(szSqlState, 6), pfNativeError,
                      chars(szErrorMsg, cbErrorMsgMax), pcbErrorMsg);
}

SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT fHandleType, SQLHANDLE handle, SQLSMALLINT iRecord,
                                   SQLSMALLINT fDiagField, SQLPOINTER rgbDiagInfo, SQLSMALLINT cbDiagInfoMax,
                                   SQLSMALLINT* pcbDiagInfo) {
  return get_diag_field(fHandleType, handle, iRecord, fDiagField, rgbDiagInfo, cbDiagInfoMax, pcbDiagInfo, true);
}

SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT hstmt, SQLINTEGER fAttribute, SQLPOINTER rgbValue, SQLINTEGER) {
  return on_stmt(hstmt, [&](StmtBlock& stmt) { return set_stmt_attr(stmt, fAttribute, rgbValue); });
}

SQLRETURN SQL_API SQLGetStmtAttrW(SQLHSTMT hstmt, SQLINTEGER fAttribute, SQLPOINTER rgbValue, SQLINTEGER,
                                  SQLINTEGER* pcbValue) {
  return on_stmt(hstmt, [&](StmtBlock& stmt) { return get_stmt_attr(stmt, fAttribute, rgbValue, pcbValue); });
}

SQLRETURN SQL_API SQLPrepareW(SQLHSTMT hstmt, SQLWCHAR* szSqlStr, SQLINTEGER cbSqlStr) {
  return on_stmt(hstmt, [&](StmtBlock& stmt) {
    WideArg text(szSqlStr, cbSqlStr, stmt.errors, "the SQL text");
    if (!text.ok()) return SQLRETURN{SQL_ERROR};
    return sql_prepare(stmt, text.text(), text.length());
  });
}

SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT hstmt, SQLWCHAR* szSqlStr, SQLINTEGER cbSqlStr) {
  return on_stmt(hstmt, [&](StmtBlock& stmt) {
    WideArg text(szSqlStr, cbSqlStr, stmt.errors, "the SQL text");
    if (!text.ok()) return SQLRETURN{SQL_ERROR};
    return sql_exec_direct(stmt, text.text(), text.length());
  });
}

SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLWCHAR* szColName, SQLSMALLINT cbColNameMax,
                                  SQLSMALLINT* pcbColName, SQLSMALLINT* pfSqlType, SQLULEN* pcbColDef,
                                  SQLSMALLINT* pibScale, SQLSMALLINT* pfNullable) {
  return on_stmt(hstmt, [&](StmtBlock& stmt) {
    return sql_describe_col(stmt, icol, chars(szColName, cbColNameMax), pcbColName, pfSqlType, pcbColDef, pibScale,
                            pfNullable);
  });
}

SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT hstmt, SQLUSMALLINT iCol, SQLUSMALLINT iField, SQLPOINTER pCharAttr,
                                   SQLSMALLINT cbCharAttrMax, SQLSMALLINT* pcbCharAttr, SQLLEN* pNumAttr) {
  return on_stmt(hstmt, [&](StmtBlock& stmt) {
    return col_attribute(stmt, iCol, iField, bytes(pCharAttr, cbCharAttrMax), pcbCharAttr, pNumAttr);
  });
}

SQLRETURN SQL_API SQLSetCursorNameW(SQLHSTMT hstmt, SQLWCHAR* szCursor, SQLSMALLINT cbCursor) {
  return on_stmt(hstmt, [&](StmtBlock& stmt) {
    WideArg name(szCursor, cbCursor, stmt.errors, "the cursor name");
    if (!name.ok()) return SQLRETURN{SQL_ERROR};
    return sql_set_cursor_name(stmt, name.text(), name.short_length());
  });
}

SQLRETURN SQL_API SQLGetCursorNameW(SQLHSTMT hstmt, SQLWCHAR* szCursor, SQLSMALLINT cbCursorMax,
                                    SQLSMALLINT* pcbCursor) {
  return on_stmt(hstmt, [&](StmtBlock& stmt) { return sql_get_cursor_name(stmt, chars(szCursor, cbCursorMax), pcbCursor); });
}

SQLRETURN SQL_API SQLGetTypeInfoW(SQLHSTMT StatementHandle, SQLSMALLINT DataType) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) { return get_type_info(stmt, DataType); });
}

// ---- catalog functions ----

SQLRETURN SQL_API SQLTablesW(SQLHSTMT hstmt, SQLWCHAR* szCatalogName, SQLSMALLINT cbCatalogName,
                             SQLWCHAR* szSchemaName, SQLSMALLINT cbSchemaName, SQLWCHAR* szTableName,
                             SQLSMALLINT cbTableName, SQLWCHAR*, SQLSMALLINT) {
  return on_stmt(hstmt, [&](StmtBlock& stmt) {
    return with_names(stmt, {{szCatalogName, cbCatalogName}, {szSchemaName, cbSchemaName}, {szTableName, cbTableName}},
                      [&](std::vector<WideArg>& n) { return sql_tables(stmt, name_of(n[0]), name_of(n[1]), name_of(n[2])); });
  });
}

SQLRETURN SQL_API SQLColumnsW(SQLHSTMT hstmt, SQLWCHAR* szCatalogName, SQLSMALLINT cbCatalogName,
                              SQLWCHAR* szSchemaName, SQLSMALLINT cbSchemaName, SQLWCHAR* szTableName,
                              SQLSMALLINT cbTableName, SQLWCHAR*, SQLSMALLINT) {
  return on_stmt(hstmt, [&](StmtBlock& stmt) {
    return with_names(stmt, {{szCatalogName, cbCatalogName}, {szSchemaName, cbSchemaName}, {szTableName, cbTableName}},
                      [&](std::vector<WideArg>& n) { return sql_columns(stmt, name_of(n[0]), name_of(n[1]), name_of(n[2])); });
  });
}

SQLRETURN SQL_API SQLStatisticsW(SQLHSTMT hstmt, SQLWCHAR* szCatalogName, SQLSMALLINT cbCatalogName,
                                 SQLWCHAR* szSchemaName, SQLSMALLINT cbSchemaName, SQLWCHAR* szTableName,
                                 SQLSMALLINT cbTableName, SQLUSMALLINT fUnique, SQLUSMALLINT) {
  return on_stmt(hstmt, [&](StmtBlock& stmt) {
    return with_names(stmt, {{szCatalogName, cbCatalogName}, {szSchemaName, cbSchemaName}, {szTableName, cbTableName}},
                      [&](std::vector<WideArg>& n) {
                        return sql_statistics(stmt, name_of(n[0]), name_of(n[1]), name_of(n[2]), fUnique);
                      });
  });
}

SQLRETURN SQL_API SQLSpecialColumnsW(SQLHSTMT hstmt, SQLUSMALLINT fColType, SQLWCHAR* szCatalogName,
                                     SQLSMALLINT cbCatalogName, SQLWCHAR* szSchemaName, SQLSMALLINT cbSchemaName,
                                     SQLWCHAR* szTableName, SQLSMALLINT cbTableName, SQLUSMALLINT fScope,
                                     SQLUSMALLINT) {
  return on_stmt(hstmt, [&](StmtBlock& stmt) {
    return with_names(stmt, {{szCatalogName, cbCatalogName}, {szSchemaName, cbSchemaName}, {szTableName, cbTableName}},
                      [&](std::vector<WideArg>& n) {
                        return sql_special_columns(stmt, fColType, name_of(n[0]), name_of(n[1]), name_of(n[2]), fScope);
                      });
  });
}

SQLRETURN SQL_API SQLPrimaryKeysW(SQLHSTMT hstmt, SQLWCHAR* szCatalogName, SQLSMALLINT cbCatalogName,
                                  SQLWCHAR* szSchemaName, SQLSMALLINT cbSchemaName, SQLWCHAR* szTableName,
                                  SQLSMALLINT cbTableName) {
  return on_stmt(hstmt, [&](StmtBlock& stmt) {
    return with_names(stmt, {{szCatalogName, cbCatalogName}, {szSchemaName, cbSchemaName}, {szTableName, cbTableName}},
                      [&](std::vector<WideArg>& n) {
                        return sql_primary_keys(stmt, name_of(n[0]), name_of(n[1]), name_of(n[2]));
                      });
  });
}

SQLRETURN SQL_API SQLForeignKeysW(SQLHSTMT hstmt, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*,
                                  SQLSMALLINT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT) {
  return on_stmt(hstmt, [&](StmtBlock& stmt) { return sql_foreign_keys(stmt); });
}

SQLRETURN SQL_API SQLTablePrivilegesW(SQLHSTMT hstmt, SQLWCHAR* szCatalogName, SQLSMALLINT cbCatalogName,
                                      SQLWCHAR* szSchemaName, SQLSMALLINT cbSchemaName, SQLWCHAR* szTableName,
                                      SQLSMALLINT cbTableName) {
  return on_stmt(hstmt, [&](StmtBlock& stmt) {
    return with_names(stmt, {{szCatalogName, cbCatalogName}, {szSchemaName, cbSchemaName}, {szTableName, cbTableName}},
                      [&](std::vector<WideArg>& n) {
                        return sql_table_privileges(stmt, name_of(n[0]), name_of(n[1]), name_of(n[2]));
                      });
  });
}

SQLRETURN SQL_API SQLColumnPrivilegesW(SQLHSTMT hstmt, SQLWCHAR* szCatalogName, SQLSMALLINT cbCatalogName,
                                       SQLWCHAR* szSchemaName, SQLSMALLINT cbSchemaName, SQLWCHAR* szTableName,
                                       SQLSMALLINT cbTableName, SQLWCHAR* szColumnName, SQLSMALLINT cbColumnName) {
  return on_stmt(hstmt, [&](StmtBlock& stmt) {
    return with_names(stmt,
                      {{szCatalogName, cbCatalogName}, {szSchemaName, cbSchemaName}, {szTableName, cbTableName},
                       {szColumnName, cbColumnName}},
                      [&](std::vector<WideArg>& n) {
                        return sql_column_privileges(stmt, name_of(n[0]), name_of(n[1]), name_of(n[2]), name_of(n[3]));
                      });
  });
}

SQLRETURN SQL_API SQLProceduresW(SQLHSTMT hstmt, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*,
                                 SQLSMALLINT) {
  return on_stmt(hstmt, [](StmtBlock&) { return SQLRETURN{SQL_SUCCESS}; });
}

SQLRETURN SQL_API SQLProcedureColumnsW(SQLHSTMT hstmt, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*,
                                       SQLSMALLINT, SQLWCHAR*, SQLSMALLINT) {
  return on_stmt(hstmt, [](StmtBlock&) { return SQLRETURN{SQL_SUCCESS}; });
}

// ---- descriptors ----

SQLRETURN SQL_API SQLGetDescFieldW(SQLHDESC hdesc, SQLSMALLINT iRecord, SQLSMALLINT iField, SQLPOINTER rgbValue,
                                   SQLINTEGER cbValueMax, SQLINTEGER* pcbValue) {
  return on_desc(hdesc, [&](DescBlock& desc) {
    return get_desc_field(desc, iRecord, iField, rgbValue, cbValueMax, pcbValue, true);
  });
}

SQLRETURN SQL_API SQLSetDescFieldW(SQLHDESC DescriptorHandle, SQLSMALLINT RecNumber, SQLSMALLINT FieldIdentifier,
                                   SQLPOINTER Value, SQLINTEGER BufferLength) {
  return on_desc(DescriptorHandle, [&](DescBlock& desc) {
    return set_desc_field(desc, RecNumber, FieldIdentifier, Value, BufferLength);
  });
}

SQLRETURN SQL_API SQLGetDescRecW(SQLHDESC hdesc, SQLSMALLINT iRecord, SQLWCHAR* szName, SQLSMALLINT cbNameMax,
                                 SQLSMALLINT* pcbName, SQLSMALLINT* pfType, SQLSMALLINT* pfSubType,
                                 SQLLEN* pLength, SQLSMALLINT* pPrecision, SQLSMALLINT* pScale,
                                 SQLSMALLINT* pNullable) {
  return on_desc(hdesc, [&](DescBlock& desc) {
    return get_desc_rec(desc, iRecord, chars(szName, cbNameMax), pcbName, pfType, pfSubType, pLength, pPrecision,
                        pScale, pNullable);
  });
}

}  // extern "C"
