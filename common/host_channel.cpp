#include "common/host_channel.h"

#include <cstring>
#include <new>

#include "common/hostmsg.h"

namespace quarl {

bool HostChannel::attach(const ProviderTable* table, uint8_t handle, size_t buffer_size) {
  try {
    buffer_.assign(buffer_size < 14 ? 14 : buffer_size, '\0');
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::memcpy(buffer_.data(), hostmsg::kMagic.data(), hostmsg::kMagic.size());
  table_ = table;
  handle_ = handle;
  message_size_ = buffer_.size();
  held_ = false;
  skipped_text.clear();
  error_text.clear();
  return true;
}

void HostChannel::detach() {
  release();
  table_ = nullptr;
  buffer_.clear();
  buffer_.shrink_to_fit();
  message_size_ = 0;
}

bool HostChannel::send(unsigned type_digit, unsigned code_digits, size_t data_length, uint8_t timeout) {
  if (!table_ || !table_->send) return false;
  char sequence = next_sequence;
  next_sequence = hostmsg::next_sequence(next_sequence);
  if (data_length > hostmsg::kMaxDataLength || data_length + 14 > buffer_.size()) return false;
  hostmsg::write_header(buffer_.data(),
                        {sequence, sub_id, type_digit, code_digits, static_cast<unsigned>(data_length)});
  if (table_->send(handle_, buffer_.data(), static_cast<uint16_t>(data_length + 14), timeout) == 0) return true;
  note_provider_error();
  return false;
}

HostChannel::Recv HostChannel::receive(uint8_t timeout, const Options& options) {
  if (!table_ || !table_->receive) return Recv::Error;
  release();
  for (;;) {
    char* raw = nullptr;
    uint16_t raw_length = 0;
    uint8_t rc = table_->receive(handle_, &raw, &raw_length, timeout);
    if (rc == TELLIX_TIMEOUT) {
      if (timeout != 0) receive_timeout = 10;
      return Recv::Timeout;
    }
    if (rc != 0 || (raw == nullptr && raw_length != 0)) {
      if (rc != 0) note_provider_error();
      return Recv::Error;
    }
    held_ = true;

    size_t skip = hostmsg::strip_control(raw, raw_length);
    const char* message = raw + skip;
    size_t n = raw_length - skip;
    if (n == 0) {
      release();
      continue;
    }
    if (n < 3 || std::memcmp(message, hostmsg::kMagic.data(), 3) != 0) {
      if (options.non_host_is_error) {
        non_host_text.assign(message, n < 64 ? n : 64);
        release();
        return Recv::NonHost;
      }
      skipped_text.assign(message, n < kSkippedTextMax ? n : kSkippedTextMax);
      release();
      continue;
    }
    if (n < hostmsg::kHeaderSize) {
      release();
      return Recv::Malformed;
    }
    hostmsg::Header header = hostmsg::read_header(message);
    if (header.sequence == last_sequence) {
      release();
      continue;
    }
    last_sequence = header.sequence;
    if (options.skip_ignored_code && header.type == hostmsg::kDatabase &&
        header.code == hostmsg::code::kIgnored) {
      release();
      continue;
    }
    if (header.length > n - hostmsg::kHeaderSize) {
      // The length field runs past the bytes received.
      release();
      return Recv::Malformed;
    }
    type = header.type;
    code = header.code;
    length = header.length;
    data = message + hostmsg::kHeaderSize;
    skipped_text.clear();
    error_text.clear();
    return Recv::Ok;
  }
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
    size_t skip = hostmsg::strip_control(raw, raw_length);
    size_t n = raw_length - skip;
    if (raw && n > 0 && (n < 3 || std::memcmp(raw + skip, hostmsg::kMagic.data(), 3) != 0))
      skipped_text.assign(raw + skip, n < kSkippedTextMax ? n : kSkippedTextMax);
    release();
  }
}

void HostChannel::note_provider_error() {
  error_text.clear();
  if (!table_ || !table_->last_error) return;
  char text[512] = {};
  if (table_->last_error(text, sizeof text) == 0) error_text.assign(text, strnlen(text, sizeof text));
}

}  // namespace quarl
