// A blocking TCP stream socket: the transport of the transaction-code calls,
// kept apart from their message layout.
#pragma once

#include <cstddef>
#include <cstdint>
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
  // Up to size bytes in one receive: the count, 0 when the peer closed, -1
  // on an error.
  long receive_some(char* data, size_t size);
  // Exactly size bytes, repeating receives; false when the stream ends or fails first.
  bool receive_exact(char* data, size_t size);
  void close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int error_code_ = 0;
};

}  // namespace quarl::rpc
