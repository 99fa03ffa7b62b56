#include "tests/hostserver/raw_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace rawclient {

void use_own_build() {
  if (std::getenv("QUARL_BUILD_DIR")) return;
  auto exe = std::filesystem::read_symlink("/proc/self/exe");
  ::setenv("QUARL_BUILD_DIR", exe.parent_path().parent_path().c_str(), 1);
}

namespace {

unsigned digits(std::string_view s) {
  unsigned v = 0;
  for (char c : s) v = v * 10 + static_cast<unsigned>(c - '0');
  return v;
}

std::string fixed(unsigned width, unsigned long long value) {
  std::string s = std::to_string(value);
  return std::string(width > s.size() ? width - s.size() : 0, '0') + s;
}

}  // namespace

unsigned Msg::error_index() const { return data.size() >= 5 ? digits(std::string_view(data).substr(1, 4)) : 0; }

std::string Msg::error_text() const {
  if (data.size() < 9) return {};
  return data.substr(9, digits(std::string_view(data).substr(5, 4)));
}

RawClient::RawClient(int port, int receive_buffer, const std::string& source) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  if (!source.empty()) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, source.c_str(), &local.sin_addr);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      ::close(fd_);
      throw std::runtime_error("cannot bind to " + source);
    }
  }
  if (receive_buffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd_);
    throw std::runtime_error("connect failed");
  }
}

RawClient::~RawClient() { ::close(fd_); }

bool RawClient::send_bytes(std::string_view bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
    if (n <= 0) return false;
    at += static_cast<size_t>(n);
  }
  return true;
}

bool RawClient::send_frame(std::string_view body) {
  uint32_t n = static_cast<uint32_t>(body.size());
  std::string prefix{static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                     static_cast<char>(n)};
  return send_bytes(prefix + std::string(body));
}

bool RawClient::send(unsigned type, unsigned code, std::string_view data, unsigned sub_id) {
  std::string m = "#@!";
  m += sequence_;
  sequence_ = sequence_ == '9' ? '0' : static_cast<char>(sequence_ + 1);
  m += fixed(2, sub_id) + fixed(1, type) + fixed(3, code) + fixed(4, data.size());
  m += data;
  return send_frame(m);
}

std::optional<Msg> RawClient::receive(int timeout_ms) {
  for (;;) {
    if (pending_.size() >= 4) {
      uint32_t n = (uint32_t(uint8_t(pending_[0])) << 24) | (uint32_t(uint8_t(pending_[1])) << 16) |
                   (uint32_t(uint8_t(pending_[2])) << 8) | uint8_t(pending_[3]);
      if (pending_.size() >= 4 + n) {
        std::string body = pending_.substr(4, n);
        pending_.erase(0, 4 + n);
        if (body.size() < 14 || body.compare(0, 3, "#@!") != 0) throw std::runtime_error("not a HostMessage");
        Msg m;
        m.sequence = body[3];
        m.sub_id = digits(std::string_view(body).substr(4, 2));
        m.type = digits(std::string_view(body).substr(6, 1));
        m.code = digits(std::string_view(body).substr(7, 3));
        m.data = body.substr(14);
        if (digits(std::string_view(body).substr(10, 4)) != m.data.size())
          throw std::runtime_error("length field does not match");
        return m;
      }
    }
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return std::nullopt;
    char buffer[65536];
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return std::nullopt;
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

bool RawClient::closed_by_server(int timeout_ms) {
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return false;
    char buffer[65536];
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return true;
  }
}

std::optional<std::string> RawClient::receive_bytes(size_t n, int timeout_ms) {
  while (pending_.size() < n) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return std::nullopt;
    char buffer[65536];
    ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
    if (got <= 0) return std::nullopt;
    pending_.append(buffer, static_cast<size_t>(got));
  }
  std::string out = pending_.substr(0, n);
  pending_.erase(0, n);
  return out;
}

Msg RawClient::request(unsigned type, unsigned code, std::string_view data, unsigned sub_id) {
  if (!send(type, code, data, sub_id)) throw std::runtime_error("send failed");
  auto m = receive();
  if (!m) throw std::runtime_error("no reply to type " + std::to_string(type) + " code " + std::to_string(code));
  return *m;
}

Msg RawClient::login(std::string_view text, unsigned size, unsigned code) {
  return request(0, code, "1" + fixed(5, size) + std::string(text));
}

Msg RawClient::login_with_long_values(std::string_view text, unsigned size) {
  Msg m = request(0, 1, "2" + fixed(5, size) + "06+LONG1" + std::string(text));
  long_values = m.status() == '0' && m.data.find("+LONG1") != std::string::npos;
  return m;
}

std::string RawClient::alloc(char autocommit) {
  Msg m = request(1, 1, std::string(1, autocommit) + "00ab004TEST");
  if (m.status() != '0' || m.data.size() != 5) throw std::runtime_error("allocation refused: " + m.data);
  return m.data.substr(1, 4);
}

Described RawClient::statement(unsigned code, const std::string& id, std::string_view sql, std::string_view params,
                               unsigned count) {
  send(1, code, id + "11" + fixed(4, count) + std::string(params) + std::string(sql));
  auto m = receive();
  if (!m) throw std::runtime_error("no reply to the statement request");
  return describe(code, *m);
}

Described RawClient::describe(unsigned code, const Msg& first) {
  Described d;
  d.first = first;
  d.status = first.status();
  d.messages = 1;
  if (d.status != '0') return d;
  std::string_view p = std::string_view(first.data).substr(1);
  auto take = [&](size_t n) {
    if (p.size() < n) throw std::runtime_error("describe reply cut short");
    std::string_view v = p.substr(0, n);
    p.remove_prefix(n);
    return v;
  };
  auto take_signed = [&](size_t n) {
    bool negative = !p.empty() && p[0] == '-';
    if (negative) p.remove_prefix(1);
    long long v = digits(take(n));
    return negative ? -v : v;
  };
  if (code == 9 || code == 11) d.row_count = take_signed(10);
  if (code == 11) return d;
  unsigned count = digits(take(4));
  if (code == 10) d.markers = digits(take(4));
  Msg current;
  for (unsigned i = 0; i < count; ++i) {
    if (p.empty()) {
      auto next = receive();
      if (!next) throw std::runtime_error("continuation message missing");
      current = *next;
      ++d.messages;
      p = current.data;
    }
    Column c;
    c.name = std::string(take(digits(take(2))));
    c.type = static_cast<int>(take_signed(2));
    c.precision = digits(take(long_values ? 10 : 4));
    c.scale = digits(take(2));
    c.nullable = digits(take(1));
    d.columns.push_back(c);
  }
  if (!p.empty()) throw std::runtime_error("bytes left after the column items");
  return d;
}

bool parse_rows(std::string_view data, const std::vector<Column>& columns, std::vector<Row>& rows, bool& end,
                bool long_values) {
  end = false;
  while (!data.empty()) {
    char marker = data[0];
    data.remove_prefix(1);
    if (marker == '1') {
      end = true;
      return data.empty();
    }
    Row row;
    for (const auto& c : columns) {
      if (data.empty()) return false;
      if (data[0] == 'N') {
        row.emplace_back(std::nullopt);
        data.remove_prefix(1);
        continue;
      }
      size_t sign = data[0] == '-' ? 1 : 0;
      size_t skip = 0, length = 0;
      bool long_form = long_values && (c.type == 12 || c.type == -1 || (c.type <= -2 && c.type >= -4));
      if (long_form && (data[0] == 'X' || data[0] == 'L')) {
        if (data.size() < 11) return false;
        if (data[0] == 'L') {
          if (data.size() < 21) return false;
          row.emplace_back(std::string(data.substr(0, 21)));
          data.remove_prefix(21);
          continue;
        }
        skip = 11, length = digits(data.substr(1, 10));
      } else switch (c.type) {
        case -7: length = 1; break;
        case 1: skip = 1, length = c.precision; break;
        case 12: case -1: case -2: case -3: case -4:
          if (data.size() < 3) return false;
          skip = 3, length = digits(data.substr(0, 3));
          break;
        case 2: length = sign + c.precision; break;
        case 4: length = sign + 10; break;
        case 5: length = sign + 5; break;
        case 8:
          if (data.size() < 2) return false;
          skip = 2, length = digits(data.substr(0, 2));
          break;
        case 9: length = 8; break;
        case 10: length = 6; break;
        case 11: length = 23; break;
        default: return false;
      }
      if (data.size() < skip + length) return false;
      row.emplace_back(std::string(data.substr(skip, length)));
      data.remove_prefix(skip + length);
    }
    rows.push_back(std::move(row));
  }
  return true;
}

Fetched RawClient::fetch_all(const std::string& id, const std::vector<Column>& columns, int most) {
  Fetched f;
  for (int i = 0; i < most; ++i) {
    send(1, 4, id);
    ++f.fetches;
    std::string rows;
    for (;;) {
      auto m = receive();
      if (!m) throw std::runtime_error("no fetch reply");
      ++f.messages;
      f.largest_message = std::max(f.largest_message, m->data.size());
      if (m->status() == '5') return f;
      if (m->status() != '0') {
        f.failure = *m;
        return f;
      }
      rows += m->data.substr(2);
      if (m->data[1] == '1') break;
    }
    bool end = false;
    if (!parse_rows(rows, columns, f.rows, end, long_values)) throw std::runtime_error("row data do not parse");
    if (end) {
      f.end_marker = true;
      return f;
    }
  }
  return f;
}

}  // namespace rawclient
