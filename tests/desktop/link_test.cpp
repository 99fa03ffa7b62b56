// No deliverable links the desktop's toolkit: each loads it only when it
// has a display (the headless tests check that it then stays unloaded).
#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_env.h"

namespace {

TEST(DesktopLink, NoDeliverableNeedsTheToolkit) {
  for (const char* library : {"libquarl.so", "libquarlsp.so", "libquarlrpc.so"}) {
    const std::string path = testsupport::lib_path(library).string();
    auto needed = testsupport::run_command("readelf -d '" + path + "'");
    ASSERT_EQ(needed.status, 0) << needed.output;
    EXPECT_NE(needed.output.find("(NEEDED)"), std::string::npos) << needed.output;
    auto all = testsupport::run_command("ldd '" + path + "'");
    ASSERT_EQ(all.status, 0) << all.output;
    for (const char* toolkit : {"gtk", "gdk", "glib", "gobject", "gio-2", "libX11", "wayland"}) {
      EXPECT_EQ(needed.output.find(toolkit), std::string::npos) << library << " needs " << toolkit;
      EXPECT_EQ(all.output.find(toolkit), std::string::npos) << library << " loads " << toolkit;
    }
  }
}

}  // namespace
