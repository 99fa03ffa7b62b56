#include "hostlink/host_channel.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

namespace quarl::hostlink {

// ---- Reply ----

std::string_view Reply::data() const {
  if (channel_ == nullptr || !channel_->holds(serial_)) return {};
  return std::string_view(data_, length_);
}

std::string_view Reply::first_error_text() const {
  std::string_view text;
  hostmsg::for_each_error_item(after_status(), [&](unsigned, std::string_view item) {
    if (text.data() == nullptr) text = item;
  });
  return text;
}

void Reply::release() {
  if (channel_ != nullptr) channel_->release_serial(serial_);
  channel_ = nullptr;
}

void Reply::take(Reply& other) noexcept {
  channel_ = other.channel_;
  serial_ = other.serial_;
  outcome_ = other.outcome_;
  timeout_ = other.timeout_;
  type_ = other.type_;
  code_ = other.code_;
  data_ = other.data_;
  length_ = other.length_;
  non_host_text_ = std::move(other.non_host_text_);
  provider_error_ = std::move(other.provider_error_);
  skipped_text_ = std::move(other.skipped_text_);
  other.channel_ = nullptr;
}

// ---- HostChannel ----

bool HostChannel::attach(const ProviderTable* table, uint8_t handle, size_t buffer_size) {
  try {
    buffer_.assign(buffer_size < hostmsg::kHeaderSize ? hostmsg::kHeaderSize : buffer_size, '\0');
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::memcpy(buffer_.data(), hostmsg::kMagic.data(), hostmsg::kMagic.size());
  table_ = table;
  handle_ = handle;
  message_size_ = buffer_.size();
  held_ = false;
  provider_error_.clear();
  skipped_text_.clear();
  return true;
}

void HostChannel::detach() {
  release();
  unawaited_.clear();
  table_ = nullptr;
  buffer_.clear();
  buffer_.shrink_to_fit();
  message_size_ = 0;
}

bool HostChannel::send(unsigned type_digit, unsigned code_digits, size_t data_length) {
  if (!table_ || !table_->send) return false;
  std::lock_guard lock(send_mutex_);
  char sequence = next_sequence;
  next_sequence = hostmsg::next_sequence(next_sequence);
  if (data_length > hostmsg::kMaxDataLength || data_length > max_data_length()) {
    provider_error_.clear();  // ours, not the provider's
    return false;
  }
  hostmsg::write_header(buffer_.data(),
                        {sequence, sub_id, type_digit, code_digits, static_cast<unsigned>(data_length)});
  if (table_->send(handle_, buffer_.data(), static_cast<uint16_t>(data_length + hostmsg::kHeaderSize),
                   transmit_timeout) == 0)
    return true;
  note_provider_error();
  return false;
}

bool HostChannel::send_unawaited(unsigned type_digit, unsigned code_digits, size_t data_length) {
  if (!send(type_digit, code_digits, data_length)) return false;
  unawaited_.push_back({type_digit, code_digits});
  return true;
}

void HostChannel::await_no_reply(unsigned type_digit, unsigned code_digits) {
  unawaited_.push_back({type_digit, code_digits});
}

Reply HostChannel::failed(Outcome outcome, uint8_t timeout) const {
  Reply reply;
  reply.outcome_ = outcome;
  reply.timeout_ = timeout;
  reply.provider_error_ = provider_error_;
  reply.skipped_text_ = skipped_text_;
  return reply;
}

void HostChannel::note_provider_error() {
  provider_error_ = table_ ? provider_error_text(*table_) : std::string();
}

void HostChannel::note_skipped(const char* message, size_t length) {
  skipped_text_.assign(message, length < Reply::kSkippedTextMax ? length : Reply::kSkippedTextMax);
}

bool HostChannel::send_control(unsigned type_digit, unsigned code_digits, std::string_view data) {
  if (!table_ || !table_->send) return false;
  std::lock_guard lock(send_mutex_);
  char sequence = next_sequence;
  next_sequence = hostmsg::next_sequence(next_sequence);
  if (data.size() > hostmsg::kMaxDataLength || data.size() > max_data_length()) return false;
  std::string message(hostmsg::kHeaderSize + data.size(), '\0');
  hostmsg::write_header(message.data(),
                        {sequence, sub_id, type_digit, code_digits, static_cast<unsigned>(data.size())});
  std::memcpy(message.data() + hostmsg::kHeaderSize, data.data(), data.size());
  if (table_->send(handle_, message.data(), static_cast<uint16_t>(message.size()), transmit_timeout) == 0) return true;
  note_provider_error();
  return false;
}

Reply HostChannel::receive(uint8_t timeout, const ReceiveOptions& options) {
  return receive_once(timeout, options, true);
}

Reply HostChannel::receive_until(Clock::time_point deadline, const ReceiveOptions& options) {
  for (;;) {
    auto left = deadline - Clock::now();
    // Whole seconds, rounded up; a deadline that has passed polls once.
    auto seconds = left <= Clock::duration::zero()
                       ? 0
                       : std::chrono::ceil<std::chrono::seconds>(left).count();
    Reply reply = receive_once(static_cast<uint8_t>(seconds > 255 ? 255 : seconds), options, false);
    if (reply.outcome() != Outcome::Timeout || Clock::now() >= deadline) return reply;
  }
}

Reply HostChannel::receive_once(uint8_t timeout, const ReceiveOptions& options, bool lower_timeout) {
  if (!table_ || !table_->receive) return failed(Outcome::ReceiveError, timeout);
  release();
  auto timed_out = [&] {
    if (timeout != 0 && lower_timeout) receive_timeout = 10;
    return failed(Outcome::Timeout, timeout);
  };
  // The time-out bounds the whole wait: a host that keeps sending what is
  // skipped (junk, repeats, ignored codes) does not stretch it.
  const auto deadline = Clock::now() + std::chrono::seconds(timeout);
  for (bool first = true;; first = false) {
    uint8_t wait = timeout;
    if (!first && timeout != 0) {
      auto left = deadline - Clock::now();
      if (left <= Clock::duration::zero()) return timed_out();
      wait = static_cast<uint8_t>(std::min<long long>(255, std::chrono::ceil<std::chrono::seconds>(left).count()));
    }
    char* raw = nullptr;
    uint16_t raw_length = 0;
    uint8_t rc = table_->receive(handle_, &raw, &raw_length, wait);
    if (rc == TELLIX_TIMEOUT) return timed_out();
    if (rc != 0) {
      note_provider_error();
      return failed(Outcome::ReceiveError, timeout);
    }
    held_ = true;
    if (raw == nullptr && raw_length != 0) {
      release();
      return failed(Outcome::ReceiveError, timeout);
    }

    size_t skip = hostmsg::strip_control(raw, raw_length);
    const char* message = raw + skip;
    size_t n = raw_length - skip;
    if (n == 0) {
      release();
      continue;
    }
    if (n < hostmsg::kMagic.size() || std::memcmp(message, hostmsg::kMagic.data(), hostmsg::kMagic.size()) != 0) {
      if (options.non_host_is_error) {
        Reply reply = failed(Outcome::NonHost, timeout);
        reply.non_host_text_.assign(message, n < 64 ? n : 64);
        release();
        return reply;
      }
      note_skipped(message, n);
      release();
      continue;
    }
    if (n < hostmsg::kHeaderSize) {
      release();
      return failed(Outcome::Malformed, timeout);
    }
    hostmsg::Header header = hostmsg::read_header(message);
    if (header.sequence == last_sequence) {
      release();
      continue;
    }
    last_sequence = header.sequence;
    if (options.skip_ignored_code && header.type == hostmsg::kDatabase && header.code == hostmsg::code::kIgnored) {
      release();
      continue;
    }
    if (header.length > n - hostmsg::kHeaderSize) {
      // The length field runs past the bytes received.
      release();
      return failed(Outcome::Malformed, timeout);
    }
    // A cancel's acknowledgement may pass the reply of the request it
    // cancelled; any other message in an unawaited reply's place means that
    // reply will not come.
    bool acknowledgement = header.type == hostmsg::kDatabase && header.code == hostmsg::code::kCancelAck;
    if (!unawaited_.empty() && !acknowledgement) {
      Unawaited first = unawaited_.front();
      unawaited_.pop_front();
      if (header.type == first.type && header.code == first.code) {
        release();
        continue;
      }
      unawaited_.clear();
    }
    provider_error_.clear();
    skipped_text_.clear();
    Reply reply;
    reply.timeout_ = timeout;
    reply.outcome_ = Outcome::Received;
    reply.channel_ = this;
    reply.serial_ = ++serial_;
    reply.type_ = header.type;
    reply.code_ = header.code;
    reply.data_ = message + hostmsg::kHeaderSize;
    reply.length_ = header.length;
    return reply;
  }
}

Reply HostChannel::transact(unsigned type, unsigned code, size_t length, const ReceiveOptions& options) {
  if (!send(type, code, length)) return failed(Outcome::SendFailed, 0);
  return receive(receive_timeout, options);
}

void HostChannel::release() {
  if (held_ && table_ && table_->release) table_->release(handle_);
  held_ = false;
}

void HostChannel::drain() {
  // Only what is already waiting is discarded: a poll, not a wait, so that a
  // connect or disconnect does not sit out a whole time-out unit.
  if (!table_ || !table_->receive) return;
  release();
  unawaited_.clear();
  for (;;) {
    char* raw = nullptr;
    uint16_t raw_length = 0;
    uint8_t rc = table_->receive(handle_, &raw, &raw_length, 0);
    if (rc == TELLIX_TIMEOUT) break;
    if (rc != 0) {
      note_provider_error();
      break;
    }
    held_ = true;
    // A host that turns the client away may have said so already.
    size_t skip = raw ? hostmsg::strip_control(raw, raw_length) : 0;
    size_t n = raw ? raw_length - skip : 0;
    if (n > 0 && (n < hostmsg::kMagic.size() ||
                  std::memcmp(raw + skip, hostmsg::kMagic.data(), hostmsg::kMagic.size()) != 0))
      note_skipped(raw + skip, n);
    release();
  }
}

}  // namespace quarl::hostlink
