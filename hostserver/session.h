// One client connection.  Its strand answers the few requests a client may
// make before it logs in (version, login) and keeps one timer for every
// deadline (to log in, to finish a message that has begun, to take a reply,
// to send the next request).  From the login on, requests are handled in
// order on the session's own worker thread.
//
// The socket has one reader and one writer at a time.  Replies go out
// through the reply writer (reply_writer.h), straight from the thread that
// has them.  Requests are read under the read lock: by the strand when the
// socket has bytes, and by the worker itself while it waits for the next
// request (a client mostly sends it at once), so that a request reaches the
// worker without a hand-over between threads.  While the worker runs a
// request the strand reads, so that a cancel, or the client's going, is seen
// at once.  When too many requests wait for the worker, reading pauses until
// it catches up.
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
#include <vector>

#include <asio.hpp>

#include "common/frame.h"
#include "hostserver/deadline_timer.h"
#include "hostserver/envelope.h"
#include "hostserver/module.h"
#include "hostserver/reply_writer.h"

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
  // Work on the worker that runs longer has the strand read the socket
  // meanwhile (working_long()).
  static constexpr std::chrono::microseconds kShortWork{500};

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
  // A reply whose data are head followed by body (one copy into the frame).
  void reply(const Request& r, std::string_view head, std::string_view body);
  void reply_error(const Request& r, unsigned index, std::string_view text);
  void reply_errors(const Request& r, const ErrorItems& items);
  size_t message_size() const { return message_size_; }
  size_t max_data() const { return message_size_ - 14; }

  // The request running on the worker may take a while (called from the
  // paths that may: SQL work, programs): from now on the strand reads the
  // socket, so that a cancel, or the client's going, is seen at once.
  // Cheap to call again.
  void working_long();

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

  // Reading.  On the strand: watches the socket, reads when it has bytes,
  // and takes the frames in.
  void watch_socket();
  void read_input();
  void process_frames();
  // Under read_mutex_ (the strand, or the worker once logged in).
  enum class Input { Frames, Nothing, Ended };
  Input receive(std::unique_lock<std::mutex>& read_lock);
  // False when reading must pause (the inbox is full; before the login: a
  // failed login's answer is held back, or replies wait to go out).
  bool take_frames(std::unique_lock<std::mutex>& read_lock);
  void on_frame(std::string_view frame);
  // The worker, waiting for a request: reads and takes in what came, unless
  // the strand is reading this moment.  True when a request was queued.
  bool read_while_waiting();
  // The worker stops reading the socket and the strand takes over.
  void hand_reading_to_strand();

  // On the strand.
  void before_login(Request& r);
  void login(Request& r);
  void answer_failed_login(Request r, std::string text);
  void queue(Work work);
  // A reply of the strand (before the login): never waits for room.
  void enqueue_reply(std::string frame);
  void close_after_replies(std::string reason);
  // Every queued reply has gone out (any thread).
  void on_drained();
  void arm_timer() { deadlines_.arm(shared_from_this()); }
  std::string frame_for(unsigned sub_id, unsigned type, unsigned code, std::string_view data, char& sequence,
                        std::string_view more = {});

  // Worker side.  The replies of one request are collected and go out
  // together when it ends (or when they pass kBatchBytes): a fetch's two
  // messages reach the client in one piece, a single reply at once.
  static constexpr size_t kBatchBytes = 64 << 10;
  void push_from_worker(std::string frame);
  void flush_replies();
  void start_worker();
  void worker_main();
  void dispatch(Work& work);

  Server& server_;
  asio::ip::tcp::socket socket_;
  asio::strand<asio::io_context::executor_type> strand_;
  DeadlineTimer deadlines_;
  const uint64_t id_;
  const std::string peer_, address_;

  // The read side: whoever holds read_mutex_ reads the socket and takes the
  // frames in (the strand; the worker while it waits).
  std::mutex read_mutex_;
  quarl::frame::Decoder decoder_{kMaxFrame};
  bool socket_open_ = true;  // false once the strand closes the socket
  // The worker reads the socket itself: while it waits for a request, and
  // through the requests that stay short.  The strand does not watch the
  // socket meanwhile.
  std::atomic<bool> worker_reads_{false};
  // When the worker's current piece of work (a request, a block read ahead) began.
  Clock::rep work_started_ = 0;
  // Read by the timer without the lock.
  std::atomic<Clock::rep> frame_started_{0};  // the first byte of an incomplete frame (0: none)
  std::atomic<Clock::rep> last_arrival_;

  // Strand only.
  Clock::time_point accepted_;
  bool watching_ = false;  // a wait for bytes is outstanding
  bool paused_ = false;    // frames wait: the inbox is full, or a failed login's answer is delayed
  bool worker_started_ = false;
  unsigned failed_logins_ = 0;
  std::optional<std::string> close_when_sent_;
  // Frames wait until the replies before the login have gone out.
  bool waiting_for_replies_ = false;

  ReplyWriter writer_;
  // Set while the strand wants to hear that the writer drained (a close
  // after the replies, or frames held back for unsent replies).
  std::atomic<bool> drain_wanted_{false};

  // Shared between the network side and the worker.
  mutable std::mutex mutex_;
  std::condition_variable work_ready_;
  std::deque<Work> inbox_;
  std::atomic<bool> closed_{false};
  std::atomic<bool> logged_in_{false};
  std::atomic<bool> worker_busy_{false};
  std::atomic<Clock::rep> last_done_{0};
  bool holds_slot_ = false;  // worker only, after the login
  std::vector<std::string> batch_;  // worker only: replies of the running request
  size_t batch_bytes_ = 0;

  // Worker only (and the strand before the worker starts).
  char sequence_ = '0';
  size_t message_size_ = kDefaultMessageSize;
  std::string user_;
  bool long_values_ = false;
  std::map<std::type_index, std::unique_ptr<SessionData>> data_;
};

}  // namespace hostserver
