// What the fuzz targets share: the record form of their inputs, HostMessage
// and frame building, and plain loopback sockets.
//
// Most inputs are a series of records, each a message of the exchange the
// target plays: a type byte, a code byte, a two-byte big-endian length and
// that many data bytes.  The target wraps a record's data in a HostMessage
// of that type and code (with the sequence character the receiver expects),
// or, for the type byte 0xFF, passes the data on as the whole message, so
// that the envelope itself is fuzzed too.  The seeds under corpus/ are
// recorded from real exchanges in this form (QUARL_FUZZ_RECORD, see
// scripts/fuzz).
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

inline constexpr uint8_t kRaw = 0xFF;

struct Record {
  uint8_t type = 0;
  uint8_t code = 0;
  std::string data;
};

inline std::vector<Record> read_records(const uint8_t* bytes, size_t size) {
  std::vector<Record> out;
  size_t at = 0;
  while (size - at >= 4) {
    Record r;
    r.type = bytes[at];
    r.code = bytes[at + 1];
    size_t length = (size_t(bytes[at + 2]) << 8) | bytes[at + 3];
    at += 4;
    length = std::min(length, size - at);
    r.data.assign(reinterpret_cast<const char*>(bytes + at), length);
    at += length;
    out.push_back(std::move(r));
  }
  return out;
}

inline std::string write_record(uint8_t type, uint8_t code, std::string_view data) {
  std::string out{static_cast<char>(type), static_cast<char>(code), static_cast<char>((data.size() >> 8) & 0xFF),
                  static_cast<char>(data.size() & 0xFF)};
  out.append(data.substr(0, 0xFFFF));
  return out;
}

inline std::string digits(unsigned width, unsigned long long value) {
  std::string s = std::to_string(value);
  if (s.size() > width) s = s.substr(0, width);
  return std::string(width - s.size(), '0') + s;
}

// "#@!", sequence, sub id, type, code, length, data (cut to 9999 bytes).
inline std::string host_message(char sequence, unsigned sub_id, unsigned type, unsigned code, std::string_view data) {
  data = data.substr(0, std::min<size_t>(data.size(), 9999));
  return "#@!" + std::string(1, sequence) + digits(2, sub_id) + digits(1, type % 10) + digits(3, code % 1000) +
         digits(4, data.size()) + std::string(data);
}

inline char next_sequence(char c) { return c >= '9' || c < '0' ? '0' : static_cast<char>(c + 1); }

// A 4-byte big-endian length and the body, as the TCP/IP provider frames.
inline std::string frame(std::string_view body) {
  uint32_t n = static_cast<uint32_t>(body.size());
  return std::string{static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                     static_cast<char>(n)} +
         std::string(body);
}

// A private folder for the run, left for the system to clean (the process
// ends by exit, without destructors).
inline std::filesystem::path work_dir(const char* name) {
  std::string pattern = (std::filesystem::temp_directory_path() / (std::string("quarl-fuzz-") + name + "-XXXXXX"));
  if (!::mkdtemp(pattern.data())) std::abort();
  return pattern;
}

inline void write_file(const std::filesystem::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// ---- loopback sockets ----

inline int listen_loopback(int& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0) std::abort();
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return fd;
}

inline int connect_loopback(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

// Closes a socket at once, with a reset: hundreds of thousands of
// connections in a run would otherwise use up the loopback ports while
// they wait out TIME_WAIT.
inline void close_now(int fd) {
  linger no_wait{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &no_wait, sizeof no_wait);
  ::close(fd);
}

// Writes all of out while reading whatever arrives (so that a peer that
// answers as it reads never blocks us); returns false when the link ends.
inline bool exchange(int fd, std::string_view out, std::string& in, int timeout_ms = 10000) {
  size_t sent = 0;
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (sent < out.size()) {
    pollfd p{fd, static_cast<short>(POLLIN | POLLOUT), 0};
    if (::poll(&p, 1, 100) < 0) return false;
    if (p.revents & POLLIN) {
      char buffer[65536];
      ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n == 0) return false;
      if (n > 0) in.append(buffer, static_cast<size_t>(n));
    }
    if (p.revents & (POLLERR | POLLHUP)) return false;
    if (p.revents & POLLOUT) {
      ssize_t n = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno != EAGAIN) return false;
      if (n > 0) sent += static_cast<size_t>(n);
    }
    if (std::chrono::steady_clock::now() > until) return false;
  }
  return true;
}

// Reads until stop(in) says enough, the link ends or the time runs out.
template <typename Stop>
inline bool receive_until(int fd, std::string& in, Stop stop, int timeout_ms = 10000) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!stop(in)) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[65536];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    in.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

// The bodies of the complete frames at the front of in (taken out of it).
inline std::vector<std::string> take_frames(std::string& in) {
  std::vector<std::string> out;
  while (in.size() >= 4) {
    uint32_t n = (uint32_t(uint8_t(in[0])) << 24) | (uint32_t(uint8_t(in[1])) << 16) |
                 (uint32_t(uint8_t(in[2])) << 8) | uint8_t(in[3]);
    if (in.size() < 4 + size_t(n)) break;
    out.push_back(in.substr(4, n));
    in.erase(0, 4 + n);
  }
  return out;
}

// When QUARL_FUZZ_RECORD names a file, seeds are written there instead of
// fuzzing (see the targets): the records of one real exchange.
inline std::optional<std::string> record_path() {
  const char* path = std::getenv("QUARL_FUZZ_RECORD");
  if (!path || !*path) return std::nullopt;
  return std::string(path);
}

}  // namespace fuzz
