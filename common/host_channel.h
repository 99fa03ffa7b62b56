// A provider connection reached through the communications shell, and the
// HostMessage exchange over it.  The driver and the RPC library both talk to
// the Host Server through these; each reports failures in its own words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tellix/tellix.h"

namespace quarl {

// The steps of opening a provider connection, in order.
enum class ProviderStep { None, Find, Load, Open, Connect };

class ProviderLink {
 public:
  ProviderLink() = default;
  ProviderLink(const ProviderLink&) = delete;
  ProviderLink& operator=(const ProviderLink&) = delete;
  ~ProviderLink();

  // ShellFindProvider, ShellLoadProvider, open, connect and get_info.  On a
  // failure the earlier steps are undone in reverse and the failing step is
  // returned (ProviderStep::None on success).
  ProviderStep open(const char* provider, const char* connection);
  // disconnect (when connected).
  void disconnect();
  // close (when open) and ShellUnloadProvider (when loaded).
  void close_and_unload();
  // All of the above, in order.
  void close() {
    disconnect();
    close_and_unload();
  }

  int32_t index = -1;
  ProviderTable table{};
  uint8_t handle = 0;
  ProviderInfo info{};
  uint8_t connect_result = 0;  // the provider's code when connect failed
  std::string connect_error;   // the provider's words when connect failed (may be empty)

  // The provider's words for its last failure on this thread (empty when it
  // has none or tells nothing more); only while the provider is loaded.
  std::string last_error() const;
  bool loaded = false, opened = false, connected = false;

  // The message size of the connection: the smaller of the two get_info sizes.
  uint16_t message_size() const { return info.size_a < info.size_b ? info.size_a : info.size_b; }
};

// HostMessages over an open provider connection.
class HostChannel {
 public:
  enum class Recv { Ok, Timeout, Error, NonHost, Malformed };
  struct Options {
    bool skip_ignored_code = true;   // type 1 code 14 is consumed and ignored
    bool non_host_is_error = false;  // a message without "#@!" ends the wait
  };

  HostChannel() = default;
  HostChannel(const HostChannel&) = delete;
  HostChannel& operator=(const HostChannel&) = delete;

  // Sets up the send buffer of buffer_size bytes, initialised to "#@!".
  // Returns false when it cannot be allocated.
  bool attach(const ProviderTable* table, uint8_t handle, size_t buffer_size);
  void detach();
  bool attached() const { return table_ != nullptr; }

  // The data area of the send buffer (after the 14-byte header).
  char* out() { return buffer_.data() + 14; }
  size_t buffer_size() const { return buffer_.size(); }
  // The message size in use, header included; never above the send buffer.
  size_t message_size() const { return message_size_; }
  void set_message_size(size_t size) { message_size_ = size < buffer_.size() ? size : buffer_.size(); }
  size_t max_data_length() const { return message_size_ > 14 ? message_size_ - 14 : 0; }

  // Sends length data bytes (already in out()) with the header filled in; the
  // sequence character advances whatever happens.  False when the provider
  // fails or the message would not fit the send buffer.
  bool send(unsigned type, unsigned code, size_t length, uint8_t timeout);

  // Waits for the next accepted message: leading control bytes stripped,
  // messages of other sources skipped (or reported), repeats of the last
  // sequence character dropped.  On Ok the fields below describe it and it
  // stays with the provider until release().  On Timeout with a non-zero
  // time-out, receive_timeout drops to 10.
  Recv receive(uint8_t timeout, const Options& options);
  // Gives the received message back (nothing when none is held).
  void release();
  // Receives and releases every message that is already waiting.
  void drain();

  // Time-outs of this connection, in the provider's unit.
  uint8_t receive_timeout = 60;
  uint8_t transmit_timeout = 60;
  unsigned sub_id = 0;
  char next_sequence = '9';
  char last_sequence = ' ';

  // The accepted message.
  unsigned type = 0;
  unsigned code = 0;
  size_t length = 0;
  const char* data = nullptr;
  // With Recv::NonHost: the first 64 characters of the foreign message.
  std::string non_host_text;
  // The last foreign message skipped (by receive or drain) since the last
  // accepted message (at most 255 characters), so that a link the host
  // closes right after one (a refusal such as "server busy") can tell what
  // the host said.
  static constexpr size_t kSkippedTextMax = 255;
  std::string skipped_text;
  // The provider's words for the last failed send, receive or drain since
  // the last accepted message (may be empty).
  std::string error_text;

 private:
  void note_provider_error();

  const ProviderTable* table_ = nullptr;
  uint8_t handle_ = 0;
  std::vector<char> buffer_;
  size_t message_size_ = 0;
  bool held_ = false;
};

}  // namespace quarl
