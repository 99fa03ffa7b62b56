#include "hostlink/provider_link.h"

#include <cstring>

namespace quarl::hostlink {

std::vector<std::string> list_providers() {
  char buffer[1024] = {};
  ShellListProviders(buffer, sizeof buffer - 1);
  std::vector<std::string> names;
  for (const char* p = buffer; *p; p += std::strlen(p) + 1) names.emplace_back(p);
  return names;
}

ProviderLink::~ProviderLink() { close(); }

ProviderStep ProviderLink::open(const char* provider, const char* connection, int32_t connect_timeout) {
  index = ShellFindProvider(provider);
  if (index < 0) return ProviderStep::Find;
  if (ShellLoadProvider(index, &table) != 0) return ProviderStep::Load;
  loaded = true;
  if (!table.open || table.open() != 0) {
    close_and_unload();
    return ProviderStep::Open;
  }
  opened = true;
  connect_error.clear();
  connect_result = table.connect ? table.connect(&handle, connection, connect_timeout) : TELLIX_ERROR;
  if (connect_result != 0) {
    connect_error = last_error();  // asked before the provider is unloaded
    close_and_unload();
    return ProviderStep::Connect;
  }
  connected = true;
  info = ProviderInfo{};
  if (table.get_info) table.get_info(handle, &info);
  return ProviderStep::None;
}

std::string ProviderLink::last_error() const {
  if (!loaded) return {};
  return provider_error_text(table);
}

std::string provider_error_text(const ProviderTable& table) {
  if (!table.last_error) return {};
  char text[512] = {};
  if (table.last_error(text, sizeof text) != 0) return {};
  return std::string(text, strnlen(text, sizeof text));
}

void ProviderLink::disconnect() {
  if (connected && table.disconnect) table.disconnect(handle);
  connected = false;
  handle = 0;
}

void ProviderLink::close_and_unload() {
  if (opened && table.close) table.close();
  opened = false;
  if (loaded) ShellUnloadProvider(index);
  loaded = false;
}

uint8_t ProviderLink::send_raw(const char* bytes, uint16_t length, uint8_t timeout) const {
  if (!connected || !table.send) return TELLIX_ERROR;
  return table.send(handle, bytes, length, timeout);
}

uint8_t ProviderLink::receive_raw(std::string_view& message, uint8_t timeout) const {
  message = {};
  if (!connected || !table.receive) return TELLIX_ERROR;
  char* data = nullptr;
  uint16_t length = 0;
  uint8_t rc = table.receive(handle, &data, &length, timeout);
  if (rc != 0) return rc;
  if (data == nullptr && length != 0) {
    release_raw();
    return TELLIX_ERROR;
  }
  message = std::string_view(data ? data : "", length);
  return 0;
}

void ProviderLink::release_raw() const {
  if (connected && table.release) table.release(handle);
}

}  // namespace quarl::hostlink
