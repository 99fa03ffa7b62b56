#include "driver/core/connect_dialog.h"

#include "driver/core/connect.h"
#include "setup/setup_dialog.h"

namespace quarl::driver {

// The setup dialog in its driver-connect role: blank user id or password is
// refused, and the providers offered are those SQLDriverConnect listed.
int show_connect_dialog(SQLHWND hwnd, quarl::ConnAttributes& block) {
  auto& inputs = setup::setup_dialog_inputs();
  int result = kDialogCancelled;
  try {
    inputs.providers.clear();
    for (const std::string& name : provider_names()) {
      if (name.empty()) break;
      inputs.providers.push_back(name);
    }
    inputs.block = &block;
    inputs.driver_connect = true;
    if (setup::run_setup_dialog(hwnd) == kDialogOk) result = kDialogOk;
  } catch (...) {
    result = kDialogCancelled;
  }
  inputs.block = nullptr;
  inputs.driver_connect = false;
  return result;
}

}  // namespace quarl::driver
