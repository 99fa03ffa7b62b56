// One TCP connection with time-outs on every wait: the socket side of the
// "TCP/IP" provider.  Framing lives elsewhere (common/frame.h).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include <asio.hpp>

namespace tellix {

class TcpLink {
 public:
  enum class Io { Ok, Timeout, Closed, Error };
  using Clock = std::chrono::steady_clock;

  TcpLink();
  ~TcpLink();
  TcpLink(const TcpLink&) = delete;
  TcpLink& operator=(const TcpLink&) = delete;

  // Resolves host and port and connects to the first address that answers
  // before the deadline.  On failure why holds the system's reason.
  bool connect(const std::string& host, const std::string& port, Clock::time_point deadline, std::string& why);

  // Writes both pieces whole.  Timeout means nothing was written before the
  // deadline; a write that stops half way is an Error (the stream would be
  // out of step) and closes the link.
  Io write_all(const char* a, size_t na, const char* b, size_t nb, Clock::time_point deadline);

  // How long a read polls for the first byte before it sleeps, and how many
  // replies in a row must come later than that before reads sleep at once.
  static constexpr std::chrono::microseconds kSpin{75};
  static constexpr int kLateRepliesBeforeSleeping = 2;

  // Reads what is available (at most n bytes), waiting until the deadline
  // for the first byte.  A deadline in the past polls.
  Io read_some(char* out, size_t n, size_t& got, Clock::time_point deadline);

  // The system's reason for the last Error of a read or write.
  const std::string& io_error() const { return io_error_; }

  bool is_open() const { return socket_.is_open(); }
  void close();

 private:
  // Waits until the socket is ready for w or the deadline passes.
  bool wait(asio::socket_base::wait_type w, Clock::time_point deadline);

  asio::io_context io_;
  asio::ip::tcp::socket socket_;
  std::string io_error_;
  int late_replies_ = 0;  // waits in a row that outlasted kSpin
};

}  // namespace tellix
