// The Host Server: listeners, the network threads and the sessions.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <asio.hpp>

#include "hostserver/module.h"
#include "hostserver/users.h"

namespace hostserver {

struct ServerOptions {
  std::string listen = "127.0.0.1:7021";
  std::string users_file;
  unsigned max_clients = 256;
  // A client that has not logged in after this long is dropped.
  unsigned login_seconds = 60;
  unsigned network_threads = 2;
};

class Server {
 public:
  Server(ServerOptions options, Users users, std::vector<std::unique_ptr<Module>> modules);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  const ServerOptions& options() const { return options_; }
  const Users& users() const { return users_; }
  const HandlerTable& handlers() const { return handlers_; }
  const std::vector<std::unique_ptr<Module>>& modules() const { return modules_; }
  asio::io_context& io() { return io_; }

  // Registers the modules' handlers and starts them.
  bool start_modules(std::string& error);

  // Listens on "HOST:PORT" (port 0 takes a free one) and hands each accepted
  // socket to on_accept on a network thread; bound receives "HOST:PORT" as
  // bound.  The HostMessage listener is listen_hostmsg().
  bool listen(const std::string& address, std::function<void(asio::ip::tcp::socket)> on_accept,
              std::string& bound, std::string& error);
  bool listen_hostmsg(const std::string& address, std::string& bound, std::string& error);

  // Serves until SIGINT, SIGTERM or request_stop(); then stops everything.
  void run();
  void request_stop();
  // How long a network thread polls for the next event before it sleeps.
  static constexpr std::chrono::microseconds kNetworkSpin{75};
  // Closes listeners and sessions and waits (a while) for the workers.
  void stop();

  // Whether every session's worker has ended (after stop()).
  bool sessions_ended();

  // Session bookkeeping (Session calls these; session_ended() only once the
  // caller holds no reference to the session any more).
  bool admit();
  void session_started(const std::shared_ptr<class Session>& session);
  void session_ended(class Session* session);

 private:
  void run_network();

  ServerOptions options_;
  Users users_;
  std::vector<std::unique_ptr<Module>> modules_;
  HandlerTable handlers_;
  asio::io_context io_;
  asio::signal_set signals_;
  std::vector<std::unique_ptr<asio::ip::tcp::acceptor>> acceptors_;
  std::vector<std::shared_ptr<std::function<void()>>> accept_loops_;
  std::vector<std::thread> threads_;

  std::mutex mutex_;
  std::condition_variable sessions_gone_;
  std::list<std::weak_ptr<class Session>> sessions_;
  unsigned live_sessions_ = 0;
  bool stopping_ = false;
  bool stop_requested_ = false;
  std::condition_variable stop_wanted_;
};

}  // namespace hostserver
