// One client connection.  The session's strand owns the socket: every read
// and write happens there, under one timer that enforces every deadline (to
// log in, to finish a message that has begun, to take a reply, to send the
// next request).  Before the login the strand answers the few requests a
// client may make (version, login) itself; from the login on, requests are
// handled in order on the session's own worker thread, and replies go out
// through a bounded queue.  When too many requests wait for the worker,
// reading pauses until it catches up.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <typeindex>

#include <asio.hpp>

#include "common/frame.h"
#include "hostserver/deadline_timer.h"
#include "hostserver/envelope.h"
#include "hostserver/module.h"

namespace hostserver {

class Server;

class Session : public std::enable_shared_from_this<Session> {
 public:
  using Clock = std::chrono::steady_clock;

  // Values of cancel_target besides a statement id.
  static constexpr int kCancelNone = -1;
  static constexpr int kCancelAll = -2;
  // Message size before the login grants one.
  static constexpr size_t kDefaultMessageSize = 8192;
  // Requests waiting for the worker before reading pauses.
  static constexpr size_t kInboxLimit = 64;
  // Reply bytes not yet taken by the client before the worker waits.
  static constexpr size_t kOutLimit = 1 << 20;
  // The longest frame a client may send (a message is at most 10013 bytes).
  static constexpr uint32_t kMaxFrame = 16384;
  // How long the worker polls for the next request before it sleeps.
  static constexpr std::chrono::microseconds kWorkerSpin{75};

  Session(Server& server, asio::ip::tcp::socket socket, uint64_t id, std::string peer);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void start();
  // From any thread: ends the session (running work is asked to stop); the
  // reason goes to the log.
  void close(std::string_view reason);
  bool closing() const { return closed_.load(); }
  // Set once the session ends (the client went away, the server stops).
  const std::atomic<bool>& closed_flag() const { return closed_; }

  uint64_t id() const { return id_; }
  // "ADDRESS:PORT" of the client, and the address alone.
  const std::string& peer() const { return peer_; }
  const std::string& address() const { return address_; }

  // For handlers, on the worker thread.
  void send(unsigned sub_id, unsigned type, unsigned code, std::string_view data);
  void reply(const Request& r, std::string_view data) { send(r.sub_id, r.type, r.code, data); }
  void reply_error(const Request& r, unsigned index, std::string_view text);
  void reply_errors(const Request& r, const ErrorItems& items);
  size_t message_size() const { return message_size_; }
  size_t max_data() const { return message_size_ - 14; }

  bool logged_in() const { return logged_in_.load(); }
  const std::string& user() const { return user_; }
  // The client asked for long and binary values at the login and the host
  // granted them (common/long_values.h).
  bool long_values() const { return long_values_; }
  // Module clean-up; the session then ends (a link is logged in once).
  void log_out();
  // When the worker last finished a request (or the login).
  Clock::time_point last_request() const { return Clock::time_point(Clock::duration(last_done_.load())); }

  // The earliest deadline of the connection and why (for its timer).
  std::optional<Clock::time_point> next_deadline(std::string& reason) const;

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
  // One request for the worker; problem is set for a frame whose length
  // field lied (answered with an error, never dispatched).
  struct Work {
    Request request;
    std::optional<std::string> problem;
  };

  // Network side, on the strand.
  void read_more();
  void process_frames();
  void on_frame(std::string_view frame);
  void before_login(Request& r);
  void login(Request& r);
  void answer_failed_login(Request r, std::string text);
  void queue(Work work);
  void enqueue_reply(std::string frame);
  void flush_writes();
  void close_after_replies(std::string reason);
  void arm_timer() { deadlines_.arm(shared_from_this()); }
  // Queues a reply under write_mutex_ and has the strand write it.
  void push_reply(std::string frame);
  std::string frame_for(unsigned sub_id, unsigned type, unsigned code, std::string_view data, char& sequence);

  // Worker side.
  void start_worker();
  void worker_main();
  void dispatch(Work& work);

  Server& server_;
  asio::ip::tcp::socket socket_;
  asio::strand<asio::io_context::executor_type> strand_;
  DeadlineTimer deadlines_;
  const uint64_t id_;
  const std::string peer_, address_;
  quarl::frame::Decoder decoder_{kMaxFrame};

  // Strand only.
  Clock::time_point accepted_;
  Clock::time_point frame_started_{};  // the first byte of an incomplete frame
  Clock::time_point write_started_{};  // the write in flight began
  Clock::time_point last_arrival_;
  bool reading_ = false;   // a read is outstanding
  bool paused_ = false;    // frames wait: the inbox is full, or a failed login's answer is delayed
  bool worker_started_ = false;
  unsigned failed_logins_ = 0;
  std::vector<std::string> in_flight_;
  std::optional<std::string> close_when_sent_;

  // Replies: the worker (or the strand before the login) queues them, the
  // strand writes them.  write_mutex_ guards out_, writing_ and out_bytes_.
  std::mutex write_mutex_;
  std::deque<std::string> out_;
  bool writing_ = false;
  size_t out_bytes_ = 0;
  std::condition_variable out_room_;

  // Shared between the network side and the worker.
  mutable std::mutex mutex_;
  std::condition_variable work_ready_;
  std::deque<Work> inbox_;
  std::atomic<bool> closed_{false};
  std::atomic<bool> logged_in_{false};
  std::atomic<bool> worker_busy_{false};
  std::atomic<Clock::rep> last_done_{0};
  bool holds_slot_ = false;  // worker only, after the login

  // Worker only (and the strand before the worker starts).
  char sequence_ = '0';
  size_t message_size_ = kDefaultMessageSize;
  std::string user_;
  bool long_values_ = false;
  std::map<std::type_index, std::unique_ptr<SessionData>> data_;
};

}  // namespace hostserver
