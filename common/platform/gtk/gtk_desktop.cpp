// The entry point of libquarl-gtk.so: starts the toolkit on the display (or
// joins an application that runs it already) and answers the platform
// layer's Desktop calls.
#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "common/platform/gtk/gtk_backend.h"

namespace quarl::platform::gtk {
namespace {

bool start_toolkit() {
  // An application that shows windows of its own has started GTK already.
  if (gdk_display_get_default()) return true;
  // The client's locale is its own business: GTK must not switch it.
  gtk_disable_setlocale();
  // X11 (XWayland on a Wayland desktop) first: windows keep the positions
  // the dialogs give them and the clipboard can be read without the focus,
  // neither of which Wayland's own protocol allows; Wayland alone otherwise.
  gdk_set_allowed_backends("x11,wayland");
  return open_display_retrying([] { return static_cast<bool>(gtk_init_check(nullptr, nullptr)); });
}

class GtkDesktop final : public Desktop {
 public:
  DialogRect screen() override {
    ToolkitTurn turn;
    return turn ? screen_rect() : kHeadlessScreen;
  }
  std::unique_ptr<DesktopDialog> create_dialog(const DialogTemplate& dialog, DialogWindow* owner) override {
    // The dialog holds the toolkit itself while it runs.
    return make_template_dialog(dialog, owner);
  }
  int message_box(DialogWindow* owner, std::string_view text, std::string_view caption, unsigned style) override {
    ToolkitTurn turn;
    if (!turn) return 0;
    GtkWindow* parent = owner ? static_cast<GtkWindow*>(owner->native()) : nullptr;
    return show_message_box(parent, text, caption, style);
  }
  std::optional<std::string> file_dialog(const FileDialogRequest& request) override {
    ToolkitTurn turn;
    return turn ? run_file_dialog(request) : std::nullopt;
  }
  std::optional<Rgb> choose_color(const Rgb& initial) override {
    ToolkitTurn turn;
    return turn ? run_color_dialog(initial) : std::nullopt;
  }
  std::optional<FontChoice> choose_font(const FontChoice& initial) override {
    ToolkitTurn turn;
    return turn ? run_font_dialog(initial) : std::nullopt;
  }
  ClipboardStatus read_clipboard(std::string& text) override {
    ToolkitTurn turn;
    return turn ? gtk::read_clipboard(text) : ClipboardStatus::CannotOpen;
  }
  ClipboardStatus write_clipboard(std::string_view text) override {
    ToolkitTurn turn;
    return turn ? gtk::write_clipboard(text) : ClipboardStatus::CannotOpen;
  }
  bool clipboard_available() override {
    ToolkitTurn turn;
    return static_cast<bool>(turn);
  }
  int open_document(const std::string& path_or_uri, const std::string& fragment) override {
    ToolkitTurn turn;
    return turn ? gtk::open_document(path_or_uri, fragment) : kShellNoAssociation;
  }
};

}  // namespace

void run_until(const bool& done) {
  // The handler that sets done runs inside an iteration, which then returns.
  while (!done) g_main_context_iteration(nullptr, TRUE);
}

DialogRect screen_rect() {
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
  if (!monitor && display) monitor = gdk_display_get_monitor(display, 0);
  if (!monitor) return kHeadlessScreen;
  GdkRectangle r;
  gdk_monitor_get_geometry(monitor, &r);
  return {r.x, r.y, r.width, r.height};
}

std::string module_directory() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<const void*>(&module_directory), &info) == 0 || !info.dli_fname) return ".";
  return std::filesystem::path(info.dli_fname).parent_path().string();
}

}  // namespace quarl::platform::gtk

extern "C" __attribute__((visibility("default"))) quarl::platform::Desktop* quarl_desktop_open(int version) {
  using namespace quarl::platform;
  if (version != kDesktopInterfaceVersion) return nullptr;
  static std::once_flag once;
  static Desktop* desktop = nullptr;
  std::call_once(once, [] {
    gtk::ToolkitTurn turn;
    if (turn && gtk::start_toolkit()) desktop = new gtk::GtkDesktop;
  });
  return desktop;
}
