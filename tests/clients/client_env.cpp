// Runs a client program against a fresh demo Host Server through a private
// unixODBC configuration, and exits with the program's status:
//
//   quarl_client_env PROGRAM [ARGS...]
//
// The program finds the data source "QuarlDemo" (Provider TCP/IP,
// Connection 127.0.0.1:PORT, UID DEMO, PWD stored scrambled) and these
// variables: QUARL_TEST_DSN, QUARL_TEST_ADDRESS, QUARL_TEST_CONFIG_DIR (where
// odbc.ini and odbcinst.ini live), plus unixODBC's own ODBCSYSINI, ODBCINI and
// QUARL_PROFILE_DIR.  With QUARL_CLIENT_TRACE=FILE set, unixODBC traces every
// call into FILE.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/scramble.h"
#include "tests/support/test_env.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PROGRAM [ARGS...]\n", argv[0]);
    return 2;
  }
  try {
    testsupport::OdbcConfig config;
    testsupport::TempDir data;
    // A database of its own, so that updates leave the shared demo alone.
    testsupport::HostServer server({"--demo", "--database", (data / "demo.sqlite").string()});
    config.add_dsn("QuarlDemo", {{"Description", "Quarl demo data"},
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
