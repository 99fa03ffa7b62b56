#include "hostserver/server.h"

#include <csignal>
#include <map>

#include "hostserver/server_log.h"
#include "hostserver/session.h"

namespace hostserver {

bool split_address(const std::string& address, std::string& host, std::string& port) {
  size_t colon = address.rfind(':');
  if (address.size() >= 2 && address.front() == '[' && address.back() == ']') colon = std::string::npos;
  host = colon == std::string::npos ? std::string() : address.substr(0, colon);
  port = colon == std::string::npos ? address : address.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  // Nobody else can reach a server that was not told where to listen.
  if (host.empty()) host = "127.0.0.1";
  if (port.empty() || port.size() > 5) return false;
  for (char c : port)
    if (c < '0' || c > '9') return false;
  return std::stoul(port) <= 65535;
}

Server::Server(ServerOptions options, Users users, std::vector<std::unique_ptr<Module>> modules)
    : options_(std::move(options)),
      users_(std::move(users)),
      modules_(std::move(modules)),
      login_guard_(options_.login),
      signals_(io_) {}

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
  auto retry = std::make_shared<asio::steady_timer>(io_);
  auto accept_next = std::make_shared<std::function<void()>>();
  *accept_next = [a, retry, on_accept = std::move(on_accept),
                  accept_next_weak = std::weak_ptr<std::function<void()>>(accept_next)] {
    a->async_accept([a, retry, &on_accept, accept_next_weak](const asio::error_code& e, asio::ip::tcp::socket s) {
      if (e == asio::error::operation_aborted || !a->is_open()) return;
      auto next = accept_next_weak.lock();
      if (!next) return;
      if (!e) {
        on_accept(std::move(s));
        (*next)();
        return;
      }
      // Out of descriptors, typically: try again shortly rather than spin.
      log_line("error", "cannot accept a connection: " + e.message());
      retry->expires_after(std::chrono::milliseconds(100));
      retry->async_wait([next](const asio::error_code& ec) {
        if (!ec) (*next)();
      });
    });
  };
  accept_loops_.push_back(accept_next);
  acceptors_.push_back(std::move(acceptor));
  asio::post(io_, [accept_next] { (*accept_next)(); });
  return true;
}

bool Server::listen_hostmsg(const std::string& address, std::string& bound, std::string& error) {
  return listen(address, [this](asio::ip::tcp::socket socket) { accept_hostmsg(std::move(socket)); }, bound, error);
}

void Server::accept_hostmsg(asio::ip::tcp::socket socket) {
  asio::error_code ec;
  auto remote = socket.remote_endpoint(ec);
  if (ec) return;  // gone already
  std::string address = remote.address().to_string();
  std::string peer = (remote.address().is_v6() ? "[" + address + "]" : address) + ":" + std::to_string(remote.port());
  std::shared_ptr<Session> session, evicted;
  size_t waiting = 0;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    for (auto it = sessions_.begin(); it != sessions_.end();)
      it = it->expired() ? sessions_.erase(it) : std::next(it);
    for (auto it = waiting_.begin(); it != waiting_.end();) {
      auto s = it->session.lock();
      it = !s || s->closing() ? waiting_.erase(it) : std::next(it);
    }
    if (waiting_.size() >= std::max(1u, options_.max_waiting)) {
      // Make room: the oldest connection of the address that has the most
      // waiting (an address that opens many only ever drops its own).
      std::map<std::string, size_t> per_address;
      for (auto& w : waiting_) ++per_address[w.address];
      ++per_address[address];
      size_t most = 0;
      for (auto& [a, n] : per_address) most = std::max(most, n);
      auto victim = waiting_.begin();
      while (victim != waiting_.end() && per_address[victim->address] != most) ++victim;
      if (victim == waiting_.end()) victim = waiting_.begin();
      evicted = victim->session.lock();
      waiting_.erase(victim);
      waiting = waiting_.size() + 1;
    }
    session = std::make_shared<Session>(*this, std::move(socket), next_id_++, peer);
    sessions_.push_back(session);
    waiting_.push_back({session, session.get(), address});
  }
  log_line("connect", "#" + std::to_string(session->id()) + " " + peer);
  if (evicted)
    evicted->close("dropped for a newer connection: " + std::to_string(waiting) +
                   " connections were waiting to log in");
  session->start();
}

void Server::leave_waiting(Session* session) {
  std::lock_guard lock(mutex_);
  for (auto it = waiting_.begin(); it != waiting_.end(); ++it)
    if (it->key == session) {
      waiting_.erase(it);
      return;
    }
}

bool Server::take_client_slot() {
  std::lock_guard lock(mutex_);
  if (stopping_ || clients_ >= options_.max_clients) return false;
  ++clients_;
  return true;
}

void Server::release_client_slot() {
  std::lock_guard lock(mutex_);
  if (clients_ > 0) --clients_;
}

void Server::worker_started() {
  std::lock_guard lock(mutex_);
  ++workers_;
}

void Server::worker_ended() {
  std::lock_guard lock(mutex_);
  if (workers_ > 0) --workers_;
  sessions_gone_.notify_all();
}

bool Server::sessions_ended() {
  std::lock_guard lock(mutex_);
  return workers_ == 0;
}

void Server::run() {
  signals_.add(SIGINT);
  signals_.add(SIGTERM);
  signals_.async_wait([this](const asio::error_code& ec, int signal) {
    if (ec) return;
    log_line("shutdown", signal == SIGINT ? "on SIGINT" : "on SIGTERM");
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
    stopping_flag_ = true;
    stop_wanted_.notify_all();
    for (auto& w : sessions_)
      if (auto s = w.lock()) open.push_back(std::move(s));
  }
  asio::post(io_, [this] {
    asio::error_code ec;
    for (auto& a : acceptors_) a->close(ec);
    signals_.cancel(ec);
  });
  for (auto& s : open) s->close("the server stops");
  open.clear();
  bool ended;
  {
    // Workers stop at their next step; a statement in SQLite is interrupted.
    std::unique_lock lock(mutex_);
    ended = sessions_gone_.wait_for(lock, std::chrono::seconds(10), [&] { return workers_ == 0; });
  }
  for (auto& m : modules_) m->stop();
  io_.stop();
  log_line("stop", ended ? "all sessions ended" : "a session's work did not stop within 10 seconds");
}

}  // namespace hostserver
