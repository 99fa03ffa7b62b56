#include "common/platform/socket.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstring>

namespace quarl::platform {

SendResult send_now(SocketHandle socket, std::span<const std::string_view> pieces) {
  constexpr size_t kMaxPieces = 64;
  SendResult result;
  size_t piece = 0, offset = 0;  // the first byte not yet sent
  while (piece < pieces.size()) {
    iovec vec[kMaxPieces];
    size_t n = 0;
    for (size_t i = piece; i < pieces.size() && n < kMaxPieces; ++i, ++n) {
      size_t skip = i == piece ? offset : 0;
      vec[n].iov_base = const_cast<char*>(pieces[i].data() + skip);
      vec[n].iov_len = pieces[i].size() - skip;
    }
    msghdr message{};
    message.msg_iov = vec;
    message.msg_iovlen = n;
    ssize_t sent = ::sendmsg(socket, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        result.would_block = true;
      } else {
        result.failed = true;
        result.error = std::strerror(errno);
      }
      return result;
    }
    result.sent += static_cast<size_t>(sent);
    for (auto left = static_cast<size_t>(sent); left > 0 && piece < pieces.size();) {
      size_t rest = pieces[piece].size() - offset;
      if (left < rest) {
        offset += left;
        left = 0;
      } else {
        left -= rest;
        ++piece;
        offset = 0;
      }
    }
    while (piece < pieces.size() && pieces[piece].size() == offset) ++piece, offset = 0;  // empty pieces
  }
  return result;
}

ReceiveResult receive_now(SocketHandle socket, char* out, size_t size) {
  ReceiveResult result;
  for (;;) {
    ssize_t n = ::recv(socket, out, size, MSG_DONTWAIT);
    if (n > 0) {
      result.received = static_cast<size_t>(n);
    } else if (n == 0) {
      result.ended = true;
    } else if (errno == EINTR) {
      continue;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      result.would_block = true;
    } else {
      result.failed = true;
      result.error = std::strerror(errno);
    }
    return result;
  }
}

}  // namespace quarl::platform
