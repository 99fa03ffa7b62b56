#include "rpc/shared_variables.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/platform/system.h"
#include "rpc/item_list.h"

namespace quarl::rpc {

std::string variable_file_name() {
  auto name = platform::environment(kVariableFileEnv);
  return name && !name->empty() ? *name : std::string(kVariableFileName);
}

Status SharedVariables::open_file() {
  if (file_.is_open()) return kOk;
  switch (file_.open(variable_file_name(), kVariableMutexName, kVariableEntries * kVariableEntrySize)) {
    case platform::SharedMemory::Open::Ok:
      return kOk;
    case platform::SharedMemory::Open::CannotCreate:
      return error_.fail("Cannot create variable file");
    case platform::SharedMemory::Open::CannotMap:
      return error_.fail("Cannot map variable file");
  }
  return kFailed;
}

uint64_t SharedVariables::value_at(size_t entry) const {
  const unsigned char* p = file_.data() + entry + kVariableNameField;
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

void SharedVariables::set_value_at(size_t entry, uint64_t value) {
  unsigned char* p = file_.data() + entry + kVariableNameField;
  for (int i = 0; i < 8; ++i, value >>= 8) p[i] = static_cast<unsigned char>(value);
}

std::optional<size_t> SharedVariables::find(const std::string& name, bool create) {
  std::optional<size_t> free_entry;
  for (size_t k = 0; k < kVariableEntries; ++k) {
    size_t entry = k * kVariableEntrySize;
    const char* stored = reinterpret_cast<const char*>(file_.data() + entry);
    // Another process's damaged entry may lack its zero byte.
    std::string_view stored_name(stored, strnlen(stored, kVariableNameField));
    if (stored_name.empty()) {
      if (!free_entry) free_entry = entry;
      continue;
    }
    if (stored_name == name) return entry;
  }
  if (!create) {
    error_.fail("Cannot find variable " + name);
    return std::nullopt;
  }
  if (!free_entry) {
    error_.fail("no free variable entries");
    return std::nullopt;
  }
  unsigned char* p = file_.data() + *free_entry;
  std::memset(p, 0, kVariableNameField);
  std::memcpy(p, name.data(), name.size());
  set_value_at(*free_entry, 0);
  return free_entry;
}

namespace {

// The value item: blank (0), or an optional sign and digits whose value an
// unsigned 64-bit counter holds (a negative value as its bit pattern: -1 is
// the largest).  Anything else would be stored as a number it is not.
std::optional<uint64_t> variable_value(std::string_view text) {
  if (text.empty()) return 0;
  bool negative = text[0] == '-';
  if (text[0] == '-' || text[0] == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  uint64_t magnitude = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    unsigned digit = unsigned(c - '0');
    if (magnitude > (UINT64_MAX - digit) / 10) return std::nullopt;
    magnitude = magnitude * 10 + digit;
  }
  if (negative && magnitude > uint64_t(INT64_MAX) + 1) return std::nullopt;
  return negative ? ~magnitude + 1 : magnitude;
}

// The name item as it is stored: cut at a zero byte.
std::string variable_name(ItemList& items) {
  std::string name = items.next();
  if (auto zero = name.find('\0'); zero != std::string::npos) name.resize(zero);
  return name;
}

}  // namespace

Status SharedVariables::set_variable(Buffer buffer) {
  if (Status s = open_file()) return s;
  platform::SharedMemoryLock lock(file_);
  if (!lock.held()) return error_.fail("Cannot lock variable file");
  ItemList items(buffer);
  std::string name = variable_name(items);
  if (name.size() > kVariableNameMax) return error_.fail("Variable " + name + " exceeds 17 characters");
  // An empty name would match a free entry and the value would be lost.
  if (name.empty()) return error_.fail("Variable name expected");
  const std::string value_text = items.next();
  auto value = variable_value(value_text);
  if (!value) return error_.fail("Value " + value_text + " of variable " + name + " is not a whole number");
  auto entry = find(name, true);
  if (!entry) return kFailed;
  set_value_at(*entry, *value);
  return kOk;
}

Status SharedVariables::read_or_bump(Buffer buffer, bool bump) {
  if (Status s = open_file()) return s;
  ItemList items(buffer);
  std::string name = variable_name(items);
  int64_t width = leading_integer(items.next());
  if (name.empty()) return error_.fail("Variable name expected");
  uint64_t value;
  {
    platform::SharedMemoryLock lock(file_);
    if (!lock.held()) return error_.fail("Cannot lock variable file");
    auto entry = find(name, false);
    if (!entry) return kFailed;
    value = value_at(*entry);
    if (bump) set_value_at(*entry, ++value);  // wraps from the largest value to 0
  }
  std::string digits = std::to_string(value);
  // Zero-padded to the width, never beyond what the buffer shows.
  size_t pad = width > int64_t(digits.size()) ? std::min<uint64_t>(uint64_t(width) - digits.size(), buffer.size()) : 0;
  buffer.put(std::string(pad, '0') + digits);
  return kOk;
}

Status SharedVariables::get_variable(Buffer buffer) { return read_or_bump(buffer, false); }
Status SharedVariables::bump_variable(Buffer buffer) { return read_or_bump(buffer, true); }

}  // namespace quarl::rpc
