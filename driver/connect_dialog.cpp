#include "driver/connect_dialog.h"

namespace quarl::driver {

// No dialog is built into the driver yet: every prompt counts as cancelled.
int show_connect_dialog(SQLHWND, quarl::ConnAttributes&) { return kDialogCancelled; }

}  // namespace quarl::driver
