// Reading and atomically rewriting a profile file by name (bare names live in
// the profile directory).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quarl::platform {

std::optional<std::string> read_profile_file(std::string_view name);
// Reads the file (empty when missing), lets edit change the text and writes
// it back in one step, so concurrent writers in other processes do not lose
// each other's changes and readers never see half a file.
bool update_profile_file(std::string_view name, const std::function<void(std::string&)>& edit);

}  // namespace quarl::platform
