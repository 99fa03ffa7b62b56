#include "tellix/tcp_link.h"

#include <algorithm>
#include <array>

#include "common/platform/system.h"

namespace tellix {

TcpLink::TcpLink() : io_(1), socket_(io_) {}

TcpLink::~TcpLink() { close(); }

void TcpLink::close() {
  asio::error_code ec;
  if (socket_.is_open()) {
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    socket_.close(ec);
  }
}

bool TcpLink::wait(asio::socket_base::wait_type w, Clock::time_point deadline) {
  // A wait of the descriptor itself, not of the I/O context: a thread may
  // send (a cancel) while another waits to read.
  for (;;) {
    auto now = Clock::now();
    if (deadline <= now || !socket_.is_open()) return false;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    int slice = ms > 60000 ? 60000 : static_cast<int>(ms);
    if (quarl::platform::wait_socket(socket_.native_handle(), w == asio::socket_base::wait_write, slice)) return true;
  }
}

bool TcpLink::connect(const std::string& host, const std::string& port, Clock::time_point deadline,
                      std::string& why) {
  close();
  asio::error_code ec;
  asio::ip::tcp::resolver resolver(io_);
  auto endpoints = resolver.resolve(host, port, ec);
  if (ec) {
    why = "cannot resolve host name " + host + ": " + ec.message();
    return false;
  }
  why = "no address to connect to";
  for (const auto& entry : endpoints) {
    auto now = Clock::now();
    if (deadline <= now) {
      why = "no answer within the connect time-out";
      break;
    }
    asio::ip::tcp::socket attempt(io_);
    bool done = false;
    asio::error_code result = asio::error::timed_out;
    attempt.async_connect(entry.endpoint(), [&](const asio::error_code& e) {
      done = true;
      result = e;
    });
    io_.restart();
    io_.run_for(deadline - now);
    if (!done) {
      asio::error_code ignored;
      attempt.close(ignored);
      io_.restart();
      io_.run();
      why = "no answer within the connect time-out";
      continue;
    }
    if (result) {
      why = result.message();
      continue;
    }
    socket_ = std::move(attempt);
    socket_.set_option(asio::ip::tcp::no_delay(true), ec);
    socket_.non_blocking(true, ec);
    if (ec) {
      why = ec.message();
      close();
      return false;
    }
    return true;
  }
  return false;
}

TcpLink::Io TcpLink::write_all(const char* a, size_t na, const char* b, size_t nb, Clock::time_point deadline) {
  if (!socket_.is_open()) return Io::Closed;
  size_t total = na + nb, sent = 0;
  while (sent < total) {
    // The unsent rest of both pieces, gathered into one write.
    std::array<asio::const_buffer, 2> buffers{asio::const_buffer(), asio::const_buffer()};
    if (sent < na) buffers[0] = asio::buffer(a + sent, na - sent);
    size_t into_b = sent > na ? sent - na : 0;
    buffers[1] = asio::buffer(b + into_b, nb - into_b);
    asio::error_code ec;
    size_t n = socket_.write_some(buffers, ec);
    sent += n;
    if (!ec) continue;
    if (ec == asio::error::would_block || ec == asio::error::try_again) {
      if (wait(asio::socket_base::wait_write, deadline)) continue;
      if (sent == 0) return Io::Timeout;
      io_error_ = "send stopped half way: time-out";
    } else {
      io_error_ = "send failed: " + ec.message();
    }
    close();
    return Io::Error;
  }
  return Io::Ok;
}

TcpLink::Io TcpLink::read_some(char* out, size_t n, size_t& got, Clock::time_point deadline) {
  got = 0;
  if (!socket_.is_open()) return Io::Closed;
  // A reply that comes within kSpin is polled for (yielding on each turn)
  // rather than slept for: a thread that sleeps leaves its processor idle,
  // and waking an idle processor costs more than most round trips to a
  // host on a local network.  A wait that lasts longer sleeps.  Polling
  // only pays while replies come that quickly: once they keep coming later
  // (a host producing large results, a distant host), reads sleep at once,
  // and poll again from the first reply that comes within kSpin.
  auto waiting_since = Clock::time_point::min();
  auto spin_until = Clock::time_point::min();
  for (;;) {
    asio::error_code ec;
    got = socket_.read_some(asio::buffer(out, n), ec);
    if (!ec) {
      if (waiting_since != Clock::time_point::min()) {
        if (Clock::now() - waiting_since <= kSpin) late_replies_ = 0;
        else if (late_replies_ < kLateRepliesBeforeSleeping) ++late_replies_;
      }
      return Io::Ok;
    }
    if (ec == asio::error::would_block || ec == asio::error::try_again) {
      auto now = Clock::now();
      if (waiting_since == Clock::time_point::min()) {
        waiting_since = now;
        spin_until = late_replies_ >= kLateRepliesBeforeSleeping ? now : std::min(deadline, now + kSpin);
      }
      if (now < spin_until) {
        quarl::platform::yield_thread();
        continue;
      }
      if (wait(asio::socket_base::wait_read, deadline)) continue;
      return Io::Timeout;
    }
    io_error_ = ec == asio::error::eof ? "the host closed the connection" : "receive failed: " + ec.message();
    close();
    return ec == asio::error::eof ? Io::Closed : Io::Error;
  }
}

}  // namespace tellix
