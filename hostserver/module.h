// How the Host Server is put together: modules register message handlers
// by type and code, may add command-line options, may start listeners of
// their own, and may keep per-session state.  A new kind of request is a
// module in its own file plus one line in modules.cpp.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hostserver/envelope.h"

namespace CLI {
class App;
}

namespace hostserver {

class Server;
class Session;

// Handlers serve logged-in clients (before the login the session itself
// answers the version and login requests and refuses everything else).
struct Handler {
  // Runs on the session's worker thread, in arrival order.
  std::function<void(Session&, Request&)> run;
  // Runs on the network thread as soon as the request arrives, before it
  // is queued (for requests that must act on work already running).
  std::function<void(Session&, const Request&)> on_arrival;
};

class HandlerTable {
 public:
  void add(unsigned type, unsigned code, Handler handler);
  // A handler with nothing to do on arrival.
  void add(unsigned type, unsigned code, std::function<void(Session&, Request&)> run) {
    add(type, code, Handler{std::move(run), nullptr});
  }
  const Handler* find(unsigned type, unsigned code) const;

 private:
  std::vector<std::pair<unsigned, Handler>> handlers_;  // key = type * 1000 + code
};

class Module {
 public:
  virtual ~Module() = default;
  virtual const char* name() const = 0;
  // Command-line options; values are read after parsing.
  virtual void add_options(CLI::App&) {}
  // After the options are parsed and before clients are served: prepare
  // resources, start listeners.  False (with error) stops the server.
  virtual bool start(Server&, std::string& /*error*/) { return true; }
  virtual void register_handlers(HandlerTable&) {}
  // On the worker thread when a session logs out or ends.
  virtual void on_logout(Session&) {}
  // On the worker thread while no request waits: work ahead.  True when
  // something was done (the worker then checks for requests and asks again).
  virtual bool idle(Session&) { return false; }
  // When idle() has something to do next without a request (a time limit
  // to enforce): the worker wakes then.
  virtual std::chrono::steady_clock::time_point wake_at(Session&) {
    return std::chrono::steady_clock::time_point::max();
  }
  virtual void stop() {}
};

// All modules of the server (modules.cpp).
std::vector<std::unique_ptr<Module>> make_modules();

// State a module keeps per session; lives until the session ends.
class SessionData {
 public:
  virtual ~SessionData() = default;
};

}  // namespace hostserver
