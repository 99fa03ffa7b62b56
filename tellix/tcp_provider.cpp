// The built-in "TCP/IP" provider: each connection is a TCP stream that
// carries length-prefixed frames (common/frame.h).  Connections are kept in
// a table by their 8-bit handle (1 to 255; 0 is never handed out, the
// callers read it as "no connection").
#include "tellix/tcp_provider.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include "common/frame.h"
#include "common/platform/system.h"
#include "tellix/tcp_config.h"
#include "tellix/tcp_link.h"

namespace tellix {
namespace {

namespace frame = quarl::frame;

using Clock = TcpLink::Clock;

// The calling thread's last failure, for the last_error entry.
thread_local std::string t_last_error;

uint8_t failed(std::string why) {
  t_last_error = std::move(why);
  return TELLIX_ERROR;
}

// The largest message the provider carries (the frame limit).
constexpr uint16_t kProviderMaxMessage = 65535;
// How long connect waits for the host to answer.
constexpr auto kConnectTimeout = std::chrono::seconds(15);

// One connection.  Its owner receives on one thread; another thread may send
// meanwhile (a cancel while a request runs): sends go one at a time, and the
// link is closed only under the same lock.
class TcpConnection {
 public:
  TcpConnection(std::string_view name, const TcpAddress& address)
      : message_size_(address.message_size), where_(describe(name, address)) {}

  // "DEMOHOST (127.0.0.1:7021)", or the address alone when it is the name.
  static std::string describe(std::string_view name, const TcpAddress& address) {
    std::string host = address.host.find(':') != std::string::npos ? "[" + address.host + "]" : address.host;
    std::string at = host + ":" + address.port;
    if (name.find(':') != std::string_view::npos) return at;
    return std::string(name) + " (" + at + ")";
  }

  uint8_t connect(const TcpAddress& address, std::chrono::seconds timeout) {
    std::string why;
    if (link_.connect(address.host, address.port, Clock::now() + timeout, why)) return TELLIX_OK;
    return failed("cannot connect to " + where_ + ": " + why);
  }

  uint16_t message_size() const { return message_size_; }

  uint8_t send(const char* bytes, uint16_t length, uint8_t timeout) {
    std::lock_guard lock(send_mutex_);
    if (broken_ || !link_.is_open()) return failed("the connection to " + where_ + " is closed");
    unsigned char prefix[frame::kPrefixSize];
    frame::put_length(prefix, length);
    auto rc = link_.write_all(reinterpret_cast<const char*>(prefix), sizeof prefix, bytes, length,
                              Clock::now() + std::chrono::seconds(timeout));
    if (rc == TcpLink::Io::Ok) return TELLIX_OK;
    if (rc == TcpLink::Io::Timeout) return failed("send to " + where_ + " timed out");
    broken_ = true;
    return failed(link_.io_error() + " (" + where_ + ")");
  }

  uint8_t receive(char** data, uint16_t* length, uint8_t timeout) {
    release();
    if (broken_) return failed("the connection to " + where_ + " is closed: " + broken_why_);
    auto deadline = Clock::now() + std::chrono::seconds(timeout);
    for (;;) {
      switch (decoder_.state()) {
        case frame::Decoder::State::Ready: {
          std::string_view message = decoder_.front();
          held_ = true;
          *data = const_cast<char*>(message.data());
          *length = static_cast<uint16_t>(message.size());
          return TELLIX_OK;
        }
        case frame::Decoder::State::Broken:
          fail("the host sent a frame longer than 65535 bytes");
          return failed(broken_why_ + " (" + where_ + ")");
        case frame::Decoder::State::NeedMore:
          break;
      }
      size_t got = 0;
      constexpr size_t kChunk = 16384;
      auto rc = link_.read_some(decoder_.write_area(kChunk), kChunk, got, deadline);
      if (rc == TcpLink::Io::Timeout) return TELLIX_TIMEOUT;
      if (rc != TcpLink::Io::Ok) {
        fail(link_.io_error());
        return failed(broken_why_ + " (" + where_ + ")");
      }
      decoder_.commit(got);
    }
  }

  void release() {
    if (held_) decoder_.pop();
    held_ = false;
  }

 private:
  // A broken stream cannot be read further: the link is closed.
  void fail(std::string why) {
    broken_why_ = std::move(why);
    broken_ = true;
    decoder_.clear();
    std::lock_guard lock(send_mutex_);
    link_.close();
  }

  TcpLink link_;
  frame::Decoder decoder_;
  uint16_t message_size_;
  std::string where_;
  std::string broken_why_;
  bool held_ = false;
  std::atomic<bool> broken_{false};
  std::mutex send_mutex_;
};

struct Provider {
  std::mutex mutex;
  int open_count = 0;
  std::array<std::shared_ptr<TcpConnection>, 256> connections;  // index = handle; 0 unused
  uint8_t last_handle = 0;

  std::shared_ptr<TcpConnection> find(uint8_t handle) {
    std::lock_guard lock(mutex);
    return handle == 0 ? nullptr : connections[handle];
  }
  void close_all() {
    for (auto& c : connections) c.reset();
  }
};

Provider& provider() {
  static Provider p;
  return p;
}

uint8_t tcp_open() {
  std::lock_guard lock(provider().mutex);
  ++provider().open_count;
  return TELLIX_OK;
}

uint8_t tcp_close() {
  std::shared_ptr<TcpConnection> doomed[256];
  {
    std::lock_guard lock(provider().mutex);
    if (provider().open_count == 0) return TELLIX_ERROR;
    if (--provider().open_count > 0) return TELLIX_OK;
    // The last user is gone: connections still open go with it (closed
    // outside the lock).
    for (size_t i = 0; i < 256; ++i) doomed[i] = std::move(provider().connections[i]);
  }
  return TELLIX_OK;
}

// The third argument is the longest wait for the host to answer, in seconds
// (0 or less: the provider's own, 15 seconds).
uint8_t tcp_connect(uint8_t* handle, const char* name, int32_t timeout_seconds) {
  t_last_error.clear();
  if (!handle || !name) return failed("no connection name");
  {
    std::lock_guard lock(provider().mutex);
    if (provider().open_count == 0) return failed("the provider is not open");
  }
  auto address = resolve_tcp_connection(name);
  if (!address)
    return failed("connection name \"" + std::string(name) + "\" is neither configured in section [" + kTcpSection +
                  "] of " + quarl::platform::resolve_profile_file("tellix.ini").string() + " nor an address host:port");
  auto connection = std::make_shared<TcpConnection>(name, *address);
  auto timeout = timeout_seconds > 0 ? std::chrono::seconds(timeout_seconds) : kConnectTimeout;
  if (connection->connect(*address, timeout) != TELLIX_OK) return TELLIX_ERROR;
  std::lock_guard lock(provider().mutex);
  Provider& p = provider();
  if (p.open_count == 0) return failed("the provider was closed while connecting");
  // Next free handle after the last one given, so that a handle just given
  // back is not reused at once.
  for (int step = 1; step <= 255; ++step) {
    uint8_t candidate = static_cast<uint8_t>((p.last_handle + step - 1) % 255 + 1);
    if (!p.connections[candidate]) {
      p.connections[candidate] = std::move(connection);
      p.last_handle = candidate;
      *handle = candidate;
      return TELLIX_OK;
    }
  }
  return failed("255 connections are open in this process");
}

uint8_t tcp_disconnect(uint8_t handle) {
  std::shared_ptr<TcpConnection> doomed;
  std::lock_guard lock(provider().mutex);
  if (handle == 0 || !provider().connections[handle]) return TELLIX_ERROR;
  doomed = std::move(provider().connections[handle]);
  return TELLIX_OK;
}

uint8_t tcp_get_info(uint8_t handle, ProviderInfo* info) {
  auto connection = provider().find(handle);
  if (!connection || !info) return TELLIX_ERROR;
  info->size_a = kProviderMaxMessage;
  info->size_b = connection->message_size();
  info->value = 0;
  return TELLIX_OK;
}

uint8_t tcp_send(uint8_t handle, const char* buffer, uint16_t length, uint8_t timeout) {
  auto connection = provider().find(handle);
  if (!connection || (!buffer && length)) return TELLIX_ERROR;
  return connection->send(buffer, length, timeout);
}

uint8_t tcp_receive(uint8_t handle, char** data, uint16_t* length, uint8_t timeout) {
  auto connection = provider().find(handle);
  if (!connection || !data || !length) return TELLIX_ERROR;
  return connection->receive(data, length, timeout);
}

uint8_t tcp_release(uint8_t handle) {
  auto connection = provider().find(handle);
  if (!connection) return TELLIX_ERROR;
  connection->release();
  return TELLIX_OK;
}

uint8_t tcp_last_error(char* buffer, uint16_t size) {
  if (!buffer || size == 0) return TELLIX_ERROR;
  size_t n = std::min<size_t>(t_last_error.size(), size - 1u);
  std::memcpy(buffer, t_last_error.data(), n);
  buffer[n] = '\0';
  return TELLIX_OK;
}

uint8_t tcp_list_connections(char* buffer, uint16_t size) {
  if (!buffer || size == 0) return TELLIX_ERROR;
  size_t at = 0;
  for (const auto& name : tcp_connection_names()) {
    if (at + name.size() + 2 > size) break;  // the name, its zero and the closing empty name
    std::memcpy(buffer + at, name.c_str(), name.size() + 1);
    at += name.size() + 1;
  }
  buffer[at] = '\0';
  return TELLIX_OK;
}

}  // namespace

uint8_t tcp_provider_load(ProviderTable* table) {
  if (!table) return TELLIX_ERROR;
  table->open = tcp_open;
  table->close = tcp_close;
  table->connect = tcp_connect;
  table->disconnect = tcp_disconnect;
  table->get_info = tcp_get_info;
  table->send = tcp_send;
  table->receive = tcp_receive;
  table->release = tcp_release;
  table->list_connections = tcp_list_connections;
  table->configure = nullptr;
  table->last_error = tcp_last_error;
  return TELLIX_OK;
}

void tcp_provider_unload() {
  std::shared_ptr<TcpConnection> doomed[256];
  std::lock_guard lock(provider().mutex);
  provider().open_count = 0;
  for (size_t i = 0; i < 256; ++i) doomed[i] = std::move(provider().connections[i]);
}

}  // namespace tellix
