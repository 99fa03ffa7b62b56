#include "rpc/tcp_calls.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "common/platform/profile.h"
#include "common/trancode.h"

namespace quarl::rpc {
namespace tc = trancode;

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The time a transaction's reply may take: "transaction seconds" in the
// [rpc] section of quarl.ini, 1 to 86400; anything else is the default.
unsigned transaction_reply_seconds() {
  int seconds = platform::get_private_profile_int("rpc", "transaction seconds", 0, "quarl.ini");
  return seconds >= 1 && seconds <= 86400 ? static_cast<unsigned>(seconds) : kDefaultReplySeconds;
}

}  // namespace

Status TcpCalls::connect22(Buffer buffer) {
  std::string_view text = buffer.text();
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  size_t host_start = i;
  while (i < text.size() && text[i] != ' ' && text[i] != ',') ++i;
  std::string host(text.substr(host_start, i - host_start));
  // The one separator after the host, then anything up to the first digit.
  if (i < text.size()) ++i;
  while (i < text.size() && !is_digit(text[i])) ++i;
  if (i == text.size()) return error_.fail("Port number expected");
  size_t port_start = i;
  while (i < text.size() && is_digit(text[i])) ++i;
  std::string_view port_text = text.substr(port_start, i - port_start);

  if (port_text.size() > kMaxPortDigits) return error_.fail("Port number has more than 255 digits");
  uint64_t port = 0;
  for (char c : port_text) port = std::min<uint64_t>(port * 10 + uint64_t(c - '0'), 1000000);
  if (port > 65535) return error_.fail(fmt::format("Port number {} is above 65535", port_text));
  if (host.size() > kMaxHostName) return error_.fail("Host name has more than 251 characters");
  if (socket_) return error_.fail("You are already connected");

  auto socket = std::make_unique<TcpStream>();
  switch (socket->connect(host, static_cast<uint16_t>(port))) {
    case TcpStream::Connect::Ok:
      break;
    case TcpStream::Connect::CannotCreate:
      return error_.fail(fmt::format("Cannot create socket ({})", socket->error_code()));
    case TcpStream::Connect::CannotConnect:
      return error_.fail(fmt::format("Cannot connect ({})", socket->error_code()));
  }
  transfer_.assign(tc::kTransferSize, '\0');
  socket_ = std::move(socket);
  reply_seconds_ = transaction_reply_seconds();
  return kOk;
}

Status TcpCalls::disconnect22(Buffer) {
  if (!socket_) return error_.fail("You are not connected");
  socket_.reset();
  transfer_.clear();
  transfer_.shrink_to_fit();
  return kOk;
}

Status TcpCalls::trancode22(Buffer buffer) {
  std::string_view code = buffer.text();
  if (code.empty()) return error_.fail("You must specify a trancode");
  // The request carries six characters: a longer code would call another
  // transaction than the one named.
  if (code.size() > tc::kCodeWidth)
    return error_.fail(fmt::format("Transaction code {} has more than {} characters", code, tc::kCodeWidth));
  code_ = std::string(code);
  return kOk;
}

Status TcpCalls::library_name22(Buffer buffer) {
  if (buffer.text().size() > tc::kNameWidth)
    return error_.fail(fmt::format("Library name {} has more than {} characters", buffer.text(), tc::kNameWidth));
  library_ = std::string(buffer.text());
  return kOk;
}

Status TcpCalls::entry_point22(Buffer buffer) {
  if (buffer.text().size() > tc::kNameWidth)
    return error_.fail(fmt::format("Entry point name {} has more than {} characters", buffer.text(), tc::kNameWidth));
  entry_point_ = std::string(buffer.text());
  return kOk;
}

Status TcpCalls::exe_call22(Buffer buffer) {
  if (!socket_) return error_.fail("You are not connected");
  if (code_.empty()) return error_.fail("You must specify a trancode before making a call");

  size_t request = tc::encode_request(transfer_.data(), code_, library_, entry_point_, buffer.text());
  // A failed send shows as a failed receive.
  socket_->send(transfer_.data(), request);

  // The whole reply comes within the transaction time: a host that stays
  // silent, or stops half way, does not hold the caller for ever.  A reply
  // that comes later would answer the next call, so the connection is
  // closed.
  const auto deadline = TcpStream::Clock::now() + std::chrono::seconds(reply_seconds_);
  auto timed_out = [&] {
    socket_.reset();
    transfer_.clear();
    return error_.fail(fmt::format("No reply from host within {} second{}; the connection is closed", reply_seconds_,
                                   reply_seconds_ == 1 ? "" : "s"));
  };

  // The length header.  TCP may deliver it in pieces; only the end of the
  // stream or an error before six bytes is a failure.
  char length_field[tc::kLengthWidth];
  size_t got = 0;
  while (got < sizeof length_field) {
    long n = socket_->receive_some(length_field + got, sizeof length_field - got, deadline);
    if (n == TcpStream::kTimedOut) return timed_out();
    if (n <= 0) return error_.fail("Error on receive of length header");
    got += size_t(n);
  }
  uint32_t total = tc::read_length(std::string_view(length_field, sizeof length_field));
  if (total < tc::kHeaderSize) return error_.fail("Short message received from host");
  size_t data_size = total - tc::kHeaderSize;

  if (data_size > transfer_.size()) {
    // Read and drop the whole reply so that the next call finds the
    // connection at a message boundary.
    size_t rest = total - tc::kLengthWidth;
    while (rest > 0) {
      long n = socket_->receive_some(transfer_.data(), std::min(rest, transfer_.size()), deadline);
      if (n == TcpStream::kTimedOut) return timed_out();
      if (n <= 0) return error_.fail("Error on receive of data");
      rest -= size_t(n);
    }
    return error_.fail(fmt::format("Reply data of {} bytes exceeds the {}-byte transfer buffer; the reply was discarded",
                                   data_size, tc::kTransferSize));
  }

  long n = socket_->receive_exact(transfer_.data(), tc::kReplyHeaderSize, deadline);
  if (n == TcpStream::kTimedOut) return timed_out();
  if (n <= 0) return error_.fail("Error on receive of header");
  if (data_size > 0) {
    n = socket_->receive_exact(transfer_.data(), data_size, deadline);
    if (n == TcpStream::kTimedOut) return timed_out();
    if (n <= 0) return error_.fail("Error on receive of data");
  }

  std::string_view data(transfer_.data(), data_size);
  if (data.substr(0, tc::kFailureMarker.size()) == tc::kFailureMarker)
    return error_.fail(data.substr(tc::kFailureMarker.size()));
  buffer.put(data);
  return kOk;
}

}  // namespace quarl::rpc
