#include "driver/core/catalog.h"

#include <cstring>

#include "common/digits.h"
#include "common/hostmsg.h"
#include "driver/core/diag.h"
#include "driver/core/handles.h"
#include "driver/core/execute.h"
#include "driver/core/statement.h"

namespace quarl::driver {

bool encode_catalog_request(uint16_t statement_id, std::initializer_list<CatalogName> names, std::string_view extra,
                            std::string& data, std::string& error) {
  data.assign(4, '0');
  put_digits(data.data(), 4, statement_id);
  for (const CatalogName& name : names) {
    const char* text = reinterpret_cast<const char*>(name.text);
    size_t n;
    if (name.length == SQL_NTS) {
      n = text ? std::strlen(text) : 0;
    } else if (name.length < 0) {
      error = "Invalid string or buffer length";
      return false;
    } else {
      n = static_cast<size_t>(name.length);
      if (!text && n != 0) {
        error = "Invalid string or buffer length";
        return false;
      }
    }
    if (n > kMaxCatalogName) {
      error = "Catalog name longer than 999 characters";
      return false;
    }
    char length[3];
    put_digits(length, 3, n);
    data.append(length, 3);
    if (n) data.append(text, n);
  }
  data.append(extra);
  return true;
}

namespace {

// The common catalog request: the data go out on the statement with the
// function's code and the reply describes the result set.  An application of
// ODBC 3 gets the result columns of ODBC 3: the request says so with a last
// digit '3' after the function's own fields.
SQLRETURN catalog_request(StmtBlock& stmt, unsigned code, std::initializer_list<CatalogName> names,
                          std::string_view extra) {
  ConnBlock& conn = *stmt.conn;
  if (!conn.connected()) return post(stmt.errors, SQL_ERROR, kErrNotOpen);
  std::string data, error;
  if (!encode_catalog_request(stmt.host_id, names, extra, data, error))
    return post(stmt.errors, SQL_ERROR, kErrArgument, error);
  if (conn.version() == OdbcVersion::V3) data += kOdbc3Layout;
  if (data.size() > conn.channel.max_data_length())
    return post(stmt.errors, SQL_ERROR, kErrArgument, "Catalog names too long for one host message");
  std::memcpy(conn.channel.out(), data.data(), data.size());
  return request_description(conn, stmt, code, data.size());
}

CatalogName none() { return {nullptr, 0}; }

}  // namespace

SQLRETURN sql_tables(StmtBlock& stmt, CatalogName qualifier, CatalogName owner, CatalogName table) {
  // The table types are not sent: the host answers every type.
  return catalog_request(stmt, hostmsg::code::kTables, {qualifier, owner, table}, {});
}

SQLRETURN sql_columns(StmtBlock& stmt, CatalogName qualifier, CatalogName owner, CatalogName table) {
  // The column name is not sent: the host answers every column.
  return catalog_request(stmt, hostmsg::code::kColumns, {qualifier, owner, table}, {});
}

SQLRETURN sql_statistics(StmtBlock& stmt, CatalogName qualifier, CatalogName owner, CatalogName table,
                         SQLUSMALLINT fUnique) {
  char extra[1];
  put_digits(extra, 1, fUnique);
  return catalog_request(stmt, hostmsg::code::kStatistics, {qualifier, owner, table}, {extra, 1});
}

SQLRETURN sql_special_columns(StmtBlock& stmt, SQLUSMALLINT fColType, CatalogName qualifier, CatalogName owner,
                              CatalogName table, SQLUSMALLINT fScope) {
  char extra[10];
  put_digits(extra, 5, fColType);
  put_digits(extra + 5, 5, fScope);
  return catalog_request(stmt, hostmsg::code::kSpecialColumns, {qualifier, owner, table}, {extra, 10});
}

SQLRETURN sql_primary_keys(StmtBlock& stmt, CatalogName qualifier, CatalogName owner, CatalogName table) {
  return catalog_request(stmt, hostmsg::code::kPrimaryKeys, {qualifier, owner, table}, {});
}

SQLRETURN sql_foreign_keys(StmtBlock& stmt) {
  // The host answers every foreign key of the data source.
  return catalog_request(stmt, hostmsg::code::kForeignKeys, {none(), none(), none()}, {});
}

SQLRETURN sql_table_privileges(StmtBlock& stmt, CatalogName qualifier, CatalogName owner, CatalogName table) {
  return catalog_request(stmt, hostmsg::code::kTablePrivileges, {qualifier, owner, table}, {});
}

SQLRETURN sql_column_privileges(StmtBlock& stmt, CatalogName qualifier, CatalogName owner, CatalogName table,
                                CatalogName column) {
  return catalog_request(stmt, hostmsg::code::kColumnPrivileges, {qualifier, owner, table, column}, {});
}

}  // namespace quarl::driver
