// The setup dialog: edits the eight attributes of one data source held in a
// connection attribute block.  One module, built into the setup library
// (ConfigDSN adds or changes a data source with it) and into the driver
// (SQLDriverConnect lets the user complete a connection with it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/attributes.h"
#include "common/platform/dialog.h"
#include "setup/quarlsp.h"

#define QUARL_SETUP_EXPORT __attribute__((visibility("default")))

namespace quarl::setup {

// Provider names are shown cut to this many characters; the name stored on
// OK comes from the shell and is never cut.
inline constexpr size_t kProviderNameMax = 15;
// The setup library lists up to 9 providers, the driver up to 8.
inline constexpr size_t kSetupProviderCount = 9;
inline constexpr size_t kDriverProviderCount = 8;

// What the dialog edits and shows, set by its caller before it runs: one
// dialog at a time per process.
struct SetupDialogInputs {
  ConnAttributes* block = nullptr;     // shown, and replaced on OK (the password scrambled)
  std::vector<std::string> providers;  // the provider name list, in shell order
  bool driver_connect = false;         // blank user id or password is refused
};
SetupDialogInputs& setup_dialog_inputs();

// Refills the provider name list from the shell with at most max_names names.
void fill_provider_names(size_t max_names);

const platform::DialogTemplate& setup_dialog_template();

// Shows dialog resource 1001 owned by owner with ConfigDlgProc and initial
// parameter 0: 1 after OK, 2 after Cancel (also when no dialog can be shown),
// -1 when it cannot be run.  The inputs must be set.
intptr_t run_setup_dialog(platform::DialogHandle owner);

}  // namespace quarl::setup

extern "C" QUARL_SETUP_EXPORT intptr_t ConfigDlgProc(void* hDlg, unsigned message, uintptr_t wParam,
                                                     intptr_t lParam);
