// Linked into every test program: tests never show anything on the screen
// of the person running them.  The display variables are cleared before any
// test runs; tests that need a display start an X server of their own.
#include <stdlib.h>

namespace {

struct NoDisplay {
  NoDisplay() {
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
  }
} no_display;

}  // namespace
