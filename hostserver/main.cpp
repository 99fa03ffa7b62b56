// quarl-hostserver: the Host Server.  Answers HostMessages over TCP with SQL
// on SQLite.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <CLI/CLI.hpp>

#include "hostserver/server.h"

int main(int argc, char** argv) {
  using namespace hostserver;
  ServerOptions options;
  auto modules = make_modules();

  CLI::App app{"Quarl Host Server: answers HostMessages over TCP with SQL on SQLite"};
  app.add_option("--listen", options.listen, "HOST:PORT to listen on (port 0 takes a free port)")
      ->capture_default_str();
  app.add_option("--users", options.users_file,
                 "users file, one USERID:PASSWORD a line (default: only DEMO with password DEMO)");
  app.add_option("--max-clients", options.max_clients, "most clients connected at once")
      ->capture_default_str()
      ->check(CLI::Range(1u, 100000u));
  for (auto& m : modules) m->add_options(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }

  std::string error;
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
  std::signal(SIGPIPE, SIG_IGN);
  Server server(options, std::move(users), std::move(modules));
  std::string bound;
  if (!server.start_modules(error) || !server.listen_hostmsg(options.listen, bound, error)) {
    std::cerr << "quarl-hostserver: " << error << "\n";
    return 1;
  }
  std::printf("listening on %s\n", bound.c_str());
  std::fflush(stdout);
  server.run();
  // A worker stuck past the grace period (a statement SQLite could not
  // interrupt) must not outlive the objects it uses: leave at once.
  if (!server.sessions_ended()) std::_Exit(0);
  return 0;
}
