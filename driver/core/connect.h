// Connecting and disconnecting: SQLConnect, SQLDriverConnect and
// SQLDisconnect, and the common sequence behind them (open the link, set up
// the sub connection, check the host's protocol version, log in).
#pragma once

#include <sql.h>

#include <array>
#include <string>
#include <string_view>

#include "driver/core/output.h"

namespace quarl::driver {

struct ConnBlock;

SQLRETURN sql_connect(ConnBlock& conn, SQLCHAR* szDSN, SQLSMALLINT cbDSN, SQLCHAR* szUID, SQLSMALLINT cbUID,
                      SQLCHAR* szAuthStr, SQLSMALLINT cbAuthStr);
SQLRETURN sql_driver_connect(ConnBlock& conn, SQLHWND hwnd, SQLCHAR* szConnStrIn, const TextBuffer& out,
                             SQLSMALLINT* pcbConnStrOut, SQLUSMALLINT fDriverCompletion);
inline SQLRETURN sql_driver_connect(ConnBlock& conn, SQLHWND hwnd, SQLCHAR* szConnStrIn, SQLCHAR* szConnStrOut,
                                    SQLSMALLINT cbConnStrOutMax, SQLSMALLINT* pcbConnStrOut,
                                    SQLUSMALLINT fDriverCompletion) {
  return sql_driver_connect(conn, hwnd, szConnStrIn, TextBuffer::narrow(szConnStrOut, cbConnStrOutMax),
                            pcbConnStrOut, fDriverCompletion);
}
SQLRETURN sql_browse_connect(ConnBlock& conn);
SQLRETURN sql_disconnect(ConnBlock& conn);

struct ConnectArgs {
  std::string_view dsn, provider, connection, uid, pwd, charge_code, client_config;
};
SQLRETURN host_connect(ConnBlock& conn, const ConnectArgs& args);
SQLRETURN host_login(ConnBlock& conn, std::string_view uid, std::string_view pwd, std::string_view charge_code,
                     std::string_view client_config);
SQLRETURN host_logout(ConnBlock& conn);

// The provider names offered by the connection dialog: at most 8 names of at
// most 15 characters, refilled at the start of every SQLDriverConnect.
inline constexpr int kProviderNamesMax = 8;
const std::array<std::string, kProviderNamesMax>& provider_names();

}  // namespace quarl::driver
