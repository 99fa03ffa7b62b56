// quarl-hostserver: the Host Server.  Answers HostMessages over TCP with SQL
// on SQLite.
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <CLI/CLI.hpp>

#include "common/platform/system.h"
#include "hostserver/server.h"
#include "hostserver/server_log.h"

int main(int argc, char** argv) {
  using namespace hostserver;
  ServerOptions options;
  LogOptions log;
  auto modules = make_modules();

  CLI::App app{"Quarl Host Server: answers HostMessages over TCP with SQL on SQLite"};
  app.add_option("--listen", options.listen,
                 "HOST:PORT to listen on (port 0 takes a free port; without a host, the loopback address)")
      ->capture_default_str();
  app.add_option("--users", options.users_file,
                 "users file, one USERID:PASSWORD a line (default: only DEMO with password DEMO)");
  app.add_option("--max-clients", options.max_clients, "most clients logged in at once")
      ->capture_default_str()
      ->check(CLI::Range(1u, 100000u));
  app.add_option("--max-waiting", options.max_waiting,
                 "most connections not logged in yet (beyond it the oldest of the busiest address is dropped)")
      ->capture_default_str()
      ->check(CLI::Range(1u, 100000u));
  app.add_option("--login-seconds", options.login_seconds, "time a connection has to log in")
      ->capture_default_str()
      ->check(CLI::Range(1u, 3600u));
  app.add_option("--idle-seconds", options.idle_seconds,
                 "a logged-in client that sends no request for this long is dropped (0: never)")
      ->capture_default_str()
      ->check(CLI::Range(0u, 604800u));
  app.add_option("--io-seconds", options.io_seconds,
                 "time a message may take to arrive once begun, and a client to take its replies")
      ->capture_default_str()
      ->check(CLI::Range(1u, 3600u));
  app.add_option("--login-failures", options.login.per_address,
                 "failed logins from one address within a minute before its logins are refused for a minute")
      ->capture_default_str()
      ->check(CLI::Range(1u, 100000u));
  app.add_flag("--allow-links-out", options.allow_links_out,
               "let symbolic links in the procedures and transactions folders lead to programs outside them");
  unsigned max_value_mb = 16;
  app.add_option("--max-value-mb", max_value_mb, "longest text or blob a client may store or read, in MiB")
      ->capture_default_str()
      ->check(CLI::Range(1u, kMaxValueMb));
  bool no_long_values = false;
  app.add_flag("--no-long-values", no_long_values,
               "offer clients no long and binary values: character values of at most 999 bytes, blobs as hexadecimal");
  app.add_option("--log", log.file, "append the log to FILE (default: standard error)");
  app.add_flag("--quiet", log.quiet, "write no log");
  for (auto& m : modules) m->add_options(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  options.max_value_bytes = uint64_t{max_value_mb} << 20;
  options.long_values = !no_long_values;

  std::string error;
  if (!open_log(log, error)) {
    std::cerr << "quarl-hostserver: " << error << "\n";
    return 1;
  }
  Users users = Users::demo();
  if (!options.users_file.empty()) {
    auto loaded = Users::load(options.users_file, error);
    if (!loaded) {
      std::cerr << "quarl-hostserver: " << error << "\n";
      return 1;
    }
    users = std::move(*loaded);
  }

  // A client that goes away mid-write must not kill the server.
  quarl::platform::survive_broken_pipes();
  Server server(options, std::move(users), std::move(modules));
  std::string bound;
  if (!server.start_modules(error) || !server.listen_hostmsg(options.listen, bound, error)) {
    if (!log.file.empty()) log_line("error", error);
    std::cerr << "quarl-hostserver: " << error << "\n";
    return 1;
  }
  log_line("start", "listening on " + bound);
  std::printf("listening on %s\n", bound.c_str());
  std::fflush(stdout);
  server.run();
  // A worker stuck past the grace period (a statement SQLite could not
  // interrupt) must not outlive the objects it uses: leave at once.
  if (!server.sessions_ended()) std::_Exit(0);
  return 0;
}
