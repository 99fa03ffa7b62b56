// A scripted user for the headless dialog host: the script goes to a private
// temporary file that QUARL_DIALOG_SCRIPT names while this object lives, so
// that a dialog shown anywhere in the process (also inside a library that the
// driver manager loaded) plays it.  The host's transcript can be read back
// and its snapshots parsed.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/support/test_env.h"

namespace testsupport {

struct ControlState {
  std::string kind;  // label, edit, group, list, button, default-button
  bool enabled = false;
  std::string text;
  int limit = -1;  // edits
  int selection = -1;
  std::vector<std::string> items;  // lists
};

class DialogScript {
 public:
  // steps: script lines after the "dialog" and "transcript" lines.
  DialogScript(int dialog, const std::vector<std::string>& steps);
  ~DialogScript();
  DialogScript(const DialogScript&) = delete;
  DialogScript& operator=(const DialogScript&) = delete;

  std::filesystem::path file() const { return dir_ / "script"; }
  std::string transcript() const;
  // The controls at the n-th "snapshot" step (from 0), by id.
  std::map<int, ControlState> snapshot(size_t n = 0) const;
  // The focus at the n-th snapshot.
  int snapshot_focus(size_t n = 0) const;

 private:
  TempDir dir_;
  std::string saved_;
  bool had_saved_ = false;
};

}  // namespace testsupport
