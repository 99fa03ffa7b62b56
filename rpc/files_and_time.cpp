#include "rpc/files_and_time.h"

#include <fmt/format.h>

#include <filesystem>

namespace quarl::rpc {
namespace fs = std::filesystem;

std::string format_time_stamp(const platform::LocalTime& t) {
  return fmt::format("{:04d}{:03d}{:05d}{:03d}", t.year, t.day_of_year, t.hour * 3600 + t.minute * 60 + t.second,
                     t.millisecond);
}

Status FilesAndTime::get_time_stamp(Buffer buffer) {
  buffer.put(format_time_stamp(platform::local_time_now()));
  return kOk;
}

// The path operations take the whole buffer less trailing blanks (commas
// included) and blank it before they look at the path.
Status FilesAndTime::file_exists(Buffer buffer) {
  std::string path(buffer.text());
  buffer.blank();
  std::error_code ec;
  auto status = fs::status(path, ec);
  if (!fs::exists(status)) return error_.fail(fmt::format("File {} does not exist", path));
  if (fs::is_directory(status)) return error_.fail(fmt::format("{} is a folder", path));
  return kOk;
}

Status FilesAndTime::folder_exists(Buffer buffer) {
  std::string path(buffer.text());
  buffer.blank();
  std::error_code ec;
  auto status = fs::status(path, ec);
  if (!fs::exists(status)) return error_.fail(fmt::format("Folder {} does not exist", path));
  if (!fs::is_directory(status)) return error_.fail(fmt::format("{} is not a folder", path));
  return kOk;
}

Status FilesAndTime::create_folder(Buffer buffer) {
  std::string path(buffer.text());
  buffer.blank();
  // One level; an existing folder is a failure, as creating it again fails.
  std::error_code ec;
  if (path.empty() || !fs::create_directory(path, ec) || ec)
    return error_.fail(fmt::format("Cannot create folder {}", path));
  return kOk;
}

}  // namespace quarl::rpc
