// The transaction listener of the Host Server: with --trancode-listen it
// accepts TCP connections that carry transaction requests, one after the
// other on each connection.  Each connection's strand owns its socket and
// one timer: a request must arrive whole within the I/O time once it has
// begun, a reply must be taken within it, and a connection that sends
// nothing for the idle time is dropped.  A program runs on a thread of its
// own while the strand watches the socket: when the client goes away the
// program is stopped.  Connections are bounded: when all are taken, the one
// idle longest makes room; when every one is busy, the newcomer's request is
// answered with a failure that says so.
#include "hostserver/transactions.h"

#include <condition_variable>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include <CLI/CLI.hpp>
#include <asio.hpp>

#include "common/text.h"
#include "common/trancode.h"
#include "hostserver/deadline_timer.h"
#include "hostserver/module.h"
#include "hostserver/server.h"
#include "hostserver/server_log.h"

namespace hostserver {

namespace tc = quarl::trancode;

std::string answer_transaction(const ProgramFolder& folder, std::string_view header, std::string_view data,
                               const std::atomic<bool>* cancel) {
  auto failure = [](std::string_view message) { return std::string(tc::kFailureMarker) + std::string(message); };
  tc::RequestNames names = tc::decode_request_names(header);
  std::string code = quarl::to_upper(names.code);
  if (!ProgramFolder::valid_part(code)) return failure("Invalid transaction code " + names.code);
  if (names.library.find('\0') != std::string::npos || names.entry_point.find('\0') != std::string::npos)
    return failure("Invalid library or entry point name");
  auto found = folder.find(code);
  if (found.lookup == ProgramFolder::Lookup::Missing) return failure("Unknown transaction code " + code);
  if (found.lookup == ProgramFolder::Lookup::LeadsOutside)
    return failure("Transaction " + code +
                   " is a link that leads outside the transactions folder; the host does not run it");
  ProgramFolder::Call call;
  call.program = found.program;
  call.shown = code;
  call.env = {"QUARL_TRANCODE=" + code, "QUARL_LIBRARY=" + names.library, "QUARL_ENTRY_POINT=" + names.entry_point};
  call.input = std::string(data);
  auto answer = folder.run(call, cancel);
  return answer.ok ? std::move(answer.output) : failure(answer.message);
}

namespace {

using Clock = std::chrono::steady_clock;

class TrancodeModule;

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  enum class State { Idle, Receiving, Running, Writing };

  Connection(TrancodeModule& owner, asio::ip::tcp::socket socket, uint64_t id, std::string peer, bool busy_only);
  void start();
  void close(const std::string& reason);  // any thread

  uint64_t id() const { return id_; }
  bool busy_only() const { return busy_only_; }
  bool closing() const { return closed_.load(); }
  // The deadline of the state the connection is in, and why (for its timer).
  std::optional<Clock::time_point> next_deadline(std::string& reason) const;
  // Idle since when (for making room), or nullopt while working.
  std::optional<Clock::time_point> idle_since() const {
    if (closed_ || state_.load() != State::Idle) return std::nullopt;
    return Clock::time_point(Clock::duration(idle_since_.load()));
  }

 private:
  void read_more();
  void take_request();
  void run(std::string request);
  void write(std::string reply, bool then_close);
  void arm_timer() { deadlines_.arm(shared_from_this()); }

  TrancodeModule& owner_;
  asio::ip::tcp::socket socket_;
  asio::strand<asio::any_io_executor> strand_;
  DeadlineTimer deadlines_;
  const uint64_t id_;
  const std::string peer_;
  const bool busy_only_;

  std::atomic<State> state_{State::Idle};
  std::atomic<Clock::rep> idle_since_;
  std::atomic<bool> closed_{false};
  std::atomic<bool> cancel_{false};  // the running program stops

  // Strand only.
  std::string in_;  // bytes received and not yet taken as a request
  bool reading_ = false;
  Clock::time_point first_byte_{};
  Clock::time_point write_started_{};
  char chunk_[16384];
};

class TrancodeModule : public Module {
 public:
  ~TrancodeModule() override { stop(); }

  const char* name() const override { return "trancode"; }

  void add_options(CLI::App& app) override {
    app.add_option("--trancode-listen", listen_,
                   "HOST:PORT for transaction requests over TCP (port 0 takes a free port; without a host, the "
                   "loopback address; off when not given)");
    app.add_option("--transactions", options_.dir,
                   "folder of the transaction programs (default: transactions next to this program, else the "
                   "installed demo programs)");
    app.add_option("--transaction-seconds", seconds_, "time limit of one transaction program")
        ->capture_default_str()
        ->check(CLI::Range(1u, 86400u));
    app.add_option("--trancode-clients", max_connections_, "transaction connections served at once")
        ->capture_default_str()
        ->check(CLI::Range(1u, 10000u));
  }

  bool start(Server& server, std::string& error) override {
    if (listen_.empty()) return true;
    server_ = &server;
    options_.time_limit = std::chrono::seconds(seconds_);
    // The client's transfer buffer takes at most this much reply data.
    options_.max_output = tc::kTransferSize;
    options_.allow_links_out = server.options().allow_links_out;
    folder_ = std::make_unique<ProgramFolder>("Transaction", "transactions", options_);
    std::string bound;
    if (!server.listen(listen_, [this](asio::ip::tcp::socket socket) { accept(std::move(socket)); }, bound, error))
      return false;
    // Serving starts after the server has announced its main listener;
    // this line follows it.
    asio::post(server.io(), [bound] {
      log_line("start", "transaction listener on " + bound);
      std::printf("trancode listening on %s\n", bound.c_str());
      std::fflush(stdout);
    });
    return true;
  }

  void stop() override {
    std::list<std::weak_ptr<Connection>> connections;
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      connections = connections_;
    }
    for (auto& w : connections)
      if (auto c = w.lock()) c->close("the server stops");
    std::unique_lock lock(mutex_);
    // Running programs are stopped; their threads end soon after.
    running_done_.wait_for(lock, std::chrono::seconds(10), [&] { return running_ == 0; });
  }

  const ProgramFolder& folder() const { return *folder_; }
  const ServerOptions& server_options() const { return server_->options(); }
  size_t max_connections() const { return max_connections_; }

  // A program thread starts and ends.
  bool program_started() {
    std::lock_guard lock(mutex_);
    if (stopping_) return false;
    ++running_;
    return true;
  }
  void program_ended() {
    std::lock_guard lock(mutex_);
    --running_;
    running_done_.notify_all();
  }

 private:
  // Busy-only connections (answered with a refusal) at most.
  static constexpr size_t kMaxBusyOnly = 8;

  void accept(asio::ip::tcp::socket socket) {
    asio::error_code ec;
    auto remote = socket.remote_endpoint(ec);
    if (ec) return;
    std::string peer = remote.address().to_string() + ":" + std::to_string(remote.port());
    std::shared_ptr<Connection> connection, evicted;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      size_t serving = 0, busy_only = 0;
      std::shared_ptr<Connection> longest_idle;
      Clock::time_point oldest = Clock::time_point::max();
      for (auto it = connections_.begin(); it != connections_.end();) {
        auto c = it->lock();
        if (!c || c->closing()) {
          it = connections_.erase(it);
          continue;
        }
        ++(c->busy_only() ? busy_only : serving);
        if (auto since = c->idle_since(); since && *since < oldest) {
          oldest = *since;
          longest_idle = c;
        }
        ++it;
      }
      bool refuse = false;
      if (serving >= max_connections_) {
        if (longest_idle) {
          evicted = longest_idle;
        } else if (busy_only < kMaxBusyOnly) {
          refuse = true;
        } else {
          log_line("refuse", "transaction connection from " + peer + ": all connections are running programs");
          socket.close(ec);
          return;
        }
      }
      connection = std::make_shared<Connection>(*this, std::move(socket), next_id_++, peer, refuse);
      connections_.push_back(connection);
    }
    if (evicted)
      evicted->close("dropped for a newer connection: all " + std::to_string(max_connections_) +
                     " transaction connections were taken");
    log_line("connect", "transaction #T" + std::to_string(connection->id()) + " " + peer);
    connection->start();
  }

  std::string listen_;
  unsigned seconds_ = 10;
  unsigned max_connections_ = 32;
  ProgramFolderOptions options_;
  std::unique_ptr<ProgramFolder> folder_;
  Server* server_ = nullptr;
  std::mutex mutex_;
  std::condition_variable running_done_;
  std::list<std::weak_ptr<Connection>> connections_;
  unsigned running_ = 0;
  uint64_t next_id_ = 1;
  bool stopping_ = false;
};

Connection::Connection(TrancodeModule& owner, asio::ip::tcp::socket socket, uint64_t id, std::string peer,
                       bool busy_only)
    : owner_(owner),
      socket_(std::move(socket)),
      strand_(asio::make_strand(socket_.get_executor())),
      deadlines_(strand_),
      id_(id),
      peer_(std::move(peer)),
      busy_only_(busy_only),
      idle_since_(Clock::now().time_since_epoch().count()) {}

void Connection::start() {
  asio::post(strand_, [self = shared_from_this()] {
    self->arm_timer();
    self->read_more();
  });
}

void Connection::close(const std::string& reason) {
  if (closed_.exchange(true)) return;
  cancel_ = true;
  log_line("close", "transaction #T" + std::to_string(id_) + " " + peer_ + " " + reason);
  asio::post(strand_, [self = shared_from_this()] {
    asio::error_code ec;
    self->deadlines_.cancel();
    self->socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    self->socket_.close(ec);
  });
}

void Connection::read_more() {
  // While a program runs the socket is still read: its end stops the program.
  // Bytes of a next request wait, up to the largest request.
  if (closed_ || reading_ || in_.size() >= tc::kTransferSize) return;
  reading_ = true;
  socket_.async_read_some(asio::buffer(chunk_), asio::bind_executor(strand_, [self = shared_from_this()](
                                                                                 const asio::error_code& ec, size_t n) {
    self->reading_ = false;
    if (ec) {
      self->close(ec == asio::error::eof ? (self->state_ == State::Running ? "closed by the client; its program is stopped"
                                                                           : "closed by the client")
                                         : "cannot read: " + ec.message());
      return;
    }
    self->in_.append(self->chunk_, n);
    if (self->state_ == State::Idle || self->state_ == State::Receiving) self->take_request();
    self->read_more();
  }));
}

void Connection::take_request() {
  if (closed_) return;
  if (in_.empty()) {
    state_ = State::Idle;
    idle_since_ = Clock::now().time_since_epoch().count();
    first_byte_ = {};
    arm_timer();
    return;
  }
  if (state_ != State::Receiving) first_byte_ = Clock::now();
  state_ = State::Receiving;
  if (in_.size() >= tc::kLengthWidth) {
    auto total = tc::read_length_strict(std::string_view(in_).substr(0, tc::kLengthWidth));
    if (!total || *total < tc::kHeaderSize || *total > tc::kTransferSize) {
      // The stream cannot be followed any further: say why and hang up.
      in_.clear();
      write(tc::encode_reply("", "*****Invalid request length"), true);
      return;
    }
    if (in_.size() >= *total) {
      std::string request = in_.substr(0, *total);
      in_.erase(0, *total);
      run(std::move(request));
      return;
    }
  }
  arm_timer();
}

void Connection::run(std::string request) {
  state_ = State::Running;
  first_byte_ = {};
  if (busy_only_) {
    std::string header = request.substr(tc::kLengthWidth, tc::kReplyHeaderSize);
    write(tc::encode_reply(header, "*****Host busy: all " + std::to_string(owner_.max_connections()) +
                                       " transaction connections are running programs; try again later"),
          true);
    return;
  }
  if (!owner_.program_started()) {
    close("the server stops");
    return;
  }
  std::thread([self = shared_from_this(), request = std::move(request)] {
    std::string_view header = std::string_view(request).substr(tc::kLengthWidth, tc::kReplyHeaderSize);
    std::string data =
        answer_transaction(self->owner_.folder(), header, std::string_view(request).substr(tc::kHeaderSize),
                           &self->cancel_);
    // The reply header repeats the request's code and names.
    std::string reply = tc::encode_reply(header, data);
    asio::post(self->strand_, [self, reply = std::move(reply)]() mutable { self->write(std::move(reply), false); });
    self->owner_.program_ended();
  }).detach();
}

void Connection::write(std::string reply, bool then_close) {
  if (closed_) return;
  state_ = State::Writing;
  write_started_ = Clock::now();
  arm_timer();
  auto buffer = std::make_shared<std::string>(std::move(reply));
  asio::async_write(socket_, asio::buffer(*buffer),
                    asio::bind_executor(strand_, [self = shared_from_this(), buffer, then_close](
                                                     const asio::error_code& ec, size_t) {
                      self->write_started_ = {};
                      if (ec) {
                        self->close("cannot write: " + ec.message());
                        return;
                      }
                      if (then_close) {
                        self->close(self->busy_only_ ? "refused: all connections busy" : "sent a bad request");
                        return;
                      }
                      self->state_ = State::Idle;
                      self->take_request();
                      self->read_more();
                    }));
}

std::optional<Clock::time_point> Connection::next_deadline(std::string& reason) const {
  const ServerOptions& o = owner_.server_options();
  auto io = std::chrono::seconds(o.io_seconds);
  switch (state_.load()) {
    case State::Idle:
      if (o.idle_seconds == 0) return std::nullopt;
      reason = "sent no request for " + seconds_text(o.idle_seconds);
      return Clock::time_point(Clock::duration(idle_since_.load())) + std::chrono::seconds(o.idle_seconds);
    case State::Receiving:
      reason = "sent part of a request and not the rest within " + seconds_text(o.io_seconds);
      return first_byte_ + io;
    case State::Writing:
      reason = "did not take its reply within " + seconds_text(o.io_seconds);
      return write_started_ + io;
    case State::Running:
      return std::nullopt;  // the program's own time limit bounds it
  }
  return std::nullopt;
}

}  // namespace

std::unique_ptr<Module> make_trancode_module() { return std::make_unique<TrancodeModule>(); }

}  // namespace hostserver
