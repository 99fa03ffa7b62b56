#include "rpc/field_dialog.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <vector>

#include "common/platform/msgbox.h"
#include "common/platform/profile.h"

namespace quarl::rpc {
namespace {

using namespace quarl::platform;

constexpr const char* kSettingsFile = "quarl.ini";
constexpr const char* kSection = "rpc";
constexpr const char* kKey = "WindowPos";
constexpr size_t kReadLimit = 30000;  // more than any buffer holds

constexpr ControlTemplate kControls[] = {
    {kFieldEditControl, ControlKind::Edit, "", {0, 2, 198, 124}, kCtlMultiLine | kCtlBorder},
    {kIdOk, ControlKind::DefaultPushButton, "OK", {198, 2, 50, 14}, kCtlHidden},
};
constexpr DialogTemplate kTemplate{kFieldDialogResource,
                                   "Edit your field",
                                   {0, 0, 248, 126},
                                   "MS Sans Serif",
                                   8,
                                   kDlgPopup | kDlgCaption | kDlgSystemMenu | kDlgResizable,
                                   kControls};

// The dialog being shown (one at a time in a process).
struct FieldEdit {
  std::string caption, text;
  size_t limit = 0;
  std::string result;
};
FieldEdit* current = nullptr;

void fill_client(DialogHandle dialog) {
  DialogRect client = client_rect(dialog);
  move_item(dialog, kFieldEditControl, {0, 0, client.width, client.height});
}

intptr_t on_init(DialogHandle dialog, FieldEdit& edit) {
  auto stored = get_private_profile_string(kSection, kKey, "", kSettingsFile);
  if (auto placement = parse_window_placement(stored)) {
    set_window_placement(dialog, *placement);
  } else {
    // The first time: in the middle of the screen.
    DialogRect screen = window_rect(nullptr), self = window_rect(dialog);
    move_window(dialog, screen.x + std::max(0, (screen.width - self.width) / 2),
                screen.y + std::max(0, (screen.height - self.height) / 2));
  }
  set_window_text(dialog, edit.caption.empty() ? std::string_view("Edit") : std::string_view(edit.caption));
  fill_client(dialog);
  set_item_text(dialog, kFieldEditControl, edit.text);
  limit_item_text(dialog, kFieldEditControl, edit.limit);
  set_focus(dialog, kFieldEditControl);
  set_caret(dialog, kFieldEditControl, 0);
  return 0;  // the focus is set
}

intptr_t on_ok(DialogHandle dialog, FieldEdit& edit) {
  std::string text = get_item_text(dialog, kFieldEditControl, kReadLimit);
  if (text.size() > kFieldTextMax) {
    message_box(dialog, "Please enter no more than " + std::to_string(kFieldTextMax) + " characters.", "quarlrpc",
                kMbOk | kMbIconExclamation);
    set_focus(dialog, kFieldEditControl);
    return 1;
  }
  if (auto placement = get_window_placement(dialog)) {
    write_private_profile_string(kSection, kKey, format_window_placement(*placement).c_str(), kSettingsFile);
  } else {
    write_private_profile_string(kSection, kKey, nullptr, kSettingsFile);
  }
  edit.result = std::move(text);
  end_dialog(dialog, kIdOk);
  return 1;
}

intptr_t field_dialog_proc(DialogHandle dialog, unsigned message, uintptr_t wparam, intptr_t) {
  try {
    if (!current) return 0;
    switch (message) {
      case kWmInitDialog: return on_init(dialog, *current);
      case kWmSize: fill_client(dialog); return 1;
      case kWmCommand:
        if (command_notification(wparam) != kBnClicked) return 0;
        if (command_id(wparam) == kIdOk) return on_ok(dialog, *current);
        if (command_id(wparam) == kIdCancel) {
          end_dialog(dialog, kIdCancel);
          return 1;
        }
        return 0;
      default: return 0;
    }
  } catch (...) {
    end_dialog(dialog, kIdCancel);
    return 1;
  }
}

bool parse_number(std::string_view field, int64_t& out) {
  while (!field.empty() && field.front() == ' ') field.remove_prefix(1);
  while (!field.empty() && field.back() == ' ') field.remove_suffix(1);
  if (!field.empty() && field.front() == '+') field.remove_prefix(1);
  if (field.empty()) return false;
  auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), out);
  return ec == std::errc() && end == field.data() + field.size() && out >= INT32_MIN && out <= INT32_MAX;
}

}  // namespace

const platform::DialogTemplate& field_dialog_template() { return kTemplate; }

std::optional<platform::WindowPlacement> parse_window_placement(std::string_view text) {
  std::vector<int64_t> numbers;
  for (size_t at = 0;;) {
    size_t comma = text.find(',', at);
    int64_t n = 0;
    if (!parse_number(text.substr(at, comma == std::string_view::npos ? std::string_view::npos : comma - at), n))
      return std::nullopt;
    numbers.push_back(n);
    if (comma == std::string_view::npos) break;
    at = comma + 1;
  }
  if (numbers.size() != 10 || numbers[0] < 0 || numbers[1] < 0) return std::nullopt;
  platform::WindowPlacement p;
  p.flags = static_cast<unsigned>(numbers[0]);
  p.show = static_cast<unsigned>(numbers[1]);
  int* fields[] = {&p.min_x, &p.min_y, &p.max_x, &p.max_y, &p.left, &p.top, &p.right, &p.bottom};
  for (size_t i = 0; i < 8; ++i) *fields[i] = static_cast<int>(numbers[i + 2]);
  return p;
}

std::string format_window_placement(const platform::WindowPlacement& p) {
  char text[160];
  std::snprintf(text, sizeof text, "%u,%u,%d,%d,%d,%d,%d,%d,%d,%d", p.flags, p.show, p.min_x, p.min_y, p.max_x,
                p.max_y, p.left, p.top, p.right, p.bottom);
  return text;
}

std::optional<std::string> edit_long_field(std::string_view caption, std::string_view text, size_t limit) {
  FieldEdit edit{std::string(caption), std::string(text), limit, {}};
  current = &edit;
  intptr_t answer = dialog_box(kTemplate, nullptr, field_dialog_proc, 0);
  current = nullptr;
  if (answer != kIdOk) return std::nullopt;
  return std::move(edit.result);
}

}  // namespace quarl::rpc
