// Asking the person at the terminal for a secret (a password): the prompt
// goes to the controlling terminal and what is typed is not echoed.
#pragma once

#include <optional>
#include <string>

namespace quarl::platform {

// One line typed at the controlling terminal without echo; nullopt when the
// process has no terminal or the input ended.
std::optional<std::string> read_secret_from_terminal(const std::string& prompt);

}  // namespace quarl::platform
