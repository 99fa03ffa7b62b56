#include "hostserver/session.h"

#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>

#include "hostserver/server.h"

namespace hostserver {

namespace frame = quarl::frame;

Session::Session(Server& server, asio::ip::tcp::socket socket)
    : server_(server),
      socket_(std::move(socket)),
      strand_(asio::make_strand(server.io())),
      login_timer_(strand_) {}

Session::~Session() = default;

void Session::start() {
  asio::error_code ec;
  socket_.set_option(asio::ip::tcp::no_delay(true), ec);
  auto self = shared_from_this();
  login_timer_.expires_after(std::chrono::seconds(server_.options().login_seconds));
  login_timer_.async_wait([self](const asio::error_code& e) {
    if (!e && !self->logged_in()) self->close();
  });
  std::thread([self]() mutable {
    self->worker_main();
    // The server may go as soon as it hears that the last worker ended, so
    // this thread lets go of the session first.
    Server& server = self->server_;
    Session* gone = self.get();
    self.reset();
    server.session_ended(gone);
  }).detach();
  asio::post(strand_, [self] { self->read_more(); });
}

void Session::close() {
  {
    std::lock_guard lock(mutex_);
    if (closed_.exchange(true)) return;
  }
  cancel_target.store(kCancelAll);
  work_ready_.notify_all();
  { std::lock_guard w(write_mutex_); }  // a worker waiting for room sees closed_
  out_room_.notify_all();
  auto self = shared_from_this();
  asio::post(strand_, [self] {
    asio::error_code ec;
    {
      // Not while the worker writes a reply on the descriptor.
      std::lock_guard w(self->write_mutex_);
      self->socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
      self->socket_.close(ec);
      self->socket_closed_ = true;
    }
    self->login_timer_.cancel();
  });
}

// ---- network side ----

void Session::read_more() {
  if (closed_) return;
  constexpr size_t kChunk = 16384;
  auto self = shared_from_this();
  socket_.async_read_some(asio::buffer(decoder_.write_area(kChunk), kChunk),
                          asio::bind_executor(strand_, [self](const asio::error_code& ec, size_t n) {
                            if (ec) {
                              self->close();
                              return;
                            }
                            self->decoder_.commit(n);
                            for (;;) {
                              auto state = self->decoder_.state();
                              if (state == frame::Decoder::State::Broken) {
                                self->close();  // an oversized or garbled frame
                                return;
                              }
                              if (state != frame::Decoder::State::Ready) break;
                              self->on_frame(self->decoder_.front());
                              self->decoder_.pop();
                              if (self->closed_) return;
                            }
                            self->read_more();
                          }));
}

void Session::on_frame(std::string_view bytes) {
  ParsedFrame parsed = parse_frame(bytes);
  switch (parsed.kind) {
    case FrameKind::Foreign:
      return;  // text for a login script's partner, not for us
    case FrameKind::Malformed:
      close();
      return;
    case FrameKind::BadLength:
    case FrameKind::Request:
      break;
  }
  Request& r = parsed.request;
  if (parsed.kind == FrameKind::BadLength) {
    r.type = 9;  // answered with an error by the worker, never dispatched
    r.data = parsed.problem;
  } else if (const Handler* h = server_.handlers().find(r.type, r.code); h && h->on_arrival) {
    h->on_arrival(*this, r);
  }
  {
    std::lock_guard lock(mutex_);
    if (inbox_.size() < kInboxLimit) {
      inbox_.push_back(std::move(r));
      work_ready_.notify_one();
      return;
    }
  }
  close();  // requests pile up unanswered
}

void Session::flush_writes() {
  std::vector<asio::const_buffer> buffers;
  {
    std::lock_guard w(write_mutex_);
    if (out_.empty() || closed_ || socket_closed_) {
      writing_ = false;  // the worker may write straight again
      return;
    }
    in_flight_.clear();
    while (!out_.empty() && in_flight_.size() < 64) {
      in_flight_.push_back(std::move(out_.front()));
      out_.pop_front();
    }
  }
  buffers.reserve(in_flight_.size());
  for (auto& f : in_flight_) buffers.push_back(asio::buffer(f));
  auto self = shared_from_this();
  asio::async_write(socket_, buffers, asio::bind_executor(strand_, [self](const asio::error_code& ec, size_t n) {
                      {
                        std::lock_guard w(self->write_mutex_);
                        self->out_bytes_ -= n <= self->out_bytes_ ? n : self->out_bytes_;
                      }
                      self->out_room_.notify_all();
                      if (ec) {
                        self->close();
                        return;
                      }
                      self->flush_writes();
                    }));
}

// ---- worker side ----

void Session::send(unsigned sub_id, unsigned type, unsigned code, std::string_view data) {
  if (data.size() > quarl::hostmsg::kMaxDataLength) data = data.substr(0, quarl::hostmsg::kMaxDataLength);
  std::string f(frame::kPrefixSize, '\0');
  f.reserve(frame::kPrefixSize + 14 + data.size());
  f += build_message(sequence_, sub_id, type, code, data);
  frame::put_length(reinterpret_cast<unsigned char*>(f.data()), static_cast<uint32_t>(f.size() - frame::kPrefixSize));
  sequence_ = quarl::hostmsg::next_sequence(sequence_);
  std::unique_lock w(write_mutex_);
  out_room_.wait(w, [&] { return out_bytes_ < kOutLimit || closed_; });
  if (closed_ || socket_closed_) return;
  size_t sent = 0;
  if (!writing_ && out_.empty()) {
    // Nothing ahead of it: straight onto the socket, as far as it takes it now.
    ssize_t n = ::send(socket_.native_handle(), f.data(), f.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n == static_cast<ssize_t>(f.size())) return;
    if (n < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        w.unlock();
        close();
        return;
      }
      n = 0;
    }
    sent = static_cast<size_t>(n);
  }
  out_bytes_ += f.size() - sent;
  out_.push_back(sent ? f.substr(sent) : std::move(f));
  if (!writing_) {
    writing_ = true;
    asio::post(strand_, [self = shared_from_this()] { self->flush_writes(); });
  }
}

void Session::reply_error(const Request& r, unsigned index, std::string_view text) {
  reply(r, error_reply_data(index, text, max_data()));
}

void Session::reply_errors(const Request& r, const ErrorItems& items) {
  reply(r, items.reply_data(kStatusError, max_data()));
}

void Session::log_in(std::string user) {
  user_ = std::move(user);
  logged_in_.store(true);
}

void Session::log_out() {
  for (auto& m : server_.modules()) m->on_logout(*this);
  data_.clear();
  user_.clear();
  logged_in_.store(false);
}

void Session::dispatch(Request& r) {
  if (r.type == 9) {  // a frame whose length field lied
    reply_error(r, kErrGeneral, "Malformed message: " + r.data);
    return;
  }
  const Handler* h = server_.handlers().find(r.type, r.code);
  if (!h) {
    reply_error(r, kErrNotCapable,
                "Unknown request: type " + std::to_string(r.type) + " code " + std::to_string(r.code));
    return;
  }
  if (h->needs_login && !logged_in()) {
    reply_error(r, kErrAuthorization, "Not logged in");
    return;
  }
  try {
    h->run(*this, r);
  } catch (const std::bad_alloc&) {
    reply_error(r, kErrMemory, "Out of memory");
  } catch (const std::exception& e) {
    reply_error(r, kErrGeneral, e.what());
  }
}

void Session::worker_main() {
  using Clock = std::chrono::steady_clock;
  // After a request the worker polls for the client's next one for a short
  // while (yielding on each turn) before it sleeps: clients mostly send
  // their next request at once (execute, fetch, close), and a sleeping
  // worker leaves its processor idle, which costs a wake-up to start again.
  Clock::time_point spin_until{};
  for (;;) {
    std::optional<Request> r;
    {
      std::unique_lock lock(mutex_);
      if (closed_) break;
      if (!inbox_.empty()) {
        r = std::move(inbox_.front());
        inbox_.pop_front();
      }
    }
    if (r) {
      dispatch(*r);
      spin_until = Clock::now() + kWorkerSpin;
      continue;
    }
    bool worked = false;
    if (logged_in())
      for (auto& m : server_.modules()) worked = m->idle(*this) || worked;
    if (worked) continue;
    if (Clock::now() < spin_until) {
      std::this_thread::yield();
      continue;
    }
    std::unique_lock lock(mutex_);
    work_ready_.wait(lock, [&] { return closed_ || !inbox_.empty(); });
  }
  try {
    log_out();
  } catch (...) {
  }
}

}  // namespace hostserver
