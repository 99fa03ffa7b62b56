// Sending and receiving on a connected socket without waiting, for a
// server that moves its bytes from whichever thread is at hand (the caller
// keeps one writer and one reader at a time per socket).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace quarl::platform {

// A connected socket as the system knows it (asio's native_handle()).
using SocketHandle = int;

struct SendResult {
  size_t sent = 0;           // bytes the socket took, from the start of the pieces
  bool would_block = false;  // the socket's buffer is full: send the rest when it has room
  bool failed = false;       // the connection is broken; error says why
  std::string error;
};

// Sends as much of the pieces, in order, as the socket takes now.  A peer
// that has gone makes it fail, never raises a signal.
SendResult send_now(SocketHandle socket, std::span<const std::string_view> pieces);

struct ReceiveResult {
  size_t received = 0;       // bytes read into the buffer
  bool would_block = false;  // nothing is waiting to be read
  bool ended = false;        // the peer closed its side
  bool failed = false;       // the connection is broken; error says why
  std::string error;
};

// Reads what the socket holds now, at most size bytes, without waiting.
ReceiveResult receive_now(SocketHandle socket, char* out, size_t size);

}  // namespace quarl::platform
