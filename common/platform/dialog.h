// Modal dialogs in the manner of Win32 dialog boxes: a dialog template given
// as data, a dialog procedure that receives the initialisation message and
// the command notifications of its controls, and the control operations a
// procedure uses on its dialog.  The dialog handle is opaque; an operation on
// a handle that names no open dialog of this library does nothing (reads give
// empty text or -1).
//
// Who shows the dialog: with QUARL_DIALOG_SCRIPT set, the headless host plays
// the scripted user of that file (see dialog_script.h); otherwise the desktop
// (desktop.h) when the process has a display; otherwise nothing is shown and
// the dialog ends as cancelled without running its procedure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/platform/msgbox.h"  // kIdOk, kIdCancel: the usual dialog results too

namespace quarl::platform {

using DialogHandle = void*;
// Returns non-zero when it handled the message (Win32 BOOL of a DLGPROC).
using DialogProc = intptr_t (*)(DialogHandle dialog, unsigned message, uintptr_t wparam, intptr_t lparam);

// Messages and notification codes, with their Win32 values.  WM_SIZE comes
// whenever the client area of a resizable dialog changes, its lparam holding
// the new width (low word) and height (high word) in pixels.
enum : unsigned { kWmSize = 0x0005, kWmInitDialog = 0x0110, kWmCommand = 0x0111 };
enum : unsigned { kBnClicked = 0, kCbnSelChange = 1, kCbnDropDown = 7, kEnChange = 0x0300 };

// WM_COMMAND's wparam: the control id in the low word, the notification in the high word.
constexpr uintptr_t make_command(int id, unsigned notification) {
  return (static_cast<uintptr_t>(notification & 0xFFFFu) << 16) | (static_cast<unsigned>(id) & 0xFFFFu);
}
constexpr int command_id(uintptr_t wparam) { return static_cast<int>(wparam & 0xFFFFu); }
constexpr unsigned command_notification(uintptr_t wparam) { return static_cast<unsigned>((wparam >> 16) & 0xFFFFu); }

enum class ControlKind { Label, Edit, GroupBox, DropDownList, PushButton, DefaultPushButton };

enum ControlStyle : unsigned {
  kCtlAutoScroll = 0x1,  // edit scrolls horizontally as the user types
  kCtlPassword = 0x2,    // edit hides its characters
  kCtlVScroll = 0x4,     // list has a vertical scroll bar
  kCtlSorted = 0x8,      // list keeps its entries sorted (otherwise in the order added)
  kCtlDisabled = 0x10,   // starts disabled
  kCtlMultiLine = 0x20,  // edit of several lines; Enter still means the default button (Ctrl+Enter breaks the line)
  kCtlBorder = 0x40,     // edit drawn with a border
  kCtlHidden = 0x80,     // not shown (a hidden default button still answers Enter)
};

enum DialogStyle : unsigned {
  kDlgPopup = 0x1,
  kDlgCaption = 0x2,
  kDlgSystemMenu = 0x4,
  kDlgModalFrame = 0x8,
  kDlgResizable = 0x10,  // a frame the user can resize
};

// x, y, width, height: dialog units in templates, pixels on the screen.
struct DialogRect {
  int x, y, width, height;
};

// Where a window lies, as Win32's WINDOWPLACEMENT: flags (2 = it is restored
// maximised), show state (1 normal, 2 minimised, 3 maximised), the minimised
// and maximised positions (-1 when not set) and the rectangle of the restored
// window (left, top, right, bottom in screen pixels).
struct WindowPlacement {
  unsigned flags = 0, show = 1;
  int min_x = -1, min_y = -1, max_x = -1, max_y = -1;
  int left = 0, top = 0, right = 0, bottom = 0;
};
inline constexpr unsigned kPlacementRestoreToMaximized = 2;
inline constexpr unsigned kShowNormal = 1, kShowMinimized = 2, kShowMaximized = 3;

// A window restored at rect (x, y, width, height), maximised or not.
constexpr WindowPlacement placement_of(const DialogRect& rect, bool maximized = false) {
  WindowPlacement p;
  p.flags = maximized ? kPlacementRestoreToMaximized : 0;
  p.show = maximized ? kShowMaximized : kShowNormal;
  p.left = rect.x;
  p.top = rect.y;
  p.right = rect.x + rect.width;
  p.bottom = rect.y + rect.height;
  return p;
}
// The restored rectangle of a placement as x, y, width, height.
constexpr DialogRect restored_rect(const WindowPlacement& p) {
  return {p.left, p.top, p.right - p.left, p.bottom - p.top};
}

struct ControlTemplate {
  int id;
  ControlKind kind;
  const char* text;
  DialogRect rect;
  unsigned style;
};

struct DialogTemplate {
  int resource;  // the resource id the dialog is known by
  const char* title;
  DialogRect rect;
  const char* font;
  int point_size;
  unsigned style;
  std::span<const ControlTemplate> controls;  // in tab order
};

// Runs a modal dialog owned by owner: the procedure gets WM_INITDIALOG with
// init, then the user's commands, until it calls end_dialog.  Returns the
// value given to end_dialog, or -1 when the dialog cannot be shown.
intptr_t dialog_box(const DialogTemplate& dialog, DialogHandle owner, DialogProc procedure, intptr_t init);

// Control operations.  Text lengths are in characters (bytes).
std::string get_item_text(DialogHandle dialog, int id, size_t max_chars);
// Setting an edit's text sends it EN_CHANGE, as Win32 does.
void set_item_text(DialogHandle dialog, int id, std::string_view text);
void enable_item(DialogHandle dialog, int id, bool enable);
// The most the user can type into an edit.
void limit_item_text(DialogHandle dialog, int id, size_t max_chars);
// Appends to a drop-down list; the new entry's index, or -1.
int list_add(DialogHandle dialog, int id, std::string_view text);
void list_clear(DialogHandle dialog, int id);
// Selects an entry; -1 (or an index outside the list) leaves none selected.
void list_select(DialogHandle dialog, int id, int index);
int list_selection(DialogHandle dialog, int id);
void set_focus(DialogHandle dialog, int id);
void select_all_text(DialogHandle dialog, int id);
// The default system sound.
void beep(DialogHandle dialog);
void end_dialog(DialogHandle dialog, intptr_t result);
// An open dialog's rectangle in screen pixels; for any other handle (an owner
// outside our dialogs, or null) the screen's.
DialogRect window_rect(DialogHandle window);
void move_window(DialogHandle dialog, int x, int y);
// The window that owns an open dialog (null when none, or for other handles).
DialogHandle get_owner(DialogHandle dialog);
void set_window_text(DialogHandle dialog, std::string_view title);
// The client area: x and y are 0, width and height in pixels.
DialogRect client_rect(DialogHandle dialog);
// Places a control in the client area (pixels).
void move_item(DialogHandle dialog, int id, const DialogRect& rect);
// Puts an edit's caret at a byte offset, with nothing selected, and scrolls it into view.
void set_caret(DialogHandle dialog, int id, size_t offset);
// nullopt when the placement cannot be obtained.
std::optional<WindowPlacement> get_window_placement(DialogHandle dialog);
void set_window_placement(DialogHandle dialog, const WindowPlacement& placement);

// An open dialog as the headless host or the desktop shows it.  The
// procedure's operations above reach it through its handle.
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;
  virtual std::string get_text(int id, size_t max_chars) = 0;
  virtual void set_text(int id, std::string_view text) = 0;
  virtual void enable(int id, bool enable) = 0;
  virtual void limit_text(int id, size_t max_chars) = 0;
  virtual int list_add(int id, std::string_view text) = 0;
  virtual void list_clear(int id) = 0;
  virtual void list_select(int id, int index) = 0;
  virtual int list_selection(int id) = 0;
  virtual void set_focus(int id) = 0;
  virtual void select_all(int id) = 0;
  virtual void beep() = 0;
  virtual void end(intptr_t result) = 0;
  virtual DialogRect rect() = 0;
  virtual void move(int x, int y) = 0;
  virtual DialogHandle owner() = 0;
  virtual void set_title(std::string_view title) = 0;
  virtual DialogRect client() = 0;
  virtual void move_control(int id, const DialogRect& rect) = 0;
  virtual void set_caret(int id, size_t offset) = 0;
  virtual std::optional<WindowPlacement> placement() = 0;
  virtual void set_placement(const WindowPlacement& placement) = 0;
  // The toolkit's window behind it, for dialogs the desktop shows over it.
  virtual void* native() { return nullptr; }
};

// Makes a window reachable through its handle (the window's address) while
// this object lives: one for each open dialog, in the library that runs it.
class DialogRegistration {
 public:
  explicit DialogRegistration(DialogWindow* window);
  ~DialogRegistration();
  DialogRegistration(const DialogRegistration&) = delete;
  DialogRegistration& operator=(const DialogRegistration&) = delete;
  DialogHandle handle() const { return window_; }

 private:
  DialogWindow* window_;
};

// The open dialog a handle names, or null.
DialogWindow* find_dialog(DialogHandle handle);

// The screen the headless host pretends to have, and the dialog base units of
// the templates' font there (pixels per 4 horizontal and 8 vertical dialog
// units).  The desktop measures the font it shows.
inline constexpr DialogRect kHeadlessScreen{0, 0, 1024, 768};
inline constexpr int kBaseUnitX = 6, kBaseUnitY = 13;
// A template rectangle in pixels, for the given base units (Win32 MulDiv rounding).
constexpr DialogRect dialog_units_to_pixels(const DialogRect& units, int base_x = kBaseUnitX,
                                            int base_y = kBaseUnitY) {
  auto scale = [](int value, int base, int per) { return (value * base + per / 2) / per; };
  return {scale(units.x, base_x, 4), scale(units.y, base_y, 8), scale(units.width, base_x, 4),
          scale(units.height, base_y, 8)};
}

}  // namespace quarl::platform
