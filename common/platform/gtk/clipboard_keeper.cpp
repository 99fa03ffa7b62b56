// quarl-clipboard-keeper: keeps clipboard text available after the program
// that put it there has ended.
//
// Started by the desktop library with a socket as standard input and output:
// it reads the text (UTF-8) to the end of input, leaves the session of its
// starter, takes the display's clipboard and answers "ok" (or "error: ...")
// on one line.  Then it serves the text as UTF8_STRING,
// text/plain;charset=utf-8, STRING (Latin-1, "?" for what Latin-1 lacks) and
// TEXT until another program takes the clipboard.  Where the desktop runs a
// clipboard manager, the manager is given the text and the keeper ends.
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "common/platform/gtk/clipboard_targets.h"
#include "common/platform/gtk/gtk_backend.h"

namespace {

using namespace quarl::platform::gtk;

constexpr size_t kMaxText = size_t(256) << 20;

void answer(const std::string& line) {
  std::string text = line + "\n";
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(1, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

bool read_text(std::string& text) {
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(0, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (text.size() + static_cast<size_t>(n) > kMaxText) return false;
    text.append(chunk, static_cast<size_t>(n));
  }
}

void serve(GtkClipboard*, GtkSelectionData* selection, guint target, gpointer data) {
  const std::string& text = *static_cast<const std::string*>(data);
  if (target == kString) {
    gsize length = 0;
    gchar* latin1 = g_convert_with_fallback(text.data(), static_cast<gssize>(text.size()), "ISO-8859-1", "UTF-8",
                                            "?", nullptr, &length, nullptr);
    if (latin1) {
      gtk_selection_data_set(selection, gdk_atom_intern_static_string("STRING"), 8,
                             reinterpret_cast<const guchar*>(latin1), static_cast<gint>(length));
      g_free(latin1);
    }
    return;
  }
  // UTF-8 for the others; TEXT is answered as UTF8_STRING.
  GdkAtom type = gdk_atom_intern_static_string(target == kTextPlainUtf8 ? kTextTargets[kTextPlainUtf8]
                                                                        : kTextTargets[kUtf8String]);
  gtk_selection_data_set(selection, type, 8, reinterpret_cast<const guchar*>(text.data()),
                         static_cast<gint>(text.size()));
}

bool owner_lost = false;

void lost(GtkClipboard*, gpointer) {
  owner_lost = true;
  if (gtk_main_level() > 0) gtk_main_quit();
}

}  // namespace

int main() {
  // The starter waits for the first process only; the second one serves.
  pid_t child = ::fork();
  if (child < 0) {
    answer("error: cannot start");
    return 1;
  }
  if (child > 0) return 0;
  ::setsid();
  if (::chdir("/") != 0) {
  }
  ::close_range(3, ~0U, 0);  // nothing of the starter's stays open here
  ::signal(SIGPIPE, SIG_IGN);

  std::string text;
  if (!read_text(text)) {
    answer("error: cannot read the text");
    return 1;
  }
  // The X11 clipboard (through XWayland too) can be owned without a window
  // that has the focus; Wayland's own cannot.
  const char* display = std::getenv("DISPLAY");
  if (display && *display) gdk_set_allowed_backends("x11");
  gtk_disable_setlocale();
  if (!open_display_retrying([] { return static_cast<bool>(gtk_init_check(nullptr, nullptr)); })) {
    answer("error: cannot open the display");
    return 1;
  }
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  GtkTargetEntry targets[kTextTargetCount];
  for (unsigned t = 0; t < kTextTargetCount; ++t)
    targets[t] = GtkTargetEntry{const_cast<gchar*>(kTextTargets[t]), 0, t};
  if (!gtk_clipboard_set_with_data(clipboard, targets, kTextTargetCount, serve, lost, &text)) {
    answer("error: cannot take the clipboard");
    return 1;
  }
  gdk_display_sync(gdk_display_get_default());
  GdkDisplay* screen = gdk_display_get_default();
  const bool manager = gdk_display_supports_clipboard_persistence(screen);
  if (manager) gtk_clipboard_set_can_store(clipboard, nullptr, 0);
  answer("ok");
  ::close(0);
  ::close(1);
  if (manager) {
    // The manager copies the text now and owns it once this process ends.
    gtk_clipboard_store(clipboard);
    return 0;
  }
  if (!owner_lost) gtk_main();
  return 0;
}
