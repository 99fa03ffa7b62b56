// One client connection: frames in on the network threads, requests handled
// in order on the session's own worker thread, replies out through a queue.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <typeindex>

#include <asio.hpp>

#include "common/frame.h"
#include "hostserver/envelope.h"
#include "hostserver/module.h"

namespace hostserver {

class Server;

class Session : public std::enable_shared_from_this<Session> {
 public:
  // Values of cancel_target besides a statement id.
  static constexpr int kCancelNone = -1;
  static constexpr int kCancelAll = -2;
  // Message size before the login grants one.
  static constexpr size_t kDefaultMessageSize = 8192;
  // Requests waiting for the worker; a client that sends more without
  // reading replies is dropped.
  static constexpr size_t kInboxLimit = 64;
  // Reply bytes not yet taken by the client before the worker waits.
  static constexpr size_t kOutLimit = 1 << 20;
  // How long the worker polls for the next request before it sleeps.
  static constexpr std::chrono::microseconds kWorkerSpin{75};

  Session(Server& server, asio::ip::tcp::socket socket);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void start();
  // From any thread: ends the session (running work is asked to stop).
  void close();
  bool closing() const { return closed_.load(); }

  // For handlers, on the worker thread.
  void send(unsigned sub_id, unsigned type, unsigned code, std::string_view data);
  void reply(const Request& r, std::string_view data) { send(r.sub_id, r.type, r.code, data); }
  void reply_error(const Request& r, unsigned index, std::string_view text);
  void reply_errors(const Request& r, const ErrorItems& items);
  size_t message_size() const { return message_size_; }
  size_t max_data() const { return message_size_ - 14; }
  void set_message_size(size_t size) { message_size_ = size; }

  bool logged_in() const { return logged_in_.load(); }
  const std::string& user() const { return user_; }
  void log_in(std::string user);
  // Module clean-up, then back to the state before the login.
  void log_out();

  template <typename T>
  T& data() {
    auto& slot = data_[std::type_index(typeid(T))];
    if (!slot) slot = std::make_unique<T>();
    return static_cast<T&>(*slot);
  }
  template <typename T>
  T* find_data() {
    auto it = data_.find(std::type_index(typeid(T)));
    return it == data_.end() ? nullptr : static_cast<T*>(it->second.get());
  }

  Server& server() { return server_; }
  // The statement whose running work should stop (set on the network thread
  // when a cancel arrives, kCancelAll when the session ends).
  std::atomic<int> cancel_target{kCancelNone};

 private:
  void read_more();
  void on_frame(std::string_view frame);
  void flush_writes();
  void worker_main();
  void dispatch(Request& r);

  Server& server_;
  asio::ip::tcp::socket socket_;
  asio::strand<asio::io_context::executor_type> strand_;
  asio::steady_timer login_timer_;
  quarl::frame::Decoder decoder_;

  // Replies.  The worker writes a reply straight to the socket when nothing
  // is waiting to go out (no hand-over to a network thread, which costs a
  // wake-up on each round trip); what does not go at once waits in out_ and
  // the strand writes it.  write_mutex_ guards out_, writing_, out_bytes_ and
  // the socket's descriptor against its closing.
  std::mutex write_mutex_;
  std::deque<std::string> out_;
  std::vector<std::string> in_flight_;  // strand only
  bool writing_ = false;                // the strand is writing; out_ goes after it
  bool socket_closed_ = false;
  size_t out_bytes_ = 0;
  std::condition_variable out_room_;

  // Shared between the network side and the worker.
  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::deque<Request> inbox_;
  std::atomic<bool> closed_{false};
  std::atomic<bool> logged_in_{false};

  // Worker only.
  char sequence_ = '0';
  size_t message_size_ = kDefaultMessageSize;
  std::string user_;
  std::map<std::type_index, std::unique_ptr<SessionData>> data_;
};

}  // namespace hostserver
