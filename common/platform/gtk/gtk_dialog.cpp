// Dialog templates on GTK: each control where its rectangle says (dialog
// units turned into pixels with the metrics of the template's font), the
// keyboard of a Win32 dialog (Tab in template order, Enter for the default
// button, Escape and the close box for Cancel), and the notifications a
// dialog procedure expects.
#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "common/platform/gtk/gtk_backend.h"

namespace quarl::platform::gtk {
namespace {

constexpr size_t kDefaultEditLimit = 30000;  // what a Win32 edit takes before a limit is set
constexpr int kListClosedHeightUnits = 14;   // a drop-down list's closed height; the template's is the open list's

// "&Provider" -> "_Provider": Win32 marks mnemonics with "&", GTK with "_".
std::string gtk_mnemonic(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') {
        out += '&';
        ++i;
      } else {
        out += '_';
      }
    } else if (c == '_') {
      out += "__";
    } else {
      out += c;
    }
  }
  return out;
}

// The faces of Windows dialog templates are the desktop's sans-serif face here.
std::string font_family(const char* face) {
  std::string f = face ? face : "";
  for (const char* windows : {"MS Sans Serif", "MS Shell Dlg", "MS Shell Dlg 2", "System", "Microsoft Sans Serif"})
    if (g_ascii_strcasecmp(f.c_str(), windows) == 0) return "Sans";
  return f.empty() ? "Sans" : f;
}

// Layout rules for every dialog (controls as small as their rectangles) and
// a class per template font; installed once per screen.
std::string dialog_css_class(const std::string& family, int points) {
  static std::set<std::string> installed;
  GdkScreen* screen = gdk_screen_get_default();
  if (installed.empty()) {
    static const char* kLayout =
        ".quarl-dialog entry { min-height: 0; min-width: 0; padding: 1px 3px; }\n"
        ".quarl-dialog button { min-height: 0; min-width: 0; padding: 0 4px; }\n"
        ".quarl-dialog combobox button { min-height: 0; padding: 0 4px; }\n"
        ".quarl-dialog combobox arrow { min-height: 8px; min-width: 8px; }\n";
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, kLayout, -1, nullptr);
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
    installed.insert("");
  }
  std::string name = "quarl-font-" + std::to_string(points) + "-";
  for (char c : family) name += g_ascii_isalnum(c) ? c : '_';
  if (installed.insert(name).second) {
    gchar* quoted = g_strescape(family.c_str(), nullptr);
    std::string css = "." + name + " { font-family: \"" + quoted + "\"; font-size: " + std::to_string(points) + "pt; }\n";
    g_free(quoted);
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
  }
  return name;
}

// Byte offset -> character offset in UTF-8 text (clamped to its end, never
// inside a character).
glong char_offset(const char* text, size_t bytes) {
  bytes = std::min(bytes, std::strlen(text));
  while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
  return g_utf8_pointer_to_offset(text, text + bytes);
}

// The longest start of text that fits in room bytes without cutting a character.
size_t fitting_bytes(const char* text, size_t length, size_t room) {
  if (length <= room) return length;
  const char* end = text + room;
  while (end > text && (static_cast<unsigned char>(*end) & 0xC0) == 0x80) --end;
  return static_cast<size_t>(end - text);
}

std::string cut_text(std::string text, size_t max_chars) {
  if (text.size() > max_chars) text.resize(fitting_bytes(text.c_str(), text.size(), max_chars));
  return text;
}

class TemplateDialog;

struct Control {
  TemplateDialog* dialog = nullptr;
  const ControlTemplate* tmpl = nullptr;
  GtkWidget* widget = nullptr;  // what sits in the layout
  GtkWidget* input = nullptr;   // what takes the keyboard: entry, text view, combo box, button; null for static controls
  std::string text;             // the text of static controls and buttons
  size_t limit = kDefaultEditLimit;
  bool multi_line() const { return tmpl->kind == ControlKind::Edit && (tmpl->style & kCtlMultiLine); }
  bool button() const {
    return tmpl->kind == ControlKind::PushButton || tmpl->kind == ControlKind::DefaultPushButton;
  }
};

class TemplateDialog final : public DesktopDialog {
 public:
  TemplateDialog(const DialogTemplate& dialog, DialogWindow* owner) : owner_(owner) {
    std::string family = font_family(dialog.font);
    const int points = dialog.point_size > 0 ? dialog.point_size : 8;
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref_sink(window_);
    GtkStyleContext* style = gtk_widget_get_style_context(window_);
    gtk_style_context_add_class(style, "quarl-dialog");
    gtk_style_context_add_class(style, dialog_css_class(family, points).c_str());
    measure_font(family, points);

    gtk_window_set_title(GTK_WINDOW(window_), dialog.title ? dialog.title : "");
    gtk_window_set_modal(GTK_WINDOW(window_), TRUE);
    gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
    resizable_ = (dialog.style & kDlgResizable) != 0;
    gtk_window_set_resizable(GTK_WINDOW(window_), resizable_);
    if (owner && owner->native()) gtk_window_set_transient_for(GTK_WINDOW(window_), GTK_WINDOW(owner->native()));

    DialogRect size = to_pixels(dialog.rect);
    client_w_ = size.width;
    client_h_ = size.height;
    layout_ = gtk_layout_new(nullptr, nullptr);
    gtk_container_add(GTK_CONTAINER(window_), layout_);
    if (resizable_) gtk_window_set_default_size(GTK_WINDOW(window_), size.width, size.height);
    else gtk_widget_set_size_request(layout_, size.width, size.height);

    // Where Win32 puts a dialog whose procedure does not move it: the
    // template's position from the owner's corner (or the screen's).
    DialogRect origin = owner ? owner->rect() : screen_rect();
    x_ = origin.x + size.x;
    y_ = origin.y + size.y;
    gtk_window_move(GTK_WINDOW(window_), x_, y_);

    for (const ControlTemplate& t : dialog.controls) add_control(t);
    link_mnemonics();

    g_signal_connect(window_, "key-press-event", G_CALLBACK(on_key), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(on_delete), this);
    g_signal_connect(window_, "configure-event", G_CALLBACK(on_configure), this);
    g_signal_connect(layout_, "size-allocate", G_CALLBACK(on_layout_size), this);
  }

  ~TemplateDialog() override {
    ToolkitTurn turn;
    closing_ = true;
    procedure_ = nullptr;  // nothing reaches the procedure while the widgets go
    if (size_idle_) g_source_remove(size_idle_);
    gtk_widget_destroy(window_);
    g_object_unref(window_);
    gdk_display_flush(gdk_display_get_default());
  }

  intptr_t run(DialogProc procedure, intptr_t init) override {
    ToolkitTurn turn;
    if (!turn) return -1;
    procedure_ = procedure;
    intptr_t focus_default = send(kWmInitDialog, 0, init);
    if (ended_) return result_;
    if (focus_default != 0 && !focus_set_) {
      for (Control* c : tab_order())
        if (focusable(*c)) {
          gtk_widget_grab_focus(c->input);
          break;
        }
    }
    gtk_widget_show_all(window_);
    gtk_window_present(GTK_WINDOW(window_));
    shown_ = true;
    run_until(ended_);
    gtk_widget_hide(window_);
    return result_;
  }

  // DialogWindow
  std::string get_text(int id, size_t max_chars) override {
    Control* c = find(id);
    if (!c) return {};
    std::string text;
    switch (c->tmpl->kind) {
      case ControlKind::Edit:
        if (c->multi_line()) {
          GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(c->input));
          GtkTextIter start, end;
          gtk_text_buffer_get_bounds(buffer, &start, &end);
          gchar* all = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
          text = all;
          g_free(all);
        } else {
          text = gtk_entry_get_text(GTK_ENTRY(c->input));
        }
        break;
      case ControlKind::DropDownList: {
        gchar* active = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(c->input));
        if (active) text = active;
        g_free(active);
        break;
      }
      default:
        text = c->text;
    }
    return cut_text(std::move(text), max_chars);
  }

  void set_text(int id, std::string_view text) override {
    Control* c = find(id);
    if (!c) return;
    std::string value(text);
    // The toolkit shows UTF-8 only.
    if (!g_utf8_validate(value.data(), static_cast<gssize>(value.size()), nullptr)) {
      gchar* valid = g_utf8_make_valid(value.data(), static_cast<gssize>(value.size()));
      value = valid;
      g_free(valid);
    }
    switch (c->tmpl->kind) {
      case ControlKind::Edit: {
        // Setting the text is not the user's typing: the limit does not
        // apply, and EN_CHANGE comes once, as Win32 sends it.
        setting_text_ = true;
        if (c->multi_line()) {
          gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(c->input)), value.c_str(), -1);
        } else {
          gtk_entry_set_text(GTK_ENTRY(c->input), value.c_str());
        }
        setting_text_ = false;
        send(kWmCommand, make_command(id, kEnChange), 0);
        break;
      }
      case ControlKind::Label:
        c->text = value;
        gtk_label_set_text_with_mnemonic(GTK_LABEL(c->widget), gtk_mnemonic(value).c_str());
        break;
      case ControlKind::GroupBox:
        c->text = value;
        gtk_frame_set_label(GTK_FRAME(c->widget), value.c_str());
        break;
      case ControlKind::PushButton:
      case ControlKind::DefaultPushButton:
        c->text = value;
        gtk_button_set_label(GTK_BUTTON(c->widget), gtk_mnemonic(value).c_str());
        break;
      case ControlKind::DropDownList:
        break;
    }
  }

  void enable(int id, bool enable) override {
    if (Control* c = find(id)) gtk_widget_set_sensitive(c->widget, enable);
  }
  void limit_text(int id, size_t max_chars) override {
    if (Control* c = find(id)) c->limit = max_chars == 0 ? kDefaultEditLimit : max_chars;
  }
  int list_add(int id, std::string_view text) override {
    Control* c = find(id);
    if (!c || c->tmpl->kind != ControlKind::DropDownList) return -1;
    std::string value(text);
    GtkComboBoxText* combo = GTK_COMBO_BOX_TEXT(c->input);
    GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(combo));
    int count = gtk_tree_model_iter_n_children(model, nullptr);
    int at = count;
    if (c->tmpl->style & kCtlSorted) {
      at = 0;
      for (; at < count; ++at) {
        GtkTreeIter iter;
        gchar* entry = nullptr;
        gtk_tree_model_iter_nth_child(model, &iter, nullptr, at);
        gtk_tree_model_get(model, &iter, 0, &entry, -1);
        bool after = entry && g_strcmp0(entry, value.c_str()) > 0;
        g_free(entry);
        if (after) break;
      }
    }
    gtk_combo_box_text_insert_text(combo, at, value.c_str());
    return at;
  }
  void list_clear(int id) override {
    Control* c = find(id);
    if (!c || c->tmpl->kind != ControlKind::DropDownList) return;
    quiet_ = true;
    gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(c->input));
    quiet_ = false;
  }
  void list_select(int id, int index) override {
    Control* c = find(id);
    if (!c || c->tmpl->kind != ControlKind::DropDownList) return;
    GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(c->input));
    if (index >= gtk_tree_model_iter_n_children(model, nullptr)) index = -1;
    // A selection made by the procedure is no CBN_SELCHANGE.
    quiet_ = true;
    gtk_combo_box_set_active(GTK_COMBO_BOX(c->input), index < 0 ? -1 : index);
    quiet_ = false;
  }
  int list_selection(int id) override {
    Control* c = find(id);
    if (!c || c->tmpl->kind != ControlKind::DropDownList) return -1;
    return gtk_combo_box_get_active(GTK_COMBO_BOX(c->input));
  }
  void set_focus(int id) override {
    Control* c = find(id);
    if (!c || !c->input) return;
    focus_set_ = true;
    gtk_widget_grab_focus(c->input);
  }
  void select_all(int id) override {
    Control* c = find(id);
    if (!c || !c->input) return;
    if (c->multi_line()) {
      GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(c->input));
      GtkTextIter start, end;
      gtk_text_buffer_get_bounds(buffer, &start, &end);
      gtk_text_buffer_select_range(buffer, &start, &end);
    } else if (c->tmpl->kind == ControlKind::Edit) {
      gtk_editable_select_region(GTK_EDITABLE(c->input), 0, -1);
    }
  }
  void beep() override { gtk_widget_error_bell(window_); }
  void end(intptr_t result) override {
    if (ended_) return;
    result_ = result;
    ended_ = true;
    g_main_context_wakeup(nullptr);
  }
  DialogRect rect() override { return {x_, y_, client_w_, client_h_}; }
  void move(int x, int y) override {
    x_ = x;
    y_ = y;
    gtk_window_move(GTK_WINDOW(window_), x, y);
  }
  DialogHandle owner() override { return owner_; }
  void set_title(std::string_view title) override {
    gtk_window_set_title(GTK_WINDOW(window_), std::string(title).c_str());
  }
  DialogRect client() override { return {0, 0, client_w_, client_h_}; }
  void move_control(int id, const DialogRect& r) override {
    Control* c = find(id);
    if (!c) return;
    gtk_layout_move(GTK_LAYOUT(layout_), c->widget, r.x, r.y);
    gtk_widget_set_size_request(c->widget, std::max(r.width, 1), std::max(r.height, 1));
  }
  void set_caret(int id, size_t offset) override {
    Control* c = find(id);
    if (!c || c->tmpl->kind != ControlKind::Edit) return;
    if (c->multi_line()) {
      GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(c->input));
      std::string text = get_text(id, SIZE_MAX);
      GtkTextIter at;
      gtk_text_buffer_get_iter_at_offset(buffer, &at, static_cast<gint>(char_offset(text.c_str(), offset)));
      gtk_text_buffer_place_cursor(buffer, &at);
      gtk_text_view_scroll_to_mark(GTK_TEXT_VIEW(c->input), gtk_text_buffer_get_insert(buffer), 0.0, FALSE, 0, 0);
    } else {
      const char* text = gtk_entry_get_text(GTK_ENTRY(c->input));
      gtk_editable_set_position(GTK_EDITABLE(c->input), static_cast<gint>(char_offset(text, offset)));
    }
  }
  std::optional<WindowPlacement> placement() override {
    const bool maximized = gtk_window_is_maximized(GTK_WINDOW(window_));
    if (!maximized) remember_normal_rect();
    return placement_of(normal_, maximized);
  }
  void set_placement(const WindowPlacement& p) override {
    DialogRect screen = screen_rect();
    DialogRect r = restored_rect(p);
    // A rectangle off every screen, or without area, is not applied: the
    // window would be out of the user's reach.
    bool usable = r.width > 0 && r.height > 0 && r.x < screen.x + screen.width && r.y < screen.y + screen.height &&
                  r.x + r.width > screen.x && r.y + r.height > screen.y;
    if (usable) {
      r.width = std::min(r.width, screen.width);
      r.height = std::min(r.height, screen.height);
      move(r.x, r.y);
      if (resizable_) {
        gtk_window_resize(GTK_WINDOW(window_), r.width, r.height);
        client_w_ = r.width;
        client_h_ = r.height;
      }
      normal_ = {r.x, r.y, client_w_, client_h_};
    }
    // A modal dialog is never shown minimised: it could not be found again.
    if (p.show == kShowMaximized) gtk_window_maximize(GTK_WINDOW(window_));
    else gtk_window_unmaximize(GTK_WINDOW(window_));
  }
  void* native() override { return window_; }

 private:
  DialogHandle handle() { return static_cast<DialogWindow*>(this); }

  intptr_t send(unsigned message, uintptr_t wparam, intptr_t lparam) {
    return procedure_ ? procedure_(handle(), message, wparam, lparam) : 0;
  }

  void measure_font(const std::string& family, int points) {
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, family.c_str());
    pango_font_description_set_size(desc, points * PANGO_SCALE);
    PangoLayout* layout = gtk_widget_create_pango_layout(window_, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    pango_layout_set_font_description(layout, desc);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    PangoFontMetrics* metrics = pango_context_get_metrics(pango_layout_get_context(layout), desc, nullptr);
    int font_height = PANGO_PIXELS_CEIL(pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics));
    pango_font_metrics_unref(metrics);
    g_object_unref(layout);
    pango_font_description_free(desc);
    // As Windows derives a dialog's base units from its font: the average
    // width of the letters, and the font's height.
    base_x_ = std::max(1, (width / 26 + 1) / 2);
    base_y_ = std::max(1, font_height > 0 ? font_height : height);
  }

  DialogRect to_pixels(const DialogRect& units) const { return dialog_units_to_pixels(units, base_x_, base_y_); }

  void add_control(const ControlTemplate& t) {
    auto control = std::make_unique<Control>();
    Control* c = control.get();
    c->dialog = this;
    c->tmpl = &t;
    c->text = t.text ? t.text : "";
    DialogRect r = to_pixels(t.rect);
    switch (t.kind) {
      case ControlKind::Label:
        c->widget = gtk_label_new_with_mnemonic(gtk_mnemonic(c->text).c_str());
        gtk_label_set_xalign(GTK_LABEL(c->widget), 0.0f);
        gtk_label_set_yalign(GTK_LABEL(c->widget), 0.0f);
        gtk_label_set_line_wrap(GTK_LABEL(c->widget), TRUE);
        break;
      case ControlKind::GroupBox:
        c->widget = gtk_frame_new(c->text.c_str());
        break;
      case ControlKind::Edit:
        if (t.style & kCtlMultiLine) {
          c->input = gtk_text_view_new();
          gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(c->input), GTK_WRAP_WORD_CHAR);
          c->widget = gtk_scrolled_window_new(nullptr, nullptr);
          gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(c->widget), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
          gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(c->widget),
                                              (t.style & kCtlBorder) ? GTK_SHADOW_IN : GTK_SHADOW_NONE);
          gtk_container_add(GTK_CONTAINER(c->widget), c->input);
          GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(c->input));
          gtk_text_buffer_set_text(buffer, c->text.c_str(), -1);
          g_signal_connect(buffer, "insert-text", G_CALLBACK(on_buffer_insert), c);
          g_signal_connect(buffer, "changed", G_CALLBACK(on_edit_changed), c);
        } else {
          c->input = c->widget = gtk_entry_new();
          gtk_entry_set_width_chars(GTK_ENTRY(c->input), 1);
          gtk_entry_set_text(GTK_ENTRY(c->input), c->text.c_str());
          if (t.style & kCtlPassword) gtk_entry_set_visibility(GTK_ENTRY(c->input), FALSE);
          g_signal_connect(c->input, "insert-text", G_CALLBACK(on_entry_insert), c);
          g_signal_connect(c->input, "changed", G_CALLBACK(on_edit_changed), c);
        }
        break;
      case ControlKind::DropDownList: {
        c->input = c->widget = gtk_combo_box_text_new();
        // Long entries are cut short rather than widening the list.
        GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(c->input));
        for (GList* cell = cells; cell; cell = cell->next)
          g_object_set(cell->data, "ellipsize", PANGO_ELLIPSIZE_END, "width-chars", 1, nullptr);
        g_list_free(cells);
        r.height = std::min(r.height, to_pixels({0, 0, 0, kListClosedHeightUnits}).height);
        g_signal_connect(c->input, "changed", G_CALLBACK(on_list_changed), c);
        g_signal_connect(c->input, "notify::popup-shown", G_CALLBACK(on_list_popup), c);
        break;
      }
      case ControlKind::PushButton:
      case ControlKind::DefaultPushButton:
        c->input = c->widget = gtk_button_new_with_mnemonic(gtk_mnemonic(c->text).c_str());
        g_signal_connect(c->input, "clicked", G_CALLBACK(on_clicked), c);
        if (t.kind == ControlKind::DefaultPushButton) {
          gtk_widget_set_can_default(c->input, TRUE);
          gtk_window_set_default(GTK_WINDOW(window_), c->input);
        }
        break;
    }
    gtk_widget_set_size_request(c->widget, std::max(r.width, 1), std::max(r.height, 1));
    if (t.style & kCtlDisabled) gtk_widget_set_sensitive(c->widget, FALSE);
    if (t.style & kCtlHidden) gtk_widget_set_no_show_all(c->widget, TRUE);
    gtk_layout_put(GTK_LAYOUT(layout_), c->widget, r.x, r.y);
    controls_.push_back(std::move(control));
  }

  // A label's mnemonic moves the focus to the next control that takes it, as in Win32 dialogs.
  void link_mnemonics() {
    for (size_t i = 0; i < controls_.size(); ++i) {
      if (controls_[i]->tmpl->kind != ControlKind::Label) continue;
      for (size_t j = i + 1; j < controls_.size(); ++j)
        if (controls_[j]->input) {
          gtk_label_set_mnemonic_widget(GTK_LABEL(controls_[i]->widget), controls_[j]->input);
          break;
        }
    }
  }

  Control* find(int id) {
    for (auto& c : controls_)
      if (c->tmpl->id == id) return c.get();
    return nullptr;
  }

  std::vector<Control*> tab_order() {
    std::vector<Control*> order;
    for (auto& c : controls_)
      if (c->input) order.push_back(c.get());
    return order;
  }

  static bool focusable(const Control& c) {
    return c.input && gtk_widget_is_sensitive(c.widget) && !(c.tmpl->style & kCtlHidden);
  }

  Control* focused() {
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window_));
    for (auto& c : controls_)
      if (focus && c->input && (focus == c->input || gtk_widget_is_ancestor(focus, c->input))) return c.get();
    return nullptr;
  }

  void move_focus(bool forward) {
    std::vector<Control*> order = tab_order();
    if (order.empty()) return;
    Control* current = focused();
    size_t n = order.size();
    size_t at = n - 1;
    for (size_t i = 0; i < n; ++i)
      if (order[i] == current) at = i;
    if (!current && !forward) at = 0;
    for (size_t step = 1; step <= n; ++step) {
      Control* next = order[(at + (forward ? step : n - step)) % n];
      if (focusable(*next)) {
        gtk_widget_grab_focus(next->input);
        if (next->tmpl->kind == ControlKind::Edit) select_all(next->tmpl->id);
        return;
      }
    }
  }

  void press_enter() {
    Control* focus = focused();
    if (focus && focus->button()) {
      send(kWmCommand, make_command(focus->tmpl->id, kBnClicked), 0);
      return;
    }
    int id = kIdOk;
    Control* default_button = nullptr;
    for (auto& c : controls_)
      if (c->tmpl->kind == ControlKind::DefaultPushButton) {
        default_button = c.get();
        id = c->tmpl->id;
        break;
      }
    if (default_button && !gtk_widget_is_sensitive(default_button->widget)) {
      beep();
      return;
    }
    send(kWmCommand, make_command(id, kBnClicked), 0);
  }

  // Ctrl+Enter breaks the line in a multi-line edit (Enter means the default button).
  void break_line(Control& c) {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(c.input));
    gtk_text_buffer_delete_selection(buffer, TRUE, TRUE);
    gtk_text_buffer_insert_at_cursor(buffer, "\r\n", 2);
    gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(c.input), gtk_text_buffer_get_insert(buffer));
  }

  void remember_normal_rect() {
    if (!shown_) {
      normal_ = {x_, y_, client_w_, client_h_};
      return;
    }
    int x = 0, y = 0, w = 0, h = 0;
    gtk_window_get_position(GTK_WINDOW(window_), &x, &y);
    gtk_window_get_size(GTK_WINDOW(window_), &w, &h);
    normal_ = {x, y, w, h};
  }

  // Signal handlers.
  static gboolean on_key(GtkWidget*, GdkEventKey* event, TemplateDialog* self) {
    const guint modifiers = event->state & gtk_accelerator_get_default_mod_mask();
    switch (event->keyval) {
      case GDK_KEY_Escape:
        if (modifiers) return FALSE;
        self->send(kWmCommand, make_command(kIdCancel, kBnClicked), 0);
        return TRUE;
      case GDK_KEY_Return:
      case GDK_KEY_KP_Enter:
      case GDK_KEY_ISO_Enter: {
        Control* focus = self->focused();
        if ((modifiers & GDK_CONTROL_MASK) && focus && focus->multi_line()) {
          self->break_line(*focus);
          return TRUE;
        }
        if (modifiers & ~GDK_SHIFT_MASK) return FALSE;
        self->press_enter();
        return TRUE;
      }
      case GDK_KEY_Tab:
      case GDK_KEY_ISO_Left_Tab:
      case GDK_KEY_KP_Tab:
        if (modifiers & ~GDK_SHIFT_MASK) return FALSE;
        self->move_focus(event->keyval != GDK_KEY_ISO_Left_Tab && !(modifiers & GDK_SHIFT_MASK));
        return TRUE;
      default:
        return FALSE;
    }
  }

  static gboolean on_delete(GtkWidget*, GdkEvent*, TemplateDialog* self) {
    // The close box is Cancel; the procedure decides when the dialog ends.
    self->send(kWmCommand, make_command(kIdCancel, kBnClicked), 0);
    return TRUE;
  }

  static gboolean on_configure(GtkWidget*, GdkEventConfigure*, TemplateDialog* self) {
    if (self->shown_ && !gtk_window_is_maximized(GTK_WINDOW(self->window_))) {
      self->remember_normal_rect();
      self->x_ = self->normal_.x;
      self->y_ = self->normal_.y;
    }
    return FALSE;
  }

  static void on_layout_size(GtkWidget*, GdkRectangle* allocation, TemplateDialog* self) {
    if (self->closing_) return;
    if (allocation->width == self->client_w_ && allocation->height == self->client_h_ && self->sized_once_) return;
    self->client_w_ = allocation->width;
    self->client_h_ = allocation->height;
    self->sized_once_ = true;
    // The procedure moves controls in answer; that must wait until this allocation is over.
    if (!self->size_idle_) self->size_idle_ = g_idle_add(send_size, self);
  }

  static gboolean send_size(gpointer data) {
    auto* self = static_cast<TemplateDialog*>(data);
    self->size_idle_ = 0;
    auto lparam = static_cast<intptr_t>((static_cast<uint32_t>(self->client_h_ & 0xFFFF) << 16) |
                                        static_cast<uint32_t>(self->client_w_ & 0xFFFF));
    self->send(kWmSize, 0, lparam);
    return G_SOURCE_REMOVE;
  }

  // How much of an insertion the edit's limit lets in: nullopt for all of
  // it (the toolkit goes on); otherwise the insertion is stopped, the bell
  // rings, and the handler inserts the part that fits (perhaps nothing).
  static std::optional<size_t> limit_insertion(Control& c, gpointer source, const gchar* text, gint length,
                                               size_t used) {
    if (c.dialog->setting_text_) return std::nullopt;
    size_t n = length < 0 ? std::strlen(text) : static_cast<size_t>(length);
    size_t room = used >= c.limit ? 0 : c.limit - used;
    size_t fits = fitting_bytes(text, n, room);
    if (fits == n) return std::nullopt;
    g_signal_stop_emission_by_name(source, "insert-text");
    gtk_widget_error_bell(c.input);
    return fits;
  }

  static void on_entry_insert(GtkEditable* editable, const gchar* text, gint length, gint* position, Control* c) {
    auto fits = limit_insertion(*c, editable, text, length, std::strlen(gtk_entry_get_text(GTK_ENTRY(editable))));
    if (!fits || *fits == 0) return;
    g_signal_handlers_block_by_func(editable, reinterpret_cast<gpointer>(on_entry_insert), c);
    gtk_editable_insert_text(editable, text, static_cast<gint>(*fits), position);
    g_signal_handlers_unblock_by_func(editable, reinterpret_cast<gpointer>(on_entry_insert), c);
  }

  static void on_buffer_insert(GtkTextBuffer* buffer, GtkTextIter* location, gchar* text, gint length, Control* c) {
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar* all = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    size_t used = std::strlen(all);
    g_free(all);
    auto fits = limit_insertion(*c, buffer, text, length, used);
    if (!fits || *fits == 0) return;
    g_signal_handlers_block_by_func(buffer, reinterpret_cast<gpointer>(on_buffer_insert), c);
    gtk_text_buffer_insert(buffer, location, text, static_cast<gint>(*fits));
    g_signal_handlers_unblock_by_func(buffer, reinterpret_cast<gpointer>(on_buffer_insert), c);
  }

  static void on_edit_changed(gpointer, Control* c) {
    if (c->dialog->setting_text_) return;  // set_text sends its one EN_CHANGE
    c->dialog->send(kWmCommand, make_command(c->tmpl->id, kEnChange), 0);
  }

  static void on_list_changed(GtkComboBox*, Control* c) {
    if (c->dialog->quiet_) return;
    c->dialog->send(kWmCommand, make_command(c->tmpl->id, kCbnSelChange), 0);
  }

  static void on_list_popup(GObject* combo, GParamSpec*, Control* c) {
    gboolean shown = FALSE;
    g_object_get(combo, "popup-shown", &shown, nullptr);
    if (shown) c->dialog->send(kWmCommand, make_command(c->tmpl->id, kCbnDropDown), 0);
  }

  static void on_clicked(GtkButton*, Control* c) {
    c->dialog->send(kWmCommand, make_command(c->tmpl->id, kBnClicked), 0);
  }

  DialogWindow* owner_;
  GtkWidget* window_ = nullptr;
  GtkWidget* layout_ = nullptr;
  std::vector<std::unique_ptr<Control>> controls_;
  DialogProc procedure_ = nullptr;
  int base_x_ = kBaseUnitX, base_y_ = kBaseUnitY;
  int x_ = 0, y_ = 0, client_w_ = 0, client_h_ = 0;
  DialogRect normal_{};
  bool resizable_ = false;
  bool shown_ = false;
  bool sized_once_ = false;
  bool focus_set_ = false;
  bool setting_text_ = false;
  bool quiet_ = false;
  bool ended_ = false;
  bool closing_ = false;
  intptr_t result_ = kIdCancel;
  guint size_idle_ = 0;
};

}  // namespace

std::unique_ptr<DesktopDialog> make_template_dialog(const DialogTemplate& dialog, DialogWindow* owner) {
  ToolkitTurn turn;
  if (!turn) return nullptr;
  return std::make_unique<TemplateDialog>(dialog, owner);
}

}  // namespace quarl::platform::gtk
