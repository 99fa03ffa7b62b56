// The GTK 3 desktop: what its files share.  Everything here runs on the
// thread that called into the desktop, while that thread holds GLib's
// default main context (ToolkitTurn); a thread that cannot hold it (because
// the application runs its own main loop on another thread) gets the
// "cannot show" answers instead of touching the toolkit.
#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/platform/desktop.h"

namespace quarl::platform::gtk {

class ToolkitTurn {
 public:
  ToolkitTurn() : held_(g_main_context_acquire(g_main_context_default())) {}
  ~ToolkitTurn() {
    if (held_) g_main_context_release(g_main_context_default());
  }
  ToolkitTurn(const ToolkitTurn&) = delete;
  ToolkitTurn& operator=(const ToolkitTurn&) = delete;
  explicit operator bool() const { return held_; }

 private:
  bool held_;
};

// Opens the display with open(), trying again a few times: an X server may
// refuse a connection now and then (seen with Xvfb under load), and one
// refusal must not leave a whole process without its desktop.  A display
// that is slow to answer (a remote one out of reach) is not tried again.
template <typename Open>
bool open_display_retrying(Open open) {
  constexpr int kAttempts = 10;
  constexpr gint64 kQuickFailure = G_USEC_PER_SEC;
  for (int attempt = 1;; ++attempt) {
    gint64 start = g_get_monotonic_time();
    if (open()) return true;
    if (attempt == kAttempts || g_get_monotonic_time() - start > kQuickFailure) return false;
    g_usleep(static_cast<gulong>(20000 * attempt));
  }
}

// Runs a nested main loop until *done is set (by a signal handler).
void run_until(const bool& done);

DialogRect screen_rect();

std::unique_ptr<DesktopDialog> make_template_dialog(const DialogTemplate& dialog, DialogWindow* owner);
int show_message_box(GtkWindow* parent, std::string_view text, std::string_view caption, unsigned style);
std::optional<std::string> run_file_dialog(const FileDialogRequest& request);
std::optional<Rgb> run_color_dialog(const Rgb& initial);
std::optional<FontChoice> run_font_dialog(const FontChoice& initial);
ClipboardStatus read_clipboard(std::string& text);
ClipboardStatus write_clipboard(std::string_view text);
int open_document(const std::string& path_or_uri, const std::string& fragment);

// The folder of this library (where the clipboard keeper lies too).
std::string module_directory();

}  // namespace quarl::platform::gtk
