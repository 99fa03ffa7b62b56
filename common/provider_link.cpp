#include "common/host_channel.h"

namespace quarl {

ProviderLink::~ProviderLink() { close(); }

ProviderStep ProviderLink::open(const char* provider, const char* connection) {
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
  connect_result = table.connect ? table.connect(&handle, connection, 0) : TELLIX_ERROR;
  if (connect_result != 0) {
    connect_error = last_error();  // asked before the provider may be unloaded
    close_and_unload();
    return ProviderStep::Connect;
  }
  connected = true;
  info = ProviderInfo{};
  if (table.get_info) table.get_info(handle, &info);
  return ProviderStep::None;
}

std::string ProviderLink::last_error() const {
  if (!loaded || !table.last_error) return {};
  char text[512] = {};
  if (table.last_error(text, sizeof text) != 0) return {};
  text[sizeof text - 1] = '\0';
  return text;
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

}  // namespace quarl
