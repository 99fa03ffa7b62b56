// The field edit dialog (resource 129 "Edit your field"): a resizable
// dialog whose one multi-line edit fills it.  Its window placement is kept
// in "quarl.ini", section "rpc", key "WindowPos", as ten numbers: flags,
// show state, minimised x and y, maximised x and y, and the restored
// rectangle's left, top, right and bottom.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/platform/dialog.h"

namespace quarl::rpc {

inline constexpr int kFieldDialogResource = 129;
inline constexpr int kFieldEditControl = 1000;
// Longer text is refused on OK, and the dialog stays open.
inline constexpr size_t kFieldTextMax = 9999;

const platform::DialogTemplate& field_dialog_template();

// "0,1,-1,-1,-1,-1,10,20,510,320": exactly ten whole numbers separated by
// commas (blanks around each allowed), the first two not negative.
std::optional<platform::WindowPlacement> parse_window_placement(std::string_view text);
std::string format_window_placement(const platform::WindowPlacement& placement);

// Shows the dialog captioned caption ("Edit" when empty) on text, at most
// limit bytes long; the edited text after OK, nullopt when cancelled (or
// when no dialog can be shown).
std::optional<std::string> edit_long_field(std::string_view caption, std::string_view text, size_t limit);

}  // namespace quarl::rpc
