// The catalog functions: the names (and a few small numbers) go to the Host
// Server in one request on the statement, unchanged (no pattern handling
// here), and the reply describes the result set, which is fetched like a
// query's.  SQLProcedures and SQLProcedureColumns are accepted and do nothing.
#pragma once

#include <sql.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace quarl::driver {

struct StmtBlock;

// A name argument as the application passes it.
struct CatalogName {
  const SQLCHAR* text;
  SQLSMALLINT length;  // SQL_NTS: up to the terminator (0 for a null name)
};

// Longest name a request can carry (its three-digit length field).
inline constexpr size_t kMaxCatalogName = 999;
// What ends a catalog or type information request that asks for the result
// columns of ODBC 3.
inline constexpr char kOdbc3Layout = '3';

// The data of a catalog request: the statement id (4 digits), each name as a
// three-digit length and its characters, then `extra` (the function's digit
// fields).  Returns false with the reason in *error for a name the request
// cannot carry (a negative length other than SQL_NTS, a length without text,
// a name above 999 characters).
bool encode_catalog_request(uint16_t statement_id, std::initializer_list<CatalogName> names, std::string_view extra,
                            std::string& data, std::string& error);

// The entry point bodies.
SQLRETURN sql_tables(StmtBlock& stmt, CatalogName qualifier, CatalogName owner, CatalogName table);
SQLRETURN sql_columns(StmtBlock& stmt, CatalogName qualifier, CatalogName owner, CatalogName table);
SQLRETURN sql_statistics(StmtBlock& stmt, CatalogName qualifier, CatalogName owner, CatalogName table,
                         SQLUSMALLINT fUnique);
SQLRETURN sql_special_columns(StmtBlock& stmt, SQLUSMALLINT fColType, CatalogName qualifier, CatalogName owner,
                              CatalogName table, SQLUSMALLINT fScope);
SQLRETURN sql_primary_keys(StmtBlock& stmt, CatalogName qualifier, CatalogName owner, CatalogName table);
SQLRETURN sql_foreign_keys(StmtBlock& stmt);
SQLRETURN sql_table_privileges(StmtBlock& stmt, CatalogName qualifier, CatalogName owner, CatalogName table);
SQLRETURN sql_column_privileges(StmtBlock& stmt, CatalogName qualifier, CatalogName owner, CatalogName table,
                                CatalogName column);

}  // namespace quarl::driver
