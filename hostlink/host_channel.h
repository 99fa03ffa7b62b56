// HostMessages over an open provider connection: the send buffer, the
// sequence characters, the filtering of received messages, and one request
// and its reply as a Reply that gives the message back to the provider when
// it goes.  The driver and the RPC library both talk to the Host Server
// through this; each reports failures in its own words.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/hostmsg.h"
#include "hostlink/provider_link.h"

namespace quarl::hostlink {

class HostChannel;

// How an exchange ended.
enum class Outcome : uint8_t {
  Received,      // a reply is held
  SendFailed,    // the provider refused the request, or it did not fit the message size
  Timeout,       // no message within the time-out
  ReceiveError,  // the provider reported an error
  NonHost,       // a message of another source, with non_host_is_error
  Malformed,     // "#@!" but a header or length that cannot be right
};

struct ReceiveOptions {
  bool skip_ignored_code = true;   // type 1 code 14 is consumed and ignored
  bool non_host_is_error = false;  // a message without "#@!" ends the wait
};

// A received message (or why there is none).  The message stays with the
// provider until the Reply is released or destroyed; a Reply never gives
// back a later message than its own, and its data read empty once the
// channel has moved on.
class Reply {
 public:
  Reply() = default;
  // A reply that did not come, for the reason given.
  static Reply of(Outcome outcome, uint8_t timeout = 0) {
    Reply r;
    r.outcome_ = outcome;
    r.timeout_ = timeout;
    return r;
  }
  Reply(const Reply&) = delete;
  Reply& operator=(const Reply&) = delete;
  Reply(Reply&& other) noexcept { take(other); }
  Reply& operator=(Reply&& other) noexcept {
    if (this != &other) {
      release();
      take(other);
    }
    return *this;
  }
  ~Reply() { release(); }

  Outcome outcome() const { return outcome_; }
  bool received() const { return outcome_ == Outcome::Received; }
  explicit operator bool() const { return received(); }
  // The time-out the receive waited with (0: a poll).
  uint8_t timeout() const { return timeout_; }

  unsigned type() const { return type_; }
  unsigned code() const { return code_; }
  // The data, status digit first; empty when nothing is held.
  std::string_view data() const;
  // The status digit, '\0' when the reply has no data.
  char status() const {
    std::string_view d = data();
    return d.empty() ? '\0' : d[0];
  }
  // The status mapped to an ODBC return code (an empty reply: error).
  int rc() const { return hostmsg::host_rc(status()); }
  // Error items follow the status digit (success with info and every error).
  bool carries_error_items() const {
    int r = rc();
    return r == hostmsg::kRcError || r == hostmsg::kRcSuccessWithInfo;
  }
  // What follows the status digit.
  std::string_view after_status() const {
    std::string_view d = data();
    return d.empty() ? d : d.substr(1);
  }
  // The text of the first error item after the status digit; empty when none.
  std::string_view first_error_text() const;
  // With Outcome::NonHost: the first 64 characters of the foreign message.
  const std::string& non_host_text() const { return non_host_text_; }
  // When no reply came: the provider's words for its last failure since
  // the last accepted message (a send, receive or drain; may be empty).
  const std::string& provider_error() const { return provider_error_; }
  // When no reply came: the last message of another source skipped (by a
  // receive or a drain) since the last accepted message, at most
  // kSkippedTextMax characters.  A host that turns a client away (a server
  // with no room) may say why in such a message before it closes the link.
  const std::string& skipped_text() const { return skipped_text_; }
  static constexpr size_t kSkippedTextMax = 255;

  // Gives the message back to the provider (nothing when none is held).
  void release();

 private:
  friend class HostChannel;
  void take(Reply& other) noexcept;

  HostChannel* channel_ = nullptr;  // set while a message is held
  uint64_t serial_ = 0;
  Outcome outcome_ = Outcome::ReceiveError;
  uint8_t timeout_ = 0;
  unsigned type_ = 0, code_ = 0;
  const char* data_ = nullptr;
  size_t length_ = 0;
  std::string non_host_text_;
  std::string provider_error_;
  std::string skipped_text_;
};

class HostChannel {
 public:
  HostChannel() = default;
  HostChannel(const HostChannel&) = delete;
  HostChannel& operator=(const HostChannel&) = delete;

  // Sets up the send buffer for the link's message size (or buffer_size
  // bytes), initialised to "#@!".  False when it cannot be allocated.
  bool attach(const ProviderLink& link) { return attach(&link.table, link.handle, link.message_size()); }
  bool attach(const ProviderTable* table, uint8_t handle, size_t buffer_size);
  void detach();
  bool attached() const { return table_ != nullptr; }

  // The data area of the send buffer (after the 14-byte header).
  char* out() { return buffer_.data() + hostmsg::kHeaderSize; }
  size_t buffer_size() const { return buffer_.size(); }
  // The message size in use, header included; never above the send buffer.
  size_t message_size() const { return message_size_; }
  void set_message_size(size_t size) { message_size_ = size < buffer_.size() ? size : buffer_.size(); }
  size_t max_data_length() const {
    return message_size_ > hostmsg::kHeaderSize ? message_size_ - hostmsg::kHeaderSize : 0;
  }

  // Sends length data bytes (already in out()) with the header filled in and
  // the transmit time-out; the sequence character advances whatever happens.
  // False when the provider fails or the message would exceed the message size.
  bool send(unsigned type, unsigned code, size_t length);
  // Sends a request whose reply nobody waits for (a formality whose answer
  // changes nothing): its reply, which comes ahead of the replies of later
  // requests, is dropped when it comes.  A message of another type or code
  // in its place (but a cancel's acknowledgement) means it will not come: it
  // is no longer awaited.
  bool send_unawaited(unsigned type, unsigned code, size_t length);
  // The same for a request sent already whose reply is no longer wanted
  // (it must be the next one of those replies still to come).
  void await_no_reply(unsigned type, unsigned code);
  // Replies still to be dropped.
  size_t unawaited_replies() const { return unawaited_.size(); }

  // Sends a short message built apart from the send buffer: safe from
  // another thread while the channel's own thread sends or waits (a cancel
  // while a request runs).  Messages never interleave and every one takes
  // the next sequence character.
  bool send_control(unsigned type, unsigned code, std::string_view data);

  // Waits for the next accepted message: leading control bytes stripped,
  // messages of other sources skipped (or reported), repeats of the last
  // sequence character dropped.  A message still held is given back first.
  // On a time-out with a non-zero time-out, receive_timeout drops to 10.
  Reply receive(uint8_t timeout, const ReceiveOptions& options = {});
  // The same, waiting until the deadline (in as many waits of the provider's
  // whole seconds as it takes, the last one rounded up); a time-out leaves
  // receive_timeout as it is.
  using Clock = std::chrono::steady_clock;
  Reply receive_until(Clock::time_point deadline, const ReceiveOptions& options = {});
  // One request and its reply: send, then receive with the receive time-out.
  Reply transact(unsigned type, unsigned code, size_t length, const ReceiveOptions& options = {});
  // Gives back the message held, whoever holds its Reply.
  void release();
  // The provider's words for its last failure since the last accepted
  // message (a send, receive or drain); may be empty.
  const std::string& provider_error() const { return provider_error_; }

  // Receives and releases every message that is already waiting (a foreign
  // one is kept as the skipped text of the next failed exchange).
  void drain();

  // Time-outs of this connection, in the provider's unit.
  uint8_t receive_timeout = 60;
  uint8_t transmit_timeout = 60;
  unsigned sub_id = 0;
  char next_sequence = '9';
  char last_sequence = ' ';

 private:
  friend class Reply;
  void release_serial(uint64_t serial) {
    if (serial == serial_) release();
  }
  bool holds(uint64_t serial) const { return held_ && serial == serial_; }
  // A reply that tells why none came.
  Reply failed(Outcome outcome, uint8_t timeout) const;
  void note_provider_error();
  void note_skipped(const char* message, size_t length);
  Reply receive_once(uint8_t timeout, const ReceiveOptions& options, bool lower_timeout);

  const ProviderTable* table_ = nullptr;
  uint8_t handle_ = 0;
  std::vector<char> buffer_;
  size_t message_size_ = 0;
  bool held_ = false;
  uint64_t serial_ = 0;  // counts accepted messages
  // The type and code of each reply to drop, in the order they come.
  struct Unawaited {
    unsigned type, code;
  };
  std::deque<Unawaited> unawaited_;
  // Since the last accepted message: the provider's words for its last
  // failure, and the last foreign message skipped.
  std::string provider_error_;
  std::string skipped_text_;
  // Whole messages go out one at a time: the header, the sequence character
  // and the provider's send.
  std::mutex send_mutex_;
};

}  // namespace quarl::hostlink
