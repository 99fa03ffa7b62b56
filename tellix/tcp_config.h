// Connection names of the "TCP/IP" provider: section [TCP/IP] of
// "tellix.ini", one NAME=host:port[,size] line each.  A name that is not
// configured but has the form host:port is an address of its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tellix {

inline constexpr const char* kTcpSection = "TCP/IP";
inline constexpr uint16_t kDefaultMessageSize = 8192;
// A statement request carries 1796 data bytes after the 14-byte header.
inline constexpr uint16_t kMinMessageSize = 1810;
// The envelope's four-digit length field allows 9999 data bytes.
inline constexpr uint16_t kMaxMessageSize = 9999 + 14;

struct TcpAddress {
  std::string host;  // without brackets for IPv6 literals
  std::string port;
  uint16_t message_size = kDefaultMessageSize;
};

// "host:port", "[v6]:port", each optionally followed by ",size".  A size
// outside kMinMessageSize..kMaxMessageSize is brought to the nearest bound.
std::optional<TcpAddress> parse_tcp_address(std::string_view text);

// The configured names, in file order.
std::vector<std::string> tcp_connection_names();

// The address for a connection name: its configured value, else the name
// itself read as an address.
std::optional<TcpAddress> resolve_tcp_connection(std::string_view name);

}  // namespace tellix
