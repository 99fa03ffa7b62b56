// The Host Server: listeners, the network threads and the table of sessions.
// Connections that have not logged in yet are few and short-lived: when
// their table is full, the oldest one from the address that holds the most
// is dropped for the newcomer, so that nobody can keep the others out by
// opening connections.  Logged-in clients have slots of their own; when all
// are taken a login is refused with a message that says the server is busy.
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

#include "hostserver/login_guard.h"
#include "hostserver/module.h"
#include "hostserver/users.h"

namespace hostserver {

// The largest value limit: SQLite stores no string or blob above 10^9 bytes.
inline constexpr unsigned kMaxValueMb = 900;

struct ServerOptions {
  std::string listen = "127.0.0.1:7021";
  std::string users_file;
  unsigned max_clients = 256;   // logged-in clients at once
  unsigned max_waiting = 64;    // connections not logged in yet
  unsigned login_seconds = 10;  // to log in after connecting
  unsigned idle_seconds = 1800; // a logged-in client without a request this long is dropped (0: never)
  unsigned io_seconds = 30;     // a message (or a reply) may take this long to cross the network
  LoginPolicy login;
  // Symbolic links in the procedures and transactions folders may lead to
  // programs outside them.
  bool allow_links_out = false;
  unsigned network_threads = 2;
  // Long and binary values are offered to clients that ask (common/long_values.h).
  bool long_values = true;
  // The longest text or blob a client may store or build, in bytes.
  uint64_t max_value_bytes = uint64_t{16} << 20;
};

// "HOST:PORT" into its parts; a missing host is the loopback address.
bool split_address(const std::string& address, std::string& host, std::string& port);

class Session;

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
  LoginGuard& login_guard() { return login_guard_; }
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
  static constexpr std::chrono::microseconds kNetworkSpin{0};
  // Closes listeners and sessions and waits (a while) for the workers.
  void stop();
  bool stopping() const { return stopping_flag_.load(); }

  // Whether every session's worker has ended (after stop()).
  bool sessions_ended();

  // Session bookkeeping, called by sessions.
  // A logged-in slot; false when all are taken (or the server stops).
  bool take_client_slot();
  void release_client_slot();
  // The session has logged in or gone: it no longer waits in the table.
  void leave_waiting(Session* session);
  // A worker thread starts and ends (the server waits for them at stop).
  void worker_started();
  void worker_ended();

 private:
  void accept_hostmsg(asio::ip::tcp::socket socket);
  void run_network();

  ServerOptions options_;
  Users users_;
  std::vector<std::unique_ptr<Module>> modules_;
  HandlerTable handlers_;
  LoginGuard login_guard_;
  asio::io_context io_;
  asio::signal_set signals_;
  std::vector<std::unique_ptr<asio::ip::tcp::acceptor>> acceptors_;
  std::vector<std::shared_ptr<std::function<void()>>> accept_loops_;
  std::vector<std::thread> threads_;

  std::mutex mutex_;
  std::condition_variable sessions_gone_;
  // Every session (for stop), and those still waiting to log in, oldest first.
  std::list<std::weak_ptr<Session>> sessions_;
  struct Waiting {
    std::weak_ptr<Session> session;
    Session* key;
    std::string address;
  };
  std::list<Waiting> waiting_;
  unsigned clients_ = 0;  // logged-in slots taken
  unsigned workers_ = 0;  // worker threads running
  uint64_t next_id_ = 1;
  bool stopping_ = false;
  std::atomic<bool> stopping_flag_{false};
  bool stop_requested_ = false;
  std::condition_variable stop_wanted_;
};

}  // namespace hostserver
