// The write side of a session's socket: the one place where its replies go
// out.  Whoever has a reply (the worker once the client has logged in, the
// strand before) pushes it here.  It goes onto the socket at once, from the
// pushing thread, when nothing waits ahead of it: no hand-over to another
// thread, so a reply costs no thread's wake-up.  What the socket does not
// take waits in the queue, and the strand sends it on when the socket has
// room.  The queue's lock makes one writer at a time, and nothing is written
// once the session has closed the writer (before its socket is closed, so
// that a reply can never reach a socket that the system gave to another
// connection).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <asio.hpp>

namespace hostserver {

class ReplyWriter {
 public:
  using Clock = std::chrono::steady_clock;
  using Strand = asio::strand<asio::io_context::executor_type>;

  // What the session hears from its writer.
  struct Hooks {
    // On the strand, when the socket stops taking bytes: the session's
    // timer then watches stalled_since().
    std::function<void()> stalled;
    // Any thread, without the writer's lock: everything queued has gone out.
    std::function<void()> drained;
    // Any thread, without the writer's lock: the connection broke.
    std::function<void(std::string reason)> failed;
  };

  // limit: queued bytes beyond which a pusher that may wait does so.
  ReplyWriter(asio::ip::tcp::socket& socket, Strand& strand, size_t limit, Hooks hooks);
  ReplyWriter(const ReplyWriter&) = delete;
  ReplyWriter& operator=(const ReplyWriter&) = delete;

  // Queues frame and sends what the socket takes now.  With may_wait the
  // caller first waits while more than the limit is queued (a client that
  // leaves its replies unread is dropped by the session's timer, and
  // closing ends the wait).  keep_alive holds the session while the strand
  // waits for room.
  void push(std::string frame, bool may_wait, const std::shared_ptr<void>& keep_alive);
  // The same for several frames at once (moved out of frames, which is left
  // empty): they go to the socket in one call, so that the client reads
  // them together.
  void push(std::vector<std::string>& frames, bool may_wait, const std::shared_ptr<void>& keep_alive);

  // Bytes queued and not yet taken by the socket.
  size_t queued_bytes() const;
  // Since when the socket has refused bytes that are queued, if it has.
  std::optional<Clock::time_point> stalled_since() const;

  // Writes nothing more; a pusher waiting for room goes on (its reply is
  // dropped).  Called before the socket is closed.
  void close();

 private:
  // Sends what is queued while the socket takes it; under lock.  Returns
  // what to tell the hooks once the lock is gone.
  enum class Outcome { Pending, Drained, Stalled, Failed };
  Outcome send_queued(std::unique_lock<std::mutex>& lock);
  void finish(Outcome outcome, const std::shared_ptr<void>& keep_alive);
  void wait_for_room(const std::shared_ptr<void>& keep_alive);

  asio::ip::tcp::socket& socket_;
  Strand& strand_;
  const size_t limit_;
  Hooks hooks_;

  mutable std::mutex mutex_;
  std::condition_variable room_;
  std::deque<std::string> queue_;
  size_t front_sent_ = 0;  // bytes of the first frame already sent
  size_t queued_ = 0;
  bool sending_ = false;   // a thread sends, or the strand waits for room
  bool closed_ = false;
  std::string failure_;
  std::optional<Clock::time_point> stalled_since_;
};

}  // namespace hostserver
