// The headless dialog host: a scripted user drives a dialog where no screen
// is available, so that tests (and unattended set-ups) can run the dialogs of
// libraries loaded by the ODBC driver manager in any process.
//
// QUARL_DIALOG_SCRIPT names the script file.  Nothing runs by accident: the
// file must be a regular file owned by the running user and writable by no
// one else, its first line must be exactly "quarl-dialog-script 1", and its
// "dialog" line must name the resource of the dialog being shown.  Any other
// script is refused with a note on standard error and the dialog ends as
// cancelled.  Each dialog that is shown plays the script from its start.
//
//   quarl-dialog-script 1
//   # comments and blank lines are ignored
//   dialog 1001              the dialog resource this script drives (required)
//   transcript /tmp/t.txt    append what happens to this file (optional)
//   type 400 Sales           the user replaces the text of edit 400 with "Sales"
//   type 406 "   "           quotes keep blanks at either end
//   pick 402 TCP/IP          the user opens drop-down list 402 and picks "TCP/IP"
//   pick-index 404 1         ... or its entry number 1 (counting from 0)
//   press 408                the user clicks button 408 (1 is OK, 2 is Cancel)
//   snapshot                 write the state of every control to the transcript
//
// Typing respects the edit's limit; the user cannot act on a disabled control
// (the step is noted in the transcript as refused).  When the steps run out
// with the dialog still open, the user presses Cancel.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform/dialog.h"

namespace quarl::platform {

inline constexpr const char* kDialogScriptVariable = "QUARL_DIALOG_SCRIPT";
inline constexpr const char* kDialogScriptMagic = "quarl-dialog-script 1";

struct DialogScriptStep {
  enum Kind { Type, Pick, PickIndex, Press, Snapshot } kind;
  int control = 0;
  std::string text;  // Type, Pick
  int index = 0;     // PickIndex
};

struct DialogScript {
  int dialog = 0;
  std::string transcript;  // path, empty for none
  std::vector<DialogScriptStep> steps;
};

// Parses script text; nullopt with the reason in error when it is not a script.
std::optional<DialogScript> parse_dialog_script(std::string_view text, std::string* error);

// Plays the script against the dialog; returns the dialog's result.  What
// happens is appended to transcript.
intptr_t run_scripted_dialog(const DialogTemplate& dialog, DialogHandle owner, DialogProc procedure, intptr_t init,
                             const DialogScript& script, std::string& transcript);

}  // namespace quarl::platform
