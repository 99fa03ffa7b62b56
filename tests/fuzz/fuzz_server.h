// A Host Server in the fuzz target's own process: all modules, started with
// command-line arguments as the program takes them, serving on network
// threads of its own until the process ends; no log.
#pragma once

#include <algorithm>
#include <thread>

#include <CLI/CLI.hpp>

#include "hostserver/server.h"
#include "hostserver/server_log.h"

namespace fuzz {

// The server and the address its HostMessage listener is bound to.
inline hostserver::Server& start_server(std::vector<std::string> args, hostserver::ServerOptions options,
                                        std::string& bound) {
  std::string error;
  hostserver::open_log({"", true}, error);
  auto modules = hostserver::make_modules();
  CLI::App app;
  for (auto& m : modules) m->add_options(app);
  std::reverse(args.begin(), args.end());  // CLI11 takes them from the back
  app.parse(args);
  options.listen = "127.0.0.1:0";
  auto* server = new hostserver::Server(options, hostserver::Users::demo(), std::move(modules));
  if (!server->start_modules(error) || !server->listen_hostmsg(options.listen, bound, error)) {
    std::fprintf(stderr, "cannot start the server: %s\n", error.c_str());
    std::abort();
  }
  std::thread([server] { server->run(); }).detach();
  return *server;
}

inline int port_of(const std::string& address) { return std::stoi(address.substr(address.rfind(':') + 1)); }

}  // namespace fuzz
