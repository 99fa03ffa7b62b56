#include "hostserver/server.h"

#include <csignal>

#include "hostserver/session.h"

namespace hostserver {
namespace {

bool split_address(const std::string& address, std::string& host, std::string& port) {
  size_t colon = address.rfind(':');
  if (colon == std::string::npos || colon + 1 == address.size()) return false;
  host = address.substr(0, colon);
  port = address.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty()) host = "0.0.0.0";
  for (char c : port)
    if (c < '0' || c > '9') return false;
  return port.size() <= 5 && std::stoul(port) <= 65535;
}

}  // namespace

Server::Server(ServerOptions options, Users users, std::vector<std::unique_ptr<Module>> modules)
    : options_(std::move(options)), users_(std::move(users)), modules_(std::move(modules)), signals_(io_) {}

Server::~Server() {
  stop();
  for (auto& t : threads_)
    if (t.joinable()) t.join();
}

bool Server::start_modules(std::string& error) {
  for (auto& m : modules_) m->register_handlers(handlers_);
  for (auto& m : modules_)
    if (!m->start(*this, error)) return false;
  return true;
}

bool Server::listen(const std::string& address, std::function<void(asio::ip::tcp::socket)> on_accept,
                    std::string& bound, std::string& error) {
  std::string host, port;
  if (!split_address(address, host, port)) {
    error = "listen address must be HOST:PORT, not '" + address + "'";
    return false;
  }
  asio::error_code ec;
  asio::ip::tcp::resolver resolver(io_);
  auto results = resolver.resolve(host, port, asio::ip::tcp::resolver::passive, ec);
  if (ec || results.empty()) {
    error = "cannot resolve " + address + ": " + ec.message();
    return false;
  }
  auto endpoint = results.begin()->endpoint();
  auto acceptor = std::make_unique<asio::ip::tcp::acceptor>(io_);
  acceptor->open(endpoint.protocol(), ec);
  if (!ec) acceptor->set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor->bind(endpoint, ec);
  if (!ec) acceptor->listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    error = "cannot listen on " + address + ": " + ec.message();
    return false;
  }
  auto local = acceptor->local_endpoint(ec);
  std::string shown = local.address().to_string();
  if (local.address().is_v6()) shown = "[" + shown + "]";
  bound = shown + ":" + std::to_string(local.port());

  auto* a = acceptor.get();
  auto accept_next = std::make_shared<std::function<void()>>();
  *accept_next = [this, a, on_accept = std::move(on_accept), accept_next_weak =
                                                                 std::weak_ptr<std::function<void()>>(accept_next)] {
    a->async_accept([this, a, &on_accept, accept_next_weak](const asio::error_code& e, asio::ip::tcp::socket s) {
      if (e == asio::error::operation_aborted || !a->is_open()) return;
      if (!e) on_accept(std::move(s));
      if (auto next = accept_next_weak.lock()) (*next)();
    });
  };
  accept_loops_.push_back(accept_next);
  acceptors_.push_back(std::move(acceptor));
  asio::post(io_, [accept_next] { (*accept_next)(); });
  return true;
}

bool Server::listen_hostmsg(const std::string& address, std::string& bound, std::string& error) {
  return listen(
      address,
      [this](asio::ip::tcp::socket socket) {
        if (!admit()) {
          asio::error_code ec;
          socket.close(ec);  // too many clients
          return;
        }
        auto session = std::make_shared<Session>(*this, std::move(socket));
        session_started(session);
        session->start();
      },
      bound, error);
}

bool Server::admit() {
  std::lock_guard lock(mutex_);
  if (stopping_ || live_sessions_ >= options_.max_clients) return false;
  ++live_sessions_;
  return true;
}

void Server::session_started(const std::shared_ptr<Session>& session) {
  std::lock_guard lock(mutex_);
  for (auto it = sessions_.begin(); it != sessions_.end();)
    it = it->expired() ? sessions_.erase(it) : std::next(it);
  sessions_.push_back(session);
}

void Server::session_ended(Session*) {
  std::lock_guard lock(mutex_);
  if (live_sessions_ > 0) --live_sessions_;
  sessions_gone_.notify_all();
}

bool Server::sessions_ended() {
  std::lock_guard lock(mutex_);
  return live_sessions_ == 0;
}

void Server::run() {
  signals_.add(SIGINT);
  signals_.add(SIGTERM);
  signals_.async_wait([this](const asio::error_code& ec, int) {
    if (ec) return;
    std::lock_guard lock(mutex_);
    stop_requested_ = true;
    stop_wanted_.notify_all();
  });
  unsigned n = options_.network_threads ? options_.network_threads : 1;
  for (unsigned i = 0; i < n; ++i) threads_.emplace_back([this] { run_network(); });
  {
    std::unique_lock lock(mutex_);
    stop_wanted_.wait(lock, [&] { return stop_requested_ || stopping_; });
  }
  stop();
  for (auto& t : threads_)
    if (t.joinable()) t.join();
  threads_.clear();
}

void Server::run_network() {
  using Clock = std::chrono::steady_clock;
  // After handling an event a network thread polls for the next one for a
  // short while (yielding on each turn) before it sleeps: a client's next
  // request mostly follows at once, and waking a sleeping thread on an idle
  // processor costs more than the round trip itself.
  Clock::time_point spin_until{};
  while (!io_.stopped()) {
    if (io_.poll_one() > 0) {
      spin_until = Clock::now() + kNetworkSpin;
      continue;
    }
    if (Clock::now() < spin_until) {
      std::this_thread::yield();
      continue;
    }
    if (io_.run_one() == 0) break;  // stopped, or no work left
    spin_until = Clock::now() + kNetworkSpin;
  }
}

void Server::request_stop() {
  std::lock_guard lock(mutex_);
  stop_requested_ = true;
  stop_wanted_.notify_all();
}

void Server::stop() {
  std::vector<std::shared_ptr<Session>> open;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    stop_wanted_.notify_all();
    for (auto& w : sessions_)
      if (auto s = w.lock()) open.push_back(std::move(s));
  }
  asio::post(io_, [this] {
    asio::error_code ec;
    for (auto& a : acceptors_) a->close(ec);
    signals_.cancel(ec);
  });
  for (auto& s : open) s->close();
  open.clear();
  {
    // Workers stop at their next step; a statement in SQLite is interrupted.
    std::unique_lock lock(mutex_);
    sessions_gone_.wait_for(lock, std::chrono::seconds(10), [&] { return live_sessions_ == 0; });
  }
  for (auto& m : modules_) m->stop();
  io_.stop();
}

}  // namespace hostserver
