// Private profile files ("quarl.ini", "tellix.ini", settings files named by
// clients) with the semantics of the Win32 profile calls: a null section lists
// the section names and a null key the keys of a section (names separated by
// zero bytes, a second zero byte last); writing a null value deletes the key
// and a null key deletes the section; comments and the order of untouched
// lines are kept.  A file name without a folder lives in the profile
// directory.  "ODBC.INI" never goes through here: it is unixODBC's.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarl::platform {

// GetPrivateProfileString: the number of characters copied, terminator not
// counted (size - 1 when a value was cut, size - 2 when a list was cut).
size_t get_private_profile_string(const char* section, const char* key, const char* default_value,
                                  char* out, size_t size, std::string_view file);
// The value, or default_value when the key (or file) is missing.
std::string get_private_profile_string(std::string_view section, std::string_view key,
                                       std::string_view default_value, std::string_view file);
// GetPrivateProfileInt: default_value when missing; an optional sign and the
// leading digits of the value otherwise (0 when there are none).
int get_private_profile_int(const char* section, const char* key, int default_value, std::string_view file);
// WritePrivateProfileString.  False when the file cannot be written (errno
// says why; EINVAL for a null section).
bool write_private_profile_string(const char* section, const char* key, const char* value, std::string_view file);

// The parsed form of a profile file; lines that are not touched stay as they were.
class ProfileDocument {
 public:
  static ProfileDocument parse(std::string_view text);
  std::string text() const;

  std::optional<std::string> get(std::string_view section, std::string_view key) const;
  std::vector<std::string> sections() const;
  std::vector<std::string> keys(std::string_view section) const;
  bool has_section(std::string_view section) const;

  void set(std::string_view section, std::string_view key, std::string_view value);
  void remove_key(std::string_view section, std::string_view key);
  void remove_section(std::string_view section);

 private:
  struct Line {
    std::string raw;  // without its line end
    bool crlf = false;
  };
  std::vector<Line> lines_;
  bool final_newline_ = true;
  bool crlf_ = false;

  // [first, end) of the lines of the first section named so (header included);
  // nullopt when absent.
  std::optional<std::pair<size_t, size_t>> find_section(std::string_view section) const;
  std::optional<size_t> find_key(size_t first, size_t end, std::string_view key) const;
};

// The file's document (empty when the file is missing), and the two lookups
// above on it: a caller that needs several keys of one file reads it once.
ProfileDocument read_profile_document(std::string_view file);
size_t get_profile_string(const ProfileDocument& doc, const char* section, const char* key,
                          const char* default_value, char* out, size_t size);
int get_profile_int(const ProfileDocument& doc, const char* section, const char* key, int default_value);

}  // namespace quarl::platform
