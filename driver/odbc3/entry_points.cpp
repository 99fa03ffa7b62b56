// The Unicode driver's ODBC 3.51 entry points with narrow (UTF-8) text; their
// wide forms are in entry_points_w.cpp.  Each forwards into the dispatcher of
// its handle kind and the core's body (or the ODBC 3 body of api.h).  Only
// these symbols leave the library (odbc3/libquarlw.map).
#pragma GCC visibility push(default)
#include <sql.h>
#include <sqlext.h>
#pragma GCC visibility pop

#include "driver/core/catalog.h"
#include "driver/core/connect.h"
#include "driver/core/execute.h"
#include "driver/core/get_data_quick.h"
#include "driver/core/info.h"
#include "driver/core/options.h"
#include "driver/core/results.h"
#include "driver/odbc3/api.h"
#include "driver/odbc3/dispatch.h"

using namespace quarl::driver;
using namespace quarl::driver::odbc3;

namespace {

TextBuffer narrow(SQLPOINTER data, SQLLEN capacity) { return TextBuffer::narrow(data, capacity); }

}  // namespace

extern "C" {

// ---- handles, environment, connections ----

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT HandleType, SQLHANDLE InputHandle, SQLHANDLE* OutputHandle) {
  return alloc_handle(HandleType, InputHandle, OutputHandle);
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT HandleType, SQLHANDLE Handle) { return free_handle(HandleType, Handle); }

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV EnvironmentHandle, SQLINTEGER Attribute, SQLPOINTER Value, SQLINTEGER) {
  return on_env(EnvironmentHandle, [&](EnvBlock& env) { return set_env_attr(env, Attribute, Value); });
}

SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV EnvironmentHandle, SQLINTEGER Attribute, SQLPOINTER Value, SQLINTEGER,
                                SQLINTEGER* StringLength) {
  if (StringLength) *StringLength = sizeof(SQLINTEGER);
  return on_env(EnvironmentHandle, [&](EnvBlock& env) { return get_env_attr(env, Attribute, Value); });
}

SQLRETURN SQL_API SQLConnect(SQLHDBC ConnectionHandle, SQLCHAR* ServerName, SQLSMALLINT NameLength1,
                             SQLCHAR* UserName, SQLSMALLINT NameLength2, SQLCHAR* Authentication,
                             SQLSMALLINT NameLength3) {
  return on_conn(ConnectionHandle, [&](ConnBlock& conn) {
    return sql_connect(conn, ServerName, NameLength1, UserName, NameLength2, Authentication, NameLength3);
  });
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC ConnectionHandle, SQLHWND WindowHandle, SQLCHAR* InConnectionString,
                                   SQLSMALLINT StringLength1, SQLCHAR* OutConnectionString, SQLSMALLINT BufferLength,
                                   SQLSMALLINT* StringLength2Ptr, SQLUSMALLINT DriverCompletion) {
  return on_conn(ConnectionHandle, [&](ConnBlock& conn) {
    // The string ends at its length when one is given.
    std::string in = InConnectionString == nullptr ? std::string()
                     : StringLength1 == SQL_NTS || StringLength1 < 0
                         ? std::string(reinterpret_cast<const char*>(InConnectionString))
                         : std::string(reinterpret_cast<const char*>(InConnectionString),
                                       static_cast<size_t>(StringLength1));
    return sql_driver_connect(conn, WindowHandle, InConnectionString ? reinterpret_cast<SQLCHAR*>(in.data()) : nullptr,
                              narrow(OutConnectionString, BufferLength), StringLength2Ptr, DriverCompletion);
  });
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC ConnectionHandle) {
  return on_conn(ConnectionHandle, [&](ConnBlock& conn) { return sql_disconnect(conn); });
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC ConnectionHandle, SQLINTEGER Attribute, SQLPOINTER Value,
                                    SQLINTEGER StringLength) {
  return on_conn(ConnectionHandle,
                 [&](ConnBlock& conn) { return set_connect_attr(conn, Attribute, Value, StringLength, false); });
}

SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC ConnectionHandle, SQLINTEGER Attribute, SQLPOINTER Value,
                                    SQLINTEGER BufferLength, SQLINTEGER* StringLength) {
  return on_conn(ConnectionHandle, [&](ConnBlock& conn) {
    return get_connect_attr(conn, Attribute, Value, BufferLength, StringLength, false);
  });
}

SQLRETURN SQL_API SQLGetInfo(SQLHDBC ConnectionHandle, SQLUSMALLINT InfoType, SQLPOINTER InfoValue,
                             SQLSMALLINT BufferLength, SQLSMALLINT* StringLength) {
  return on_conn(ConnectionHandle,
                 [&](ConnBlock& conn) { return get_info(conn, InfoType, InfoValue, BufferLength, StringLength); });
}

SQLRETURN SQL_API SQLNativeSql(SQLHDBC ConnectionHandle, SQLCHAR* InStatementText, SQLINTEGER TextLength1,
                               SQLCHAR* OutStatementText, SQLINTEGER BufferLength, SQLINTEGER* TextLength2Ptr) {
  return on_conn(ConnectionHandle, [&](ConnBlock& conn) {
    return sql_native_sql(conn, InStatementText, TextLength1, narrow(OutStatementText, BufferLength), TextLength2Ptr);
  });
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT HandleType, SQLHANDLE Handle, SQLSMALLINT CompletionType) {
  return end_tran(HandleType, Handle, CompletionType);
}

// ---- diagnostics ----

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT HandleType, SQLHANDLE Handle, SQLSMALLINT RecNumber, SQLCHAR* Sqlstate,
                                SQLINTEGER* NativeError, SQLCHAR* MessageText, SQLSMALLINT BufferLength,
                                SQLSMALLINT* TextLength) {
  return get_diag_rec(HandleType, Handle, RecNumber, narrow(Sqlstate, 6), NativeError,
                      narrow(MessageText, BufferLength), TextLength);
}

SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT HandleType, SQLHANDLE Handle, SQLSMALLINT RecNumber,
                                  SQLSMALLINT DiagIdentifier, SQLPOINTER DiagInfo, SQLSMALLINT BufferLength,
                                  SQLSMALLINT* StringLength) {
  return get_diag_field(HandleType, Handle, RecNumber, DiagIdentifier, DiagInfo, BufferLength, StringLength, false);
}

// ---- statements ----

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT StatementHandle, SQLUSMALLINT Option) {
  return on_freeing_stmt(StatementHandle, [&](StmtBlock& stmt) { return free_stmt(stmt, Option); });
}

SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT StatementHandle, SQLINTEGER Attribute, SQLPOINTER Value, SQLINTEGER) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) { return set_stmt_attr(stmt, Attribute, Value); });
}

SQLRETURN SQL_API SQLGetStmtAttr(SQLHSTMT StatementHandle, SQLINTEGER Attribute, SQLPOINTER Value, SQLINTEGER,
                                 SQLINTEGER* StringLength) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) { return get_stmt_attr(stmt, Attribute, Value, StringLength); });
}

SQLRETURN SQL_API SQLPrepare(SQLHSTMT StatementHandle, SQLCHAR* StatementText, SQLINTEGER TextLength) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) { return sql_prepare(stmt, StatementText, TextLength); });
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT StatementHandle, SQLCHAR* StatementText, SQLINTEGER TextLength) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) { return sql_exec_direct(stmt, StatementText, TextLength); });
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT StatementHandle) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) { return sql_execute(stmt); });
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT StatementHandle, SQLUSMALLINT ParameterNumber,
                                   SQLSMALLINT InputOutputType, SQLSMALLINT ValueType, SQLSMALLINT ParameterType,
                                   SQLULEN ColumnSize, SQLSMALLINT DecimalDigits, SQLPOINTER ParameterValuePtr,
                                   SQLLEN BufferLength, SQLLEN* StrLen_or_IndPtr) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) {
    return bind_parameter(stmt, ParameterNumber, InputOutputType, ValueType, ParameterType, ColumnSize,
                          DecimalDigits, ParameterValuePtr, BufferLength, StrLen_or_IndPtr);
  });
}

SQLRETURN SQL_API SQLDescribeParam(SQLHSTMT StatementHandle, SQLUSMALLINT ParameterNumber, SQLSMALLINT* DataTypePtr,
                                   SQLULEN* ParameterSizePtr, SQLSMALLINT* DecimalDigitsPtr,
                                   SQLSMALLINT* NullablePtr) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) {
    return sql_describe_param(stmt, ParameterNumber, DataTypePtr, ParameterSizePtr, DecimalDigitsPtr, NullablePtr);
  });
}

SQLRETURN SQL_API SQLNumParams(SQLHSTMT StatementHandle, SQLSMALLINT* ParameterCountPtr) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) { return sql_num_params(stmt, ParameterCountPtr); });
}

SQLRETURN SQL_API SQLParamData(SQLHSTMT StatementHandle, SQLPOINTER* ValuePtrPtr) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) { return sql_param_data(stmt, ValuePtrPtr); });
}

SQLRETURN SQL_API SQLPutData(SQLHSTMT StatementHandle, SQLPOINTER DataPtr, SQLLEN StrLen_or_Ind) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) { return sql_put_data(stmt, DataPtr, StrLen_or_Ind); });
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT StatementHandle, SQLSMALLINT* ColumnCountPtr) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) { return sql_num_result_cols(stmt, ColumnCountPtr); });
}

SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT StatementHandle, SQLUSMALLINT ColumnNumber, SQLCHAR* ColumnName,
                                 SQLSMALLINT BufferLength, SQLSMALLINT* NameLengthPtr, SQLSMALLINT* DataTypePtr,
                                 SQLULEN* ColumnSizePtr, SQLSMALLINT* DecimalDigitsPtr, SQLSMALLINT* NullablePtr) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) {
    return sql_describe_col(stmt, ColumnNumber, narrow(ColumnName, BufferLength), NameLengthPtr, DataTypePtr,
                            ColumnSizePtr, DecimalDigitsPtr, NullablePtr);
  });
}

SQLRETURN SQL_API SQLColAttribute(SQLHSTMT StatementHandle, SQLUSMALLINT ColumnNumber,
                                  SQLUSMALLINT FieldIdentifier, SQLPOINTER CharacterAttributePtr,
                                  SQLSMALLINT BufferLength, SQLSMALLINT* StringLengthPtr,
                                  SQLLEN* NumericAttributePtr) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) {
    return col_attribute(stmt, ColumnNumber, FieldIdentifier, narrow(CharacterAttributePtr, BufferLength),
                         StringLengthPtr, NumericAttributePtr);
  });
}

SQLRETURN SQL_API SQLBindCol(SQLHSTMT StatementHandle, SQLUSMALLINT ColumnNumber, SQLSMALLINT TargetType,
                             SQLPOINTER TargetValuePtr, SQLLEN BufferLength, SQLLEN* StrLen_or_IndPtr) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) {
    return sql_bind_col(stmt, ColumnNumber, TargetType, TargetValuePtr, BufferLength, StrLen_or_IndPtr);
  });
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT StatementHandle) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) { return fetch(stmt); });
}

SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT StatementHandle, SQLSMALLINT FetchOrientation, SQLLEN FetchOffset) {
  return on_stmt(StatementHandle,
                 [&](StmtBlock& stmt) { return fetch_scroll(stmt, FetchOrientation, FetchOffset); });
}

namespace {
// SQLGetData: the dispatcher's way, and around its quick way the connection's
// lock (taken only when free: a call that would wait goes to the
// dispatcher) and the statement's diagnostics (a statement that holds some
// goes to the dispatcher, which empties them).
struct GetDataFace {
  [[gnu::always_inline]] static bool enter(StmtBlock& stmt) { return stmt.conn->call_mutex.try_lock(); }
  [[gnu::always_inline]] static bool ready(StmtBlock& stmt) { return stmt.errors.empty(); }
  [[gnu::always_inline]] static SQLRETURN done(StmtBlock& stmt) {
    stmt.errors.returned = SQL_SUCCESS;
    return stmt.conn->call_mutex.unlock_returning(SQL_SUCCESS);
  }
  [[gnu::noinline]] static SQLRETURN dispatched(SQLHSTMT StatementHandle, SQLUSMALLINT Col_or_Param_Num,
                                                SQLSMALLINT TargetType, SQLPOINTER TargetValuePtr,
                                                SQLLEN BufferLength, SQLLEN* StrLen_or_IndPtr) noexcept {
    return on_stmt(StatementHandle, [&](StmtBlock& stmt) {
      return sql_get_data(stmt, Col_or_Param_Num, TargetType, TargetValuePtr, BufferLength, StrLen_or_IndPtr);
    });
  }
  // Entered: the lock is held already, and given back at the end.
  [[gnu::noinline]] static SQLRETURN missed(SQLHSTMT StatementHandle, SQLUSMALLINT Col_or_Param_Num,
                                            SQLSMALLINT TargetType, SQLPOINTER TargetValuePtr, SQLLEN BufferLength,
                                            SQLLEN* StrLen_or_IndPtr) noexcept {
    StmtBlock& stmt = *static_cast<StmtBlock*>(StatementHandle);
    HeldLock held{stmt.conn->call_mutex};
    return guarded(stmt, held, [&](StmtBlock& s) {
      return sql_get_data(s, Col_or_Param_Num, TargetType, TargetValuePtr, BufferLength, StrLen_or_IndPtr);
    });
  }
};
}  // namespace

SQLRETURN SQL_API SQLGetData(SQLHSTMT StatementHandle, SQLUSMALLINT Col_or_Param_Num, SQLSMALLINT TargetType,
                             SQLPOINTER TargetValuePtr, SQLLEN BufferLength, SQLLEN* StrLen_or_IndPtr) {
  return get_data_quick<GetDataFace>(StatementHandle, Col_or_Param_Num, TargetType, TargetValuePtr, BufferLength,
                                     StrLen_or_IndPtr);
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT StatementHandle, SQLLEN* RowCountPtr) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) { return sql_row_count(stmt, RowCountPtr); });
}

SQLRETURN SQL_API SQLMoreResults(SQLHSTMT StatementHandle) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) { return sql_more_results(stmt); });
}

SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT StatementHandle) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) { return close_cursor(stmt); });
}

// Not serialized with the statement's other calls: it is meant to reach a
// statement that another thread is running.
SQLRETURN SQL_API SQLCancel(SQLHSTMT StatementHandle) {
  return dispatch_stmt(StatementHandle, [&](StmtBlock& stmt) { return sql_cancel(stmt); });
}

SQLRETURN SQL_API SQLSetCursorName(SQLHSTMT StatementHandle, SQLCHAR* CursorName, SQLSMALLINT NameLength) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) { return sql_set_cursor_name(stmt, CursorName, NameLength); });
}

SQLRETURN SQL_API SQLGetCursorName(SQLHSTMT StatementHandle, SQLCHAR* CursorName, SQLSMALLINT BufferLength,
                                   SQLSMALLINT* NameLengthPtr) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) {
    return sql_get_cursor_name(stmt, narrow(CursorName, BufferLength), NameLengthPtr);
  });
}

SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT StatementHandle, SQLSMALLINT DataType) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) { return get_type_info(stmt, DataType); });
}

// ---- catalog functions: the names go to the host unchanged ----

SQLRETURN SQL_API SQLTables(SQLHSTMT StatementHandle, SQLCHAR* CatalogName, SQLSMALLINT NameLength1,
                            SQLCHAR* SchemaName, SQLSMALLINT NameLength2, SQLCHAR* TableName,
                            SQLSMALLINT NameLength3, SQLCHAR*, SQLSMALLINT) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) {
    return sql_tables(stmt, {CatalogName, NameLength1}, {SchemaName, NameLength2}, {TableName, NameLength3});
  });
}

SQLRETURN SQL_API SQLColumns(SQLHSTMT StatementHandle, SQLCHAR* CatalogName, SQLSMALLINT NameLength1,
                             SQLCHAR* SchemaName, SQLSMALLINT NameLength2, SQLCHAR* TableName,
                             SQLSMALLINT NameLength3, SQLCHAR*, SQLSMALLINT) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) {
    return sql_columns(stmt, {CatalogName, NameLength1}, {SchemaName, NameLength2}, {TableName, NameLength3});
  });
}

SQLRETURN SQL_API SQLStatistics(SQLHSTMT StatementHandle, SQLCHAR* CatalogName, SQLSMALLINT NameLength1,
                                SQLCHAR* SchemaName, SQLSMALLINT NameLength2, SQLCHAR* TableName,
                                SQLSMALLINT NameLength3, SQLUSMALLINT Unique, SQLUSMALLINT) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) {
    return sql_statistics(stmt, {CatalogName, NameLength1}, {SchemaName, NameLength2}, {TableName, NameLength3},
                          Unique);
  });
}

SQLRETURN SQL_API SQLSpecialColumns(SQLHSTMT StatementHandle, SQLUSMALLINT IdentifierType, SQLCHAR* CatalogName,
                                    SQLSMALLINT NameLength1, SQLCHAR* SchemaName, SQLSMALLINT NameLength2,
                                    SQLCHAR* TableName, SQLSMALLINT NameLength3, SQLUSMALLINT Scope,
                                    SQLUSMALLINT) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) {
    return sql_special_columns(stmt, IdentifierType, {CatalogName, NameLength1}, {SchemaName, NameLength2},
                               {TableName, NameLength3}, Scope);
  });
}

SQLRETURN SQL_API SQLPrimaryKeys(SQLHSTMT StatementHandle, SQLCHAR* CatalogName, SQLSMALLINT NameLength1,
                                 SQLCHAR* SchemaName, SQLSMALLINT NameLength2, SQLCHAR* TableName,
                                 SQLSMALLINT NameLength3) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) {
    return sql_primary_keys(stmt, {CatalogName, NameLength1}, {SchemaName, NameLength2}, {TableName, NameLength3});
  });
}

SQLRETURN SQL_API SQLForeignKeys(SQLHSTMT StatementHandle, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                                 SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) { return sql_foreign_keys(stmt); });
}

SQLRETURN SQL_API SQLTablePrivileges(SQLHSTMT StatementHandle, SQLCHAR* CatalogName, SQLSMALLINT NameLength1,
                                     SQLCHAR* SchemaName, SQLSMALLINT NameLength2, SQLCHAR* TableName,
                                     SQLSMALLINT NameLength3) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) {
    return sql_table_privileges(stmt, {CatalogName, NameLength1}, {SchemaName, NameLength2},
                                {TableName, NameLength3});
  });
}

SQLRETURN SQL_API SQLColumnPrivileges(SQLHSTMT StatementHandle, SQLCHAR* CatalogName, SQLSMALLINT NameLength1,
                                      SQLCHAR* SchemaName, SQLSMALLINT NameLength2, SQLCHAR* TableName,
                                      SQLSMALLINT NameLength3, SQLCHAR* ColumnName, SQLSMALLINT NameLength4) {
  return on_stmt(StatementHandle, [&](StmtBlock& stmt) {
    return sql_column_privileges(stmt, {CatalogName, NameLength1}, {SchemaName, NameLength2},
                                 {TableName, NameLength3}, {ColumnName, NameLength4});
  });
}

// Accepted; the host keeps no procedure catalog, and the statement is left as it was.
SQLRETURN SQL_API SQLProcedures(SQLHSTMT StatementHandle, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                                SQLSMALLINT) {
  return on_stmt(StatementHandle, [](StmtBlock&) { return SQLRETURN{SQL_SUCCESS}; });
}

SQLRETURN SQL_API SQLProcedureColumns(SQLHSTMT StatementHandle, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT,
                                      SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT) {
  return on_stmt(StatementHandle, [](StmtBlock&) { return SQLRETURN{SQL_SUCCESS}; });
}

// ---- descriptors ----

SQLRETURN SQL_API SQLGetDescField(SQLHDESC DescriptorHandle, SQLSMALLINT RecNumber, SQLSMALLINT FieldIdentifier,
                                  SQLPOINTER Value, SQLINTEGER BufferLength, SQLINTEGER* StringLength) {
  return on_desc(DescriptorHandle, [&](DescBlock& desc) {
    return get_desc_field(desc, RecNumber, FieldIdentifier, Value, BufferLength, StringLength, false);
  });
}

SQLRETURN SQL_API SQLSetDescField(SQLHDESC DescriptorHandle, SQLSMALLINT RecNumber, SQLSMALLINT FieldIdentifier,
                                  SQLPOINTER Value, SQLINTEGER BufferLength) {
  return on_desc(DescriptorHandle, [&](DescBlock& desc) {
    return set_desc_field(desc, RecNumber, FieldIdentifier, Value, BufferLength);
  });
}

SQLRETURN SQL_API SQLGetDescRec(SQLHDESC DescriptorHandle, SQLSMALLINT RecNumber, SQLCHAR* Name,
                                SQLSMALLINT BufferLength, SQLSMALLINT* StringLengthPtr, SQLSMALLINT* TypePtr,
                                SQLSMALLINT* SubTypePtr, SQLLEN* LengthPtr, SQLSMALLINT* PrecisionPtr,
                                SQLSMALLINT* ScalePtr, SQLSMALLINT* NullablePtr) {
  return on_desc(DescriptorHandle, [&](DescBlock& desc) {
    return get_desc_rec(desc, RecNumber, narrow(Name, BufferLength), StringLengthPtr, TypePtr, SubTypePtr, LengthPtr,
                        PrecisionPtr, ScalePtr, NullablePtr);
  });
}

SQLRETURN SQL_API SQLSetDescRec(SQLHDESC DescriptorHandle, SQLSMALLINT RecNumber, SQLSMALLINT Type,
                                SQLSMALLINT SubType, SQLLEN Length, SQLSMALLINT Precision, SQLSMALLINT Scale,
                                SQLPOINTER DataPtr, SQLLEN* StringLengthPtr, SQLLEN* IndicatorPtr) {
  return on_desc(DescriptorHandle, [&](DescBlock& desc) {
    return set_desc_rec(desc, RecNumber, Type, SubType, Length, Precision, Scale, DataPtr, StringLengthPtr,
                        IndicatorPtr);
  });
}

}  // extern "C"
