// Files that only the running user can have written, for inputs that steer
// the libraries (a dialog script) and outputs that may hold secrets.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quarl::platform {

// The contents of a regular file owned by the running user that neither its
// group nor others may write; nullopt with the reason in why otherwise.
std::optional<std::string> read_private_file(const std::filesystem::path& path, std::string* why);
// Appends text, creating the file readable and writable by its owner only.
bool append_private_file(const std::filesystem::path& path, std::string_view text);

}  // namespace quarl::platform
