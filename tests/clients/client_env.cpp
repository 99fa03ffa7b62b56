// Runs a client program against a fresh demo Host Server through a private
// unixODBC configuration, and exits with the program's status:
//
//   quarl_client_env [--sql FILE] [--host OPTION]... PROGRAM [ARGS...]
//
// The program finds the data sources "QuarlDemo" (driver "Quarl", Provider
// TCP/IP, Connection 127.0.0.1:PORT, UID DEMO, PWD stored scrambled) and
// "QuarlUnicode" (the same through the driver "Quarl Unicode"), and these
// variables: QUARL_TEST_DSN, QUARL_TEST_UNICODE_DSN, QUARL_TEST_ADDRESS,
// QUARL_TEST_CONFIG_DIR (where odbc.ini and odbcinst.ini live), plus
// unixODBC's own ODBCSYSINI, ODBCINI and QUARL_PROFILE_DIR.  With QUARL_CLIENT_TRACE=FILE set, unixODBC traces every
// call into FILE.
//
// With --sql the database is built from the SQL file instead of the demo
// tables, and the SQLite ODBC driver (Debian's libsqliteodbc) reads the same
// file as the data source "SQLiteDirect": QUARL_TEST_DATABASE names the file,
// QUARL_TEST_PEER_DSN the peer's data source.  Each --host OPTION goes to
// quarl-hostserver's command line (--host --max-value-mb=2).
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "common/scramble.h"
#include "tests/support/test_env.h"

namespace {

constexpr const char* kSqliteOdbc = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

// A database built from an SQL file.
void build_database(const std::string& sql_file, const std::string& database) {
  std::string sql = testsupport::read_file(sql_file);
  if (sql.empty()) throw std::runtime_error("cannot read " + sql_file);
  sqlite3* db = nullptr;
  char* message = nullptr;
  int rc = sqlite3_open(database.c_str(), &db);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  std::string error = message ? message : (db ? sqlite3_errmsg(db) : "out of memory");
  sqlite3_free(message);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error(sql_file + ": " + error);
}

}  // namespace

int main(int argc, char** argv) {
  std::string sql_file;
  std::vector<std::string> host_options;
  while (argc >= 3 && (std::string(argv[1]) == "--sql" || std::string(argv[1]) == "--host")) {
    (std::string(argv[1]) == "--sql" ? sql_file : host_options.emplace_back()) = argv[2];
    argv += 2;
    argc -= 2;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s [--sql FILE] [--host OPTION]... PROGRAM [ARGS...]\n", argv[0]);
    return 2;
  }
  try {
    testsupport::OdbcConfig config;
    testsupport::TempDir data;
    // A database of its own, so that updates leave the shared demo alone.
    std::string database = (data / (sql_file.empty() ? "demo.sqlite" : "corpus.sqlite")).string();
    if (!sql_file.empty()) {
      build_database(sql_file, database);
      config.add_driver("SQLite3", {{"Driver", kSqliteOdbc}});
      config.add_dsn("SQLiteDirect", {{"Driver", "SQLite3"}, {"Database", database}});
      ::setenv("QUARL_TEST_DATABASE", database.c_str(), 1);
      ::setenv("QUARL_TEST_PEER_DSN", "SQLiteDirect", 1);
    }
    std::vector<std::string> server_args{"--database", database};
    if (sql_file.empty()) server_args.insert(server_args.begin(), "--demo");
    server_args.insert(server_args.end(), host_options.begin(), host_options.end());
    testsupport::HostServer server(server_args);
    config.add_dsn("QuarlDemo", {{"Description", "Quarl demo data"},
                                 {"Provider", "TCP/IP"},
                                 {"Connection", server.address()},
                                 {"UID", "DEMO"},
                                 {"PWD", quarl::scramble("DEMO")}});
    config.add_dsn("QuarlUnicode", {{"Driver", "Quarl Unicode"},
                                    {"Description", "Quarl demo data, Unicode driver"},
                                    {"Provider", "TCP/IP"},
                                    {"Connection", server.address()},
                                    {"UID", "DEMO"},
                                    {"PWD", quarl::scramble("DEMO")}});
    if (const char* trace = std::getenv("QUARL_CLIENT_TRACE"); trace && *trace) {
      std::string text = testsupport::read_file(config.odbcinst_ini());
      testsupport::write_file(config.odbcinst_ini(),
                              "[ODBC]\nTrace=Yes\nTraceFile=" + std::string(trace) + "\n\n" + text);
    }
    ::setenv("QUARL_TEST_DSN", "QuarlDemo", 1);
    ::setenv("QUARL_TEST_UNICODE_DSN", "QuarlUnicode", 1);
    ::setenv("QUARL_TEST_ADDRESS", server.address().c_str(), 1);
    ::setenv("QUARL_TEST_CONFIG_DIR", config.dir().c_str(), 1);

    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
      ::execv(argv[1], argv + 1);
      std::perror(argv[1]);
      ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
      if (errno != EINTR) throw std::runtime_error("waitpid failed");
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    std::fprintf(stderr, "%s ended by signal %d\n", argv[1], WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quarl_client_env: %s\n", e.what());
    return 1;
  }
}
