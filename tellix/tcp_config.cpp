#include "tellix/tcp_config.h"

#include <charconv>

#include "common/platform/profile.h"
#include "common/platform/profile_file.h"
#include "common/text.h"

namespace tellix {
namespace {

constexpr const char* kSettingsFile = "tellix.ini";

using quarl::trim;

bool all_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

std::optional<quarl::platform::ProfileDocument> settings() {
  auto text = quarl::platform::read_profile_file(kSettingsFile);
  if (!text) return std::nullopt;
  return quarl::platform::ProfileDocument::parse(*text);
}

}  // namespace

std::optional<TcpAddress> parse_tcp_address(std::string_view text) {
  text = trim(text);
  TcpAddress address;
  if (size_t comma = text.find(','); comma != std::string_view::npos) {
    std::string_view size = trim(text.substr(comma + 1));
    text = trim(text.substr(0, comma));
    unsigned value = 0;
    auto [end, ec] = std::from_chars(size.data(), size.data() + size.size(), value);
    if (ec == std::errc::result_out_of_range) value = kMaxMessageSize;
    else if (ec != std::errc() || end != size.data() + size.size()) return std::nullopt;
    if (value < kMinMessageSize) value = kMinMessageSize;
    if (value > kMaxMessageSize) value = kMaxMessageSize;
    address.message_size = static_cast<uint16_t>(value);
  }
  size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view host = text.substr(0, colon), port = text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  else if (host.find(':') != std::string_view::npos) return std::nullopt;  // IPv6 needs brackets
  if (host.empty() || !all_digits(port) || port.size() > 5) return std::nullopt;
  unsigned number = 0;
  std::from_chars(port.data(), port.data() + port.size(), number);
  if (number == 0 || number > 65535) return std::nullopt;
  address.host = std::string(host);
  address.port = std::string(port);
  return address;
}

std::vector<std::string> tcp_connection_names() {
  auto doc = settings();
  if (!doc) return {};
  std::vector<std::string> names;
  for (auto& name : doc->keys(kTcpSection))
    if (!name.empty()) names.push_back(name);
  return names;
}

std::optional<TcpAddress> resolve_tcp_connection(std::string_view name) {
  name = trim(name);
  if (name.empty()) return std::nullopt;
  if (auto doc = settings()) {
    if (auto value = doc->get(kTcpSection, name)) return parse_tcp_address(*value);
  }
  return parse_tcp_address(name);
}

}  // namespace tellix
