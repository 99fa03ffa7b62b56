// The desktop: windows, message boxes, the standard dialogs, the clipboard
// and the desktop's document handlers, for processes that have a display.
//
// The toolkit lives in a library of its own (libquarl-gtk.so: beside the
// library that asks for it in the build tree, in the folder "quarl" of the
// library folder where installed) so that no deliverable links it: it is
// loaded on first use, and only when DISPLAY or WAYLAND_DISPLAY is set.
// Headless processes never load it and get the headless behaviour of each
// service.
//
// This header is the interface between the platform layer and that library;
// both are built together, so it is plain C++ (kDesktopInterfaceVersion
// guards against a stray library of another build).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/platform/dialog.h"

namespace quarl::platform {

inline constexpr int kDesktopInterfaceVersion = 1;
// The library's one export: extern "C" Desktop* quarl_desktop_open(int version);
// null when the version differs or the display cannot be opened.
inline constexpr const char* kDesktopEntryPoint = "quarl_desktop_open";
inline constexpr const char* kDesktopLibrary = "libquarl-gtk.so";
// The folder of the library folder that holds it where Quarl is installed.
inline constexpr const char* kDesktopFolder = "quarl";
// The program that keeps clipboard text available (beside the library).
inline constexpr const char* kClipboardKeeper = "quarl-clipboard-keeper";

// An open- or save-file dialog offering one filter.
struct FileDialogRequest {
  bool save = false;
  std::string filter_name;  // shown, e.g. "Text files(*.txt)"
  std::string extension;    // the filter matches names ending in "." + extension (any case); also the default extension
  std::string directory;    // initial folder; empty: the current folder
  std::string title;        // empty: "Open" or "Save As"
  std::string file_name;    // initial file name
};

struct Rgb {
  int red = 0, green = 0, blue = 0;  // 0 to 255
  bool operator==(const Rgb&) const = default;
};

struct FontChoice {
  std::string face;
  int points = 0;  // whole points; 0 or less: the dialog's default size
  int weight = 400;
  bool italic = false, underline = false, strike_out = false;
  Rgb color;
};

enum class ClipboardStatus { Ok, Empty, CannotOpen, CannotGet, CannotSet };

// Results of opening a document, as the Windows shell numbered them.
enum : int {
  kShellOk = 0,
  kShellFileNotFound = 2,
  kShellPathNotFound = 3,
  kShellAccessDenied = 5,
  kShellNoAssociation = 31,
};

// A dialog window of the desktop; it registers with the platform layer's
// registry (done by dialog_box) and runs modally.
class DesktopDialog : public DialogWindow {
 public:
  // Sends WM_INITDIALOG with init through the procedure (the handle is this
  // window), shows the dialog and runs its modal loop until end() is called.
  virtual intptr_t run(DialogProc procedure, intptr_t init) = 0;
};

class Desktop {
 public:
  virtual ~Desktop() = default;

  // The screen (its first monitor) in pixels.
  virtual DialogRect screen() = 0;
  // A dialog from a template, owned by owner (one of our dialogs, or null);
  // null when it cannot be made.
  virtual std::unique_ptr<DesktopDialog> create_dialog(const DialogTemplate& dialog, DialogWindow* owner) = 0;
  // A Win32 message box style; the button pressed, or 0 when no box can be shown.
  virtual int message_box(DialogWindow* owner, std::string_view text, std::string_view caption, unsigned style) = 0;
  // The chosen path; nullopt when cancelled or not shown.
  virtual std::optional<std::string> file_dialog(const FileDialogRequest& request) = 0;
  virtual std::optional<Rgb> choose_color(const Rgb& initial) = 0;
  virtual std::optional<FontChoice> choose_font(const FontChoice& initial) = 0;
  // The clipboard's text as UTF-8 (a zero byte ends it).
  virtual ClipboardStatus read_clipboard(std::string& text) = 0;
  // Valid UTF-8 without zero bytes; empty text leaves the clipboard empty.
  // The text stays available after this process ends.
  virtual ClipboardStatus write_clipboard(std::string_view text) = 0;
  // Whether the clipboard can be used at all.
  virtual bool clipboard_available() = 0;
  // Opens a local file (fragment: an anchor for handlers that take
  // addresses, may be empty) or an address with the desktop's handler.
  virtual int open_document(const std::string& path_or_uri, const std::string& fragment) = 0;
};

// The desktop of this process: loaded on the first call when a display is
// set; null when headless or when it cannot be loaded (the reason goes to
// standard error once).
Desktop* desktop();

// Whether DISPLAY or WAYLAND_DISPLAY is set (and not empty).
bool has_display();

}  // namespace quarl::platform
