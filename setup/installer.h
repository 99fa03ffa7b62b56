// The ODBC installer library (unixODBC's libodbcinst), loaded at first use.
// Data sources are registered and removed through it, and their section of
// "ODBC.INI" is read and written through its profile functions, so that the
// installer's configuration mode (user or system data sources) decides where.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quarl::setup {

class Installer {
 public:
  // The loaded library, or null when it or one of its functions is missing.
  static const Installer* get();

  bool write_dsn(const char* dsn, const char* driver) const;
  bool remove_dsn(const char* dsn) const;
  // A key of the data source's section (at most 255 characters), or default_value.
  std::string read(const char* section, const char* key, const char* default_value) const;
  // Whether the section exists (names compared without regard to case).
  bool has_section(const char* section) const;
  // Every key of the section with its value, in file order.
  std::vector<std::pair<std::string, std::string>> entries(const char* section) const;
  // Writes a key; a null value deletes it.
  void write(const char* section, const char* key, const char* value) const;
  // Queues an error that the caller of the installer reads with SQLInstallerError.
  void post_error(unsigned code, const char* message) const;

  struct Functions;
  explicit Installer(const Functions* functions) : f_(functions) {}

 private:
  const Functions* f_;
};

}  // namespace quarl::setup
