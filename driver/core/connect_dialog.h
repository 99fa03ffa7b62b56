// The connection dialog of SQLDriverConnect.  Its body is the setup dialog
// module; the rest of the driver knows only this function.
#pragma once

#include <sqltypes.h>

#include "common/attributes.h"

namespace quarl::driver {

inline constexpr int kDialogOk = 1;
inline constexpr int kDialogCancelled = 2;

// Shows the modal connection dialog owned by hwnd on the attribute block
// (fixed attributes cannot be changed).  On OK the block holds the edited
// values, the password in its scrambled form.  Returns the dialog result
// (1 = OK).
int show_connect_dialog(SQLHWND hwnd, quarl::ConnAttributes& block);

}  // namespace quarl::driver
