// A provider connection reached through the communications shell: the steps
// that open it (find, load, open, connect, get_info), their undoing, and the
// raw transport over it that login scripts talk before HostMessages flow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tellix/tellix.h"

namespace quarl::hostlink {

// The steps of opening a provider connection, in order.
enum class ProviderStep { None, Find, Load, Open, Connect };

// The names of the installed providers, in the shell's order.
std::vector<std::string> list_providers();

// The provider's words for the calling thread's last failure (the table's
// last_error entry); empty when the provider has no such entry or nothing
// to tell.
std::string provider_error_text(const ProviderTable& table);

class ProviderLink {
 public:
  ProviderLink() = default;
  ProviderLink(const ProviderLink&) = delete;
  ProviderLink& operator=(const ProviderLink&) = delete;
  ~ProviderLink();

  // ShellFindProvider, ShellLoadProvider, open, connect and get_info.  On a
  // failure the earlier steps are undone in reverse and the failing step is
  // returned (ProviderStep::None on success).
  // connect_timeout: the longest wait for the host to answer, in seconds (0:
  // the provider's own).
  ProviderStep open(const char* provider, const char* connection, int32_t connect_timeout = 0);
  // disconnect (when connected).
  void disconnect();
  // close (when open) and ShellUnloadProvider (when loaded).
  void close_and_unload();
  // All of the above, in order.
  void close() {
    disconnect();
    close_and_unload();
  }

  // Raw bytes over the connection, without the HostMessage envelope.
  // Results are the provider's: 0 sent or received, TELLIX_TIMEOUT, else an error.
  uint8_t send_raw(const char* bytes, uint16_t length, uint8_t timeout) const;
  // A received message is lent by the provider until release_raw.
  uint8_t receive_raw(std::string_view& message, uint8_t timeout) const;
  void release_raw() const;

  int32_t index = -1;
  ProviderTable table{};
  uint8_t handle = 0;
  ProviderInfo info{};
  uint8_t connect_result = 0;  // the provider's code when connect failed
  std::string connect_error;   // the provider's words when connect failed (may be empty)
  bool loaded = false, opened = false, connected = false;

  // The provider's words for its last failure on this thread (for TCP/IP:
  // which address and the system's reason); empty when it has none or tells
  // nothing more than its result codes.  Only while the provider is loaded.
  std::string last_error() const;

  // The message size of the connection: the smaller of the two get_info sizes.
  uint16_t message_size() const { return info.size_a < info.size_b ? info.size_a : info.size_b; }
};

}  // namespace quarl::hostlink
