#include "common/platform/shell.h"

#include <cctype>
#include <filesystem>

#include "common/platform/desktop.h"
#include "common/platform/system.h"

namespace quarl::platform {

bool is_uri(std::string_view text) {
  // A scheme is a letter followed by letters, digits, "+", "-" or "."; one
  // letter before ":" is a drive rather than a scheme.
  size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon < 2 || !std::isalpha(static_cast<unsigned char>(text[0])))
    return false;
  for (size_t i = 1; i < colon; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

int open_document(std::string_view target, std::string_view fragment) {
  std::string what(target);
  if (!is_uri(target)) {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(std::filesystem::path(what), ec);
    if (ec) return kShellPathNotFound;
    auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status)) {
      std::error_code dir_ec;
      return path.has_parent_path() && std::filesystem::is_directory(path.parent_path(), dir_ec) ? kShellFileNotFound
                                                                                                  : kShellPathNotFound;
    }
    if (!can_read(path)) return kShellAccessDenied;
    what = path.lexically_normal().string();
  }
  Desktop* screen = desktop();
  if (!screen) return kShellNoAssociation;
  return screen->open_document(what, std::string(fragment));
}

}  // namespace quarl::platform
