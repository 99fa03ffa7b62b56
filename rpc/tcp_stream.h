// A blocking TCP stream socket: the transport of the transaction-code calls,
// kept apart from their message layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <chrono>
#include <memory>
#include <string>

namespace quarl::rpc {

class TcpStream {
 public:
  enum class Connect { Ok, CannotCreate, CannotConnect };

  TcpStream();
  ~TcpStream();
  TcpStream(const TcpStream&) = delete;
  TcpStream& operator=(const TcpStream&) = delete;

  // Resolves host (a name or a dotted address) and connects to the first of
  // its addresses that answers.  On failure error_code() is the system's code.
  Connect connect(const std::string& host, uint16_t port);
  int error_code() const { return error_code_; }

  // Sends all bytes; false on failure.  A peer that is gone raises no signal.
  bool send(const char* data, size_t size);
  // Every receive waits until the deadline at most.
  using Clock = std::chrono::steady_clock;
  // Up to size bytes in one receive: the count, 0 when the peer closed, -1
  // on an error, kTimedOut when nothing came before the deadline.
  static constexpr long kTimedOut = -2;
  long receive_some(char* data, size_t size, Clock::time_point deadline);
  // Exactly size bytes, repeating receives: the count, 0 when the stream
  // ends or fails first, kTimedOut when the deadline passes first.
  long receive_exact(char* data, size_t size, Clock::time_point deadline);
  void close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int error_code_ = 0;
};

}  // namespace quarl::rpc
