#include "common/platform/profile.h"

#include <cerrno>
#include <cstring>

#include "common/platform/profile_file.h"
#include "common/text.h"

namespace quarl::platform {
namespace {

// Lines may end in CR LF.
std::string_view trim(std::string_view s) { return quarl::trim(s, " \t\r"); }

// A section header's name, if the line is one.
std::optional<std::string_view> header_name(std::string_view line) {
  std::string_view t = trim(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  size_t close = t.find(']');
  std::string_view name = close == std::string_view::npos ? t.substr(1) : t.substr(1, close - 1);
  return trim(name);
}

bool is_comment(std::string_view line) {
  std::string_view t = trim(line);
  return t.empty() || t.front() == ';' || t.front() == '#';
}

// key=value split of a line; nullopt for lines without '='.
std::optional<std::pair<std::string_view, std::string_view>> split_entry(std::string_view line) {
  if (is_comment(line)) return std::nullopt;
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  std::string_view value = trim(line.substr(eq + 1));
  // Matching quotes around a value are not part of it.
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return std::make_pair(trim(line.substr(0, eq)), value);
}

// Copies a list of names as zero-separated text ended by a second zero.
size_t copy_list(const std::vector<std::string>& names, char* out, size_t size) {
  if (size == 0) return 0;
  if (size == 1) {
    out[0] = '\0';
    return 0;
  }
  size_t at = 0;
  for (const auto& name : names) {
    // room for the name, its zero and the final zero
    if (at + name.size() + 2 > size) {
      if (size - 2 > at) std::memcpy(out + at, name.data(), size - 2 - at);
      out[size - 2] = '\0';
      out[size - 1] = '\0';
      return size - 2;
    }
    std::memcpy(out + at, name.data(), name.size());
    at += name.size();
    out[at++] = '\0';
  }
  out[at] = '\0';
  if (names.empty() && size > 1) out[1] = '\0';
  return at;
}

size_t copy_value(std::string_view value, char* out, size_t size) {
  if (size == 0) return 0;
  size_t n = value.size() < size - 1 ? value.size() : size - 1;
  std::memcpy(out, value.data(), n);
  out[n] = '\0';
  return n;
}

}  // namespace

ProfileDocument ProfileDocument::parse(std::string_view text) {
  ProfileDocument doc;
  size_t at = 0;
  bool first = true;
  while (at < text.size()) {
    size_t nl = text.find('\n', at);
    bool has_end = nl != std::string_view::npos;
    std::string_view line = text.substr(at, has_end ? nl - at : text.size() - at);
    Line l;
    l.crlf = !line.empty() && line.back() == '\r';
    if (l.crlf) line.remove_suffix(1);
    l.raw = std::string(line);
    if (first) doc.crlf_ = l.crlf;
    first = false;
    doc.lines_.push_back(std::move(l));
    if (!has_end) {
      doc.final_newline_ = false;
      break;
    }
    at = nl + 1;
  }
  return doc;
}

std::string ProfileDocument::text() const {
  std::string out;
  for (size_t i = 0; i < lines_.size(); ++i) {
    out += lines_[i].raw;
    if (i + 1 < lines_.size() || final_newline_) out += lines_[i].crlf ? "\r\n" : "\n";
  }
  return out;
}

std::optional<std::pair<size_t, size_t>> ProfileDocument::find_section(std::string_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    auto name = header_name(lines_[i].raw);
    if (!name || !iequals(*name, section)) continue;
    size_t end = i + 1;
    while (end < lines_.size() && !header_name(lines_[end].raw)) ++end;
    return std::make_pair(i, end);
  }
  return std::nullopt;
}

std::optional<size_t> ProfileDocument::find_key(size_t first, size_t end, std::string_view key) const {
  for (size_t i = first + 1; i < end; ++i) {
    auto entry = split_entry(lines_[i].raw);
    if (entry && iequals(entry->first, key)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> ProfileDocument::get(std::string_view section, std::string_view key) const {
  auto range = find_section(section);
  if (!range) return std::nullopt;
  auto line = find_key(range->first, range->second, key);
  if (!line) return std::nullopt;
  return std::string(split_entry(lines_[*line].raw)->second);
}

std::vector<std::string> ProfileDocument::sections() const {
  std::vector<std::string> names;
  for (const auto& line : lines_)
    if (auto name = header_name(line.raw)) names.emplace_back(*name);
  return names;
}

std::vector<std::string> ProfileDocument::keys(std::string_view section) const {
  std::vector<std::string> names;
  auto range = find_section(section);
  if (!range) return names;
  for (size_t i = range->first + 1; i < range->second; ++i)
    if (auto entry = split_entry(lines_[i].raw)) names.emplace_back(entry->first);
  return names;
}

bool ProfileDocument::has_section(std::string_view section) const { return find_section(section).has_value(); }

void ProfileDocument::set(std::string_view section, std::string_view key, std::string_view value) {
  std::string entry = std::string(key) + "=" + std::string(value);
  auto range = find_section(section);
  if (!range) {
    if (!lines_.empty() && !final_newline_) final_newline_ = true;
    lines_.push_back(Line{"[" + std::string(section) + "]", crlf_});
    lines_.push_back(Line{entry, crlf_});
    final_newline_ = true;
    return;
  }
  if (auto line = find_key(range->first, range->second, key)) {
    lines_[*line].raw = entry;
    return;
  }
  // After the last non-blank line of the section.
  size_t at = range->second;
  while (at > range->first + 1 && trim(lines_[at - 1].raw).empty()) --at;
  lines_.insert(lines_.begin() + static_cast<long>(at), Line{entry, crlf_});
  if (at == lines_.size() - 1) final_newline_ = true;
}

void ProfileDocument::remove_key(std::string_view section, std::string_view key) {
  auto range = find_section(section);
  if (!range) return;
  if (auto line = find_key(range->first, range->second, key)) lines_.erase(lines_.begin() + static_cast<long>(*line));
}

void ProfileDocument::remove_section(std::string_view section) {
  auto range = find_section(section);
  if (!range) return;
  lines_.erase(lines_.begin() + static_cast<long>(range->first), lines_.begin() + static_cast<long>(range->second));
}

ProfileDocument read_profile_document(std::string_view file) {
  return ProfileDocument::parse(read_profile_file(file).value_or(std::string()));
}

size_t get_profile_string(const ProfileDocument& doc, const char* section, const char* key,
                          const char* default_value, char* out, size_t size) {
  if (out == nullptr) return 0;
  if (section == nullptr) return copy_list(doc.sections(), out, size);
  if (key == nullptr) return copy_list(doc.keys(section), out, size);
  if (auto value = doc.get(section, key)) return copy_value(*value, out, size);
  std::string_view def = default_value ? default_value : "";
  while (!def.empty() && def.back() == ' ') def.remove_suffix(1);
  return copy_value(def, out, size);
}

int get_profile_int(const ProfileDocument& doc, const char* section, const char* key, int default_value) {
  if (!section || !key) return default_value;
  auto value = doc.get(section, key);
  if (!value) return default_value;
  const char* p = value->c_str();
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  unsigned result = 0;
  for (; *p >= '0' && *p <= '9'; ++p) result = result * 10u + static_cast<unsigned>(*p - '0');
  return static_cast<int>(negative ? 0u - result : result);
}

size_t get_private_profile_string(const char* section, const char* key, const char* default_value, char* out,
                                  size_t size, std::string_view file) {
  if (out == nullptr) return 0;
  return get_profile_string(read_profile_document(file), section, key, default_value, out, size);
}

std::string get_private_profile_string(std::string_view section, std::string_view key,
                                       std::string_view default_value, std::string_view file) {
  auto text = read_profile_file(file);
  if (!text) return std::string(default_value);
  return ProfileDocument::parse(*text).get(section, key).value_or(std::string(default_value));
}

int get_private_profile_int(const char* section, const char* key, int default_value, std::string_view file) {
  if (!section || !key) return default_value;
  return get_profile_int(read_profile_document(file), section, key, default_value);
}

bool write_private_profile_string(const char* section, const char* key, const char* value, std::string_view file) {
  if (section == nullptr) {
    errno = EINVAL;
    return false;
  }
  return update_profile_file(file, [&](std::string& text) {
    ProfileDocument doc = ProfileDocument::parse(text);
    if (key == nullptr) doc.remove_section(section);
    else if (value == nullptr) doc.remove_key(section, key);
    else doc.set(section, key, value);
    text = doc.text();
  });
}

}  // namespace quarl::platform
