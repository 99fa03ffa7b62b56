#include "setup/installer.h"

#include <odbcinst.h>

#include <algorithm>
#include <cstring>

#include "common/platform/shared_library.h"
#include "common/text.h"

namespace quarl::setup {

struct Installer::Functions {
  decltype(&::SQLWriteDSNToIni) write_dsn;
  decltype(&::SQLRemoveDSNFromIni) remove_dsn;
  decltype(&::SQLGetPrivateProfileString) get_string;
  decltype(&::SQLWritePrivateProfileString) write_string;
  decltype(&::SQLPostInstallerError) post_error;
};

namespace {

constexpr const char* kOdbcIni = "ODBC.INI";
constexpr const char* kLibraryNames[] = {"libodbcinst.so.2", "libodbcinst.so"};
constexpr size_t kValueBuffer = 256;
constexpr size_t kLargestBuffer = 1 << 20;

template <typename F>
bool resolve(const platform::SharedLibrary& library, const char* name, F& out) {
  out = reinterpret_cast<F>(library.symbol(name));
  return out != nullptr;
}

// Loads the library once; stays loaded while this library is.
const Installer* load() {
  static platform::SharedLibrary library;
  static Installer::Functions functions{};
  for (const char* name : kLibraryNames)
    if (library.open(name)) break;
  if (!library.loaded()) return nullptr;
  if (!resolve(library, "SQLWriteDSNToIni", functions.write_dsn) ||
      !resolve(library, "SQLRemoveDSNFromIni", functions.remove_dsn) ||
      !resolve(library, "SQLGetPrivateProfileString", functions.get_string) ||
      !resolve(library, "SQLWritePrivateProfileString", functions.write_string) ||
      !resolve(library, "SQLPostInstallerError", functions.post_error))
    return nullptr;
  static Installer installer(&functions);
  return &installer;
}

}  // namespace

const Installer* Installer::get() {
  static const Installer* installer = load();
  return installer;
}

bool Installer::write_dsn(const char* dsn, const char* driver) const { return f_->write_dsn(dsn, driver) != 0; }

bool Installer::remove_dsn(const char* dsn) const { return f_->remove_dsn(dsn) != 0; }

std::string Installer::read(const char* section, const char* key, const char* default_value) const {
  char buffer[kValueBuffer] = {};
  f_->get_string(section, key, default_value, buffer, static_cast<int>(sizeof buffer), kOdbcIni);
  buffer[sizeof buffer - 1] = '\0';
  return buffer;
}

namespace {

// A profile read with a buffer that grows until the text fits (the profile
// call reports a cut text by filling the buffer to its last bytes).
std::string read_whole(const Installer::Functions& f, const char* section, const char* key) {
  std::string buffer(4096, '\0');
  for (;;) {
    int n = f.get_string(section, key, "", buffer.data(), static_cast<int>(buffer.size()), kOdbcIni);
    if (n < 0) n = 0;
    if (static_cast<size_t>(n) + 2 < buffer.size() || buffer.size() >= kLargestBuffer) {
      buffer.resize(std::min(static_cast<size_t>(n), buffer.size()));
      return buffer;
    }
    buffer.assign(buffer.size() * 2, '\0');
  }
}

// The NUL-separated names of a list read with a null key or section.
std::vector<std::string> split_names(const std::string& list) {
  std::vector<std::string> names;
  for (size_t at = 0; at < list.size();) {
    size_t end = list.find('\0', at);
    if (end == std::string::npos) end = list.size();
    if (end > at) names.push_back(list.substr(at, end - at));
    at = end + 1;
  }
  return names;
}

}  // namespace

bool Installer::has_section(const char* section) const {
  for (const auto& name : split_names(read_whole(*f_, nullptr, nullptr)))
    if (iequals(name, section)) return true;
  return false;
}

std::vector<std::pair<std::string, std::string>> Installer::entries(const char* section) const {
  std::vector<std::pair<std::string, std::string>> out;
  for (auto& key : split_names(read_whole(*f_, section, nullptr))) {
    std::string value = read_whole(*f_, section, key.c_str());
    value.resize(std::strlen(value.c_str()));
    out.emplace_back(std::move(key), std::move(value));
  }
  return out;
}

void Installer::write(const char* section, const char* key, const char* value) const {
  f_->write_string(section, key, value, kOdbcIni);
}

void Installer::post_error(unsigned code, const char* message) const { f_->post_error(code, message); }

}  // namespace quarl::setup
