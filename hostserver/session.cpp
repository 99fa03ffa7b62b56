#include "hostserver/session.h"

#include <algorithm>
#include <optional>
#include <thread>

#include "common/long_values.h"
#include "common/platform/system.h"
#include "hostserver/control.h"
#include "hostserver/server.h"
#include "hostserver/server_log.h"
#include "hostserver/users.h"

namespace hostserver {

namespace frame = quarl::frame;

namespace {

// Reply bytes waiting for a client that has not logged in before its
// requests are no longer read.
constexpr size_t kOutLimitBeforeLogin = 64 << 10;

}  // namespace

Session::Session(Server& server, asio::ip::tcp::socket socket, uint64_t id, std::string peer)
    : server_(server),
      socket_(std::move(socket)),
      strand_(asio::make_strand(server.io())),
      deadlines_(strand_),
      id_(id),
      peer_(std::move(peer)),
      address_(peer_.substr(0, peer_.rfind(':'))),
      accepted_(Clock::now()),
      last_arrival_(accepted_) {}

Session::~Session() = default;

void Session::start() {
  asio::post(strand_, [self = shared_from_this()] {
    asio::error_code ec;
    self->socket_.set_option(asio::ip::tcp::no_delay(true), ec);
    self->arm_timer();
    self->read_more();
  });
}

void Session::close(std::string_view reason) {
  {
    std::lock_guard lock(mutex_);
    if (closed_.exchange(true)) return;
  }
  log_line("close", "#" + std::to_string(id_) + " " + peer_ + " " + std::string(reason));
  cancel_target.store(kCancelAll);
  work_ready_.notify_all();
  { std::lock_guard w(write_mutex_); }  // a worker waiting for room sees closed_
  out_room_.notify_all();
  server_.leave_waiting(this);
  asio::post(strand_, [self = shared_from_this()] {
    asio::error_code ec;
    self->deadlines_.cancel();
    self->socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    self->socket_.close(ec);
  });
}

// ---- network side ----

void Session::read_more() {
  if (closed_ || reading_ || paused_ || close_when_sent_) return;
  constexpr size_t kChunk = 16384;
  reading_ = true;
  socket_.async_read_some(asio::buffer(decoder_.write_area(kChunk), kChunk),
                          asio::bind_executor(strand_, [self = shared_from_this()](const asio::error_code& ec, size_t n) {
                            self->reading_ = false;
                            if (ec) {
                              self->close(ec == asio::error::eof ? "closed by the client"
                                                                 : "cannot read: " + ec.message());
                              return;
                            }
                            self->decoder_.commit(n);
                            self->process_frames();
                          }));
}

void Session::process_frames() {
  for (;;) {
    if (closed_) return;
    auto state = decoder_.state();
    if (state == frame::Decoder::State::Broken) {
      close("sent a frame longer than " + std::to_string(kMaxFrame) + " bytes");
      return;
    }
    if (state != frame::Decoder::State::Ready) break;
    // Frames wait while the worker has enough to do, while a failed login's
    // answer is held back, and while a client that has not logged in leaves
    // its replies unread.
    if (paused_ || close_when_sent_) return;
    if (logged_in_) {
      std::lock_guard lock(mutex_);
      if (inbox_.size() >= kInboxLimit) return;
    } else {
      std::lock_guard w(write_mutex_);
      if (out_bytes_ >= kOutLimitBeforeLogin) return;
    }
    on_frame(decoder_.front());
    decoder_.pop();
    frame_started_ = {};
  }
  if (decoder_.buffered() > 0 && frame_started_ == Clock::time_point{}) frame_started_ = Clock::now();
  arm_timer();
  read_more();
}

void Session::on_frame(std::string_view bytes) {
  last_arrival_ = Clock::now();
  ParsedFrame parsed = parse_frame(bytes);
  switch (parsed.kind) {
    case FrameKind::Foreign:
      return;  // text for a login script's partner, not for us
    case FrameKind::Malformed:
      close("sent a message whose header cannot be read (" + parsed.problem + ")");
      return;
    case FrameKind::BadLength:
      if (!logged_in_) {
        std::string data = error_reply_data(kErrGeneral, "Malformed message: " + parsed.problem, max_data());
        enqueue_reply(frame_for(parsed.request.sub_id, parsed.request.type, parsed.request.code, data, sequence_));
        return;
      }
      queue(Work{std::move(parsed.request), std::move(parsed.problem)});
      return;
    case FrameKind::Request:
      break;
  }
  Request& r = parsed.request;
  if (!logged_in_) {
    before_login(r);
    return;
  }
  if (const Handler* h = server_.handlers().find(r.type, r.code); h && h->on_arrival) h->on_arrival(*this, r);
  queue(Work{std::move(r), std::nullopt});
}

void Session::queue(Work work) {
  std::lock_guard lock(mutex_);
  inbox_.push_back(std::move(work));
  work_ready_.notify_one();
}

void Session::before_login(Request& r) {
  namespace code = quarl::hostmsg::code;
  if (worker_started_) return;  // logged out: the session is ending
  auto answer = [&](std::string data) { enqueue_reply(frame_for(r.sub_id, r.type, r.code, data, sequence_)); };
  if (r.type == quarl::hostmsg::kControl) {
    switch (r.code) {
      case code::kVersion:
        answer(version_reply_data(server_.options().long_values));
        return;
      case code::kLogin:
      case code::kRpcLogin:
        login(r);
        return;
      case code::kLogout:
        close("logged out before logging in");
        return;
      default:
        break;
    }
  }
  answer(error_reply_data(kErrAuthorization, "Not logged in", max_data()));
}

void Session::login(Request& r) {
  auto answer_error = [&](unsigned index, const std::string& text) {
    enqueue_reply(frame_for(r.sub_id, r.type, r.code, error_reply_data(index, text, max_data()), sequence_));
  };
  auto request = parse_login(r.data);
  if (!request) {
    answer_error(kErrAuthorization, "Malformed login request");
    return;
  }
  if (request->asked_size < kMinMessageSize) {
    answer_error(kErrGeneral, "Message size " + std::to_string(request->asked_size) +
                                    " is below the least the host serves (" + std::to_string(kMinMessageSize) + ")");
    return;
  }
  const std::string who_for_log = login_user_for_log(request->text);
  LoginGuard& guard = server_.login_guard();
  auto now = Clock::now();
  if (auto locked = guard.locked_for(address_, now); locked > Clock::duration::zero()) {
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(locked).count() + 1;
    log_line("refuse", "#" + std::to_string(id_) + " " + peer_ + " login of " + who_for_log +
                           ": the address is locked out after failed logins");
    answer_error(kErrAuthorization, "Too many failed logins from " + address_ +
                                          ": logins from this address are refused for " +
                                          std::to_string(seconds) + " more seconds");
    close_after_replies("its address is locked out");
    return;
  }
  LoginText who;
  if (!login_matches(server_.users(), request->text, who)) {
    ++failed_logins_;
    bool locks = guard.record_failure(address_, now);
    log_line("login-failed", "#" + std::to_string(id_) + " " + peer_ + " user " + who_for_log + " (" +
                                 std::to_string(failed_logins_) + " on this connection)");
    if (locks)
      log_line("lockout", address_ + " for " + std::to_string(guard.policy().lockout.count()) +
                              " seconds after " + std::to_string(guard.policy().per_address) + " failed logins");
    // The answer waits, and so does everything the client sends after it.
    paused_ = true;
    auto delay = guard.delay(failed_logins_);
    auto held = std::make_shared<Request>(std::move(r));
    auto waiter = std::make_shared<asio::steady_timer>(strand_, delay);
    waiter->async_wait([self = shared_from_this(), held, waiter](const asio::error_code&) {
      if (self->closed_) return;
      self->enqueue_reply(self->frame_for(held->sub_id, held->type, held->code,
                                          error_reply_data(kErrAuthorization, "Invalid user id or password",
                                                           self->max_data()),
                                          self->sequence_));
      if (self->server_.login_guard().connection_spent(self->failed_logins_)) {
        self->close_after_replies(std::to_string(self->failed_logins_) + " failed logins");
        return;
      }
      self->paused_ = false;
      self->process_frames();
    });
    return;
  }
  if (!server_.take_client_slot()) {
    log_line("refuse", "#" + std::to_string(id_) + " " + peer_ + " login of " + who.user + ": all " +
                           std::to_string(server_.options().max_clients) + " client slots are in use");
    answer_error(kErrUnableToConnect, "Host Server busy: all " + std::to_string(server_.options().max_clients) +
                                          " client slots are in use; try again later");
    close_after_replies("server busy");
    return;
  }
  size_t granted = std::min(request->asked_size, kMaxMessageSize);
  message_size_ = granted;
  user_ = who.user;
  holds_slot_ = true;
  last_done_.store(Clock::now().time_since_epoch().count());
  logged_in_.store(true);
  server_.leave_waiting(this);
  log_line("login", "#" + std::to_string(id_) + " " + peer_ + " user " + user_);
  std::string reply(1, kStatusOk);
  append_digits(reply, 5, granted);
  // Long values only for a client that asked for them, from a host that offers them.
  long_values_ = request->asks_long_values && server_.options().long_values;
  if (long_values_) reply += quarl::longvalues::grant(server_.options().max_value_bytes);
  enqueue_reply(frame_for(r.sub_id, r.type, r.code, reply, sequence_));
  start_worker();
}

std::string Session::frame_for(unsigned sub_id, unsigned type, unsigned code, std::string_view data,
                               char& sequence) {
  if (data.size() > quarl::hostmsg::kMaxDataLength) data = data.substr(0, quarl::hostmsg::kMaxDataLength);
  std::string f(frame::kPrefixSize, '\0');
  f.reserve(frame::kPrefixSize + 14 + data.size());
  f += build_message(sequence, sub_id, type, code, data);
  frame::put_length(reinterpret_cast<unsigned char*>(f.data()), static_cast<uint32_t>(f.size() - frame::kPrefixSize));
  sequence = quarl::hostmsg::next_sequence(sequence);
  return f;
}

// On the strand: queued without waiting (before the login the replies are
// small, and reading pauses while they pile up).
void Session::enqueue_reply(std::string f) {
  std::lock_guard w(write_mutex_);
  push_reply(std::move(f));
}

void Session::push_reply(std::string f) {
  if (closed_) return;
  out_bytes_ += f.size();
  out_.push_back(std::move(f));
  if (!writing_) {
    writing_ = true;
    asio::post(strand_, [self = shared_from_this()] { self->flush_writes(); });
  }
}

void Session::close_after_replies(std::string reason) {
  close_when_sent_ = std::move(reason);
  bool idle;
  {
    std::lock_guard w(write_mutex_);
    idle = !writing_;
    if (idle) writing_ = true;
  }
  if (idle) flush_writes();
}

void Session::flush_writes() {
  std::vector<asio::const_buffer> buffers;
  {
    std::lock_guard w(write_mutex_);
    if (out_.empty() || closed_) {
      writing_ = false;
      write_started_ = {};
      if (close_when_sent_ && !closed_) {
        std::string reason = *close_when_sent_;
        asio::post(strand_, [self = shared_from_this(), reason] { self->close(reason); });
      }
      return;
    }
    in_flight_.clear();
    while (!out_.empty() && in_flight_.size() < 64) {
      in_flight_.push_back(std::move(out_.front()));
      out_.pop_front();
    }
  }
  write_started_ = Clock::now();
  arm_timer();
  buffers.reserve(in_flight_.size());
  for (auto& f : in_flight_) buffers.push_back(asio::buffer(f));
  asio::async_write(socket_, buffers,
                    asio::bind_executor(strand_, [self = shared_from_this()](const asio::error_code& ec, size_t n) {
                      {
                        std::lock_guard w(self->write_mutex_);
                        self->out_bytes_ -= std::min(n, self->out_bytes_);
                      }
                      self->out_room_.notify_all();
                      if (ec) {
                        self->close("cannot write: " + ec.message());
                        return;
                      }
                      self->flush_writes();
                      if (!self->logged_in_ && !self->reading_) self->process_frames();
                    }));
}

std::optional<Session::Clock::time_point> Session::next_deadline(std::string& reason) const {
  const ServerOptions& o = server_.options();
  std::optional<Clock::time_point> best;
  auto consider = [&](Clock::time_point at, std::string why) {
    if (!best || at < *best) {
      best = at;
      reason = std::move(why);
    }
  };
  auto io = std::chrono::seconds(o.io_seconds);
  if (!logged_in_) consider(accepted_ + std::chrono::seconds(o.login_seconds), "did not log in within " + seconds_text(o.login_seconds));
  if (frame_started_ != Clock::time_point{})
    consider(frame_started_ + io, "sent part of a message and not the rest within " + seconds_text(o.io_seconds));
  if (write_started_ != Clock::time_point{})
    consider(write_started_ + io, "did not take its replies within " + seconds_text(o.io_seconds));
  if (logged_in_ && o.idle_seconds > 0) {
    bool waiting_for_client;
    {
      std::lock_guard lock(mutex_);
      waiting_for_client = inbox_.empty() && !worker_busy_.load();
    }
    auto idle = std::chrono::seconds(o.idle_seconds);
    if (waiting_for_client)
      consider(std::max(last_arrival_, last_request()) + idle, "sent no request for " + seconds_text(o.idle_seconds));
    else
      consider(Clock::now() + idle, "");  // look again later: the worker is busy
  }
  return best;
}

// ---- worker side ----

void Session::send(unsigned sub_id, unsigned type, unsigned code, std::string_view data) {
  std::string f = frame_for(sub_id, type, code, data, sequence_);
  std::unique_lock w(write_mutex_);
  // Bounded: a client that leaves its replies unread past the I/O time is
  // dropped, and closing wakes this wait.
  out_room_.wait(w, [&] { return out_bytes_ < kOutLimit || closed_; });
  push_reply(std::move(f));
}

void Session::reply_error(const Request& r, unsigned index, std::string_view text) {
  reply(r, error_reply_data(index, text, max_data()));
}

void Session::reply_errors(const Request& r, const ErrorItems& items) {
  reply(r, items.reply_data(kStatusError, max_data()));
}

void Session::log_out() {
  for (auto& m : server_.modules()) m->on_logout(*this);
  data_.clear();
  logged_in_.store(false);
  if (holds_slot_) {
    holds_slot_ = false;
    server_.release_client_slot();
  }
}

void Session::start_worker() {
  worker_started_ = true;
  server_.worker_started();
  std::thread([self = shared_from_this()]() mutable {
    self->worker_main();
    // The server may go as soon as it hears that the last worker ended, so
    // this thread lets go of the session first.
    Server& server = self->server_;
    self.reset();
    server.worker_ended();
  }).detach();
}

void Session::dispatch(Work& work) {
  Request& r = work.request;
  if (work.problem) {  // a frame whose length field lied
    reply_error(r, kErrGeneral, "Malformed message: " + *work.problem);
    return;
  }
  const Handler* h = server_.handlers().find(r.type, r.code);
  if (!h) {
    reply_error(r, kErrNotCapable,
                "Unknown request: type " + std::to_string(r.type) + " code " + std::to_string(r.code));
    return;
  }
  try {
    h->run(*this, r);
  } catch (const std::bad_alloc&) {
    reply_error(r, kErrMemory, "Out of memory");
  } catch (const std::exception& e) {
    log_line("error", "#" + std::to_string(id_) + " " + peer_ + " request type " + std::to_string(r.type) +
                          " code " + std::to_string(r.code) + ": " + e.what());
    reply_error(r, kErrGeneral, e.what());
  }
}

void Session::worker_main() {
  // After a request the worker polls for the client's next one for a short
  // while (yielding on each turn) before it sleeps: clients mostly send
  // their next request at once (execute, fetch, close), and a sleeping
  // worker leaves its processor idle, which costs a wake-up to start again.
  Clock::time_point spin_until{};
  for (;;) {
    std::optional<Work> work;
    bool was_full = false;
    {
      std::unique_lock lock(mutex_);
      if (closed_) break;
      if (!inbox_.empty()) {
        was_full = inbox_.size() >= kInboxLimit;
        work = std::move(inbox_.front());
        inbox_.pop_front();
        worker_busy_ = true;
      }
    }
    if (work) {
      // Reading paused while the inbox was full: there is room again.
      if (was_full) asio::post(strand_, [self = shared_from_this()] { self->process_frames(); });
      dispatch(*work);
      last_done_.store(Clock::now().time_since_epoch().count());
      worker_busy_ = false;
      spin_until = Clock::now() + kWorkerSpin;
      continue;
    }
    bool worked = false;
    for (auto& m : server_.modules()) worked = m->idle(*this) || worked;
    if (worked) continue;
    if (Clock::now() < spin_until) {
      quarl::platform::yield_thread();
      continue;
    }
    auto wake = Clock::time_point::max();
    for (auto& m : server_.modules()) wake = std::min(wake, m->wake_at(*this));
    std::unique_lock lock(mutex_);
    auto ready = [&] { return closed_ || !inbox_.empty(); };
    if (wake == Clock::time_point::max()) work_ready_.wait(lock, ready);
    else work_ready_.wait_until(lock, wake, ready);
  }
  try {
    log_out();
  } catch (...) {
  }
}

}  // namespace hostserver
