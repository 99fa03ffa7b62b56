// Documents and addresses opened with the desktop's handlers through GIO:
// the application the desktop associates with the file's type (its
// mimeapps.list and .desktop files), started without waiting for it.
#include <string>

#include "common/platform/gtk/gtk_backend.h"

namespace quarl::platform::gtk {
namespace {

int code_of(const GError* error) {
  if (error && error->domain == G_IO_ERROR) {
    if (error->code == G_IO_ERROR_NOT_FOUND) return kShellFileNotFound;
    if (error->code == G_IO_ERROR_PERMISSION_DENIED) return kShellAccessDenied;
  }
  return kShellNoAssociation;
}

}  // namespace

int open_document(const std::string& path_or_uri, const std::string& fragment) {
  GdkAppLaunchContext* context = gdk_display_get_app_launch_context(gdk_display_get_default());
  GError* error = nullptr;
  int result = kShellOk;
  if (!g_path_is_absolute(path_or_uri.c_str())) {
    if (!g_app_info_launch_default_for_uri(path_or_uri.c_str(), G_APP_LAUNCH_CONTEXT(context), &error))
      result = code_of(error);
  } else {
    GFile* file = g_file_new_for_path(path_or_uri.c_str());
    GAppInfo* app = g_file_query_default_handler(file, nullptr, &error);
    if (!app) {
      result = code_of(error);
    } else if (!fragment.empty() && g_app_info_supports_uris(app)) {
      // An anchor travels only in an address.
      gchar* uri = g_file_get_uri(file);
      gchar* anchor = g_uri_escape_string(fragment.c_str(), nullptr, TRUE);
      std::string address = std::string(uri) + "#" + anchor;
      g_free(anchor);
      g_free(uri);
      GList uris{const_cast<gchar*>(address.c_str()), nullptr, nullptr};
      if (!g_app_info_launch_uris(app, &uris, G_APP_LAUNCH_CONTEXT(context), &error)) result = code_of(error);
    } else {
      GList files{file, nullptr, nullptr};
      if (!g_app_info_launch(app, &files, G_APP_LAUNCH_CONTEXT(context), &error)) result = code_of(error);
    }
    if (app) g_object_unref(app);
    g_object_unref(file);
  }
  if (error) g_error_free(error);
  g_object_unref(context);
  return result;
}

}  // namespace quarl::platform::gtk
