// The transaction listener of the Host Server: with --trancode-listen it
// accepts TCP connections that carry transaction requests, one after the
// other on each connection, and answers each from TrancodeService.  Each
// connection is served on a thread of its own, because a transaction blocks
// while its program runs; the number of connections is capped.
#include <sys/socket.h>

#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include <CLI/CLI.hpp>
#include <asio.hpp>

#include "common/trancode.h"
#include "hostserver/module.h"
#include "hostserver/server.h"
#include "hostserver/trancode_service.h"

namespace hostserver {
namespace {

namespace tc = quarl::trancode;

class TrancodeModule : public Module {
 public:
  static constexpr size_t kMaxConnections = 32;

  ~TrancodeModule() override { stop(); }

  const char* name() const override { return "trancode"; }

  void add_options(CLI::App& app) override {
    app.add_option("--trancode-listen", listen_,
                   "HOST:PORT for transaction requests over TCP (port 0 takes a free port; off when not given)");
    app.add_option("--transactions", options_.transactions_dir,
                   "folder of the transaction programs (default: transactions next to this program, else the installed demo programs)");
    app.add_option("--transaction-seconds", seconds_, "time limit of one transaction program")
        ->capture_default_str()
        ->check(CLI::Range(1u, 86400u));
  }

  bool start(Server& server, std::string& error) override {
    if (listen_.empty()) return true;
    options_.time_limit = std::chrono::seconds(seconds_);
    service_ = std::make_unique<TrancodeService>(options_);
    std::string bound;
    if (!server.listen(listen_, [this](asio::ip::tcp::socket socket) { accept(std::move(socket)); }, bound, error))
      return false;
    // Serving starts after the server has announced its main listener;
    // this line follows it.
    asio::post(server.io(), [bound] {
      std::printf("trancode listening on %s\n", bound.c_str());
      std::fflush(stdout);
    });
    return true;
  }

  void stop() override {
    std::list<std::unique_ptr<Connection>> connections;
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      for (auto& c : connections_) shutdown(*c);
      connections.swap(connections_);
    }
    for (auto& c : connections)
      if (c->thread.joinable()) c->thread.join();
  }

 private:
  struct Connection {
    explicit Connection(asio::ip::tcp::socket s) : socket(std::move(s)) {}
    asio::ip::tcp::socket socket;
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  // Wakes the connection's thread from a blocking read (under mutex_, for
  // a connection whose thread has not closed its socket yet).
  static void shutdown(Connection& c) {
    if (!c.finished) ::shutdown(c.socket.native_handle(), SHUT_RDWR);
  }

  void accept(asio::ip::tcp::socket socket) {
    std::lock_guard lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->finished) {
        (*it)->thread.join();
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
    if (stopping_ || connections_.size() >= kMaxConnections) {
      asio::error_code ignored;
      socket.close(ignored);
      return;
    }
    auto connection = std::make_unique<Connection>(std::move(socket));
    Connection* c = connection.get();
    connections_.push_back(std::move(connection));
    c->thread = std::thread([this, c] {
      serve(c->socket);
      std::lock_guard done(mutex_);
      asio::error_code ignored;
      c->socket.close(ignored);
      c->finished = true;
    });
  }

  // Requests one after the other until the client closes, the stream breaks
  // or the server stops.
  void serve(asio::ip::tcp::socket& socket) {
    for (;;) {
      asio::error_code ec;
      char length_field[tc::kLengthWidth];
      asio::read(socket, asio::buffer(length_field), ec);
      if (ec) return;
      auto total = tc::read_length_strict(std::string_view(length_field, sizeof length_field));
      if (!total || *total < tc::kHeaderSize || *total > tc::kTransferSize) {
        // The stream cannot be followed any further: say why and hang up.
        asio::write(socket, asio::buffer(tc::encode_reply("", "*****Invalid request length")), ec);
        return;
      }
      std::string rest(*total - tc::kLengthWidth, '\0');
      asio::read(socket, asio::buffer(rest), ec);
      if (ec) return;
      std::string_view header = std::string_view(rest).substr(0, tc::kReplyHeaderSize);
      std::string data = service_->handle(header, std::string_view(rest).substr(tc::kReplyHeaderSize), &stopping_);
      // The reply header repeats the request's code and names.
      asio::write(socket, asio::buffer(tc::encode_reply(header, data)), ec);
      if (ec) return;
    }
  }

  std::string listen_;
  unsigned seconds_ = 10;
  TrancodeOptions options_;
  std::unique_ptr<TrancodeService> service_;
  std::mutex mutex_;
  std::list<std::unique_ptr<Connection>> connections_;
  std::atomic<bool> stopping_{false};
};

}  // namespace

std::unique_ptr<Module> make_trancode_module() { return std::make_unique<TrancodeModule>(); }

}  // namespace hostserver
