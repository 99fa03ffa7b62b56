// Small desktop services: a fixed-format local time stamp, and tests for and
// creation of files and folders.
#pragma once

#include <string>

#include "common/platform/system.h"
#include "rpc/buffer.h"
#include "rpc/error_text.h"

namespace quarl::rpc {

// Year (4 digits), day of the year (3), seconds since midnight (5) and
// milliseconds (3): 15 characters.
std::string format_time_stamp(const platform::LocalTime& time);

class FilesAndTime {
 public:
  explicit FilesAndTime(ErrorText& error) : error_(error) {}

  Status get_time_stamp(Buffer buffer);
  Status file_exists(Buffer buffer);
  Status folder_exists(Buffer buffer);
  Status create_folder(Buffer buffer);

 private:
  ErrorText& error_;
};

}  // namespace quarl::rpc
