// Message boxes from Win32 styles: the buttons of the style's type, its icon
// and default button; Escape (and the close box) answer only where the box
// has a Cancel button, or an OK button alone, as in Win32; a button's
// underlined letter presses it without Alt.
#include <string>
#include <vector>

#include "common/platform/gtk/gtk_backend.h"
#include "common/platform/msgbox.h"

namespace quarl::platform::gtk {
namespace {

// The further answers of the Cancel, Try Again, Continue box.
constexpr int kIdTryAgain = 10, kIdContinue = 11;

struct Button {
  const char* label;
  int id;
};

std::vector<Button> buttons_of(unsigned type) {
  switch (type) {
    case kMbOk: return {{"OK", kIdOk}};
    case kMbOkCancel: return {{"OK", kIdOk}, {"Cancel", kIdCancel}};
    case kMbAbortRetryIgnore: return {{"_Abort", kIdAbort}, {"_Retry", kIdRetry}, {"_Ignore", kIdIgnore}};
    case kMbYesNoCancel: return {{"_Yes", kIdYes}, {"_No", kIdNo}, {"Cancel", kIdCancel}};
    case kMbYesNo: return {{"_Yes", kIdYes}, {"_No", kIdNo}};
    case kMbRetryCancel: return {{"_Retry", kIdRetry}, {"Cancel", kIdCancel}};
    case 6: return {{"Cancel", kIdCancel}, {"_Try Again", kIdTryAgain}, {"_Continue", kIdContinue}};
    default: return {};
  }
}

const char* icon_of(unsigned icon) {
  switch (icon) {
    case kMbIconError: return "dialog-error";
    case kMbIconQuestion: return "dialog-question";
    case kMbIconExclamation: return "dialog-warning";
    case kMbIconInformation: return "dialog-information";
    default: return nullptr;
  }
}

std::string valid_utf8(std::string_view text) {
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return std::string(text);
  gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string out = valid;
  g_free(valid);
  return out;
}

struct Answer {
  int id = 0;
  bool done = false;
  int escape = 0;  // what Escape and the close box answer; 0: nothing
};

}  // namespace

int show_message_box(GtkWindow* parent, std::string_view text, std::string_view caption, unsigned style) {
  std::vector<Button> buttons = buttons_of(style & kMbTypeMask);
  if (buttons.empty()) return 0;  // a style Win32 refuses too
  Answer answer;
  for (const Button& b : buttons)
    if (b.id == kIdCancel) answer.escape = kIdCancel;
  if ((style & kMbTypeMask) == kMbOk) answer.escape = kIdOk;

  GtkWidget* dialog = gtk_dialog_new();
  g_object_ref_sink(dialog);
  GtkWindow* window = GTK_WINDOW(dialog);
  gtk_window_set_title(window, valid_utf8(caption).c_str());
  gtk_window_set_modal(window, TRUE);
  gtk_window_set_resizable(window, FALSE);
  gtk_window_set_deletable(window, answer.escape != 0);
  gtk_window_set_mnemonic_modifier(window, static_cast<GdkModifierType>(0));
  if (parent) {
    gtk_window_set_transient_for(window, parent);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER_ON_PARENT);
  } else {
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
  }
  if (style & (kMbSystemModal | kMbTopmost)) gtk_window_set_keep_above(window, TRUE);
  if (style & kMbRtlReading) gtk_widget_set_direction(dialog, GTK_TEXT_DIR_RTL);

  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  gtk_container_set_border_width(GTK_CONTAINER(row), 12);
  if (const char* icon = icon_of(style & kMbIconMask)) {
    GtkWidget* image = gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_DIALOG);
    gtk_widget_set_valign(image, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
  }
  GtkWidget* label = gtk_label_new(valid_utf8(text).c_str());
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
  const bool right = (style & kMbRight) != 0;
  gtk_label_set_xalign(GTK_LABEL(label), right ? 1.0f : 0.0f);
  gtk_label_set_justify(GTK_LABEL(label), right ? GTK_JUSTIFY_RIGHT : GTK_JUSTIFY_LEFT);
  gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), row, TRUE, TRUE, 0);

  size_t default_index = (style & kMbDefMask) >> 8;
  if (default_index >= buttons.size()) default_index = 0;
  GtkWidget* default_button = nullptr;
  for (size_t i = 0; i < buttons.size(); ++i) {
    GtkWidget* button = gtk_dialog_add_button(GTK_DIALOG(dialog), buttons[i].label, buttons[i].id);
    if (i == default_index) default_button = button;
  }
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), buttons[default_index].id);

  g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog*, gint response, Answer* a) {
                     if (response > 0) a->id = response;
                     else if (a->escape) a->id = a->escape;  // Escape, or the close box
                     else return;
                     a->done = true;
                   }),
                   &answer);
  g_signal_connect(dialog, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) { return TRUE; }), nullptr);

  gtk_widget_show_all(dialog);
  gtk_widget_grab_focus(default_button);
  gtk_window_present(window);
  run_until(answer.done);
  gtk_widget_destroy(dialog);
  g_object_unref(dialog);
  gdk_display_flush(gdk_display_get_default());
  return answer.id;
}

}  // namespace quarl::platform::gtk
