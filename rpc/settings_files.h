// Keys of settings files for clients: a file named without a folder lives
// in the profile directory, beside "quarl.ini".
#pragma once

#include "rpc/buffer.h"
#include "rpc/error_text.h"

namespace quarl::rpc {

class SettingsFiles {
 public:
  explicit SettingsFiles(ErrorText& error) : error_(error) {}

  // file, section, key, then the rest of the buffer is the value.  An empty
  // value removes the key, an empty key the whole section.
  Status put_ini_file_param(Buffer buffer);
  // file, section, key, then the rest is the default.  An empty section
  // lists the sections, an empty key the keys of the section (names
  // separated by zero bytes).
  Status get_ini_file_param(Buffer buffer);

 private:
  ErrorText& error_;
};

}  // namespace quarl::rpc
