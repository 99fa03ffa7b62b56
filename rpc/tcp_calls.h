// Transaction-code calls over TCP: the client names a host and port, sets a
// transaction code (and optionally a library and entry point name) and sends
// its buffer as the transaction's input; the reply's data comes back in the
// buffer.  No Host Server conversation and no provider are involved.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "rpc/buffer.h"
#include "rpc/error_text.h"
#include "rpc/tcp_stream.h"

namespace quarl::rpc {

// Host names and port texts beyond these lengths are refused.
inline constexpr size_t kMaxHostName = 251;
inline constexpr size_t kMaxPortDigits = 255;
// The time a transaction's whole reply may take unless quarl.ini says otherwise.
inline constexpr unsigned kDefaultReplySeconds = 300;

class TcpCalls {
 public:
  explicit TcpCalls(ErrorText& error) : error_(error) {}

  Status connect22(Buffer buffer);
  Status disconnect22(Buffer buffer);
  Status trancode22(Buffer buffer);
  Status library_name22(Buffer buffer);
  Status entry_point22(Buffer buffer);
  Status exe_call22(Buffer buffer);

 private:
  ErrorText& error_;
  std::unique_ptr<TcpStream> socket_;  // present = connected
  std::vector<char> transfer_;         // allocated at connect, freed at disconnect
  std::string library_, entry_point_, code_;
  unsigned reply_seconds_ = kDefaultReplySeconds;
};

}  // namespace quarl::rpc
