#include "setup/setup_dialog.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "common/scramble.h"
#include "common/text.h"
#include "tellix/tellix.h"

namespace quarl::setup {
namespace {

using namespace quarl::platform;

constexpr ControlTemplate kControls[] = {
    {kIdcDsnLabel, ControlKind::Label, "Data &Source", {7, 10, 41, 8}, 0},
    {kIdcDsn, ControlKind::Edit, "", {54, 7, 183, 14}, kCtlAutoScroll},
    {kIdcDescriptionLabel, ControlKind::Label, "&Description", {7, 30, 36, 8}, 0},
    {kIdcDescription, ControlKind::Edit, "", {54, 27, 183, 14}, 0},
    {kIdcClientConfigLabel, ControlKind::Label, "Client Configuration &File", {7, 49, 74, 8}, 0},
    {kIdcClientConfig, ControlKind::Edit, "", {87, 47, 183, 14}, 0},
    {kIdcUidLabel, ControlKind::Label, "&User ID", {7, 70, 25, 8}, 0},
    {kIdcUid, ControlKind::Edit, "", {37, 67, 64, 15}, 0},
    {kIdcPwdLabel, ControlKind::Label, "P&assword", {111, 70, 32, 8}, 0},
    {kIdcPwd, ControlKind::Edit, "", {149, 67, 64, 15}, kCtlPassword},
    {kIdcChargeCodeLabel, ControlKind::Label, "Chargecode", {7, 92, 40, 8}, 0},
    {kIdcChargeCode, ControlKind::Edit, "", {52, 89, 112, 15}, 0},
    {kIdcCommunications, ControlKind::GroupBox, "Communications", {7, 112, 288, 51}, 0},
    {kIdcProviderLabel, ControlKind::Label, "&Provider", {12, 127, 27, 8}, 0},
    {kIdcProvider, ControlKind::DropDownList, "", {76, 124, 151, 64}, kCtlVScroll},
    {kIdcConfigure, ControlKind::PushButton, "Configure", {236, 123, 50, 14}, kCtlDisabled},
    {kIdcConnectionLabel, ControlKind::Label, "&Connection Name", {12, 144, 58, 8}, 0},
    {kIdcConnection, ControlKind::DropDownList, "", {76, 142, 151, 64}, kCtlVScroll},
    {kIdOk, ControlKind::DefaultPushButton, "OK", {280, 7, 50, 14}, 0},
    {kIdCancel, ControlKind::PushButton, "Cancel", {280, 24, 50, 14}, 0},
};

constexpr DialogTemplate kTemplate{kSetupDialogResource,
                                   "Quarl ODBC Setup",
                                   {55, 31, 337, 177},
                                   "MS Sans Serif",
                                   8,
                                   kDlgPopup | kDlgCaption | kDlgSystemMenu | kDlgModalFrame,
                                   kControls};

constexpr size_t kDsnFieldLimit = 32;
constexpr size_t kTextFieldLimit = 255;
constexpr size_t kShortFieldLimit = 17;
constexpr uint16_t kConnectionListSize = 512;

// The edit fields after the data source name, in the order the dialog fills them.
struct Field {
  int attribute, control, label;
  size_t limit;
};
constexpr Field kFields[] = {
    {kAttrDescription, kIdcDescription, kIdcDescriptionLabel, kTextFieldLimit},
    {kAttrClientConfig, kIdcClientConfig, kIdcClientConfigLabel, kTextFieldLimit},
    {kAttrUid, kIdcUid, kIdcUidLabel, kShortFieldLimit},
    {kAttrPwd, kIdcPwd, kIdcPwdLabel, kShortFieldLimit},
    {kAttrChargeCode, kIdcChargeCode, kIdcChargeCodeLabel, kShortFieldLimit},
};

// The dialog's own state, set up at WM_INITDIALOG.
struct DialogState {
  int current_provider = 0;
  int loaded_provider = -1;  // the provider whose connection names are shown; -1 none
  int selected_connection = -1;
  bool default_dsn = false;
  bool communications_fixed = false;
  std::vector<std::string> connections;
  ProviderTable table{};
};

DialogState state;

void replace_semicolons(std::string& text) { std::replace(text.begin(), text.end(), ';', ' '); }

bool blank(std::string_view text) { return text.find_first_not_of(' ') == std::string_view::npos; }

void release_provider() {
  if (state.loaded_provider >= 0) ShellUnloadProvider(state.loaded_provider);
  state.loaded_provider = -1;
  state.table = ProviderTable{};
}

// The provider's configured connection names, read while it is open.
// Names too long for an attribute value are left out.
void read_connection_names() {
  state.connections.clear();
  if (!state.table.list_connections) return;
  char buffer[kConnectionListSize] = {};
  if (state.table.list_connections(buffer, sizeof buffer) != 0) return;
  buffer[sizeof buffer - 1] = '\0';
  const char* end = buffer + sizeof buffer;
  for (const char* p = buffer; p < end && *p;) {
    size_t n = strnlen(p, static_cast<size_t>(end - p));
    if (n <= static_cast<size_t>(kAttrValueMax)) state.connections.emplace_back(p, n);
    p += n + 1;
  }
}

void fill_connection_list(DialogHandle dialog, const ConnAttributes& block) {
  list_clear(dialog, kIdcConnection);
  state.selected_connection = -1;
  for (size_t i = 0; i < state.connections.size(); ++i) {
    list_add(dialog, kIdcConnection, state.connections[i]);
    if (state.connections[i] == block.get(kAttrConnection)) state.selected_connection = static_cast<int>(i);
  }
  list_select(dialog, kIdcConnection, state.selected_connection);
}

// No provider is loaded: its names and its configuration dialog are gone too.
void show_no_provider(DialogHandle dialog) {
  state.table = ProviderTable{};
  enable_item(dialog, kIdcConfigure, false);
  list_clear(dialog, kIdcConnection);
  state.selected_connection = -1;
}

void load_provider(DialogHandle dialog, const ConnAttributes& block) {
  state.connections.clear();
  release_provider();
  if (ShellLoadProvider(state.current_provider, &state.table) != 0) {
    show_no_provider(dialog);
    return;
  }
  enable_item(dialog, kIdcConfigure, state.table.configure != nullptr && !state.communications_fixed);
  if (!state.table.open || state.table.open() != 0) {
    if (state.table.close) state.table.close();
    ShellUnloadProvider(state.current_provider);
    show_no_provider(dialog);
    return;
  }
  read_connection_names();
  if (state.table.close) state.table.close();
  state.loaded_provider = state.current_provider;
  fill_connection_list(dialog, block);
}

intptr_t on_init(DialogHandle dialog, ConnAttributes& block, const SetupDialogInputs& inputs) {
  state = DialogState{};

  DialogRect parent = window_rect(get_owner(dialog));
  DialogRect self = window_rect(dialog);
  move_window(dialog, std::max(0, (parent.width - self.width) / 2), std::max(0, (parent.height - self.height) / 2));

  set_item_text(dialog, kIdcDsn, block.get(kAttrDsn));
  if (block.attr[kAttrDsn].fixed) {
    enable_item(dialog, kIdcDsn, false);
    enable_item(dialog, kIdcDsnLabel, false);
    enable_item(dialog, kIdOk, true);
  }
  for (const Field& f : kFields) {
    set_item_text(dialog, f.control, block.get(f.attribute));
    limit_item_text(dialog, f.control, f.limit);
    if (block.attr[f.attribute].fixed) {
      enable_item(dialog, f.control, false);
      enable_item(dialog, f.label, false);
    }
  }

  for (const std::string& name : inputs.providers) list_add(dialog, kIdcProvider, name);
  std::string provider(block.get(kAttrProvider));
  int found = ShellFindProvider(provider.c_str());
  state.current_provider = found >= 0 && static_cast<size_t>(found) < inputs.providers.size() ? found : 0;
  list_select(dialog, kIdcProvider, state.current_provider);

  // With provider and connection both fixed the user cannot change the
  // communications at all, the provider's configuration included.
  state.communications_fixed = block.attr[kAttrProvider].fixed && block.attr[kAttrConnection].fixed;
  if (state.communications_fixed) {
    for (int id : {kIdcProvider, kIdcProviderLabel, kIdcConnection, kIdcConnectionLabel, kIdcConfigure,
                   kIdcCommunications})
      enable_item(dialog, id, false);
  }

  state.loaded_provider = -1;
  load_provider(dialog, block);

  if (iequals(block.get(kAttrDsn), "Default")) {
    state.default_dsn = true;
    enable_item(dialog, kIdcDsn, false);
    enable_item(dialog, kIdcDsnLabel, false);
  } else {
    state.default_dsn = false;
    limit_item_text(dialog, kIdcDsn, kDsnFieldLimit);
  }
  return 1;
}

intptr_t refuse(DialogHandle dialog, int control) {
  beep(dialog);
  set_focus(dialog, control);
  select_all_text(dialog, control);
  return 0;
}

intptr_t on_ok(DialogHandle dialog, ConnAttributes& block, const SetupDialogInputs& inputs) {
  auto field = [dialog](int control) { return get_item_text(dialog, control, kAttrValueMax); };
  if (!state.default_dsn) {
    std::string dsn = field(kIdcDsn);
    replace_semicolons(dsn);
    block.set(kAttrDsn, dsn);
  }
  std::string text = field(kIdcDescription);
  replace_semicolons(text);
  block.set(kAttrDescription, text);

  text = field(kIdcUid);
  if (blank(text) && inputs.driver_connect) return refuse(dialog, kIdcUid);
  replace_semicolons(text);
  block.set(kAttrUid, text);

  text = field(kIdcPwd);
  if (blank(text) && inputs.driver_connect) return refuse(dialog, kIdcPwd);
  block.set(kAttrPwd, text);
  scramble_in_place(block.attr[kAttrPwd].value);

  text = field(kIdcChargeCode);
  replace_semicolons(text);
  block.set(kAttrChargeCode, text);

  text = field(kIdcClientConfig);
  replace_semicolons(text);
  block.set(kAttrClientConfig, text);

  int selection = list_selection(dialog, kIdcProvider);
  state.current_provider = selection < 0 ? 0 : selection;
  const char* provider = ShellProviderName(state.current_provider);
  block.set(kAttrProvider, provider ? provider : "");

  int connection = list_selection(dialog, kIdcConnection);
  block.set(kAttrConnection, connection >= 0 && static_cast<size_t>(connection) < state.connections.size()
                                 ? std::string_view(state.connections[static_cast<size_t>(connection)])
                                 : std::string_view(""));

  release_provider();
  end_dialog(dialog, kIdOk);
  return 1;
}

intptr_t on_configure(DialogHandle dialog, ConnAttributes& block) {
  // The entry belongs to the loaded provider; without one there is nothing to call.
  if (state.loaded_provider < 0 || !state.table.configure) return 0;
  if (state.table.configure(dialog) == 0) return 0;
  block.set(kAttrConnection, get_item_text(dialog, kIdcConnection, kAttrValueMax));
  state.connections.clear();
  if (state.table.open && state.table.open() == 0) {
    read_connection_names();
    if (state.table.close) state.table.close();
    fill_connection_list(dialog, block);
  } else {
    list_clear(dialog, kIdcConnection);
    state.selected_connection = -1;
  }
  return 0;
}

intptr_t on_command(DialogHandle dialog, uintptr_t wparam, ConnAttributes& block, const SetupDialogInputs& inputs) {
  const int id = command_id(wparam);
  const unsigned notification = command_notification(wparam);
  switch (id) {
    case kIdcDsn:
      if (notification != kEnChange) return 0;
      enable_item(dialog, kIdOk, !get_item_text(dialog, kIdcDsn, kDsnFieldLimit).empty());
      return 1;
    case kIdcProvider:
      if (notification == kCbnDropDown) return 1;
      if (notification != kCbnSelChange) return 0;
      {
        int selection = list_selection(dialog, kIdcProvider);
        state.current_provider = selection < 0 ? 0 : selection;
      }
      if (state.current_provider == state.loaded_provider) return 1;
      block.set(kAttrConnection, "");
      load_provider(dialog, block);
      return 1;
    case kIdcConfigure:
      return notification == kBnClicked ? on_configure(dialog, block) : 0;
    case kIdOk:
      return notification == kBnClicked ? on_ok(dialog, block, inputs) : 0;
    case kIdCancel:
      if (notification != kBnClicked) return 0;
      release_provider();
      end_dialog(dialog, kIdCancel);
      return 1;
    default:
      return 0;
  }
}

intptr_t dispatch(DialogHandle dialog, unsigned message, uintptr_t wparam) {
  SetupDialogInputs& inputs = setup_dialog_inputs();
  if (!inputs.block) return 0;  // no dialog is being run
  switch (message) {
    case kWmInitDialog: return on_init(dialog, *inputs.block, inputs);
    case kWmCommand: return on_command(dialog, wparam, *inputs.block, inputs);
    default: return 0;
  }
}

}  // namespace

SetupDialogInputs& setup_dialog_inputs() {
  static SetupDialogInputs inputs;
  return inputs;
}

void fill_provider_names(size_t max_names) {
  auto& names = setup_dialog_inputs().providers;
  names.clear();
  char buffer[128] = {};
  ShellListProviders(buffer, sizeof buffer);
  buffer[sizeof buffer - 1] = '\0';
  const char* end = buffer + sizeof buffer;
  for (const char* p = buffer; p < end && *p && names.size() < max_names;) {
    size_t n = strnlen(p, static_cast<size_t>(end - p));
    names.emplace_back(p, std::min(n, kProviderNameMax));
    p += n + 1;
  }
}

const platform::DialogTemplate& setup_dialog_template() { return kTemplate; }

intptr_t run_setup_dialog(platform::DialogHandle owner) {
  if (!setup_dialog_inputs().block) return -1;
  intptr_t result = platform::dialog_box(kTemplate, owner, ConfigDlgProc, 0);
  release_provider();  // however the dialog ended
  return result;
}

}  // namespace quarl::setup

extern "C" QUARL_SETUP_EXPORT intptr_t ConfigDlgProc(void* hDlg, unsigned message, uintptr_t wParam,
                                                     intptr_t lParam) {
  (void)lParam;
  try {
    return quarl::setup::dispatch(hDlg, message, wParam);
  } catch (...) {
    return 0;
  }
}
