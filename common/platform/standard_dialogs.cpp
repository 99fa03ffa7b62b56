#include "common/platform/standard_dialogs.h"

namespace quarl::platform {

std::optional<std::string> file_dialog(const FileDialogRequest& request) {
  Desktop* screen = desktop();
  return screen ? screen->file_dialog(request) : std::nullopt;
}

std::optional<Rgb> choose_color(const Rgb& initial) {
  Desktop* screen = desktop();
  return screen ? screen->choose_color(initial) : std::nullopt;
}

std::optional<FontChoice> choose_font(const FontChoice& initial) {
  Desktop* screen = desktop();
  return screen ? screen->choose_font(initial) : std::nullopt;
}

}  // namespace quarl::platform
