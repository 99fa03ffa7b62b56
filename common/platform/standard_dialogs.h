// The desktop's standard dialogs: open and save file, colour, font.  Each is
// modal, with no owner window.  Headless (or when the dialog cannot be
// shown) each ends as cancelled: nullopt.
#pragma once

#include <optional>
#include <string>

#include "common/platform/desktop.h"

namespace quarl::platform {

std::optional<std::string> file_dialog(const FileDialogRequest& request);
std::optional<Rgb> choose_color(const Rgb& initial);
std::optional<FontChoice> choose_font(const FontChoice& initial);

}  // namespace quarl::platform
