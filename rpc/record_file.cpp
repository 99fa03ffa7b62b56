#include "rpc/record_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace quarl::rpc {
namespace fs = std::filesystem;

int file_cause(int system_error) {
  switch (system_error) {
    case ENOENT:
      return kCauseFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return kCauseBadPath;
    case EMFILE:
    case ENFILE:
      return kCauseTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY:
      return kCauseAccessDenied;
    case EIO:
      return kCauseHardwareIo;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kCauseDiskFull;
    default:
      return kCauseGeneric;
  }
}

int RecordFile::open(const std::string& path, Mode mode) {
  close();
  std::error_code ec;
  if (mode == Mode::Read && fs::is_directory(path, ec)) return kCauseAccessDenied;
  errno = 0;
  std::FILE* f = std::fopen(path.c_str(), mode == Mode::Read ? "rb" : mode == Mode::Write ? "wb" : "ab");
  if (!f) {
    int err = errno;
    if (err != ENOENT) return file_cause(err);
    // A missing file in an existing folder is "not found"; a missing folder
    // (or, when creating, any ENOENT) is a bad path.
    fs::path parent = fs::path(path).parent_path();
    if (mode != Mode::Read || (!parent.empty() && !fs::is_directory(parent, ec))) return kCauseBadPath;
    return kCauseFileNotFound;
  }
  file_.reset(f);
  pos_ = end_ = 0;
  return 0;
}

int RecordFile::close() {
  if (!file_) return 0;
  errno = 0;
  int result = std::fclose(file_.release());
  buffer_.clear();
  buffer_.shrink_to_fit();
  pos_ = end_ = 0;
  return result == 0 ? 0 : file_cause(errno);
}

RecordFile::Read RecordFile::read_line(size_t keep, Line& line, int& cause) {
  line.head.clear();
  line.trimmed_length = 0;
  if (!file_) {
    cause = kCauseGeneric;
    return Read::Error;
  }
  if (buffer_.empty()) buffer_.resize(64 * 1024);
  size_t length = 0;
  bool any = false, ended = false;
  char last = 0;
  while (!ended) {
    if (pos_ == end_) {
      errno = 0;
      size_t n = std::fread(buffer_.data(), 1, buffer_.size(), file_.get());
      if (n == 0) {
        if (std::ferror(file_.get())) {
          cause = file_cause(errno ? errno : EIO);
          std::clearerr(file_.get());
          return Read::Error;
        }
        if (!any) return Read::End;
        break;  // a last line without a line feed
      }
      pos_ = 0;
      end_ = n;
    }
    any = true;
    const char* start = buffer_.data() + pos_;
    size_t avail = end_ - pos_;
    const char* lf = static_cast<const char*>(std::memchr(start, '\n', avail));
    size_t seg = lf ? size_t(lf - start) : avail;
    if (line.head.size() < keep) line.head.append(start, std::min(seg, keep - line.head.size()));
    for (size_t i = seg; i > 0; --i) {
      if (!is_trim_space(start[i - 1])) {
        line.trimmed_length = length + i;
        break;
      }
    }
    if (seg > 0) last = start[seg - 1];
    length += seg;
    pos_ += seg;
    if (lf) {
      ++pos_;
      ended = true;
    }
  }
  // Text mode: the carriage return of a line end is not part of the line.
  if (ended && length > 0 && last == '\r') {
    --length;
    if (line.head.size() > length) line.head.resize(length);
  }
  return Read::Line;
}

int RecordFile::write(std::string_view bytes) {
  if (!file_) return kCauseGeneric;
  if (bytes.empty()) return 0;
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size()) return file_cause(errno ? errno : EIO);
  return 0;
}

int RecordFile::write_blanks(size_t count) {
  static const std::string kBlanks(4096, ' ');
  while (count > 0) {
    size_t n = std::min(count, kBlanks.size());
    if (int cause = write(std::string_view(kBlanks).substr(0, n))) return cause;
    count -= n;
  }
  return 0;
}

int RecordFile::write_line(std::string_view text) {
  size_t from = 0;
  for (size_t lf; (lf = text.find('\n', from)) != std::string_view::npos; from = lf + 1) {
    if (int cause = write(text.substr(from, lf - from))) return cause;
    if (int cause = write("\r\n")) return cause;
  }
  if (int cause = write(text.substr(from))) return cause;
  return write("\r\n");
}

}  // namespace quarl::rpc
