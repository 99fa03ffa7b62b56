#include "hostserver/reply_writer.h"

#include <string_view>
#include <vector>

#include "common/platform/socket.h"

namespace hostserver {

ReplyWriter::ReplyWriter(asio::ip::tcp::socket& socket, Strand& strand, size_t limit, Hooks hooks)
    : socket_(socket), strand_(strand), limit_(limit), hooks_(std::move(hooks)) {}

void ReplyWriter::push(std::string frame, bool may_wait, const std::shared_ptr<void>& keep_alive) {
  std::vector<std::string> frames;
  frames.push_back(std::move(frame));
  push(frames, may_wait, keep_alive);
}

void ReplyWriter::push(std::vector<std::string>& frames, bool may_wait, const std::shared_ptr<void>& keep_alive) {
  std::unique_lock lock(mutex_);
  if (may_wait) room_.wait(lock, [&] { return queued_ < limit_ || closed_; });
  if (closed_) {
    frames.clear();
    return;
  }
  for (auto& frame : frames) {
    queued_ += frame.size();
    queue_.push_back(std::move(frame));
  }
  frames.clear();
  if (sending_) return;  // the one sending now (or the strand, once the socket has room) takes it
  sending_ = true;
  Outcome outcome = send_queued(lock);
  lock.unlock();
  finish(outcome, keep_alive);
}

ReplyWriter::Outcome ReplyWriter::send_queued(std::unique_lock<std::mutex>&) {
  constexpr size_t kBatch = 64;
  while (!queue_.empty()) {
    if (closed_) {
      sending_ = false;
      return Outcome::Pending;
    }
    std::string_view pieces[kBatch];
    size_t n = 0;
    for (auto it = queue_.begin(); it != queue_.end() && n < kBatch; ++it, ++n) pieces[n] = *it;
    pieces[0].remove_prefix(front_sent_);
    auto result = quarl::platform::send_now(socket_.native_handle(), std::span(pieces, n));
    // What the socket took leaves the queue.
    size_t taken = result.sent;
    queued_ -= taken;
    while (taken > 0) {
      size_t rest = queue_.front().size() - front_sent_;
      if (taken < rest) {
        front_sent_ += taken;
        break;
      }
      taken -= rest;
      front_sent_ = 0;
      queue_.pop_front();
    }
    if (result.sent > 0) room_.notify_all();
    if (result.failed) {
      closed_ = true;
      failure_ = "cannot write: " + result.error;
      sending_ = false;
      room_.notify_all();
      return Outcome::Failed;
    }
    if (result.would_block) {
      if (!stalled_since_) stalled_since_ = Clock::now();
      return Outcome::Stalled;  // sending_ stays: the strand goes on
    }
  }
  sending_ = false;
  stalled_since_.reset();
  return Outcome::Drained;
}

void ReplyWriter::finish(Outcome outcome, const std::shared_ptr<void>& keep_alive) {
  switch (outcome) {
    case Outcome::Pending: return;
    case Outcome::Drained:
      if (hooks_.drained) hooks_.drained();
      return;
    case Outcome::Failed:
      if (hooks_.failed) hooks_.failed(failure_);
      return;
    case Outcome::Stalled:
      asio::post(strand_, [this, keep_alive] {
        if (hooks_.stalled) hooks_.stalled();
        wait_for_room(keep_alive);
      });
      return;
  }
}

void ReplyWriter::wait_for_room(const std::shared_ptr<void>& keep_alive) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
  }
  socket_.async_wait(asio::socket_base::wait_write,
                     asio::bind_executor(strand_, [this, keep_alive](const asio::error_code& ec) {
                       std::unique_lock lock(mutex_);
                       if (closed_) return;
                       if (ec) {
                         closed_ = true;
                         sending_ = false;
                         failure_ = "cannot write: " + ec.message();
                         room_.notify_all();
                         lock.unlock();
                         finish(Outcome::Failed, keep_alive);
                         return;
                       }
                       Outcome outcome = send_queued(lock);
                       lock.unlock();
                       finish(outcome, keep_alive);
                     }));
}

size_t ReplyWriter::queued_bytes() const {
  std::lock_guard lock(mutex_);
  return queued_;
}

std::optional<ReplyWriter::Clock::time_point> ReplyWriter::stalled_since() const {
  std::lock_guard lock(mutex_);
  return stalled_since_;
}

void ReplyWriter::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  room_.notify_all();
}

}  // namespace hostserver
