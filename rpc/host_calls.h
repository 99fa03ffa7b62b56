// Host procedure calls: a conversation with the Host Server through a
// communications provider, opened for an ODBC data source, in which the
// client calls entry points of host libraries (and coroutine libraries) with
// its buffer as the parameter area.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "hostlink/host_channel.h"
#include "hostlink/provider_link.h"
#include "rpc/buffer.h"
#include "rpc/error_text.h"

namespace quarl::rpc {

// The host conversation.  One request and its reply at a time, on the
// caller's thread; every failure leaves its message in error().
class CommInt {
 public:
  CommInt() = default;
  CommInt(const CommInt&) = delete;
  CommInt& operator=(const CommInt&) = delete;
  // An open conversation is neither closed nor logged off: the session is
  // destroyed only when the process ends, when the provider may be gone.
  ~CommInt();

  // Opens the provider connection, checks the host's protocol version and
  // logs in.  The password comes in its stored (scrambled) form.  An open
  // conversation is closed first; a failure leaves it closed.
  Status open(const std::string& provider, const std::string& connection, const std::string& user,
              const std::string& stored_password);
  // Drops the provider connection (the host gets no logout message).
  Status close();
  // Sends a procedure call (or a coroutine call) with the first `trimmed`
  // bytes of the `full`-byte area, and puts the procedure's answer into the
  // area, blank padded.
  Status call(std::string_view library, std::string_view entry_point, char* area, size_t trimmed, size_t full,
              bool coroutine);

  bool is_open() const { return open_; }
  const std::string& error() const { return error_; }
  // The message size in use (header included) and the data room of one message.
  size_t message_size() const { return channel_.message_size(); }
  size_t data_capacity() const { return channel_.max_data_length(); }
  // The host's version numbers; the last is its protocol version.
  const uint32_t* host_version() const { return host_version_; }

 private:
  Status fail(std::string message);
  // Closes the provider connection after a failed step of open().
  Status fail_open(std::string message);

  // Heap-held so that the destructor can leave an open connection alone.
  std::unique_ptr<hostlink::ProviderLink> link_ = std::make_unique<hostlink::ProviderLink>();
  hostlink::HostChannel channel_;
  bool open_ = false;
  std::string error_;
  uint32_t host_version_[3] = {0, 0, 0};
};

// The operations of the exports Connect, Disconnect, LibraryName,
// EntryPoint, CoRoutineName, ExeCall and CorCall.
class HostCalls {
 public:
  explicit HostCalls(ErrorText& error) : error_(error) {}

  Status connect(Buffer buffer);  // items: data source name, user id, password
  Status disconnect(Buffer buffer);
  Status library_name(Buffer buffer);
  Status entry_point(Buffer buffer);
  Status co_routine_name(Buffer buffer);
  Status exe_call(Buffer buffer);  // the buffer is the parameter area
  Status cor_call(Buffer buffer);

  const std::string& library() const { return library_; }
  const std::string& entry() const { return entry_; }
  const std::string& coroutine() const { return coroutine_; }
  CommInt& conversation() { return comm_; }

 private:
  Status call(std::string_view library, std::string_view entry_point, Buffer buffer, bool coroutine);
  Status reported(Status status);

  ErrorText& error_;
  // The names keep the case they were given in; calls send them upper-cased.
  std::string library_ = "OBJECT/DEC/RPC1";
  std::string entry_ = "PROC1";
  std::string coroutine_ = "OBJECT/DEC/COR";
  CommInt comm_;
};

}  // namespace quarl::rpc
