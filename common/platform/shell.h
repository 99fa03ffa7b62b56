// Opening documents and addresses with the desktop's handlers (the program
// the desktop associates with the file's type, e.g. a browser for HTML and
// a viewer for PDF).
#pragma once

#include <string>
#include <string_view>

namespace quarl::platform {

// Whether text is an address with a scheme ("https://...", "mailto:...")
// rather than a path.
bool is_uri(std::string_view text);

// Opens a path (relative to the current folder) or an address; fragment is
// an anchor within the document for handlers that take addresses (empty for
// none).  kShellOk (0), or kShellFileNotFound, kShellPathNotFound,
// kShellAccessDenied, kShellNoAssociation (no handler, or no display).
int open_document(std::string_view target, std::string_view fragment = {});

}  // namespace quarl::platform
