#include "rpc/tcp_stream.h"

#include <asio.hpp>

#include <algorithm>

#include "common/platform/system.h"

namespace quarl::rpc {

struct TcpStream::Impl {
  asio::io_context io;
  asio::ip::tcp::socket socket{io};
};

TcpStream::TcpStream() : impl_(std::make_unique<Impl>()) {}
TcpStream::~TcpStream() { close(); }

TcpStream::Connect TcpStream::connect(const std::string& host, uint16_t port) {
  asio::error_code ec;
  asio::ip::tcp::resolver resolver(impl_->io);
  auto endpoints = resolver.resolve(host, std::to_string(port), asio::ip::resolver_base::numeric_service, ec);
  if (ec) {
    error_code_ = ec.value();
    return Connect::CannotConnect;
  }
  ec = asio::error::host_not_found;
  for (const auto& entry : endpoints) {
    asio::error_code open_ec;
    impl_->socket.close(open_ec);
    impl_->socket.open(entry.endpoint().protocol(), open_ec);
    if (open_ec) {
      error_code_ = open_ec.value();
      return Connect::CannotCreate;
    }
    impl_->socket.connect(entry.endpoint(), ec);
    if (!ec) {
      asio::error_code ignored;
      impl_->socket.set_option(asio::ip::tcp::no_delay(true), ignored);
      return Connect::Ok;
    }
  }
  asio::error_code ignored;
  impl_->socket.close(ignored);
  error_code_ = ec.value();
  return Connect::CannotConnect;
}

bool TcpStream::send(const char* data, size_t size) {
  asio::error_code ec;
  // asio sends with MSG_NOSIGNAL, so a closed peer gives an error, not SIGPIPE.
  asio::write(impl_->socket, asio::buffer(data, size), ec);
  return !ec;
}

long TcpStream::receive_some(char* data, size_t size, Clock::time_point deadline) {
  if (size == 0) return 0;
  // Waits in slices of at most a minute, so that a far deadline is no
  // overflow of the wait's milliseconds.
  for (;;) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return kTimedOut;
    if (platform::wait_socket(static_cast<int>(impl_->socket.native_handle()), false,
                              static_cast<int>(std::min<long long>(left, 60000))))
      break;
  }
  asio::error_code ec;
  size_t n = impl_->socket.read_some(asio::buffer(data, size), ec);
  if (ec == asio::error::eof) return 0;
  if (ec) return -1;
  return static_cast<long>(n);
}

long TcpStream::receive_exact(char* data, size_t size, Clock::time_point deadline) {
  size_t got = 0;
  while (got < size) {
    long n = receive_some(data + got, size - got, deadline);
    if (n == kTimedOut) return kTimedOut;
    if (n <= 0) return 0;
    got += static_cast<size_t>(n);
  }
  return static_cast<long>(got);
}

void TcpStream::close() {
  if (!impl_) return;
  asio::error_code ignored;
  impl_->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  impl_->socket.close(ignored);
}

}  // namespace quarl::rpc
