#include "hostserver/session.h"

#include <algorithm>
#include <optional>
#include <thread>

#include "common/long_values.h"
#include "common/platform/socket.h"
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
      last_arrival_(Clock::now().time_since_epoch().count()),
      accepted_(Clock::now()),
      writer_(socket_, strand_, kOutLimit,
              ReplyWriter::Hooks{[this] { arm_timer(); }, [this] { on_drained(); },
                                 [this](std::string reason) { close(reason); }}) {}

Session::~Session() = default;

void Session::start() {
  asio::post(strand_, [self = shared_from_this()] {
    asio::error_code ec;
    self->socket_.set_option(asio::ip::tcp::no_delay(true), ec);
    self->arm_timer();
    self->watch_socket();
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
  server_.leave_waiting(this);
  asio::post(strand_, [self = shared_from_this()] {
    asio::error_code ec;
    self->deadlines_.cancel();
    // Nothing is read or written once the socket goes (its number may be
    // given to another connection).
    std::lock_guard read_lock(self->read_mutex_);
    self->socket_open_ = false;
    self->writer_.close();
    self->socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    self->socket_.close(ec);
  });
}

// ---- reading ----

void Session::watch_socket() {
  if (closed_ || watching_ || paused_ || close_when_sent_ || worker_reads_) return;
  watching_ = true;
  socket_.async_wait(asio::socket_base::wait_read,
                     asio::bind_executor(strand_, [self = shared_from_this()](const asio::error_code& ec) {
                       self->watching_ = false;
                       if (ec) {
                         if (ec != asio::error::operation_aborted) self->close("cannot read: " + ec.message());
                         return;
                       }
                       // A wait from before the worker took over reading.
                       if (self->worker_reads_) return;
                       self->read_input();
                     }));
}

void Session::hand_reading_to_strand() {
  if (!worker_reads_.exchange(false)) return;
  asio::post(strand_, [self = shared_from_this()] { self->watch_socket(); });
}

void Session::working_long() {
  if (!worker_reads_.load(std::memory_order_relaxed)) return;
  // Most requests end within a few hundred microseconds: they keep reading
  // to the worker (the hand-over costs the network thread's wake-up).
  if (Clock::now() - Clock::time_point(Clock::duration(work_started_)) < kShortWork) return;
  hand_reading_to_strand();
}

void Session::read_input() {
  {
    std::unique_lock read_lock(read_mutex_);
    if (receive(read_lock) == Input::Ended) return;
  }
  process_frames();
}

Session::Input Session::receive(std::unique_lock<std::mutex>&) {
  constexpr size_t kChunk = 16384;
  Input input = Input::Nothing;
  while (socket_open_ && !closed_) {
    auto got = quarl::platform::receive_now(socket_.native_handle(), decoder_.write_area(kChunk), kChunk);
    if (got.received > 0) {
      decoder_.commit(got.received);
      input = Input::Frames;
      if (got.received == kChunk) continue;  // there may be more
      return input;
    }
    if (got.would_block) return input;
    close(got.ended ? "closed by the client" : "cannot read: " + got.error);
    return Input::Ended;
  }
  return Input::Ended;
}

void Session::process_frames() {
  bool more;
  {
    std::unique_lock read_lock(read_mutex_);
    more = take_frames(read_lock);
  }
  arm_timer();
  if (more) watch_socket();
}

bool Session::take_frames(std::unique_lock<std::mutex>&) {
  for (;;) {
    if (closed_) return false;
    auto state = decoder_.state();
    if (state == frame::Decoder::State::Broken) {
      close("sent a frame longer than " + std::to_string(kMaxFrame) + " bytes");
      return false;
    }
    if (state != frame::Decoder::State::Ready) break;
    // Frames wait while the worker has enough to do, while a failed login's
    // answer is held back, and while a client that has not logged in leaves
    // its replies unread.
    if (logged_in_) {
      std::lock_guard lock(mutex_);
      if (inbox_.size() >= kInboxLimit) return false;
    } else {
      if (paused_ || close_when_sent_) return false;
      if (writer_.queued_bytes() >= kOutLimitBeforeLogin) {
        waiting_for_replies_ = true;
        drain_wanted_ = true;
        if (writer_.queued_bytes() >= kOutLimitBeforeLogin) return false;
        waiting_for_replies_ = false;  // drained meanwhile
      }
    }
    on_frame(decoder_.front());
    decoder_.pop();
    frame_started_ = 0;
  }
  if (decoder_.buffered() > 0 && frame_started_ == 0) frame_started_ = Clock::now().time_since_epoch().count();
  return true;
}

bool Session::read_while_waiting() {
  worker_reads_ = true;
  std::unique_lock read_lock(read_mutex_, std::try_to_lock);
  if (!read_lock || !logged_in_) return false;
  bool partial = frame_started_ != 0;
  take_frames(read_lock);  // what an earlier read left while the inbox was full
  bool queued;
  {
    std::lock_guard lock(mutex_);
    queued = !inbox_.empty();
  }
  if (!queued && receive(read_lock) == Input::Frames) {
    take_frames(read_lock);
    std::lock_guard lock(mutex_);
    queued = !inbox_.empty();
  }
  // A message that has begun must end in time: the strand's timer watches.
  if (!partial && frame_started_ != 0) asio::post(strand_, [self = shared_from_this()] { self->arm_timer(); });
  return queued;
}

void Session::on_frame(std::string_view bytes) {
  last_arrival_ = Clock::now().time_since_epoch().count();
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
                               char& sequence, std::string_view more) {
  if (data.size() > quarl::hostmsg::kMaxDataLength) data = data.substr(0, quarl::hostmsg::kMaxDataLength);
  more = more.substr(0, quarl::hostmsg::kMaxDataLength - data.size());
  const size_t length = data.size() + more.size();
  std::string f;
  f.reserve(frame::kPrefixSize + quarl::hostmsg::kHeaderSize + length);
  f.append(frame::kPrefixSize + quarl::hostmsg::kHeaderSize, '\0');
  frame::put_length(reinterpret_cast<unsigned char*>(f.data()),
                    static_cast<uint32_t>(quarl::hostmsg::kHeaderSize + length));
  quarl::hostmsg::write_header(f.data() + frame::kPrefixSize,
                               {sequence, sub_id, type, code, static_cast<unsigned>(length)});
  f.append(data).append(more);
  sequence = quarl::hostmsg::next_sequence(sequence);
  return f;
}

// On the strand: never waits for room (before the login the replies are
// small, and reading pauses while they pile up).
void Session::enqueue_reply(std::string f) {
  if (closed_) return;
  writer_.push(std::move(f), false, shared_from_this());
}

void Session::close_after_replies(std::string reason) {
  close_when_sent_ = std::move(reason);
  drain_wanted_ = true;
  if (writer_.queued_bytes() == 0) on_drained();
}

void Session::on_drained() {
  if (!drain_wanted_.load(std::memory_order_relaxed)) return;
  asio::post(strand_, [self = shared_from_this()] {
    if (self->closed_ || self->writer_.queued_bytes() > 0) return;
    self->drain_wanted_ = false;
    if (self->close_when_sent_) {
      self->close(*self->close_when_sent_);
      return;
    }
    if (self->waiting_for_replies_) {
      self->waiting_for_replies_ = false;
      self->process_frames();
    }
  });
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
  if (auto started = frame_started_.load())
    consider(Clock::time_point(Clock::duration(started)) + io,
             "sent part of a message and not the rest within " + seconds_text(o.io_seconds));
  if (auto stalled = writer_.stalled_since())
    consider(*stalled + io, "did not take its replies within " + seconds_text(o.io_seconds));
  if (logged_in_ && o.idle_seconds > 0) {
    bool waiting_for_client;
    {
      std::lock_guard lock(mutex_);
      waiting_for_client = inbox_.empty() && !worker_busy_.load();
    }
    auto idle = std::chrono::seconds(o.idle_seconds);
    if (waiting_for_client)
      consider(std::max(Clock::time_point(Clock::duration(last_arrival_.load())), last_request()) + idle,
               "sent no request for " + seconds_text(o.idle_seconds));
    else
      consider(Clock::now() + idle, "");  // look again later: the worker is busy
  }
  return best;
}

// ---- worker side ----

void Session::send(unsigned sub_id, unsigned type, unsigned code, std::string_view data) {
  push_from_worker(frame_for(sub_id, type, code, data, sequence_));
}

void Session::reply(const Request& r, std::string_view head, std::string_view body) {
  push_from_worker(frame_for(r.sub_id, r.type, r.code, head, sequence_, body));
}

void Session::push_from_worker(std::string frame) {
  batch_bytes_ += frame.size();
  batch_.push_back(std::move(frame));
  if (batch_bytes_ >= kBatchBytes) flush_replies();
}

void Session::flush_replies() {
  if (batch_.empty()) return;
  batch_bytes_ = 0;
  // Bounded: a client that leaves its replies unread past the I/O time is
  // dropped, and closing ends the wait for room.  A worker that is about to
  // wait for room has the strand read meanwhile, so that a cancel, or the
  // client's going, is still seen.
  if (writer_.queued_bytes() >= kOutLimit) hand_reading_to_strand();
  writer_.push(batch_, true, shared_from_this());
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
  // After a request the worker reads the socket for the client's next one
  // for a short while (yielding on each turn) before it sleeps: clients
  // mostly send their next request at once (execute, fetch, close), and a
  // sleeping worker leaves its processor idle, which costs a wake-up to
  // start again.  Reading ahead goes on meanwhile; a request goes first.
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
      work_started_ = Clock::now().time_since_epoch().count();
      dispatch(*work);
      flush_replies();
      last_done_.store(Clock::now().time_since_epoch().count());
      worker_busy_ = false;
      spin_until = Clock::now() + kWorkerSpin;
      continue;
    }
    bool waiting = Clock::now() < spin_until;
    if (waiting && read_while_waiting()) continue;
    if (!waiting) hand_reading_to_strand();  // it sleeps, or works ahead at length
    bool worked = false;
    work_started_ = Clock::now().time_since_epoch().count();
    for (auto& m : server_.modules()) worked = m->idle(*this) || worked;
    if (worked) continue;
    if (waiting) {
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
