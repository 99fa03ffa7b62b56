// The communications shell: the built-in "TCP/IP" provider first, then the
// providers listed in section "providers" of "tellix.ini" (name=library path),
// in file order.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/platform/profile.h"
#include "common/platform/profile_file.h"
#include "common/platform/shared_library.h"
#include "common/text.h"
#include "tellix/tcp_provider.h"
#include "tellix/tellix.h"

namespace {

constexpr const char* kSettingsFile = "tellix.ini";

struct Entry {
  std::string name;
  std::string path;  // empty for the built-in provider
};

struct Loaded {
  quarl::platform::SharedLibrary library;
  int users = 0;
};

std::mutex mutex;
std::vector<Entry> registry;
std::map<std::string, Loaded> loaded;  // by library path ("" for the built-in one)

// Re-reads the list: the settings file may change while the process runs.
void refresh() {
  registry.clear();
  registry.push_back({tellix::kTcpProviderName, {}});
  auto text = quarl::platform::read_profile_file(kSettingsFile);
  if (!text) return;
  auto doc = quarl::platform::ProfileDocument::parse(*text);
  for (const auto& name : doc.keys("providers")) {
    if (name.empty() || quarl::iequals(name, tellix::kTcpProviderName)) continue;
    auto path = doc.get("providers", name);
    if (path && !path->empty()) registry.push_back({name, *path});
  }
}

}  // namespace

extern "C" {

TELLIX_API void ShellListProviders(char* buffer, uint16_t size) {
  if (!buffer || size == 0) return;
  std::lock_guard lock(mutex);
  refresh();
  size_t at = 0;
  for (const auto& e : registry) {
    if (at + e.name.size() + 2 > size) break;  // the name, its zero and the closing empty name
    std::memcpy(buffer + at, e.name.c_str(), e.name.size() + 1);
    at += e.name.size() + 1;
  }
  buffer[at] = '\0';
}

TELLIX_API int8_t ShellFindProvider(const char* name) {
  if (!name) return -1;
  std::lock_guard lock(mutex);
  refresh();
  for (size_t i = 0; i < registry.size() && i < 127; ++i)
    if (quarl::iequals(registry[i].name, name)) return static_cast<int8_t>(i);
  return -1;
}

TELLIX_API const char* ShellProviderName(int32_t index) {
  static thread_local std::string name;
  std::lock_guard lock(mutex);
  if (registry.empty()) refresh();
  name = index >= 0 && static_cast<size_t>(index) < registry.size() ? registry[static_cast<size_t>(index)].name
                                                                      : std::string();
  return name.c_str();
}

TELLIX_API uint8_t ShellLoadProvider(int32_t index, ProviderTable* table) {
  if (!table) return TELLIX_ERROR;
  std::lock_guard lock(mutex);
  if (registry.empty()) refresh();
  if (index < 0 || static_cast<size_t>(index) >= registry.size()) return TELLIX_ERROR;
  const Entry& entry = registry[static_cast<size_t>(index)];
  *table = ProviderTable{};
  if (entry.path.empty()) {
    uint8_t rc = tellix::tcp_provider_load(table);
    if (rc == 0) ++loaded[""].users;
    return rc;
  }
  Loaded& slot = loaded[entry.path];
  if (!slot.library.loaded() && !slot.library.open(entry.path)) return TELLIX_ERROR;
  auto load = reinterpret_cast<TellixProviderLoadFn>(slot.library.symbol(TELLIX_PROVIDER_LOAD_SYMBOL));
  uint8_t rc = load ? load(table) : TELLIX_ERROR;
  if (rc == 0) ++slot.users;
  else if (slot.users == 0) loaded.erase(entry.path);
  return rc;
}

TELLIX_API void ShellUnloadProvider(int32_t index) {
  std::lock_guard lock(mutex);
  if (index < 0 || static_cast<size_t>(index) >= registry.size()) return;
  const Entry& entry = registry[static_cast<size_t>(index)];
  auto it = loaded.find(entry.path);
  if (it == loaded.end() || it->second.users == 0) return;
  if (--it->second.users > 0) return;
  if (entry.path.empty()) {
    tellix::tcp_provider_unload();
  } else if (auto unload = reinterpret_cast<TellixProviderUnloadFn>(
                 it->second.library.symbol(TELLIX_PROVIDER_UNLOAD_SYMBOL))) {
    unload();
  }
  loaded.erase(it);
}

}  // extern "C"
