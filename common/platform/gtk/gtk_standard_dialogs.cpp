// The open- and save-file, colour and font dialogs.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "common/platform/gtk/gtk_backend.h"
#include "common/platform/msgbox.h"

namespace quarl::platform::gtk {
namespace {

// Runs a dialog until the user answers it; the response.  Escape and the
// close box answer GTK_RESPONSE_DELETE_EVENT and leave the dialog alive.
gint run_dialog(GtkWidget* dialog) {
  struct State {
    gint response = GTK_RESPONSE_NONE;
    bool done = false;
  } state;
  g_object_ref(dialog);
  gulong on_response = g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog*, gint response, State* s) {
                                          s->response = response;
                                          s->done = true;
                                        }),
                                        &state);
  gulong on_delete = g_signal_connect(dialog, "delete-event",
                                      G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean { return TRUE; }),
                                      nullptr);
  gulong on_destroy = g_signal_connect(dialog, "destroy", G_CALLBACK(+[](GtkWidget*, State* s) { s->done = true; }),
                                       &state);
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  gtk_widget_show_all(dialog);
  gtk_window_present(GTK_WINDOW(dialog));
  run_until(state.done);
  g_signal_handler_disconnect(dialog, on_response);
  g_signal_handler_disconnect(dialog, on_delete);
  g_signal_handler_disconnect(dialog, on_destroy);
  g_object_unref(dialog);
  return state.response;
}

// Enter confirms what is chosen, wherever the focus is (in the colour and
// font dialogs Enter would otherwise choose the swatch or row under the
// focus, which starts on the first one rather than on the initial choice).
void enter_confirms(GtkWidget* dialog, gint response) {
  g_object_set_data(G_OBJECT(dialog), "quarl-enter-response", GINT_TO_POINTER(response));
  g_signal_connect(dialog, "key-press-event", G_CALLBACK(+[](GtkWidget* widget, GdkEventKey* event, gpointer) -> gboolean {
                     const guint modifiers = event->state & gtk_accelerator_get_default_mod_mask();
                     if (modifiers != 0) return FALSE;
                     if (event->keyval != GDK_KEY_Return && event->keyval != GDK_KEY_KP_Enter &&
                         event->keyval != GDK_KEY_ISO_Enter)
                       return FALSE;
                     gint response = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(widget), "quarl-enter-response"));
                     // Nothing happens while there is nothing to confirm.
                     GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(widget), response);
                     if (button && gtk_widget_is_sensitive(button)) gtk_dialog_response(GTK_DIALOG(widget), response);
                     return TRUE;
                   }),
                   nullptr);
}

// Selects a file of the open dialog and waits (a few seconds at most) until
// the dialog has read the folder and shows it selected, so that Enter at
// once opens it.
void select_before_showing(GtkFileChooser* chooser, const std::string& path) {
  constexpr guint kBoundMilliseconds = 5000;
  struct Wait {
    std::string path;
    bool done = false;
  } wait{path};
  gulong selected = g_signal_connect(chooser, "selection-changed", G_CALLBACK(+[](GtkFileChooser* c, Wait* w) {
                                       gchar* now = gtk_file_chooser_get_filename(c);
                                       if (now && w->path == now) w->done = true;
                                       g_free(now);
                                     }),
                                     &wait);
  guint timeout = g_timeout_add(kBoundMilliseconds, +[](gpointer w) -> gboolean {
    static_cast<Wait*>(w)->done = true;
    return G_SOURCE_REMOVE;
  }, &wait);
  gtk_file_chooser_select_filename(chooser, path.c_str());
  run_until(wait.done);
  g_signal_handler_disconnect(chooser, selected);
  // The timeout may have ended the wait; otherwise it is no longer wanted.
  GSource* source = g_main_context_find_source_by_id(nullptr, timeout);
  if (source && !g_source_is_destroyed(source)) g_source_remove(timeout);
}

void close_dialog(GtkWidget* dialog) {
  gtk_widget_destroy(dialog);
  gdk_display_flush(gdk_display_get_default());
}

bool has_extension(const std::string& name) {
  std::string base = name.substr(name.rfind('/') + 1);
  size_t dot = base.rfind('.');
  return dot != std::string::npos && dot > 0;
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// The filter: names ending in "." + the extension, without regard to case,
// as the Windows file dialogs match; with no extension, names without one.
gboolean filter_matches(const GtkFileFilterInfo* info, gpointer data) {
  const char* extension = static_cast<const char*>(data);
  const char* name = info->display_name ? info->display_name : info->filename;
  if (!name) return FALSE;
  std::string base = name;
  base = base.substr(base.rfind('/') + 1);
  if (!*extension) return base.find('.') == std::string::npos;
  std::string suffix = std::string(".") + extension;
  return base.size() > suffix.size() &&
         g_ascii_strcasecmp(base.c_str() + base.size() - suffix.size(), suffix.c_str()) == 0;
}

int to_byte(double component) { return static_cast<int>(std::lround(std::clamp(component, 0.0, 1.0) * 255.0)); }

GdkRGBA to_rgba(const Rgb& c) {
  return GdkRGBA{c.red / 255.0, c.green / 255.0, c.blue / 255.0, 1.0};
}

Rgb from_rgba(const GdkRGBA& c) { return {to_byte(c.red), to_byte(c.green), to_byte(c.blue)}; }

// The face the desktop shows for a wish (a face name that is not installed
// gets its substitute, "italic" the family's oblique face), in the form the
// font chooser lists it; null when none is found.
PangoFontDescription* installed_face(GtkWidget* widget, const PangoFontDescription* wish) {
  PangoContext* context = gtk_widget_get_pango_context(widget);
  PangoFont* font = pango_context_load_font(context, wish);
  if (!font) return nullptr;
  PangoFontDescription* loaded = pango_font_describe(font);
  g_object_unref(font);
  PangoFontFamily** families = nullptr;
  int count = 0;
  pango_context_list_families(context, &families, &count);
  PangoFontFace* best = nullptr;
  PangoFontDescription* best_desc = nullptr;
  for (int i = 0; i < count; ++i) {
    if (g_ascii_strcasecmp(pango_font_family_get_name(families[i]), pango_font_description_get_family(loaded)) != 0)
      continue;
    PangoFontFace** faces = nullptr;
    int face_count = 0;
    pango_font_family_list_faces(families[i], &faces, &face_count);
    for (int j = 0; j < face_count; ++j) {
      PangoFontDescription* candidate = pango_font_face_describe(faces[j]);
      if (!best || pango_font_description_better_match(wish, best_desc, candidate)) {
        if (best_desc) pango_font_description_free(best_desc);
        best = faces[j];
        best_desc = candidate;
      } else {
        pango_font_description_free(candidate);
      }
    }
    g_free(faces);
    break;
  }
  g_free(families);
  pango_font_description_free(loaded);
  return best_desc;
}

}  // namespace

std::optional<std::string> run_file_dialog(const FileDialogRequest& request) {
  const GtkFileChooserAction action = request.save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN;
  std::string title = !request.title.empty() ? request.title : request.save ? "Save As" : "Open";
  GtkWidget* dialog = gtk_file_chooser_dialog_new(title.c_str(), nullptr, action, "_Cancel", GTK_RESPONSE_CANCEL,
                                                  request.save ? "_Save" : "_Open", GTK_RESPONSE_ACCEPT, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
  gtk_file_chooser_set_local_only(chooser, TRUE);

  // The one filter the caller describes.
  GtkFileFilter* filter = gtk_file_filter_new();
  gtk_file_filter_set_name(filter, request.filter_name.c_str());
  gchar* extension = g_strdup(request.extension.c_str());
  gtk_file_filter_add_custom(filter, GTK_FILE_FILTER_DISPLAY_NAME, filter_matches, extension, g_free);
  gtk_file_chooser_add_filter(chooser, filter);
  gtk_file_chooser_set_filter(chooser, filter);

  std::string directory = request.directory;
  if (directory.empty()) {
    gchar* cwd = g_get_current_dir();
    directory = cwd;
    g_free(cwd);
  }
  gtk_file_chooser_set_current_folder(chooser, directory.c_str());
  if (!request.file_name.empty()) {
    std::string initial = g_path_is_absolute(request.file_name.c_str()) ? request.file_name
                                                                        : directory + "/" + request.file_name;
    if (request.save) {
      if (request.file_name.find('/') == std::string::npos) gtk_file_chooser_set_current_name(chooser, request.file_name.c_str());
      else gtk_file_chooser_set_filename(chooser, initial.c_str());
    } else if (exists(initial)) {
      select_before_showing(chooser, initial);
    }
  }

  std::optional<std::string> chosen;
  while (!chosen) {
    if (run_dialog(dialog) != GTK_RESPONSE_ACCEPT) break;
    gchar* name = gtk_file_chooser_get_filename(chooser);
    if (!name) continue;
    std::string path = name;
    g_free(name);
    // The default extension goes to a name typed without one.
    if (!request.extension.empty() && !has_extension(path) && (request.save || !exists(path)))
      path += "." + request.extension;
    if (!request.save && !exists(path)) {
      std::string text = path + "\nFile not found.\nCheck the file name and try again.";
      show_message_box(GTK_WINDOW(dialog), text, title, kMbOk | kMbIconExclamation);
      continue;
    }
    // Replacing a file is asked about here, as Windows asks, whether the
    // name was typed whole, completed by the dialog or given its extension.
    if (request.save && exists(path)) {
      std::string text = path + " already exists.\nDo you want to replace it?";
      if (show_message_box(GTK_WINDOW(dialog), text, "Confirm Save As", kMbYesNo | kMbIconExclamation) != kIdYes)
        continue;
    }
    chosen = path;
  }
  close_dialog(dialog);
  return chosen;
}

std::optional<Rgb> run_color_dialog(const Rgb& initial) {
  GtkWidget* dialog = gtk_color_chooser_dialog_new("Color", nullptr);
  GtkColorChooser* chooser = GTK_COLOR_CHOOSER(dialog);
  gtk_color_chooser_set_use_alpha(chooser, FALSE);
  GdkRGBA start = to_rgba(initial);
  gtk_color_chooser_set_rgba(chooser, &start);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  enter_confirms(dialog, GTK_RESPONSE_OK);
  std::optional<Rgb> chosen;
  if (run_dialog(dialog) == GTK_RESPONSE_OK) {
    GdkRGBA c;
    gtk_color_chooser_get_rgba(chooser, &c);
    chosen = from_rgba(c);
  }
  close_dialog(dialog);
  return chosen;
}

std::optional<FontChoice> run_font_dialog(const FontChoice& initial) {
  // The chooser's list names Pango's types before anything has registered them.
  g_type_ensure(PANGO_TYPE_FONT_FAMILY);
  g_type_ensure(PANGO_TYPE_FONT_FACE);
  GtkWidget* dialog = gtk_font_chooser_dialog_new("Font", nullptr);
  enter_confirms(dialog, GTK_RESPONSE_OK);
  GtkFontChooser* chooser = GTK_FONT_CHOOSER(dialog);
  PangoFontDescription* desc = pango_font_description_new();
  pango_font_description_set_family(desc, initial.face.c_str());
  if (initial.points > 0) pango_font_description_set_size(desc, initial.points * PANGO_SCALE);
  pango_font_description_set_weight(desc, static_cast<PangoWeight>(initial.weight));
  pango_font_description_set_style(desc, initial.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  if (PangoFontDescription* face = installed_face(dialog, desc)) {
    if (initial.points > 0) pango_font_description_set_size(face, initial.points * PANGO_SCALE);
    gtk_font_chooser_set_font_desc(chooser, face);
    pango_font_description_free(face);
  } else {
    gtk_font_chooser_set_font_desc(chooser, desc);
  }
  pango_font_description_free(desc);

  // The effects of the Windows font dialog: strike-out, underline and colour.
  GtkWidget* effects = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  gtk_container_set_border_width(GTK_CONTAINER(effects), 6);
  GtkWidget* strike_out = gtk_check_button_new_with_mnemonic("Stri_keout");
  GtkWidget* underline = gtk_check_button_new_with_mnemonic("_Underline");
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(strike_out), initial.strike_out);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(underline), initial.underline);
  GdkRGBA color = to_rgba(initial.color);
  GtkWidget* color_button = gtk_color_button_new_with_rgba(&color);
  gtk_color_chooser_set_use_alpha(GTK_COLOR_CHOOSER(color_button), FALSE);
  GtkWidget* color_label = gtk_label_new_with_mnemonic("C_olor:");
  gtk_label_set_mnemonic_widget(GTK_LABEL(color_label), color_button);
  gtk_box_pack_start(GTK_BOX(effects), strike_out, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(effects), underline, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(effects), color_label, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(effects), color_button, FALSE, FALSE, 0);
  gtk_box_pack_end(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), effects, FALSE, FALSE, 0);

  std::optional<FontChoice> chosen;
  if (run_dialog(dialog) == GTK_RESPONSE_OK) {
    PangoFontDescription* font = gtk_font_chooser_get_font_desc(chooser);
    if (font) {
      FontChoice c;
      const char* family = pango_font_description_get_family(font);
      c.face = family ? family : "";
      // Whole points, the fraction dropped, as the tenths of the Windows dialog divided by 10.
      c.points = pango_font_description_get_size(font) * 10 / PANGO_SCALE / 10;
      c.weight = static_cast<int>(pango_font_description_get_weight(font));
      c.italic = pango_font_description_get_style(font) != PANGO_STYLE_NORMAL;
      c.strike_out = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(strike_out));
      c.underline = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(underline));
      GdkRGBA picked;
      gtk_color_chooser_get_rgba(GTK_COLOR_CHOOSER(color_button), &picked);
      c.color = from_rgba(picked);
      chosen = c;
      pango_font_description_free(font);
    }
  }
  close_dialog(dialog);
  return chosen;
}

}  // namespace quarl::platform::gtk
